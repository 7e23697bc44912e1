// tests/keys_util.h: helpers for the key tests: a timed headless platform, a started game, keys typed on the virtual
// clock.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/keys.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/key_names.h"

namespace tw::keytest {

using Texts = std::vector<std::string>;

// The headless platform that also notes the virtual time of every text and sound, and can call
// a hook whenever the game speaks.
class TimedPlatform : public HeadlessPlatform {
public:
    using HeadlessPlatform::HeadlessPlatform;
    std::vector<std::pair<double, std::string>> timeline;  // ms, "say: ..." or "sound: ..."
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

using Press = KeyPress;

// Reads a key string (see keyNames); a word that names no key fails the test.
inline std::vector<Press> keyPresses(const std::string& keys) {
    const auto presses = keyNames(keys);
    if (!presses) ADD_FAILURE() << "no such key in a key string: " << keys;
    return presses.value_or(std::vector<Press>{});
}

// A program folder with the shipped word list, the game started in it (Form_Load and
// Form_Activate, with the folder as the current folder), and keys on the virtual clock.
class KeyFixture : public ::testing::Test {
protected:
    KeyFixture() { std::filesystem::copy_file(TW_GAME_DIR "/words.txt", home.file("words.txt")); }
    void SetUp() override { startSession(); }

    // A new session in the same folder.
    void startSession() {
        form.reset();
        platform = std::make_unique<TimedPlatform>(home.path());
        form = std::make_unique<Form1>(*platform);
        form->seedoverride = 20240611;
        driver::ScopedCwd cwd(home.path());
        form->Form_Load();
        form->Form_Activate();
    }
    // Lets every queued key and every wait run to the end.
    void run() {
        for (platform->doEvents(); !platform->idle(); platform->doEvents()) platform->waitEvents();
    }

    // Types a key string (see keyPresses), letting each key and its waits run to the end; returns
    // everything said, or "<nothing said>".
    Texts type(const std::string& keys) {
        const std::size_t from = platform->events.size();
        for (const Press& press : keyPresses(keys)) {
            platform->queueKey(press.code, press.shift);
            run();
        }
        Texts said;
        for (std::size_t i = from; i < platform->events.size(); ++i)
            if (platform->events[i].starts_with("say: ")) said.push_back(platform->events[i].substr(5));
        return said.empty() ? Texts{"<nothing said>"} : said;
    }
    // Main menu: How to play, Play the game; the game starts in the house.
    void startGame() {
        ASSERT_EQ(type("Down Down Enter").back(),
                  "You have arrived at Dorvel's house.  Press Q, to hear your first task.");
    }
    driver::TempDir home;
    std::unique_ptr<TimedPlatform> platform;
    std::unique_ptr<Form1> form;
};

}  // namespace tw::keytest
