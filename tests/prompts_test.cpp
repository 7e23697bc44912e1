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

TEST_F(PromptTest, PromptTextsAndCanceling) {
    const std::string save = "input: Save game | Type the file name you wish to save to.  Leave blank to cancel.",
                      load = "input: Load game | Type the file name you wish to load.  Leave blank to cancel.";
    // The spoken prompt only on the game's own voice (path 0).
    form->speechmode = 0;
    EXPECT_EQ(enter("Escape Down Down Down", ""),
              (Texts{"Type the file name you wish to save to, and press Enter.  Leave blank to cancel.", save,
                     "Save canceled."}));
    // Before the load question, which saved games there are; on the voice in the same sentence.
    const std::string none = "There are no saved games yet.";
    EXPECT_EQ(enter("Down", ""),
              (Texts{none + "  Type the file name you wish to load, and press Enter.  Leave blank to cancel.", load,
                     "Load canceled."}));
    form->speechmode = 1;
    EXPECT_EQ(enter("Up", ""), (Texts{save, "Save canceled."}));
    EXPECT_EQ(enter("Down", ""), (Texts{none, load, "Load canceled."}));
    EXPECT_EQ(enter("", "nosuchgame"), (Texts{none, load, "That file cannot be found within the game's directory."}));
    EXPECT_EQ(form->menupos, 4);
    EXPECT_EQ(homeEntries(), (std::set<std::string>{"debuglog.txt", "myversion.txt", "words.txt"}));
}

TEST_F(PromptTest, SavingLoadingAndWhatChangesNothing) {
    const std::string outside = "tw_prompt_escape_" + std::to_string(::getpid());
    driver::writeBytes(home.file("progress.ini"), " 1 \r\n 3 \r\n 7 \r\n");
    fs::create_directories(home.file("sounds"));
    fs::create_directories(home.file("mysave"));
    driver::writeBytes(home.file("mysave/inside"), "keep");
    readyJarTask();
    ASSERT_EQ(type("Enter 8EA").size(), 5u);
    const auto saved = std::make_unique<GameState>(*form);
    EXPECT_EQ(enter("Escape Down Down Down", "good").back(),
              "Game saved as good.  Press escape to return to the game.");
    EXPECT_EQ(form->menupos, 0);
    const std::string good = driver::readBytes(home.file("good")).value_or("");
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"junk", "junk\r\n"}, {"empty", ""}, {"extra", good + "more\r\n"}, {"half", good.substr(0, good.size() / 2)}};
    for (const auto& [name, bytes] : damaged) driver::writeBytes(home.file(name), bytes);
    // Another game is in progress when the names and files are tried.
    type("Down Down Enter 5 Escape Down Down Down");
    const auto entries = homeEntries();
    const std::string words = driver::readBytes(home.file("words.txt")).value_or("");
    const auto before = std::make_unique<GameState>(*form);
    const Texts refused = {"a/b", "../" + outside, "..", ".", "sub\\name", "..\\" + outside,
                           home.path() + "/" + outside, "/" + outside, "c:name", "words.txt", "WORDS.TXT",
                           "progress.ini", "sounds", "tumblewick", "tumblewick.exe", "lasttask.txt", "debuglog.txt",
                           "myversion.txt", "award.wav", "installed.txt", "ReadMe.txt", "tab\there",
                           // Windows would drop the end: words.txt itself.
                           "words.txt.", "progress.ini ", "Progress.INI. .", "end.", "end ",
                           // Devices, with or without an extension, in any case.
                           "CON", "nul", "Aux.txt", "com1", "COM9.sav", "lpt5", "prn .txt", "COM\u00B9", "lpt\u00B3.x",
                           // Hidden on Linux, so never listed.
                           ".hidden",
                           // Marks no Windows file name may hold.
                           "a<b", "a>b", "a\"b", "a|b", "what?", "a*",
                           // What the start-up would take for a dead save's leftover.
                           ".tumblewick-123.tmp"};
    const std::string unusable =
        "That name cannot be used.  Type a plain file name, without slashes, colons, or any of the marks < > \" | ? *, "
        "that does not start or end in a full stop or end in a blank, and is not one of the game's own files or a "
        "device "
        "name such as CON.";
    for (const auto& name : refused) EXPECT_EQ(enter("", name).back(), unusable) << "save as " << name;
    // A byte a terminal passed on that is no UTF-8 character.
    EXPECT_EQ(enter("", "caf\xE9").back(),
              "That name cannot be used.  It holds a character that is not text in this "
              "system's encoding.  Type it again with letters the game can read.");
    const std::string failed = enter("", "mysave").back();
    EXPECT_TRUE(failed.starts_with("The game could not be saved as mysave.  The file cannot be written: ")) << failed;
    EXPECT_TRUE(failed.ends_with(".  Nothing was written.")) << failed;
    EXPECT_EQ(form->menupos, 3);
    type("Down");
    for (const auto& name : refused) EXPECT_EQ(enter("", name).back(), unusable) << "load " << name;
    const Texts reasons = {"the file ends too early", "the file is empty", "the file goes on after the end of the game",
                           ""};
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        const std::string said = enter("", damaged[i].first).back();
        EXPECT_TRUE(said.starts_with("That file could not be loaded: " + reasons[i])) << said;
        EXPECT_TRUE(said.ends_with(".  Nothing has changed.")) << said;
    }
    EXPECT_EQ(form->menupos, 4);
    // Only the file that holds a game is listed: not the damaged ones, the folder or the game's own files.
    EXPECT_EQ(enter("", "").front(), "Saved games: good.");
    EXPECT_TRUE(sameGame(*form, *before));
    EXPECT_EQ(homeEntries(), entries);
    EXPECT_EQ(driver::readBytes(home.file("words.txt")).value_or(""), words);
    EXPECT_EQ(driver::readBytes(home.file("progress.ini")).value_or(""), " 1 \r\n 3 \r\n 7 \r\n");
    EXPECT_EQ(driver::readBytes(home.file("mysave/inside")).value_or(""), "keep");
    EXPECT_FALSE(driver::exists(fs::path(home.path()).parent_path().string() + "/" + outside) ||
                 driver::exists("/" + outside));
    EXPECT_EQ(type("Escape XB"),
              (Texts{"Menu closed", "You are in the Bathroom.", "You have not completed any tasks yet."}));
    // Loading the good file brings the saved game back, field by field, and play goes on.
    EXPECT_EQ(enter("Escape Up Up", "good").back(), "Game loaded.  Press escape to enter to the game.");
    EXPECT_TRUE(sameGame(*form, *saved));
    EXPECT_EQ(type("Escape XB"),
              (Texts{"Menu closed", "You are upstairs in the Family room.", "You have completed 1 task."}));
}

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
