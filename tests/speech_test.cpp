// tests/speech_test.cpp: the four speech paths, the Tab and rate keys, and timed waits on the virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "keys_util.h"

namespace tw::keytest {
namespace {

using Lines = std::vector<std::string>;

const Lines kKeybd = {"keybd: 17 0", "keybd: 16 0", "keybd: 84 0", "keybd: 17 2", "keybd: 16 2", "keybd: 84 2"};

Lines withKeybd(Lines lines) {
    lines.insert(lines.end(), kKeybd.begin(), kKeybd.end());
    return lines;
}

// A started game whose recorded events start empty.
class SpeechTest : public KeyFixture {
protected:
    void SetUp() override { restart(false); }
    void restart(bool jaws) {
        startSession(true, jaws);
        platform->events.clear();
    }
    Lines take() { return std::exchange(platform->events, {}); }
    // Into the house, then X says where the player is, on the title path; returns that text.
    std::string enterHouse() {
        startGame();
        const std::string where = type("X").back();
        platform->events.clear();
        return where;
    }
};

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

TEST_F(SpeechTest, VoiceTitleAndReaderPathsSpeakTheSameTextTwiceAndNothing) {
    struct Case {
        int mode;
        bool jaws;
        std::string heard;
    };  // heard: what carries the text
    for (const Case& c :
         {Case{0, false, "voice"}, Case{1, false, "title"}, Case{3, true, "reader"}, Case{3, false, "voice"}}) {
        SCOPED_TRACE("path " + std::to_string(c.mode) + (c.jaws ? " with" : " without") + " the reader object");
        restart(c.jaws);
        form->speechmode = c.mode;
        form->sayit("Kitchen");
        EXPECT_EQ(take(), (Lines{"say: Kitchen", c.heard + ": Kitchen"}));
        // The title must change for the screen reader to speak the same text again.
        form->sayit("Kitchen");
        EXPECT_EQ(take(), (c.mode == 1 ? Lines{"say: Kitchen", "title: Kitchen ", "title: Kitchen"}
                                       : Lines{"say: Kitchen", c.heard + ": Kitchen"}));
        // Empty text silences.
        form->sayit("");
        EXPECT_EQ(take(), (Lines{"say: ", c.heard + ": "}));
    }
}

TEST_F(SpeechTest, WindowEyesPathDropsItsOwnSixKeysAndKeepsThePlayers) {
    const std::string where = enterHouse();
    ASSERT_EQ(where.rfind("You are ", 0), 0u) << where;
    form->speechmode = 2;
    // Keys typed in one burst arrive while the chord is sent: they wait, then run in order,
    // and none of the game's own presses reaches the key handler.
    platform->queueKey('X');
    platform->queueKey('C');
    form->sayit("Find the cat.");
    const std::string held = "You are holding the " + form->itemname[form->helditem()] + ".";
    Lines expected = withKeybd({"say: Find the cat.", "title: Find the cat."});
    for (const Lines& more :
         {withKeybd({"say: " + where, "title: " + where}), withKeybd({"say: " + held, "title: " + held})})
        expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(take(), expected);
    EXPECT_EQ(form->ignorekeys, 0);
    EXPECT_TRUE(platform->idle());
}

TEST_F(SpeechTest, HoldWaitsOnTheVirtualClockAndHandlesKeysMeanwhile) {
    const std::string where = enterHouse();
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
        EXPECT_EQ(take(), (Lines{"say: " + where, "title: " + where + " ", "title: " + where}));
        EXPECT_FALSE(form->Holder.Enabled());
        EXPECT_TRUE(platform->idle());
    }
}

}  // namespace
}  // namespace tw::keytest
