// platform/linux/sound_player.h: the sound device, shared by the voice and the award sound, and
// WAV sounds played without holding up the game.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tw {

// One output stream of signed 16-bit samples. Nothing here blocks on the sound server: what is
// written is handed over whole and the server holds it until it is played, so a busy machine
// cannot starve the sound, and a server that stops answering stalls nobody.
//
// Through PulseAudio (or PipeWire's PulseAudio service) when a server answers, with a short
// latency target (TW_AUDIO_FRAMES frames, 128 by default) and a server-side buffer that takes a
// whole answer; else through SDL2 (ALSA, or the driver SDL_AUDIODRIVER names, which also skips
// PulseAudio), whose own thread refills a device buffer of TW_AUDIO_FRAMES frames (512 by default).
class AudioStream {
public:
    virtual ~AudioStream() = default;
    // Queues samples behind what is queued.
    virtual void write(const void* data, std::size_t bytes) = 0;
    // Drops everything queued and not yet played.
    virtual void flush() = 0;
    // Starts playback even when less than the server's start threshold is queued.
    virtual void trigger() {}
    // True once the stream can play nothing more (its sound server went away): it is to be
    // replaced by a new one for the next words.
    virtual bool broken() const { return false; }
    // True while what was written has not all been played; safe from any thread.
    bool playing() const;

protected:
    AudioStream(int sampleRate, int channels) : bytesPerSecond_(sampleRate * channels * 2) {}
    void wrote(std::size_t bytes);
    void flushed();

private:
    const int bytesPerSecond_;
    // When the last sample written will have been played, in steady-clock nanoseconds.
    std::atomic<std::int64_t> playsUntil_{0};
};

// Opens an output at this rate and channel count; nullptr when there is no usable device.
// Waits at most about a second for a server that does not answer.
std::unique_ptr<AudioStream> openAudioStream(int sampleRate, int channels);
// Connects to the sound server ahead of the first stream, so that the first words wait only for
// their stream; opens no stream. Cheap when connected, or when no server answers.
void prepareAudioOutput();
// How many outputs are open now, in this process.
int openAudioOutputs();
// Frees what SDL keeps for the calling thread, if SDL was loaded; for a thread that ends.
void releaseSdlThreadState();

// Plays one sound at a time on its own thread. play() only hands the path over; loading, opening
// the device and queueing happen later, so a slow or missing sound system never stalls a key.
class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts path playing, cutting off whatever plays now. Bad paths and no device are silent.
    void play(const std::string& path);

    // Waits until every play() so far has been dealt with (queued or dropped); false on timeout.
    bool waitUntilHandled(std::chrono::milliseconds timeout);
    // How many sounds reached a device since this player was made.
    int soundsStarted() const;
    // True while the device still has audio of the current sound to play.
    bool playing() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

// The player behind playWavAsync, made on first use and kept until exit.
SoundPlayer& processSoundPlayer();

// Starts a WAV file playing and returns at once; a new sound cuts off the previous one.
void playWavAsync(const std::string& path);

// A user of the sound device closes its output after this long with nothing to play; the
// sound server then has no stream of ours and may suspend its sink.
constexpr auto kCloseWhenIdle = std::chrono::milliseconds(1500);
constexpr auto kPollIdle = std::chrono::milliseconds(100);

// Called by an output's owner each time its wait for work times out (every kPollIdle): notes
// when out last played, and once it has had nothing to play for kCloseWhenIdle closes it, with
// lock released meanwhile.
void closeWhenIdle(std::unique_lock<std::mutex>& lock, std::unique_ptr<AudioStream>& out,
                   std::chrono::steady_clock::time_point& lastSound);

}  // namespace tw
