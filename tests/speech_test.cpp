// tests/speech_test.cpp: the four speech paths, the Tab and rate keys, and timed waits on the virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/headless/headless_platform.h"

namespace tw {
namespace {

using Lines = std::vector<std::string>;

const Lines kKeybd = {"keybd: 17 0", "keybd: 16 0", "keybd: 84 0", "keybd: 17 2", "keybd: 16 2", "keybd: 84 2"};

Lines withKeybd(Lines lines) {
    lines.insert(lines.end(), kKeybd.begin(), kKeybd.end());
    return lines;
}

// A started game on the headless platform: debuglog.txt and myversion.txt go to a scratch
// current folder, the shipped word list is in the program's folder. Events start empty.
struct LibGame {
    driver::TempDir dir;
    driver::ScopedCwd cwd{dir.path()};
    HeadlessPlatform platform{dir.path()};
    Form1 form{platform};

    explicit LibGame(bool jaws = false) {
        std::filesystem::copy_file(TW_GAME_DIR "/words.txt", dir.file("words.txt"));
        platform.jawsAvailable = jaws;
        form.seedoverride = 7;
        form.Form_Load();
        form.Form_Activate();
        platform.events.clear();
    }
    // One key, and everything it starts, as the driver runs it.
    void press(int code) {
        platform.queueKey(code);
        for (platform.doEvents(); !platform.idle(); platform.doEvents()) platform.waitEvents();
    }
    Lines take() { return std::exchange(platform.events, {}); }
    // Main menu: Enter announces "How to play", Down moves to "Play the game", Enter plays. Then X
    // says where the player is, on the title path; returns that text.
    std::string enterHouse() {
        for (const int key : {13, 40, 13, int{'X'}}) press(key);
        EXPECT_EQ(form.menu, 0);
        const Lines heard = platform.spoken();
        take();
        return heard.empty() ? "" : heard.back();
    }
};

// Stands between the platform and the game and notes when each key and timer tick arrives, in
// milliseconds since origin on the virtual clock. A key equal to holdKey also waits half a second.
struct ClockSink : EventSink {
    LibGame& game;
    double origin = game.platform.nowMs();
    int holdKey = -1;
    Lines log;

    explicit ClockSink(LibGame& g) : game(g) { g.platform.attach(this); }
    ~ClockSink() override { game.platform.attach(&game.form); }
    void note(const std::string& what) {
        log.push_back(what + " at " + std::to_string(std::lround(game.platform.nowMs() - origin)));
    }
    void Form_KeyDown(int KeyCode, int Shift) override {
        note("key " + std::to_string(KeyCode));
        game.form.Form_KeyDown(KeyCode, Shift);
        if (KeyCode == holdKey) {
            game.form.hold(0.5);
            note("inner end");
        }
    }
    void syntheticKeyDown(int KeyCode, int Shift) override { game.form.syntheticKeyDown(KeyCode, Shift); }
    void Holder_Timer() override {
        note("tick");
        game.form.Holder_Timer();
    }
    void speakBox(const std::string& text, bool promptSpoken) override { game.form.speakBox(text, promptSpoken); }
};

TEST(Speech, VoiceTitleAndReaderPathsSpeakTheSameTextTwiceAndNothing) {
    struct Case {
        int mode;
        bool jaws;
        std::string heard;
    };  // heard: what carries the text
    for (const Case& c :
         {Case{0, false, "voice"}, Case{1, false, "title"}, Case{3, true, "reader"}, Case{3, false, "voice"}}) {
        SCOPED_TRACE("path " + std::to_string(c.mode) + (c.jaws ? " with" : " without") + " the reader object");
        LibGame game(c.jaws);
        game.form.speechmode = c.mode;
        game.form.sayit("Kitchen");
        EXPECT_EQ(game.take(), (Lines{"say: Kitchen", c.heard + ": Kitchen"}));
        // The title must change for the screen reader to speak the same text again.
        game.form.sayit("Kitchen");
        EXPECT_EQ(game.take(), (c.mode == 1 ? Lines{"say: Kitchen", "title: Kitchen ", "title: Kitchen"}
                                            : Lines{"say: Kitchen", c.heard + ": Kitchen"}));
        // Empty text silences.
        game.form.sayit("");
        EXPECT_EQ(game.take(), (Lines{"say: ", c.heard + ": "}));
    }
}

TEST(Speech, WindowEyesPathDropsItsOwnSixKeysAndKeepsThePlayers) {
    LibGame game;
    const std::string where = game.enterHouse();
    ASSERT_EQ(where.rfind("You are ", 0), 0u) << where;
    game.form.speechmode = 2;
    // Keys typed in one burst arrive while the chord is sent: they wait, then run in order,
    // and none of the game's own presses reaches the key handler.
    game.platform.queueKey('X');
    game.platform.queueKey('C');
    game.form.sayit("Find the cat.");
    const std::string held = "You are holding the " + game.form.itemname[game.form.helditem()] + ".";
    Lines expected = withKeybd({"say: Find the cat.", "title: Find the cat."});
    for (const Lines& more :
         {withKeybd({"say: " + where, "title: " + where}), withKeybd({"say: " + held, "title: " + held})})
        expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(game.take(), expected);
    EXPECT_EQ(game.form.ignorekeys, 0);
    EXPECT_TRUE(game.platform.idle());
}

TEST(Speech, TabCyclesThePathsAndSkipsTheReaderWithoutIt) {
    for (const bool jaws : {false, true}) {
        SCOPED_TRACE(jaws ? "with the reader object" : "without the reader object");
        LibGame game(jaws);
        const auto tab = [&game](const Lines& events, int mode, const std::string& title) {
            game.press(9);
            EXPECT_EQ(game.take(), events);
            EXPECT_EQ(game.form.speechmode, mode);
            EXPECT_EQ(game.platform.title(), title);
        };
        tab(withKeybd({"say: Window eyes support", "title: Window eyes support"}), 2, "Window eyes support");
        const std::string noReader = "Jaws does not seem to be responding, Sapi on.";
        if (jaws) {
            tab({"title: Tumblewick (v0.6b)", "say: Jaws", "reader: Jaws"}, 3, "Tumblewick (v0.6b)");
            tab({"title: Tumblewick (v0.6b), by Dorvel", "say: Sapi on", "voice: Sapi on"}, 0,
                "Tumblewick (v0.6b), by Dorvel");
        } else {
            tab({"title: Tumblewick (v0.6b)", "say: " + noReader, "voice: " + noReader}, 0, "Tumblewick (v0.6b)");
        }
        tab({"say: Screen reader", "title: Screen reader"}, 1, "Screen reader");
        // Tab never moves the menu.
        EXPECT_EQ(game.form.menu, 1);
        EXPECT_EQ(game.form.menupos, 0);
    }
}

TEST(Speech, HoldWaitsOnTheVirtualClockAndHandlesKeysMeanwhile) {
    LibGame game;
    const std::string where = game.enterHouse();
    ClockSink sink(game);
    game.form.hold(0.5);
    // Too short to round to a millisecond: no wait at all, no tick.
    game.form.hold(0.0001);
    sink.note("end");
    EXPECT_EQ(sink.log, (Lines{"tick at 500", "end at 500"}));
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "the key starts a wait of its own" : "a plain key");
        sink.log.clear();
        sink.origin = game.platform.nowMs();
        sink.holdKey = nested ? 'X' : -1;
        game.platform.queueKey('X', 0, sink.origin + 300);
        game.form.hold(1);
        sink.note("end");
        // A wait started by the key re-arms the shared timer for 500 ms from 300; its tick ends both.
        EXPECT_EQ(sink.log, (nested ? Lines{"key 88 at 300", "tick at 800", "inner end at 800", "end at 800"}
                                    : Lines{"key 88 at 300", "tick at 1000", "end at 1000"}));
        EXPECT_EQ(game.take(), (Lines{"say: " + where, "title: " + where + " ", "title: " + where}));
        EXPECT_FALSE(game.form.Holder.Enabled());
        EXPECT_TRUE(game.platform.idle());
    }
}

}  // namespace
}  // namespace tw
