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
    for (const KeyDown& k : keys) queue_.push_back({k, false});
    takeTerminalReplies();
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
    if (const int sig = terminal::endingSignal()) endProcess(128 + sig);
}

int TerminalPlatform::endingSignal() { return terminal::endingSignal(); }

void TerminalPlatform::doEvents() {
    checkEndingSignal();
    pump(0);
    if (readerSilent_.exchange(false) && sink_) sink_->screenReaderSilent();
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
    if (eof_ && queue_.empty() && inpos_ >= inbuf_.size() && !decoder_.wantsTimeout() &&
        !(sink_ && sink_->handlingKey()))
        endOfInput();
}

void TerminalPlatform::waitEvents() {
    checkEndingSignal();
    if (!queue_.empty() || inpos_ < inbuf_.size()) return;
    if (eof_) {
        // Nothing more to read: only a wait under way (or a signal) can still wake the game.
        if (interval_ > 0 && wakeFd() >= 0) {
            pollfd wake{wakeFd(), POLLIN, 0};
            poll(&wake, 1, millisUntil(deadline_));
        }
        return;
    }
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
    const int bit = key::modifierMask(vk);
    if (flags & 2) {
        syntheticMods_ &= ~bit;
        return;
    }
    syntheticMods_ |= bit;
    pump(0);
    decodeAll();
    queue_.push_back({KeyDown{vk, syntheticMods_}, true});
}

}  // namespace tw
