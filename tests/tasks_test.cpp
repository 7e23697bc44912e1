// tests/tasks_test.cpp: choosing and phrasing tasks: draw order, retries, every opening, clause, level fragment and ending.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;
using testing::HeadlessGame;
using testing::shippedFolder;

constexpr int kCDs = 50;  // "stacks of CDs", on the floor of the Computer room at the start

class QuestTest : public ::testing::Test {
protected:
    QuestTest() : game(shippedFolder()) { game.form.newgame(); }

    // One task whose first attempt is accepted; every draw forced and all of them consumed.
    std::string ask(int player, int done, int item, int room, int spot, int opening, int phrase, int ending) {
        Form1& f = game.form;
        f.curroom = player;
        f.questsdone = done;
        f.rnd.script({forceDraw(item, f.itemcount), forceDraw(room, f.roomcount), forceDraw(spot, f.spotcount[room]),
                      forceDraw(opening, 14), forceDraw(phrase, 17), forceDraw(ending, 4)});
        f.setquest();
        EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
        EXPECT_EQ(f.questitem, item);
        EXPECT_EQ(f.questroom, room);
        EXPECT_EQ(f.questspot, spot);
        return f.questtext;
    }

    HeadlessGame game;
};

TEST_F(QuestTest, WorkedSentences) {
    EXPECT_EQ(ask(1, 0, kCDs, 1, 2, 9, 5, 3),
              "To start you off, grab the stacks of CDs from the Computer room, and put it on the sofa, in the Living room.");
    EXPECT_EQ(ask(1, 25, kCDs, 1, 2, 3, 13, 2), "Please grab the stacks of CDs, then place it on the sofa, in the Living room.");
    EXPECT_EQ(ask(8, 7, kCDs, 9, 1, 12, 11, 1),
              "head all the way  down, and get the stacks of CDs from the Computer room, then put it on the shelf, in the "
              "Laundry room.");
    EXPECT_EQ(ask(1, 3, kCDs, 8, 2, 4, 10, 4),
              "Take a minute to head upstairs and get the stacks of CDs from the Computer room, and place it on the sofa, in "
              "the Family room.");
}

TEST_F(QuestTest, OpeningsAndTheForcedFirstOpening) {
    const std::array<const char*, 15> openings = {
        "To start you off, ",
        "I want you to ",
        "I need you to ",
        "Please ",
        "Take a minute to ",
        "When you have time, ",
        "When you get a minute, ",
        "The next thing I want you to do, is ",
        "The next thing I need you to do, is ",
        "", "", "", "", "", ""};
    const std::string rest = "get the stacks of CDs from the Computer room, then put it on the sofa, in the Living room.";
    for (int opening = 1; opening <= 14; ++opening) {
        SCOPED_TRACE(opening);
        EXPECT_EQ(ask(1, 1, kCDs, 1, 2, opening, 8, 1), std::string(openings[opening]) + rest);
        // The first task always starts the same way; its opening draw is still used up.
        EXPECT_EQ(ask(1, 0, kCDs, 1, 2, opening, 8, 1), "To start you off, " + rest);
    }
}

// Plain clauses: phrase number, the full clause, the clause from 20 completed tasks on.
struct Plain {
    int phrase;
    const char* full;
    const char* late;
};
const Plain kPlain[] = {
    {1, "go grab the stacks of CDs from the Computer room", "go grab the stacks of CDs"},
    {2, "go grab the stacks of CDs from the Computer room", "go grab the stacks of CDs from the Computer room"},
    {3, "go grab the stacks of CDs out of the Computer room", "go grab the stacks of CDs out of the Computer room"},
    {4, "grab the stacks of CDs from the Computer room", "grab the stacks of CDs"},
    {5, "grab the stacks of CDs from the Computer room", "grab the stacks of CDs from the Computer room"},
    {6, "grab the stacks of CDs out of the Computer room", "grab the stacks of CDs out of the Computer room"},
    {7, "get the stacks of CDs from the Computer room", "get the stacks of CDs"},
    {8, "get the stacks of CDs from the Computer room", "get the stacks of CDs from the Computer room"},
    {9, "get the stacks of CDs out of the Computer room", "get the stacks of CDs out of the Computer room"},
};

TEST_F(QuestTest, PlainClausesAndTheirShortFormsFromTwentyTasks) {
    const std::string tail = ", and place it on the floor, in the Bedroom.";
    for (const Plain& p : kPlain) {
        SCOPED_TRACE(p.phrase);
        // Bedroom and the player's Kitchen share a level, so phrases 10..17 fall back to plain clauses too.
        EXPECT_EQ(ask(3, 19, kCDs, 6, 1, 10, p.phrase, 4), p.full + tail);
        EXPECT_EQ(ask(3, 20, kCDs, 6, 1, 10, p.phrase, 4), p.late + tail);
        EXPECT_EQ(ask(3, 39, kCDs, 6, 1, 10, p.phrase, 4), p.late + tail);
        if (p.phrase <= 8) {
            EXPECT_EQ(ask(3, 19, kCDs, 6, 1, 10, p.phrase + 9, 4), p.full + tail);
            EXPECT_EQ(ask(3, 20, kCDs, 6, 1, 10, p.phrase + 9, 4), p.late + tail);
        }
    }
}

// Level fragments by phrase 10..17: down, up, all the way down, all the way up.
const std::array<std::array<const char*, 4>, 8> kLevelText = {{
    {"head downstairs and get the ", "head upstairs and get the ", "head all the way downstairs and get the ",
     "head all the way  upstairs and get the "},
    {"head down, and get the ", "head up, and get the ", "head all the way  down, and get the ",
     "head all the way  up, and get the "},
    {"head downstairs and grab the ", "head upstairs and grab the ", "head all the way  downstairs and grab the ",
     "head all the way  upstairs and grab the "},
    {"head down, and grab the ", "head up, and grab the ", "head all the way  down, and grab the ",
     "head all the way  up, and grab the "},
    {"go downstairs and get the ", "go upstairs and get the ", "go downstairs and get the ", "go upstairs and get the "},
    {"go down, and get the ", "go up, and get the ", "go down, and get the ", "go up, and get the "},
    {"go downstairs and grab the ", "go upstairs and grab the ", "go downstairs and grab the ", "go upstairs and grab the "},
    {"go down, and grab the ", "go up, and grab the ", "go down, and grab the ", "go up, and grab the "},
}};

TEST_F(QuestTest, LevelFragmentsNeverLoseTheItemsRoom) {
    struct Move {
        int player;
        int room;
        const char* tail;
    };
    // down, up, all the way down, all the way up; each with the target's first spot.
    const std::array<Move, 4> moves = {{
        {2, 9, ", then put it on the shelf, in the Laundry room."},
        {7, 8, ", then put it in the closet, in the Family room."},
        {8, 10, ", then put it on the shelf, in the Computer room."},
        {10, 8, ", then put it in the closet, in the Family room."},
    }};
    for (int phrase = 10; phrase <= 17; ++phrase) {
        for (int column = 0; column < 4; ++column) {
            SCOPED_TRACE("phrase " + std::to_string(phrase) + " column " + std::to_string(column));
            const Move& m = moves[column];
            const std::string expected =
                std::string(kLevelText[phrase - 10][column]) + "stacks of CDs from the Computer room" + m.tail;
            for (int done : {1, 19, 20, 35}) EXPECT_EQ(ask(m.player, done, kCDs, m.room, 1, 13, phrase, 1), expected);
        }
    }
}

// The relation from the player's room to the target room, by levels: main 1..7, upstairs 8, downstairs 9..10.
int expectedColumn(int player, int target) {
    auto level = [](int room) { return room >= 1 && room <= 7 ? 0 : room == 8 ? 1 : room == 9 || room == 10 ? -1 : 9; };
    const int from = level(player);
    const int to = level(target);
    if (from == 9 || from == to) return -1;  // none
    if (from == 0) return to == 1 ? 1 : 0;
    if (from == 1) return to == 0 ? 0 : 2;
    return to == 0 ? 1 : 3;
}

TEST_F(QuestTest, RelationFollowsThePlayersRoomNotTheItemsRoom) {
    const auto& f = game.form;
    for (int player = -1; player <= 12; ++player) {
        for (int room = 1; room <= 10; ++room) {
            SCOPED_TRACE("player " + std::to_string(player) + " target " + std::to_string(room));
            const int column = expectedColumn(player, room);
            const std::string fetch = column < 0 ? std::string("go grab the ")
                                                 : std::string(kLevelText[0][column]);
            const std::string expected = fetch + "stacks of CDs from the Computer room, and put it " + f.spotname[room][1] +
                                         ", in the " + f.roomname[room] + ".";
            EXPECT_EQ(ask(player, 5, kCDs, room, 1, 14, 10, 3), expected);
        }
    }
}

TEST_F(QuestTest, EndingsAndEveryTargetSpot) {
    const std::array<const char*, 4> leadins = {", then put it ", ", then place it ", ", and put it ", ", and place it "};
    const auto& f = game.form;
    for (int ending = 1; ending <= 4; ++ending) {
        EXPECT_EQ(ask(1, 2, kCDs, 1, 3, 12, 2, ending),
                  std::string("go grab the stacks of CDs from the Computer room") + leadins[ending - 1] +
                      "under the TV, in the Living room.");
    }
    int spots = 0;
    for (int room = 1; room <= 10; ++room) {
        for (int spot = 1; spot <= f.spotcount[room]; ++spot) {
            if (room == 10 && spot == 3) continue;  // where the CDs already lie
            ++spots;
            const std::string text = ask(1, 2, kCDs, room, spot, 12, 8, 2);
            EXPECT_EQ(text, "get the stacks of CDs from the Computer room, then place it " + f.spotname[room][spot] +
                                ", in the " + f.roomname[room] + ".");
        }
    }
    EXPECT_EQ(spots, 37);
    EXPECT_EQ(ask(1, 2, kCDs, 6, 6, 12, 8, 2), "get the stacks of CDs from the Computer room, then place it in the dresser, in the Bedroom.");
}

TEST_F(QuestTest, RetriesDrawAllThreeAgain) {
    Form1& f = game.form;
    ASSERT_EQ(f.itemroom[1], 0);  // the glass jar is in hand
    f.curroom = 1;
    f.questsdone = 4;
    // Held item first, then the CDs onto their own spot, then an item with no spot, then a good one.
    f.itemroom[7] = 2;
    f.itemspot[7] = 0;
    f.rnd.script({forceDraw(1, 51), forceDraw(3, 10), forceDraw(2, 5),      // glass jar: in hand
                  forceDraw(kCDs, 51), forceDraw(10, 10), forceDraw(3, 4),  // CDs: already there
                  forceDraw(7, 51), forceDraw(4, 10), forceDraw(1, 2),      // dog: no spot
                  forceDraw(44, 51), forceDraw(6, 10), forceDraw(4, 6),     // old keyboards to the bedroom closet
                  forceDraw(1, 14), forceDraw(4, 17), forceDraw(1, 4)});
    f.setquest();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.questitem, 44);
    EXPECT_EQ(f.questroom, 6);
    EXPECT_EQ(f.questspot, 4);
    EXPECT_EQ(f.questtext, "I want you to grab the old keyboards from the Laundry room, then put it in the closet, in the Bedroom.");
}

TEST_F(QuestTest, AHeldItemOtherThanTheJarIsRefusedToo) {
    Form1& f = game.form;
    f.itemroom[1] = 3;  // the jar put down in the kitchen sink
    f.itemspot[1] = 3;
    f.itemroom[kCDs] = 0;  // the CDs picked up
    f.itemspot[kCDs] = 0;
    f.curroom = 3;
    f.questsdone = 6;
    f.rnd.script({forceDraw(kCDs, 51), forceDraw(1, 10), forceDraw(1, 3),  // refused: in hand
                  forceDraw(1, 51), forceDraw(3, 10), forceDraw(3, 5),     // refused: already there
                  forceDraw(1, 51), forceDraw(3, 10), forceDraw(2, 5),
                  forceDraw(14, 14), forceDraw(9, 17), forceDraw(3, 4)});
    f.setquest();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.questtext, "get the glass jar out of the Kitchen, and put it on the counter, in the Kitchen.");
    EXPECT_EQ(f.questcheck(), 0);
}

TEST_F(QuestTest, QuestCheckNeedsTheItemOnTheTargetSpot) {
    Form1& f = game.form;
    ask(1, 1, kCDs, 1, 2, 1, 1, 1);
    EXPECT_EQ(f.questcheck(), 0);
    f.itemroom[kCDs] = 0;  // carried
    f.itemspot[kCDs] = 0;
    EXPECT_EQ(f.questcheck(), 0);
    f.itemroom[kCDs] = 1;  // right room, wrong spot
    f.itemspot[kCDs] = 1;
    EXPECT_EQ(f.questcheck(), 0);
    f.itemroom[kCDs] = 2;  // right spot number, wrong room
    f.itemspot[kCDs] = 2;
    EXPECT_EQ(f.questcheck(), 0);
    f.itemroom[kCDs] = 1;
    f.itemspot[kCDs] = 2;
    EXPECT_EQ(f.questcheck(), 1);
    // Another item on the target spot does not complete the task.
    f.itemroom[kCDs] = 10;
    f.itemspot[kCDs] = 3;
    f.itemroom[2] = 1;
    f.itemspot[2] = 2;
    EXPECT_EQ(f.questcheck(), 0);
}

// The part of a task before its placing clause, when the text ends with a lead-in and `target`.
std::string fetchPart(const std::string& text, const std::string& target) {
    for (const char* leadin : {", then put it ", ", then place it ", ", and put it ", ", and place it "}) {
        const std::string placing = leadin + target;
        if (text.size() > placing.size() && text.compare(text.size() - placing.size(), placing.size(), placing) == 0)
            return text.substr(0, text.size() - placing.size());
    }
    return std::string();
}

TEST(QuestPlay, ManySeededGamesKeepEveryTaskSound) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    std::mt19937 moves(20240601);
    std::set<std::string> spotnames;
    std::set<int> items, rooms, curs;
    int shortened = 0, levels = 0;
    for (std::uint64_t seed = 1; seed <= 150; ++seed) {
        f.rnd.seed(seed);
        f.newgame();
        curs.insert(f.curroom);
        for (int r = 1; r <= f.roomcount; ++r)
            for (int s = 1; s <= f.spotcount[r]; ++s) spotnames.insert(f.spotname[r][s]);
        for (int task = 0; task < 40; ++task) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " task " + std::to_string(task));
            if (task > 0) {
                f.questsdone = task;
                f.curroom = std::uniform_int_distribution<int>(1, 10)(moves);
                f.setquest();
            }
            const std::string& text = f.questtext;
            ASSERT_GE(f.questitem, 1);
            ASSERT_LE(f.questitem, f.itemcount);
            ASSERT_GE(f.questroom, 1);
            ASSERT_LE(f.questroom, 10);
            ASSERT_GE(f.questspot, 1);
            ASSERT_LE(f.questspot, f.spotcount[f.questroom]);
            EXPECT_NE(f.itemroom[f.questitem], 0);
            EXPECT_NE(f.itemspot[f.questitem], 0);
            EXPECT_EQ(f.questcheck(), 0);
            const std::string target = f.spotname[f.questroom][f.questspot] + ", in the " + f.roomname[f.questroom] + ".";
            ASSERT_GE(text.size(), target.size());
            EXPECT_EQ(text.substr(text.size() - target.size()), target) << text;
            const std::string fetch = fetchPart(text, target);
            ASSERT_FALSE(fetch.empty()) << text;
            EXPECT_NE(fetch.find(f.itemname[f.questitem]), std::string::npos) << text;
            for (const auto& name : spotnames) EXPECT_EQ(fetch.find(name), std::string::npos) << text;
            if (task == 0) {
                EXPECT_EQ(text.rfind("To start you off, ", 0), 0u) << text;
            }
            if (fetch.find(f.roomname[f.itemroom[f.questitem]]) == std::string::npos) {
                ++shortened;
                EXPECT_GE(f.questsdone, 20) << text;
            }
            if (fetch.find("stairs") != std::string::npos || fetch.find(" down, ") != std::string::npos ||
                fetch.find(" up, ") != std::string::npos)
                ++levels;
            items.insert(f.questitem);
            rooms.insert(f.questroom);

            // The player carries out the task, and now and then keeps something in hand.
            f.itemroom[f.questitem] = f.questroom;
            f.itemspot[f.questitem] = f.questspot;
            EXPECT_EQ(f.questcheck(), 1);
            if (moves() % 3 == 0) {
                const int held = f.helditem();
                if (held != 0) {
                    f.itemroom[held] = f.questroom;
                    f.itemspot[held] = f.questspot;
                }
                const int pick = std::uniform_int_distribution<int>(1, f.itemcount)(moves);
                f.itemroom[pick] = 0;
                f.itemspot[pick] = 0;
            }
        }
    }
    EXPECT_EQ(curs.size(), 10u);
    EXPECT_EQ(rooms.size(), 10u);
    EXPECT_GE(items.size(), 45u);
    EXPECT_GT(shortened, 0);
    EXPECT_GT(levels, 0);
}

}  // namespace
}  // namespace tw
