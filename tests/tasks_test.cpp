// tests/tasks_test.cpp: choosing and phrasing tasks: the worked sentences, every opening, clause, level fragment and
// ending, the retry rule, and many seeded games of tasks.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;

constexpr int kCDs = 50;  // "stacks of CDs", on the floor of the Computer room at the start

class QuestTest : public testing::FormTest {
protected:
    QuestTest() { f.newgame(); }

    // A task for the CDs whose first attempt is accepted; every draw forced and all of them used up.
    std::string ask(int player, int done, int room, int spot, int opening, int phrase, int ending) {
        f.curroom = player, f.questsdone = done;
        f.rnd.script({forceDraw(kCDs, f.itemcount), forceDraw(room, f.roomcount), forceDraw(spot, f.spotcount[room]),
                      forceDraw(opening, 14), forceDraw(phrase, 17), forceDraw(ending, 4)});
        f.setquest();
        EXPECT_EQ(std::tuple(f.rnd.scriptedLeft(), f.questitem, f.questroom, f.questspot),
                  std::tuple(0u, kCDs, room, spot));
        return f.questtext;
    }
};

TEST_F(QuestTest, WorkedSentences) {
    EXPECT_EQ(
        ask(1, 0, 1, 2, 9, 5, 3),
        "To start you off, grab the stacks of CDs from the Computer room, and put it on the sofa, in the Living room.");
    EXPECT_EQ(ask(1, 25, 1, 2, 3, 13, 2),
              "Please grab the stacks of CDs, then place it on the sofa, in the Living room.");
    EXPECT_EQ(
        ask(8, 7, 9, 1, 12, 11, 1),
        "head all the way  down, and get the stacks of CDs from the Computer room, then put it on the shelf, in the "
        "Laundry room.");
    EXPECT_EQ(
        ask(1, 3, 8, 2, 4, 10, 4),
        "Take a minute to head upstairs and get the stacks of CDs from the Computer room, and place it on the sofa, in "
        "the Family room.");
}

// Plain clauses 1..9: before 20 completed tasks, and from 20 on.  Phrases 10..17 fall back to 1..8.
const std::array<std::array<const char*, 2>, 9> kPlain = {{
    {"go grab the stacks of CDs from the Computer room", "go grab the stacks of CDs"},
    {"go grab the stacks of CDs from the Computer room", "go grab the stacks of CDs from the Computer room"},
    {"go grab the stacks of CDs out of the Computer room", "go grab the stacks of CDs out of the Computer room"},
    {"grab the stacks of CDs from the Computer room", "grab the stacks of CDs"},
    {"grab the stacks of CDs from the Computer room", "grab the stacks of CDs from the Computer room"},
    {"grab the stacks of CDs out of the Computer room", "grab the stacks of CDs out of the Computer room"},
    {"get the stacks of CDs from the Computer room", "get the stacks of CDs"},
    {"get the stacks of CDs from the Computer room", "get the stacks of CDs from the Computer room"},
    {"get the stacks of CDs out of the Computer room", "get the stacks of CDs out of the Computer room"},
}};

// Level fragments by phrase 10..17: down, up, all the way down, all the way up.
const std::array<std::array<const char*, 4>, 8> kLevel = {{
    {"head downstairs and get the ", "head upstairs and get the ", "head all the way downstairs and get the ",
     "head all the way  upstairs and get the "},
    {"head down, and get the ", "head up, and get the ", "head all the way  down, and get the ",
     "head all the way  up, and get the "},
    {"head downstairs and grab the ", "head upstairs and grab the ", "head all the way  downstairs and grab the ",
     "head all the way  upstairs and grab the "},
    {"head down, and grab the ", "head up, and grab the ", "head all the way  down, and grab the ",
     "head all the way  up, and grab the "},
    {"go downstairs and get the ", "go upstairs and get the ", "go downstairs and get the ",
     "go upstairs and get the "},
    {"go down, and get the ", "go up, and get the ", "go down, and get the ", "go up, and get the "},
    {"go downstairs and grab the ", "go upstairs and grab the ", "go downstairs and grab the ",
     "go upstairs and grab the "},
    {"go down, and grab the ", "go up, and grab the ", "go down, and grab the ", "go up, and grab the "},
}};

TEST_F(QuestTest, OpeningsClausesAndEndingsByPhraseLevelAndTaskCount) {
    const char* openings[] = {"I want you to ",
                              "I need you to ",
                              "Please ",
                              "Take a minute to ",
                              "When you have time, ",
                              "When you get a minute, ",
                              "The next thing I want you to do, is ",
                              "The next thing I need you to do, is ",
                              "",
                              "",
                              "",
                              "",
                              "",
                              ""};
    const char* leadins[] = {", then put it ", ", then place it ", ", and put it ", ", and place it "};
    // Player's room, target room (first spot), fragment column by the player's level, not the item's; -1 for none.
    // Levels: main 1..7, upstairs 8, downstairs 9..10; rooms outside the house have no level.
    const std::array<std::array<int, 3>, 12> moves = {{{2, 9, 0},
                                                       {8, 1, 0},
                                                       {7, 8, 1},
                                                       {9, 7, 1},
                                                       {8, 10, 2},
                                                       {10, 8, 3},
                                                       {1, 7, -1},
                                                       {9, 10, -1},
                                                       {8, 8, -1},
                                                       {0, 9, -1},
                                                       {11, 8, -1},
                                                       {-1, 1, -1}}};
    for (int phrase = 1; phrase <= 17; ++phrase) {
        for (std::size_t m = 0; m < moves.size(); ++m) {
            const auto [player, room, column] = moves[m];
            const int opening = 1 + (phrase + static_cast<int>(m)) % 14,
                      ending = 1 + (phrase + static_cast<int>(m)) % 4;
            for (int done : {0, 19, 20, 35}) {  // the first task has its own opening; its opening draw is still used up
                SCOPED_TRACE("phrase " + std::to_string(phrase) + " opening " + std::to_string(opening) + " ending " +
                             std::to_string(ending) + " player " + std::to_string(player) + " target " +
                             std::to_string(room) + " done " + std::to_string(done));
                const std::string fetch =
                    phrase >= 10 && column >= 0
                        ? kLevel[phrase - 10][column] + std::string("stacks of CDs from the Computer room")
                        : kPlain[(phrase - 1) % 9][done >= 20];
                EXPECT_EQ(ask(player, done, room, 1, opening, phrase, ending),
                          (done == 0 ? "To start you off, " : openings[opening - 1]) + fetch + leadins[ending - 1] +
                              f.spotname[room][1] + ", in the " + f.roomname[room] + ".");
            }
        }
    }
}

TEST_F(QuestTest, RetriesDrawItemRoomAndSpotAgain) {
    ASSERT_EQ(f.itemroom[1], 0);  // the glass jar is in hand
    f.curroom = 1, f.questsdone = 4;
    f.itemroom[7] = 2, f.itemspot[7] = 0;                                   // the dog, in a room but on no spot
    f.rnd.script({forceDraw(1, 51), forceDraw(3, 10), forceDraw(2, 5),      // glass jar: in hand
                  forceDraw(kCDs, 51), forceDraw(10, 10), forceDraw(3, 4),  // CDs: already there
                  forceDraw(7, 51), forceDraw(4, 10), forceDraw(1, 2),      // dog: no spot
                  forceDraw(44, 51), forceDraw(6, 10), forceDraw(4, 6),     // old keyboards to the bedroom closet
                  forceDraw(1, 14), forceDraw(4, 17), forceDraw(1, 4)});
    f.setquest();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.questtext,
              "I want you to grab the old keyboards from the Laundry room, then put it in the closet, in the Bedroom.");
    // Any held item is refused, not only the jar.
    f.itemroom[1] = 3, f.itemspot[1] = 3;        // the jar put down in the kitchen sink
    f.itemroom[kCDs] = 0, f.itemspot[kCDs] = 0;  // the CDs picked up
    f.curroom = 3, f.questsdone = 6;
    f.rnd.script({forceDraw(kCDs, 51), forceDraw(1, 10), forceDraw(1, 3),  // in hand
                  forceDraw(1, 51), forceDraw(3, 10), forceDraw(3, 5),     // already there
                  forceDraw(1, 51), forceDraw(3, 10), forceDraw(2, 5), forceDraw(14, 14), forceDraw(9, 17),
                  forceDraw(3, 4)});
    f.setquest();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.questtext, "get the glass jar out of the Kitchen, and put it on the counter, in the Kitchen.");
}

TEST_F(QuestTest, ManySeededGamesKeepEveryTaskSound) {
    int shortened = 0;
    for (std::uint64_t seed = 1; seed <= 100; ++seed) {
        f.rnd.seed(seed);
        f.newgame();
        for (int task = 0; task < 40; ++task) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " task " + std::to_string(task));
            if (task > 0) {
                f.questsdone = task;
                f.curroom = 1 + static_cast<int>(seed + task * 7) % 10;
                f.setquest();
            }
            const std::string& text = f.questtext;
            EXPECT_TRUE(f.itemroom[f.questitem] != 0 && f.itemspot[f.questitem] != 0 && f.questcheck() == 0) << text;
            const std::string target =
                f.spotname[f.questroom][f.questspot] + ", in the " + f.roomname[f.questroom] + ".";
            ASSERT_TRUE(text.ends_with(target)) << text;
            EXPECT_NE(text.find(f.itemname[f.questitem]), std::string::npos) << text;
            EXPECT_EQ(text.starts_with("To start you off, "), task == 0) << text;
            if (text.find(f.roomname[f.itemroom[f.questitem]]) >= text.size() - target.size()) {
                ++shortened;  // the item's room left out
                EXPECT_GE(task, 20) << text;
            }
            // The player carries out the task.
            f.itemroom[f.questitem] = f.questroom, f.itemspot[f.questitem] = f.questspot;
            EXPECT_EQ(f.questcheck(), 1);
        }
    }
    EXPECT_GT(shortened, 0);
}

}  // namespace
}  // namespace tw
