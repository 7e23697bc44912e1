// platform/linux/speechd_reader.h: the screen reader's speech, reached through speech-dispatcher.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tw {

// A client connection to speech-dispatcher. The address comes from SPEECHD_ADDRESS or
// speech-dispatcher's default socket. A daemon that is installed but not running is started for
// the first text, as its own clients do; one that goes away is connected to again (and started again) for the next
// text. Texts go out on a thread of the reader's own, so a daemon that hangs or dies never
// holds up the game.
class SpeechdReader : public ScreenReaderApi {
public:
    // Throws PlatformError, with speech-dispatcher's reason, when no daemon answers in time and
    // none can be started: daemon, the program libspeechd starts, is not there (empty: never
    // start one), or a daemon took the connection and then said nothing.
    explicit SpeechdReader(std::chrono::milliseconds connectTimeout = std::chrono::seconds(2),
                           const std::string& daemon = kDaemonProgram);
    static constexpr const char* kDaemonProgram = "/usr/bin/speech-dispatcher";
    ~SpeechdReader() override;
    SpeechdReader(const SpeechdReader&) = delete;
    SpeechdReader& operator=(const SpeechdReader&) = delete;

    // flush false: said after what is queued (message priority). flush true: our speech so far
    // is cancelled first. An empty text with flush only cancels.
    void SayString(const std::string& text, bool flush) override;

    // Waits until every SayString so far has been sent or dropped; false on timeout.
    bool waitUntilSent(std::chrono::milliseconds timeout);
    // False while no daemon is connected; texts meanwhile are dropped.
    bool connected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tw
