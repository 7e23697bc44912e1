// tests/linux/terminal_test.cpp: the terminal front end: its platform over pipes and a pseudo-terminal,
// and the real game through pipes and in tmux, ended every way it can end.
#include "platform/headless/key_script.h"
#include "platform/terminal/terminal_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Keys = std::vector<tw::KeyDown>;
using Clock = std::chrono::steady_clock;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";

using Ended = tw::ProcessEnded;

struct RecordingSink : tw::EventSink {
    Keys keys;
    int ticks = 0;
    std::function<void(int)> onKey;
    int depth = 0;  // keys being handled, one inside another
    void Form_KeyDown(int KeyCode, int Shift) override {
        keys.push_back({KeyCode, Shift});
        ++depth;
        if (onKey) onKey(KeyCode);
        --depth;
    }
    bool handlingKey() const override { return depth > 0; }
    void syntheticKeyDown(int KeyCode, int Shift) override { keys.push_back({KeyCode, Shift}); }
    void Holder_Timer() override { ++ticks; }
    void speakBox(const std::string&, bool) override {}
};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void put(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        closeFd(r);
        closeFd(w);
    }
};

// What fd yields until it ends or text has appeared, or with no text until it is quiet for 50 ms.
std::string readFd(int fd, const std::string& text = "", int timeoutMs = 3000) {
    std::string out;
    for (const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
         (text.empty() || out.find(text) == std::string::npos) && Clock::now() < until;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        if (ready == 0 && text.empty()) break;
        char buf[4096];
        const ssize_t n = ready > 0 ? ::read(fd, buf, sizeof buf) : 1;
        if (n <= 0) break;
        if (ready > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::unique_ptr<tw::TerminalPlatform> makePlatform(int in, int out, RecordingSink& sink, bool echo = true) {
    tw::TerminalSettings s;
    s.inFd = in;
    s.outFd = out;
    s.echo = echo;
    s.handleSignals = false;
    s.queryKeyboard = false;
    auto platform = std::make_unique<tw::TerminalPlatform>(s);
    platform->attach(&sink);
    return platform;
}

// ---- The platform over pipes: what a run without a terminal gets. ----

// Without a terminal, an input box takes the next line; the end of input cancels one that waits,
// and ends the game only once no key is being handled: a key letting events run (as a wait does)
// sees the keys after it, and then finishes.
TEST(TerminalPipes, KeysThenALineForEachBoxThenTheEnd) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(in.r, out.w, sink);
    std::vector<std::string> answers;
    bool endedInsideX = false;
    sink.onKey = [&](int code) {
        if (code == 'S') answers.push_back(p->inputBox("Type the name.", "Save game"));
        if (code == 'X') try {
                p->doEvents();
            } catch (const Ended&) {
                endedInsideX = true;
                throw;
            }
    };
    put(in.w, "q\x1b[Bsmy game\r\nxs");
    closeFd(in.w);
    EXPECT_THROW(for (int i = 0; i < 100; ++i) p->doEvents(), Ended);
    EXPECT_FALSE(endedInsideX);
    EXPECT_EQ(sink.keys, (Keys{{81, 0}, {40, 0}, {83, 0}, {88, 0}, {83, 0}}));
    EXPECT_EQ(answers, (std::vector<std::string>{"my game", ""}));
    EXPECT_EQ(readFd(out.r), "Save game\nType the name.\nSave game\nType the name.\n");
}

TEST(TerminalPipes, SaidPrintsExactLinesOnlyTheScreenReadersWithEchoOff) {
    for (bool echo : {true, false}) {
        Pipe in, out;
        RecordingSink sink;
        auto p = makePlatform(in.r, out.w, sink, echo);
        for (int mode = 0; mode < 4; ++mode) p->said("line " + std::to_string(mode), mode);
        p->said("", 1);
        p->said("a\nb\x1b[31m\xc2\x9b\x63 caf\xc3\xa9", 2);  // \x63: a "c" after the C1 control
        p->setTitle("not shown without a terminal");
        EXPECT_EQ(readFd(out.r), echo ? "line 0\nline 1\nline 2\nline 3\na b [31m c caf\xc3\xa9\n"
                                      : "line 1\nline 2\na b [31m c caf\xc3\xa9\n");
    }
}

// The timer's ticks are the shared event queue's, checked on the virtual clock; here a wait must
// sleep in the system, not spin.
TEST(TerminalPipes, WaitsSleep) {
    Pipe in, out;
    RecordingSink sink;
    auto p = makePlatform(in.r, out.w, sink);
    auto start = Clock::now();
    p->setTimer(100);
    p->waitEvents();
    EXPECT_GE(elapsedMs(start), 95);
    p->doEvents();
    EXPECT_EQ(sink.ticks, 1);
    // With the timer stopped a wait sleeps until a key comes, and a lone ESC sleeps its delay out.
    p->setTimer(0);
    std::thread typist([&] {
        std::this_thread::sleep_for(150ms);
        put(in.w, "\x1b");
    });
    start = Clock::now();
    const std::clock_t cpuBefore = std::clock();
    while (sink.keys.empty() && elapsedMs(start) < 2000) {
        p->waitEvents();
        p->doEvents();
    }
    typist.join();
    EXPECT_LT(double(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.05) << "waiting spun";
    EXPECT_GE(elapsedMs(start), 185);
    EXPECT_EQ(sink.keys, (Keys{{27, 0}}));
    EXPECT_EQ(sink.ticks, 1);
}

// ---- The platform on a pseudo-terminal. ----

TEST(TerminalPty, RawModeTitlesLineEditingAndRestore) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{}, now{};
    tcgetattr(slave, &before);
    RecordingSink sink;
    auto p = makePlatform(slave, slave, sink);
    tcgetattr(slave, &now);
    EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(ISIG));  // Ctrl+C still ends the game
    EXPECT_EQ(now.c_iflag & IXON, 0u);                                // Ctrl+S must not freeze the output
    // Output processing stays: a line piped through another program still starts at the margin.
    EXPECT_EQ(now.c_oflag, before.c_oflag);
    p->setTitle("Main menu");
    p->said("Main menu", 1);
    put(master, "\rq");
    p->doEvents();
    EXPECT_EQ(sink.keys, (Keys{{13, 0}, {81, 0}}));
    // A message waits with the cursor on its first character, where a braille display following
    // the cursor shows it from its start; the next output begins below all its rows. (No echo of keys.)
    EXPECT_EQ(readFd(master), "\x1b[22;0t\x1b]2;Main menu\x07Main menu\r");
    const winsize narrow{1, 40, 0, 0};
    ioctl(slave, TIOCSWINSZ, &narrow);
    p->said(std::string(81, 'w'), 1);
    EXPECT_EQ(readFd(master), "\r\n" + std::string(81, 'w') + "\r\x1b[2A");
    // The input box edits the line itself and echoes only what it keeps: Backspace takes a whole
    // letter, Ctrl+U the line, a key's sequence is dropped unseen, and Escape or Ctrl+D on an empty
    // line cancel.
    const std::tuple<const char*, const char*, const char*> boxes[] = {
        {"hel\x7flo\r", "helo", "hel\b \blo\r\n"},
        {"caf\xc3\xa9\x7f\x7f\r", "ca", "caf\xc3\xa9\b \b\b \b\r\n"},
        {"ab\x1b[Dc\x1bOHd\x1b[1;5A\r", "abcd", "abcd\r\n"},
        {"x\x15yz\n", "yz", "x\b \byz\r\n"},
        // A paste of several lines gives its first; the rest is dropped, not run as keys.
        {"first\r\nsecond\r\n\x1b[B\r", "first", "first\r\n"},
        {"abc\x1b", "", "abc\r\n"},
        {"\x04", "", ""},
    };
    // The question and the answer share a line.
    std::string leave = "\x1b[2B\r\n";
    for (auto [typed, answer, echoed] : boxes) {
        put(master, typed);
        EXPECT_EQ(p->inputBox("Type the file name.", "Save game"), answer) << typed;
        EXPECT_TRUE(p->rawMode());
        EXPECT_EQ(readFd(master), leave + "Save game\r\r\nType the file name. " + std::string(echoed)) << typed;
        leave = "";
    }
    // What follows a box is a key again.
    put(master, "q");
    p->doEvents();
    EXPECT_EQ(sink.keys.back(), (tw::KeyDown{81, 0}));
    EXPECT_THROW(p->endProcess(), Ended);
    tcgetattr(slave, &now);
    EXPECT_TRUE(now.c_lflag == before.c_lflag && now.c_iflag == before.c_iflag && now.c_oflag == before.c_oflag);
    p.reset();  // restores only once
    EXPECT_EQ(readFd(master), "\x1b[23;0t");
    // A terminal closed under the game ends it.
    p = makePlatform(slave, slave, sink);
    closeFd(master);
    EXPECT_THROW(
        {
            for (int i = 0; i < 1000; ++i) {
                p->waitEvents();
                p->doEvents();
            }
        },
        Ended);
    closeFd(slave);
}

// ---- The real program. ----

struct Home : tw_test::TempDir {
    Home() { fs::copy_file(fs::path(TW_GAME_DIR) / "words.txt", *this / "words.txt"); }
    // Settings that choose the game's own voice; the fourth line goes when the game rewrites them.
    void chooseVoice() const { std::ofstream(*this / "progress.ini", std::ios::binary) << kVoiceSettings << "x\r\n"; }
    std::string read(const std::string& name) const { return tw::driver::readBytes(*this / name).value_or(""); }
    static constexpr const char* kVoiceSettings = " 0 \r\n 3 \r\n\r\n";
    bool has(const std::string& name) const { return fs::exists(*this / name); }
};

using tw::driver::shellQuoted;

std::string shell(const std::string& command) {
    std::string out;
    FILE* f = popen(command.c_str(), "r");
    char buf[4096];
    for (std::size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    if (f) pclose(f);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Runs the game in home on what the shell command feed prints; what the game printed, then its status.
std::string runGame(const Home& home, const std::string& feed, const std::string& args) {
    return shell("cd " + shellQuoted(home.path()) + " && " + feed + " | timeout 20 " + shellQuoted(TW_EXE) +
                 " --seed 7 --home " + shellQuoted(home.path()) + " " + args + " 2>/dev/null; echo rc=$?");
}

// One tmux server of our own with a 120x40 pane, in a fresh program folder: sh waits for Enter,
// runs the game and shows its status. No interactive shell runs in the pane: one would put the
// terminal's modes back by itself after a job dies of a signal, and hide a game that did not.
class TmuxPane {
public:
    explicit TmuxPane(bool voice = false) : voice_(voice) {
        if (voice) home.chooseVoice();
        const std::string script =
            "trap true INT; ulimit -c 0; echo ready; read go; sh -c 'echo gamepid=$$; exec "
            "\"$0\" \"$@\"' " +
            shellQuoted(TW_EXE) + " --seed 7 --home " + shellQuoted(home.path()) +
            " --speech-wav speech.wav; echo rc=$?; sleep 1000";
        // speech-dispatcher, if installed, is started only at a path of its own choosing: an address
        // elsewhere makes path 3 silent, so no daemon outlives the test.
        tmux("-f /dev/null new-session -d -x 120 -y 40 -c " + shellQuoted(home.path()) +
             " -e SPEECHD_ADDRESS=unix_socket:" + shellQuoted(home / "no-daemon.sock") + " " +
             shellQuoted("sh -c " + shellQuoted(script)));
    }
    ~TmuxPane() { tmux("kill-server"); }
    std::string tmux(const std::string& args) const {
        return shell("tmux -S " + shellQuoted(socket_ / "tmux") + " " + args + " 2>/dev/null");
    }
    void keys(const std::string& names) const { tmux("send-keys " + names); }
    std::vector<std::string> screen() const { return lines(tmux("capture-pane -p -J -S - -E -")); }
    std::string show(const std::string& format) const {
        const std::string shown = tmux("display-message -p '" + format + "'");
        return shown.substr(0, shown.find('\n'));
    }
    // The terminal's line modes as seen from outside.
    std::string modes() const {
        return shell("stty -a -F " + shellQuoted(tty) +
                     " | tr ' ;' '\\n\\n' | grep -x -E -- '-?(icanon|echo)' | tr '\\n' ' '");
    }
    bool waitLine(const std::string& text, int timeoutMs = 8000) const {
        for (const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < until;) {
            for (const auto& l : screen())
                if (l == text) return true;
            std::this_thread::sleep_for(30ms);
        }
        return false;
    }
    // Starts the game, checking that it takes the terminal and shows what it says in the title.
    void start() {
        ASSERT_TRUE(waitLine("ready", 5000));
        tty = show("#{pane_tty}");
        titleBefore = show("#{pane_title}");
        ASSERT_EQ(modes(), "icanon echo ");
        keys("Enter");
        ASSERT_TRUE(waitLine(kGreeting));
        for (const auto& l : screen())
            if (l.rfind("gamepid=", 0) == 0) pid = static_cast<pid_t>(std::atol(l.c_str() + 8));
        ASSERT_GT(pid, 1);
        EXPECT_EQ(modes(), "-icanon -echo ");
        EXPECT_EQ(show("#{pane_title}"), voice_ ? "Tumblewick (v0.6b), by Dorvel" : kGreeting);
    }

    Home home;
    std::string tty, titleBefore;
    pid_t pid = 0;

private:
    bool voice_;
    tw_test::TempDir socket_;  // the server leaves its socket file behind
};

bool haveTmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

TEST(TerminalProgram, EveryWayOfEndingRestoresTheTerminal) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    // 0: "Exit the game" from the menu, after a second copy and a suspension; SIGINT: Ctrl+C typed.
    for (int sig : {0, SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGABRT}) {
        SCOPED_TRACE(sig);
        TmuxPane pane(true);
        ASSERT_NO_FATAL_FAILURE(pane.start());
        if (sig == 0) {
            // A second copy in the same folder says so, aloud too, waits for Enter and acts on no
            // key before it: Down would say "How to play".
            const auto started = Clock::now();
            EXPECT_EQ(runGame(pane.home, "(sleep 1; printf '\\033[B\\r'; yes '')", "--speech-wav second.wav"),
                      "This game is already running.\nPress Enter.\nrc=0\n");
            EXPECT_GE(elapsedMs(started), 1000);
            EXPECT_LT(elapsedMs(started), 8000);
            // Before any setting is read the game speaks with its voice: a player without a screen
            // reader hears why the game did not start.
            const auto spoken = tw_test::readWav(pane.home / "second.wav");
            ASSERT_TRUE(spoken.has_value());
            EXPECT_GT(spoken->seconds(), 1.0);
            EXPECT_GT(spoken->rms(), 0.02);
            for (const char* want : {"icanon echo ", "-icanon -echo "}) {
                kill(pane.pid, *want == 'i' ? SIGTSTP : SIGCONT);  // hands the terminal back meanwhile
                for (const auto until = Clock::now() + 3s; pane.modes() != want && Clock::now() < until;)
                    std::this_thread::sleep_for(20ms);
                EXPECT_EQ(pane.modes(), want);
            }
            pane.keys("Up");
            ASSERT_TRUE(pane.waitLine("Exit the game"));
            pane.keys("Enter");
        } else if (sig == SIGINT) {
            pane.keys("C-c");
        } else {
            kill(pane.pid, sig);
        }
        ASSERT_TRUE(pane.waitLine("rc=" + std::to_string(sig ? 128 + sig : 0), 10000))
            << ::testing::PrintToString(pane.screen());
        EXPECT_EQ(pane.modes(), "icanon echo ");
        EXPECT_EQ(pane.show("#{pane_title}"), pane.titleBefore);
        // Only the game's own exit saves.
        EXPECT_EQ(pane.home.read("progress.ini") == Home::kVoiceSettings, sig == 0);
        // Every orderly end lets the voice finish its file; a crash may not.
        if (sig == 0 || sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
            const auto spoken = tw_test::readWav(pane.home / "speech.wav");
            ASSERT_TRUE(spoken.has_value());
            EXPECT_GT(spoken->seconds(), 2.5);
        }
    }
}

// The bytes a terminal sends for each key the game knows, found by asking the game's own decoder
// what single bytes and the usual escape sequences give.
std::map<std::pair<int, int>, std::string> terminalKeys() {
    std::vector<std::string> candidates = {"\x1b"};
    for (int b = 0; b < 128; ++b) candidates.emplace_back(1, char(b));
    for (char c : std::string("ABCDHFZ")) candidates.push_back(std::string("\x1b[") + c);
    for (char c : std::string("PQRS")) candidates.push_back(std::string("\x1bO") + c);
    for (int n = 1; n <= 24; ++n) candidates.push_back("\x1b[" + std::to_string(n) + "~");
    std::map<std::pair<int, int>, std::string> keys;
    for (const std::string& bytes : candidates) {
        tw::KeyDecoder decoder;
        Keys got = decoder.feed(bytes);
        if (decoder.wantsTimeout()) got = decoder.timeout();
        if (!got.empty()) keys.emplace(std::pair(got.back().KeyCode, got.back().Shift), bytes);
    }
    return keys;
}

// The real program on pipes as an adapter of the key scripts' interpreter (the game's own, with
// --script and --adapter): keys go in as a terminal sends them, and the printed lines come back;
// "end" is the end of input, "close" SIGHUP. A terminal prints no empty text and plays sounds.
void playOnTerminal(const std::string& script) {
    SCOPED_TRACE(script);
    tw_test::TempDir home, run;
    const auto keys = terminalKeys();
    int toAdapter[2], fromAdapter[2];
    ASSERT_EQ(pipe2(toAdapter, O_CLOEXEC) | pipe2(fromAdapter, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fromAdapter[0], 0);
    posix_spawn_file_actions_adddup2(&actions, toAdapter[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, (run / "report").c_str(), O_WRONLY | O_CREAT, 0644);
    std::vector<std::string> args = {TW_EXE, "--headless", "--adapter", "--script",
                                     std::string(TW_SOURCE_DIR) + "/tests/transcripts/" + script};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t interpreter = 0;
    ASSERT_EQ(posix_spawn(&interpreter, TW_EXE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fromAdapter[0]);
    ::close(toAdapter[1]);
    FILE* requests = fdopen(toAdapter[0], "r");
    FILE* answers = fdopen(fromAdapter[1], "w");
    std::unique_ptr<tw_test::PipedGame> game;
    std::vector<std::pair<int, std::string>> held;  // milliseconds into the next key, and its bytes
    const auto finish = [&](int want) {
        int status = 0;
        EXPECT_GE(game->waitEnd(status, 10s), 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), want);
        return game->newLines(0ms);
    };
    const auto bytesOf = [&](const std::string& code, const std::string& shift) {
        const auto found = keys.find({std::stoi(code), std::stoi(shift)});
        EXPECT_NE(found, keys.end()) << "no terminal sends the key " << code << " " << shift;
        return found == keys.end() ? std::string() : found->second;
    };
    char buf[1 << 16];
    while (fgets(buf, sizeof buf, requests)) {
        const std::string line(buf, std::strlen(buf) - 1);
        std::istringstream request(line);
        std::string word, a, b, c;
        request >> word >> a >> b >> c;
        std::vector<std::string> answer;
        if (word == "needs") answer = {a.empty() ? "unheard empty sound" : "skip it needs " + line.substr(6)};
        if (word == "place") {
            if (b == "-") fs::remove(home / a);
            if (b != "-") std::ofstream(home / a, std::ios::binary) << tw::unhexBytes(b);
        }
        if (word == "start" || word == "restart") {
            if (game && !game->ended()) {
                game->closeInput();
                finish(0);
            }
            EXPECT_EQ(word == "start" ? a : "7", "7") << "the terminal's game is started with seed 7";
            game = std::make_unique<tw_test::PipedGame>(home);
            EXPECT_GE(game->waitLine(kGreeting, 5s), 0);
            answer = game->newLines();
        }
        if (word == "end") {
            game->closeInput();
            answer = finish(0);
        }
        if (word == "close") {
            kill(game->pid(), SIGHUP);
            answer = finish(128 + SIGHUP);
        }
        if (word == "held") held.emplace_back(std::stoi(a), b == "close" ? "" : bytesOf(b, c));
        if (word == "key") {
            const auto pressed = Clock::now();
            game->type(bytesOf(a, b));
            bool closed = false;
            for (const auto& [ms, bytes] : held) {
                std::this_thread::sleep_until(pressed + std::chrono::milliseconds(ms));
                closed = closed || bytes.empty();
                bytes.empty() ? void(kill(game->pid(), SIGHUP)) : game->type(bytes);
            }
            held.clear();
            answer = game->newLines(300ms);
            if (closed)
                for (const std::string& said : finish(128 + SIGHUP)) answer.push_back(said);
        }
        if (word == "type") {
            game->type(line.substr(5) + "\n");
            answer = game->newLines(300ms);
        }
        if (word == "file") {
            const auto bytes = tw::driver::readBytes(home / a);
            answer = {bytes ? tw::hexBytes(*bytes) : "-"};
        }
        for (const std::string& said : answer) std::fprintf(answers, "%s\n", said.c_str());
        std::fprintf(answers, ".\n");
        std::fflush(answers);
    }
    std::fclose(answers);
    std::fclose(requests);
    int status = 0;
    waitpid(interpreter, &status, 0);
    EXPECT_EQ(status, 0) << tw::driver::readBytes(run / "report").value_or("");
}

// Key scripts of the corpus played on the real terminal front end, each way of ending included.
TEST(TerminalProgram, PlaysKeyScriptsAsTheDriverDoes) {
    for (const char* script : {"house.tw", "ends.tw", "closed-in-completion.tw"}) playOnTerminal(script);
}

}  // namespace
