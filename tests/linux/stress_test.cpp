// tests/linux/stress_test.cpp: the real program against a speech-dispatcher that takes the
// connection and never answers, and against a sound server that stops: every key still answered
// in print, the design's fall-back sentence told, and every end within about a second.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "tests/linux/test_support.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tw_test::ScopedEnv;
using tw_test::TempDir;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
const std::string kFallBack = "Jaws does not seem to be responding, Sapi on.";
// The bounds a player would notice: the greeting, and the end after it was asked for. A build
// with sanitizers starts and ends slower (its leak check runs at the end), so it gets more.
const bool kSanitized = std::getenv("ASAN_OPTIONS") || std::getenv("TSAN_OPTIONS");
const long kGreet = kSanitized ? 1500 : 500, kEnd = kSanitized ? 2500 : 1000;

// The game on pipes, its printed lines stamped with when they came.
class Game {
public:
    Game(const TempDir& home, const std::string& progress = "", const std::string& wav = "") {
        std::filesystem::copy_file(std::string(TW_GAME_DIR) + "/words.txt", home / "words.txt");
        if (!progress.empty()) std::ofstream(home / "progress.ini", std::ios::binary) << progress;
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addchdir_np(&actions, home.path().c_str());
        const std::string exe = TW_EXE;
        std::vector<std::string> args = {exe, "--home", home.path(), "--seed", "7"};
        if (!wav.empty()) args.insert(args.end(), {"--speech-wav", wav});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        started_ = Clock::now();
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) std::abort();
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Game() {
        if (in_ >= 0) close(in_);
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }
    void type(const std::string& bytes) { ASSERT_EQ(write(in_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void closeInput() { close(std::exchange(in_, -1)); }
    // Milliseconds from the start until the line came; -1 when it did not within limit.
    long waitLine(const std::string& line, std::chrono::milliseconds limit = 3s) {
        for (const auto until = Clock::now() + limit;;) {
            for (const auto& [text, at] : lines_)
                if (text == line)
                    return long(std::chrono::duration_cast<std::chrono::milliseconds>(at - started_).count());
            if (Clock::now() >= until || !readSome(until)) return -1;
        }
    }
    // Milliseconds from now until the process ended, and how; -1 when it still runs after limit.
    long waitEnd(int& status, std::chrono::milliseconds limit = 3s) {
        const auto from = Clock::now();
        for (const auto until = from + limit; Clock::now() < until; std::this_thread::sleep_for(2ms)) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count());
            }
        }
        return -1;
    }
    pid_t pid() const { return pid_; }
    // Every line, with when it came.
    std::string transcript() {
        std::string all;
        for (const auto& [text, at] : lines_)
            all += std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(at - started_).count()) + " " +
                   text + "\n";
        return all;
    }

private:
    bool readSome(Clock::time_point until) {
        pollfd p{out_, POLLIN, 0};
        const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
        if (poll(&p, 1, std::max(ms, 0)) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return false;
        pending_.append(buf, std::size_t(n));
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1))
            lines_.emplace_back(pending_.substr(0, end), Clock::now());
        return true;
    }
    pid_t pid_ = 0;
    int in_ = -1, out_ = -1;
    bool ended_ = false;
    Clock::time_point started_;
    std::string pending_;
    std::vector<std::pair<std::string, Clock::time_point>> lines_;
};

// A socket that takes connections (the kernel's backlog does) and never says a word.
struct DeafDaemon {
    TempDir dir;
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ScopedEnv address{"SPEECHD_ADDRESS", "unix_socket:" + dir / "sd.sock"};
    DeafDaemon() {
        sockaddr_un at{AF_UNIX, {}};
        std::snprintf(at.sun_path, sizeof at.sun_path, "%s", (dir / "sd.sock").c_str());
        if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(listener, 16) != 0) std::abort();
    }
    ~DeafDaemon() { close(listener); }
};

const char* const kDown = "\x1b[B";

TEST(Stress, ASpeechDispatcherThatNeverAnswersHoldsNothingUp) {
    DeafDaemon daemon;
    {
        // Path 1 never touches it: the greeting comes at once, and the end of input ends the game.
        TempDir home;
        Game game(home);
        EXPECT_LT(game.waitLine(kGreeting), kGreet);
        game.type("\t\t");  // to path 3: the fall-back comes without another key
        const long jaws = game.waitLine("Jaws");
        EXPECT_GE(jaws, 0);
        const long fellBack = game.waitLine(kFallBack);
        EXPECT_GE(fellBack - jaws, 500) << game.transcript();
        EXPECT_LT(fellBack - jaws, 2000) << game.transcript();
        game.type("\t");  // said once: path 3 is refused from now on with the same sentence
        EXPECT_GE(game.waitLine("Screen reader"), 0);
        game.closeInput();
        int status = 0;
        EXPECT_LT(game.waitEnd(status), kEnd);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (const bool bySignal : {false, true}) {
        // Path 3 kept from the last game: the greeting is printed at once, the fall-back follows,
        // and "Exit the game" or SIGTERM end the game within a second.
        TempDir home;
        Game game(home, " 3 \r\n 3 \r\n\r\n");
        EXPECT_LT(game.waitLine(kGreeting), kGreet);
        EXPECT_LT(game.waitLine(kFallBack), 2500);
        int status = 0;
        if (bySignal) {
            game.type("\x1b[B\x1b[B\r");  // a game, which the end keeps in the automatic save
            EXPECT_GE(game.waitLine("You have arrived at Dorvel's house.  Press Q, to hear your first task."), 0);
            kill(game.pid(), SIGTERM);
            EXPECT_LT(game.waitEnd(status), kEnd);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
            EXPECT_TRUE(tw::driver::readBytes(home / ".autosave").has_value());
        } else {
            game.type("\x1b[A");  // Up
            EXPECT_GE(game.waitLine("Exit the game"), 0);
            game.type("\r");
            EXPECT_LT(game.waitEnd(status), 500 + kEnd);  // its own half second, then the end
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(tw::driver::readBytes(home / "progress.ini"), " 0 \r\n 3 \r\n\r\n");
        }
    }
}

// On the game's own voice, a key pressed during a completion's waits speaks only once the
// announcement with its word swaps has been spoken whole: the voice's file holds all of it.
TEST(Stress, TheAnnouncementIsSpokenWholeBeforeKeysPressedInTheWaits) {
    double seconds[2] = {};
    for (const bool pressInWaits : {false, true}) {
        TempDir home;
        Game game(home, " 0 \r\n 3 \r\n\r\n", home / "voice.wav");
        // Waits until the voice's file has stopped growing for half a second: what was said so far
        // is written whole, so the next key cuts nothing off and both runs agree up to the
        // completion, however busy the machine. (A fixed second per key was not always enough.)
        const auto settle = [&] {
            std::error_code ec;  // a file not there yet reads as size -1, which settles too
            for (std::uintmax_t last = 0, size = 0, still = 0; still < 5; last = size) {
                std::this_thread::sleep_for(100ms);
                size = std::filesystem::file_size(home / "voice.wav", ec);
                still = size == last ? still + 1 : 0;
            }
        };
        // The first task of seed 7, done; X follows the last Enter at once, inside its waits.
        for (const char* key : {"\x1b[B", "\x1b[B", "\r", "3", "r", "a", "\r", "9", "e", "a"}) {
            settle();
            game.type(key);
        }
        settle();
        game.type("\r");
        if (pressInWaits) game.type("x");
        // The end of input lets the voice finish what it was given; it is given X's answer only
        // once the completion has been said.
        ASSERT_GE(
            game.waitLine("You have completed your first task.  Dorvel has gone a little bit more insane.  The "
                          "word, shelf, will now be replaced with, bubblegum.    Press Q, to hear your next task.",
                          20s),
            0);
        if (pressInWaits) {
            ASSERT_GE(game.waitLine("You are downstairs in the Laundry room.", 10s), 0);
        }
        game.closeInput();
        int status = 0;
        EXPECT_GE(game.waitEnd(status, 30s), 0);
        const auto wav = tw_test::readWav(home / "voice.wav");
        ASSERT_TRUE(wav.has_value());
        seconds[pressInWaits] = wav->seconds();
    }
    // The announcement whole, and X's answer after it.
    EXPECT_GT(seconds[1], seconds[0] + 0.5) << seconds[0] << " s without the key, " << seconds[1] << " s with it";
}

// A private PulseAudio server with a null sink; stopped with SIGSTOP while the game speaks.
TEST(Stress, ASoundServerThatStopsHoldsNothingUp) {
    if (system("command -v pulseaudio >/dev/null 2>&1") != 0) GTEST_SKIP() << "pulseaudio is not installed";
    TempDir run;
    const std::string socketPath = run / "native";
    const pid_t server = fork();
    if (server == 0) {
        setenv("XDG_RUNTIME_DIR", run.path().c_str(), 1);
        setenv("HOME", run.path().c_str(), 1);
        const std::string native = "module-native-protocol-unix socket=" + socketPath + " auth-anonymous=1";
        freopen("/dev/null", "w", stderr);
        execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
               "--disallow-exit", "-L", "module-null-sink sink_name=null", "-L", native.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 200 && access(socketPath.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(25ms);
    ScopedEnv pulse("PULSE_SERVER", "unix:" + socketPath);
    ScopedEnv sdl("SDL_AUDIODRIVER", std::nullopt);
    ScopedEnv noDaemon("SPEECHD_ADDRESS", "unix_socket:" + run / "none.sock");
    for (const bool bySignal : {false, true}) {
        TempDir home;
        Game game(home, " 0 \r\n 3 \r\n\r\n");
        EXPECT_LT(game.waitLine(kGreeting), kGreet);
        std::this_thread::sleep_for(300ms);  // the voice has its stream and is speaking
        kill(server, SIGSTOP);
        game.type(kDown);
        EXPECT_GE(game.waitLine("How to play", 1s), 0);
        game.type(kDown);
        EXPECT_GE(game.waitLine("Play the game", 1s), 0);
        int status = 0;
        if (bySignal) {
            kill(game.pid(), SIGTERM);
        } else {
            game.closeInput();
        }
        EXPECT_LT(game.waitEnd(status), kEnd);
        EXPECT_TRUE(bySignal ? WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM : WIFEXITED(status)) << status;
        kill(server, SIGCONT);
    }
    // Every ending signal reaches the game's loop, whichever of its threads the system picks.
    int ended = 0;
    for (int i = 0; i < 20; ++i) {
        TempDir home;
        Game game(home, " 0 \r\n 3 \r\n\r\n");
        game.waitLine(kGreeting);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 7 * i));
        kill(game.pid(), SIGTERM);
        int status = 0;
        ended += game.waitEnd(status, 1500ms) >= 0;
    }
    EXPECT_EQ(ended, 20);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}

}  // namespace
