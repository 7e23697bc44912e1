// tests/swaps_test.cpp: rewriting texts through the swap table, making new pairs, the completion message, a whole game
// of pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;
using Words = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class SwapTest : public testing::FormTest {
protected:
    void pairs(const Pairs& table) {
        f.swapcount = static_cast<int>(table.size());
        for (std::size_t k = 0; k < table.size(); ++k)
            f.swapfrom[k + 1] = table[k].first, f.swapto[k + 1] = table[k].second;
    }
    std::string said() const { return game.platform.spoken().empty() ? "(nothing)" : game.platform.spoken().back(); }
};

// The rule itself, pair by pair in table order, against random tables full of chains, loops,
// repeated words and case variants: the fast table must give the same text every time. Only a
// blank, full stop, comma and exclamation mark part words; a word holding one of the pairs'
// words, or another mark, is another word; a replacement goes in as stored, never split again.
TEST_F(SwapTest, SameResultAsApplyingEveryPairInOrder) {
    const Words vocabulary = {"cup",  "CUP",   "Cup", "mug",    "MUG", "jar", "a b",         "lid",       "Lid",
                              "x",    "cups",  "x-cup", "don't", "a?b", "x\ty", "caf\xC3\xA9", "CAF\xC3\x89", "cafe",
                              "Big  MUG", "jar, lid!"};
    const Words marks = {" ", ", ", ".", "!", "  ", ",,"};
    auto byTheRule = [&](const std::string& text) {
        std::string out, word;
        auto lookup = [&](std::string w) {
            for (int k = 1; k <= f.swapcount; ++k)
                if (ucase(f.swapfrom[k]) == ucase(w)) w = f.swapto[k];
            return w;
        };
        for (char c : text + " ") {
            if (c == ' ' || c == ',' || c == '.' || c == '!') {
                out += lookup(word) + c;
                word.clear();
            } else {
                word += c;
            }
        }
        out.pop_back();
        return out;
    };
    std::mt19937 random(7);
    auto any = [&] { return vocabulary[random() % vocabulary.size()]; };
    for (int round = 0; round < 3000; ++round) {
        Pairs table(random() % 12);
        for (auto& pair : table) pair = {any(), any()};
        pairs(table);
        std::string text;
        for (int w = 0; w < 6; ++w) text += any() + marks[random() % marks.size()];
        std::string fast = text;
        f.swapit(fast);
        ASSERT_EQ(fast, byTheRule(text)) << "round " << round;
    }
}

TEST_F(SwapTest, HarvestsTheTaskAsHeardInFirstSeenCase) {
    f.questsdone = 0, f.questtext = "Please get the glass jar.";
    f.List1 = {"the"}, f.List2 = {};
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"the", "Please", "get", "glass", "jar"}));
    f.questtext = "THE Jar, JAR!  get Get the  Glass  cup.jar mug? mug";
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"the", "Please", "get", "glass", "jar", "cup", "mug?", "mug"}));
    // Candidates are the words as the player hears them; the task itself is left as it was.
    pairs({{"glass", "sock puppet"}, {"jar", "the"}});
    f.questtext = "Please get the glass jar.", f.List1 = {};
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"Please", "get", "the", "sock", "puppet"}));
    EXPECT_EQ(f.questtext, "Please get the glass jar.");
    EXPECT_EQ(std::tuple(f.swapcount, f.lastswaps), std::tuple(2, ""));  // no pool words, no pairs
    EXPECT_TRUE(game.platform.spoken().empty());  // nothing is said before the first task is done
}

TEST_F(SwapTest, EmptyListsMakeNoPairAndTakeNothing) {
    f.questsdone = 5, f.questtext = "";
    f.List1 = {}, f.List2 = {"kazoo", "zebra"};
    f.swapmore();
    EXPECT_EQ(std::tie(f.swapcount, f.List2), std::tuple(0, Words{"kazoo", "zebra"}));
    // No pair made: the message claims no change, and the announcement in force stays for V.
    f.lastswaps = "The word, cat, will now be replaced with, hat.  ";
    EXPECT_EQ(said(),
              "You have completed 5 tasks.  Dorvel's words stay as they were.  Press Q, to hear your next task.");
    EXPECT_EQ(f.lastswaps, "The word, cat, will now be replaced with, hat.  ");
    // One pool word for two pairs: the first pair is made, the second is not, and its candidate stays.
    f.questsdone = 15, f.questtext = "";
    f.List1 = {"cup", "mug"}, f.List2 = {"kazoo"};
    f.rnd.script({forceDraw(2, 2), forceDraw(1, 1)});
    f.swapmore();
    EXPECT_EQ(std::tuple(f.rnd.scriptedLeft(), f.swapcount), std::tuple(0u, 1));
    EXPECT_EQ(std::tie(f.List1, f.List2), std::tuple(Words{"cup"}, Words{}));
    EXPECT_EQ(f.lastswaps, "The word, mug, will now be replaced with, kazoo.  ");
}

}  // namespace
}  // namespace tw
