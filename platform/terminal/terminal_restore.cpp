// platform/terminal/terminal_restore.cpp: the terminal handed back on every end, from signal
// handlers too: only async-signal-safe calls here.
#include "platform/terminal/terminal_restore.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace tw::terminal {

TermState g_term;

namespace {

bool g_signalsTaken = false;
// Set by the handler of a signal that asks the game to end; the self-pipe wakes a waiting poll,
// whichever thread the signal reached.
volatile std::sig_atomic_t g_endingSignal = 0;
// Set first thing by the handlers that end the game: from then on output is never waited on long.
volatile std::sig_atomic_t g_leaving = 0;
int g_wakePipe[2] = {-1, -1};

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};
constexpr int kWriteStepMs = 100;
constexpr int kEndingWriteWaitMs = 300;
constexpr std::size_t kWriteChunk = 512;
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

}  // namespace

void writeRaw(int fd, const char* data, std::size_t len) {
    // Output never keeps the game from an end it was asked for: a reader that stopped reading
    // (a full pipe, a stopped terminal) is waited on only in short steps while the game plays,
    // and once an end is asked for, at most once and briefly, and then dropped.
    static volatile std::sig_atomic_t stuck = 0;
    while (len > 0) {
        if (stuck) return;
        pollfd ready{fd, POLLOUT, 0};
        const bool ending = g_endingSignal != 0 || g_leaving != 0;
        const int polled = ::poll(&ready, 1, ending ? kEndingWriteWaitMs : kWriteStepMs);
        if (polled < 0 && errno != EINTR) return;
        if (polled <= 0) {
            if (ending && polled == 0) stuck = 1;
            continue;
        }
        // What poll promises room for: a pipe takes this much at once without blocking.
        ssize_t n = ::write(fd, data, len < kWriteChunk ? len : kWriteChunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a closed terminal: nothing more can be shown
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

void leaveMessage(TermState& s) {
    const int rows = s.parkedRows;
    if (rows <= 0) return;
    s.parkedRows = 0;
    // "\x1b[NB" moves down to the message's last row (it never scrolls), "\n" to a fresh line.
    char out[16] = "\x1b[";
    std::size_t n = 2;
    char digits[8];
    std::size_t k = 0;
    for (int r = rows - 1; r > 0 && k < sizeof digits; r /= 10) digits[k++] = static_cast<char>('0' + r % 10);
    while (k > 0) out[n++] = digits[--k];
    out[n++] = 'B';
    if (rows > 1) writeRaw(s.outFd, out, n);
    writeRaw(s.outFd, "\n", 1);
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
    leaveMessage(s);
    // Undone in reverse order of doing.
    if (s.kittyOn && !s.inLineMode) writeRaw(s.outFd, kKittyPop.data(), kKittyPop.size());
    if (s.titleSaved) writeRaw(s.outFd, kTitlePop.data(), kTitlePop.size());
}

void onEndingSignal(int sig) {
    int savedErrno = errno;
    g_leaving = 1;
    restoreState(g_term, true);
    if (orderly(sig) && g_endingSignal == 0) {
        // SA_RESETHAND put the default action back, so a second one ends the process at once.
        g_endingSignal = sig;
        wakeGame();
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
        if (g_term.haveTermios) tcsetattr(g_term.inFd, TCSANOW, &g_term.raw);
        if (g_term.kittyOn && !g_term.inLineMode) writeRaw(g_term.outFd, kKittyPush.data(), kKittyPush.size());
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

bool takeSignals() {
    if (g_signalsTaken) return false;
    g_signalsTaken = true;
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
    // A crash from a stack that overflowed has no stack left to run its handler on: the
    // handler gets one of its own, so that it still hands the terminal back.
    static char altStack[64 * 1024];
    stack_t alt{};
    alt.ss_sp = altStack;
    alt.ss_size = sizeof altStack;
    sigaltstack(&alt, nullptr);
    for (int sig : kCrashSignals) installHandler(sig, onEndingSignal, SA_RESETHAND | SA_NODEFER | SA_ONSTACK);
    installHandler(SIGTSTP, onSuspend, SA_RESTART);
    return true;
}

void giveSignalsBack() {
    for (int sig : kEndSignals) sigaction(sig, &g_oldActions[sig], nullptr);
    for (int sig : kCrashSignals) sigaction(sig, &g_oldActions[sig], nullptr);
    sigaction(SIGTSTP, &g_oldActions[SIGTSTP], nullptr);
    g_signalsTaken = false;
}

int endingSignal() { return g_endingSignal; }
int wakeFd() { return g_signalsTaken ? g_wakePipe[0] : -1; }

void wakeGame() {
    if (g_wakePipe[1] < 0) return;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_wakePipe[1], &byte, 1);
}

void drainWakes() {
    char bytes[64];
    while (g_wakePipe[0] >= 0 && ::read(g_wakePipe[0], bytes, sizeof bytes) > 0) {}
}

}  // namespace tw::terminal
