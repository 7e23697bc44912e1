// platform/linux/sound_player.h: WAV sounds played through SDL2 audio without holding up the game.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tw {

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

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The player behind playWavAsync, made on first use and kept until exit.
SoundPlayer& processSoundPlayer();

// Starts a WAV file playing and returns at once; a new sound cuts off the previous one.
void playWavAsync(const std::string& path);

// SDL's audio is shared by the voice and the sounds. Opens an output of signed 16-bit samples at
// this rate and channel count (SDL converts for the hardware) and starts it; 0 when there is no
// usable device. Each successful open must be closed with closeAudioOutput.
std::uint32_t openAudioOutput(int sampleRate, int channels);
void closeAudioOutput(std::uint32_t device);
// How many outputs are open now, in this process.
int openAudioOutputs();

// Keeps SDL's audio (and its connection to the sound server) up between outputs, so that
// reopening one after a silence is quick. Each successful hold must be released.
bool holdAudio();
void releaseAudio();

// A user of the sound device closes its output after this long with nothing to play; the
// sound server then has no stream of ours and may suspend its sink.
constexpr auto kCloseWhenIdle = std::chrono::milliseconds(1500);
constexpr auto kPollIdle = std::chrono::milliseconds(100);

// Waits on wake until ready() holds. Meanwhile, an open output streams even silence to the sound
// server, so once it has had nothing to play for kCloseWhenIdle it is taken from device (under
// outMutex, when given) and closed, with lock released so that nobody waits for the close.
// lastSound is when the output last had something to play.
void waitClosingWhenIdle(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                         const std::function<bool()>& ready, std::atomic<std::uint32_t>& device, std::mutex* outMutex,
                         std::chrono::steady_clock::time_point& lastSound);

}  // namespace tw
