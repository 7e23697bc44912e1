// platform/linux/espeak_voice.h: the voice, spoken by espeak-ng in-process.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tw {

// Synthesis runs on a thread of the voice's own, so speak() only queues the text and returns.
// With no wavPath the audio goes to the sound device, or nowhere when there is none. With a
// wavPath every utterance is appended to that WAV file instead (16-bit mono), whose header is
// kept right as it grows; destroying such a voice first finishes what is queued.
class EspeakVoice : public Voice {
public:
    // Throws PlatformError when espeak-ng cannot start (no data) or the WAV file cannot be made.
    explicit EspeakVoice(std::string wavPath = "");
    ~EspeakVoice() override;
    EspeakVoice(const EspeakVoice&) = delete;
    EspeakVoice& operator=(const EspeakVoice&) = delete;

    // flags bit 1: return at once; bit 2: drop what is being spoken and waiting first.
    void speak(const std::string& text, int flags) override;
    int Rate() const override;
    void setRate(int rate) override;
    int volume() const override;
    void setVolume(int volume) override;
    bool speaking() const override;

    // The words per minute a SAPI rate asks espeak for: 175 at 0, times 1.1 for each step,
    // held within the 80..450 that espeak accepts.
    static int wordsPerMinute(int rate);
    int sampleRate() const;

    // Waits until all queued speech has been synthesized and, on a device, played out.
    bool waitUntilIdle(std::chrono::milliseconds timeout);
    // Runs on the synthesis thread when the first samples of each utterance exist, before they
    // are played or written; for measuring latency. Setting it waits until the voice is idle.
    void setFirstAudioHook(std::function<void()> hook);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace tw
