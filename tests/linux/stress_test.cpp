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

namespace {

using namespace std::chrono_literals;
using tw_test::Clock;
using tw_test::ScopedEnv;
using tw_test::TempDir;

const std::string kGreeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
const std::string kFallBack = "Jaws does not seem to be responding, Sapi on.";
// The bounds a player would notice: the greeting, and the end after it was asked for. A build
// with sanitizers starts and ends slower (its leak check runs at the end), so it gets more.
const bool kSanitized = std::getenv("ASAN_OPTIONS") || std::getenv("TSAN_OPTIONS");
const long kGreet = kSanitized ? 1500 : 500, kEnd = kSanitized ? 2500 : 1000;

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
        tw_test::PipedGame game(home);
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
        tw_test::PipedGame game(home, " 3 \r\n 3 \r\n\r\n");
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
            // The path the player chose, which the stall only set aside.
            EXPECT_EQ(tw::driver::readBytes(home / "progress.ini"), " 3 \r\n 3 \r\n\r\n");
        }
    }
}

// On the game's own voice, a key pressed during a completion's waits speaks only once the
// announcement with its word swaps has been heard whole: recorded where it is heard, at the sink
// of a private sound server, the sound after the last Enter lasts the announcement and X's answer.
TEST(Stress, TheAnnouncementIsHeardWholeBeforeKeysPressedInTheWaits) {
    if (system("command -v pulseaudio parec >/dev/null 2>&1") != 0) GTEST_SKIP() << "pulseaudio is not installed";
    TempDir run;
    tw_test::PrivatePulse server(run);
    ScopedEnv sdl("SDL_AUDIODRIVER", std::nullopt);
    ScopedEnv noDaemon("SPEECHD_ADDRESS", "unix_socket:" + run / "none.sock");
    double seconds[2] = {};
    for (const bool pressInWaits : {false, true}) {
        TempDir home;
        const tw_test::SinkRecording sink(home / "sink.raw");
        tw_test::PipedGame game(home, " 0 \r\n 3 \r\n\r\n");
        ASSERT_GE(game.waitLine(kGreeting), 0);
        // The first task of seed 7, done; X follows the last Enter at once, inside its waits. Before
        // that Enter, what was said has been heard to its end, so both runs agree up to it.
        for (const char* key : {"\x1b[B", "\x1b[B", "\r", "3", "r", "a", "\r", "9", "e", "a"}) {
            game.type(key);
            std::this_thread::sleep_for(100ms);
        }
        sink.settle(sink.samples().size());
        const std::size_t mark = sink.samples().size();
        game.type("\r");
        if (pressInWaits) game.type("x");
        ASSERT_GE(
            game.waitLine("You have completed your first task.  Dorvel has gone a little bit more insane.  The "
                          "word, shelf, will now be replaced with, bubblegum.    Press Q, to hear your next task.",
                          20s),
            0);
        if (pressInWaits) {
            ASSERT_GE(game.waitLine("You are downstairs in the Laundry room.", 10s), 0);
        }
        sink.settle(mark);
        const auto [first, last] = tw_test::SinkRecording::sound(sink.samples(), mark);
        ASSERT_LT(first, last) << "nothing reached the sink";
        seconds[pressInWaits] = double(last - first) / tw_test::SinkRecording::kRate;
    }
    // The award, the announcement whole, and X's answer after it.
    EXPECT_GT(seconds[0], 5.0);
    EXPECT_GT(seconds[1], seconds[0] + 0.5) << seconds[0] << " s without the key, " << seconds[1] << " s with it";
}

// A private PulseAudio server with a null sink; stopped with SIGSTOP while the game speaks.
TEST(Stress, ASoundServerThatStopsHoldsNothingUp) {
    if (system("command -v pulseaudio >/dev/null 2>&1") != 0) GTEST_SKIP() << "pulseaudio is not installed";
    TempDir run;
    tw_test::PrivatePulse server(run);
    ScopedEnv sdl("SDL_AUDIODRIVER", std::nullopt);
    ScopedEnv noDaemon("SPEECHD_ADDRESS", "unix_socket:" + run / "none.sock");
    for (const bool bySignal : {false, true}) {
        TempDir home;
        tw_test::PipedGame game(home, " 0 \r\n 3 \r\n\r\n");
        EXPECT_LT(game.waitLine(kGreeting), kGreet);
        std::this_thread::sleep_for(300ms);  // the voice has its stream and is speaking
        kill(server.pid(), SIGSTOP);
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
        kill(server.pid(), SIGCONT);
    }
    // Every ending signal reaches the game's loop, whichever of its threads the system picks.
    int ended = 0;
    for (int i = 0; i < 20; ++i) {
        TempDir home;
        tw_test::PipedGame game(home, " 0 \r\n 3 \r\n\r\n");
        game.waitLine(kGreeting);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 7 * i));
        kill(game.pid(), SIGTERM);
        int status = 0;
        ended += game.waitEnd(status, 1500ms) >= 0;
    }
    EXPECT_EQ(ended, 20);
}

}  // namespace
