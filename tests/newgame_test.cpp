// tests/newgame_test.cpp: a fresh game: the start room draw, the house, the items, the word pool and what is reset.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;
using testing::HeadlessGame;
using testing::ScratchFolder;
using testing::shippedFolder;

TEST(NewGame, OnlyTheStartRoomIsDrawnBeforeTheFirstTask) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    f.rnd.script({forceDraw(4, 10),                                          // start room: Hallway
                  forceDraw(50, 51), forceDraw(1, 10), forceDraw(2, 3),      // CDs to the sofa
                  forceDraw(11, 14), forceDraw(5, 17), forceDraw(3, 4)});
    f.newgame();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.curroom, 4);
    EXPECT_EQ(f.questitem, 50);
    EXPECT_EQ(f.questroom, 1);
    EXPECT_EQ(f.questspot, 2);
    EXPECT_EQ(f.questtext,
              "To start you off, grab the stacks of CDs from the Computer room, and put it on the sofa, in the Living room.");
}

TEST(NewGame, BuildsTheHouse) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    f.newgame();
    const std::vector<std::string> rooms = {"Living room", "Dining room", "Kitchen",     "Hallway",      "Bathroom",
                                            "Bedroom",     "Spare room",  "Family room", "Laundry room", "Computer room"};
    const std::vector<int> spots = {3, 3, 5, 2, 3, 6, 4, 6, 2, 4};
    ASSERT_EQ(f.roomcount, 10);
    int total = 0;
    for (int r = 1; r <= 10; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(f.roomname[r], rooms[r - 1]);
        EXPECT_EQ(f.spotcount[r], spots[r - 1]);
        total += f.spotcount[r];
        EXPECT_EQ(f.spotname[r][0], "");
        for (int s = 1; s <= f.spotcount[r]; ++s) {
            const std::string& name = f.spotname[r][s];
            EXPECT_TRUE(name.rfind("on the ", 0) == 0 || name.rfind("in the ", 0) == 0 || name.rfind("under the ", 0) == 0)
                << name;
            for (int t = 1; t < s; ++t) EXPECT_NE(f.spotname[r][t], name) << "two spots of one room share a name";
        }
        for (int s = f.spotcount[r] + 1; s <= kMaxSpots; ++s) EXPECT_EQ(f.spotname[r][s], "") << s;
    }
    EXPECT_EQ(total, 38);
    EXPECT_EQ(f.roomname[0], "");
    EXPECT_EQ(f.spotname[3][1], "in the refrigerator");
    EXPECT_EQ(f.spotname[8][4], "under the TV");
    EXPECT_EQ(f.spotname[1][2], "on the sofa");
    EXPECT_EQ(f.spotname[9][1], "on the shelf");
    EXPECT_EQ(f.spotname[6][6], "in the dresser");
}

TEST(NewGame, PlacesTheItems) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    f.newgame();
    ASSERT_EQ(f.itemcount, 51);
    EXPECT_EQ(f.itemname[1], "glass jar");
    EXPECT_EQ(f.itemroom[1], 0);
    EXPECT_EQ(f.itemspot[1], 0);
    EXPECT_EQ(f.helditem(), 1);
    EXPECT_EQ(f.itemname[44], "old keyboards");
    EXPECT_EQ(f.itemroom[44], 9);
    EXPECT_EQ(f.itemspot[44], 1);
    EXPECT_EQ(f.itemname[50], "stacks of CDs");
    EXPECT_EQ(f.itemroom[50], 10);
    EXPECT_EQ(f.itemspot[50], 3);
    EXPECT_EQ(f.itemname[51], "power supply");
    EXPECT_EQ(f.itemroom[51], 10);
    EXPECT_EQ(f.itemspot[51], 4);

    std::set<std::string> names;
    for (int i = 1; i <= f.itemcount; ++i) {
        EXPECT_FALSE(f.itemname[i].empty()) << i;
        EXPECT_TRUE(names.insert(f.itemname[i]).second) << "duplicate item " << f.itemname[i];
        if (i == 1) continue;
        EXPECT_GE(f.itemroom[i], 1) << i;
        EXPECT_LE(f.itemroom[i], 10) << i;
        EXPECT_GE(f.itemspot[i], 1) << i;
        EXPECT_LE(f.itemspot[i], f.spotcount[f.itemroom[i]]) << i;
    }
    int placed = 0;
    for (int r = 1; r <= 10; ++r) {
        for (int s = 1; s <= f.spotcount[r]; ++s) {
            int here = 0;
            while (f.itematspot(r, s, here + 1) != 0) ++here;
            EXPECT_GE(here, 1) << f.roomname[r] << " " << f.spotname[r][s];
            EXPECT_LE(here, 3) << f.roomname[r] << " " << f.spotname[r][s];
            placed += here;
        }
    }
    EXPECT_EQ(placed, 50);
}

TEST(NewGame, ResetsTheGameButNotTheCandidateWords) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    f.newgame();
    // A game in progress: things moved, tasks done, pairs made, words listed.
    f.curspot = 2;
    f.curitem = 5;
    f.itemroom[5] = 0;
    f.itemspot[5] = 0;
    f.itemroom[1] = 4;
    f.itemspot[1] = 2;
    f.itemname[51] = "renamed";
    f.questsdone = 17;
    f.swapcount = 3;
    f.swapfrom[1] = "the";
    f.swapto[1] = "kazoo";
    f.lastswaps = "The word, the, will now be replaced with, kazoo.  ";
    f.List1 = {"Alpha", "beta", "the"};
    f.List2 = {"leftover"};
    f.newgame();
    EXPECT_EQ(f.curspot, 0);
    EXPECT_EQ(f.curitem, 0);
    EXPECT_EQ(f.itemroom[5], 1);
    EXPECT_EQ(f.itemspot[5], 2);
    EXPECT_EQ(f.itemroom[1], 0);
    EXPECT_EQ(f.itemspot[1], 0);
    EXPECT_EQ(f.itemname[51], "power supply");
    EXPECT_EQ(f.questsdone, 0);
    EXPECT_EQ(f.swapcount, 0);
    EXPECT_EQ(f.lastswaps, "");
    EXPECT_EQ(f.List1, (std::vector<std::string>{"Alpha", "beta", "the"}));
    EXPECT_EQ(f.List2.front(), "marmalade");
    EXPECT_EQ(f.questtext.rfind("To start you off, ", 0), 0u) << f.questtext;
    EXPECT_TRUE(game.platform.spoken().empty());
}

TEST(NewGame, EveryGameHasTheSameHouseAndAnyStartRoom) {
    HeadlessGame first(shippedFolder());
    first.form.rnd.seed(1);
    first.form.newgame();
    HeadlessGame other(shippedFolder());
    std::set<int> starts;
    for (std::uint64_t seed = 1; seed <= 400; ++seed) {
        Form1& f = other.form;
        f.rnd.seed(seed * 7919);
        f.newgame();
        ASSERT_GE(f.curroom, 1);
        ASSERT_LE(f.curroom, 10);
        starts.insert(f.curroom);
        EXPECT_EQ(f.questcheck(), 0);
        if (seed % 50 != 1) continue;
        const Form1& a = first.form;
        EXPECT_EQ(f.roomcount, a.roomcount);
        EXPECT_EQ(f.roomname, a.roomname);
        EXPECT_EQ(f.spotcount, a.spotcount);
        EXPECT_EQ(f.spotname, a.spotname);
        EXPECT_EQ(f.itemcount, a.itemcount);
        EXPECT_EQ(f.itemname, a.itemname);
        EXPECT_EQ(f.itemroom, a.itemroom);
        EXPECT_EQ(f.itemspot, a.itemspot);
        EXPECT_EQ(f.List2, a.List2);
    }
    EXPECT_EQ(starts.size(), 10u);
}

// The word pool a new game reads from `bytes` as words.txt.
std::vector<std::string> poolFrom(const std::string& bytes, bool* ok = nullptr) {
    ScratchFolder folder;
    folder.write("words.txt", bytes);
    HeadlessGame game(folder.path());
    game.form.List2 = {"stale"};
    game.form.newgame();
    if (ok) *ok = game.form.wordsok;
    return game.form.List2;
}

using Words = std::vector<std::string>;

TEST(NewGameWords, LinesInFileOrderWithEveryEndMark) {
    bool ok = false;
    EXPECT_EQ(poolFrom("pickle\r\nkazoo\r\n", &ok), (Words{"pickle", "kazoo"}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(poolFrom("b\ra\nc\r\nd"), (Words{"b", "a", "c", "d"}));
    EXPECT_EQ(poolFrom("one\n\ntwo\n"), (Words{"one", "", "two"}));
    EXPECT_EQ(poolFrom("one\r\n\r\n"), (Words{"one", ""}));
    EXPECT_EQ(poolFrom("\r\r\n\n"), (Words{"", "", ""}));
    EXPECT_EQ(poolFrom("\n\rx"), (Words{"", "", "x"}));
    EXPECT_EQ(poolFrom("last"), (Words{"last"}));
    EXPECT_EQ(poolFrom(" sock puppet \r\n\tzebra\r\n"), (Words{" sock puppet ", "\tzebra"}));
    EXPECT_EQ(poolFrom("caf\xE9\r\n\x80uro\r\n"), (Words{"caf\xC3\xA9", "\xE2\x82\xACuro"}));
    EXPECT_EQ(poolFrom("", &ok), Words{});
    EXPECT_TRUE(ok);
}

TEST(NewGameWords, MissingWordListGivesAnEmptyPool) {
    ScratchFolder folder;
    HeadlessGame game(folder.path());
    Form1& f = game.form;
    f.List2 = {"stale"};
    f.newgame();
    EXPECT_FALSE(f.wordsok);
    EXPECT_TRUE(f.List2.empty());
    EXPECT_EQ(f.roomcount, 10);
    EXPECT_FALSE(f.questtext.empty());
    // A later game with the list back in place reads it again.
    folder.write("words.txt", "zebra\r\n");
    f.newgame();
    EXPECT_TRUE(f.wordsok);
    EXPECT_EQ(f.List2, Words{"zebra"});
}

TEST(NewGameWords, ShippedListIsReadWhole) {
    std::string bytes;
    ASSERT_TRUE(readFileBytes(shippedFolder() + "/words.txt", bytes));
    HeadlessGame game(shippedFolder());
    game.form.newgame();
    EXPECT_TRUE(game.form.wordsok);
    const Words lines = splitLines(bytes);
    ASSERT_EQ(game.form.List2.size(), 481u);
    ASSERT_EQ(game.form.List2.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(game.form.List2[i], cp1252ToUtf8(lines[i])) << i;
    EXPECT_EQ(game.form.List2.front(), "marmalade");
    EXPECT_EQ(game.form.List2[2], "sock puppet");
}

}  // namespace
}  // namespace tw
