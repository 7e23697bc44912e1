// tests/linux/terminal_test.cpp: the terminal front end: its platform over pipes and a pseudo-terminal,
// and the real game in tmux, ended every way it can end.
#include "platform/terminal/terminal_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace tw {
inline void PrintTo(const KeyDown& k, std::ostream* os) { *os << "{" << k.KeyCode << "," << k.Shift << "}"; }
}  // namespace tw

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tw::KeyDown;
using tw::TerminalPlatform;
using tw::TerminalSettings;
using Keys = std::vector<KeyDown>;
using Clock = std::chrono::steady_clock;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";

// What exitProcess throws in place of ending the test binary.
struct Ended {
    int status;
};

class RecordingSink : public tw::EventSink {
public:
    Keys keys;
    int ticks = 0;
    std::function<void(int, int)> onKey;
    void Form_KeyDown(int KeyCode, int Shift) override {
        keys.push_back({KeyCode, Shift});
        if (onKey) onKey(KeyCode, Shift);
    }
    void Holder_Timer() override { ++ticks; }
};

class Pipe {
public:
    Pipe() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void write(const std::string& bytes) const {
        ASSERT_EQ(::write(w, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void closeWrite() {
        if (w >= 0) ::close(w);
        w = -1;
    }
    void closeRead() {
        if (r >= 0) ::close(r);
        r = -1;
    }
    int r = -1;
    int w = -1;
};

// Everything readable from fd within quietMs of the last byte (or of the call).
std::string drain(int fd, int quietMs = 50) {
    std::string out;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, quietMs) > 0) {
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Reads fd until text has appeared or timeoutMs has passed; returns all that was read.
std::string readUntil(int fd, const std::string& text, int timeoutMs = 3000) {
    std::string out;
    auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.find(text) == std::string::npos && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buf[4096];
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }
    return out;
}

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TerminalSettings pipeSettings(int in, int out, bool echo = true) {
    TerminalSettings s;
    s.programFolder = "/nonexistent";
    s.inFd = in;
    s.outFd = out;
    s.echo = echo;
    s.handleSignals = false;
    s.queryKeyboard = false;
    return s;
}

std::unique_ptr<TerminalPlatform> makePlatform(const TerminalSettings& s, RecordingSink& sink) {
    auto platform = std::make_unique<TerminalPlatform>(s);
    platform->exitProcess = [](int status) { throw Ended{status}; };
    platform->attach(&sink);
    return platform;
}

// ---- The platform over pipes: what a run without a terminal gets. ----

TEST(TerminalPipes, KeysArriveInOrder) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    EXPECT_FALSE(p->rawMode());
    in.write("1q\x1b[B\x1b[5~ Z\r");
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{49, 0}, {81, 0}, {40, 0}, {33, 0}, {17, 2}, {90, 1}, {13, 0}}));
    p->doEvents();
    EXPECT_EQ(sink.keys.size(), 7u);
    EXPECT_EQ(drain(out.r, 10), "");
}

TEST(TerminalPipes, SyntheticKeysFollowTypedOnesWithTheirModifiers) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    in.write("a");
    p->keybd_event(17, 0);
    p->keybd_event(16, 0);
    p->keybd_event(84, 0);
    p->keybd_event(17, 2);
    p->keybd_event(16, 2);
    p->keybd_event(84, 2);
    p->keybd_event(13, 0);
    EXPECT_TRUE(sink.keys.empty());  // nothing runs until events are let run
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{65, 0}, {17, 2}, {16, 3}, {84, 3}, {13, 0}}));
}

TEST(TerminalPipes, SaidPrintsPlainLines) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w, true), sink);
    p->said("one", 0);
    p->said("", 1);
    p->said("two", 1);
    p->said("three", 2);
    p->said("four", 3);
    p->said("a\nb\x1b[31m\xc2\x9b" "c", 1);
    p->said("caf\xc3\xa9", 1);
    p->setTitle("not shown without a terminal");
    EXPECT_EQ(p->title(), "not shown without a terminal");
    EXPECT_EQ(drain(out.r), "one\ntwo\nthree\nfour\na b [31m c\ncaf\xc3\xa9\n");
}

TEST(TerminalPipes, EchoOffLeavesOnlyTheScreenReaderPaths) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w, false), sink);
    p->said("one", 0);
    p->said("two", 1);
    p->said("three", 2);
    p->said("four", 3);
    EXPECT_EQ(drain(out.r), "two\nthree\n");
}

TEST(TerminalPipes, TimerTicksWhenDueNeverEarly) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    auto start = Clock::now();
    p->setTimer(80);
    p->doEvents();
    EXPECT_EQ(sink.ticks, 0);
    p->waitEvents();
    EXPECT_GE(elapsedMs(start), 75);
    EXPECT_LT(elapsedMs(start), 1000);
    p->doEvents();
    EXPECT_EQ(sink.ticks, 1);
    // Each tick restarts the interval.
    p->doEvents();
    EXPECT_EQ(sink.ticks, 1);
    p->waitEvents();
    p->doEvents();
    EXPECT_EQ(sink.ticks, 2);
    EXPECT_GE(elapsedMs(start), 155);
}

TEST(TerminalPipes, SetTimerRestartsTheCountdownAndZeroStopsIt) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    p->setTimer(100);
    std::this_thread::sleep_for(60ms);
    auto restarted = Clock::now();
    p->setTimer(100);
    p->waitEvents();
    EXPECT_GE(elapsedMs(restarted), 95);
    p->doEvents();
    EXPECT_EQ(sink.ticks, 1);

    p->setTimer(0);
    std::thread typist([&] {
        std::this_thread::sleep_for(150ms);
        in.write("k");
    });
    auto waitStart = Clock::now();
    double cpuBefore = cpuSeconds();
    p->waitEvents();  // no timer: sleeps until the key comes
    double cpuUsed = cpuSeconds() - cpuBefore;
    typist.join();
    EXPECT_GE(elapsedMs(waitStart), 140);
    EXPECT_LT(cpuUsed, 0.05) << "waitEvents spun";
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{75, 0}}));
    EXPECT_EQ(sink.ticks, 1);
}

TEST(TerminalPipes, LoneEscapeWaitsThenIsEscape) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    in.write("\x1b");
    auto start = Clock::now();
    p->doEvents();
    EXPECT_TRUE(sink.keys.empty());
    double cpuBefore = cpuSeconds();
    while (sink.keys.empty() && elapsedMs(start) < 2000) {
        p->waitEvents();
        p->doEvents();
    }
    EXPECT_LT(cpuSeconds() - cpuBefore, 0.03) << "the Escape wait spun";
    EXPECT_GE(elapsedMs(start), 45);
    EXPECT_EQ(sink.keys, (Keys{{27, 0}}));
    // A whole sequence needs no wait.
    in.write("\x1b[A");
    start = Clock::now();
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{27, 0}, {38, 0}}));
    EXPECT_LT(elapsedMs(start), 40);
}

TEST(TerminalPipes, EndOfInputDeliversWhatCameThenEnds) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    in.write("ab\x1b");
    in.closeWrite();
    try {
        p->doEvents();
        FAIL() << "the end of input did not end the process";
    } catch (const Ended& e) {
        EXPECT_EQ(e.status, 0);
    }
    EXPECT_EQ(sink.keys, (Keys{{65, 0}, {66, 0}, {27, 0}}));
}

TEST(TerminalPipes, EndOfInputEndsAWait) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    std::thread closer([&] {
        std::this_thread::sleep_for(50ms);
        in.closeWrite();
    });
    auto start = Clock::now();
    p->waitEvents();
    closer.join();
    EXPECT_THROW(p->doEvents(), Ended);
    EXPECT_LT(elapsedMs(start), 1000);
}

TEST(TerminalPipes, NestedDoEventsDeliversEachKeyOnce) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    Keys inner;
    sink.onKey = [&](int code, int) {
        if (code == 'A') {
            std::size_t before = sink.keys.size();
            p->doEvents();
            inner.assign(sink.keys.begin() + static_cast<long>(before), sink.keys.end());
        }
    };
    in.write("abc");
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{65, 0}, {66, 0}, {67, 0}}));
    EXPECT_EQ(inner, (Keys{{66, 0}, {67, 0}}));
}

TEST(TerminalPipes, InputBoxTakesTheNextLine) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    std::optional<std::string> answer;
    sink.onKey = [&](int code, int) {
        if (code == 'S') answer = p->inputBox("Type the name.", "Save game");
    };
    in.write("smy game\r\nx");
    p->doEvents();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, "my game");
    EXPECT_EQ(sink.keys, (Keys{{83, 0}, {88, 0}}));
    EXPECT_EQ(drain(out.r), "Save game\nType the name.\n");
}

TEST(TerminalPipes, InputBoxWaitsForTheLine) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    std::thread typist([&] {
        std::this_thread::sleep_for(60ms);
        in.write("sav");
        std::this_thread::sleep_for(20ms);
        in.write("ed\n");
    });
    EXPECT_EQ(p->inputBox("Name?", ""), "saved");
    typist.join();
    EXPECT_EQ(drain(out.r), "Name?\n");
}

TEST(TerminalPipes, InputBoxAtEndOfInputIsCancelThenTheEnd) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    in.write("partial");
    in.closeWrite();
    EXPECT_EQ(p->inputBox("Name?", "Load game"), "");
    EXPECT_THROW(p->doEvents(), Ended);
    EXPECT_TRUE(sink.keys.empty());
}

TEST(TerminalPipes, MessageBoxWaitsForEnterAndTakesTheKeysBeforeIt) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    std::thread typist([&] {
        in.write("xy");
        std::this_thread::sleep_for(80ms);
        in.write("\rz");
    });
    auto start = Clock::now();
    p->messageBox("This game is already running.", "Tumblewick");
    typist.join();
    EXPECT_GE(elapsedMs(start), 70);
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{90, 0}}));
    EXPECT_EQ(drain(out.r), "This game is already running.\nPress Enter.\n");
}

TEST(TerminalPipes, MessageBoxClosesOnEscapeAndEndsAtEndOfInput) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(pipeSettings(in.r, out.w), sink);
    in.write("\x1b");
    p->messageBox("First.", "");
    in.closeWrite();
    EXPECT_THROW(p->messageBox("Second.", ""), Ended);
    EXPECT_TRUE(sink.keys.empty());
}

TEST(TerminalPipes, OtherPlatformCalls) {
    Pipe in, out;
    RecordingSink sink;
    fs::path dir = fs::temp_directory_path() / ("twterm" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "a file") << "x";
    TerminalSettings s = pipeSettings(in.r, out.w);
    s.programFolder = dir.string();
    auto p = makePlatform(s, sink);
    EXPECT_EQ(p->programFolder(), dir.string());
    EXPECT_TRUE(p->fileExists((dir / "a file").string()));
    EXPECT_FALSE(p->fileExists((dir / "no file").string()));
    EXPECT_FALSE(p->fileExists(dir.string()));  // a folder is no file

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    double got = p->secondsSinceMidnight();
    EXPECT_GE(got, 0.0);
    EXPECT_LT(got, 86401.0);
    if (expected > 5.0) {
        EXPECT_NEAR(got, expected, 2.0);
    }

    EXPECT_THROW(p->endProcess(), Ended);
    fs::remove_all(dir);
}

// ---- The platform on a pseudo-terminal: raw mode, titles, line editing, the keyboard protocol. ----

class Pty {
public:
    Pty() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        tcgetattr(slave, &original);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
        ::close(slave);
    }
    termios now() const {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }
    void write(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void hangUp() {
        ::close(master);
        master = -1;
    }
    int master = -1;
    int slave = -1;
    termios original{};
};

TerminalSettings ptySettings(const Pty& pty, bool queryKeyboard = false) {
    TerminalSettings s;
    s.programFolder = "/nonexistent";
    s.inFd = pty.slave;
    s.outFd = pty.slave;
    s.handleSignals = false;
    s.queryKeyboard = queryKeyboard;
    return s;
}

void expectSameModes(const termios& a, const termios& b) {
    EXPECT_EQ(a.c_lflag, b.c_lflag);
    EXPECT_EQ(a.c_iflag, b.c_iflag);
    EXPECT_EQ(a.c_oflag, b.c_oflag);
    EXPECT_EQ(std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc), 0);
}

TEST(TerminalPty, RawModeTitlesAndRestore) {
    Pty pty;
    ASSERT_TRUE(pty.original.c_lflag & ICANON);
    ASSERT_TRUE(pty.original.c_lflag & ECHO);
    RecordingSink sink;
    {
        auto p = makePlatform(ptySettings(pty), sink);
        EXPECT_TRUE(p->rawMode());
        termios raw = pty.now();
        EXPECT_FALSE(raw.c_lflag & ICANON);
        EXPECT_FALSE(raw.c_lflag & ECHO);
        EXPECT_TRUE(raw.c_lflag & ISIG);  // Ctrl+C still ends the game
        EXPECT_FALSE(raw.c_iflag & ICRNL);
        EXPECT_FALSE(raw.c_iflag & IXON);
        EXPECT_FALSE(raw.c_oflag & OPOST);
        EXPECT_EQ(raw.c_cc[VMIN], 1);
        EXPECT_EQ(raw.c_cc[VSUSP], _POSIX_VDISABLE);
        EXPECT_EQ(drain(pty.master), "\x1b[22;0t");

        p->setTitle("Main menu");
        p->said("Main menu", 1);
        p->said("", 1);
        EXPECT_EQ(drain(pty.master), "\x1b]2;Main menu\x07Main menu\r\n");

        pty.write("\rq");
        p->doEvents();
        EXPECT_EQ(sink.keys, (Keys{{13, 0}, {81, 0}}));
        EXPECT_EQ(drain(pty.master), "");  // no echo of typed keys

        EXPECT_THROW(p->endProcess(), Ended);
        expectSameModes(pty.now(), pty.original);
        EXPECT_EQ(drain(pty.master), "\x1b[23;0t");
    }
    // Restoring twice changes nothing and sends nothing more.
    expectSameModes(pty.now(), pty.original);
    EXPECT_EQ(drain(pty.master), "");
}

TEST(TerminalPty, DestructorRestores) {
    Pty pty;
    RecordingSink sink;
    {
        auto p = makePlatform(ptySettings(pty), sink);
        EXPECT_FALSE(pty.now().c_lflag & ICANON);
    }
    expectSameModes(pty.now(), pty.original);
    EXPECT_EQ(drain(pty.master), "\x1b[22;0t\x1b[23;0t");
}

TEST(TerminalPty, KeysFromAPipeSendNoControlSequences) {
    Pty pty;
    Pipe in;
    RecordingSink sink;
    TerminalSettings s = ptySettings(pty, true);
    s.inFd = in.r;
    {
        auto p = makePlatform(s, sink);
        EXPECT_FALSE(p->rawMode());
        EXPECT_FALSE(p->kittyKeyboard());
        p->setTitle("Main menu");
        p->said("Main menu", 1);
        in.write("\x1b[B");
        p->doEvents();
        EXPECT_EQ(sink.keys, (Keys{{40, 0}}));
    }
    // Only the line, with the terminal's own newline handling; no query, no title.
    EXPECT_EQ(drain(pty.master), "Main menu\r\n");
    expectSameModes(pty.now(), pty.original);
}

TEST(TerminalPty, InputBoxUsesTheTerminalsLineEditing) {
    Pty pty;
    RecordingSink sink;
    auto p = makePlatform(ptySettings(pty), sink);
    drain(pty.master);
    std::atomic<bool> cooked{false};
    std::thread player([&] {
        // Types once the terminal is back in line mode.
        for (int i = 0; i < 200 && !(pty.now().c_lflag & ICANON); ++i) std::this_thread::sleep_for(5ms);
        cooked = (pty.now().c_lflag & ICANON) && (pty.now().c_lflag & ECHO);
        pty.write("hel\x7flo\n");
    });
    std::string answer = p->inputBox("Type the file name.", "Save game");
    player.join();
    EXPECT_TRUE(cooked.load());
    EXPECT_EQ(answer, "helo");  // the erase key worked
    EXPECT_TRUE(p->rawMode());
    EXPECT_FALSE(pty.now().c_lflag & ICANON);
    std::string shown = drain(pty.master);
    EXPECT_EQ(shown.rfind("Save game\r\nType the file name.\r\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("hel"), std::string::npos);  // echoed while typed
    // Ctrl+D on an empty line cancels.
    std::thread canceller([&] {
        for (int i = 0; i < 200 && !(pty.now().c_lflag & ICANON); ++i) std::this_thread::sleep_for(5ms);
        pty.write("\x04");
    });
    EXPECT_EQ(p->inputBox("Again.", ""), "");
    canceller.join();
    EXPECT_TRUE(p->rawMode());
}

TEST(TerminalPty, HangUpEndsTheGame) {
    Pty pty;
    RecordingSink sink;
    auto p = makePlatform(ptySettings(pty), sink);
    pty.write("w");
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{87, 0}}));
    drain(pty.master);
    pty.hangUp();
    auto start = Clock::now();
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i) {
                p->waitEvents();
                p->doEvents();
            }
        },
        Ended);
    EXPECT_LT(elapsedMs(start), 1000);
}

// Plays the terminal's part in the keyboard query: reads it, then answers with reply.
std::thread answerQuery(Pty& pty, std::string reply, std::atomic<bool>& sawQuery) {
    return std::thread([&pty, reply, &sawQuery] {
        std::string got = readUntil(pty.master, "\x1b[?u\x1b[c", 2000);
        sawQuery = got.find("\x1b[?u\x1b[c") != std::string::npos;
        if (!reply.empty()) pty.write(reply);
    });
}

TEST(TerminalPty, KittyProtocolWhenTheTerminalKnowsIt) {
    Pty pty;
    RecordingSink sink;
    std::atomic<bool> sawQuery{false};
    std::thread terminal = answerQuery(pty, "\x1b[?0u\x1b[?62;22c", sawQuery);
    auto p = makePlatform(ptySettings(pty, true), sink);
    terminal.join();
    EXPECT_TRUE(sawQuery.load());
    EXPECT_TRUE(p->kittyKeyboard());
    EXPECT_EQ(drain(pty.master), "\x1b[>15u");
    // A bare Ctrl press, then Ctrl+grave: the silence key and the jump key, each once.
    pty.write("\x1b[57442;5u\x1b[96;5u\x1b[96;5:3u\x1b[57442;1:3u\x1b[97u");
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{17, 2}, {192, 2}, {65, 0}}));
    // Line editing gets the terminal's plain keys back for its duration.
    std::thread player([&] {
        for (int i = 0; i < 200 && !(pty.now().c_lflag & ICANON); ++i) std::this_thread::sleep_for(5ms);
        pty.write("x\n");
    });
    EXPECT_EQ(p->inputBox("Name?", ""), "x");
    player.join();
    std::string shown = drain(pty.master);
    EXPECT_NE(shown.find("\x1b[<u"), std::string::npos);
    EXPECT_EQ(shown.substr(shown.size() - 6), "\x1b[>15u");
    p->restoreTerminal();
    EXPECT_EQ(drain(pty.master), "\x1b[<u\x1b[23;0t");
    expectSameModes(pty.now(), pty.original);
}

TEST(TerminalPty, NoKittyProtocolWhenOnlyTheDeviceAnswers) {
    Pty pty;
    RecordingSink sink;
    std::atomic<bool> sawQuery{false};
    // A key typed while the query is out is kept.
    std::thread terminal = answerQuery(pty, "q\x1b[?62;22c", sawQuery);
    auto p = makePlatform(ptySettings(pty, true), sink);
    terminal.join();
    EXPECT_TRUE(sawQuery.load());
    EXPECT_FALSE(p->kittyKeyboard());
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{81, 0}}));
    EXPECT_EQ(drain(pty.master), "");
    p->restoreTerminal();
    EXPECT_EQ(drain(pty.master), "\x1b[23;0t");
}

TEST(TerminalPty, SilentTerminalOnlyDelaysTheStart) {
    Pty pty;
    RecordingSink sink;
    std::atomic<bool> sawQuery{false};
    std::thread terminal = answerQuery(pty, "", sawQuery);
    auto start = Clock::now();
    auto p = makePlatform(ptySettings(pty, true), sink);
    long took = elapsedMs(start);
    terminal.join();
    EXPECT_TRUE(sawQuery.load());
    EXPECT_FALSE(p->kittyKeyboard());
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 1500);
}

// ---- The real program. ----

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string runCapture(const std::string& command) {
    std::string out;
    FILE* f = popen(command.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    pclose(f);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// A fresh program folder holding the word list, removed afterwards.
class Home {
public:
    Home() {
        std::string pattern = (fs::temp_directory_path() / "twhomeXXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        path = pattern;
        fs::copy_file(fs::path(TW_BINARY_DIR) / "words.txt", path / "words.txt");
    }
    ~Home() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    bool has(const std::string& name) const { return fs::exists(path / name); }
    fs::path path;
};

struct RunResult {
    int status = -1;  // the exit status, or 128 + signal
    std::string out;
    bool timedOut = false;
};

// A running copy of the program with its standard input and output on pipes.
struct Child {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
};

Child spawn(const std::vector<std::string>& args, const fs::path& cwd) {
    int in[2], out[2];
    // Close-on-exec, so one child never holds another's pipes open.
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    return Child{pid, in[1], out[0]};
}

// Sends input, closes the child's standard input and collects everything until it ends.
RunResult finish(Child& child, const std::string& input) {
    if (!input.empty()) {
        ssize_t n = write(child.in, input.data(), input.size());
        (void)n;
    }
    close(child.in);
    RunResult r;
    auto until = Clock::now() + 15s;
    int status = 0;
    for (;;) {
        pollfd p{child.out, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buf[4096];
            ssize_t n = read(child.out, buf, sizeof buf);
            if (n > 0) r.out.append(buf, static_cast<std::size_t>(n));
        }
        pid_t done = waitpid(child.pid, &status, WNOHANG);
        if (done == child.pid) break;
        if (Clock::now() > until) {
            r.timedOut = true;
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            break;
        }
    }
    r.out += drain(child.out, 10);
    close(child.out);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// Runs the program with input on a pipe that closes after the bytes, in cwd.
RunResult runPiped(const std::vector<std::string>& args, const std::string& input, const fs::path& cwd) {
    Child child = spawn(args, cwd);
    return finish(child, input);
}

std::vector<std::string> gameArgs(const Home& home, bool headless = false) {
    std::vector<std::string> args = {TW_EXE};
    if (headless) args.push_back("--headless");
    for (const char* a : {"--seed", "7", "--home"}) args.push_back(a);
    args.push_back(home.path.string());
    if (!headless) {
        args.push_back("--speech-wav");
        args.push_back((home.path / "speech.wav").string());
    }
    return args;
}

TEST(TerminalProgram, PipedInputEndsTheGameWithoutSaving) {
    Home home;
    // Down, then the input ends: the window is closed under the game.
    RunResult r = runPiped(gameArgs(home), "\x1b[B", home.path);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kGreeting + "\nHow to play\n");
    EXPECT_FALSE(home.has("progress.ini"));
}

TEST(TerminalProgram, PipedExitThroughTheMenuSaves) {
    Home home;
    // Up wraps to "Exit the game", Enter chooses it.
    RunResult r = runPiped(gameArgs(home), "\x1b[A\r", home.path);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kGreeting + "\nExit the game\n");
    EXPECT_TRUE(home.has("progress.ini"));
}

TEST(TerminalProgram, SecondCopyShowsTheMessageAndEnds) {
    Home home;
    Child first = spawn(gameArgs(home), home.path);
    std::string firstOut = readUntil(first.out, kGreeting + "\n", 8000);
    ASSERT_EQ(firstOut, kGreeting + "\n");
    // The second copy in the same folder says so, aloud too, and waits for Enter.
    std::vector<std::string> secondArgs = gameArgs(home);
    secondArgs.back() = (home.path / "second.wav").string();
    Child secondCopy = spawn(secondArgs, home.path);
    std::string shown = readUntil(secondCopy.out, "Press Enter.\n", 8000);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(waitpid(secondCopy.pid, nullptr, WNOHANG) == 0) << "ended before Enter";
    RunResult second = finish(secondCopy, "\r");
    second.out = shown + second.out;
    EXPECT_FALSE(second.timedOut);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "This game is already running.\nPress Enter.\n");
    // Before any setting is read the game speaks with its voice: a player without a screen
    // reader hears why the game did not start.
    const auto spoken = tw_test::readWav((home.path / "second.wav").string());
    ASSERT_TRUE(spoken.has_value());
    EXPECT_GT(spoken->seconds(), 1.0);
    EXPECT_GT(spoken->rms(), 0.02);
    RunResult firstEnd = finish(first, "");
    EXPECT_FALSE(firstEnd.timedOut);
    EXPECT_EQ(firstEnd.status, 0);
    EXPECT_EQ(firstEnd.out, "");
    EXPECT_FALSE(home.has("progress.ini"));
}

bool haveTmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

// One tmux server of our own, a 120x40 pane running script with sh, in a fresh program folder.
// No interactive shell runs in the pane: one would put the terminal's modes back by itself after
// a job dies of a signal, and hide a game that did not.
class TmuxPane {
public:
    explicit TmuxPane(const std::function<std::string(const Home&)>& script) {
        static int counter = 0;
        socket_ = "twtest" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        tmux("-f /dev/null new-session -d -x 120 -y 40 -c " + shellQuote(home.path.string()) + " " +
             shellQuote("sh -c " + shellQuote(script(home))));
        tmux("set-option -g history-limit 5000");
    }
    ~TmuxPane() {
        tmux("kill-server");
        // The server leaves its socket file behind.
        const char* dir = std::getenv("TMUX_TMPDIR");
        std::error_code ec;
        fs::remove(fs::path(dir && *dir ? dir : "/tmp") / ("tmux-" + std::to_string(getuid())) / socket_, ec);
    }

    std::string tmux(const std::string& args) const {
        return runCapture("tmux -L " + socket_ + " " + args + " 2>/dev/null");
    }
    void type(const std::string& text) const { tmux("send-keys -l " + shellQuote(text)); }
    void keys(const std::string& names) const { tmux("send-keys " + names); }
    std::string screen() const { return tmux("capture-pane -p -J -S - -E -"); }
    std::string title() const { return trimmed(tmux("display-message -p '#{pane_title}'")); }
    std::string paneTty() const { return trimmed(tmux("display-message -p '#{pane_tty}'")); }

    // Waits until the screen holds a line equal to text; false on timeout.
    bool waitLine(const std::string& text, int timeoutMs = 8000) const {
        auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < until) {
            for (const auto& l : lines(screen()))
                if (l == text) return true;
            std::this_thread::sleep_for(30ms);
        }
        return false;
    }
    // Waits until the screen stops changing for quietMs.
    void settle(int quietMs = 300) const {
        std::string last = screen();
        auto stableSince = Clock::now();
        auto until = Clock::now() + 8s;
        while (elapsedMs(stableSince) < quietMs && Clock::now() < until) {
            std::this_thread::sleep_for(30ms);
            std::string now = screen();
            if (now != last) {
                last = now;
                stableSince = Clock::now();
            }
        }
    }
    // The value after "name=" on the screen's last such line.
    std::string value(const std::string& name) const {
        std::string found;
        for (const auto& l : lines(screen()))
            if (l.rfind(name + "=", 0) == 0) found = l.substr(name.size() + 1);
        return found;
    }
    static std::string trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    }

    Home home;

private:
    std::string socket_;
};

// The pane's script: waits for Enter, runs the game, then shows its status and the terminal's
// line modes. The trap keeps sh alive through Ctrl+C while the game gets the default action.
std::string gameScript(const Home& home) {
    std::string exe = shellQuote(TW_EXE);
    std::string h = shellQuote(home.path.string());
    return "trap true INT; ulimit -c 0; echo ready; read go; "
           "sh -c 'echo gamepid=$$; exec \"$0\" \"$@\"' " + exe + " --seed 7 --home " + h +
           " --speech-wav " + h + "/speech.wav; echo rc=$?; stty -a | tr ' ;' '\\n\\n' | "
           "grep -x -E -- '-?(icanon|echo)' | sed 's/^/mode:/'; echo END; sleep 1000";
}

// A pane whose game has started and greeted the player.
void startGame(const TmuxPane& pane) {
    ASSERT_TRUE(pane.waitLine("ready", 5000)) << pane.screen();
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine(kGreeting)) << pane.screen();
}

// The terminal's line modes as seen from outside, while the game runs.
std::string modesOf(const std::string& tty) {
    return runCapture("stty -a -F " + shellQuote(tty) +
                      " | tr ' ;' '\\n\\n' | grep -x -E -- '-?(icanon|echo)' | tr '\\n' ' '");
}

// The game's printed lines: after the command line, up to the status line.
std::vector<std::string> printedLines(const std::string& screen) {
    std::vector<std::string> out;
    bool in = false;
    for (const auto& l : lines(screen)) {
        if (l.rfind("gamepid=", 0) == 0) {
            in = true;
            continue;
        }
        if (l.rfind("rc=", 0) == 0) break;
        if (in) out.push_back(l);
    }
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

struct Ending {
    const char* name;
    std::function<void(TmuxPane&, pid_t)> end;
    int status;
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class TerminalEndings : public ::testing::TestWithParam<Ending> {};

TEST_P(TerminalEndings, TerminalIsRestored) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    TmuxPane pane(gameScript);
    ASSERT_TRUE(pane.waitLine("ready", 5000)) << pane.screen();
    std::string titleBefore = pane.title();
    std::string tty = pane.paneTty();
    ASSERT_EQ(modesOf(tty), "icanon echo ");
    ASSERT_NE(titleBefore, kGreeting);

    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine(kGreeting)) << pane.screen();
    pid_t pid = static_cast<pid_t>(std::atol(pane.value("gamepid").c_str()));
    ASSERT_GT(pid, 1);
    // The game runs with the terminal in its own mode, and the title shows what it says.
    EXPECT_EQ(modesOf(tty), "-icanon -echo ");
    EXPECT_EQ(pane.title(), kGreeting);

    GetParam().end(pane, pid);
    ASSERT_TRUE(pane.waitLine("END", 10000)) << pane.screen();
    EXPECT_EQ(pane.value("rc"), std::to_string(GetParam().status)) << pane.screen();
    std::vector<std::string> modes;
    for (const auto& l : lines(pane.screen()))
        if (l.rfind("mode:", 0) == 0) modes.push_back(l);
    EXPECT_EQ(modes, (std::vector<std::string>{"mode:icanon", "mode:echo"})) << pane.screen();
    EXPECT_EQ(modesOf(tty), "icanon echo ");
    EXPECT_EQ(pane.title(), titleBefore);
    // Only the game's own exit saves.
    EXPECT_EQ(pane.home.has("progress.ini"), GetParam().status == 0) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    EveryWayOfEnding, TerminalEndings,
    ::testing::Values(
        Ending{"ExitFromTheMenu",
               [](TmuxPane& pane, pid_t) {
                   pane.keys("Up");
                   ASSERT_TRUE(pane.waitLine("Exit the game"));
                   pane.keys("Enter");
               },
               0},
        Ending{"CtrlC", [](TmuxPane& pane, pid_t) { pane.keys("C-c"); }, 128 + SIGINT},
        Ending{"Sigterm", [](TmuxPane&, pid_t pid) { kill(pid, SIGTERM); }, 128 + SIGTERM},
        Ending{"Sighup", [](TmuxPane&, pid_t pid) { kill(pid, SIGHUP); }, 128 + SIGHUP},
        Ending{"CrashSegv", [](TmuxPane&, pid_t pid) { kill(pid, SIGSEGV); }, 128 + SIGSEGV},
        Ending{"CrashAbort", [](TmuxPane&, pid_t pid) { kill(pid, SIGABRT); }, 128 + SIGABRT}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

bool processGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string all;
    std::getline(stat, all);
    auto close = all.rfind(')');
    return close != std::string::npos && close + 2 < all.size() && all[close + 2] == 'Z';
}

TEST(TerminalProgram, ClosedTerminalEndsTheGameWithoutSaving) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    // The game is the pane's own process and ignores SIGHUP, so only the end of input can end it.
    TmuxPane pane([](const Home& home) {
        return "trap '' HUP; echo gamepid=$$; exec " + shellQuote(TW_EXE) + " --seed 7 --home " +
               shellQuote(home.path.string()) + " --speech-wav " + shellQuote((home.path / "speech.wav").string());
    });
    ASSERT_TRUE(pane.waitLine(kGreeting)) << pane.screen();
    pid_t pid = static_cast<pid_t>(std::atol(pane.value("gamepid").c_str()));
    ASSERT_GT(pid, 1);
    ASSERT_FALSE(processGone(pid));
    pane.tmux("kill-server");
    auto start = Clock::now();
    while (!processGone(pid) && elapsedMs(start) < 5000) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(processGone(pid));
    EXPECT_FALSE(pane.home.has("progress.ini"));
}

TEST(TerminalProgram, SuspendHandsTheTerminalBackUntilContinued) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    TmuxPane pane(gameScript);
    std::string tty = pane.paneTty();
    ASSERT_NO_FATAL_FAILURE(startGame(pane));
    pid_t pid = static_cast<pid_t>(std::atol(pane.value("gamepid").c_str()));
    ASSERT_GT(pid, 1);
    ASSERT_EQ(modesOf(tty), "-icanon -echo ");
    kill(pid, SIGTSTP);
    auto start = Clock::now();
    while (modesOf(tty) != "icanon echo " && elapsedMs(start) < 3000) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(modesOf(tty), "icanon echo ");
    kill(pid, SIGCONT);
    start = Clock::now();
    while (modesOf(tty) != "-icanon -echo " && elapsedMs(start) < 3000) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(modesOf(tty), "-icanon -echo ");
    // Still playing.
    pane.keys("Down");
    ASSERT_TRUE(pane.waitLine("How to play")) << pane.screen();
    pane.keys("Up");
    ASSERT_TRUE(pane.waitLine("Exit the game")) << pane.screen();
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine("END", 10000)) << pane.screen();
    EXPECT_EQ(pane.value("rc"), "0");
    EXPECT_EQ(modesOf(tty), "icanon echo ");
}

TEST(TerminalProgram, MenuAndSaveThroughTmux) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    TmuxPane pane(gameScript);
    std::string tty = pane.paneTty();
    ASSERT_NO_FATAL_FAILURE(startGame(pane));
    pane.keys("Down");
    ASSERT_TRUE(pane.waitLine("How to play")) << pane.screen();
    pane.keys("Down");
    ASSERT_TRUE(pane.waitLine("Play the game")) << pane.screen();
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine("You have arrived at Dorvel's house.  Press Q, to hear your first task."))
        << pane.screen();
    pane.keys("Escape");
    ASSERT_TRUE(pane.waitLine("Main menu")) << pane.screen();
    for (const char* entry : {"How to play", "Play the game", "Save current game"}) {
        pane.keys("Down");
        ASSERT_TRUE(pane.waitLine(entry)) << pane.screen();
    }
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine("Type the file name you wish to save to.  Leave blank to cancel.")) << pane.screen();
    // The name is typed with the terminal's own line editing, also after a suspension.
    EXPECT_EQ(modesOf(tty), "icanon echo ");
    pid_t pid = static_cast<pid_t>(std::atol(pane.value("gamepid").c_str()));
    ASSERT_GT(pid, 1);
    pane.type("my ");
    kill(pid, SIGTSTP);
    std::this_thread::sleep_for(200ms);
    kill(pid, SIGCONT);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(modesOf(tty), "icanon echo ");
    pane.type("save");
    pane.keys("BSpace");
    pane.type("d");
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine("Game saved as my savd.  Press escape to return to the game.")) << pane.screen();
    EXPECT_TRUE(pane.home.has("my savd"));
    EXPECT_EQ(modesOf(tty), "-icanon -echo ");
    pane.keys("Up");
    ASSERT_TRUE(pane.waitLine("Exit the game")) << pane.screen();
    pane.keys("Enter");
    ASSERT_TRUE(pane.waitLine("END", 10000)) << pane.screen();
    EXPECT_EQ(pane.value("rc"), "0");
}

// The keys of one short game, as the headless driver takes them and as tmux types them.
struct PlayedKey {
    int code;
    int shift;
    const char* tmuxKeys;
};

const PlayedKey kShortGame[] = {
    {40, 0, "Down"},   {40, 0, "Down"},  {13, 0, "Enter"}, {81, 0, "q"},      {49, 0, "1"},
    {87, 0, "w"},      {65, 0, "a"},     {90, 0, "z"},     {88, 0, "x"},      {50, 0, "2"},
    {69, 0, "e"},      {83, 0, "s"},     {192, 2, "-H 00"}, {9, 0, "Tab"},    {33, 0, "PageUp"},
    {34, 0, "PageDown"}, {9, 0, "Tab"},  {27, 0, "Escape"}, {40, 0, "Down"},  {13, 0, "Enter"},
    {40, 0, "Down"},   {40, 0, "Down"},  // pages of the instructions, longer than the pane is wide
};

// What the headless driver says for the first n keys of the short game, in a fresh folder.
std::vector<std::string> headlessSays(std::size_t n) {
    Home home;
    std::string commands;
    for (std::size_t i = 0; i < n; ++i)
        commands += "key " + std::to_string(kShortGame[i].code) + " " + std::to_string(kShortGame[i].shift) + "\n";
    RunResult run = runPiped(gameArgs(home, true), commands, home.path);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> said;
    for (const auto& l : lines(run.out))
        if (l.rfind("say: ", 0) == 0) said.push_back(l.substr(5));
    return said;
}

TEST(TerminalProgram, PrintsWhatTheHeadlessDriverSays) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    constexpr std::size_t kKeys = std::size(kShortGame);
    // How many lines the game has said after each key, so that each key is typed only once the
    // one before it has been dealt with.
    std::vector<std::size_t> saidAfter;
    for (std::size_t n = 0; n <= kKeys; ++n) saidAfter.push_back(headlessSays(n).size());
    const std::vector<std::string> said = headlessSays(kKeys);
    ASSERT_EQ(said.size(), saidAfter.back());
    ASSERT_GT(said.size(), 15u);
    ASSERT_EQ(said.front(), kGreeting);

    TmuxPane pane(gameScript);
    ASSERT_NO_FATAL_FAILURE(startGame(pane));
    for (std::size_t i = 0; i < kKeys; ++i) {
        auto start = Clock::now();
        while (printedLines(pane.screen()).size() < saidAfter[i] && elapsedMs(start) < 8000)
            std::this_thread::sleep_for(20ms);
        pane.settle(100);
        pane.keys(kShortGame[i].tmuxKeys);
    }
    auto start = Clock::now();
    while (printedLines(pane.screen()).size() < said.size() && elapsedMs(start) < 8000)
        std::this_thread::sleep_for(20ms);
    pane.settle(200);
    EXPECT_EQ(printedLines(pane.screen()), said);
}

}  // namespace
