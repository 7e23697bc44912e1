// platform/linux/sound_player.cpp: the sound device (PulseAudio, else SDL2) and WAV sounds played
// without holding up the game.
#include "platform/linux/sound_player.h"

#include <SDL.h>
#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/linux/thread_signals.h"

namespace tw {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// How long a sound server may take to accept a connection or a stream, and how long a machine
// without one waits before it is asked again.
constexpr auto kAnswerLimit = std::chrono::milliseconds(1000);
// A server that is not there refuses at once, so asking again each second costs nothing and
// finds a restarted one for the next words.
constexpr auto kRetryOpen = std::chrono::seconds(1);

std::atomic<int> gOpenOutputs{0};

int framesFromEnvironment(int fallback) {
    if (const char* frames = std::getenv("TW_AUDIO_FRAMES")) {
        const int n = std::atoi(frames);
        if (n >= 16 && n <= 16384) return n;
    }
    return fallback;
}

// Waits, polling, until done() says yes (1) or no (-1), or the limit passes (no).
bool waitFor(const std::function<int()>& done) {
    for (const auto until = Clock::now() + kAnswerLimit; Clock::now() < until;) {
        if (const int state = done()) return state > 0;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

// --- PulseAudio -----------------------------------------------------------------------------

// One connection to the server for the whole process, kept while it works, so that opening a
// stream after a silence is quick. Streams keep a share of it.
struct PulseLink {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

    ~PulseLink() {
        if (context) {
            pa_threaded_mainloop_lock(loop);
            pa_context_disconnect(context);
            pa_threaded_mainloop_unlock(loop);
        }
        if (loop) pa_threaded_mainloop_stop(loop);
        if (context) pa_context_unref(context);
        if (loop) pa_threaded_mainloop_free(loop);
    }
    bool ready() {
        pa_threaded_mainloop_lock(loop);
        const bool ok = pa_context_get_state(context) == PA_CONTEXT_READY;
        pa_threaded_mainloop_unlock(loop);
        return ok;
    }
};

std::mutex gPulseMutex;
std::shared_ptr<PulseLink> gPulse;
Clock::time_point gPulseRetry{};

std::shared_ptr<PulseLink> pulseLink() {
    std::lock_guard<std::mutex> lock(gPulseMutex);
    if (gPulse && gPulse->ready()) return gPulse;
    gPulse.reset();
    if (Clock::now() < gPulseRetry) return nullptr;
    auto link = std::make_shared<PulseLink>();
    link->loop = pa_threaded_mainloop_new();
    if (!link->loop) return nullptr;
    link->context = pa_context_new(pa_threaded_mainloop_get_api(link->loop), "Tumblewick");
    if (!link->context || pa_context_connect(link->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(link->loop) < 0) {
        gPulseRetry = Clock::now() + kRetryOpen;
        return nullptr;
    }
    const bool up = waitFor([&] {
        pa_threaded_mainloop_lock(link->loop);
        const pa_context_state_t state = pa_context_get_state(link->context);
        pa_threaded_mainloop_unlock(link->loop);
        return state == PA_CONTEXT_READY ? 1 : !PA_CONTEXT_IS_GOOD(state) ? -1 : 0;
    });
    if (!up) {
        gPulseRetry = Clock::now() + kRetryOpen;
        return nullptr;
    }
    gPulse = link;
    return link;
}

class PulseStream : public AudioStream {
public:
    PulseStream(std::shared_ptr<PulseLink> link, int sampleRate, int channels)
        : AudioStream(sampleRate, channels), link_(std::move(link)) {}
    ~PulseStream() override {
        if (!stream_) return;
        pa_threaded_mainloop_lock(link_->loop);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        pa_threaded_mainloop_unlock(link_->loop);
    }

    bool open(int sampleRate, int channels) {
        const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(sampleRate),
                                    static_cast<std::uint8_t>(channels)};
        // A short latency target keeps the sink close to real time; the buffer behind it
        // (maxlength, the server's default of several seconds) takes all that is written.
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(framesFromEnvironment(128) * channels * 2);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        pa_threaded_mainloop_lock(link_->loop);
        stream_ = pa_stream_new(link_->context, "Tumblewick", &format, nullptr);
        bool started = stream_ && pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                                             nullptr) == 0;
        pa_threaded_mainloop_unlock(link_->loop);
        return started && waitFor([&] {
                   pa_threaded_mainloop_lock(link_->loop);
                   const pa_stream_state_t state = pa_stream_get_state(stream_);
                   pa_threaded_mainloop_unlock(link_->loop);
                   return state == PA_STREAM_READY ? 1 : !PA_STREAM_IS_GOOD(state) ? -1 : 0;
               });
    }

    void write(const void* data, std::size_t bytes) override {
        pa_threaded_mainloop_lock(link_->loop);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY)
            pa_stream_write(stream_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        pa_threaded_mainloop_unlock(link_->loop);
        wrote(bytes);
    }
    void flush() override {
        run(pa_stream_flush);
        flushed();
    }
    void trigger() override { run(pa_stream_trigger); }
    bool broken() const override {
        pa_threaded_mainloop_lock(link_->loop);
        const bool gone = !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
                          !PA_CONTEXT_IS_GOOD(pa_context_get_state(link_->context));
        pa_threaded_mainloop_unlock(link_->loop);
        return gone;
    }

private:
    void run(pa_operation* (*call)(pa_stream*, pa_stream_success_cb_t, void*)) {
        pa_threaded_mainloop_lock(link_->loop);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY)
            if (pa_operation* op = call(stream_, nullptr, nullptr)) pa_operation_unref(op);
        pa_threaded_mainloop_unlock(link_->loop);
    }
    std::shared_ptr<PulseLink> link_;
    pa_stream* stream_ = nullptr;
};

// --- SDL2 -----------------------------------------------------------------------------------

// SDL2 is loaded when it is first wanted, never linked: linked, it and the video libraries it
// needs (X11, Wayland, DRM) were loaded and set up before the game's first word, which cost the
// start about 5 ms on an idle machine and twice that on a busy one. Speech through PulseAudio
// does without it; the award sound and a machine without a PulseAudio server use it.
// clang-format off
#define TW_SDL_CALLS(X)                                                                                  \
    X(SetHint) X(InitSubSystem) X(QuitSubSystem) X(OpenAudioDevice) X(CloseAudioDevice)                 \
    X(PauseAudioDevice) X(QueueAudio) X(ClearQueuedAudio) X(RWFromFile) X(LoadWAV_RW) X(FreeWAV)         \
    X(NewAudioStream) X(AudioStreamPut) X(AudioStreamFlush) X(AudioStreamAvailable) X(AudioStreamGet)   \
    X(FreeAudioStream) X(TLSCleanup)
// clang-format on

struct Sdl {
#define TW_SDL_MEMBER(name) decltype(&SDL_##name) name = nullptr;
    TW_SDL_CALLS(TW_SDL_MEMBER)
#undef TW_SDL_MEMBER
};

std::atomic<bool> gSdlLoaded{false};

// SDL's calls, or nullptr when the library cannot be had (then there is no sound but PulseAudio).
const Sdl* sdl() {
    static const Sdl* const loaded = []() -> const Sdl* {
        void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static Sdl calls;
        bool all = true;
#define TW_SDL_FIND(name) \
    all = all && (calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(library, "SDL_" #name))) != nullptr;
        TW_SDL_CALLS(TW_SDL_FIND)
#undef TW_SDL_FIND
        if (!all) return nullptr;
        gSdlLoaded = true;
        return &calls;
    }();
    return loaded;
}

// SDL's audio initialisation and device open/close must not run on two threads at once.
std::mutex gSdlMutex;
int gSdlUsers = 0;

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// libasound prints its configuration errors to stderr when there is no card. SDL loads it by
// this same name, so the handler set here is the one SDL's copy uses.
void muteAlsa() {
    static bool done = false;
    if (done) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(&quietAlsa);
    // The handle stays open: unloading would drop the handler before SDL loads the library.
}

class SdlStream : public AudioStream {
public:
    SdlStream(int sampleRate, int channels) : AudioStream(sampleRate, channels) {}
    ~SdlStream() override {
        std::lock_guard<std::mutex> lock(gSdlMutex);
        if (device_) sdl()->CloseAudioDevice(device_);
        if (held_ && --gSdlUsers == 0) sdl()->QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool open(int sampleRate, int channels) {
        if (!sdl()) return false;
        std::lock_guard<std::mutex> lock(gSdlMutex);
        if (gSdlUsers == 0) {
            muteAlsa();
            // SDL's audio pulls in its event subsystem, which would otherwise take over Ctrl+C.
            sdl()->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            sdl()->SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Tumblewick");
            if (sdl()->InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        }
        ++gSdlUsers;
        held_ = true;
        SDL_AudioSpec want{};
        want.freq = sampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(channels);
        want.samples = static_cast<Uint16>(framesFromEnvironment(512));
        SDL_AudioSpec have{};
        device_ = sdl()->OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_) sdl()->PauseAudioDevice(device_, 0);
        return device_ != 0;
    }
    void write(const void* data, std::size_t bytes) override {
        sdl()->QueueAudio(device_, data, static_cast<Uint32>(bytes));
        wrote(bytes);
    }
    void flush() override {
        sdl()->ClearQueuedAudio(device_);
        flushed();
    }

private:
    SDL_AudioDeviceID device_ = 0;
    bool held_ = false;
};

// Counts the open outputs for as long as one lives.
template <class Stream>
class Counted : public Stream {
public:
    using Stream::Stream;
    ~Counted() override { --gOpenOutputs; }
};

}  // namespace

bool AudioStream::playing() const { return playsUntil_.load() > nowNs(); }

void AudioStream::wrote(std::size_t bytes) {
    const std::int64_t now = nowNs();
    const std::int64_t from = std::max(now, playsUntil_.load());
    playsUntil_.store(from + static_cast<std::int64_t>(bytes) * 1000000000 / bytesPerSecond_);
}

void AudioStream::flushed() { playsUntil_.store(nowNs()); }

std::unique_ptr<AudioStream> openAudioStream(int sampleRate, int channels) {
    if (!std::getenv("SDL_AUDIODRIVER")) {
        if (auto link = pulseLink()) {
            auto stream = std::make_unique<Counted<PulseStream>>(link, sampleRate, channels);
            ++gOpenOutputs;
            if (stream->open(sampleRate, channels)) return stream;
            return nullptr;
        }
    }
    auto stream = std::make_unique<Counted<SdlStream>>(sampleRate, channels);
    ++gOpenOutputs;
    if (stream->open(sampleRate, channels)) return stream;
    return nullptr;
}

void prepareAudioOutput() {
    if (!std::getenv("SDL_AUDIODRIVER")) pulseLink();
}

int openAudioOutputs() { return gOpenOutputs.load(); }

void releaseSdlThreadState() {
    // SDL keeps its error text per thread and frees it only when asked.
    if (gSdlLoaded) sdl()->TLSCleanup();
}

// --- WAV sounds -----------------------------------------------------------------------------

namespace {
constexpr int kPlayerRate = 44100;
constexpr int kPlayerChannels = 2;
}  // namespace

struct SoundPlayer::Impl {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable handledChanged;
    std::optional<std::string> pending;  // only the newest request matters
    std::uint64_t requested = 0;
    std::uint64_t handled = 0;
    bool stopping = false;
    bool finished = false;

    std::atomic<int> started{0};
    std::atomic<bool> sounding{false};
    std::unique_ptr<AudioStream> out;  // worker thread only
    Clock::time_point nextOpen{};      // worker thread only
    Clock::time_point lastSound{};     // worker thread only

    void run();
    void start(const std::string& path);
};

SoundPlayer::SoundPlayer() : impl_(std::make_shared<Impl>()) {
    std::thread([impl = impl_] { impl->run(); }).detach();
}

SoundPlayer::~SoundPlayer() {
    // Never waits long: a sound system that hangs keeps the worker, which keeps its own share.
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
    impl_->wake.notify_all();
    impl_->handledChanged.wait_for(lock, std::chrono::milliseconds(200), [&] { return impl_->finished; });
}

void SoundPlayer::play(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->pending = path;
        ++impl_->requested;
    }
    impl_->wake.notify_one();
}

bool SoundPlayer::waitUntilHandled(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    const std::uint64_t target = impl_->requested;
    return impl_->handledChanged.wait_for(lock, timeout, [&] { return impl_->handled >= target; });
}

int SoundPlayer::soundsStarted() const { return impl_->started.load(); }

bool SoundPlayer::playing() const { return impl_->sounding.load(); }

void closeWhenIdle(std::unique_lock<std::mutex>& lock, std::unique_ptr<AudioStream>& out,
                   Clock::time_point& lastSound) {
    if (!out) return;
    if (out->playing()) {
        lastSound = Clock::now();
    } else if (Clock::now() - lastSound >= kCloseWhenIdle) {
        std::unique_ptr<AudioStream> closing = std::move(out);
        lock.unlock();
        closing.reset();
        lock.lock();
    }
}

void SoundPlayer::Impl::run() {
    blockThreadSignals();
    std::unique_lock<std::mutex> lock(mutex);
    constexpr int kPollsBeforeSdl = 20;
    int idlePolls = 0;
    for (;;) {
        const auto ready = [&] { return stopping || pending.has_value(); };
        if (!wake.wait_for(lock, kPollIdle, ready)) {
            // Loaded a while after the start, once the greeting is out even on a busy machine, so
            // that neither the greeting nor the first sound waits for it.
            if (!gSdlLoaded && ++idlePolls == kPollsBeforeSdl) sdl();
            sounding = out && out->playing();
            closeWhenIdle(lock, out, lastSound);
            continue;
        }
        if (stopping) break;
        std::string path = std::move(*pending);
        pending.reset();
        const std::uint64_t upTo = requested;
        lock.unlock();
        start(path);
        lock.lock();
        handled = upTo;
        handledChanged.notify_all();
    }
    lock.unlock();
    out.reset();
    releaseSdlThreadState();
    lock.lock();
    finished = true;
    handledChanged.notify_all();
}

void SoundPlayer::Impl::start(const std::string& path) {
    // The new sound cuts off the old one even when it turns out to be unplayable.
    if (out) out->flush();
    sounding = false;

    const Sdl* const call = sdl();
    SDL_AudioSpec source{};
    Uint8* wav = nullptr;
    Uint32 length = 0;
    if (!call || !call->LoadWAV_RW(call->RWFromFile(path.c_str(), "rb"), 1, &source, &wav, &length)) return;

    std::vector<Uint8> pcm;
    if (SDL_AudioStream* stream = call->NewAudioStream(source.format, source.channels, source.freq, AUDIO_S16SYS,
                                                       kPlayerChannels, kPlayerRate)) {
        if (call->AudioStreamPut(stream, wav, static_cast<int>(length)) == 0 && call->AudioStreamFlush(stream) == 0) {
            pcm.resize(static_cast<std::size_t>(call->AudioStreamAvailable(stream)));
            const int got = call->AudioStreamGet(stream, pcm.data(), static_cast<int>(pcm.size()));
            pcm.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        call->FreeAudioStream(stream);
    }
    call->FreeWAV(wav);
    if (pcm.empty()) return;
    if (!out && Clock::now() >= nextOpen) {
        out = openAudioStream(kPlayerRate, kPlayerChannels);
        // A machine without sound stays silent without paying for a fresh attempt on every sound.
        if (!out) nextOpen = Clock::now() + kRetryOpen;
    }
    if (!out) return;
    out->write(pcm.data(), pcm.size());
    out->trigger();
    ++started;
    sounding = true;
    lastSound = Clock::now();
}

SoundPlayer& processSoundPlayer() {
    static SoundPlayer player;
    return player;
}

void playWavAsync(const std::string& path) { processSoundPlayer().play(path); }

}  // namespace tw
