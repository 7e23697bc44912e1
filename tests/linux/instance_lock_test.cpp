// tests/linux/instance_lock_test.cpp: single-instance detection per program folder, across real processes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "platform/linux/instance_lock.h"
#include "tests/linux/test_support.h"

namespace {

using tw::anotherInstanceRunning;
using tw::instanceLockPath;
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

// Lock files go to a runtime folder of the test's own, so runs leave nothing behind in /tmp.
// Children started during the test inherit it.
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

TEST_F(InstanceLock, PathIsKeyedByTheCanonicalFolderAndLivesOutsideIt) {
    TempDir folder;
    std::filesystem::create_directory(folder / "game");
    std::filesystem::create_directory_symlink(folder / "game", folder / "link");
    const std::string path = instanceLockPath(folder / "game");
    EXPECT_EQ(path.rfind(runtime_.path() + "/", 0), 0u) << path;
    for (const char* same : {"game/", "game/../game", "link"}) EXPECT_EQ(instanceLockPath(folder / same), path);
    EXPECT_NE(instanceLockPath(folder.path()), path);
    // The symlinked spelling finds the lock taken through the real one, and the folder stays untouched.
    EXPECT_FALSE(anotherInstanceRunning(folder / "game"));
    EXPECT_TRUE(anotherInstanceRunning(folder / "link"));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "game"));
    // A folder squatting on the lock file's name cannot be locked, which counts as free.
    std::filesystem::create_directory(instanceLockPath(folder.path()));
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    tw_test::ScopedEnv missing("XDG_RUNTIME_DIR", runtime_ / "missing");
    EXPECT_EQ(instanceLockPath(folder / "game").rfind("/tmp/", 0), 0u);
}

}  // namespace
