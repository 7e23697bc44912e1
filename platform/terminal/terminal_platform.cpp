// platform/terminal/terminal_platform.cpp: the terminal Platform: raw keys, printed speech, restore.
#include "platform/terminal/terminal_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/linux/espeak_voice.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/sound_player.h"
#include "platform/linux/speechd_reader.h"

namespace tw {

namespace {

// Kitty keyboard protocol flags pushed: disambiguate (1), event types (2), alternate keys (4),
// every key as an escape code (8). Event types make bare modifier presses visible.
constexpr std::string_view kKittyPush = "\x1b[>15u";
constexpr std::string_view kKittyPop = "\x1b[<u";
constexpr std::string_view kKittyQuery = "\x1b[?u";
constexpr std::string_view kDeviceAttributesQuery = "\x1b[c";
constexpr std::string_view kTitlePush = "\x1b[22;0t";
constexpr std::string_view kTitlePop = "\x1b[23;0t";
constexpr int kKeyboardReplyMs = 300;
constexpr std::size_t kMaxReadPerPump = 64 * 1024;

// Everything a signal handler needs to hand the terminal back: plain data, written before the
// handlers are armed and only read by them.
struct TermState {
    volatile std::sig_atomic_t armed = 0;
    int inFd = -1;
    int outFd = -1;
    bool haveTermios = false;
    termios saved{};
    termios raw{};
    termios lineMode{};  // while the player types a line
    volatile std::sig_atomic_t inLineMode = 0;
    volatile std::sig_atomic_t titleSaved = 0;  // the title was pushed on the terminal's stack
    volatile std::sig_atomic_t kittyOn = 0;     // kitty keyboard flags were pushed
};

TermState g_term;
bool g_signalsTaken = false;
// Set by the handler of a signal that asks the game to end; the self-pipe wakes a waiting poll,
// whichever thread the signal reached.
volatile std::sig_atomic_t g_endingSignal = 0;
int g_wakePipe[2] = {-1, -1};

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};
// These end the game the orderly way: the voice finishes, threads are joined, then the signal
// is raised again. The others (and crashes) end it at once, once the terminal is restored.
constexpr int kOrderlySignals[] = {SIGINT, SIGTERM, SIGHUP};

bool orderly(int sig) {
    for (int s : kOrderlySignals)
        if (s == sig) return true;
    return false;
}
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_oldActions[NSIG];

void writeRaw(int fd, const char* data, std::size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a closed terminal: nothing more can be shown
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

// Async-signal-safe: only tcflush, tcsetattr and write. At the end, keys typed into the game must
// not run as commands in the shell; a suspension keeps them for when the game continues.
void restoreState(TermState& s, bool ending) {
    if (!s.armed) return;
    s.armed = 0;
    if (s.haveTermios) {
        if (ending) tcflush(s.inFd, TCIFLUSH);
        tcsetattr(s.inFd, TCSANOW, &s.saved);
    }
    // Undone in reverse order of doing.
    if (s.kittyOn && !s.inLineMode) writeRaw(s.outFd, kKittyPop.data(), kKittyPop.size());
    if (s.titleSaved) writeRaw(s.outFd, kTitlePop.data(), kTitlePop.size());
}

void onEndingSignal(int sig) {
    int savedErrno = errno;
    restoreState(g_term, true);
    if (orderly(sig) && g_endingSignal == 0) {
        // SA_RESETHAND put the default action back, so a second one ends the process at once.
        g_endingSignal = sig;
        if (g_wakePipe[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &byte, 1);
        }
    } else {
        // SA_RESETHAND put the default action back: raising ends the process the way the signal would.
        raise(sig);
    }
    errno = savedErrno;
}

void onSuspend(int) {
    int savedErrno = errno;
    bool wasArmed = g_term.armed != 0;
    restoreState(g_term, false);
    raise(SIGSTOP);
    // Continued: back into the mode the game had, keys or a line being typed.
    if (wasArmed) {
        if (g_term.titleSaved) writeRaw(g_term.outFd, kTitlePush.data(), kTitlePush.size());
        if (g_term.inLineMode) {
            if (g_term.haveTermios) tcsetattr(g_term.inFd, TCSANOW, &g_term.lineMode);
        } else {
            if (g_term.haveTermios) tcsetattr(g_term.inFd, TCSANOW, &g_term.raw);
            if (g_term.kittyOn) writeRaw(g_term.outFd, kKittyPush.data(), kKittyPush.size());
        }
        g_term.armed = 1;
    }
    errno = savedErrno;
}

void installHandler(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, &g_oldActions[sig]);
}

void takeSignals() {
    if (g_wakePipe[0] < 0 && pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
    g_endingSignal = 0;
    for (int sig : kEndSignals) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (current.sa_handler == SIG_IGN && sig != SIGTERM && sig != SIGPIPE) {
            g_oldActions[sig] = current;
            continue;
        }
        installHandler(sig, onEndingSignal, SA_RESETHAND | SA_NODEFER);
    }
    for (int sig : kCrashSignals) installHandler(sig, onEndingSignal, SA_RESETHAND | SA_NODEFER);
    installHandler(SIGTSTP, onSuspend, SA_RESTART);
}

void giveSignalsBack() {
    for (int sig : kEndSignals) sigaction(sig, &g_oldActions[sig], nullptr);
    for (int sig : kCrashSignals) sigaction(sig, &g_oldActions[sig], nullptr);
    sigaction(SIGTSTP, &g_oldActions[SIGTSTP], nullptr);
}

// Text fit for one printed line: control characters (C0, DEL and the C1 range as UTF-8) would be
// read by the terminal as commands, and a line break would split one utterance in two.
std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out.push_back(' ');
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out.push_back(' ');
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int millisUntil(std::chrono::steady_clock::time_point when) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - std::chrono::steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

struct TerminalPlatform::Saved {
    TermState own;     // used when another owner holds the signal handlers
    TermState* state;  // g_term or own
};

TerminalPlatform::TerminalPlatform(TerminalSettings settings)
    : settings_(std::move(settings)), saved_(std::make_unique<Saved>()) {
    inTty_ = isatty(settings_.inFd) == 1;
    // Control sequences only go to a terminal the player is typing in: with keys from a pipe
    // the output is a record, even when it is shown on a terminal.
    outTty_ = inTty_ && isatty(settings_.outFd) == 1;
    ownsSignals_ = settings_.handleSignals && !g_signalsTaken;
    TermState& s = ownsSignals_ ? g_term : saved_->own;
    saved_->state = &s;
    s = TermState{};
    s.inFd = settings_.inFd;
    s.outFd = settings_.outFd;
    if (inTty_ && tcgetattr(settings_.inFd, &s.saved) == 0) {
        s.haveTermios = true;
        s.raw = s.saved;
        // Keys one by one without echo; Ctrl+C still interrupts, but Ctrl+\ and Ctrl+Z are keys,
        // and Ctrl+S and Ctrl+Q must not freeze the output of a player who cannot see it.
        s.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
        s.raw.c_lflag |= ISIG;
        s.raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | INPCK | PARMRK);
        // Output processing stays as it was: a line feed also returns the carriage, for this
        // program's lines and for those of a program its output is piped through.
        s.raw.c_cc[VMIN] = 1;
        s.raw.c_cc[VTIME] = 0;
        s.raw.c_cc[VQUIT] = _POSIX_VDISABLE;
        s.raw.c_cc[VSUSP] = _POSIX_VDISABLE;
        // The player's line editing: the terminal as it was, with echo and lines on in any case.
        s.lineMode = s.saved;
        s.lineMode.c_lflag |= ICANON | ECHO | ISIG;
        s.lineMode.c_iflag |= ICRNL;
    }
    if (outTty_) {
        s.titleSaved = 1;
        titlePushed_ = true;
    }
    if (ownsSignals_) {
        g_signalsTaken = true;
        takeSignals();
    }
    s.armed = 1;
    if (titlePushed_) write(kTitlePush);
    if (s.haveTermios) enterRaw();
    if (raw_ && outTty_ && settings_.queryKeyboard) queryKeyboardProtocol();
}

TerminalPlatform::~TerminalPlatform() {
    restoreTerminal();
    if (ownsSignals_) {
        giveSignalsBack();
        g_signalsTaken = false;
    }
}

void TerminalPlatform::restoreTerminal() {
    restoreState(*saved_->state, true);
    raw_ = false;
}

void TerminalPlatform::enterRaw() {
    TermState& s = *saved_->state;
    if (!s.haveTermios) return;
    raw_ = tcsetattr(settings_.inFd, TCSANOW, &s.raw) == 0;
    s.inLineMode = 0;
    if (kittyPushed_) write(kKittyPush);
}

void TerminalPlatform::leaveRaw() {
    TermState& s = *saved_->state;
    if (!raw_) return;
    if (kittyPushed_) write(kKittyPop);
    s.inLineMode = 1;
    tcsetattr(settings_.inFd, TCSANOW, &s.lineMode);
    raw_ = false;
}

void TerminalPlatform::queryKeyboardProtocol() {
    // Terminals that know the protocol answer the first query; all answer the second, so its
    // answer ends the wait. Keys typed meanwhile are kept.
    write(std::string(kKittyQuery) + std::string(kDeviceAttributesQuery));
    auto until = Clock::now() + std::chrono::milliseconds(kKeyboardReplyMs);
    bool kitty = false;
    bool answered = false;
    while (!answered && !eof_) {
        int left = millisUntil(until);
        if (left == 0) break;
        pump(left);
        decodeAll();
        TerminalReplies r = decoder_.takeReplies();
        kitty = kitty || r.kittyFlags;
        answered = r.primaryDA;
    }
    if (!kitty) return;
    write(kKittyPush);
    saved_->state->kittyOn = 1;
    kittyPushed_ = true;
}

void TerminalPlatform::write(std::string_view bytes) { writeRaw(settings_.outFd, bytes.data(), bytes.size()); }

void TerminalPlatform::printLine(const std::string& text) { write(printable(text) + "\n"); }

void TerminalPlatform::setTitle(const std::string& text) {
    title_ = text;
    if (outTty_) write("\x1b]2;" + printable(text) + "\x07");
}

void TerminalPlatform::said(const std::string& text, int speechmode) {
    if (text.empty()) return;
    // Paths 1 and 2 are the screen reader's: the printed line is what it reads.
    if (speechmode == 1 || speechmode == 2 || settings_.echo) printLine(text);
}

void TerminalPlatform::pump(int timeoutMs) {
    if (eof_ || g_endingSignal) return;
    if (ownsSignals_ && g_wakePipe[0] >= 0) {
        pollfd both[2] = {{settings_.inFd, POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
        if (poll(both, 2, timeoutMs) <= 0 || g_endingSignal ||
            !(both[0].revents & (POLLIN | POLLHUP | POLLNVAL | POLLERR)))
            return;
        timeoutMs = 0;
    }
    pollfd p{settings_.inFd, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    std::size_t total = 0;
    while (ready > 0 && !eof_ && total < kMaxReadPerPump) {
        if (p.revents & POLLNVAL) {
            eof_ = true;
            break;
        }
        char buf[4096];
        ssize_t n = ::read(settings_.inFd, buf, sizeof buf);
        if (n > 0) {
            inbuf_.append(buf, static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
            lastInput_ = Clock::now();
        } else if (n == 0) {
            eof_ = true;  // the pipe's writer is gone
        } else if (errno == EINTR || errno == EAGAIN) {
            break;
        } else {
            eof_ = true;  // EIO: the terminal was closed
        }
        p.revents = 0;
        ready = poll(&p, 1, 0);
    }
}

void TerminalPlatform::decodeAll() {
    if (inpos_ >= inbuf_.size()) return;
    std::vector<KeyDown> keys;
    decoder_.feed(std::string_view(inbuf_).substr(inpos_), keys);
    inbuf_.clear();
    inpos_ = 0;
    for (const KeyDown& k : keys) queue_.push_back({k, false});
}

int TerminalPlatform::escapeWaitMs() const {
    if (!decoder_.wantsTimeout() || inpos_ < inbuf_.size()) return -1;
    if (eof_) return 0;
    return millisUntil(lastInput_ + std::chrono::milliseconds(settings_.escapeDelayMs));
}

bool TerminalPlatform::nextKey(Queued& key) {
    // One byte at a time, so bytes after the key stay undecoded for an input box that may follow.
    std::vector<KeyDown> keys;
    while (queue_.empty() && inpos_ < inbuf_.size()) {
        decoder_.feed(std::string_view(inbuf_).substr(inpos_, 1), keys);
        ++inpos_;
        for (const KeyDown& k : keys) queue_.push_back({k, false});
        keys.clear();
    }
    if (inpos_ >= inbuf_.size()) {
        inbuf_.clear();
        inpos_ = 0;
    }
    if (queue_.empty() && escapeWaitMs() == 0) {
        for (const KeyDown& k : decoder_.timeout()) queue_.push_back({k, false});
    }
    if (queue_.empty()) return false;
    key = queue_.front();
    queue_.pop_front();
    return true;
}

void TerminalPlatform::checkEndingSignal() {
    if (g_endingSignal) endProcess(128 + g_endingSignal);
}

int TerminalPlatform::endingSignal() { return g_endingSignal; }

void TerminalPlatform::doEvents() {
    checkEndingSignal();
    pump(0);
    // A handler may let events run itself: each key leaves the queue before it is delivered.
    Queued next;
    while (nextKey(next)) {
        if (!sink_) continue;
        if (next.synthetic)
            sink_->syntheticKeyDown(next.key.KeyCode, next.key.Shift);
        else
            sink_->Form_KeyDown(next.key.KeyCode, next.key.Shift);
        checkEndingSignal();
    }
    // The timer comes after the keys, as a window's timer message does.
    if (interval_ > 0 && Clock::now() >= deadline_) {
        deadline_ = Clock::now() + std::chrono::milliseconds(interval_);
        if (sink_) sink_->Holder_Timer();
    }
    if (eof_ && queue_.empty() && inpos_ >= inbuf_.size() && !decoder_.wantsTimeout()) endOfInput();
}

void TerminalPlatform::waitEvents() {
    checkEndingSignal();
    if (!queue_.empty() || inpos_ < inbuf_.size() || eof_) return;
    int timeout = -1;
    if (interval_ > 0) timeout = millisUntil(deadline_);
    int esc = escapeWaitMs();
    if (esc >= 0 && (timeout < 0 || esc < timeout)) timeout = esc;
    if (timeout == 0) return;
    pump(timeout);
}

void TerminalPlatform::setTimer(int intervalMs) {
    interval_ = intervalMs > 0 ? intervalMs : 0;
    if (interval_ > 0) deadline_ = Clock::now() + std::chrono::milliseconds(interval_);
}

void TerminalPlatform::keybd_event(int vk, int flags) {
    // Flag 2 is a release. No screen reader here listens for the chord: the presses come back to
    // the game's own window, after whatever was typed before them.
    int bit = vk == key::Shift ? key::ShiftMask : vk == key::Ctrl ? key::CtrlMask : vk == key::Alt ? key::AltMask : 0;
    if (flags & 2) {
        syntheticMods_ &= ~bit;
        return;
    }
    syntheticMods_ |= bit;
    pump(0);
    decodeAll();
    queue_.push_back({KeyDown{vk, syntheticMods_}, true});
}

void TerminalPlatform::messageBox(const std::string& text, const std::string& caption) {
    (void)caption;
    printLine(text);
    printLine("Press Enter.");
    if (sink_) sink_->speakBox(text + "  Press Enter.", false);
    // Keys already typed reach the box first, as they would reach a dialog.
    for (;;) {
        Queued next;
        while (nextKey(next)) {
            if (next.synthetic) continue;
            if (next.key.KeyCode == key::Enter || next.key.KeyCode == key::Escape) return;
        }
        checkEndingSignal();
        if (eof_ && !decoder_.wantsTimeout()) endOfInput();
        pump(escapeWaitMs());
    }
}

std::string TerminalPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    if (!caption.empty()) printLine(caption);
    printLine(prompt);
    // On the voice path the game has just spoken its own prompt; a second one would cut it off.
    if (sink_) sink_->speakBox(caption.empty() ? prompt : caption + ".  " + prompt, true);
    std::string line;
    bool ended = false;
    if (raw_) {
        // The terminal's own line editing, so the player's screen reader follows the typing.
        leaveRaw();
        for (;;) {
            char c;
            ssize_t n = ::read(settings_.inFd, &c, 1);
            if (n == 1) {
                if (c == '\n') break;
                line.push_back(c);
            } else if (n == 0) {
                ended = true;  // Ctrl+D on an empty line
                break;
            } else if (errno != EINTR) {
                eof_ = true;  // the terminal was closed
                ended = true;
                break;
            } else if (g_endingSignal) {
                break;
            }
        }
        enterRaw();
        checkEndingSignal();
    } else {
        // Without a terminal the answer is the next line of input, typed ahead or not.
        decoder_.reset();
        for (;;) {
            std::size_t nl = inbuf_.find('\n', inpos_);
            if (nl != std::string::npos) {
                line = inbuf_.substr(inpos_, nl - inpos_);
                inpos_ = nl + 1;
                break;
            }
            if (eof_) {
                ended = true;
                inbuf_.clear();
                inpos_ = 0;
                break;
            }
            checkEndingSignal();
            pump(-1);
        }
    }
    if (ended) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool TerminalPlatform::fileExists(const std::string& path) { return files::isFile(path); }

double TerminalPlatform::secondsSinceMidnight() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
}

bool TerminalPlatform::anotherInstanceRunning() { return tw::anotherInstanceRunning(settings_.programFolder); }

// The terminal is handed back before the game's objects are torn down, so nothing the
// voice or the reader does on the way out can leave it in raw mode.
void TerminalPlatform::beforeEnd() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    restoreTerminal();
}

void TerminalPlatform::endOfInput() {
    // Like the system closing the window: the game gets no say and nothing is saved.
    endProcess(0);
}

std::unique_ptr<Voice> TerminalPlatform::createVoice() { return std::make_unique<EspeakVoice>(settings_.speechWav); }

std::unique_ptr<ScreenReaderApi> TerminalPlatform::createJawsApi() { return std::make_unique<SpeechdReader>(); }

void TerminalPlatform::playSound(const std::string& path) { playWavAsync(path); }

}  // namespace tw
