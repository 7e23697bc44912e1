// platform/terminal/terminal_platform.h: the Platform of a text terminal: keys from standard input,
// speech as plain printed lines, and the terminal always handed back as it was found.
//
// What it supports, and what stands in for the Windows service:
// - keys: the terminal's bytes decoded to virtual-key codes (KeyDecoder); with a tty, raw mode and
//   the kitty keyboard protocol when the terminal has it; from a pipe, the same bytes.
// - the window title: the terminal's title (OSC 2), kept and restored; every text is also printed
//   as a line, which Orca, Speakup, Fenrir and braille displays read.
// - the SAPI voice: espeak-ng through SDL2 (EspeakVoice), or a WAV file with --speech-wav.
// - the JAWS API: speech-dispatcher (SpeechdReader), started if installed and not running.
// - keybd_event: the chord comes back to the game as keys; no screen reader here listens for it.
// - message and input boxes: printed lines, spoken on the game's path; the input box edits its
//   own line, and Escape or the end of input cancels it.
// - sndPlaySound: SDL2 playing the WAV asynchronously; silence when there is no sound device.
// - one copy per player folder: a lock file (instance_lock); the end: restoreTerminal, then
//   ProcessEnded, on "Exit the game", the end of input, SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_queue.h"
#include "platform/platform.h"
#include "platform/terminal/key_decoder.h"

namespace tw {

struct TerminalSettings {
    std::string programFolder;
    std::string playerFolder;  // empty: the program's folder
    std::string speechWav;     // path-0 speech goes to this WAV file when set
    bool echo = true;          // print what paths 0 and 3 speak
    int inFd = 0;
    int outFd = 1;
    // Process-wide handlers that put the terminal back on SIGINT, SIGTERM, SIGHUP, SIGPIPE,
    // SIGQUIT and crashes, and around a suspension. Only one platform at a time may own them.
    bool handleSignals = true;
    // Ask the terminal whether it speaks the kitty keyboard protocol, and turn it on if so.
    bool queryKeyboard = true;
    // How long a lone ESC byte waits for the rest of a sequence before it is the Escape key.
    int escapeDelayMs = 50;
};

class TerminalPlatform : public Platform {
public:
    explicit TerminalPlatform(TerminalSettings settings);
    ~TerminalPlatform() override;
    TerminalPlatform(const TerminalPlatform&) = delete;
    TerminalPlatform& operator=(const TerminalPlatform&) = delete;

    // The signal (SIGINT, SIGTERM, SIGHUP) that asked the game to end, or 0. The game then ends
    // through endProcess like any other end; the caller raises it again once all is torn down.
    static int endingSignal();

    bool rawMode() const { return raw_; }
    // Puts the terminal back now (idempotent); the destructor and every way of ending call it.
    void restoreTerminal();

    // Platform.
    void attach(EventSink* sink) override { sink_ = sink; }
    std::string title() override { return title_; }
    void setTitle(const std::string& text) override;
    void doEvents() override;
    void waitEvents() override;
    void setTimer(int intervalMs) override;
    void said(const std::string& text, int speechmode) override;
    void keybd_event(int vk, int flags) override;
    void messageBox(const std::string& text, const std::string& caption) override;
    std::string inputBox(const std::string& prompt, const std::string& caption) override;
    std::string programFolder() override { return settings_.programFolder; }
    std::string playerFolder() override {
        return settings_.playerFolder.empty() ? settings_.programFolder : settings_.playerFolder;
    }
    double secondsSinceMidnight() override;
    bool anotherInstanceRunning() override;
    void beforeEnd() override;
    std::unique_ptr<Voice> createVoice() override;
    std::unique_ptr<ScreenReaderApi> createJawsApi() override;
    void playSound(const std::string& path) override;

private:
    using Clock = std::chrono::steady_clock;

    void enterRaw();
    // While a line is typed the keyboard flags are off, so Escape and letters come as plain bytes.
    void setLineMode(bool typing);
    void queryKeyboardProtocol();
    void takeTerminalReplies();
    void write(std::string_view bytes);
    void printLine(const std::string& text);
    void printQuestion(const std::string& text);
    // Reads what standard input has ready, waiting up to timeoutMs (-1: forever) for the first byte.
    void pump(int timeoutMs);
    // The input box's line editing in raw mode, echoing what it keeps; false when the player
    // cancelled (Escape, Ctrl+D on an empty line, the end of input).
    bool editLine(std::string& line);
    // The next byte of input, waiting at most waitMs (-1: until one comes); false when none came.
    bool nextBoxByte(unsigned char& c, int waitMs);
    // The next key-down: queued ones first, then bytes decoded one at a time.
    bool nextKey(EventQueue::Key& key);
    // Decodes input a byte at a time until a key comes; false when none did.
    bool decodeNext();
    static double nowMs();
    // Milliseconds until the next key or tick falls due, rounded up.
    int untilDue();
    // Milliseconds until a lone ESC becomes Escape; -1 when none waits.
    int escapeWaitMs() const;
    [[noreturn]] void endOfInput();
    // Ends the game when a signal asked for it.
    void checkEndingSignal();
    void decodeAll();

    TerminalSettings settings_;
    EventSink* sink_ = nullptr;
    std::string title_;
    bool inTty_ = false;
    bool outTty_ = false;
    bool raw_ = false;
    bool titlePushed_ = false;
    bool kittyPushed_ = false;
    bool awaitingReplies_ = false;
    std::chrono::steady_clock::time_point repliesUntil_{};
    bool ownsSignals_ = false;
    bool eof_ = false;

    KeyDecoder decoder_;
    std::string inbuf_;  // bytes read and not yet decoded, from inpos_ on
    std::size_t inpos_ = 0;
    EventQueue events_;  // decoded and synthetic key-downs not yet delivered, and the timer
    Clock::time_point lastInput_{};
    // Set from the reader's thread when speech-dispatcher stopped answering.
    static inline std::atomic<bool> readerSilent_{false};

    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace tw
