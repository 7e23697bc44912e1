// tests/prompts_test.cpp: the save and load prompts: answers, refused names, failed writes, damaged files, round trips,
// no word list.
#include <gtest/gtest.h>

#include <set>

#include "keys_util.h"

namespace tw::keytest {
namespace {

namespace fs = std::filesystem;

class PromptTest : public KeyFixture {
protected:
    void SetUp() override {
        KeyFixture::SetUp();
        startGame();
    }
    // Types keys, then Enter on the entry they reach with name typed into the box; returns what the Enter said and
    // showed.
    Texts enter(const std::string& keys, const std::string& name) {
        type(keys);
        platform->inputAnswer = [name](const std::string&, const std::string&) { return name; };
        return type("Enter", true);
    }
    std::set<std::string> homeEntries() const { return driver::entries(home.path()); }
};

TEST_F(PromptTest, TheLoadPromptNamesTheSavedGamesInOrder) {
    form->speechmode = 1;
    // Enter on an entry of the main menu: 3 saves, 4 loads.
    auto at = [&](int entry, const std::string& name) {
        form->menu = 1;
        form->menupos = entry;
        return enter("", name);
    };
    for (const char* name : {"kitchen", "first try", "Zoë"})
        ASSERT_EQ(at(3, name).back().rfind("Game saved as", 0), 0u);
    EXPECT_EQ(at(4, "").front(), "Saved games: first try, kitchen, Zoë.");
    for (int i = 0; i < 22; ++i) at(3, "game " + std::string(1, static_cast<char>('a' + i)));
    const std::string many = at(4, "").front();
    EXPECT_TRUE(many.starts_with("Saved games: first try, game a, game b, ")) << many;
    EXPECT_TRUE(many.ends_with(", game s, and 5 more.")) << many;
}

TEST_F(PromptTest, NamesOtherSystemsCanHoldStillSaveAndLoad) {
    form->speechmode = 1;
    for (const std::string name : {"café über", "игра", "a,b", "two  blanks", "COM10", "console", "con-game", "nul2",
                                   "words.txt.bak", "v1.2 final"}) {
        form->menu = 1, form->menupos = 3;
        EXPECT_EQ(enter("", name).back(), "Game saved as " + name + ".  Press escape to return to the game.");
        form->menu = 1, form->menupos = 4;
        EXPECT_EQ(enter("", name).back(), "Game loaded.  Press escape to enter to the game.");
    }
    // Names that differ only in letter case are one save, as on Windows: the file keeps its first name.
    for (const std::string name : {"Game", "GAME", "game"}) {
        form->menu = 1, form->menupos = 3;
        enter("", name);
        form->menu = 1, form->menupos = 4;
        EXPECT_EQ(enter("", name).back(), "Game loaded.  Press escape to enter to the game.");
    }
    EXPECT_TRUE(homeEntries().contains("Game"));
    EXPECT_FALSE(homeEntries().contains("GAME") || homeEntries().contains("game"));
}

TEST_F(PromptTest, AGameWithoutItsWordList) {
    startSession(false);
    EXPECT_EQ(
        type("Down Down Enter"),
        (Texts{"How to play", "Play the game", "You have arrived at Dorvel's house.  Press Q, to hear your first task.",
               "The word list, words.txt, could not be read, so Dorvel's words will not change in this game.  "
               "Press Q, to hear your first task."}));
    // A task completes, with no new pair.
    readyJarTask();
    EXPECT_EQ(type("Enter V"),
              (Texts{"You have set the glass jar down on the floor, and picked up the toy mouse.",
                     "You have completed "
                     "your first task.  Dorvel's words stay as they were.  Press Q, to hear your next task.",
                     "No swaps yet."}));
    // The list back in place: the next game has it, and says nothing about it.
    fs::copy_file(TW_GAME_DIR "/words.txt", home.file("words.txt"));
    EXPECT_EQ(type("Escape Down Down Enter").back(),
              "You have arrived at Dorvel's house.  Press Q, to hear your first task.");
    EXPECT_FALSE(form->List2.empty());
}

}  // namespace
}  // namespace tw::keytest
