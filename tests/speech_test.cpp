// tests/speech_test.cpp: the four speech paths, the Tab and rate keys, and timed waits on the virtual clock.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/headless/headless_platform.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kKeybdLines = {"keybd: 17 0", "keybd: 16 0", "keybd: 84 0",
                                              "keybd: 17 2", "keybd: 16 2", "keybd: 84 2"};

// A started game on the headless platform: debuglog.txt and myversion.txt go to a scratch
// current folder, the shipped word list is in the program's folder. Events start empty.
struct LibGame {
    driver::TempDir dir;
    std::string run = dir.sub("run");
    std::string home = dir.sub("home");
    driver::ScopedCwd cwd{run};
    HeadlessPlatform platform{home};
    Form1 form{platform};

    explicit LibGame(bool jaws = false) {
        std::error_code ec;
        fs::copy_file(std::string(TW_BINARY_DIR) + "/words.txt", home + "/words.txt", ec);
        EXPECT_FALSE(ec) << "words.txt: " << ec.message();
        platform.jawsAvailable = jaws;
        form.seedoverride = 7;
        form.Form_Load();
        form.Form_Activate();
        platform.events.clear();
    }

    // One key, and everything it starts, as the driver runs it.
    void press(int code, int shift = 0) {
        platform.queueKey(code, shift);
        do {
            platform.doEvents();
            if (!platform.idle()) platform.waitEvents();
        } while (!platform.idle());
    }

    // Main menu: Enter announces "How to play", Down moves to "Play the game", Enter plays.
    void enterHouse() {
        press(13);
        press(40);
        press(13);
        ASSERT_EQ(form.menu, 0);
        ASSERT_NE(form.curroom, 0);
    }

    std::vector<std::string> take() {
        auto events = platform.events;
        platform.events.clear();
        return events;
    }
};

// Stands between the platform and the game and notes, on the virtual clock, when each key and
// timer tick arrives. A key equal to holdKey also starts a half-second wait in its handler.
class ClockSink : public EventSink {
public:
    ClockSink(Form1& form, HeadlessPlatform& platform) : form_(form), platform_(platform), origin_(platform.nowMs()) {
        platform_.attach(this);
    }
    ~ClockSink() override { platform_.attach(&form_); }

    std::vector<std::string> log;
    int holdKey = -1;

    void Form_KeyDown(int KeyCode, int Shift) override {
        log.push_back("key " + std::to_string(KeyCode) + " at " + at());
        form_.Form_KeyDown(KeyCode, Shift);
        if (KeyCode == holdKey) {
            form_.hold(0.5);
            log.push_back("inner end at " + at());
        }
    }
    void Holder_Timer() override {
        log.push_back("tick at " + at());
        form_.Holder_Timer();
    }
    double elapsed() const { return platform_.nowMs() - origin_; }

private:
    std::string at() const { return std::to_string(static_cast<long long>(elapsed())); }
    Form1& form_;
    HeadlessPlatform& platform_;
    double origin_;
};

// ---- the four paths ----

TEST(SpeechPaths, VoicePathSpeaksOnceAndLeavesTheTitle) {
    LibGame game;
    game.form.speechmode = 0;
    const std::string titleBefore = game.platform.title();
    game.form.sayit("Hello there.");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Hello there.", "voice: Hello there."}));
    game.form.sayit("Hello there.");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Hello there.", "voice: Hello there."}));
    EXPECT_EQ(game.platform.title(), titleBefore);

    // Empty text silences the voice.
    game.form.sayit("");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: ", "voice: "}));
}

TEST(SpeechPaths, TitlePathChangesTheTitleEvenForTheSameText) {
    LibGame game;
    ASSERT_EQ(game.form.speechmode, 1);
    game.form.sayit("Kitchen");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Kitchen", "title: Kitchen"}));
    game.form.sayit("Kitchen");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Kitchen", "title: Kitchen ", "title: Kitchen"}));
    EXPECT_EQ(game.platform.title(), "Kitchen");
    game.form.sayit("Hallway");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Hallway", "title: Hallway"}));
    EXPECT_EQ(game.platform.title(), "Hallway");
    // No voice on this path.
    game.form.sayit("");
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: ", "title: "}));
}

TEST(SpeechPaths, WindowEyesPathSendsSixKeysTheGameNeverSees) {
    LibGame game;
    game.enterHouse();
    game.take();
    // What X says in this room, heard on the title path.
    game.press('X');
    const auto xSpoken = game.platform.spoken();
    ASSERT_EQ(xSpoken.size(), 1u);
    ASSERT_EQ(xSpoken[0].rfind("You are ", 0), 0u) << xSpoken[0];
    game.take();

    game.form.speechmode = 2;
    // A key pending at the same moment arrives while ignorekeys is 1, and is dropped too.
    game.platform.queueKey('X');
    game.form.sayit("Find the cat.");
    std::vector<std::string> expected = {"say: Find the cat.", "title: Find the cat."};
    expected.insert(expected.end(), kKeybdLines.begin(), kKeybdLines.end());
    EXPECT_EQ(game.take(), expected);
    EXPECT_EQ(game.form.ignorekeys, 0);
    EXPECT_TRUE(game.platform.idle());

    // The same key pressed afterwards is heard: its earlier silence came from the guard.
    game.press('X');
    expected = {"say: " + xSpoken[0], "title: " + xSpoken[0]};
    expected.insert(expected.end(), kKeybdLines.begin(), kKeybdLines.end());
    EXPECT_EQ(game.take(), expected);
}

TEST(SpeechPaths, ReaderPathUsesTheReaderObjectOrTheVoiceWithoutOne) {
    {
        SCOPED_TRACE("with the reader object");
        LibGame game(true);
        ASSERT_EQ(game.form.jawsloaded, 1);
        game.form.speechmode = 3;
        const std::string titleBefore = game.platform.title();
        game.form.sayit("Pick a spot in this room first.");
        EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Pick a spot in this room first.",
                                                         "reader: Pick a spot in this room first."}));
        EXPECT_EQ(game.platform.title(), titleBefore);
    }
    {
        SCOPED_TRACE("without a reader object");
        LibGame game(false);
        ASSERT_EQ(game.form.jawsloaded, 0);
        ASSERT_EQ(game.form.jawsobj, nullptr);
        game.form.speechmode = 3;
        game.form.sayit("Menu closed");
        EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Menu closed", "voice: Menu closed"}));
    }
}

// ---- Tab: the next path ----

TEST(SpeechTab, CycleWithoutTheReaderFallsBackToTheVoice) {
    LibGame game;
    ASSERT_EQ(game.form.speechmode, 1);
    game.press(9);
    std::vector<std::string> expected = {"say: Window eyes support", "title: Window eyes support"};
    expected.insert(expected.end(), kKeybdLines.begin(), kKeybdLines.end());
    EXPECT_EQ(game.take(), expected);
    EXPECT_EQ(game.form.speechmode, 2);

    game.press(9);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"title: Tumblewick (v0.6b)",
                                                     "say: Jaws does not seem to be responding, Sapi on.",
                                                     "voice: Jaws does not seem to be responding, Sapi on."}));
    EXPECT_EQ(game.form.speechmode, 0);
    EXPECT_EQ(game.platform.title(), "Tumblewick (v0.6b)");

    game.press(9);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Screen reader", "title: Screen reader"}));
    EXPECT_EQ(game.form.speechmode, 1);
    // Tab never moves the menu.
    EXPECT_EQ(game.form.menu, 1);
    EXPECT_EQ(game.form.menupos, 0);
}

TEST(SpeechTab, CycleWithTheReaderReachesPathThreeThenTheVoice) {
    LibGame game(true);
    game.press(9);
    EXPECT_EQ(game.form.speechmode, 2);
    game.take();

    game.press(9);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"title: Tumblewick (v0.6b)", "say: Jaws", "reader: Jaws"}));
    EXPECT_EQ(game.form.speechmode, 3);

    game.press(9);
    EXPECT_EQ(game.take(),
              (std::vector<std::string>{"title: Tumblewick (v0.6b), by Dorvel", "say: Sapi on", "voice: Sapi on"}));
    EXPECT_EQ(game.form.speechmode, 0);
    EXPECT_EQ(game.platform.title(), "Tumblewick (v0.6b), by Dorvel");

    game.press(9);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Screen reader", "title: Screen reader"}));
    EXPECT_EQ(game.form.speechmode, 1);
}

// ---- Page Up and Page Down: the rate ----

TEST(SpeechRate, MainMenuAnnouncesExitAfterTheRate) {
    LibGame game;
    ASSERT_EQ(game.platform.voiceRate(), 3);
    game.press(33);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Sapi faster.", "title: Sapi faster.",
                                                     "say: Exit the game", "title: Exit the game"}));
    EXPECT_EQ(game.platform.voiceRate(), 4);
    EXPECT_EQ(game.form.menupos, 5);
    game.press(34);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Sapi slower.", "title: Sapi slower.",
                                                     "say: Exit the game", "title: Exit the game"}));
    EXPECT_EQ(game.platform.voiceRate(), 3);
}

TEST(SpeechRate, InTheHouseOnlyTheRateIsSpokenAndThereIsNoBound) {
    LibGame game;
    game.enterHouse();
    game.form.speechmode = 0;
    game.take();
    const int room = game.form.curroom;
    const int spot = game.form.curspot;

    game.press(33);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Sapi faster.", "voice: Sapi faster."}));
    EXPECT_EQ(game.platform.voiceRate(), 4);
    game.press(34);
    EXPECT_EQ(game.take(), (std::vector<std::string>{"say: Sapi slower.", "voice: Sapi slower."}));
    EXPECT_EQ(game.platform.voiceRate(), 3);

    for (int i = 0; i < 20; ++i) game.press(33);
    EXPECT_EQ(game.platform.voiceRate(), 23);
    EXPECT_EQ(game.platform.spoken(), std::vector<std::string>(20, "Sapi faster."));
    game.take();
    for (int i = 0; i < 60; ++i) game.press(34);
    EXPECT_EQ(game.platform.voiceRate(), -37);
    EXPECT_EQ(game.platform.spoken(), std::vector<std::string>(60, "Sapi slower."));
    // The rate keys move nothing in the house.
    EXPECT_EQ(game.form.curroom, room);
    EXPECT_EQ(game.form.curspot, spot);
    EXPECT_EQ(game.form.menu, 0);
}

// ---- hold on the virtual clock ----

TEST(SpeechHold, WaitsTakeTheirTimeOnTheVirtualClock) {
    LibGame game;
    ClockSink sink(game.form, game.platform);
    game.form.hold(0.5);
    EXPECT_EQ(sink.elapsed(), 500.0);
    EXPECT_EQ(sink.log, (std::vector<std::string>{"tick at 500"}));
    EXPECT_FALSE(game.form.Holder.Enabled());
    EXPECT_EQ(game.form.Holder.Interval(), 0);
    EXPECT_TRUE(game.platform.idle());

    game.form.hold(2);
    EXPECT_EQ(sink.elapsed(), 2500.0);

    // Too short to round to a millisecond: no wait at all, no tick.
    sink.log.clear();
    game.form.hold(0.0001);
    EXPECT_EQ(sink.elapsed(), 2500.0);
    EXPECT_TRUE(sink.log.empty());
    EXPECT_TRUE(game.platform.idle());
    EXPECT_TRUE(game.take().empty());
}

TEST(SpeechHold, KeysAreHandledDuringAWait) {
    LibGame game;
    game.enterHouse();
    game.take();
    game.press('X');
    const auto heard = game.platform.spoken();
    ASSERT_EQ(heard.size(), 1u);
    game.take();

    ClockSink sink(game.form, game.platform);
    game.platform.queueKey('X', 0, game.platform.nowMs() + 300);
    game.form.hold(1);
    EXPECT_EQ(sink.log, (std::vector<std::string>{"key 88 at 300", "tick at 1000"}));
    EXPECT_EQ(sink.elapsed(), 1000.0);
    // The title still holds the same text, so it is changed twice.
    EXPECT_EQ(game.take(),
              (std::vector<std::string>{"say: " + heard[0], "title: " + heard[0] + " ", "title: " + heard[0]}));
    EXPECT_TRUE(game.platform.idle());
}

TEST(SpeechHold, NestedWaitsBothEndAtTheFirstTick) {
    LibGame game;
    game.enterHouse();
    game.take();
    ClockSink sink(game.form, game.platform);
    sink.holdKey = 'X';
    game.platform.queueKey('X', 0, game.platform.nowMs() + 300);
    game.form.hold(1);
    // The inner wait re-arms the shared timer for 500 ms from 300; its tick ends both.
    EXPECT_EQ(sink.log, (std::vector<std::string>{"key 88 at 300", "tick at 800", "inner end at 800"}));
    EXPECT_EQ(sink.elapsed(), 800.0);
    EXPECT_FALSE(game.form.Holder.Enabled());
    EXPECT_EQ(game.form.Holder.Interval(), 0);
    EXPECT_TRUE(game.platform.idle());
    EXPECT_EQ(game.platform.spoken().size(), 1u);
}

}  // namespace
}  // namespace tw
