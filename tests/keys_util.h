// tests/keys_util.h: helpers for the key tests: a timed headless platform, a started game, key presses on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver_util.h"
#include "game_state_match.h"
#include "game/form1.h"
#include "game/text.h"
#include "input/keys.h"
#include "platform/headless/headless_platform.h"

namespace tw::keytest {

// The headless platform that also notes the virtual time of every spoken text and sound, and
// can call a hook whenever the game speaks.
class TimedPlatform : public HeadlessPlatform {
public:
    using HeadlessPlatform::HeadlessPlatform;

    struct Stamp {
        double ms;
        std::string line;  // "say: ..." or "sound: ..."
    };
    std::vector<Stamp> timeline;
    std::function<void(const std::string&)> onSay;

    void said(const std::string& text, int speechmode) override {
        timeline.push_back({nowMs(), "say: " + text});
        HeadlessPlatform::said(text, speechmode);
        if (onSay) onSay(text);
    }
    void playSound(const std::string& path) override {
        timeline.push_back({nowMs(), "sound: " + path});
        HeadlessPlatform::playSound(path);
    }
};

// Runs the platform until every queued key and every wait it started is over.
inline void runIdle(HeadlessPlatform& platform) {
    do {
        platform.doEvents();
        if (!platform.idle()) platform.waitEvents();
    } while (!platform.idle());
}

// The "say: " texts among events[from..].
inline std::vector<std::string> saysSince(const HeadlessPlatform& platform, std::size_t from) {
    std::vector<std::string> texts;
    for (std::size_t i = from; i < platform.events.size(); ++i)
        if (platform.events[i].rfind("say: ", 0) == 0) texts.push_back(platform.events[i].substr(5));
    return texts;
}

inline int roomKey(int room) { return room == 10 ? '0' : '0' + room; }
inline int spotKey(int spot) { return std::string("WERTYUI").at(spot - 1); }
inline int itemKey(int n) { return std::string("ASDFGHJ").at(n - 1); }

// The item of that name; 0 when there is none.
inline int itemIndex(const GameState& g, const std::string& name) {
    for (int i = 1; i <= g.itemcount; ++i)
        if (g.itemname[i] == name) return i;
    return 0;
}


// A program folder with the shipped word list, the game started in it (Form_Load and
// Form_Activate, with the folder as the current folder), and key presses on the virtual clock.
class KeyFixture : public ::testing::Test {
protected:
    void SetUp() override { startSession(true); }
    void TearDown() override {
        form.reset();
        platform.reset();
    }

    void startSession(bool withWords) {
        form.reset();
        platform.reset();
        std::error_code ec;
        std::filesystem::remove(home.file("words.txt"), ec);
        if (withWords) {
            std::filesystem::copy_file(TW_BINARY_DIR "/words.txt", home.file("words.txt"),
                                       std::filesystem::copy_options::overwrite_existing, ec);
            ASSERT_FALSE(ec) << ec.message();
        }
        platform = std::make_unique<TimedPlatform>(home.path());
        form = std::make_unique<Form1>(*platform);
        form->seedoverride = 20240611;
        {
            driver::ScopedCwd cwd(home.path());
            form->Form_Load();
            form->Form_Activate();
        }
        ASSERT_EQ(form->menu, 1);
        ASSERT_EQ(form->menupos, 0);
        ASSERT_EQ(form->speechmode, 1);
    }

    // Presses one key and lets it run to the end; returns what was said meanwhile.
    std::vector<std::string> press(int code, int shift = 0) {
        const std::size_t from = platform->events.size();
        platform->queueKey(code, shift);
        runIdle(*platform);
        return saysSince(*platform, from);
    }
    // Presses one key that must say exactly one text, and returns that text.
    std::string say(int code, int shift = 0) {
        const auto texts = press(code, shift);
        EXPECT_EQ(texts.size(), 1u) << "key " << code << " said " << ::testing::PrintToString(texts);
        return texts.empty() ? std::string("<nothing>") : texts.front();
    }
    // Presses a key that must leave no event at all.
    void silent(int code, int shift = 0) {
        const std::size_t from = platform->events.size();
        platform->queueKey(code, shift);
        runIdle(*platform);
        std::vector<std::string> after(platform->events.begin() + static_cast<std::ptrdiff_t>(from),
                                       platform->events.end());
        EXPECT_TRUE(after.empty()) << "key " << code << "/" << shift << " gave " << ::testing::PrintToString(after);
    }

    // Main menu: How to play, Play the game; the game starts in the house.
    void startGame() {
        ASSERT_EQ(say(key::Down), "How to play");
        ASSERT_EQ(say(key::Down), "Play the game");
        const auto texts = press(key::Enter);
        ASSERT_EQ(texts, std::vector<std::string>{"You have arrived at Dorvel's house.  Press Q, to hear your first task."});
        ASSERT_EQ(form->menu, 0);
        ASSERT_GE(form->curroom, 1);
    }

    // A task far from the living room, so that swaps there complete nothing.
    void taskElsewhere() {
        form->questitem = itemIndex(*form, "power supply");
        ASSERT_NE(form->questitem, 0);
        form->questroom = 1;
        form->questspot = 3;
    }

    // The task: put the glass jar (in the hand at the start) on the living room floor.
    void taskJarToLivingRoomFloor() {
        form->questitem = itemIndex(*form, "glass jar");
        ASSERT_EQ(form->itemroom[form->questitem], 0);
        form->questroom = 1;
        form->questspot = 1;
    }

    std::string homeFile(const std::string& name) const { return home.file(name); }

    driver::TempDir home;
    std::unique_ptr<TimedPlatform> platform;
    std::unique_ptr<Form1> form;
};

}  // namespace tw::keytest
