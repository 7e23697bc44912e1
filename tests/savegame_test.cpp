// tests/savegame_test.cpp: the saved-game file: its bytes, round trips, and damaged files refused
// without touching the game in progress.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "game/form1.h"
#include "game/text.h"
#include "platform/headless/headless_platform.h"
#include "game_state_match.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

// ---- game states built by hand ----

// Two rooms (kitchen: table, shelf; hall: hook), eight empty rooms, three items; nothing else
// of the previous state is left.
void buildSmallHouse(GameState& g) {
    g = GameState{};
    g.version = "0.6b";
    g.curroom = 1;
    g.curspot = 2;
    g.curitem = 2;
    g.itemcount = 3;
    g.itemname[1] = "glass jar";
    g.itemroom[1] = 0;
    g.itemspot[1] = 0;
    g.itemname[2] = "café cup";
    g.itemroom[2] = 1;
    g.itemspot[2] = 2;
    g.itemname[3] = "€ coin";
    g.itemroom[3] = 2;
    g.itemspot[3] = 1;
    g.roomcount = 2;
    g.roomname[1] = "kitchen";
    g.spotcount[1] = 2;
    g.spotname[1][1] = "table";
    g.spotname[1][2] = "shelf";
    g.roomname[2] = "hall";
    g.spotcount[2] = 1;
    g.spotname[2][1] = "hook";
    g.questsdone = 4;
    g.swapcount = 1;
    g.swapfrom[1] = "old";
    g.swapto[1] = "new";
    g.lastswaps = "old to new";
    g.questtext = "put the € coin on the shelf";
    g.questitem = 3;
    g.questroom = 1;
    g.questspot = 2;
    g.List1 = {"apple", "pear"};
    g.List2 = {"plum"};
}

// The game "in progress" that failed loads must leave alone: differs from the small house in
// every field.
void buildRunningHouse(GameState& g) {
    g = GameState{};
    g.version = "running";
    g.roomcount = 3;
    for (int r = 1; r <= kMaxRooms; ++r) {
        g.roomname[r] = "room " + std::to_string(r);
        g.spotcount[r] = 3;
        for (int s = 1; s <= 3; ++s) g.spotname[r][s] = "spot " + std::to_string(r) + "." + std::to_string(s);
    }
    g.itemcount = 5;
    for (int i = 1; i <= 5; ++i) {
        g.itemname[i] = "thing " + std::to_string(i);
        g.itemroom[i] = i == 5 ? 0 : i;
        g.itemspot[i] = i == 5 ? 0 : 3;
    }
    g.curroom = 3;
    g.curspot = 1;
    g.curitem = 4;
    g.questitem = 2;
    g.questroom = 3;
    g.questspot = 3;
    g.questtext = "move thing 2";
    g.questsdone = 17;
    g.swapcount = 2;
    g.swapfrom[1] = "a";
    g.swapto[1] = "b";
    g.swapfrom[2] = "c";
    g.swapto[2] = "d";
    g.lastswaps = "a b c d";
    g.List1 = {"x", "y", "z"};
    g.List2 = {"w1", "w2", "w3", "w4"};
}


// The rules a loaded game must meet, checked independently of the loader.
::testing::AssertionResult playable(const GameState& g) {
    auto bad = [](const std::string& what) { return ::testing::AssertionFailure() << what; };
    if (g.itemcount < 1 || g.itemcount > kMaxItems) return bad("itemcount out of range");
    if (g.roomcount < 1 || g.roomcount > kMaxRooms) return bad("roomcount out of range");
    for (int r = 1; r <= kMaxRooms; ++r) {
        if (g.spotcount[r] < 0 || g.spotcount[r] > kMaxSpots) return bad("spotcount out of range");
        if (r <= g.roomcount && g.spotcount[r] < 1) return bad("a used room has no spots");
    }
    if (g.swapcount < 0 || g.swapcount > kMaxSwaps) return bad("swapcount out of range");
    if (g.questsdone < 0) return bad("questsdone negative");
    int held = 0;
    for (int i = 1; i <= g.itemcount; ++i) {
        if (g.itemroom[i] == 0 && g.itemspot[i] == 0) {
            ++held;
            continue;
        }
        if (g.itemroom[i] < 1 || g.itemroom[i] > kMaxRooms) return bad("item in no room");
        if (g.itemspot[i] < 1 || g.itemspot[i] > g.spotcount[g.itemroom[i]]) return bad("item at no spot");
    }
    if (held != 1) return bad("not exactly one item in hand");
    if (g.curroom < 1 || g.curroom > kMaxRooms) return bad("curroom out of range");
    if (g.curspot < 0 || g.curspot > g.spotcount[g.curroom]) return bad("curspot out of range");
    if (g.curitem < 0 || g.curitem > g.itemcount) return bad("curitem out of range");
    if (g.questitem < 1 || g.questitem > g.itemcount) return bad("questitem out of range");
    if (g.questroom < 1 || g.questroom > g.roomcount) return bad("questroom out of range");
    if (g.questspot < 1 || g.questspot > g.spotcount[g.questroom]) return bad("questspot out of range");
    for (int i = 1; i <= g.itemcount; ++i) {
        if (g.itemroom[i] == 0) continue;
        for (int r = 1; r <= g.roomcount; ++r)
            for (int s = 1; s <= g.spotcount[r]; ++s)
                if (r != g.itemroom[i] || s != g.itemspot[i]) return ::testing::AssertionSuccess();
    }
    return bad("no task possible");
}

// ---- file helpers ----

std::vector<std::string> crlfLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    EXPECT_EQ(start, bytes.size()) << "the last line has no CR LF";
    return lines;
}

std::string crlfJoin(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
}

// Line positions in the small house's file (0-based).
constexpr int kVersionLine = 0;
constexpr int kCurroomLine = 1;
constexpr int kCurspotLine = 2;
constexpr int kCuritemLine = 3;
constexpr int kItemcountLine = 4;
constexpr int itemRoomLine(int i) { return 6 + 3 * (i - 1); }
constexpr int itemSpotLine(int i) { return 7 + 3 * (i - 1); }
constexpr int kRoomcountLine = 14;
constexpr int kSpotcount1Line = 16;
constexpr int kSpotcount2Line = 20;
constexpr int kSpotcount3Line = 23;
constexpr int kQuestsdoneLine = 38;
constexpr int kSwapcountLine = 39;
constexpr int kQuestitemLine = 44;
constexpr int kQuestroomLine = 45;
constexpr int kQuestspotLine = 46;
constexpr int kList1Line = 47;
constexpr int kList2Line = 50;
constexpr int kSmallHouseLines = 52;

std::string smallHouseBytes() {
    const std::string e9 = "\xE9";
    const std::string euro = "\x80";
    std::string b = "0.6b\r\n 1 \r\n 2 \r\n 2 \r\n 3 \r\n";
    b += "glass jar\r\n 0 \r\n 0 \r\n";
    b += "caf" + e9 + " cup\r\n 1 \r\n 2 \r\n";
    b += euro + " coin\r\n 2 \r\n 1 \r\n";
    b += " 2 \r\n";
    b += "kitchen\r\n 2 \r\ntable\r\nshelf\r\nhall\r\n 1 \r\nhook\r\n";
    for (int r = 3; r <= 10; ++r) b += "\r\n 0 \r\n";
    b += " 4 \r\n 1 \r\nold\r\nnew\r\nold to new\r\nput the " + euro + " coin on the shelf\r\n";
    b += " 3 \r\n 1 \r\n 2 \r\n";
    b += " 2 \r\napple\r\npear\r\n 1 \r\nplum\r\n";
    return b;
}

// A program folder of its own for every test, with a game object on the headless platform.
class SaveFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("tw_save_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        platform = std::make_unique<HeadlessPlatform>(folder.string());
        form = std::make_unique<Form1>(*platform);
    }
    void TearDown() override {
        form.reset();
        platform.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }
    std::string fileBytes(const std::string& name) const {
        std::string bytes;
        EXPECT_TRUE(readFileBytes(path(name), bytes)) << name;
        return bytes;
    }
    void putFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good());
    }
    std::set<std::string> folderEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
        return names;
    }

    // Puts the running house in the game and expects the file to be refused without changing it.
    void expectRefused(const std::string& bytes, const std::string& why = "") {
        buildRunningHouse(*form);
        form->menu = 5;
        form->besttasks = 9;
        const GameState before = *form;
        putFile("damaged", bytes);
        const FileResult result = form->loadgame("damaged");
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.why.empty());
        if (!why.empty()) {
            EXPECT_EQ(result.why, why);
        }
        EXPECT_TRUE(sameGame(*form, before));
        EXPECT_EQ(form->menu, 5);
        EXPECT_EQ(form->besttasks, 9);
    }

    fs::path folder;
    std::unique_ptr<HeadlessPlatform> platform;
    std::unique_ptr<Form1> form;
};

class SaveGameTest : public SaveFixture {};
class LoadGameTest : public SaveFixture {};

// ---- writing ----

TEST_F(SaveGameTest, WritesTheExactBytesOfASmallHouse) {
    buildSmallHouse(*form);
    const FileResult result = form->savegame("slot one");
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_TRUE(result.why.empty());
    const std::string bytes = fileBytes("slot one");
    EXPECT_EQ(bytes, smallHouseBytes());
    EXPECT_EQ(crlfLines(bytes).size(), static_cast<std::size_t>(kSmallHouseLines));
    // Only the saved game itself is left in the folder.
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"slot one"}));
}

TEST_F(SaveGameTest, NegativeNumbersTakeAMinusInPlaceOfTheBlank) {
    buildSmallHouse(*form);
    form->curitem = -3;
    form->questsdone = -12;
    form->curspot = 3;
    ASSERT_TRUE(form->savegame("neg").ok);
    const auto lines = crlfLines(fileBytes("neg"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSmallHouseLines));
    EXPECT_EQ(lines[kCuritemLine], "-3 ");
    EXPECT_EQ(lines[kQuestsdoneLine], "-12 ");
    EXPECT_EQ(lines[kCurspotLine], " 3 ");
}

TEST_F(SaveGameTest, TextsAreWrittenInWindows1252) {
    buildSmallHouse(*form);
    form->itemname[1] = "café";
    form->itemname[2] = "€";
    form->itemname[3] = "left→right";
    form->roomname[1] = "“naïve” – ok";
    ASSERT_TRUE(form->savegame("enc").ok);
    const auto lines = crlfLines(fileBytes("enc"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSmallHouseLines));
    EXPECT_EQ(lines[5], std::string("\x63\x61\x66\xE9", 4));
    EXPECT_EQ(lines[8], std::string("\x80", 1));
    EXPECT_EQ(lines[11], "left?right");
    EXPECT_EQ(lines[15], "\x93na\xEFve\x94 \x96 ok");
}

TEST_F(SaveGameTest, SavingChangesNothingInTheGame) {
    buildSmallHouse(*form);
    form->menu = 2;
    const GameState before = *form;
    ASSERT_TRUE(form->savegame("x").ok);
    EXPECT_TRUE(sameGame(*form, before));
    EXPECT_EQ(form->menu, 2);
}

TEST_F(SaveGameTest, AllTenRoomsAreWrittenWhateverTheRoomCount) {
    buildSmallHouse(*form);
    form->roomname[5] = "attic";
    form->spotcount[5] = 2;
    form->spotname[5][1] = "beam";
    form->spotname[5][2] = "trunk";
    ASSERT_TRUE(form->savegame("rooms").ok);
    const auto lines = crlfLines(fileBytes("rooms"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSmallHouseLines + 2));
    // Rooms 3 and 4 come first, two lines each.
    EXPECT_EQ(lines[26], "attic");
    EXPECT_EQ(lines[27], " 2 ");
    EXPECT_EQ(lines[28], "beam");
    EXPECT_EQ(lines[29], "trunk");

    Form1 other(*platform);
    ASSERT_TRUE(other.loadgame("rooms").ok);
    EXPECT_TRUE(sameGame(other, *form));
}

TEST_F(SaveGameTest, ASecondSaveReplacesTheFirst) {
    buildRunningHouse(*form);
    ASSERT_TRUE(form->savegame("slot").ok);
    const std::string first = fileBytes("slot");
    buildSmallHouse(*form);
    ASSERT_TRUE(form->savegame("slot").ok);
    EXPECT_NE(first, fileBytes("slot"));
    EXPECT_EQ(fileBytes("slot"), smallHouseBytes());
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"slot"}));
}

TEST_F(SaveGameTest, AMissingProgramFolderFails) {
    HeadlessPlatform nowhere((folder / "missing").string());
    Form1 game(nowhere);
    buildSmallHouse(game);
    const FileResult result = game.savegame("slot");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_TRUE(folderEntries().empty());
}

TEST_F(SaveGameTest, AFolderInTheWayFailsAndStaysWhole) {
    fs::create_directories(folder / "slot");
    putFile("slot/inside", "keep me");
    buildSmallHouse(*form);
    const FileResult result = form->savegame("slot");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_TRUE(fs::is_directory(folder / "slot"));
    EXPECT_EQ(fileBytes("slot/inside"), "keep me");
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"slot"}));
}

TEST_F(SaveGameTest, AnEmptyNameIsRefused) {
    buildSmallHouse(*form);
    const FileResult result = form->savegame("");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_TRUE(folderEntries().empty());
}

// A write that fails part-way (here: the file-size limit is hit) keeps the old saved game.
TEST_F(SaveGameTest, AnInterruptedWriteKeepsTheOldFile) {
    buildSmallHouse(*form);
    ASSERT_TRUE(form->savegame("slot").ok);
    const std::string old = fileBytes("slot");

    buildRunningHouse(*form);
    form->swapcount = kMaxSwaps;
    for (int k = 1; k <= kMaxSwaps; ++k) {
        form->swapfrom[k] = std::string(40, 'f');
        form->swapto[k] = std::string(40, 't');
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 8192;
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult result = form->savegame("slot");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_EQ(fileBytes("slot"), old);
    EXPECT_EQ(folderEntries(), (std::set<std::string>{"slot"}));
}

TEST_F(SaveGameTest, CountsOutsideTheArraysAreNotWritten) {
    const std::vector<std::pair<std::string, std::function<void(GameState&)>>> faults = {
        {"items", [](GameState& g) { g.itemcount = kMaxItems + 1; }},
        {"items", [](GameState& g) { g.itemcount = -1; }},
        {"spots", [](GameState& g) { g.spotcount[7] = kMaxSpots + 1; }},
        {"spots", [](GameState& g) { g.spotcount[1] = -1; }},
        {"swaps", [](GameState& g) { g.swapcount = kMaxSwaps + 1; }},
        {"swaps", [](GameState& g) { g.swapcount = -1; }},
    };
    for (const auto& [word, fault] : faults) {
        SCOPED_TRACE(word);
        buildSmallHouse(*form);
        fault(*form);
        const FileResult result = form->savegame("bad");
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.why.find(word), std::string::npos) << result.why;
        EXPECT_FALSE(fs::exists(folder / "bad"));
    }
}

TEST_F(SaveGameTest, ALineBreakInsideATextBecomesABlank) {
    buildSmallHouse(*form);
    form->itemname[2] = "two\r\nlines";
    form->questtext = "a\nb";
    ASSERT_TRUE(form->savegame("breaks").ok);
    const auto lines = crlfLines(fileBytes("breaks"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSmallHouseLines));
    EXPECT_EQ(lines[8], "two  lines");

    Form1 other(*platform);
    ASSERT_TRUE(other.loadgame("breaks").ok);
    EXPECT_EQ(other.itemname[2], "two  lines");
    EXPECT_EQ(other.questtext, "a b");
    EXPECT_EQ(other.itemroom[3], 2);
}

// A fresh house, saved at once, begins with the starting room, an empty hand position, and
// the glass jar in the hand; it loads back whole.
TEST_F(SaveGameTest, ANewHouseSavedAtOnce) {
    fs::copy_file(fs::path(TW_SOURCE_DIR) / "content" / "words.txt", folder / "words.txt");
    form->version = "0.6b";
    form->rnd.seed(42);
    form->rnd.script({0.65});  // the starting room: floor(0.65 * 10) + 1 = 7
    form->newgame();
    ASSERT_TRUE(form->wordsok);
    ASSERT_TRUE(form->savegame("fresh").ok);
    const std::string bytes = fileBytes("fresh");
    const std::string start = "0.6b\r\n 7 \r\n 0 \r\n 0 \r\n 51 \r\nglass jar\r\n 0 \r\n 0 \r\n";
    EXPECT_EQ(bytes.substr(0, start.size()), start);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    Form1 other(*platform);
    buildRunningHouse(other);
    const FileResult result = other.loadgame("fresh");
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_TRUE(sameGame(other, *form));
    EXPECT_TRUE(playable(other));
}

// ---- reading ----

TEST_F(LoadGameTest, ARoundTripRestoresEveryFieldAndTheSameBytes) {
    buildSmallHouse(*form);
    ASSERT_TRUE(form->savegame("one").ok);

    Form1 other(*platform);
    buildRunningHouse(other);
    const FileResult result = other.loadgame("one");
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_TRUE(result.why.empty());
    EXPECT_TRUE(sameGame(other, *form));
    EXPECT_EQ(other.itemname[2], "café cup");
    EXPECT_EQ(other.itemname[3], "€ coin");

    ASSERT_TRUE(other.savegame("two").ok);
    EXPECT_EQ(fileBytes("two"), fileBytes("one"));
}

TEST_F(LoadGameTest, AwkwardTextsSurvive) {
    buildSmallHouse(*form);
    form->itemname[2] = "  a, \"quoted\" , b  ";
    form->roomname[1] = ",";
    form->spotname[2][1] = " \"";
    form->roomname[4] = "  spaced  ";
    form->swapfrom[1] = "";
    form->swapto[1] = "x,y";
    form->lastswaps = "";
    form->questtext = "\"Put it\", he said, \"there.\"";
    form->List1 = {"", " lead", "trail ", "a,b", "€uro", ""};
    form->List2 = {};
    ASSERT_TRUE(form->savegame("odd").ok);

    Form1 other(*platform);
    buildRunningHouse(other);
    const FileResult result = other.loadgame("odd");
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_TRUE(sameGame(other, *form));
    ASSERT_TRUE(other.savegame("odd2").ok);
    EXPECT_EQ(fileBytes("odd2"), fileBytes("odd"));
}

TEST_F(LoadGameTest, AnEmptyLastWordSurvives) {
    buildSmallHouse(*form);
    form->List2 = {"a", ""};
    ASSERT_TRUE(form->savegame("w").ok);
    Form1 other(*platform);
    ASSERT_TRUE(other.loadgame("w").ok);
    EXPECT_EQ(other.List2, (std::vector<std::string>{"a", ""}));
}

// The version is a value: read back as one field, so blanks around it go and a comma ends it.
TEST_F(LoadGameTest, TheVersionIsReadAsOneField) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0.6b", "0.6b"}, {"  0.6c  ", "0.6c"}, {"0.6b, beta", "0.6b"}, {"", ""}};
    for (const auto& [written, read] : cases) {
        SCOPED_TRACE(written);
        buildSmallHouse(*form);
        form->version = written;
        ASSERT_TRUE(form->savegame("v").ok);
        EXPECT_EQ(crlfLines(fileBytes("v"))[kVersionLine], written);
        Form1 other(*platform);
        ASSERT_TRUE(other.loadgame("v").ok);
        EXPECT_EQ(other.version, read);
    }
}

TEST_F(LoadGameTest, LoadingLeavesSettingsAndRandomDrawsAlone) {
    buildSmallHouse(*form);
    ASSERT_TRUE(form->savegame("s").ok);

    Form1 other(*platform);
    buildRunningHouse(other);
    other.menu = 3;
    other.menupos = 2;
    other.besttasks = 12;
    other.speechmode = 2;
    other.ignorekeys = 1;
    other.rnd.seed(77);
    Random twin;
    twin.seed(77);
    ASSERT_TRUE(other.loadgame("s").ok);
    EXPECT_EQ(other.menu, 3);
    EXPECT_EQ(other.menupos, 2);
    EXPECT_EQ(other.besttasks, 12);
    EXPECT_EQ(other.speechmode, 2);
    EXPECT_EQ(other.ignorekeys, 1);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(other.rnd.next(), twin.next());
}

TEST_F(LoadGameTest, OtherLineEndsAreRead) {
    std::string lf;
    for (const auto& line : crlfLines(smallHouseBytes())) lf += line + "\n";
    buildRunningHouse(*form);
    putFile("lf", lf);
    ASSERT_TRUE(form->loadgame("lf").ok);
    auto expected = std::make_unique<GameState>();
    buildSmallHouse(*expected);
    EXPECT_TRUE(sameGame(*form, *expected));
}

TEST_F(LoadGameTest, EveryShortenedFileIsRefused) {
    const std::string whole = smallHouseBytes();
    std::vector<std::size_t> cuts = {0};
    for (std::size_t at = whole.find("\r\n"); at != std::string::npos; at = whole.find("\r\n", at + 2))
        cuts.push_back(at + 2);
    ASSERT_EQ(cuts.back(), whole.size());
    cuts.pop_back();
    ASSERT_EQ(cuts.size(), static_cast<std::size_t>(kSmallHouseLines));
    for (std::size_t cut : cuts) {
        SCOPED_TRACE("cut after byte " + std::to_string(cut));
        expectRefused(whole.substr(0, cut));
    }
    expectRefused(whole.substr(0, whole.find("\r\n")), "the file ends too early");
    expectRefused("", "the file is empty");

    // The whole file, by contrast, loads.
    putFile("whole", whole);
    EXPECT_TRUE(form->loadgame("whole").ok);
}

struct Edit {
    int line;
    std::string text;
};

struct Damage {
    std::vector<Edit> edits;
    std::string why;
};

TEST_F(LoadGameTest, DamagedValuesAreRefusedWithTheReason) {
    const auto base = crlfLines(smallHouseBytes());
    ASSERT_EQ(base[kItemcountLine], " 3 ");
    ASSERT_EQ(base[kRoomcountLine], " 2 ");
    ASSERT_EQ(base[kSpotcount3Line], " 0 ");
    ASSERT_EQ(base[kSwapcountLine], " 1 ");
    ASSERT_EQ(base[kQuestspotLine], " 2 ");
    ASSERT_EQ(base[kList1Line], " 2 ");
    ASSERT_EQ(base[kList2Line], " 1 ");

    const std::string items = "the number of items is not between 1 and 100";
    const std::string itemsNaN = "the number of items is not a whole number";
    const std::vector<Damage> cases = {
        {{{kItemcountLine, " 101 "}}, items},
        {{{kItemcountLine, " 0 "}}, items},
        {{{kItemcountLine, "-1 "}}, items},
        {{{kItemcountLine, " three "}}, itemsNaN},
        {{{kItemcountLine, ""}}, itemsNaN},
        {{{kItemcountLine, "   "}}, itemsNaN},
        {{{kItemcountLine, " 3x "}}, itemsNaN},
        {{{kItemcountLine, " 1e2 "}}, itemsNaN},
        {{{kItemcountLine, " 000000000003 "}}, itemsNaN},
        {{{kItemcountLine, " 99999999999 "}}, itemsNaN},
        {{{kItemcountLine, " -9223372036854775808 "}}, itemsNaN},
        {{{kRoomcountLine, " 11 "}}, "the number of rooms is not between 1 and 10"},
        {{{kRoomcountLine, " 0 "}}, "the number of rooms is not between 1 and 10"},
        {{{kSpotcount1Line, " 16 "}}, "the number of spots in room 1 is not between 0 and 15"},
        {{{kSpotcount1Line, "-1 "}}, "the number of spots in room 1 is not between 0 and 15"},
        {{{kSpotcount3Line, " 16 "}}, "the number of spots in room 3 is not between 0 and 15"},
        {{{kSpotcount2Line, " 0 "}}, "room 2 has no spots"},
        {{{kSwapcountLine, " 1000 "}}, "the number of swaps is not between 0 and 999"},
        {{{kSwapcountLine, "-1 "}}, "the number of swaps is not between 0 and 999"},
        {{{kSwapcountLine, "one"}}, "the number of swaps is not a whole number"},
        {{{kQuestsdoneLine, "-1 "}}, "the number of tasks done is below 0"},
        {{{kList1Line, "-1 "}}, "the number of words in the first list is below 0"},
        {{{kList1Line, " 1000000000 "}}, "the number of words in the first list is more than the file holds"},
        {{{kList1Line, " 4 "}}, "the number of words in the first list is more than the file holds"},
        {{{kList2Line, " 2 "}}, "the number of words in the second list is more than the file holds"},
        {{{kList2Line, "-5 "}}, "the number of words in the second list is below 0"},
        {{{kList2Line, " 0 "}}, "the file goes on after the end of the game"},
        {{{itemRoomLine(2), " 0 "}, {itemSpotLine(2), " 0 "}}, "more than one item is in the hand"},
        {{{itemRoomLine(1), " 1 "}, {itemSpotLine(1), " 1 "}}, "no item is in the hand"},
        {{{itemSpotLine(1), " 1 "}}, "item 1 is in the hand and at a spot"},
        {{{itemSpotLine(3), " 2 "}}, "item 3 lies at a spot that does not exist"},
        {{{itemSpotLine(3), " 0 "}}, "item 3 lies at a spot that does not exist"},
        {{{itemRoomLine(3), " 3 "}}, "item 3 lies at a spot that does not exist"},
        {{{itemRoomLine(3), " 11 "}}, "item 3 lies in a room that does not exist"},
        {{{itemRoomLine(3), "-1 "}}, "item 3 lies in a room that does not exist"},
        {{{itemRoomLine(3), "x"}}, "the room of item 3 is not a whole number"},
        {{{kCurroomLine, " 0 "}}, "the current room does not exist"},
        {{{kCurroomLine, " 11 "}}, "the current room does not exist"},
        {{{kCurspotLine, " 3 "}}, "the current spot does not exist"},
        {{{kCurspotLine, "-1 "}}, "the current spot does not exist"},
        {{{kCuritemLine, " 4 "}}, "the current item does not exist"},
        {{{kCuritemLine, "-3 "}}, "the current item does not exist"},
        {{{kQuestitemLine, " 0 "}}, "the task's item does not exist"},
        {{{kQuestitemLine, " 4 "}}, "the task's item does not exist"},
        {{{kQuestroomLine, " 3 "}}, "the task's room does not exist"},
        {{{kQuestroomLine, " 2 "}}, "the task's spot does not exist"},
        {{{kQuestspotLine, " 3 "}}, "the task's spot does not exist"},
        {{{kQuestspotLine, " 0 "}}, "the task's spot does not exist"},
    };
    for (const Damage& damage : cases) {
        std::vector<std::string> lines = base;
        std::string trace;
        for (const Edit& edit : damage.edits) {
            lines[edit.line] = edit.text;
            trace += "line " + std::to_string(edit.line + 1) + " = \"" + edit.text + "\"; ";
        }
        SCOPED_TRACE(trace);
        expectRefused(crlfJoin(lines), damage.why);
    }
}

// Values are read as fields: a comma ends one, so what follows it is ignored.
TEST_F(LoadGameTest, AValueEndsAtAComma) {
    auto lines = crlfLines(smallHouseBytes());
    lines[kQuestsdoneLine] = " 9 , rubbish";
    buildRunningHouse(*form);
    putFile("comma", crlfJoin(lines));
    ASSERT_TRUE(form->loadgame("comma").ok);
    EXPECT_EQ(form->questsdone, 9);
}

TEST_F(LoadGameTest, TrailingBlankLinesAreToleratedButNotMore) {
    buildRunningHouse(*form);
    putFile("blank", smallHouseBytes() + "\r\n\r\n");
    EXPECT_TRUE(form->loadgame("blank").ok);
    EXPECT_EQ(form->List2, (std::vector<std::string>{"plum"}));

    expectRefused(smallHouseBytes() + "junk\r\n", "the file goes on after the end of the game");
    expectRefused(smallHouseBytes() + "\r\n \r\n", "the file goes on after the end of the game");
    expectRefused(smallHouseBytes() + "x", "the file goes on after the end of the game");
}

// With one place in the house and the only loose item on it, no task could ever be chosen.
TEST_F(LoadGameTest, AHouseWithNoPossibleTaskIsRefused) {
    auto tiny = std::make_unique<GameState>();
    buildSmallHouse(*tiny);
    tiny->roomcount = 1;
    tiny->spotcount[1] = 1;
    tiny->spotcount[2] = 0;
    tiny->spotname[1][2].clear();
    tiny->spotname[2][1].clear();
    tiny->itemcount = 2;
    tiny->itemname[3].clear();
    tiny->itemroom[3] = 0;
    tiny->itemspot[3] = 0;
    tiny->itemroom[2] = 1;
    tiny->itemspot[2] = 1;
    tiny->curspot = 1;
    tiny->questitem = 2;
    tiny->questspot = 1;
    static_cast<GameState&>(*form) = *tiny;
    ASSERT_TRUE(form->savegame("tiny").ok);
    expectRefused(fileBytes("tiny"), "no task can be set in this house");

    // An item outside the used rooms can still be moved to the one place.
    tiny->spotcount[5] = 1;
    tiny->itemroom[2] = 5;
    static_cast<GameState&>(*form) = *tiny;
    ASSERT_TRUE(form->savegame("tiny").ok);
    buildRunningHouse(*form);
    const FileResult result = form->loadgame("tiny");
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_TRUE(sameGame(*form, *tiny));
}

TEST_F(LoadGameTest, AMissingFileOrAFolderIsRefused) {
    buildRunningHouse(*form);
    const GameState before = *form;
    FileResult result = form->loadgame("nothing here");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.why, "there is no saved game of that name");
    fs::create_directories(folder / "dir");
    result = form->loadgame("dir");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    result = form->loadgame("");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.why.empty());
    EXPECT_TRUE(sameGame(*form, before));
}

// Random damage to a good file: each result either loads a playable game that saves and loads
// again, or is refused with the game in progress untouched.
TEST_F(LoadGameTest, MutatedFilesLoadPlayableOrChangeNothing) {
    const std::string good = smallHouseBytes();
    auto running = std::make_unique<GameState>();
    buildRunningHouse(*running);
    std::mt19937 gen(20240611);
    const std::string interesting = "0123456789- ,\r\n";
    int loaded = 0;
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string bytes = good;
        const int mutations = 1 + static_cast<int>(gen() % 3);
        for (int m = 0; m < mutations; ++m) {
            const std::size_t at = bytes.empty() ? 0 : gen() % bytes.size();
            switch (gen() % 4) {
                case 0:
                    if (!bytes.empty()) bytes[at] = static_cast<char>(bytes[at] ^ (1 << (gen() % 8)));
                    break;
                case 1:
                    if (!bytes.empty()) bytes.erase(at, 1);
                    break;
                case 2:
                    bytes.insert(at, 1, interesting[gen() % interesting.size()]);
                    break;
                default:
                    bytes.insert(at, 1, static_cast<char>(gen() % 256));
                    break;
            }
        }
        static_cast<GameState&>(*form) = *running;
        putFile("fuzz", bytes);
        const FileResult result = form->loadgame("fuzz");
        if (result.ok) {
            ++loaded;
            ASSERT_TRUE(playable(*form));
            ASSERT_TRUE(form->savegame("again").ok);
            Form1 other(*platform);
            const FileResult again = other.loadgame("again");
            ASSERT_TRUE(again.ok) << again.why;
            ASSERT_TRUE(sameGame(other, *form));
        } else {
            ++refused;
            ASSERT_FALSE(result.why.empty());
            ASSERT_TRUE(sameGame(*form, *running)) << result.why;
        }
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace tw
