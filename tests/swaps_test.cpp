// tests/swaps_test.cpp: rewriting texts through the swap table, against the rule applied pair by
// pair. (New pairs and the completion message are heard in the key scripts: task.tw, word-pool.tw,
// no-word-list.tw and whole-game.tw.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using Words = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class SwapTest : public testing::FormTest {
protected:
    void pairs(const Pairs& table) {
        f.swapcount = static_cast<int>(table.size());
        for (std::size_t k = 0; k < table.size(); ++k)
            f.swapfrom[k + 1] = table[k].first, f.swapto[k + 1] = table[k].second;
    }
};

// The rule itself, pair by pair in table order, against random tables full of chains, loops,
// repeated words and case variants: the fast table must give the same text every time. Only a
// blank, full stop, comma and exclamation mark part words; a word holding one of the pairs'
// words, or another mark, is another word; a replacement goes in as stored, never split again.
TEST_F(SwapTest, SameResultAsApplyingEveryPairInOrder) {
    const Words vocabulary = {"cup",  "CUP",         "Cup",         "mug",  "MUG",      "jar",      "a b",
                              "lid",  "Lid",         "x",           "cups", "x-cup",    "don't",    "a?b",
                              "x\ty", "caf\xC3\xA9", "CAF\xC3\x89", "cafe", "Big  MUG", "jar, lid!"};
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

}  // namespace
}  // namespace tw
