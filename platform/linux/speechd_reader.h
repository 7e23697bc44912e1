// platform/linux/speechd_reader.h: the screen reader's speech, reached through speech-dispatcher.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tw {

// A client connection to a running speech-dispatcher; the daemon is never started from here.
// The address comes from SPEECHD_ADDRESS or speech-dispatcher's default socket. Texts go out on
// a thread of the reader's own, so a daemon that hangs or dies never holds up the game.
class SpeechdReader : public ScreenReaderApi {
public:
    // Throws PlatformError, with speech-dispatcher's reason, when no daemon answers in time.
    explicit SpeechdReader(std::chrono::milliseconds connectTimeout = std::chrono::seconds(2));
    ~SpeechdReader() override;
    SpeechdReader(const SpeechdReader&) = delete;
    SpeechdReader& operator=(const SpeechdReader&) = delete;

    // flush false: said after what is queued (message priority). flush true: our speech so far
    // is cancelled first. An empty text with flush only cancels.
    void SayString(const std::string& text, bool flush) override;

    // Waits until every SayString so far has been sent or dropped; false on timeout.
    bool waitUntilSent(std::chrono::milliseconds timeout);
    // False once the daemon has gone away; later texts are dropped.
    bool connected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tw
