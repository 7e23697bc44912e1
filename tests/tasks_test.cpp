// tests/tasks_test.cpp: choosing and phrasing tasks: the worked sentences, the retry rule, and many seeded games of
// tasks.
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
