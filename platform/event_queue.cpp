// platform/event_queue.cpp: the window's queue of key-downs and its timer.
#include "platform/event_queue.h"

#include <iterator>

#include "platform/keys.h"

namespace tw {

void EventQueue::pushKey(int code, int shift, double atMs, bool synthetic) {
    // Searched from the back, where a new key almost always goes, so a long paste is queued in
    // linear time.
    auto pos = keys_.end();
    while (pos != keys_.begin() && std::prev(pos)->atMs > atMs) --pos;
    keys_.insert(pos, Key{atMs, code, shift, synthetic});
}

void EventQueue::keybdEvent(int vk, int flags, double atMs) {
    const int bit = key::modifierMask(vk);
    if (flags & key::EventRelease) {
        syntheticMods_ &= ~bit;
        return;
    }
    syntheticMods_ |= bit;
    pushKey(vk, syntheticMods_, atMs, true);
}

bool EventQueue::popDue(double nowMs, Key& key) {
    if (keys_.empty() || keys_.front().atMs > nowMs) return false;
    key = keys_.front();
    keys_.pop_front();
    return true;
}

void EventQueue::setTimer(int intervalMs, double nowMs) {
    interval_ = intervalMs > 0 ? intervalMs : 0;
    deadline_ = nowMs + interval_;
}

double EventQueue::nextDueMs() const {
    double next = interval_ > 0 ? deadline_ : -1;
    if (!keys_.empty() && (next < 0 || keys_.front().atMs < next)) next = keys_.front().atMs;
    return next;
}

bool EventQueue::run(EventSink* sink, const std::function<double()>& nowMs, const std::function<bool()>& refill,
                     const std::function<void()>& afterKey) {
    bool ran = false;
    Key next;
    while (popDue(nowMs(), next) || (refill && keys_.empty() && refill() && popDue(nowMs(), next))) {
        ran = true;
        if (!sink) continue;
        if (next.synthetic)
            sink->syntheticKeyDown(next.code, next.shift);
        else
            sink->Form_KeyDown(next.code, next.shift);
        if (afterKey) afterKey();
    }
    if (interval_ > 0 && nowMs() >= deadline_) {
        deadline_ = nowMs() + interval_;
        ran = true;
        if (sink) sink->Holder_Timer();
    }
    return ran;
}

}  // namespace tw
