// tests/linux/instance_lock_test.cpp: single-instance detection per program folder, across real processes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "platform/linux/instance_lock.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using tw::anotherInstanceRunning;
using tw::instanceLockPath;
using tw_test::Child;
using tw_test::ScopedEnv;
using tw_test::TempDir;

// Child helpers: "check" asks once and ends; "hold" asks, says so, then waits to be killed.
[[maybe_unused]] const bool kChildHandled = [] {
    const std::string mode = tw_test::childMode();
    if (mode != "instance-check" && mode != "instance-hold") return false;
    const char* folder = std::getenv("TW_TEST_DIR");
    if (!folder) _exit(5);
    const bool running = anotherInstanceRunning(folder);
    std::printf("running=%d\nready=1\n", running ? 1 : 0);
    std::fflush(stdout);
    if (mode == "instance-hold") {
        for (;;) pause();
    }
    _exit(0);
}();

// Lock files go to a runtime folder of the test's own, so runs leave nothing behind in /tmp.
// Children started during the test inherit it.
class InstanceLock : public ::testing::Test {
protected:
    TempDir runtime_;
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.path()};
};

std::string childAnswer(const std::string& folder) {
    Child child("instance-check", {{"TW_TEST_DIR", folder}});
    const auto result = child.finish(20s);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0) << result.err;
    const auto values = tw_test::keyValues(result.out);
    return values.count("running") ? values.at("running") : "missing";
}

TEST_F(InstanceLock, SameFolderTwiceInOneProcessIsRunning) {
    TempDir folder;
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    EXPECT_TRUE(anotherInstanceRunning(folder.path()));
    EXPECT_TRUE(anotherInstanceRunning(folder.path() + "/."));
}

TEST_F(InstanceLock, DifferentFoldersRunSideBySide) {
    TempDir first, second;
    EXPECT_FALSE(anotherInstanceRunning(first.path()));
    EXPECT_FALSE(anotherInstanceRunning(second.path()));
    EXPECT_EQ(childAnswer(first.path()), "1");
    EXPECT_EQ(childAnswer(second.path()), "1");
    TempDir third;
    EXPECT_EQ(childAnswer(third.path()), "0");
    // That child ended, and its lock with it.
    EXPECT_FALSE(anotherInstanceRunning(third.path()));
}

TEST_F(InstanceLock, AnotherProcessSeesTheHolderUntilItCrashes) {
    TempDir folder;
    Child holder("instance-hold", {{"TW_TEST_DIR", folder.path()}});
    ASSERT_TRUE(holder.waitFor("ready=1", 20s));
    EXPECT_EQ(childAnswer(folder.path()), "1");
    EXPECT_TRUE(anotherInstanceRunning(folder.path()));
    // SIGKILL stands in for a crash: nothing of the holder's runs after it.
    holder.signal(SIGKILL);
    const auto result = holder.finish(10s);
    EXPECT_EQ(result.status, 128 + SIGKILL);
    EXPECT_EQ(tw_test::keyValues(result.out).at("running"), "0");
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    // Now this process holds it.
    EXPECT_EQ(childAnswer(folder.path()), "1");
}

TEST_F(InstanceLock, PathIsKeyedByTheCanonicalFolderAndLivesOutsideIt) {
    TempDir folder, other;
    std::filesystem::create_directory(folder / "game");
    std::filesystem::create_directory_symlink(folder / "game", folder / "link");
    const std::string path = instanceLockPath(folder / "game");
    EXPECT_EQ(instanceLockPath(folder / "game/"), path);
    EXPECT_EQ(instanceLockPath(folder / "game/../game"), path);
    EXPECT_EQ(instanceLockPath(folder / "link"), path);
    EXPECT_NE(instanceLockPath(other.path()), path);
    EXPECT_EQ(path.rfind(folder.path(), 0), std::string::npos);

    // The symlinked spelling finds the lock taken through the real one.
    EXPECT_FALSE(anotherInstanceRunning(folder / "game"));
    EXPECT_TRUE(anotherInstanceRunning(folder / "link"));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "game"));
}

TEST_F(InstanceLock, LockFileGoesToTheRuntimeFolderOrTmp) {
    TempDir runtime, folder;
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime.path());
        EXPECT_EQ(instanceLockPath(folder.path()).rfind(runtime.path() + "/", 0), 0u);
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", runtime / "missing");
        EXPECT_EQ(instanceLockPath(folder.path()).rfind("/tmp/", 0), 0u);
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_EQ(instanceLockPath(folder.path()).rfind("/tmp/", 0), 0u);
    }
}

TEST_F(InstanceLock, HeldDescriptorIsCloseOnExec) {
    TempDir folder;
    ASSERT_FALSE(anotherInstanceRunning(folder.path()));
    const std::string path = instanceLockPath(folder.path());
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (error || target.string() != path) continue;
        const int fd = std::stoi(entry.path().filename().string());
        const int flags = fcntl(fd, F_GETFD);
        EXPECT_NE(flags & FD_CLOEXEC, 0) << "fd " << fd;
        ++found;
    }
    EXPECT_EQ(found, 1);
}

TEST_F(InstanceLock, UnusableLockFileCountsAsFree) {
    TempDir runtime, folder;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path());
    // A folder squatting on the lock file's name cannot be opened or locked.
    std::filesystem::create_directory(instanceLockPath(folder.path()));
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
    EXPECT_FALSE(anotherInstanceRunning(folder.path()));
}

}  // namespace
