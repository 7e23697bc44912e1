// platform/linux/speechd_reader.h: the screen reader's speech, reached through speech-dispatcher.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace tw {

// A client connection to speech-dispatcher. The address comes from SPEECHD_ADDRESS or
// speech-dispatcher's default socket. Nothing is connected until the first text: then the
// daemon is connected to, and started if it is installed and not running, as its own clients
// do; one that goes away is connected to (and started) again for the next text.
//
// Every call into libspeechd runs on the reader's own thread, so the caller never waits for the
// daemon. A daemon that does not answer a connection or a command within answerLimit is given
// up for good: the reader calls onSilent once, from its own thread, and drops every text after.
class SpeechdReader : public ScreenReaderApi {
public:
    // Throws PlatformError when there is nothing to talk to: no socket at the address and no
    // daemon program to start (daemon empty: never start one).
    explicit SpeechdReader(std::function<void()> onSilent = {},
                           std::chrono::milliseconds answerLimit = std::chrono::seconds(1),
                           const std::string& daemon = kDaemonProgram);
    static constexpr const char* kDaemonProgram = "/usr/bin/speech-dispatcher";
    // Lets queued texts go out for a moment, then cuts the connection; never waits longer than
    // about half a second, whatever the daemon does.
    ~SpeechdReader() override;
    SpeechdReader(const SpeechdReader&) = delete;
    SpeechdReader& operator=(const SpeechdReader&) = delete;

    // flush false: said after what is queued (message priority). flush true: our speech so far
    // is cancelled first. An empty text with flush only cancels.
    void SayString(const std::string& text, bool flush) override;

    // Waits until every SayString so far has been sent or dropped; false on timeout.
    bool waitUntilSent(std::chrono::milliseconds timeout);
    // False while no daemon is connected.
    bool connected() const;
    // True once the daemon has been given up.
    bool silent() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace tw
