// tests/linux/instance_lock_test.cpp: single-instance detection per program folder, across real processes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "platform/linux/instance_lock.h"
#include "tests/linux/test_support.h"

namespace {

using tw::anotherInstanceRunning;
using tw_test::TempDir;

// The test binary started again with TW_TEST_HOLD set is a holder: it takes the lock for that
// folder, says whether it got it, and waits (30 s at most) to be killed.
[[maybe_unused]] const bool kHolder = [] {
    if (!std::getenv("TW_TEST_HOLD")) return false;
    std::printf("took=%d pid=%d\n", !anotherInstanceRunning(std::getenv("TW_TEST_HOLD")), int(getpid()));
    std::fflush(stdout);
    sleep(30);
    _exit(0);
}();

// A runtime folder of the test's own, which once held the lock files: where it is must not matter.
class InstanceLock : public ::testing::Test {
protected:
    TempDir runtime_;
    tw_test::ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.path()};
};

TEST_F(InstanceLock, OneCopyPerFolderUntilTheHolderDies) {
    TempDir folder, other;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    FILE* holder = popen(("TW_TEST_HOLD=" + folder.path() + " exec " + self + " --gtest_filter=-*").c_str(), "r");
    int took = 0, pid = 0;
    ASSERT_EQ(std::fscanf(holder, "took=%d pid=%d", &took, &pid), 2);
    EXPECT_EQ(took, 1);
    EXPECT_TRUE(anotherInstanceRunning(folder.path()));
    EXPECT_FALSE(anotherInstanceRunning(other.path()));
    // SIGKILL stands in for a crash: nothing of the holder's runs after it.
    kill(pid, SIGKILL);
    EXPECT_EQ(pclose(holder), SIGKILL);  // the wait status of a process killed by that signal
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    EXPECT_TRUE(anotherInstanceRunning(folder.path()));  // now this process holds it
}

// Every way of reaching the folder finds the one lock, and the folder stays untouched.
TEST_F(InstanceLock, TheLockIsTheFolderItself) {
    TempDir folder;
    std::filesystem::create_directory(folder / "game");
    std::filesystem::create_directory_symlink(folder / "game", folder / "link");
    EXPECT_FALSE(anotherInstanceRunning(folder / "game"));
    for (const char* same : {"game/", "game/../game", "link"}) EXPECT_TRUE(anotherInstanceRunning(folder / same));
    tw_test::ScopedEnv elsewhere("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_TRUE(anotherInstanceRunning(folder / "game"));
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "game"));
    // A bind mount of the folder is the same folder.
    if (geteuid() == 0 && access("/usr/bin/unshare", X_OK) == 0) {
        std::filesystem::create_directory(folder / "mount");
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        const std::string command = "unshare -m sh -c 'mount --bind " + folder / "game" + " " + folder / "mount" +
                                    " && TW_TEST_HOLD=" + folder / "mount" + " timeout 1 " + self +
                                    " --gtest_filter=-*' 2>/dev/null | head -c 6";
        FILE* holder = popen(command.c_str(), "r");
        char took[8] = {};
        ASSERT_TRUE(holder && std::fread(took, 1, 6, holder) == 6);
        pclose(holder);
        EXPECT_STREQ(took, "took=0");
    }
}

}  // namespace
