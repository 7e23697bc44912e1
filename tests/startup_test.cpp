// tests/startup_test.cpp: start-up of the real binary and the library: debuglog.txt, myversion.txt,
// the greeting, the single-copy lock, reading and writing progress.ini, and a missing voice.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "driver_util.h"
#include "game/form1.h"
#include "platform/headless/headless_platform.h"

namespace tw {
namespace {

using driver::DriverDirs;
using driver::DriverRun;
using driver::exists;
using driver::readBytes;
using driver::splitCrLf;
using driver::writeBytes;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
const std::string kFirstTitle = "title: Tumblewick (v0.6b), by Dorvel";

// The start-up log of a copy whose screen-reader object could be made.
const std::vector<std::string> kLogWithReader = {
    "Starting program",  "Dorvel disabled DirectSound in this version.",
    "Loading JAWS Api",  "Sound finished.",
    "Version is 0.6b",   "Sapi is set to 1",
    "Loading settings/progress", "Startup finished.",
};

std::string crlfJoin(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
}

// Checks a log of a start without the screen-reader object: the eight lines with one
// "error: ..." line after "Loading JAWS Api", and, when extraError is set, one more "error: ..."
// line before "Startup finished.".
void expectLogWithoutReader(const std::string& log, bool extraError) {
    const auto lines = splitCrLf(log);
    ASSERT_EQ(crlfJoin(lines), log) << "every line must end in CR LF: " << log;
    ASSERT_EQ(lines.size(), extraError ? 10u : 9u) << log;
    EXPECT_EQ(lines[0], "Starting program");
    EXPECT_EQ(lines[1], "Dorvel disabled DirectSound in this version.");
    EXPECT_EQ(lines[2], "Loading JAWS Api");
    EXPECT_EQ(lines[3].rfind("error: ", 0), 0u) << lines[3];
    EXPECT_GT(lines[3].size(), 7u) << "the error line names the failure";
    EXPECT_EQ(lines[3].find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(lines[4], "Sound finished.");
    EXPECT_EQ(lines[5], "Version is 0.6b");
    EXPECT_EQ(lines[6], "Sapi is set to 1");
    EXPECT_EQ(lines[7], "Loading settings/progress");
    if (extraError) {
        EXPECT_EQ(lines[8].rfind("error: ", 0), 0u) << lines[8];
        EXPECT_GT(lines[8].size(), 7u);
    }
    EXPECT_EQ(lines.back(), "Startup finished.");
}

// ---- a normal start ----

TEST(StartupLog, NormalStartWithoutReaderWritesNineLinesAndTheVersion) {
    DriverDirs dirs;
    const DriverRun run = dirs.start("");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string log = dirs.log();
    expectLogWithoutReader(log, false);
    // The exact text around the error line.
    EXPECT_EQ(log.rfind("Starting program\r\nDorvel disabled DirectSound in this version.\r\nLoading JAWS Api\r\nerror: ", 0),
              0u)
        << log;
    const std::string tail =
        "\r\nSound finished.\r\nVersion is 0.6b\r\nSapi is set to 1\r\nLoading settings/progress\r\nStartup finished.\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);

    EXPECT_EQ(readBytes(dirs.run + "/myversion.txt").value_or("<missing>"), "0.6b\r\n");
    // Start-up leaves progress.ini alone, wherever it could go.
    EXPECT_FALSE(exists(dirs.homeFile("progress.ini")));
    EXPECT_FALSE(exists(dirs.run + "/progress.ini"));
    // The log and the version file go to the current folder, not the program's folder.
    EXPECT_FALSE(exists(dirs.homeFile("debuglog.txt")));
    EXPECT_FALSE(exists(dirs.homeFile("myversion.txt")));
}

TEST(StartupLog, WithReaderObjectTheLogHasEightLinesAndNoError) {
    DriverDirs dirs;
    const DriverRun run = dirs.start("", "--jaws");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dirs.log(), crlfJoin(kLogWithReader));
    EXPECT_EQ(readBytes(dirs.run + "/myversion.txt").value_or("<missing>"), "0.6b\r\n");
    EXPECT_FALSE(exists(dirs.homeFile("progress.ini")));
}

TEST(StartupOutput, GreetingIsSpokenThroughTheTitle) {
    for (const bool jaws : {false, true}) {
        SCOPED_TRACE(jaws ? "with --jaws" : "without --jaws");
        DriverDirs dirs;
        const DriverRun run = dirs.start("", jaws ? "--jaws" : "");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting};
        EXPECT_EQ(run.lines, expected) << run.out;
        EXPECT_EQ(run.out.back(), '\n');
    }
}

// ---- one copy per program folder ----

bool binaryHasInstanceLock() {
    const auto cache = readBytes(std::string(TW_BINARY_DIR) + "/CMakeCache.txt");
    return cache && cache->find("TW_LINUX_FRONTEND:BOOL=ON") != std::string::npos;
}

// Waits until the file holds needle; false after a generous timeout.
bool waitForText(const std::string& path, const std::string& needle) {
    for (int i = 0; i < 600; ++i) {
        const auto bytes = readBytes(path);
        if (bytes && bytes->find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(StartupInstance, SecondCopyWithTheSameFolderIsRefusedSilently) {
    if (!binaryHasInstanceLock()) GTEST_SKIP() << "the binary is built without the Linux front end and its lock";
    DriverDirs first;
    const std::string firstOut = first.io + "/first_out.txt";
    const std::string command = "cd " + driver::quoted(first.run) + " && exec " + driver::quoted(driver::exePath()) +
                                " --headless --home " + driver::quoted(first.home) + " > " +
                                driver::quoted(firstOut) + " 2> " + driver::quoted(first.io + "/first_err.txt");
    FILE* firstIn = ::popen(command.c_str(), "w");
    ASSERT_NE(firstIn, nullptr);
    const bool started = waitForText(first.run + "/debuglog.txt", "Startup finished.\r\n");
    if (!started) {
        ::pclose(firstIn);
        FAIL() << "the first copy did not finish starting";
    }

    // The same program folder, another current folder.
    DriverDirs secondPlace;
    const DriverRun second =
        driver::runDriver(secondPlace.run, secondPlace.io, "--home " + driver::quoted(first.home), "key 9\n");
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(secondPlace.log(), "Previous instance\r\n");
    EXPECT_EQ(second.out, "box: This game is already running.\n");
    EXPECT_FALSE(exists(secondPlace.run + "/myversion.txt"));
    EXPECT_FALSE(exists(first.homeFile("progress.ini")));

    // Another program folder is another game.
    DriverDirs other;
    const DriverRun third = other.start("");
    EXPECT_EQ(third.exitCode, 0) << third.err;
    expectLogWithoutReader(other.log(), false);
    ASSERT_FALSE(third.lines.empty());
    EXPECT_EQ(third.lines[0], kFirstTitle);

    // The first copy still answers, then ends at the end of its input.
    std::fputs("key 9\n", firstIn);
    const int status = ::pclose(firstIn);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto firstLines = driver::splitAtNewline(readBytes(firstOut).value_or(""));
    const std::vector<std::string> expectedFirst = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting,
                                                    "say: Window eyes support", "title: Window eyes support",
                                                    "keybd: 17 0", "keybd: 16 0", "keybd: 84 0",
                                                    "keybd: 17 2", "keybd: 16 2", "keybd: 84 2"};
    EXPECT_EQ(firstLines, expectedFirst);

    // Once it has ended, the folder is free again.
    DriverDirs again;
    const DriverRun fourth = driver::runDriver(again.run, again.io, "--home " + driver::quoted(first.home), "");
    EXPECT_EQ(fourth.exitCode, 0) << fourth.err;
    expectLogWithoutReader(again.log(), false);
    const std::vector<std::string> greeting = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting};
    EXPECT_EQ(fourth.lines, greeting);
}

// ---- progress.ini written ----

TEST(StartupProgress, ExitTheGameWritesModeRateAndNoBestAndEndsWithZero) {
    DriverDirs dirs;
    // Tab twice: path 2, then path 3 refused without the reader, which falls back to path 0.
    // Page Up twice (rate 3 to 5); the first also announces "Exit the game"; Enter chooses it.
    // The Tab after the exit must do nothing.
    const DriverRun run = dirs.start("key 9\nkey 9\nkey 33\nkey 33\nkey 13\nkey 9\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 0 \r\n 5 \r\n\r\n");
    EXPECT_FALSE(exists(dirs.run + "/progress.ini"));
    const std::vector<std::string> expectedTail = {
        "title: Tumblewick (v0.6b)",
        "say: Jaws does not seem to be responding, Sapi on.", "voice: Jaws does not seem to be responding, Sapi on.",
        "say: Sapi faster.", "voice: Sapi faster.", "say: Exit the game", "voice: Exit the game",
        "say: Sapi faster.", "voice: Sapi faster.", "say: Exit the game", "voice: Exit the game",
    };
    ASSERT_GE(run.lines.size(), expectedTail.size());
    EXPECT_EQ(std::vector<std::string>(run.lines.end() - static_cast<long>(expectedTail.size()), run.lines.end()),
              expectedTail)
        << run.out;
}

TEST(StartupProgress, ExitFromTheUpArrowWritesTheDefaults) {
    DriverDirs dirs;
    const DriverRun run = dirs.start("key 38\nkey 13\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 1 \r\n 3 \r\n\r\n");
    const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting,
                                               "say: Exit the game", "title: Exit the game"};
    EXPECT_EQ(run.lines, expected);
}

TEST(StartupProgress, EndOfInputWritesNothing) {
    {
        SCOPED_TRACE("no file before");
        DriverDirs dirs;
        const DriverRun run = dirs.start("key 9\nkey 33\n# a comment\n\nkey 38\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_FALSE(exists(dirs.homeFile("progress.ini")));
        EXPECT_FALSE(exists(dirs.run + "/progress.ini"));
    }
    {
        SCOPED_TRACE("a file before stays byte for byte");
        DriverDirs dirs;
        const std::string before = "0\n9\n4\n";
        writeBytes(dirs.homeFile("progress.ini"), before);
        const DriverRun run = dirs.start("key 33\nkey 9\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), before);
    }
}

// ---- progress.ini read ----

TEST(StartupProgress, ReadsPathRateAndBestTasks) {
    DriverDirs dirs;
    // Written without blanks and with LF alone, so the rewrite below is visibly the game's own.
    writeBytes(dirs.homeFile("progress.ini"), "0\n5\n12\n");
    // Page Up raises the rate read from the file, and also announces "Exit the game".
    const DriverRun run = dirs.start("key 33\nkey 13\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    expectLogWithoutReader(dirs.log(), false);
    const std::vector<std::string> expected = {kFirstTitle,
                                               "say: " + kGreeting,
                                               "voice: " + kGreeting,
                                               "say: Sapi faster.",
                                               "voice: Sapi faster.",
                                               "say: Exit the game",
                                               "voice: Exit the game"};
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 0 \r\n 6 \r\n 12 \r\n");
}

TEST(StartupProgress, BrokenFileLogsOneErrorAndKeepsTheDefaults) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"two lines", " 0 \r\n 5 \r\n"},
        {"one line", " 0 \r\n"},
        {"empty file", ""},
        {"line 2 not a number", " 0 \r\n fast \r\n 12 \r\n"},
        {"line 2 blank", " 0 \r\n\r\n 12 \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DriverDirs dirs;
        writeBytes(dirs.homeFile("progress.ini"), c.bytes);
        const DriverRun run = dirs.start("key 38\nkey 13\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        expectLogWithoutReader(dirs.log(), true);
        // Not the silent end: the greeting through the title, and the keys still work.
        const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting,
                                                   "say: Exit the game", "title: Exit the game"};
        EXPECT_EQ(run.lines, expected);
        // The defaults: path 1, rate 3, no best count.
        EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 1 \r\n 3 \r\n\r\n");
    }
}

TEST(StartupProgress, UnknownPathFallsBackToTheTitle) {
    for (const std::string mode : {" 7 ", "-1 ", " x "}) {
        SCOPED_TRACE("mode line '" + mode + "'");
        DriverDirs dirs;
        writeBytes(dirs.homeFile("progress.ini"), mode + "\r\n 4 \r\n\r\n");
        const DriverRun run = dirs.start("key 38\nkey 13\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        expectLogWithoutReader(dirs.log(), false);
        const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting,
                                                   "say: Exit the game", "title: Exit the game"};
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 1 \r\n 4 \r\n\r\n");
    }
}

TEST(StartupProgress, ReaderPathNeedsTheReaderObject) {
    {
        SCOPED_TRACE("path 3 without the reader becomes path 0");
        DriverDirs dirs;
        writeBytes(dirs.homeFile("progress.ini"), " 3 \r\n 2 \r\n 7 \r\n");
        const DriverRun run = dirs.start("key 38\nkey 13\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        expectLogWithoutReader(dirs.log(), false);
        const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "voice: " + kGreeting,
                                                   "say: Exit the game", "voice: Exit the game"};
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 0 \r\n 2 \r\n 7 \r\n");
    }
    {
        SCOPED_TRACE("path 3 with the reader");
        DriverDirs dirs;
        writeBytes(dirs.homeFile("progress.ini"), " 3 \r\n 2 \r\n 7 \r\n");
        const DriverRun run = dirs.start("key 38\nkey 13\n", "--jaws");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(dirs.log(), crlfJoin(kLogWithReader));
        const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "reader: " + kGreeting,
                                                   "say: Exit the game", "reader: Exit the game"};
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(readBytes(dirs.homeFile("progress.ini")).value_or("<missing>"), " 3 \r\n 2 \r\n 7 \r\n");
    }
}

// ---- a voice that cannot be made (library) ----

TEST(StartupVoice, MissingVoiceIsLoggedAndTheGameGreetsThroughTheTitle) {
    driver::TempDir dir;
    const std::string run = dir.sub("run");
    const std::string home = dir.sub("home");
    driver::ScopedCwd cwd(run);
    HeadlessPlatform platform(home);
    platform.voiceAvailable = false;
    Form1 form(platform);
    try {
        form.Form_Load();
        form.Form_Activate();
    } catch (const ProcessEnded&) {
        FAIL() << "start-up ended the process";
    }
    EXPECT_FALSE(platform.ended);
    const auto lines = splitCrLf(readBytes(run + "/debuglog.txt").value_or(""));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Starting program");
    EXPECT_EQ(lines[1], "error: the speech engine is not available");
    EXPECT_EQ(lines[2], "Dorvel disabled DirectSound in this version.");
    EXPECT_EQ(lines[3], "Loading JAWS Api");
    EXPECT_EQ(lines[4].rfind("error: ", 0), 0u);
    EXPECT_EQ(lines[9], "Startup finished.");
    const std::vector<std::string> expected = {kFirstTitle, "say: " + kGreeting, "title: " + kGreeting};
    EXPECT_EQ(platform.events, expected);
    ASSERT_NE(form.sapivoice, nullptr);
    EXPECT_EQ(form.sapivoice->Rate(), 3);

    // On the voice path nothing is heard from the stand-in, and the rate keys still step.
    form.speechmode = 0;
    platform.events.clear();
    platform.queueKey(33);
    platform.doEvents();
    EXPECT_EQ(form.sapivoice->Rate(), 4);
    const std::vector<std::string> afterKey = {"say: Sapi faster.", "say: Exit the game"};
    EXPECT_EQ(platform.events, afterKey);
}

}  // namespace
}  // namespace tw
