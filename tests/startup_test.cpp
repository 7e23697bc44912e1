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

TEST(Startup, StartsReadsProgressAndWritesItOnlyOnExit) {
    const char* const defaults = " 1 \r\n 3 \r\n\r\n";
    const char* const upEnter = "key 38\nkey 13\n";
    struct Case {
        const char* before;  // progress.ini before the run; nullptr: none
        const char* input;
        bool jaws, error;
        const char* path;   // what carries the greeting and "Exit the game"
        const char* after;  // progress.ini after the run; nullptr: none
    };
    const Case cases[] = {
        {nullptr, "", false, false, "title", nullptr},
        {nullptr, "", true, false, "title", nullptr},
        // The end of input writes nothing, and leaves a file byte for byte.
        {nullptr, "key 38\n# a comment\n\n", false, false, "title", nullptr},
        {"0\n9\n4\n", "key 38\n", false, false, "voice", "0\n9\n4\n"},
        {nullptr, upEnter, false, false, "title", defaults},
        // Without blanks and with LF alone, so the rewrite is visibly the game's own.
        {"0\n5\n12\n", upEnter, false, false, "voice", " 0 \r\n 5 \r\n 12 \r\n"},
        {" 0 \r\n 5 \r\n", upEnter, false, true, "title", defaults},
        {" 0 \r\n fast \r\n 12 \r\n", upEnter, false, true, "title", defaults},
        // A path the game does not know falls back to the title.
        {" 7 \r\n 4 \r\n\r\n", upEnter, false, false, "title", " 1 \r\n 4 \r\n\r\n"},
        {"-1 \r\n 4 \r\n\r\n", upEnter, false, false, "title", " 1 \r\n 4 \r\n\r\n"},
        // The reader path needs the reader object; without it, the voice.
        {" 3 \r\n 2 \r\n 7 \r\n", upEnter, false, false, "voice", " 0 \r\n 2 \r\n 7 \r\n"},
        {" 3 \r\n 2 \r\n 7 \r\n", upEnter, true, false, "reader", " 3 \r\n 2 \r\n 7 \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.before ? c.before : "<none>") + (c.jaws ? " --jaws " : " ") +
                     ::testing::PrintToString(c.input));
        DriverDirs dirs;
        if (c.before) writeBytes(dirs.homeFile("progress.ini"), c.before);
        EXPECT_EQ(dirs.start(c.input, c.jaws ? "--jaws" : ""), output(c.path, *c.input != '\0'));
        expectLog(dirs.log(), c.jaws, c.error);
        EXPECT_EQ(readBytes(dirs.run + "/myversion.txt").value_or("<missing>"), "0.6b\r\n");
        if (c.after)
            EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), c.after);
        else
            EXPECT_FALSE(exists(dirs.homeFile("progress.ini")));
        // The log and the version go to the current folder, progress.ini to the program's folder only.
        for (const char* name : {"debuglog.txt", "myversion.txt"}) EXPECT_FALSE(exists(dirs.homeFile(name)));
        EXPECT_FALSE(exists(dirs.run + "/progress.ini"));
    }
}

TEST(Startup, ExitTheGameWritesPathAndRateAndLaterKeysDoNothing) {
    DriverDirs dirs;
    // Tab twice: path 2, then path 3 refused without the reader, so path 0. Page Up twice (rate 3
    // to 5), each also announcing "Exit the game"; Enter exits; the Tab after it does nothing.
    const std::string out = dirs.start("key 9\nkey 9\nkey 33\nkey 33\nkey 13\nkey 9\n");
    EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 0 \r\n 5 \r\n\r\n");
    const std::string step = "say: Sapi faster.\nvoice: Sapi faster.\nsay: Exit the game\nvoice: Exit the game\n";
    EXPECT_EQ(out.substr(out.size() - 2 * step.size()), step + step);
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
