// platform/terminal/terminal_restore.h: what the terminal front end needs to hand the terminal
// back from anywhere, a signal handler included: the saved modes, the handlers, the escapes.
#pragma once

#include <termios.h>

#include <csignal>
#include <cstddef>
#include <string_view>

#include "platform/terminal/terminal_platform.h"

namespace tw::terminal {

// Kitty keyboard protocol flags pushed: disambiguate (1), event types (2), alternate keys (4),
// every key as an escape code (8). Event types make bare modifier presses visible.
constexpr std::string_view kKittyPush = "\x1b[>15u";
constexpr std::string_view kKittyPop = "\x1b[<u";
constexpr std::string_view kKittyQuery = "\x1b[?u";
constexpr std::string_view kDeviceAttributesQuery = "\x1b[c";
constexpr std::string_view kTitlePush = "\x1b[22;0t";
constexpr std::string_view kTitlePop = "\x1b[23;0t";

// Everything a signal handler needs to hand the terminal back: plain data, written before the
// handlers are armed and only read by them.
struct TermState {
    volatile std::sig_atomic_t armed = 0;
    int inFd = -1;
    int outFd = -1;
    bool haveTermios = false;
    termios saved{};
    termios raw{};
    volatile std::sig_atomic_t inLineMode = 0;  // a line is typed: the kitty flags are popped
    volatile std::sig_atomic_t titleSaved = 0;  // the title was pushed on the terminal's stack
    volatile std::sig_atomic_t kittyOn = 0;     // kitty keyboard flags were pushed
    volatile std::sig_atomic_t parkedRows = 0;  // rows of the message the cursor waits at the start of
};

// The state the process-wide handlers restore.
extern TermState g_term;

// Takes SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, the crash signals and SIGTSTP for g_term;
// false, taking nothing, when another platform holds them already.
bool takeSignals();
void giveSignalsBack();
// Async-signal-safe: puts the terminal of s back; ending also drops keys typed but not read.
void restoreState(TermState& s, bool ending);
void writeRaw(int fd, const char* data, std::size_t len);
// Async-signal-safe: from the start of a message of parkedRows rows to a fresh line below it.
void leaveMessage(TermState& s);
// The signal that asked the game to end the orderly way, or 0; and the descriptor a waiting
// poll watches to wake for it (-1 when there is none).
int endingSignal();
int wakeFd();
// Wakes the game's thread from its wait for keys; safe from any thread and from signal handlers.
void wakeGame();
// Empties the wake pipe once the game's thread has woken.
void drainWakes();

}  // namespace tw::terminal

namespace tw {

struct TerminalPlatform::Saved {
    terminal::TermState own;     // used when another owner holds the signal handlers
    terminal::TermState* state;  // g_term or own
};

}  // namespace tw
