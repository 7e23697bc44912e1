// platform/terminal/terminal_input.cpp: the terminal's keys: reading what is ready, decoding it,
// the key queue with the game's own presses, the timer, and signals that ask the game to end.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/terminal/terminal_clock.h"
#include "platform/terminal/terminal_platform.h"
#include "platform/terminal/terminal_restore.h"

namespace tw {

using namespace terminal;

namespace {
constexpr std::size_t kMaxReadPerPump = 64 * 1024;
}  // namespace

void TerminalPlatform::pump(int timeoutMs) {
    if (eof_ || terminal::endingSignal()) return;
    if (ownsSignals_ && wakeFd() >= 0) {
        pollfd both[2] = {{settings_.inFd, POLLIN, 0}, {wakeFd(), POLLIN, 0}};
        const int ready = poll(both, 2, timeoutMs);
        if (ready > 0 && (both[1].revents & POLLIN)) drainWakes();
        if (ready <= 0 || terminal::endingSignal() || !(both[0].revents & (POLLIN | POLLHUP | POLLNVAL | POLLERR)))
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
    for (const KeyDown& k : keys) events_.pushKey(k.KeyCode, k.Shift, nowMs());
    takeTerminalReplies();
}

int TerminalPlatform::escapeWaitMs() const {
    if (!decoder_.wantsTimeout() || inpos_ < inbuf_.size()) return -1;
    if (eof_) return 0;
    return millisUntil(lastInput_ + std::chrono::milliseconds(settings_.escapeDelayMs));
}

double TerminalPlatform::nowMs() {
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

bool TerminalPlatform::decodeNext() {
    // One byte at a time, so bytes after the key stay undecoded for an input box that may follow.
    std::vector<KeyDown> keys;
    while (keys.empty() && inpos_ < inbuf_.size()) {
        decoder_.feed(std::string_view(inbuf_).substr(inpos_, 1), keys);
        ++inpos_;
    }
    if (inpos_ >= inbuf_.size()) {
        inbuf_.clear();
        inpos_ = 0;
    }
    if (keys.empty() && escapeWaitMs() == 0) keys = decoder_.timeout();
    for (const KeyDown& k : keys) events_.pushKey(k.KeyCode, k.Shift, nowMs());
    return !keys.empty();
}

bool TerminalPlatform::nextKey(EventQueue::Key& key) {
    return events_.popDue(nowMs(), key) || (decodeNext() && events_.popDue(nowMs(), key));
}

void TerminalPlatform::checkEndingSignal() {
    if (const int sig = terminal::endingSignal()) endProcess(128 + sig);
}

int TerminalPlatform::endingSignal() { return terminal::endingSignal(); }

void TerminalPlatform::doEvents() {
    checkEndingSignal();
    pump(0);
    if (readerSilent_.exchange(false) && sink_) sink_->screenReaderSilent();
    events_.run(
        sink_, nowMs, [this] { return decodeNext(); }, [this] { checkEndingSignal(); });
    if (eof_ && events_.empty() && inpos_ >= inbuf_.size() && !decoder_.wantsTimeout() &&
        !(sink_ && sink_->handlingKey()))
        endOfInput();
}

void TerminalPlatform::waitEvents() {
    checkEndingSignal();
    if (!events_.empty() || inpos_ < inbuf_.size()) return;
    if (eof_) {
        // Nothing more to read: only a wait under way (or a signal) can still wake the game.
        if (events_.timerRunning() && wakeFd() >= 0) {
            pollfd wake{wakeFd(), POLLIN, 0};
            poll(&wake, 1, untilDue());
        }
        return;
    }
    int timeout = events_.timerRunning() ? untilDue() : -1;
    int esc = escapeWaitMs();
    if (esc >= 0 && (timeout < 0 || esc < timeout)) timeout = esc;
    if (timeout == 0) return;
    pump(timeout);
}

int TerminalPlatform::untilDue() {
    const double ms = events_.nextDueMs() - nowMs();
    return ms <= 0 ? 0 : static_cast<int>(ms) + 1;
}

void TerminalPlatform::setTimer(int intervalMs) { events_.setTimer(intervalMs, nowMs()); }

void TerminalPlatform::keybd_event(int vk, int flags) {
    // No screen reader here listens for the chord: the presses come back to the game's own
    // window, after whatever was typed before them.
    pump(0);
    decodeAll();
    events_.keybdEvent(vk, flags, nowMs());
}

}  // namespace tw
