// tests/savegame_test.cpp: saves that are refused keep the old file. (A saved game's bytes are in
// tests/transcripts/save-and-load.tw and save-files.tw; damaged files are refused in
// damaged-saves.tw and by the load fuzzer.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "game/form1.h"
#include "game/text.h"
#include "platform/headless/headless_platform.h"
#include "driver_util.h"
#include "save/savefile.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Two rooms (kitchen: table, shelf; hall: hook), eight empty rooms, three items, the jar in hand;
// texts with blanks at their ends, commas, quotes and empty words.
void buildSmallHouse(GameState& g) {
    g = GameState{};
    g.version = "0.6b";
    g.curroom = g.questroom = g.swapcount = 1;
    g.curspot = g.curitem = g.questspot = g.roomcount = 2;
    g.itemcount = g.questitem = 3;
    g.itemname = {"", "glass jar", "café cup", "€ coin"};
    g.itemroom = {0, 0, 1, 2};
    g.itemspot = {0, 0, 2, 1};
    g.roomname = {"", "kitchen", "hall"};
    g.spotcount = {0, 2, 1};
    g.spotname[1] = {"", "table", "shelf"};
    g.spotname[2] = {"", "hook"};
    g.questsdone = 4;
    g.swapfrom[1] = "old";
    g.swapto[1] = "new";
    g.lastswaps = "old to new";
    g.questtext = " put the € coin, \"now\" ";
    g.List1 = {"apple", "", "pear, ripe"};
    g.List2 = {"plum", ""};
}

// The file the small house must give, line by line (each ends in CR LF, texts in Windows-1252).
Lines smallHouseLines() {
    Lines lines = {"0.6b",        " 1 ",   " 2 ",   " 2 ",       " 3 ", "glass jar", " 0 ", " 0 ",
                   "caf\xE9 cup", " 1 ",   " 2 ",   "\x80 coin", " 2 ", " 1 ",       " 2 ", "kitchen",
                   " 2 ",         "table", "shelf", "hall",      " 1 ", "hook"};
    for (int r = 3; r <= 10; ++r) lines.insert(lines.end(), {"", " 0 "});
    lines.insert(lines.end(), {" 4 ", " 1 ", "old", "new", "old to new", " put the \x80 coin, \"now\" ", " 3 ", " 1 ",
                               " 2 ", " 3 ", "apple", "", "pear, ripe", " 2 ", "plum", ""});
    return lines;
}

std::string joinLines(const Lines& lines) {
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
}

// A program folder of its own for every test, with a game object on the headless platform.
class SaveGameTest : public ::testing::Test {
protected:
    std::string fileBytes(const std::string& name) const {
        return driver::readBytes(folder / name).value_or("(no file " + name + ")");
    }
    void putFile(const std::string& name, const std::string& bytes) const { folder.write(name, bytes); }
    std::set<std::string> folderEntries() const { return driver::entries(folder.path()); }

    driver::TempDir folder;
    std::unique_ptr<HeadlessPlatform> platform = std::make_unique<HeadlessPlatform>(folder.path());
    std::unique_ptr<Form1> form = std::make_unique<Form1>(*platform);
};

// A second save replaces the first. A refused save (a count outside its array, no name, a folder
// in the way) keeps the old saved game and leaves no temp file; one that fails part-way is the
// faults test's.
TEST_F(SaveGameTest, FailedSavesKeepTheOldFileAndLeaveNoTempFile) {
    ASSERT_TRUE(form->savegame("slot").ok);
    fs::create_directories(folder / "dir");
    for (int fault = 0; fault < 6; ++fault) {
        buildSmallHouse(*form);
        if (fault == 1) form->itemcount = kMaxItems + 1;
        if (fault == 2) form->spotcount[7] = -1;
        if (fault == 3) form->swapcount = kMaxSwaps + 1;
        const Outcome result = form->savegame(fault == 4 ? "" : fault == 5 ? "dir" : "slot");
        EXPECT_TRUE(result.ok == (fault == 0) && result.why.empty() == (fault == 0)) << fault << result.why;
    }
    EXPECT_EQ(fileBytes("slot"), joinLines(smallHouseLines()));
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"dir", "slot"}));
}

}  // namespace
}  // namespace tw
