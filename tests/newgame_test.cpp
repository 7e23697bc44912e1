// tests/newgame_test.cpp: a fresh game: the start room draw, the house, the items, the word pool and what is reset.
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;
using testing::ScratchFolder;
using Words = std::vector<std::string>;
using NewGame = testing::FormTest;

TEST_F(NewGame, OnlyTheStartRoomIsDrawnBeforeTheFirstTask) {
    f.rnd.script({forceDraw(4, 10),                                      // start room: Hallway
                  forceDraw(50, 51), forceDraw(1, 10), forceDraw(2, 3),  // CDs to the sofa
                  forceDraw(11, 14), forceDraw(5, 17), forceDraw(3, 4)});
    f.newgame();
    EXPECT_EQ(std::tuple(f.rnd.scriptedLeft(), f.curroom), std::tuple(0u, 4));
    EXPECT_EQ(
        f.questtext,
        "To start you off, grab the stacks of CDs from the Computer room, and put it on the sofa, in the Living room.");
}

TEST_F(NewGame, BuildsTheHouseWithFiftyOneItemsAndOneInHand) {
    f.newgame();
    const Words rooms = {"Living room", "Dining room", "Kitchen",     "Hallway",      "Bathroom",
                         "Bedroom",     "Spare room",  "Family room", "Laundry room", "Computer room"};
    const std::vector<int> spots = {3, 3, 5, 2, 3, 6, 4, 6, 2, 4};  // 38 spots
    ASSERT_EQ(f.roomcount, 10);
    for (int r = 1; r <= 10; ++r) {
        EXPECT_EQ(f.roomname[r], rooms[r - 1]);
        EXPECT_EQ(f.spotcount[r], spots[r - 1]) << rooms[r - 1];
        EXPECT_EQ(f.spotname[r][f.spotcount[r] + 1], "") << rooms[r - 1];
    }
    const struct {
        int room, spot;
        const char* name;
    } named[] = {{3, 1, "in the refrigerator"},
                 {8, 4, "under the TV"},
                 {1, 2, "on the sofa"},
                 {9, 1, "on the shelf"},
                 {6, 6, "in the dresser"}};
    for (const auto& n : named) EXPECT_EQ(f.spotname[n.room][n.spot], n.name);
    ASSERT_EQ(f.itemcount, 51);
    // Item number, name, room and spot; room 0 is in the player's hand.
    const struct {
        int item;
        const char* name;
        int room, spot;
    } items[] = {
        {1, "glass jar", 0, 0}, {44, "old keyboards", 9, 1}, {50, "stacks of CDs", 10, 3}, {51, "power supply", 10, 4}};
    for (const auto& i : items)
        EXPECT_EQ(std::tie(f.itemname[i.item], f.itemroom[i.item], f.itemspot[i.item]),
                  std::tuple(i.name, i.room, i.spot));
    EXPECT_EQ(f.helditem(), 1);
    EXPECT_EQ(std::set<std::string>(f.itemname.begin() + 1, f.itemname.begin() + 52).size(), 51u);
    int placed = 0;  // the other 50 lie one to three on every spot
    for (int r = 1; r <= 10; ++r) {
        for (int s = 1, here = 0; s <= f.spotcount[r]; ++s, placed += here, here = 0) {
            while (f.itematspot(r, s, here + 1) != 0) ++here;
            EXPECT_TRUE(here >= 1 && here <= 3) << f.roomname[r] << " " << f.spotname[r][s] << ": " << here;
        }
    }
    EXPECT_EQ(placed, 50);
}

TEST_F(NewGame, ResetsTheGameButNotTheCandidatesAndEveryGameHasTheSameHouse) {
    f.rnd.seed(1);
    f.newgame();
    const GameState first = f;
    const std::string bytes = driver::readBytes(testing::shippedFolder() + "/words.txt").value_or("");  // whole
    ASSERT_EQ(first.List2.size(), 481u);
    EXPECT_EQ(first.List2, splitLines(bytes));
    // A game in progress: things moved, tasks done, pairs made, words listed.
    f.curspot = 2, f.curitem = 5;
    f.itemroom[5] = 0, f.itemspot[5] = 0, f.itemroom[1] = 4, f.itemspot[1] = 2, f.itemname[51] = "renamed";
    f.questsdone = 17, f.swapcount = 3, f.swapfrom[1] = "the", f.swapto[1] = "kazoo",
    f.lastswaps = "The word, the, ...";
    f.List1 = {"Alpha", "beta", "the"}, f.List2 = {"leftover"};
    std::set<int> starts;
    for (std::uint64_t seed = 2; seed <= 200; ++seed) {
        f.rnd.seed(seed * 7919);
        f.newgame();
        starts.insert(f.curroom);
        ASSERT_EQ(std::tie(f.curspot, f.curitem, f.questsdone, f.swapcount, f.lastswaps), std::tuple(0, 0, 0, 0, ""));
        ASSERT_TRUE(f.questtext.starts_with("To start you off, ")) << f.questtext;
        ASSERT_EQ(f.List1, (Words{"Alpha", "beta", "the"}));
        ASSERT_EQ(
            std::tie(f.roomname, f.spotname, f.itemname, f.itemroom, f.itemspot, f.List2),
            std::tie(first.roomname, first.spotname, first.itemname, first.itemroom, first.itemspot, first.List2));
    }
    EXPECT_EQ(starts, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(game.platform.spoken().empty());
}

TEST(NewGameWords, WordsTxtLinesInFileOrderWithEveryEndMark) {
    const struct {
        std::string bytes;
        Words pool;
    } rows[] = {
        {"pickle\r\nkazoo\r\n", {"pickle", "kazoo"}},
        {"b\ra\nc\r\nd", {"b", "a", "c", "d"}},
        {"one\n\ntwo\n", {"one", "", "two"}},
        {"one\r\n\r\n", {"one", ""}},
        {"\r\r\n\n", {"", "", ""}},
        {"\n\rx", {"", "", "x"}},
        {" sock puppet \r\n\tzebra", {" sock puppet ", "\tzebra"}},
        {"", {}},
        {"caf\xE9\r\n\x80uro\r\n", {"caf\xC3\xA9", "\xE2\x82\xACuro"}},  // read as Windows-1252
    };
    ScratchFolder folder;
    testing::HeadlessGame game(folder.path());
    Form1& f = game.form;
    // A missing list gives an empty pool and a playable game; a later game reads the list again.
    f.List2 = {"stale"};
    f.newgame();
    EXPECT_FALSE(f.wordsok);
    EXPECT_TRUE(f.List2.empty());
    EXPECT_TRUE(f.questtext.starts_with("To start you off, ")) << f.questtext;
    for (const auto& row : rows) {
        folder.write("words.txt", row.bytes);
        f.List2 = {"stale"};
        f.newgame();
        EXPECT_TRUE(f.wordsok);
        EXPECT_EQ(f.List2, row.pool) << row.bytes;
    }
}

}  // namespace
}  // namespace tw
