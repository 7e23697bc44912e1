// platform/event_queue.h: the window's queue of key-downs and its one timer, for the back ends that
// have no message queue of their own (the headless driver, the terminal, the browser). A back end
// pushes what its platform delivers and lets run() hand what is due to the game, in order: keys
// first, then the timer's tick, as a window's messages come.
#pragma once

#include <deque>
#include <functional>

#include "platform/platform.h"

namespace tw {

class EventQueue {
public:
    struct Key {
        double atMs = 0;
        int code = 0;
        int shift = 0;
        bool synthetic = false;  // sent by the game itself through keybd_event
    };

    // A key-down delivered once the clock reaches atMs; equal times keep their arrival order.
    void pushKey(int code, int shift, double atMs, bool synthetic = false);
    // The game's own keybd_event: its presses come back as keys, with the modifiers the chord
    // holds down at that moment; releases only let the modifiers go.
    void keybdEvent(int vk, int flags, double atMs);

    // The first key due by nowMs, taken off the queue; false when none is due.
    bool popDue(double nowMs, Key& key);
    bool empty() const { return keys_.empty(); }
    // A tick every intervalMs from nowMs while intervalMs is above 0; 0 stops the timer.
    void setTimer(int intervalMs, double nowMs);
    bool timerRunning() const { return interval_ > 0; }
    // When the next key or tick falls due; -1 when nothing is queued and the timer is stopped.
    double nextDueMs() const;

    // Delivers every key due now, one at a time (a handler may let events run itself, so each key
    // leaves the queue before it is delivered), then the tick when the timer is due. refill, when
    // given, may queue more keys once the queue is empty; afterKey runs after each key. Returns
    // whether anything was delivered.
    bool run(EventSink* sink, const std::function<double()>& nowMs, const std::function<bool()>& refill = {},
             const std::function<void()>& afterKey = {});

private:
    std::deque<Key> keys_;
    int syntheticMods_ = 0;
    int interval_ = 0;
    double deadline_ = 0;
};

}  // namespace tw
