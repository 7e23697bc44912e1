// tests/linux/crash_test.cpp: saves killed at random moments, and the order in which a save
// reaches the disk, seen from the system calls themselves.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "game/form1.h"
#include "platform/files.h"
#include "platform/headless/headless_platform.h"
#include "save/savefile.h"
#include "tests/linux/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tw_test::TempDir;

std::string slurp(const std::string& path) { return tw::driver::readBytes(path).value_or(""); }

int temporaries(const std::string& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += tw::files::isTemporaryName(entry.path().filename().string());
    return n;
}

// A game that saves itself over and over, two different games in turn, is killed at a random
// moment each time: the save is always one of the two, whole and loadable.
TEST(CrashSafety, SavesKilledAtRandomMomentsLeaveAWholeSave) {
    TempDir home;
    fs::copy_file(fs::path(TW_GAME_DIR) / "words.txt", home / "words.txt");
    tw::HeadlessPlatform platform(home.path());
    tw::Form1 form(platform);
    form.rnd.seed(3);
    form.newgame();
    const tw::GameState first = form;
    form.newgame();
    const tw::GameState second = form;
    std::string a, b;
    ASSERT_TRUE(tw::savedGameBytes(first, a).ok);
    ASSERT_TRUE(tw::savedGameBytes(second, b).ok);
    ASSERT_NE(a, b);
    ASSERT_TRUE(form.savegame("slot").ok);  // the second game

    std::mt19937 gen(20261207);
    constexpr int kKills = 200;
    int leftovers = 0, news = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int n = 0;; ++n) {
                static_cast<tw::GameState&>(form) = n % 2 ? second : first;
                form.savegame("slot");
            }
        }
        // From a fraction of one save to several: a sanitizer build on a busy machine saves slowly.
        usleep(200 + gen() % 20000);
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string now = slurp(home / "slot");
        ASSERT_TRUE(now == a || now == b) << "kill " << kill << ": a save of " << now.size() << " bytes";
        tw::GameState loaded;
        ASSERT_TRUE(tw::readSavedGame(now, loaded).ok);
        news += now == a;
    }
    leftovers = temporaries(home.path());
    // The kills fell into saves: temporary files were left, and new saves did land.
    EXPECT_GT(leftovers, 0);
    EXPECT_GT(news, 0);
    // (The next start removes what dead saves left: the faults test's.)
    std::cout << "[ crash ] kills " << kKills << ", temporary files left by them " << leftovers << "\n";
}

bool haveStrace() { return std::system("command -v strace >/dev/null 2>&1") == 0; }

// The real program's system calls while it saves: the temporary file is synced before it is
// renamed over the save, and the folder after, so a power cut keeps the old save or the new.
TEST(CrashSafety, ASaveIsSyncedBeforeItsRenameAndTheFolderAfter) {
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed";
    TempDir home;
    fs::copy_file(fs::path(TW_GAME_DIR) / "words.txt", home / "words.txt");
    {
        std::ofstream in(home / "keys");
        in << "key Down Down Enter Escape Down Down Down Enter\ntype slot\n";
    }
    // LeakSanitizer cannot work under ptrace, so a sanitizer build leaves the leak check out here.
    const std::string command =
        "cd " + home.path() +
        " && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=openat,fsync,fdatasync,rename,renameat," +
        "renameat2 -o trace " + TW_EXE + " --headless --seed 1 --home . < keys > out 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_NE(slurp(home / "out").find("say: Game saved as slot."), std::string::npos);

    std::istringstream trace(slurp(home / "trace"));
    const std::regex openTemp(R"(openat\(.*\.tumblewick-\d+\.tmp".*= (\d+)$)");
    const std::regex opened(R"(openat\(.*= (\d+)$)");
    const std::regex folder(R"(openat\(AT_FDCWD, "[^"]+", O_RDONLY.*O_DIRECTORY)");
    const std::regex sync(R"(f(?:data)?sync\((\d+)\)\s+= 0$)");
    const std::regex renamed(R"(rename(?:at2?)?\(.*\.tumblewick-\d+\.tmp".*/slot".*= 0$)");
    // A descriptor's number is used again once it is closed: a sync counts for the file opened
    // under that number last.
    std::string tempFd, folderFd;
    bool tempSynced = false, renamedOver = false, folderSynced = false;
    for (std::string line; std::getline(trace, line);) {
        std::smatch m;
        if (std::regex_search(line, m, openTemp)) {
            tempFd = m[1];
            tempSynced = false;
        } else if (std::regex_search(line, m, opened)) {
            if (m[1] == tempFd) tempFd.clear();
            if (renamedOver && folderFd.empty() && std::regex_search(line, folder)) folderFd = m[1];
        } else if (std::regex_search(line, m, sync)) {
            tempSynced = tempSynced || m[1] == tempFd;
            folderSynced = folderSynced || (renamedOver && m[1] == folderFd);
        } else if (std::regex_search(line, renamed)) {
            EXPECT_TRUE(tempSynced) << "renamed before it was synced";
            renamedOver = true;
        }
    }
    EXPECT_TRUE(renamedOver);
    EXPECT_TRUE(folderSynced);
}

// ---- Ends that come while the game is busy: each keeps the game whole. ----

std::unique_ptr<tw::GameState> autosaved(const std::string& home) {
    auto state = std::make_unique<tw::GameState>();
    if (!tw::readSaveFile(home + "/.autosave", *state).ok) return nullptr;
    return state;
}

const std::string kDown = "\x1b[B";
const std::string kPlay = kDown + kDown + "\r";

TEST(Ends, ASignalWhileOutputIsBlockedStillEndsTheGameWithItsSave) {
    TempDir home;
    tw_test::PipedGame game(home);
    game.type(kPlay + "3");
    ASSERT_NE(game.waitLine("You're in Kitchen."), -1) << game.transcript();
    // Nobody reads any more, and the pipe is full: the next answer cannot be written.
    for (pollfd p{game.outWriter(), POLLOUT, 0}; poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);)
        ASSERT_EQ(write(game.outWriter(), std::string(512, '.').data(), 512), 512);
    game.type("z");
    usleep(300000);
    kill(game.pid(), SIGTERM);
    int status = 0;
    ASSERT_NE(game.waitEnd(status, 5s), -1);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    const auto kept = autosaved(home.path());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->curroom, 3);
}

TEST(Ends, ASignalDuringACompletionsWaitsKeepsTheCompletionWhole) {
    for (const int afterMs : {300, 1500, 2900}) {
        TempDir home;
        tw_test::PipedGame game(home);
        game.type(kPlay + "3ra\r9e");
        ASSERT_NE(game.waitLine("You look on the floor, in the Laundry room"), -1) << game.transcript();
        game.type("a\r");
        usleep(afterMs * 1000);
        kill(game.pid(), SIGTERM);
        int status = 0;
        EXPECT_NE(game.waitEnd(status, 5s), -1);
        const auto kept = autosaved(home.path());
        ASSERT_TRUE(kept) << afterMs;
        // The count, the next task and the word change, all of them.
        EXPECT_EQ(kept->questsdone, 1) << afterMs;
        EXPECT_EQ(kept->swapcount, 1) << afterMs;
        EXPECT_NE(kept->questtext.find("shelf"), std::string::npos) << afterMs;
    }
}

TEST(Ends, AClosedInputIsTheEndOfInput) {
    TempDir home;
    tw_test::PipedGame game(home, "", "", true);
    int status = -1;
    EXPECT_NE(game.waitEnd(status, 5s), -1);
    EXPECT_EQ(status, 0);
}

}  // namespace
