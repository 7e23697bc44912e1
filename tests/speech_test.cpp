// tests/speech_test.cpp: timed waits on the virtual clock, with keys handled during them; what the speech paths
// say is in the key scripts of tests/transcripts/.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "keys_util.h"

namespace tw::keytest {
namespace {

using Lines = std::vector<std::string>;

using SpeechTest = KeyFixture;

// Stands between the platform and the game and notes when each key and timer tick arrives, in
// milliseconds since origin on the virtual clock. A key equal to holdKey also waits half a second.
struct ClockSink : EventSink {
    HeadlessPlatform& platform;
    Form1& form;
    double origin = platform.nowMs();
    int holdKey = -1;
    Lines log;

    ClockSink(HeadlessPlatform& p, Form1& f) : platform(p), form(f) { p.attach(this); }
    ~ClockSink() override { platform.attach(&form); }
    void note(const std::string& what) {
        log.push_back(what + " at " + std::to_string(std::lround(platform.nowMs() - origin)));
    }
    void Form_KeyDown(int KeyCode, int Shift) override {
        note("key " + std::to_string(KeyCode));
        form.Form_KeyDown(KeyCode, Shift);
        if (KeyCode == holdKey) {
            form.hold(0.5);
            note("inner end");
        }
    }
    void syntheticKeyDown(int KeyCode, int Shift) override { form.syntheticKeyDown(KeyCode, Shift); }
    void Holder_Timer() override {
        note("tick");
        form.Holder_Timer();
    }
    void speakBox(const std::string& text, bool promptSpoken) override { form.speakBox(text, promptSpoken); }
};

TEST_F(SpeechTest, HoldWaitsOnTheVirtualClockAndHandlesKeysMeanwhile) {
    startGame();
    const std::string where = type("X").back();  // where the player is, said on the title path
    platform->events.clear();
    ClockSink sink(*platform, *form);
    form->hold(0.5);
    // Too short to round to a millisecond: no wait at all, no tick.
    form->hold(0.0001);
    sink.note("end");
    EXPECT_EQ(sink.log, (Lines{"tick at 500", "end at 500"}));
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "the key starts a wait of its own" : "a plain key");
        sink.log.clear();
        sink.origin = platform->nowMs();
        sink.holdKey = nested ? 'X' : -1;
        platform->queueKey('X', 0, sink.origin + 300);
        form->hold(1);
        sink.note("end");
        // A wait started by the key re-arms the shared timer for 500 ms from 300; its tick ends both.
        EXPECT_EQ(sink.log, (nested ? Lines{"key 88 at 300", "tick at 800", "inner end at 800", "end at 800"}
                                    : Lines{"key 88 at 300", "tick at 1000", "end at 1000"}));
        EXPECT_EQ(std::exchange(platform->events, {}),
                  (Lines{"say: " + where, "title: " + where + " ", "title: " + where}));
        EXPECT_FALSE(form->Holder.Enabled());
        EXPECT_TRUE(platform->idle());
    }
}

}  // namespace
}  // namespace tw::keytest
