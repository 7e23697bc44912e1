// tests/startup_test.cpp: start-up of the real binary and the library: debuglog.txt, myversion.txt,
// the greeting, the single-copy lock, reading and writing progress.ini, and a missing voice.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/headless/headless_platform.h"

namespace tw {
namespace {

using driver::DriverDirs;
using driver::exists;
using driver::readBytes;
using driver::shellQuoted;
using driver::writeBytes;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
const std::string kFirstTitle = "title: Tumblewick (v0.6b), by Dorvel";
const std::string kLogHead = "Dorvel disabled DirectSound in this version.\r\nLoading JAWS Api\r\n";
const std::string kLogRest = "Sound finished.\r\nVersion is 0.6b\r\nSapi is set to 1\r\nLoading settings/progress\r\n";
const std::string kNoReader = "error: no screen reader answers\r\n";

// What a run prints: the first title and the greeting, then "Exit the game" when Up is pressed.
std::string output(const std::string& path, bool up) {
    const std::string out = kFirstTitle + "\nsay: " + kGreeting + "\n" + path + ": " + kGreeting + "\n";
    return up ? out + "say: Exit the game\n" + path + ": Exit the game\n" : out;
}

// The start-up log, exactly, but for the words of the "error: " line a broken progress.ini adds.
void expectLog(const std::string& log, bool reader, bool progressError) {
    const std::regex progressLine("progress\r\nerror: [^\r\n]+\r\n");
    EXPECT_EQ(std::regex_replace(log, progressLine, "progress\r\nerror: ...\r\n"),
              "Starting program\r\n" + kLogHead + (reader ? "" : kNoReader) + kLogRest +
                  (progressError ? "error: ...\r\n" : "") + "Startup finished.\r\n");
}

TEST(Startup, SecondCopyWithTheSameFolderIsRefused) {
    const auto cache = readBytes(std::string(TW_BINARY_DIR) + "/CMakeCache.txt");
    if (!cache || cache->find("TW_LINUX_FRONTEND:BOOL=ON") == std::string::npos)
        GTEST_SKIP() << "the binary is built without the Linux front end and its lock";
    DriverDirs first;
    const std::string command = "cd " + shellQuoted(first.run) + " && exec " + shellQuoted(TW_EXE) +
                                " --headless --home " + shellQuoted(first.home) + " > " +
                                shellQuoted(first.root.file("first.out")) + " 2> /dev/null";
    FILE* firstIn = ::popen(command.c_str(), "w");
    ASSERT_NE(firstIn, nullptr);
    for (int i = 0; i < 600 && first.log().find("Startup finished.") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // The same program folder from another current folder is refused; another folder is another game.
    DriverDirs second, other;
    EXPECT_EQ(second.start("key 9\n", "", first.home), "box: This game is already running.\n");
    EXPECT_EQ(second.log(), "Previous instance\r\n");
    EXPECT_FALSE(exists(second.run + "/myversion.txt"));
    EXPECT_FALSE(exists(first.homeFile("progress.ini")));
    EXPECT_EQ(other.start(""), output("title", false));
    expectLog(other.log(), false, false);

    // The first copy was not disturbed; it ends at the end of its input, and the folder is free again.
    std::fputs("key 38\n", firstIn);
    const int status = ::pclose(firstIn);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readBytes(first.root.file("first.out")).value_or(""), output("title", true));
    DriverDirs again;
    EXPECT_EQ(again.start("", "", first.home), output("title", false));
    expectLog(again.log(), false, false);
}

TEST(Startup, MissingVoiceIsLoggedAndTheGameGreetsThroughTheTitle) {
    driver::TempDir dir;
    driver::ScopedCwd cwd(dir.path());
    HeadlessPlatform platform(dir.path());
    platform.voiceAvailable = false;
    Form1 form(platform);
    form.Form_Load();  // a ProcessEnded thrown here fails the test
    form.Form_Activate();
    EXPECT_EQ(readBytes(dir.file("debuglog.txt")).value_or(""),
              "Starting program\r\nerror: the speech engine is not available\r\n" + kLogHead + kNoReader + kLogRest +
                  "Startup finished.\r\n");
    EXPECT_EQ(platform.events, (std::vector<std::string>{kFirstTitle, "say: " + kGreeting, "title: " + kGreeting}));

    // On the voice path nothing is heard from the stand-in, and the rate keys still step it from 3.
    form.speechmode = 0;
    platform.events.clear();
    platform.queueKey(33);
    platform.doEvents();
    EXPECT_EQ(form.sapivoice->Rate(), 4);
    EXPECT_EQ(platform.events, (std::vector<std::string>{"say: Sapi faster.", "say: Exit the game"}));
}

}  // namespace
}  // namespace tw
