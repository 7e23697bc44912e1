// platform/linux/espeak_voice.cpp: the voice, spoken by espeak-ng in-process.
#include "platform/linux/espeak_voice.h"

#include <espeak-ng/espeak_ng.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/sound_player.h"
#include "platform/linux/thread_signals.h"
#include "platform/wav_header.h"

namespace tw {

namespace {

// espeak-ng hands audio back in buffers of this many milliseconds. Short buffers mean the first
// samples come sooner and a purge stops synthesis sooner.
constexpr int kBufferMs = 20;
// Samples below this (of 32767) are inaudible; leading ones are not sent to a device.
constexpr int kAudibleLevel = 16;
constexpr int kStartVolume = 100;
// The RIFF sizes are 32-bit; stop appending well before they would wrap.
constexpr std::uint64_t kWavDataLimit = 0x7fff0000u;

// espeak-ng is one global synthesizer, so every voice shares this and speaks through it in turn.
struct Engine {
    std::mutex mutex;
    bool tried = false;
    std::string error;
    int sampleRate = 0;
};

// Never destroyed: a voice owned by some static may still be speaking while statics go.
Engine& engine() {
    static Engine* shared = new Engine;
    return *shared;
}

std::string describe(espeak_ng_STATUS status, espeak_ng_ERROR_CONTEXT context) {
    // The printed form names the file that failed; the plain status message does not.
    std::string text;
    char* buffer = nullptr;
    std::size_t size = 0;
    if (FILE* out = open_memstream(&buffer, &size)) {
        espeak_ng_PrintStatusCodeMessage(status, out, context);
        std::fclose(out);
        if (buffer) text.assign(buffer, size);
    }
    std::free(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) {
        char message[256] = {};
        espeak_ng_GetStatusCodeMessage(status, message, sizeof message);
        text = message;
    }
    if (text.empty()) text = "status " + std::to_string(static_cast<unsigned>(status));
    return text;
}

int synthCallback(short* samples, int count, espeak_EVENT* events);

// Naming the voice file loads that one file; naming the voice makes espeak-ng read every voice
// file it has (some hundreds) to find it. The name is the fallback for other data layouts.
espeak_ng_STATUS setEnglishVoice() {
    const char* data = nullptr;
    espeak_Info(&data);
    if (data) {
        const std::string file = std::string(data) + "/lang/gmw/en";
        if (::access(file.c_str(), R_OK) == 0 && espeak_ng_SetVoiceByFile(file.c_str()) == ENS_OK) return ENS_OK;
    }
    return espeak_ng_SetVoiceByName("en");
}

Engine& startEngine() {
    Engine& shared = engine();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (!shared.tried) {
        shared.tried = true;
        espeak_ng_InitializePath(nullptr);
        espeak_ng_ERROR_CONTEXT context = nullptr;
        espeak_ng_STATUS status = espeak_ng_Initialize(&context);
        if (status != ENS_OK) {
            shared.error = describe(status, context);
            espeak_ng_ClearErrorContext(&context);
        } else if ((status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, kBufferMs, nullptr)) != ENS_OK) {
            shared.error = describe(status, nullptr);
        } else if ((status = setEnglishVoice()) != ENS_OK) {
            shared.error = describe(status, nullptr);
        } else {
            espeak_SetSynthCallback(&synthCallback);
            shared.sampleRate = espeak_ng_GetSampleRate();
        }
    }
    if (!shared.error.empty()) throw PlatformError("espeak-ng could not start: " + shared.error);
    return shared;
}

void putLE16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value & 0xff);
    at[1] = static_cast<unsigned char>(value >> 8);
}

bool writeAll(int fd, const void* data, std::size_t size, off_t offset) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = pwrite(fd, bytes, size, offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
        offset += done;
    }
    return true;
}

bool writeWavHeader(int fd, int sampleRate, std::uint32_t dataBytes) {
    const std::string header = wavHeader(static_cast<std::uint32_t>(sampleRate), dataBytes);
    return writeAll(fd, header.data(), header.size(), 0);
}

struct Utterance {
    std::string text;
    std::uint64_t generation = 0;
};

}  // namespace

struct EspeakVoice::Impl {
    Engine& engine;
    const int sampleRate;
    std::atomic<int> rate{kDefaultRate};
    std::atomic<int> volume{kStartVolume};

    // What waits to be said. A purge bumps the generation; anything older is dropped, a
    // synthesis of an older one stops at its next buffer, and the synthesis thread drops what
    // the sound server still holds of it. speak() only ever takes queueMutex, for a moment.
    std::mutex queueMutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Utterance> queue;
    bool busy = false;
    bool stopping = false;
    bool finished = false;
    std::atomic<std::uint64_t> generation{0};

    // Where audio goes; the synthesis thread's alone.
    std::unique_ptr<AudioStream> out;
    std::atomic<bool> sounding{false};
    std::uint64_t flushedGeneration = 0;
    int wavFd = -1;
    std::uint64_t wavBytes = 0;
    bool wavBroken = false;
    std::function<void()> firstAudioHook;  // changed only while idle

    // Synthesis thread only.
    std::uint64_t speaking = 0;
    bool heardFirst = false;
    bool heardSound = false;
    std::chrono::steady_clock::time_point nextOpen{};

    Impl(Engine& shared, int rateHz) : engine(shared), sampleRate(rateHz) {}

    void run(bool wantDevice);
    void say(const Utterance& utterance);
    int onAudio(const short* samples, int count);
    void appendWav(const short* samples, int count);
};

namespace {

int synthCallback(short* samples, int count, espeak_EVENT* events) {
    auto* voice = events ? static_cast<EspeakVoice::Impl*>(events->user_data) : nullptr;
    return voice ? voice->onAudio(samples, count) : 0;
}

// How long the end waits for the last words to reach a WAV file, and for the synthesis thread.
constexpr auto kFinishWav = std::chrono::milliseconds(800);
constexpr auto kLetGo = std::chrono::milliseconds(200);

}  // namespace

EspeakVoice::EspeakVoice(std::string wavPath) {
    // The way to the sound server is made while espeak-ng loads its voice, on the other core.
    if (wavPath.empty()) {
        try {
            std::thread([] {
                blockThreadSignals();
                prepareAudioOutput();
            }).detach();
        } catch (const std::system_error&) {
            // The voice's own thread connects instead.
        }
    }
    Engine& shared = startEngine();
    impl_ = std::make_shared<Impl>(shared, shared.sampleRate);
    if (!wavPath.empty()) {
        const int fd = ::open(wavPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw PlatformError("cannot write speech to " + wavPath + ": " + std::strerror(errno));
        if (!writeWavHeader(fd, impl_->sampleRate, 0)) {
            const std::string reason = std::strerror(errno);
            ::close(fd);
            throw PlatformError("cannot write speech to " + wavPath + ": " + reason);
        }
        impl_->wavFd = fd;
    }
    const bool wantDevice = wavPath.empty();
    try {
        std::thread([impl = impl_, wantDevice] { impl->run(wantDevice); }).detach();
    } catch (const std::system_error& error) {
        if (impl_->wavFd >= 0) ::close(impl_->wavFd);
        throw PlatformError(std::string("cannot start the speech thread: ") + error.what());
    }
}

EspeakVoice::~EspeakVoice() {
    // A file is a record of what was said, and synthesis runs far faster than speech, so the
    // last words still go in; a device just stops, as SAPI's voice does. Neither waits long: a
    // sound server that hangs keeps the synthesis thread, which keeps its own share of the voice.
    if (impl_->wavFd >= 0) waitUntilIdle(kFinishWav);
    std::unique_lock<std::mutex> lock(impl_->queueMutex);
    impl_->stopping = true;
    impl_->queue.clear();
    impl_->generation.fetch_add(1);
    impl_->wake.notify_all();
    impl_->idle.wait_for(lock, kLetGo, [&] { return impl_->finished; });
}

void EspeakVoice::speak(const std::string& text, int flags) {
    const bool purge = (flags & 2) != 0;
    {
        std::lock_guard<std::mutex> lock(impl_->queueMutex);
        if (purge) {
            impl_->generation.fetch_add(1);
            impl_->queue.clear();
        }
        if (!text.empty()) impl_->queue.push_back({text, impl_->generation.load()});
    }
    impl_->wake.notify_one();
    if (purge) impl_->idle.notify_all();
    if ((flags & 1) == 0) waitUntilIdle(std::chrono::hours(1));
}

int EspeakVoice::Rate() const { return impl_->rate.load(); }
void EspeakVoice::setRate(int rate) { impl_->rate.store(rate); }
int EspeakVoice::volume() const { return impl_->volume.load(); }
void EspeakVoice::setVolume(int volume) { impl_->volume.store(std::clamp(volume, 0, 100)); }

int EspeakVoice::wordsPerMinute(int rate) {
    const double wpm = 175.0 * std::pow(1.1, rate);
    if (!(wpm >= 80.0)) return 80;
    if (wpm > 450.0) return 450;
    return static_cast<int>(std::lround(wpm));
}

int EspeakVoice::sampleRate() const { return impl_->sampleRate; }

bool EspeakVoice::speaking() const {
    std::lock_guard<std::mutex> lock(impl_->queueMutex);
    return !impl_->queue.empty() || impl_->busy || impl_->sounding.load();
}

bool EspeakVoice::waitUntilIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(impl_->queueMutex);
    return impl_->idle.wait_until(lock, deadline, [&] {
        return (impl_->queue.empty() && !impl_->busy && !impl_->sounding.load()) || impl_->finished;
    });
}

void EspeakVoice::setFirstAudioHook(std::function<void()> hook) {
    waitUntilIdle(std::chrono::hours(1));
    impl_->firstAudioHook = std::move(hook);
}

void EspeakVoice::Impl::run(bool wantDevice) {
    blockThreadSignals();
    // While the game starts, the way to the sound server is made ready for the first words.
    if (wantDevice) prepareAudioOutput();
    auto lastSound = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(queueMutex);
    for (;;) {
        const auto ready = [&] { return stopping || !queue.empty() || flushedGeneration != generation.load(); };
        if (!wake.wait_for(lock, out && sounding ? std::chrono::milliseconds(10) : kPollIdle, ready)) {
            const bool was = sounding.load();
            sounding = out && out->playing();
            closeWhenIdle(lock, out, lastSound);
            if (was && !sounding) idle.notify_all();
            continue;
        }
        // A purge: what the sound server still holds of older speech goes at once.
        if (flushedGeneration != generation.load()) {
            flushedGeneration = generation.load();
            if (out) out->flush();
            sounding = false;
        }
        if (stopping) break;
        if (queue.empty()) {
            idle.notify_all();
            continue;
        }
        Utterance next = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        // A stream whose server went away is replaced at once, not after the idle close: the
        // words are for a server that may be back.
        if (out && out->broken()) {
            out.reset();
            nextOpen = {};
        }
        // Opened for the first words, not at start-up: a game on another speech path never
        // opens a stream, and a slow sound server never holds up the start.
        if (wantDevice && !out && next.generation == generation.load() &&
            std::chrono::steady_clock::now() >= nextOpen) {
            out = openAudioStream(sampleRate, 1);
            if (!out) nextOpen = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        }
        say(next);
        if (out && heardSound) {
            out->trigger();
            sounding = true;
        }
        lastSound = std::chrono::steady_clock::now();
        lock.lock();
        busy = false;
        idle.notify_all();
    }
    lock.unlock();
    out.reset();
    releaseSdlThreadState();
    lock.lock();
    finished = true;
    idle.notify_all();
}

void EspeakVoice::Impl::say(const Utterance& utterance) {
    if (utterance.generation != generation.load()) return;
    std::lock_guard<std::mutex> lock(engine.mutex);
    espeak_ng_SetParameter(espeakRATE, EspeakVoice::wordsPerMinute(rate.load()), 0);
    espeak_ng_SetParameter(espeakVOLUME, volume.load(), 0);
    speaking = utterance.generation;
    heardFirst = false;
    heardSound = false;
    espeak_ng_Synthesize(utterance.text.c_str(), utterance.text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                         nullptr, this);
}

int EspeakVoice::Impl::onAudio(const short* samples, int count) {
    // Returning 1 makes espeak-ng drop the rest of the utterance.
    if (generation.load() != speaking) return 1;
    if (!samples || count <= 0) return 0;
    if (!heardFirst) {
        heardFirst = true;
        if (firstAudioHook) firstAudioHook();
    }
    if (wavFd >= 0) {
        appendWav(samples, count);
    } else if (out) {
        // espeak-ng begins many words with up to 40 ms of near silence (the closure before a
        // "p", say); on a device the answer is heard that much sooner without it.
        if (!heardSound) {
            while (count > 0 && std::abs(samples[0]) < kAudibleLevel) {
                ++samples;
                --count;
            }
            heardSound = count > 0;
        }
        if (count > 0) {
            out->write(samples, static_cast<std::size_t>(count) * sizeof(short));
            sounding = true;
        }
    }
    return 0;
}

void EspeakVoice::Impl::appendWav(const short* samples, int count) {
    if (wavBroken) return;
    const std::size_t bytes = static_cast<std::size_t>(count) * 2;
    if (wavBytes + bytes > kWavDataLimit) return;
    std::vector<unsigned char> little(bytes);
    for (int i = 0; i < count; ++i) putLE16(little.data() + 2 * i, static_cast<std::uint16_t>(samples[i]));
    if (!writeAll(wavFd, little.data(), bytes, static_cast<off_t>(kWavHeaderBytes + wavBytes))) {
        wavBroken = true;
        return;
    }
    wavBytes += bytes;
    // The header follows every buffer, so the file is a whole WAV whenever it is read.
    if (!writeWavHeader(wavFd, sampleRate, static_cast<std::uint32_t>(wavBytes))) wavBroken = true;
}

}  // namespace tw
