// tests/playkeys_test.cpp: the house keys, a task's completion on the virtual clock, the win, held keys, and random-key stress.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "game/text.h"
#include "keys_util.h"

namespace tw::keytest {
namespace {

using Texts = std::vector<std::string>;

class PlayKeysTest : public KeyFixture {
protected:
    void SetUp() override {
        KeyFixture::SetUp();
        startGame();
        taskElsewhere();
    }
};

// The scripted value that makes draw(n) give v.
double forced(int v, int n) { return (v - 0.5) / n; }

const std::string kWin = "Congradulations, you have won!  Use the arrow keys to hear your final message.";

TEST_F(PlayKeysTest, RoomKeys) {
    EXPECT_EQ(say('3'), "You're in Kitchen.");
    EXPECT_EQ(form->curroom, 3);
    const std::array<std::string, 11> names = {"",        "Living room", "Dining room",  "Kitchen",
                                               "Hallway", "Bathroom",    "Bedroom",      "Spare room",
                                               "Family room", "Laundry room", "Computer room"};
    for (int room = 1; room <= 10; ++room) {
        SCOPED_TRACE(room);
        EXPECT_EQ(say(roomKey(room)), "You're in " + names[room] + ".");
        EXPECT_EQ(form->curroom, room);
    }
    // The 0 key is the tenth room.
    EXPECT_EQ(say('0'), "You're in Computer room.");
    EXPECT_EQ(form->curroom, 10);

    // A room key forgets the spot and the item.
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(form->curspot, 0);
    EXPECT_EQ(form->curitem, 0);

    // With Shift held, a number key still moves.
    EXPECT_EQ(say('4'), "You're in Hallway.");
    EXPECT_EQ(say('1', key::ShiftMask), "You're in Living room.");
    EXPECT_EQ(form->curroom, 1);

    // The number pad's digits are not room keys.
    for (int code = 96; code <= 105; ++code) silent(code);
    EXPECT_EQ(form->curroom, 1);
}

TEST_F(PlayKeysTest, SpotKeys) {
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(form->curspot, 1);
    EXPECT_EQ(say('E'), "You look on the sofa, in the Living room");
    EXPECT_EQ(say('R'), "You look under the TV, in the Living room");
    EXPECT_EQ(form->curspot, 3);
    EXPECT_EQ(say('A'), "You see the cable box under the TV.");
    // Past the room's spots: an empty answer, and the spot and item stay chosen.
    for (int code : {'T', 'Y', 'U', 'I'}) {
        EXPECT_EQ(say(code), "");
        EXPECT_EQ(form->curspot, 3);
        EXPECT_EQ(form->curitem, itemIndex(*form, "cable box"));
    }
    // Ctrl with W (as from a screen reader's key) chooses spot 1 all the same.
    EXPECT_EQ(say('W', key::CtrlMask), "You look on the floor, in the Living room");
    EXPECT_EQ(form->curspot, 1);
    EXPECT_EQ(form->curitem, 0);

    // The seventh spot key in a room of six spots, and in a room of six, the sixth.
    EXPECT_EQ(say('6'), "You're in Bedroom.");
    EXPECT_EQ(say('Y'), "You look on the dresser, in the Bedroom");
    EXPECT_EQ(say('U'), "You look in the dresser, in the Bedroom");
    EXPECT_EQ(say('I'), "");
    EXPECT_EQ(form->curspot, 6);
    EXPECT_EQ(say('0'), "You're in Computer room.");
    EXPECT_EQ(say('R'), "You look on the floor, in the Computer room");
    EXPECT_EQ(say('T'), "You look under the desk, in the Computer room");
    EXPECT_EQ(say('Y'), "");
    EXPECT_EQ(form->curspot, 4);
}

TEST_F(PlayKeysTest, ItemKeys) {
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    EXPECT_EQ(say('S'), "You see the cardboard box on the floor.");
    EXPECT_EQ(form->curitem, itemIndex(*form, "cardboard box"));
    // Past the last item: an empty answer, and the earlier choice stays.
    for (int code : {'D', 'F', 'G', 'H', 'J'}) {
        EXPECT_EQ(say(code), "");
        EXPECT_EQ(form->curitem, itemIndex(*form, "cardboard box"));
    }
    EXPECT_EQ(say('A', key::ShiftMask), "You see the toy mouse on the floor.");
    EXPECT_EQ(form->curitem, itemIndex(*form, "toy mouse"));

    // Without a spot there is nothing to see.
    EXPECT_EQ(say('9'), "You're in Laundry room.");
    EXPECT_EQ(say('A'), "");
    EXPECT_EQ(form->curitem, 0);
    EXPECT_EQ(say('W'), "You look on the shelf, in the Laundry room");
    EXPECT_EQ(say('A'), "You see the laundry detergent on the shelf.");
    EXPECT_EQ(say('S'), "You see the old keyboards on the shelf.");
    EXPECT_EQ(say('D'), "You see the paint can on the shelf.");
    EXPECT_EQ(say('F'), "");
    EXPECT_EQ(form->curitem, itemIndex(*form, "paint can"));
}

TEST_F(PlayKeysTest, EnterSwapsAndSwapsBack) {
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say(key::Enter), "Pick a spot in this room first.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say(key::Enter), "Pick an item to swap with first.");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const int jar = itemIndex(*form, "glass jar");
    const int mouse = itemIndex(*form, "toy mouse");
    EXPECT_EQ(say(key::Enter), "You have set the glass jar down on the floor, and picked up the toy mouse.");
    EXPECT_EQ(form->itemroom[jar], 1);
    EXPECT_EQ(form->itemspot[jar], 1);
    EXPECT_EQ(form->itemroom[mouse], 0);
    EXPECT_EQ(form->itemspot[mouse], 0);
    EXPECT_EQ(form->helditem(), mouse);
    EXPECT_EQ(form->curitem, jar);
    // Enter again: the two change back.
    EXPECT_EQ(say(key::Enter), "You have set the toy mouse down on the floor, and picked up the glass jar.");
    EXPECT_EQ(form->helditem(), jar);
    EXPECT_EQ(form->curitem, mouse);
    EXPECT_EQ(form->itemroom[mouse], 1);
    EXPECT_EQ(form->itemspot[mouse], 1);
    EXPECT_EQ(form->questsdone, 0);

    // The order at a spot follows the item list: the mouse is first again.
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    EXPECT_EQ(say('S'), "You see the cardboard box on the floor.");
    EXPECT_EQ(say(key::Enter), "You have set the glass jar down on the floor, and picked up the cardboard box.");
    EXPECT_EQ(say('A'), "You see the glass jar on the floor.");
    EXPECT_EQ(say('S'), "You see the toy mouse on the floor.");
    EXPECT_EQ(say('D'), "");

    // A room key forgets the spot, so Enter asks for one again.
    EXPECT_EQ(say('2'), "You're in Dining room.");
    EXPECT_EQ(say(key::Enter), "Pick a spot in this room first.");
    EXPECT_EQ(say('E'), "You look on the table, in the Dining room");
    EXPECT_EQ(say(key::Enter), "Pick an item to swap with first.");
    EXPECT_EQ(form->helditem(), itemIndex(*form, "cardboard box"));
}

TEST_F(PlayKeysTest, InfoKeys) {
    EXPECT_EQ(say('8'), "You're in Family room.");
    EXPECT_EQ(say('Z'), "You are upstairs in the Family room, holding the glass jar.");
    EXPECT_EQ(say('X'), "You are upstairs in the Family room.");
    EXPECT_EQ(say('0'), "You're in Computer room.");
    EXPECT_EQ(say('X'), "You are downstairs in the Computer room.");
    EXPECT_EQ(say('Z'), "You are downstairs in the Computer room, holding the glass jar.");
    EXPECT_EQ(say('9'), "You're in Laundry room.");
    EXPECT_EQ(say('X'), "You are downstairs in the Laundry room.");
    EXPECT_EQ(say('3'), "You're in Kitchen.");
    EXPECT_EQ(say('X'), "You are in the Kitchen.");
    EXPECT_EQ(say('Z'), "You are in the Kitchen, holding the glass jar.");
    EXPECT_EQ(say('C'), "You are holding the glass jar.");
    EXPECT_EQ(say('V'), "No swaps yet.");
    EXPECT_EQ(say('B'), "You have not completed any tasks yet.");
    form->questsdone = 1;
    EXPECT_EQ(say('B'), "You have completed 1 task.");
    form->questsdone = 2;
    EXPECT_EQ(say('B'), "You have completed 2 tasks.");
    form->questsdone = 39;
    EXPECT_EQ(say('B'), "You have completed 39 tasks.");
    form->lastswaps = "The word, cup, will now be replaced with, kazoo.  ";
    EXPECT_EQ(say('V'), "The word, cup, will now be replaced with, kazoo.  ");

    // The held item follows the swaps.
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('E'), "You look on the sofa, in the Living room");
    EXPECT_EQ(say('S'), "You see the cat on the sofa.");
    EXPECT_EQ(press(key::Enter).size(), 1u);
    EXPECT_EQ(say('C'), "You are holding the cat.");
    EXPECT_EQ(say('Z'), "You are in the Living room, holding the cat.");
    // Info keys choose nothing.
    EXPECT_EQ(form->curspot, 2);
    EXPECT_EQ(form->curitem, itemIndex(*form, "glass jar"));
}

TEST_F(PlayKeysTest, QSpeaksTheTaskThroughTheSwapsAndWritesIt) {
    form->questtext = "Please get the Cup from the Kitchen, then put it on the floor, in the Living room.";
    EXPECT_EQ(say('Q'), form->questtext);
    auto last = driver::readBytes(homeFile("lasttask.txt"));
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(*last, form->questtext + "\r\n");

    // Case-blind whole words, pairs in order, chains followed forwards.
    form->swapcount = 3;
    form->swapfrom[1] = "THE";
    form->swapto[1] = "walrus";
    form->swapfrom[2] = "Walrus";
    form->swapto[2] = "kazoo";
    form->swapfrom[3] = "cup";
    form->swapto[3] = "sock puppet";
    const std::string heard =
        "Please get kazoo sock puppet from kazoo Kitchen, then put it on kazoo floor, in kazoo Living room.";
    EXPECT_EQ(say('Q'), heard);
    last = driver::readBytes(homeFile("lasttask.txt"));
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(*last, heard + "\r\n");
    // The task itself is kept as Dorvel first said it.
    EXPECT_EQ(form->questtext, "Please get the Cup from the Kitchen, then put it on the floor, in the Living room.");

    // Not part of a word: "then" and "there" stay.
    form->swapcount = 1;
    form->swapfrom[1] = "the";
    form->swapto[1] = "a";
    form->questtext = "then there, the! the.the";
    EXPECT_EQ(say('Q'), "then there, a! a.a");
}

TEST_F(PlayKeysTest, JumpKeyMovesSilentlyOnlyWithCtrl) {
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('S'), "You see the cardboard box on the floor.");
    form->questroom = 8;
    form->questspot = 3;
    for (int shift : {0, 1, 3, 4, 6}) {
        silent(key::Grave, shift);
        EXPECT_EQ(form->curroom, 1);
        EXPECT_EQ(form->curspot, 1);
    }
    silent(key::Grave, key::CtrlMask);
    EXPECT_EQ(form->curroom, 8);
    EXPECT_EQ(form->curspot, 3);
    EXPECT_EQ(form->curitem, itemIndex(*form, "cardboard box"));
    EXPECT_EQ(say('X'), "You are upstairs in the Family room.");
}

TEST_F(PlayKeysTest, UnusedKeysInTheHouseDoNothing) {
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const int room = form->curroom, spot = form->curspot, item = form->curitem;
    // Letters outside the rows, the number pad, function keys, and codes that only share their
    // low byte with a letter key.
    for (int code : std::vector<int>{'K', 'L', 'M', 'N', 'O', 'P', 32, 8, 46, 96, 105, 112, 186, 191, 0, 255, 'W' + 256, 'A' + 256,
                     '1' + 256, 'W' - 256, 'A' - 256, -1, 1000, 37, 38, 39, 40}) {
        for (int shift : {0, 1, 2}) silent(code, shift);
    }
    EXPECT_EQ(form->curroom, room);
    EXPECT_EQ(form->curspot, spot);
    EXPECT_EQ(form->curitem, item);
    // Escape leaves the house for the main menu.
    EXPECT_EQ(say(key::Escape), "Main menu");
}

// ---- a task's completion ----

TEST_F(PlayKeysTest, CompletingATaskOnTheVirtualClock) {
    taskJarToLivingRoomFloor();
    EXPECT_FALSE(form->besttasks.has_value());
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const std::vector<std::string> wordsBefore = form->List2;
    const std::size_t mark = platform->timeline.size();
    const double t0 = platform->nowMs();
    const auto texts = press(key::Enter);

    ASSERT_EQ(form->swapcount, 1);
    const std::string from = form->swapfrom[1];
    const std::string to = form->swapto[1];
    const std::string message = "You have completed your first task.  Dorvel has gone a little bit more insane.  The word, " +
                                from + ", will now be replaced with, " + to + ".    Press Q, to hear your next task.";
    EXPECT_EQ(texts, (Texts{"You have set the glass jar down on the floor, and picked up the toy mouse.", message}));

    const std::vector<TimedPlatform::Stamp> stamps(platform->timeline.begin() + static_cast<std::ptrdiff_t>(mark),
                                                   platform->timeline.end());
    ASSERT_EQ(stamps.size(), 3u);
    EXPECT_EQ(stamps[0].line, "say: " + texts[0]);
    EXPECT_DOUBLE_EQ(stamps[0].ms, t0);
    EXPECT_EQ(stamps[1].line, "sound: " + home.path() + "/sounds/award.wav");
    EXPECT_DOUBLE_EQ(stamps[1].ms, t0 + 1000);
    EXPECT_EQ(stamps[2].line, "say: " + message);
    EXPECT_DOUBLE_EQ(stamps[2].ms, t0 + 3000);

    EXPECT_EQ(form->questsdone, 1);
    EXPECT_EQ(form->besttasks, 1);
    EXPECT_EQ(form->lastswaps, "The word, " + from + ", will now be replaced with, " + to + ".  ");
    // The new word comes out of the word list, the old one out of the next task as heard.
    EXPECT_NE(std::find(wordsBefore.begin(), wordsBefore.end(), to), wordsBefore.end());
    EXPECT_EQ(std::find(form->List2.begin(), form->List2.end(), to), form->List2.end());
    EXPECT_EQ(form->List2.size() + 1, wordsBefore.size());
    const std::string task = " " + form->questtext + " ";
    bool found = false;
    for (const char* sep : {" ", ",", ".", "!"})
        for (const char* after : {" ", ",", ".", "!"})
            found = found || ucase(task).find(ucase(sep + from + after)) != std::string::npos;
    EXPECT_TRUE(found) << from << " is not a word of " << form->questtext;
    // The new task is for another item than the one in the hand, at a new place.
    EXPECT_NE(form->itemroom[form->questitem], 0);
    EXPECT_FALSE(form->itemroom[form->questitem] == form->questroom && form->itemspot[form->questitem] == form->questspot);
    EXPECT_EQ(form->questcheck(), 0);
    EXPECT_EQ(say('V'), form->lastswaps);
    EXPECT_EQ(say('B'), "You have completed 1 task.");
}

TEST_F(PlayKeysTest, MessagesAndPairsByTheNumberOfTasks) {
    // Before the eleventh task one pair, up to the thirtieth two, after it three.
    for (int done : {1, 2, 10, 11, 30, 31, 39}) {
        SCOPED_TRACE(done);
        form->questsdone = done - 1;
        // The jar back in the hand, the mouse on the floor.
        const int jar = itemIndex(*form, "glass jar");
        const int held = form->helditem();
        if (held != jar) {
            form->itemroom[held] = form->itemroom[jar];
            form->itemspot[held] = form->itemspot[jar];
            form->itemroom[jar] = 0;
            form->itemspot[jar] = 0;
        }
        form->questitem = jar;
        form->questroom = 1;
        form->questspot = 1;
        EXPECT_EQ(say('1'), "You're in Living room.");
        EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
        ASSERT_NE(say('A'), "");
        const int pairsBefore = form->swapcount;
        const auto texts = press(key::Enter);
        ASSERT_EQ(texts.size(), 2u);
        const int made = form->swapcount - pairsBefore;
        EXPECT_EQ(made, done <= 10 ? 1 : done <= 30 ? 2 : 3);
        std::string pairs;
        for (int k = pairsBefore + 1; k <= form->swapcount; ++k) {
            const bool lastOfMany = made > 1 && k == form->swapcount;
            pairs += std::string(lastOfMany ? "And the word, " : "The word, ") + form->swapfrom[k] +
                     ", will now be replaced with, " + form->swapto[k] + (lastOfMany ? "." : ".  ");
        }
        EXPECT_EQ(form->lastswaps, pairs);
        const std::string count = done == 1 ? "your first task" : std::to_string(done) + " tasks";
        EXPECT_EQ(texts[1], "You have completed " + count + ".  Dorvel has gone a little bit more insane.  " + pairs +
                                "  Press Q, to hear your next task.");
        EXPECT_EQ(form->questsdone, done);
        EXPECT_EQ(form->besttasks, done);
    }
}

TEST_F(PlayKeysTest, BestTasksOnlyRises) {
    form->besttasks = 25;
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    EXPECT_EQ(press(key::Enter).size(), 2u);
    EXPECT_EQ(form->questsdone, 1);
    EXPECT_EQ(form->besttasks, 25);
}

TEST_F(PlayKeysTest, TheFortiethTaskWinsAndAFortyFirstWinsAgain) {
    form->questsdone = 39;
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const std::string questtext = form->questtext;
    const int questitem = form->questitem;
    const int swapcount = form->swapcount;
    const auto list1 = form->List1;
    const auto list2 = form->List2;
    Random twin = form->rnd;
    const std::size_t mark = platform->timeline.size();
    const double t0 = platform->nowMs();

    const auto texts = press(key::Enter);
    EXPECT_EQ(texts, (Texts{"You have set the glass jar down on the floor, and picked up the toy mouse.", kWin}));
    const std::vector<TimedPlatform::Stamp> stamps(platform->timeline.begin() + static_cast<std::ptrdiff_t>(mark),
                                                   platform->timeline.end());
    ASSERT_EQ(stamps.size(), 3u);
    EXPECT_EQ(stamps[1].line, "sound: " + home.path() + "/sounds/award.wav");
    EXPECT_DOUBLE_EQ(stamps[1].ms, t0 + 1000);
    EXPECT_DOUBLE_EQ(stamps[2].ms, t0 + 3000);
    EXPECT_EQ(form->questsdone, 40);
    EXPECT_EQ(form->besttasks, 40);
    EXPECT_EQ(form->menu, 3);
    EXPECT_EQ(form->menupos, 0);
    // No new task and no new words.
    EXPECT_EQ(form->questtext, questtext);
    EXPECT_EQ(form->questitem, questitem);
    EXPECT_EQ(form->swapcount, swapcount);
    EXPECT_EQ(form->List1, list1);
    EXPECT_EQ(form->List2, list2);
    EXPECT_EQ(form->rnd.next(), twin.next());

    // Q after the win opens the ending again and writes no task.
    EXPECT_EQ(say(key::Escape), "Menu closed");
    std::filesystem::remove(homeFile("lasttask.txt"));
    silent(key::Down);  // arrows in the house are not menu keys
    EXPECT_EQ(say('Q'), kWin);
    EXPECT_EQ(form->menu, 3);
    EXPECT_EQ(form->menupos, 0);
    EXPECT_FALSE(driver::exists(homeFile("lasttask.txt")));
    EXPECT_EQ(say('B'), "Return to the main menu.");

    // Swapping the item off its place and back counts once more and wins once more.
    EXPECT_EQ(say(key::Escape), "Menu closed");
    EXPECT_EQ(say('B'), "You have completed 40 tasks.");
    EXPECT_EQ(say(key::Enter), "You have set the toy mouse down on the floor, and picked up the glass jar.");
    EXPECT_EQ(press(key::Enter),
              (Texts{"You have set the glass jar down on the floor, and picked up the toy mouse.", kWin}));
    EXPECT_EQ(form->questsdone, 41);
    EXPECT_EQ(form->besttasks, 41);
    EXPECT_EQ(form->menu, 3);
    EXPECT_EQ(form->swapcount, swapcount);
}

// ---- keys pressed during the completion waits ----

TEST_F(PlayKeysTest, KeysDuringTheWaitsRunAfterTheFlowInOrder) {
    form->besttasks = 0;
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const double t0 = platform->nowMs();
    const std::size_t mark = platform->timeline.size();
    platform->queueKey(key::Escape, 0, t0 + 500);
    platform->queueKey(key::Down, 0, t0 + 1500);
    platform->queueKey(key::Down, 0, t0 + 1500);
    platform->queueKey(key::Enter, 0, t0 + 1500);
    const auto texts = press(key::Enter);

    ASSERT_EQ(texts.size(), 6u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "You have set the glass jar down on the floor, and picked up the toy mouse.");
    EXPECT_EQ(texts[1].rfind("You have completed your first task.  Dorvel has gone a little bit more insane.  The word, ", 0),
              0u)
        << texts[1];
    EXPECT_EQ(texts[2], "Main menu");
    EXPECT_EQ(texts[3], "How to play");
    EXPECT_EQ(texts[4], "Play the game");
    EXPECT_EQ(texts[5], "You have arrived at Dorvel's house.  Press Q, to hear your first task.");

    // Nothing ran before the flow had ended.
    const std::vector<TimedPlatform::Stamp> stamps(platform->timeline.begin() + static_cast<std::ptrdiff_t>(mark),
                                                   platform->timeline.end());
    ASSERT_EQ(stamps.size(), 7u);
    EXPECT_EQ(stamps[1].line, "sound: " + home.path() + "/sounds/award.wav");
    EXPECT_DOUBLE_EQ(stamps[1].ms, t0 + 1000);
    for (std::size_t i = 2; i < stamps.size(); ++i) EXPECT_DOUBLE_EQ(stamps[i].ms, t0 + 3000) << stamps[i].line;

    // The old game's record stands; a new game has begun.
    EXPECT_EQ(form->besttasks, 1);
    EXPECT_EQ(form->questsdone, 0);
    EXPECT_EQ(form->menu, 0);
    EXPECT_EQ(say('B'), "You have not completed any tasks yet.");
    EXPECT_EQ(say('V'), "No swaps yet.");
}

TEST_F(PlayKeysTest, HouseKeysDuringTheWaitsSeeTheNextTask) {
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const double t0 = platform->nowMs();
    platform->queueKey('B', 0, t0 + 500);
    platform->queueKey('Q', 0, t0 + 1500);
    platform->queueKey('C', 0, t0 + 2999);
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 5u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[2], "You have completed 1 task.");
    std::string heard = form->questtext;
    form->swapit(heard);
    EXPECT_EQ(texts[3], heard);
    EXPECT_EQ(texts[4], "You are holding the toy mouse.");
    EXPECT_EQ(driver::readBytes(homeFile("lasttask.txt")).value_or(""), heard + "\r\n");
}

TEST_F(PlayKeysTest, CtrlDuringTheWaitsSilencesAtOnce) {
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const double t0 = platform->nowMs();
    const std::size_t mark = platform->timeline.size();
    platform->queueKey(key::Ctrl, 0, t0 + 500);
    platform->queueKey(key::Ctrl, key::CtrlMask, t0 + 2500);
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 4u) << ::testing::PrintToString(texts);
    const std::vector<TimedPlatform::Stamp> stamps(platform->timeline.begin() + static_cast<std::ptrdiff_t>(mark),
                                                   platform->timeline.end());
    ASSERT_EQ(stamps.size(), 5u);
    EXPECT_EQ(stamps[1].line, "say: ");
    EXPECT_DOUBLE_EQ(stamps[1].ms, t0 + 500);
    EXPECT_EQ(stamps[2].line.rfind("sound: ", 0), 0u);
    EXPECT_DOUBLE_EQ(stamps[2].ms, t0 + 1000);
    EXPECT_EQ(stamps[3].line, "say: ");
    EXPECT_DOUBLE_EQ(stamps[3].ms, t0 + 2500);
    EXPECT_EQ(stamps[4].line.rfind("say: You have completed your first task.", 0), 0u);
    EXPECT_DOUBLE_EQ(stamps[4].ms, t0 + 3000);
    EXPECT_EQ(form->questsdone, 1);
}

TEST_F(PlayKeysTest, AHeldEnterMayCompleteTheNextTaskAndTheRestWaitsForIt) {
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    // The next task's draws: the cardboard box (item 3 of 51), under the TV (room 1, spot 3).
    form->rnd.script({forced(3, 51), forced(1, 10), forced(3, 3)});
    const double t0 = platform->nowMs();
    int at = 100;
    for (int code : std::vector<int>{'S', key::Enter, 'R', 'A', key::Enter, 'B'}) platform->queueKey(code, 0, t0 + (at += 100));
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 9u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "You have set the glass jar down on the floor, and picked up the toy mouse.");
    EXPECT_EQ(texts[1].rfind("You have completed your first task.  Dorvel", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2], "You see the cardboard box on the floor.");
    EXPECT_EQ(texts[3], "You have set the toy mouse down on the floor, and picked up the cardboard box.");
    EXPECT_EQ(texts[4], "You look under the TV, in the Living room");
    EXPECT_EQ(texts[5], "You see the cable box under the TV.");
    EXPECT_EQ(texts[6], "You have set the cardboard box down under the TV, and picked up the cable box.");
    EXPECT_EQ(texts[7].rfind("You have completed 2 tasks.  Dorvel has gone a little bit more insane.  The word, ", 0), 0u)
        << texts[7];
    // The last held key ran after the second flow, not inside it.
    EXPECT_EQ(texts[8], "You have completed 2 tasks.");
    EXPECT_EQ(form->questsdone, 2);
    EXPECT_EQ(form->swapcount, 2);
}

TEST_F(PlayKeysTest, HeldKeysSeeTheStateAfterTheFlow) {
    taskJarToLivingRoomFloor();
    EXPECT_EQ(say('1'), "You're in Living room.");
    EXPECT_EQ(say('W'), "You look on the floor, in the Living room");
    EXPECT_EQ(say('A'), "You see the toy mouse on the floor.");
    const double t0 = platform->nowMs();
    platform->queueKey('R', 0, t0 + 100);
    platform->queueKey(key::Enter, 0, t0 + 200);
    platform->queueKey('B', 0, t0 + 300);
    const auto texts = press(key::Enter);
    ASSERT_EQ(texts.size(), 5u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[2], "You look under the TV, in the Living room");
    EXPECT_EQ(texts[3], "Pick an item to swap with first.");
    EXPECT_EQ(texts[4], "You have completed 1 task.");
}

// ---- random keys ----

struct StressStats {
    int keys = 0;
    int tasks = 0;
    int wins = 0;
    int games = 0;
    int restarts = 0;
    int heldKeys = 0;
};

class StressTest : public KeyFixture {
protected:
    // Every key the game answers to, and some it does not.
    const std::vector<int> used_ = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'W', 'E', 'R', 'T', 'Y', 'U',
                                    'I', 'A', 'S', 'D', 'F', 'G', 'H', 'J', 'Z', 'X', 'C', 'V', 'B', 'Q', 13, 27,
                                    9,   33,  34,  37,  38,  39,  40,  192, 17,  16,  18,  233};
    const std::vector<int> unused_ = {96, 100, 105, 'K', 'L', 'M', 'P', 112, 8, 32, 0, 255, 'W' + 256, 'A' - 256, -1};

    std::mt19937 gen_;
    StressStats stats_;
    int lastQuests_ = 0;
    bool newGame_ = false;
    std::string failure_;

    int randomKey() {
        if (gen_() % 10 == 0) return unused_[gen_() % unused_.size()];
        return used_[gen_() % used_.size()];
    }

    void hookSpeech() {
        platform->onSay = [this](const std::string& text) {
            if (text.rfind("You have arrived at Dorvel's house.", 0) == 0) newGame_ = true;
            // Right after a new task was set (the message follows setquest and the wait).
            if (text.rfind("You have completed ", 0) == 0 && text.find("Dorvel has gone") != std::string::npos) {
                const int q = form->questitem;
                if (q < 1 || q > form->itemcount || form->itemroom[q] == 0)
                    failure_ += "the task's item is in the hand after a new task; ";
                else if (form->itemroom[q] == form->questroom && form->itemspot[q] == form->questspot)
                    failure_ += "the task's item already lies at the target; ";
            }
        };
    }

    void restart() {
        ++stats_.restarts;
        startSession(true);
        hookSpeech();
        platform->inputAnswer = [](const std::string&, const std::string&) { return std::string(); };
        lastQuests_ = 0;
    }

    // Presses a key (maybe with others due during its waits); restarts when the game ends.
    void stressPress(int code, int shift) {
        ++stats_.keys;
        newGame_ = false;
        try {
            platform->queueKey(code, shift);
            runIdle(*platform);
        } catch (const ProcessEnded&) {
            restart();
        }
    }

    ::testing::AssertionResult invariants() {
        auto bad = [this](const std::string& what) {
            return ::testing::AssertionFailure() << what << " (key " << stats_.keys << ")";
        };
        const Form1& g = *form;
        if (!failure_.empty()) return bad(failure_);
        if (g.ignorekeys != 0) return bad("keys stay ignored");
        if (!platform->idle()) return bad("the platform is not idle");
        if (g.Holder.Enabled()) return bad("the wait timer stays on");
        if (g.menu < 0 || g.menu > 3) return bad("menu " + std::to_string(g.menu));
        const int maxpos[] = {0, 5, 14, 10};
        if (g.menupos < 0 || g.menupos > maxpos[g.menu]) return bad("menupos " + std::to_string(g.menupos));
        if (g.speechmode < 0 || g.speechmode > 2) return bad("speechmode " + std::to_string(g.speechmode));
        if (g.curroom == 0) {
            if (g.menu == 0) return bad("in the house without a game");
            if (g.itemcount != 0) return bad("items without a game");
            return ::testing::AssertionSuccess();
        }
        if (g.curroom < 1 || g.curroom > 10) return bad("curroom " + std::to_string(g.curroom));
        if (g.itemcount != 51) return bad("itemcount " + std::to_string(g.itemcount));
        int held = 0;
        for (int i = 1; i <= g.itemcount; ++i) {
            if (g.itemroom[i] == 0) {
                ++held;
                if (g.itemspot[i] != 0) return bad("the held item has a spot");
                continue;
            }
            if (g.itemroom[i] < 1 || g.itemroom[i] > 10) return bad("item " + std::to_string(i) + " in no room");
            if (g.itemspot[i] < 1 || g.itemspot[i] > g.spotcount[g.itemroom[i]])
                return bad("item " + std::to_string(i) + " at no spot");
        }
        if (held != 1) return bad(std::to_string(held) + " items in the hand");
        if (g.curspot < 0 || g.curspot > g.spotcount[g.curroom]) return bad("curspot " + std::to_string(g.curspot));
        if (g.curitem < 0 || g.curitem > g.itemcount) return bad("curitem " + std::to_string(g.curitem));
        if (g.curitem != 0 && g.itemroom[g.curitem] == 0) return bad("the chosen item is the one in the hand");
        if (g.swapcount < 0 || g.swapcount > kMaxSwaps) return bad("swapcount " + std::to_string(g.swapcount));
        for (int k = 1; k <= g.swapcount; ++k)
            if (g.swapfrom[k].empty() || g.swapto[k].empty()) return bad("empty pair " + std::to_string(k));
        if (g.questitem < 1 || g.questitem > g.itemcount) return bad("questitem");
        if (g.questroom < 1 || g.questroom > 10 || g.questspot < 1 || g.questspot > g.spotcount[g.questroom])
            return bad("the task's place");
        if (newGame_) {
            lastQuests_ = 0;
            if (g.questsdone != 0) return bad("a new game starts with tasks done");
            if (g.itemroom[g.questitem] == 0) return bad("the first task's item is in the hand");
        }
        if (g.questsdone < lastQuests_) return bad("questsdone fell from " + std::to_string(lastQuests_));
        if (g.questsdone > lastQuests_) {
            stats_.tasks += g.questsdone - lastQuests_;
            if (g.questsdone >= kTasksToWin) ++stats_.wins;
        }
        lastQuests_ = g.questsdone;
        if (g.questsdone > 0 && (!g.besttasks || *g.besttasks < g.questsdone)) return bad("besttasks below questsdone");
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult listsClean() {
        std::set<std::string> seen;
        for (const auto& word : form->List1) {
            if (word.empty()) return ::testing::AssertionFailure() << "an empty word in List1";
            if (!seen.insert(ucase(word)).second) return ::testing::AssertionFailure() << "List1 twice holds " << word;
        }
        return ::testing::AssertionSuccess();
    }

    // The keys a player who knows the task would press next; 0 when there is none.
    int solvingKey(int step) {
        const Form1& g = *form;
        const int q = g.questitem;
        if (g.menu != 0 || g.curroom == 0) return 0;
        if (g.itemroom[q] != 0) {
            // Go to the item and pick it up.
            const int r = g.itemroom[q], s = g.itemspot[q];
            if (step == 0) return roomKey(r);
            if (step == 1) return spotKey(s);
            if (step == 2) {
                for (int n = 1; n <= 7; ++n)
                    if (g.itematspot(r, s, n) == q) return itemKey(n);
                return 0;
            }
            return key::Enter;
        }
        if (step == 0) return roomKey(g.questroom);
        if (step == 1) return spotKey(g.questspot);
        if (step == 2) return g.itematspot(g.questroom, g.questspot, 1) ? 'A' : 0;
        return key::Enter;
    }

    void runSeed(unsigned seed, int keys, int solveEvery) {
        gen_.seed(seed);
        hookSpeech();
        // Every save or load prompt is answered with nothing: canceled.
        platform->inputAnswer = [](const std::string&, const std::string&) { return std::string(); };
        lastQuests_ = 0;
        int listSize = -1;
        for (int n = 0; n < keys; ++n) {
            const bool inHouse = form->menu == 0 && form->curroom != 0;
            if (inHouse && solveEvery > 0 && gen_() % static_cast<unsigned>(solveEvery) == 0) {
                // Two rounds: fetch the task's item, then put it at the target.
                for (int round = 0; round < 2 && form->menu == 0; ++round) {
                    for (int step = 0; step < 4; ++step) {
                        const int code = solvingKey(step);
                        if (code == 0) break;
                        if (code == key::Enter && gen_() % 3 == 0) {
                            // Keys pressed during the waits, should this Enter complete the task.
                            const int extra = 1 + static_cast<int>(gen_() % 3);
                            for (int e = 0; e < extra; ++e) {
                                platform->queueKey(randomKey(), static_cast<int>(gen_() % 8),
                                                   platform->nowMs() + 1 + static_cast<double>(gen_() % 3200));
                                ++stats_.heldKeys;
                            }
                        }
                        stressPress(code, 0);
                        ASSERT_TRUE(invariants());
                    }
                }
                continue;
            }
            int code = randomKey();
            if (code == key::Enter && form->menu == 1 && form->menupos == 5) continue;
            const int shift = static_cast<int>(gen_() % 8);
            const bool unused = std::find(unused_.begin(), unused_.end(), code) != unused_.end();
            const bool modifier = code == key::Shift || code == key::Alt || code == 233;
            const std::size_t events = platform->events.size();
            const int room = form->curroom, spot = form->curspot, item = form->curitem, menupos = form->menupos;
            stressPress(code, shift);
            ASSERT_TRUE(invariants());
            if (modifier || (unused && inHouse && form->curroom == room)) {
                ASSERT_EQ(platform->events.size(), events) << "key " << code << " spoke in the house";
                ASSERT_EQ(form->curroom, room);
                ASSERT_EQ(form->curspot, spot);
                ASSERT_EQ(form->curitem, item);
                ASSERT_EQ(form->menupos, menupos);
            }
            if (static_cast<int>(form->List1.size()) != listSize || newGame_) {
                listSize = static_cast<int>(form->List1.size());
                ASSERT_TRUE(listsClean());
            }
        }
        ++stats_.games;
    }
};

TEST_F(StressTest, RandomKeysKeepEveryInvariant) {
    // Seed, keys, how often (1 in n keys in the house) a player who knows the task solves it.
    const std::vector<std::array<int, 3>> runs = {{1, 20000, 0}, {2, 20000, 40}, {3, 20000, 8}, {4, 20000, 3}};
    for (const auto& run : runs) {
        SCOPED_TRACE("seed " + std::to_string(run[0]));
        startSession(true);
        runSeed(static_cast<unsigned>(run[0]), run[1], run[2]);
        if (HasFatalFailure()) return;
    }
    // The run reached what it is meant to stress: finished tasks, wins, keys held in waits.
    EXPECT_GT(stats_.tasks, 40) << "keys " << stats_.keys;
    EXPECT_GT(stats_.wins, 0);
    EXPECT_GT(stats_.heldKeys, 10);
    std::cout << "[ stress ] keys " << stats_.keys << ", tasks " << stats_.tasks << ", wins " << stats_.wins
              << ", restarts " << stats_.restarts << ", keys held in waits " << stats_.heldKeys << "\n";
}

}  // namespace
}  // namespace tw::keytest
