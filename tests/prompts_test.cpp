// tests/prompts_test.cpp: the save and load prompts: answers, refused names, failed writes, damaged files, round trips, no word list.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "keys_util.h"

namespace tw::keytest {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const std::string kSpokenSave = "Type the file name you wish to save to, and press Enter.  Leave blank to cancel.";
const std::string kSpokenLoad = "Type the file name you wish to load, and press Enter.  Leave blank to cancel.";
const std::string kSaveBox = "input: Save game | Type the file name you wish to save to.  Leave blank to cancel.";
const std::string kLoadBox = "input: Load game | Type the file name you wish to load.  Leave blank to cancel.";
const std::string kUnusable =
    "That name cannot be used.  Type a plain file name, without slashes or colons, that is not one of the game's "
    "own files.";

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class PromptTest : public KeyFixture {
protected:
    // What the player types into the next input boxes, one answer each; "" once they run out.
    void answer(std::vector<std::string> names) {
        answers_ = std::move(names);
        platform->inputAnswer = [this](const std::string& prompt, const std::string& caption) {
            asked_.push_back(caption + " | " + prompt);
            if (answers_.empty()) return std::string();
            std::string next = answers_.front();
            answers_.erase(answers_.begin());
            return next;
        };
    }

    // The "say: " and "input: " events of one key.
    Texts sayAndInput(int code) {
        const std::size_t from = platform->events.size();
        platform->queueKey(code, 0);
        runIdle(*platform);
        Texts out;
        for (std::size_t i = from; i < platform->events.size(); ++i)
            if (platform->events[i].rfind("say: ", 0) == 0 || platform->events[i].rfind("input: ", 0) == 0)
                out.push_back(platform->events[i]);
        return out;
    }

    // From the house to the main menu's save entry (a game exists, so it is reachable).
    void toSaveEntry() {
        ASSERT_EQ(say(key::Escape), "Main menu");
        ASSERT_EQ(say(key::Down), "How to play");
        ASSERT_EQ(say(key::Down), "Play the game");
        ASSERT_EQ(say(key::Down), "Save current game");
        ASSERT_EQ(form->menupos, 3);
    }
    void toLoadEntry() {
        ASSERT_EQ(say(key::Escape), "Main menu");
        ASSERT_EQ(say(key::Up), "Exit the game");
        ASSERT_EQ(say(key::Up), "Load game");
        ASSERT_EQ(form->menupos, 4);
    }

    // Finishes the first task (glass jar to the living room floor), so pairs and lists are filled.
    void finishATask() {
        taskJarToLivingRoomFloor();
        ASSERT_EQ(say('1'), "You're in Living room.");
        ASSERT_EQ(say('W'), "You look on the floor, in the Living room");
        ASSERT_EQ(say('A'), "You see the toy mouse on the floor.");
        ASSERT_EQ(press(key::Enter).size(), 2u);
        ASSERT_EQ(form->questsdone, 1);
    }

    std::set<std::string> homeEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(home.path())) names.insert(entry.path().filename().string());
        return names;
    }

    std::vector<std::string> answers_;
    std::vector<std::string> asked_;
};

TEST_F(PromptTest, TheSpokenPromptOnlyOnTheVoicePath) {
    startGame();
    toSaveEntry();
    answer({});
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("speech path " + std::to_string(mode));
        form->speechmode = mode;
        const Texts expected = mode == 0 ? Texts{"say: " + kSpokenSave, kSaveBox, "say: Save canceled."}
                                         : Texts{kSaveBox, "say: Save canceled."};
        EXPECT_EQ(sayAndInput(key::Enter), expected);
        EXPECT_EQ(form->menu, 1);
        EXPECT_EQ(form->menupos, 3);
    }
    form->speechmode = 1;
    EXPECT_EQ(say(key::Down), "Load game");
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE("speech path " + std::to_string(mode));
        form->speechmode = mode;
        const Texts expected = mode == 0 ? Texts{"say: " + kSpokenLoad, kLoadBox, "say: Load canceled."}
                                         : Texts{kLoadBox, "say: Load canceled."};
        EXPECT_EQ(sayAndInput(key::Enter), expected);
        EXPECT_EQ(form->menupos, 4);
    }
    // The box was given its caption and prompt.
    ASSERT_EQ(asked_.size(), 8u);
    EXPECT_EQ("input: " + asked_[0], kSaveBox);
    EXPECT_EQ("input: " + asked_[7], kLoadBox);
    // Nothing was written by a canceled save.
    EXPECT_EQ(homeEntries(), (std::set<std::string>{"debuglog.txt", "myversion.txt", "words.txt"}));
}

TEST_F(PromptTest, LoadingAFileThatIsNotThere) {
    startGame();
    toLoadEntry();
    fs::create_directories(homeFile("afolder"));
    for (const std::string name : {"nosuchgame", "afolder"}) {
        SCOPED_TRACE(name);
        answer({name});
        const auto before = std::make_unique<GameState>(*form);
        EXPECT_EQ(press(key::Enter), Texts{"That file cannot be found within the game's directory."});
        EXPECT_TRUE(sameGame(*form, *before));
        EXPECT_EQ(form->menu, 1);
        EXPECT_EQ(form->menupos, 4);
    }
    EXPECT_EQ(say(key::Down), "Exit the game");
}

TEST_F(PromptTest, SavingAndLoadingBack) {
    startGame();
    finishATask();
    ASSERT_EQ(say('8'), "You're in Family room.");
    ASSERT_EQ(say('E'), "You look on the sofa, in the Family room");
    ASSERT_EQ(say('A'), "You see the folded shirt on the sofa.");
    toSaveEntry();
    const auto saved = std::make_unique<GameState>(*form);
    ASSERT_GT(saved->swapcount, 0);
    ASSERT_FALSE(saved->List1.empty());

    answer({"slot one"});
    EXPECT_EQ(press(key::Enter), Texts{"Game saved as slot one.  Press escape to return to the game."});
    EXPECT_TRUE(driver::exists(homeFile("slot one")));
    EXPECT_TRUE(sameGame(*form, *saved));
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_EQ(say(key::Down), "How to play");

    // A new game replaces everything; loading brings the saved one back, field by field.
    EXPECT_EQ(say(key::Down), "Play the game");
    ASSERT_EQ(press(key::Enter).size(), 1u);
    ASSERT_EQ(say('3'), "You're in Kitchen.");
    ASSERT_FALSE(sameGame(*form, *saved));
    toLoadEntry();
    answer({"slot one"});
    EXPECT_EQ(press(key::Enter), Texts{"Game loaded.  Press escape to enter to the game."});
    EXPECT_TRUE(sameGame(*form, *saved));
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 4);
    EXPECT_EQ(form->besttasks, 1);
    EXPECT_EQ(form->speechmode, 1);

    // The game goes on where it was saved.
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(form->menu, 0);
    EXPECT_EQ(say('X'), "You are upstairs in the Family room.");
    EXPECT_EQ(say('B'), "You have completed 1 task.");
    EXPECT_EQ(say('V'), saved->lastswaps);
    EXPECT_EQ(say('C'), "You are holding the toy mouse.");
    EXPECT_EQ(say(key::Enter), "You have set the toy mouse down on the sofa, and picked up the folded shirt.");
}

TEST_F(PromptTest, LoadingWithNoGameInProgress) {
    startGame();
    finishATask();
    toSaveEntry();
    answer({"first"});
    ASSERT_EQ(say(key::Enter), "Game saved as first.  Press escape to return to the game.");
    const auto saved = std::make_unique<GameState>(*form);

    startSession(true);
    EXPECT_EQ(say(key::Up), "Exit the game");
    EXPECT_EQ(say(key::Up), "Load game");
    answer({"first"});
    EXPECT_EQ(say(key::Enter), "Game loaded.  Press escape to enter to the game.");
    EXPECT_TRUE(sameGame(*form, *saved));
    // With a game now, the save entry is reachable and Escape enters the game.
    EXPECT_EQ(say(key::Up), "Save current game");
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(say('B'), "You have completed 1 task.");
}

TEST_F(PromptTest, NamesOutsideTheFolderOrOfTheGamesOwnFilesAreRefused) {
    startGame();
    const std::string outside = "tw_prompt_escape_" + std::to_string(::getpid());
    const std::string wordsBefore = driver::readBytes(homeFile("words.txt")).value_or("");
    ASSERT_FALSE(wordsBefore.empty());
    driver::writeBytes(homeFile("progress.ini"), " 1 \r\n 3 \r\n 7 \r\n");
    fs::create_directories(homeFile("sounds"));
    const std::vector<std::string> names = {
        "a/b",          "../" + outside,     "..",           ".",
        "sub\\name",    "..\\" + outside,    home.path() + "/" + outside, "/" + outside,
        "c:name",       "words.txt",         "WORDS.TXT",    "Words.Txt",
        "progress.ini", "sounds",            "tumblewick",   "lasttask.txt",
        "debuglog.txt", "myversion.txt",     "award.wav",    "tab\there",
    };
    const auto entries = homeEntries();
    const std::string progress = driver::readBytes(homeFile("progress.ini")).value_or("");

    toSaveEntry();
    for (const auto& name : names) {
        SCOPED_TRACE("save as [" + name + "]");
        answer({name});
        EXPECT_EQ(press(key::Enter), Texts{kUnusable});
        EXPECT_EQ(form->menupos, 3);
    }
    EXPECT_EQ(homeEntries(), entries);
    EXPECT_EQ(driver::readBytes(homeFile("words.txt")).value_or(""), wordsBefore);
    EXPECT_EQ(driver::readBytes(homeFile("progress.ini")).value_or(""), progress);
    EXPECT_FALSE(driver::exists(fs::path(home.path()).parent_path().string() + "/" + outside));
    EXPECT_FALSE(driver::exists("/" + outside));

    // Loading is refused the same way, even for files that are there, and changes nothing.
    EXPECT_EQ(say(key::Down), "Load game");
    const auto before = std::make_unique<GameState>(*form);
    for (const auto& name : names) {
        SCOPED_TRACE("load [" + name + "]");
        answer({name});
        EXPECT_EQ(press(key::Enter), Texts{kUnusable});
        EXPECT_TRUE(sameGame(*form, *before));
        EXPECT_EQ(form->menupos, 4);
    }
    EXPECT_EQ(homeEntries(), entries);
}

TEST_F(PromptTest, AFailedSaveSaysSoAndKeepsTheMenu) {
    startGame();
    fs::create_directories(homeFile("mysave"));
    driver::writeBytes(homeFile("mysave/inside"), "keep");
    const auto entries = homeEntries();
    toSaveEntry();
    answer({"mysave"});
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
    const std::string& text = texts[0];
    EXPECT_EQ(text.rfind("The game could not be saved as mysave.  The file cannot be written: ", 0), 0u) << text;
    EXPECT_TRUE(endsWith(text, ".  Nothing was written.")) << text;
    EXPECT_EQ(text.find("Game saved as"), std::string::npos) << text;
    EXPECT_EQ(form->menu, 1);
    EXPECT_EQ(form->menupos, 3);
    EXPECT_EQ(homeEntries(), entries);
    EXPECT_TRUE(fs::is_directory(homeFile("mysave")));
    EXPECT_EQ(driver::readBytes(homeFile("mysave/inside")).value_or(""), "keep");
    EXPECT_EQ(say(key::Down), "Load game");
}

TEST_F(PromptTest, ADamagedFileChangesNothing) {
    startGame();
    finishATask();
    toSaveEntry();
    answer({"good"});
    ASSERT_EQ(say(key::Enter), "Game saved as good.  Press escape to return to the game.");
    const std::string good = driver::readBytes(homeFile("good")).value_or("");
    ASSERT_GT(good.size(), 100u);
    driver::writeBytes(homeFile("junk"), "junk\r\n");
    driver::writeBytes(homeFile("empty"), "");
    driver::writeBytes(homeFile("half"), good.substr(0, good.size() / 2));
    driver::writeBytes(homeFile("extra"), good + "more\r\n");

    // Another game is in progress when the damaged files are tried.
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    ASSERT_EQ(press(key::Enter).size(), 1u);
    ASSERT_EQ(say('5'), "You're in Bathroom.");
    toLoadEntry();
    const auto before = std::make_unique<GameState>(*form);
    const std::map<std::string, std::string> why = {
        {"junk", "the file ends too early"},
        {"empty", "the file is empty"},
        {"extra", "the file goes on after the end of the game"},
        {"half", ""},
    };
    for (const auto& [name, reason] : why) {
        SCOPED_TRACE(name);
        answer({name});
        const auto texts = press(key::Enter);
        ASSERT_EQ(texts.size(), 1u);
        if (!reason.empty()) {
            EXPECT_EQ(texts[0], "That file could not be loaded: " + reason + ".  Nothing has changed.");
        } else {
            EXPECT_EQ(texts[0].rfind("That file could not be loaded: ", 0), 0u) << texts[0];
            EXPECT_TRUE(endsWith(texts[0], ".  Nothing has changed.")) << texts[0];
        }
        EXPECT_TRUE(sameGame(*form, *before));
        EXPECT_EQ(form->menu, 1);
        EXPECT_EQ(form->menupos, 4);
    }
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(say('X'), "You are in the Bathroom.");
    EXPECT_EQ(say('B'), "You have not completed any tasks yet.");

    // With no game in progress, a damaged file leaves none.
    startSession(true);
    EXPECT_EQ(say(key::Up), "Exit the game");
    EXPECT_EQ(say(key::Up), "Load game");
    answer({"junk"});
    EXPECT_EQ(say(key::Enter), "That file could not be loaded: the file ends too early.  Nothing has changed.");
    EXPECT_EQ(form->curroom, 0);
    EXPECT_EQ(form->menupos, 4);
    EXPECT_EQ(say(key::Escape), "Load game");
    EXPECT_EQ(form->menu, 1);
}

TEST_F(PromptTest, AGameWithoutItsWordList) {
    startSession(false);
    ASSERT_FALSE(driver::exists(homeFile("words.txt")));
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    EXPECT_EQ(press(key::Enter),
              (Texts{"You have arrived at Dorvel's house.  Press Q, to hear your first task.",
                     "The word list, words.txt, could not be read, so Dorvel's words will not change in this game.  "
                     "Press Q, to hear your first task."}));
    EXPECT_EQ(form->menu, 0);
    EXPECT_TRUE(form->List2.empty());

    // A task completes, with no new pair.
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 2u);
    const std::string head = "You have completed your first task.  Dorvel has gone a little bit more insane.";
    const std::string tail = "Press Q, to hear your next task.";
    EXPECT_EQ(texts[1].substr(0, head.size()), head);
    EXPECT_TRUE(endsWith(texts[1], tail)) << texts[1];
    EXPECT_EQ(texts[1].find("will now be replaced"), std::string::npos);
    EXPECT_EQ(form->questsdone, 1);
    EXPECT_EQ(form->swapcount, 0);
    EXPECT_EQ(say('V'), "No swaps yet.");
    EXPECT_EQ(say('Q'), form->questtext);
    EXPECT_EQ(say('B'), "You have completed 1 task.");

    // The list back in place: the next game has it, and says nothing about it.
    fs::copy_file(TW_BINARY_DIR "/words.txt", homeFile("words.txt"));
    EXPECT_EQ(say(key::Escape), "Main menu");
    EXPECT_EQ(say(key::Down), "How to play");
    EXPECT_EQ(say(key::Down), "Play the game");
    EXPECT_EQ(press(key::Enter), Texts{"You have arrived at Dorvel's house.  Press Q, to hear your first task."});
    EXPECT_FALSE(form->List2.empty());
}

}  // namespace
}  // namespace tw::keytest
