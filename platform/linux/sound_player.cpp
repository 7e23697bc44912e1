// platform/linux/sound_player.cpp: WAV sounds played through SDL2 audio without holding up the game.
#include "platform/linux/sound_player.h"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tw {

namespace {

// SDL's audio initialisation and device open/close must not run on two threads at once. Both
// are constant-initialised, so they outlive every static that closes a device at exit.
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

int gOpenOutputs = 0;

constexpr int kPlayerRate = 44100;
constexpr int kPlayerChannels = 2;
constexpr auto kRetryOpen = std::chrono::seconds(5);

// The device buffer: what is queued waits at most this long, and the sound server holds about
// one more. Shorter is heard sooner; much shorter underruns on a busy machine.
Uint16 deviceFrames(int sampleRate) {
    if (const char* frames = std::getenv("TW_AUDIO_FRAMES")) return static_cast<Uint16>(std::atoi(frames));
    Uint16 samples = 64;
    while (samples < 4096 && samples * 200 < sampleRate) samples = static_cast<Uint16>(samples * 2);
    return samples;
}

bool holdAudioLocked() {
    if (gSdlUsers == 0) {
        muteAlsa();
        // SDL's audio pulls in its event subsystem, which would otherwise take over Ctrl+C.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Tumblewick");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    }
    ++gSdlUsers;
    return true;
}

void releaseAudioLocked() {
    if (--gSdlUsers == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

bool holdAudio() {
    std::lock_guard<std::mutex> lock(gSdlMutex);
    return holdAudioLocked();
}

void releaseAudio() {
    std::lock_guard<std::mutex> lock(gSdlMutex);
    releaseAudioLocked();
}

std::uint32_t openAudioOutput(int sampleRate, int channels) {
    std::lock_guard<std::mutex> lock(gSdlMutex);
    if (!holdAudioLocked()) return 0;
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = deviceFrames(sampleRate);
    SDL_AudioSpec have{};
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        releaseAudioLocked();
        return 0;
    }
    ++gOpenOutputs;
    SDL_PauseAudioDevice(device, 0);
    return device;
}

void closeAudioOutput(std::uint32_t device) {
    if (device == 0) return;
    std::lock_guard<std::mutex> lock(gSdlMutex);
    SDL_CloseAudioDevice(device);
    --gOpenOutputs;
    releaseAudioLocked();
}

int openAudioOutputs() {
    std::lock_guard<std::mutex> lock(gSdlMutex);
    return gOpenOutputs;
}

void waitClosingWhenIdle(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                         const std::function<bool()>& ready, std::atomic<std::uint32_t>& device, std::mutex* outMutex,
                         std::chrono::steady_clock::time_point& lastSound) {
    while (!ready() && device.load() != 0) {
        if (wake.wait_for(lock, kPollIdle, ready)) break;
        if (SDL_GetQueuedAudioSize(device.load()) > 0) {
            lastSound = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastSound >= kCloseWhenIdle) {
            std::uint32_t closing = 0;
            if (outMutex) {
                std::lock_guard<std::mutex> out(*outMutex);
                closing = device.exchange(0);
            } else {
                closing = device.exchange(0);
            }
            // Closing waits for SDL's audio thread.
            lock.unlock();
            closeAudioOutput(closing);
            lock.lock();
        }
    }
    wake.wait(lock, ready);
}

struct SoundPlayer::Impl {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable handledChanged;
    std::optional<std::string> pending;  // only the newest request matters
    std::uint64_t requested = 0;
    std::uint64_t handled = 0;
    bool stopping = false;

    std::atomic<std::uint32_t> device{0};
    std::atomic<int> started{0};
    std::chrono::steady_clock::time_point nextOpen{};   // worker thread only
    std::chrono::steady_clock::time_point lastSound{};  // worker thread only
    bool holdingAudio = false;                          // worker thread only
    std::thread worker;

    void run();
    void start(const std::string& path);
    bool ensureDevice();
};

SoundPlayer::SoundPlayer() : impl_(std::make_unique<Impl>()) {
    impl_->worker = std::thread([impl = impl_.get()] { impl->run(); });
}

SoundPlayer::~SoundPlayer() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->worker.join();
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

bool SoundPlayer::playing() const {
    const std::uint32_t device = impl_->device.load();
    return device != 0 && SDL_GetQueuedAudioSize(device) > 0;
}

void SoundPlayer::Impl::run() {
    for (;;) {
        std::string path;
        std::uint64_t upTo = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            waitClosingWhenIdle(
                lock, wake, [&] { return stopping || pending.has_value(); }, device, nullptr, lastSound);
            if (stopping) break;
            path = std::move(*pending);
            pending.reset();
            upTo = requested;
        }
        start(path);
        {
            std::lock_guard<std::mutex> lock(mutex);
            handled = upTo;
        }
        handledChanged.notify_all();
    }
    closeAudioOutput(device.exchange(0));
    if (holdingAudio) releaseAudio();
    // SDL keeps its error text per thread and frees it only when asked.
    SDL_TLSCleanup();
}

bool SoundPlayer::Impl::ensureDevice() {
    if (device.load() != 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextOpen) return false;
    const std::uint32_t opened = openAudioOutput(kPlayerRate, kPlayerChannels);
    if (opened == 0) {
        // A machine without sound stays silent without paying for a fresh attempt on every sound.
        nextOpen = now + kRetryOpen;
        return false;
    }
    device.store(opened);
    // Kept from the first sound on, so that the next one after a silence opens quickly.
    if (!holdingAudio) holdingAudio = holdAudio();
    return true;
}

void SoundPlayer::Impl::start(const std::string& path) {
    // The new sound cuts off the old one even when it turns out to be unplayable.
    if (const std::uint32_t open = device.load()) SDL_ClearQueuedAudio(open);

    SDL_AudioSpec source{};
    Uint8* wav = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(path.c_str(), &source, &wav, &length)) return;

    std::vector<Uint8> pcm;
    if (SDL_AudioStream* stream = SDL_NewAudioStream(source.format, source.channels, source.freq, AUDIO_S16SYS,
                                                     kPlayerChannels, kPlayerRate)) {
        if (SDL_AudioStreamPut(stream, wav, static_cast<int>(length)) == 0 && SDL_AudioStreamFlush(stream) == 0) {
            pcm.resize(static_cast<std::size_t>(SDL_AudioStreamAvailable(stream)));
            const int got = SDL_AudioStreamGet(stream, pcm.data(), static_cast<int>(pcm.size()));
            pcm.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        SDL_FreeAudioStream(stream);
    }
    SDL_FreeWAV(wav);
    if (pcm.empty() || !ensureDevice()) return;

    const std::uint32_t open = device.load();
    SDL_ClearQueuedAudio(open);
    if (SDL_QueueAudio(open, pcm.data(), static_cast<Uint32>(pcm.size())) == 0) ++started;
    lastSound = std::chrono::steady_clock::now();
}

SoundPlayer& processSoundPlayer() {
    static SoundPlayer player;
    return player;
}

void playWavAsync(const std::string& path) { processSoundPlayer().play(path); }

}  // namespace tw
