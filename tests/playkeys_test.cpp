// tests/playkeys_test.cpp: keys held during a completion on the virtual clock, and random-key stress; what the house
// keys say is in the key scripts of tests/transcripts/.
#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <array>
#include <iostream>
#include <random>
#include <set>

#include "game/text.h"
#include "keys_util.h"
#include "save/savefile.h"

namespace tw::keytest {
namespace {

// ---- random keys ----

class StressTest : public KeyFixture {
protected:
    // Every key the game answers to, and some it does not.
    const std::vector<int> used_ = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'W', 'E', 'R', 'T', 'Y', 'U',
                                    'I', 'A', 'S', 'D', 'F', 'G', 'H', 'J', 'Z', 'X', 'C', 'V', 'B', 'Q', 13,  27,
                                    9,   33,  34,  37,  38,  39,  40,  192, 17,  16,  18,  233, 112, 188, 190};
    const std::vector<int> unused_ = {96,  100,       105,       'K',       'L',       'M',       'N', 'O',
                                      'P', 113,       8,         32,        46,        186,       191, 0,
                                      255, 'W' + 256, 'A' + 256, '1' + 256, 'W' - 256, 'A' - 256, -1,  1000};
    std::mt19937 gen_;
    int keys_ = 0, tasks_ = 0, wins_ = 0, heldKeys_ = 0, lastQuests_ = 0;
    std::size_t listSize_ = 0;
    bool newGame_ = false, loaded_ = false;
    std::string failure_;

    int randomKey() { return gen_() % 10 == 0 ? unused_[gen_() % unused_.size()] : used_[gen_() % used_.size()]; }

    void restart() {
        startSession();
        lastQuests_ = 0;
        // The save and load entries of the menu get a name now and then, and a cancel otherwise.
        platform->inputAnswer = [this](const std::string&, const std::string&) {
            return gen_() % 3 == 0 ? std::string("storm") : std::string();
        };
        // Right after a new task is set: its item is neither in the hand nor already in place. The
        // completion message itself follows its chime with nothing but silencing between; the
        // history keys may say it again later, when the player has long moved the item.
        platform->onSay = [this](const std::string& text) {
            newGame_ = newGame_ || text.starts_with("You have arrived at Dorvel's house.");
            loaded_ = loaded_ || text.starts_with("Game loaded.");
            const int q = form->questitem;
            auto before = platform->timeline.rbegin() + 1;
            while (before != platform->timeline.rend() && before->second == "say: ") ++before;
            const bool afterChime = before != platform->timeline.rend() && before->second.starts_with("sound: ");
            if (afterChime && text.starts_with("You have completed ") &&
                text.find("Dorvel has gone") != std::string::npos &&
                (form->itemroom[q] == 0 ||
                 (form->itemroom[q] == form->questroom && form->itemspot[q] == form->questspot)))
                failure_ += "a new task's item is in the hand or already in place; ";
        };
    }

    // Presses a key (others may be due during its waits) and checks the invariants; restarts when the game ends.
    ::testing::AssertionResult press(int code, int shift) {
        ++keys_;
        newGame_ = loaded_ = false;
        try {
            platform->queueKey(code, shift);
            run();
        } catch (const ProcessEnded&) {
            restart();
        }
        const Form1& g = *form;
        const auto bad = [this](const std::string& what) {
            return ::testing::AssertionFailure() << what << " (key " << keys_ << ")";
        };
        const int maxpos[] = {0, 5, 14, 10};
        if (!failure_.empty()) return bad(failure_);
        if (g.ignorekeys != 0 || !platform->idle() || g.Holder.Enabled()) return bad("a wait did not end");
        if (g.menu < 0 || g.menu > 3 || g.menupos < 0 || g.menupos > maxpos[g.menu] || g.speechmode < 0 ||
            g.speechmode > 2)
            return bad("menu, entry or speech path out of range");
        if (g.List1.size() != listSize_ || newGame_) {  // the candidate words, whenever they change
            listSize_ = g.List1.size();
            std::set<std::string> seen;
            for (const auto& word : g.List1)
                if (word.empty() || !seen.insert(ucase(word)).second) return bad("List1 has an empty or repeated word");
        }
        if (g.curroom == 0)
            return g.menu == 0 || g.itemcount != 0 ? bad("a house without a game") : ::testing::AssertionSuccess();
        if (g.curroom > 10 || g.itemcount != 51) return bad("curroom or itemcount");
        int held = 0;
        for (int i = 1; i <= g.itemcount; ++i) {
            if (g.itemroom[i] == 0)
                held += g.itemspot[i] == 0 ? 1 : 100;
            else if (g.itemroom[i] > 10 || g.itemspot[i] < 1 || g.itemspot[i] > g.spotcount[g.itemroom[i]])
                return bad("an item lost");
        }
        if (held != 1) return bad("not exactly one item in the hand");
        if (g.curspot < 0 || g.curspot > g.spotcount[g.curroom] || g.curitem < 0 || g.curitem > g.itemcount ||
            (g.curitem != 0 && g.itemroom[g.curitem] == 0))
            return bad("the chosen spot or item");
        for (int k = 1; k <= g.swapcount; ++k)
            if (g.swapfrom[k].empty() || g.swapto[k].empty()) return bad("an empty pair");
        if (g.questitem < 1 || g.questitem > g.itemcount || g.questroom < 1 || g.questroom > 10 || g.questspot < 1 ||
            g.questspot > g.spotcount[g.questroom])
            return bad("the task");
        if (newGame_ && (g.questsdone != 0 || g.swapcount != 0 || g.itemroom[g.questitem] == 0))
            return bad("a new game's start");
        lastQuests_ = newGame_ ? 0 : loaded_ ? g.questsdone : lastQuests_;
        if (g.questsdone < lastQuests_) return bad("questsdone fell");
        // A completed task raises the record; a loaded game may lie above it.
        if (g.questsdone > lastQuests_ && (!g.besttasks || *g.besttasks < g.questsdone))
            return bad("besttasks below questsdone");
        tasks_ += g.questsdone - lastQuests_;
        wins_ += g.questsdone > lastQuests_ && g.questsdone >= kTasksToWin;
        lastQuests_ = g.questsdone;
        return ::testing::AssertionSuccess();
    }

    // The key a player who knows the task presses next: to the item, take it, to the place, put it down; 0 for none.
    int solvingKey(int step) {
        const Form1& g = *form;
        const int q = g.questitem, r = g.itemroom[q] ? g.itemroom[q] : g.questroom,
                  s = g.itemroom[q] ? g.itemspot[q] : g.questspot;
        if (step != 2) return step == 0 ? (r == 10 ? '0' : '0' + r) : step == 1 ? "WERTYUI"[s - 1] : key::Enter;
        for (int n = 1; n <= 7; ++n)
            if (g.itematspot(r, s, n) != 0 && (g.itemroom[q] == 0 || g.itematspot(r, s, n) == q))
                return "ASDFGHJ"[n - 1];
        return 0;
    }
};

// A paste on the title paths: each key says what the title already holds, so the game lets events
// run inside every one; the keys must stay shallow, every one answered, in order.
TEST_F(StressTest, LongRunsOfOneKeyOnTheTitlePaths) {
    const int count = std::getenv("TW_STORM_KEYS") ? 200000 : 30000;
    for (const int path : {1, 2}) {
        startSession();
        startGame();
        form->speechmode = path;
        platform->events.clear();
        for (int n = 0; n < count; ++n) platform->queueKey(n % 1000 == 999 ? '2' : 'X', 0);
        run();
        std::size_t said = 0;
        for (const std::string& e : platform->events) said += e.starts_with("say: ");
        EXPECT_EQ(said, std::size_t(count)) << "path " << path;
        EXPECT_EQ(type("X").back(), "You are in the Dining room.");
    }
}

TEST_F(StressTest, RandomKeysKeepEveryInvariant) {
    // Keys per seed: a quick run by default; the key storm of the sanitizer build sets a million.
    const char* storm = std::getenv("TW_STORM_KEYS");
    const int perSeed = storm ? std::atoi(storm) : 20000;
    int roundTrips = 0;
    // Seed and how often (1 in n keys in the house) a player who knows the task solves it.
    for (const auto& [seed, solveEvery] : std::vector<std::pair<int, int>>{{1, 0}, {2, 40}, {3, 8}, {4, 3}}) {
        gen_.seed(static_cast<unsigned>(seed));
        restart();
        for (int n = 0; n < perSeed; ++n) {
            if (n % 4096 == 0) {
                // What was said is checked key by key; only its record would grow without end.
                platform->events.clear();
                platform->timeline.clear();
            }
            if (n % 5000 == 2500 && form->curroom != 0) {
                // A save and a load of it give back the same game: saved again, the same bytes.
                std::string before, after;
                ASSERT_TRUE(savedGameBytes(*form, before).ok);
                ASSERT_TRUE(form->savegame("storm").ok);
                ASSERT_TRUE(form->loadgame("storm").ok);
                ASSERT_TRUE(savedGameBytes(*form, after).ok);
                ASSERT_EQ(before, after) << "seed " << seed << " key " << n;
                ++roundTrips;
            }
            const bool inHouse = form->menu == 0 && form->curroom != 0;
            if (inHouse && solveEvery > 0 && gen_() % static_cast<unsigned>(solveEvery) == 0) {
                for (int step = 0, code; step < 8 && form->menu == 0 && (code = solvingKey(step % 4)) != 0; ++step) {
                    // Keys pressed during the waits, should this Enter complete the task.
                    for (int e = code == key::Enter && gen_() % 3 == 0 ? 1 + gen_() % 3 : 0; e > 0; --e, ++heldKeys_)
                        platform->queueKey(randomKey(), gen_() % 8, platform->nowMs() + 1 + gen_() % 3200);
                    ASSERT_TRUE(press(code, 0)) << "seed " << seed;
                }
                continue;
            }
            const int code = randomKey();
            if (code == key::Enter && form->menu == 1 && form->menupos == 5) continue;  // Exit the game
            // Modifiers, and unused keys in the house, say and change nothing.
            const bool quiet = code == key::Shift || code == key::Alt || code == 233 ||
                               (inHouse && std::find(unused_.begin(), unused_.end(), code) != unused_.end());
            const std::size_t events = platform->events.size();
            const std::array<int, 4> place = {form->curroom, form->curspot, form->curitem, form->menupos};
            ASSERT_TRUE(press(code, static_cast<int>(gen_() % 8))) << "seed " << seed;
            if (quiet && form->curroom == place[0]) {
                ASSERT_EQ(platform->events.size(), events) << "key " << code << " spoke";
                ASSERT_EQ((std::array<int, 4>{form->curroom, form->curspot, form->curitem, form->menupos}), place);
            }
        }
    }
    // The run reached what it is meant to stress: finished tasks, wins, keys held in waits.
    EXPECT_GT(tasks_, 40) << "keys " << keys_;
    EXPECT_GT(wins_, 0);
    EXPECT_GT(heldKeys_, 10);
    EXPECT_GT(roundTrips, 4);
    std::cout << "[ stress ] keys " << keys_ << ", tasks " << tasks_ << ", wins " << wins_ << ", held " << heldKeys_
              << ", saves loaded back " << roundTrips << "\n";
}

}  // namespace
}  // namespace tw::keytest
