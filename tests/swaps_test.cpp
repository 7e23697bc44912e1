// tests/swaps_test.cpp: rewriting texts through the swap table, making new pairs, the completion message, a whole game of pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::forceDraw;
using testing::HeadlessGame;
using testing::ScratchFolder;
using testing::shippedFolder;
using Words = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class SwapTest : public ::testing::Test {
protected:
    SwapTest() : game(folder.path()) {}

    void pairs(const Pairs& table) {
        game.form.swapcount = static_cast<int>(table.size());
        for (std::size_t k = 0; k < table.size(); ++k) {
            game.form.swapfrom[k + 1] = table[k].first;
            game.form.swapto[k + 1] = table[k].second;
        }
    }
    std::string swapped(std::string text) const {
        game.form.swapit(text);
        return text;
    }

    ScratchFolder folder;
    HeadlessGame game;
};

TEST_F(SwapTest, ChainedPairsAndTheWorkedExample) {
    pairs({{"put", "cheese"}, {"cheese", "fence"}});
    EXPECT_EQ(swapped("Please get the cup, and put it in the sink."), "Please get the cup, and fence it in the sink.");
    EXPECT_EQ(swapped("cheese"), "fence");
    // A later pair's result is never looked up in earlier pairs.
    pairs({{"cheese", "fence"}, {"put", "cheese"}});
    EXPECT_EQ(swapped("put cheese"), "cheese fence");
    // Of two pairs for one word the first wins, unless a chain carries the word on.
    pairs({{"cup", "mug"}, {"cup", "bowl"}});
    EXPECT_EQ(swapped("cup"), "mug");
    pairs({{"cup", "mug"}, {"cup", "bowl"}, {"mug", "vase"}});
    EXPECT_EQ(swapped("cup"), "vase");
    pairs({{"cup", "mug"}, {"mug", "cup"}, {"cup", "bowl"}});
    EXPECT_EQ(swapped("cup mug"), "bowl bowl");
    pairs({});
    EXPECT_EQ(swapped("put the cup away."), "put the cup away.");
}

TEST_F(SwapTest, WholeWordsCaseBlind) {
    pairs({{"the", "a kazoo"}, {"right", "left"}, {"PUT", "Shove"}});
    EXPECT_EQ(swapped("there the other"), "there a kazoo other");
    EXPECT_EQ(swapped("THE The tHe"), "a kazoo a kazoo a kazoo");
    EXPECT_EQ(swapped("right? right, right"), "right? left, left");
    EXPECT_EQ(swapped("put Put PUT output putt"), "Shove Shove Shove output putt");
    EXPECT_EQ(swapped("the-end don't theme"), "the-end don't theme");
    pairs({{"caf\xC3\xA9", "tea"}, {"\xC3\x85SE", "ox"}});
    EXPECT_EQ(swapped("CAF\xC3\x89 caf\xC3\xA9 cafe"), "tea tea cafe");
    EXPECT_EQ(swapped("\xC3\xA5se"), "ox");
}

TEST_F(SwapTest, ReplacementsAreInsertedAsStoredAndNotSplitAgain) {
    pairs({{"cup", "Big  MUG"}, {"big", "small"}, {"mug", "jar"}});
    EXPECT_EQ(swapped("the cup."), "the Big  MUG.");
    pairs({{"cup", "sock puppet"}, {"sock puppet", "kazoo"}});
    EXPECT_EQ(swapped("cup"), "kazoo");  // the whole replacement is the word as replaced so far
    EXPECT_EQ(swapped("sock puppet"), "sock puppet");
    pairs({{"cup", "jar, lid!"}});
    EXPECT_EQ(swapped("cup,cup"), "jar, lid!,jar, lid!");
}

TEST_F(SwapTest, SeparatorsStayInPlace) {
    pairs({{"a", "X"}, {"b", "Y"}});
    EXPECT_EQ(swapped(""), "");
    EXPECT_EQ(swapped("a"), "X");
    EXPECT_EQ(swapped("ab"), "ab");
    EXPECT_EQ(swapped(" "), " ");
    EXPECT_EQ(swapped("a,,b!.  a"), "X,,Y!.  X");
    EXPECT_EQ(swapped(".a."), ".X.");
    EXPECT_EQ(swapped("a?b;a:b"), "a?b;a:b");
    EXPECT_EQ(swapped("a\tb"), "a\tb");
}

// The table applied word by word with a separate walk, for comparison on random texts.
std::string reference(const std::string& text, const Pairs& table) {
    std::string out, word;
    auto flush = [&] {
        for (const auto& [from, to] : table)
            if (samenocase(word, from)) word = to;
        out += word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == '.' || c == ',' || c == '!') {
            flush();
            out += c;
        } else {
            word += c;
        }
    }
    flush();
    return out;
}

TEST_F(SwapTest, RandomTextsKeepTheirSeparatorsAndMatchAWordByWordWalk) {
    const Words vocabulary = {"put", "PUT", "cup", "Cup", "the", "there", "mug", "jar", "right?", "caf\xC3\xA9", "CAF\xC3\x89"};
    const std::string separators = " .,!";
    std::mt19937 gen(7);
    for (int round = 0; round < 500; ++round) {
        Pairs table;
        const int count = static_cast<int>(gen() % 7);
        for (int k = 0; k < count; ++k)
            table.emplace_back(vocabulary[gen() % vocabulary.size()], vocabulary[gen() % vocabulary.size()]);
        pairs(table);
        std::string text;
        const int parts = static_cast<int>(gen() % 12);
        for (int p = 0; p < parts; ++p) {
            if (gen() % 4 != 0) text += vocabulary[gen() % vocabulary.size()];
            text += separators[gen() % separators.size()];
            if (gen() % 3 == 0) text += separators[gen() % separators.size()];
        }
        if (gen() % 2) text += vocabulary[gen() % vocabulary.size()];
        const std::string out = swapped(text);
        SCOPED_TRACE(text);
        EXPECT_EQ(out, reference(text, table));
        std::string before, after;
        for (char c : text)
            if (separators.find(c) != std::string::npos) before += c;
        for (char c : out)
            if (separators.find(c) != std::string::npos) after += c;
        EXPECT_EQ(after, before);
    }
}

// ---- swapmore ----

TEST_F(SwapTest, HarvestAddsNewWordsInFirstSeenCase) {
    Form1& f = game.form;
    f.questsdone = 0;
    f.questtext = "Please get the glass jar.";
    f.List1 = {"the"};
    f.List2 = {};
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"the", "Please", "get", "glass", "jar"}));
    EXPECT_EQ(f.swapcount, 0);
    EXPECT_EQ(f.lastswaps, "");

    f.questtext = "THE Jar, JAR!  get Get the  Glass  cup.jar";
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"the", "Please", "get", "glass", "jar", "cup"}));
    f.List1 = {};
    f.questtext = "Cup cup, CUP! mug? mug";
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"Cup", "mug?", "mug"}));
    EXPECT_TRUE(game.platform.spoken().empty());
}

TEST_F(SwapTest, HarvestTakesTheTaskAsThePlayerHearsIt) {
    Form1& f = game.form;
    pairs({{"glass", "sock puppet"}, {"jar", "the"}});
    f.questsdone = 0;
    f.questtext = "Please get the glass jar.";
    f.List1 = {};
    f.List2 = {};
    f.swapmore();
    EXPECT_EQ(f.List1, (Words{"Please", "get", "the", "sock", "puppet"}));
    EXPECT_EQ(f.questtext, "Please get the glass jar.");  // the task itself is left as it was
}

TEST_F(SwapTest, OnePairTakesOneWordFromEachList) {
    Form1& f = game.form;
    f.questsdone = 1;
    f.questtext = "";
    f.List1 = {"cup", "Sink", "floor"};
    f.List2 = {"kazoo", "hovercraft", "sock puppet", "zebra"};
    f.rnd.script({forceDraw(2, 3), forceDraw(3, 4)});
    f.swapmore();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    ASSERT_EQ(f.swapcount, 1);
    EXPECT_EQ(f.swapfrom[1], "Sink");
    EXPECT_EQ(f.swapto[1], "sock puppet");
    EXPECT_EQ(f.List1, (Words{"cup", "floor"}));
    EXPECT_EQ(f.List2, (Words{"kazoo", "hovercraft", "zebra"}));
    EXPECT_EQ(f.lastswaps, "The word, Sink, will now be replaced with, sock puppet.  ");
    const Words said = game.platform.spoken();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0],
              "You have completed your first task.  Dorvel has gone a little bit more insane.  The word, Sink, will now "
              "be replaced with, sock puppet.    Press Q, to hear your next task.");

    // The second task: first and last entries, message with the count.
    f.questsdone = 2;
    f.rnd.script({forceDraw(1, 2), forceDraw(3, 3)});
    f.swapmore();
    ASSERT_EQ(f.swapcount, 2);
    EXPECT_EQ(f.swapfrom[2], "cup");
    EXPECT_EQ(f.swapto[2], "zebra");
    EXPECT_EQ(f.swapfrom[1], "Sink");
    EXPECT_EQ(game.platform.spoken().back(),
              "You have completed 2 tasks.  Dorvel has gone a little bit more insane.  The word, cup, will now be replaced "
              "with, zebra.    Press Q, to hear your next task.");
}

// What one swapmore left behind: pairs made, the announcement, the last spoken text.
struct Round {
    int pairs;
    std::string lastswaps;
    std::string spoken;
};

TEST_F(SwapTest, PairsPerCompletedTaskCount) {
    Form1& f = game.form;
    auto round = [&](int done) {
        f.questsdone = done;
        f.questtext = "";
        f.swapcount = 0;
        f.List1 = {"a", "b", "c", "d", "e"};
        f.List2 = {"v", "w", "x", "y", "z"};
        // Each pair takes the first candidate and the last pool word.
        f.rnd.script({0.0, 0.999, 0.0, 0.999, 0.0, 0.999});
        f.swapmore();
        return Round{f.swapcount, f.lastswaps, game.platform.spoken().back()};
    };
    const std::string one = "The word, a, will now be replaced with, z.  ";
    const std::string two = one + "And the word, b, will now be replaced with, y.";
    const std::string three = one + "The word, b, will now be replaced with, y.  And the word, c, will now be replaced with, x.";
    for (int done : {3, 9, 10}) {
        SCOPED_TRACE(done);
        const Round r = round(done);
        EXPECT_EQ(r.pairs, 1);
        EXPECT_EQ(r.lastswaps, one);
        EXPECT_EQ(f.rnd.scriptedLeft(), 4u);
        f.rnd.seed(1);
    }
    for (int done : {11, 20, 30}) {
        SCOPED_TRACE(done);
        const Round r = round(done);
        EXPECT_EQ(r.pairs, 2);
        EXPECT_EQ(r.lastswaps, two);
        EXPECT_EQ(r.spoken, "You have completed " + std::to_string(done) +
                                " tasks.  Dorvel has gone a little bit more insane.  " + two +
                                "  Press Q, to hear your next task.");
        EXPECT_EQ(f.rnd.scriptedLeft(), 2u);
        f.rnd.seed(1);
    }
    for (int done : {31, 39, 45}) {
        SCOPED_TRACE(done);
        const Round r = round(done);
        EXPECT_EQ(r.pairs, 3);
        EXPECT_EQ(r.lastswaps, three);
        EXPECT_EQ(f.swapfrom[3], "c");
        EXPECT_EQ(f.swapto[3], "x");
        EXPECT_EQ(f.List1, (Words{"d", "e"}));
        EXPECT_EQ(f.List2, (Words{"v", "w"}));
        EXPECT_EQ(r.spoken, "You have completed " + std::to_string(done) +
                                " tasks.  Dorvel has gone a little bit more insane.  " + three +
                                "  Press Q, to hear your next task.");
        EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    }
}

TEST_F(SwapTest, EmptyListsMakeNoPairAndTakeNothing) {
    Form1& f = game.form;
    f.questsdone = 5;
    f.questtext = "";
    f.List1 = {};
    f.List2 = {"kazoo", "zebra"};
    f.swapmore();
    EXPECT_EQ(f.swapcount, 0);
    EXPECT_EQ(f.List2, (Words{"kazoo", "zebra"}));
    EXPECT_EQ(f.lastswaps, "");
    EXPECT_EQ(game.platform.spoken().back(),
              "You have completed 5 tasks.  Dorvel has gone a little bit more insane.    Press Q, to hear your next task.");

    f.questtext = "cup";
    f.List2 = {};
    f.swapmore();
    EXPECT_EQ(f.swapcount, 0);
    EXPECT_EQ(f.List1, Words{"cup"});

    // One pool word for two pairs: the first pair is made, the second is not, and the candidate stays.
    f.questsdone = 15;
    f.questtext = "";
    f.List1 = {"cup", "mug"};
    f.List2 = {"kazoo"};
    f.rnd.script({forceDraw(2, 2), forceDraw(1, 1)});
    f.swapmore();
    EXPECT_EQ(f.rnd.scriptedLeft(), 0u);
    EXPECT_EQ(f.swapcount, 1);
    EXPECT_EQ(f.swapfrom[1], "mug");
    EXPECT_EQ(f.swapto[1], "kazoo");
    EXPECT_EQ(f.List1, Words{"cup"});
    EXPECT_TRUE(f.List2.empty());
    EXPECT_EQ(f.lastswaps, "The word, mug, will now be replaced with, kazoo.  ");
}

TEST(SwapGame, AWholeGameMakesSeventySevenPairsWithNoPoolWordTwice) {
    HeadlessGame game(shippedFolder());
    Form1& f = game.form;
    for (std::uint64_t seed : {1ull, 2ull, 3ull, 77ull, 20240601ull}) {
        SCOPED_TRACE(seed);
        f.rnd.seed(seed);
        f.List1.clear();
        f.newgame();
        const Words pool = f.List2;
        ASSERT_EQ(pool.size(), 481u);
        for (int task = 1; task <= 39; ++task) {
            const int before = f.swapcount;
            f.questsdone++;
            f.setquest();
            f.swapmore();
            const int expected = task <= 10 ? 1 : task <= 30 ? 2 : 3;
            ASSERT_EQ(f.swapcount - before, expected) << "task " << task;
            std::size_t mentions = 0;
            for (std::size_t at = f.lastswaps.find(", will now be replaced with, "); at != std::string::npos;
                 at = f.lastswaps.find(", will now be replaced with, ", at + 1))
                ++mentions;
            EXPECT_EQ(mentions, static_cast<std::size_t>(expected));
            const std::string prefix =
                task == 1 ? std::string("You have completed your first task.  ")
                          : "You have completed " + std::to_string(task) + " tasks.  ";
            EXPECT_EQ(game.platform.spoken().back(),
                      prefix + "Dorvel has gone a little bit more insane.  " + f.lastswaps + "  Press Q, to hear your next task.");
        }
        ASSERT_EQ(f.swapcount, 77);
        EXPECT_EQ(f.List2.size(), 481u - 77u);
        std::multiset<std::string> remaining(f.List2.begin(), f.List2.end());
        std::set<std::string> used;
        for (int k = 1; k <= f.swapcount; ++k) {
            EXPECT_TRUE(used.insert(f.swapto[k]).second) << "used twice: " << f.swapto[k];
            EXPECT_NE(std::find(pool.begin(), pool.end(), f.swapto[k]), pool.end()) << f.swapto[k];
            EXPECT_EQ(remaining.count(f.swapto[k]), 0u) << f.swapto[k];
            EXPECT_FALSE(f.swapfrom[k].empty());
        }
    }
}

}  // namespace
}  // namespace tw
