// tests/newgame_test.cpp: a fresh game: the house, the items, the word pool and what is reset. (The draws
// of a new game are pinned by the seeded key scripts.)
#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "game/text.h"
#include "tests/form_fixture.h"

namespace tw {
namespace {

using testing::ScratchFolder;
using Words = std::vector<std::string>;
using NewGame = testing::FormTest;

TEST_F(NewGame, ResetsTheGameButNotTheCandidatesAndEveryGameHasTheSameHouse) {
    f.rnd.seed(1);
    f.newgame();
    const GameState first = f;
    const std::string bytes = driver::readBytes(testing::shippedFolder() + "/words.txt").value_or("");  // whole
    ASSERT_EQ(first.List2.size(), 481u);
    EXPECT_EQ(first.List2, splitLines(bytes));
    // A game in progress: things moved, words listed. (What else a new game resets is heard in
    // tests/transcripts/second-game.tw.)
    f.itemroom[5] = 0, f.itemspot[5] = 0, f.itemroom[1] = 4, f.itemspot[1] = 2, f.itemname[51] = "renamed";
    f.List1 = {"Alpha", "beta", "the"}, f.List2 = {"leftover"};
    std::set<int> starts;
    for (std::uint64_t seed = 2; seed <= 200; ++seed) {
        f.rnd.seed(seed * 7919);
        f.newgame();
        starts.insert(f.curroom);
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
        // A byte-order mark is no word; a line over 256 characters is none either, so no save outgrows a load.
        {"\xEF\xBB\xBFkazoo\r\n" + std::string(257, 'w') + "\r\n" + std::string(256, 'v'),
         {"kazoo", std::string(256, 'v')}},
        // The line bound counts lines, whatever ends them: CR LF is one.
        {[] {
             std::string lines;
             for (int i = 0; i < 60000; ++i) lines += "a\r\n";
             return lines;
         }(),
         Words(60000, "a")},
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
