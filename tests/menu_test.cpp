// tests/menu_test.cpp: the three spoken menus (main menu, how to play, ending story) and the keys every menu ignores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/ending.h"
#include "input/howto.h"
#include "keys_util.h"

namespace tw::keytest {
namespace {

using Texts = std::vector<std::string>;

class MenuTest : public KeyFixture {};

TEST_F(MenuTest, TheFirstKeyAnnouncesAnEntryWithoutChoosingIt) {
    // Down from nothing chosen: the first entry.
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(form->menupos, 1);

    startSession(true);
    EXPECT_EQ(say(key::Up), "Exit the game");
    EXPECT_EQ(form->menupos, 5);

    // Enter with nothing chosen names the first entry and does not open it.
    startSession(true);
    EXPECT_EQ(say(key::Enter), "How to play");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 1);

    // Any other key with nothing chosen lands on the last entry.
    startSession(true);
    EXPECT_EQ(say('K'), "Exit the game");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 5);

    startSession(true);
    EXPECT_EQ(say(key::Right), "How to play");
    startSession(true);
    EXPECT_EQ(say(key::Left), "Exit the game");
}

TEST_F(MenuTest, WithNoGameTheSaveEntryIsSteppedOver) {
    const Texts down = {"How to play", "Play the game", "Load game", "Exit the game", "How to play", "Play the game"};
    for (const auto& expected : down) EXPECT_EQ(say(key::Down), expected);
    EXPECT_EQ(say(key::Right), "Load game");
    EXPECT_EQ(say(key::Up), "Play the game");
    EXPECT_EQ(say(key::Right), "Load game");
    EXPECT_EQ(say(key::Left), "Play the game");
    EXPECT_EQ(say(key::Left), "How to play");
    EXPECT_EQ(say(key::Up), "Exit the game");
    EXPECT_EQ(say(key::Up), "Load game");
    EXPECT_EQ(say(key::Up), "Play the game");
    EXPECT_EQ(form->curroom, 0);
}

TEST_F(MenuTest, WithAGameTheSaveEntryIsReached) {
    startGame();
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(form->menu, 1);
    const Texts down = {"How to play", "Play the game", "Save current game", "Load game", "Exit the game", "How to play"};
    for (const auto& expected : down) EXPECT_EQ(say(key::Down), expected);
    EXPECT_EQ(say(key::Up), "Exit the game");
    EXPECT_EQ(say(key::Up), "Load game");
    EXPECT_EQ(say(key::Up), "Save current game");
    EXPECT_EQ(say(key::Up), "Play the game");
}

TEST_F(MenuTest, EscapeInTheMainMenu) {
    // No game: Escape is one more key that announces an entry.
    EXPECT_EQ(say(key::Escape), "Exit the game");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    EXPECT_EQ(say(key::Escape), "Play the game");
    EXPECT_EQ(form->menupos, 2);

    // A game: Escape goes back to it.
    ASSERT_EQ(press(key::Enter).size(), 1u);
    const int room = form->curroom;
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(form->menu, 0);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(form->curroom, room);
}

TEST_F(MenuTest, HowToPlayPagesInOrderAndBack) {
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(form->menu, 2);
    EXPECT_EQ(form->menupos, 0);
    for (std::size_t page = 0; page < howtopages.size(); ++page) {
        SCOPED_TRACE("page " + std::to_string(page + 1));
        EXPECT_EQ(say(key::Down), howtopages[page]);
    }
    EXPECT_EQ(say(key::Down), "Previous menu");
    EXPECT_EQ(say(key::Down), howtopages[0]);
    EXPECT_EQ(say(key::Up), "Previous menu");
    EXPECT_EQ(say(key::Up), howtopages[12]);
    EXPECT_EQ(say(key::Left), howtopages[11]);
    EXPECT_EQ(say(key::Right), howtopages[12]);

    // Enter on a page speaks it again and stays.
    EXPECT_EQ(say(key::Enter), howtopages[12]);
    EXPECT_EQ(form->menu, 2);
    EXPECT_EQ(form->menupos, 13);
    // Another key, too, repeats the page.
    EXPECT_EQ(say('Q'), howtopages[12]);

    EXPECT_EQ(say(key::Down), "Previous menu");
    EXPECT_EQ(say(key::Enter), "Main menu");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(say(key::Down), "How to play");
}

TEST_F(MenuTest, HowToPlayFromNoEntry) {
    EXPECT_EQ(say(key::Enter), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    // Up from no entry: the last one.
    EXPECT_EQ(say(key::Up), "Previous menu");
    EXPECT_EQ(form->menupos, 14);
    EXPECT_EQ(say(key::Enter), "Main menu");
    EXPECT_EQ(form->menu, 1);

    // Enter from no entry in the pages speaks the first page.
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(say(key::Enter), howtopages[0]);
    EXPECT_EQ(form->menupos, 1);
}

TEST_F(MenuTest, EscapeInHowToPlay) {
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(say(key::Down), howtopages[0]);
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);

    // With a game, Escape in the pages closes the menus.
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    ASSERT_EQ(press(key::Enter).size(), 1u);
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(say(key::Down), howtopages[0]);
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(form->menu, 0);
    EXPECT_EQ(form->menupos, 0);
}

TEST_F(MenuTest, RateKeysSpeakTheRateAndThenTheEntry) {
    const int rate = platform->voiceRate();
    EXPECT_EQ(rate, 3);
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    EXPECT_EQ(press(key::PageUp), (Texts{"Sapi faster.", "Play the game"}));
    EXPECT_EQ(platform->voiceRate(), rate + 1);
    EXPECT_EQ(press(key::PageDown), (Texts{"Sapi slower.", "Play the game"}));
    EXPECT_EQ(press(key::PageDown), (Texts{"Sapi slower.", "Play the game"}));
    EXPECT_EQ(platform->voiceRate(), rate - 1);
    EXPECT_EQ(form->menupos, 2);

    // With nothing chosen, the rate key lands on the last entry like any other key.
    startSession(true);
    EXPECT_EQ(press(key::PageUp), (Texts{"Sapi faster.", "Exit the game"}));

    // In the pages: the page again.
    startSession(true);
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(say(key::Down), howtopages[0]);
    EXPECT_EQ(say(key::Down), howtopages[1]);
    EXPECT_EQ(press(key::PageUp), (Texts{"Sapi faster.", howtopages[1]}));

    // In the house: only the rate.
    startSession(true);
    startGame();
    EXPECT_EQ(press(key::PageUp), (Texts{"Sapi faster."}));
    EXPECT_EQ(press(key::PageDown), (Texts{"Sapi slower."}));
}

TEST_F(MenuTest, TheEndingStory) {
    startGame();
    form->youwin();
    ASSERT_EQ(form->menu, 3);
    ASSERT_EQ(form->menupos, 0);
    for (std::size_t page = 0; page < endingpages.size(); ++page) {
        SCOPED_TRACE("page " + std::to_string(page + 1));
        EXPECT_EQ(say(key::Down), endingpages[page]);
    }
    const std::string last = endingpages[8];
    EXPECT_EQ(last.substr(last.size() - 10), "Game over.");
    EXPECT_EQ(say(key::Down), "Return to the main menu.");
    EXPECT_EQ(form->menupos, 10);
    EXPECT_EQ(say(key::Down), endingpages[0]);
    EXPECT_EQ(say(key::Up), "Return to the main menu.");
    EXPECT_EQ(say(key::Up), endingpages[8]);
    EXPECT_EQ(say(key::Enter), endingpages[8]);
    EXPECT_EQ(form->menu, 3);
    EXPECT_EQ(say(key::Right), "Return to the main menu.");
    EXPECT_EQ(say(key::Enter), "Main menu");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(say(key::Down), "How to play");
}

TEST_F(MenuTest, TheEndingStoryFromNoEntryAndItsEscape) {
    startGame();
    form->youwin();
    // Up from no entry: the last entry.
    EXPECT_EQ(say(key::Up), "Return to the main menu.");
    form->youwin();
    // Enter from no entry: the first page.
    EXPECT_EQ(say(key::Enter), endingpages[0]);
    EXPECT_EQ(form->menu, 3);
    form->youwin();
    // A letter from no entry: the last entry.
    EXPECT_EQ(say('B'), "Return to the main menu.");

    // Escape with a game closes the menus and returns to the house.
    EXPECT_EQ(say(key::Down), endingpages[0]);
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(form->menu, 0);
    EXPECT_EQ(form->menupos, 0);

    // Without a game (only reachable by hand), Escape goes to the main menu.
    form->curroom = 0;
    form->menu = 3;
    form->menupos = 4;
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);
}

TEST_F(MenuTest, ModifierKeysDoNothingAndCtrlSilences) {
    auto checkAll = [this](const std::string& where) {
        SCOPED_TRACE(where);
        const int menu = form->menu;
        const int menupos = form->menupos;
        for (int shift : {0, 1, 2, 4, 7}) {
            silent(key::Shift, shift);
            silent(key::Alt, shift);
            silent(233, shift);
        }
        EXPECT_EQ(form->menu, menu);
        EXPECT_EQ(form->menupos, menupos);
        EXPECT_EQ(press(key::Ctrl), Texts{""});
        EXPECT_EQ(press(key::Ctrl, key::CtrlMask), Texts{""});
        EXPECT_EQ(form->menu, menu);
        EXPECT_EQ(form->menupos, menupos);
    };
    checkAll("main menu, nothing chosen");
    EXPECT_EQ(say(key::Down), "How to play");
    checkAll("main menu, How to play");
    EXPECT_EQ(say(key::Enter), "Arrow down for information");
    EXPECT_EQ(say(key::Down), howtopages[0]);
    checkAll("how to play");
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    ASSERT_EQ(press(key::Enter).size(), 1u);
    form->curspot = 0;
    checkAll("house");
    form->youwin();
    EXPECT_EQ(say(key::Down), endingpages[0]);
    checkAll("ending");
}

TEST_F(MenuTest, TabCyclesTheSpeechPathsInAnyMenu) {
    EXPECT_EQ(say(key::Tab), "Window eyes support");
    EXPECT_EQ(form->speechmode, 2);
    // Without a screen reader answering, the fourth path falls back to the voice.
    EXPECT_EQ(say(key::Tab), "Jaws does not seem to be responding, Sapi on.");
    EXPECT_EQ(form->speechmode, 0);
    EXPECT_EQ(say(key::Tab), "Screen reader");
    EXPECT_EQ(form->speechmode, 1);
    // The menu position is untouched.
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(say(key::Down), "How to play");
}

}  // namespace
}  // namespace tw::keytest
