// tests/linux/braille_test.cpp: the game on a Linux virtual console, read by the real BRLTTY
// following the cursor, with a 40-cell display of the test's own (BRLTTY's Virtual driver talks
// to it over a socket): after each key the display shows the answer from its first character,
// and panning reads the rest.
#include <fcntl.h>
#include <linux/vt.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <functional>

#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using tw_test::TempDir;

pid_t spawn(const std::function<void()>& child) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        child();
        _exit(127);
    }
    return pid;
}

// The display: BRLTTY sends a line `Visual "TEXT"` whenever what it shows changes.
class Display {
public:
    explicit Display(int fd) : fd_(fd) {}
    // What it shows once nothing has changed for 300 ms (5 s at most).
    std::string settled() {
        for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 300) <= 0) break;
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            pending_.append(buffer, std::size_t(n));
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
                const std::string line = pending_.substr(0, end);
                if (line.rfind("Visual \"", 0) == 0) shown_ = line.substr(8, line.size() - 9);
            }
        }
        return shown_;
    }
    std::string command(const std::string& name) {
        const std::string line = name + "\n";
        EXPECT_EQ(write(fd_, line.data(), line.size()), ssize_t(line.size()));
        return settled();
    }

private:
    int fd_;
    std::string pending_, shown_;
};

std::string cells(const std::string& text, std::size_t from) {
    std::string window = text.substr(std::min(from, text.size()), 40);
    return window + std::string(40 - window.size(), ' ');
}

TEST(Braille, EachMessageIsShownFromItsFirstCharacterAndPanningReadsOn) {
    if (std::system("command -v brltty >/dev/null 2>&1") != 0) GTEST_SKIP() << "skipped: brltty is not installed";
    const int tty0 = open("/dev/tty0", O_WRONLY | O_CLOEXEC);
    int vt = -1;
    if (tty0 < 0 || ioctl(tty0, VT_OPENQRY, &vt) != 0 || vt < 1)
        GTEST_SKIP() << "skipped: this machine has no free Linux virtual console";
    // Opening the console allocates it; BRLTTY needs it to exist before it starts.
    const std::string device = "/dev/tty" + std::to_string(vt);
    const int console = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(console, 0) << device;
    TempDir dir, home;
    std::filesystem::copy_file(std::string(TW_GAME_DIR) + "/words.txt", home / "words.txt");
    std::ofstream(home / "progress.ini", std::ios::binary) << " 1 \r\n 3 \r\n\r\n";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un at{AF_UNIX, {}};
    std::snprintf(at.sun_path, sizeof at.sun_path, "%s", (dir / "display").c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    const std::string client = "client:" + dir / "display", screen = "vt=" + std::to_string(vt);
    const pid_t brltty = spawn([&] {
        if (!freopen("/dev/null", "w", stderr)) _exit(127);  // its notes on this machine's missing modules
        execlp("brltty", "brltty", "-n", "-q", "-N", "-b", "vr", "-d", client.c_str(), "-x", "lx", "-X", screen.c_str(),
               "-s", "no", "-f", "/dev/null", "-F", (dir / "prefs").c_str(), "-W", (dir / "w").c_str(), "-U",
               (dir / "u").c_str(), "-P", (dir / "pid").c_str(), "-t", "en_US",
               "--start-message=", "--stop-message=", "-L", (dir / "log").c_str(), nullptr);
    });
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, 10000) != 1) {
        kill(brltty, SIGKILL);
        waitpid(brltty, nullptr, 0);
        GTEST_SKIP() << "skipped: BRLTTY did not start: " << tw::driver::readBytes(dir / "log").value_or("no log");
    }
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_EQ(write(fd, "cells 40 1\n", 11), 11);
    Display display(fd);
    // The game on the console, which is its controlling terminal: keys go in as typed there.
    const std::string exe = TW_EXE;
    const pid_t game = spawn([&] {
        setsid();
        ioctl(console, TIOCSCTTY, 1);
        for (int to : {0, 1}) dup2(console, to);
        if (chdir(home.path().c_str()) != 0) _exit(127);
        execl(exe.c_str(), exe.c_str(), "--home", home.path().c_str(), "--seed", "7", nullptr);
    });
    const auto type = [&](const std::string& keys) {
        for (char c : keys) ioctl(console, TIOCSTI, &c);
        return display.settled();
    };
    std::this_thread::sleep_for(500ms);  // the game's first look at the terminal comes before keys
    const std::string greeting = "Tumblewick, rough beta version 0.6b, by Dorvel.  Main menu.";
    EXPECT_EQ(display.settled(), cells(greeting, 0));
    EXPECT_EQ(display.command("FWINRT"), cells(greeting, 40));
    type("\x1b[B");
    EXPECT_EQ(type("\x1b[B"), cells("Play the game", 0));
    const std::string arrival = "You have arrived at Dorvel's house.  Press Q, to hear your first task.";
    EXPECT_EQ(type("\r"), cells(arrival, 0));
    // A task longer than the console is wide: its second row follows its first.
    const std::string task =
        "To start you off, go down, and get the bowl from the Kitchen, then put it on the "
        "floor, in the Laundry room.";
    EXPECT_EQ(type("q"), cells(task, 0));
    EXPECT_EQ(display.command("FWINRT"), cells(task, 40));
    EXPECT_EQ(display.command("FWINRT"), cells(task, 80));
    // The question and the name typed so far, on one line.
    for (const char* key : {"\x1b", "\x1b[B", "\x1b[B", "\x1b[B"}) {
        std::this_thread::sleep_for(100ms);  // a lone Escape is told from a sequence by a pause
        type(key);
    }
    type("\r");
    const std::string question = "Type the file name you wish to save to.  Leave blank to cancel. orca";
    EXPECT_EQ(type("orca"), cells(question, 40));
    EXPECT_EQ(display.command("FWINLT"), cells(question, 0));
    type("\r");
    kill(game, SIGTERM);
    waitpid(game, nullptr, 0);
    kill(brltty, SIGTERM);
    waitpid(brltty, nullptr, 0);
    close(fd);
    close(listener);
    close(console);
    for (int tries = 0; tries < 50 && ioctl(tty0, VT_DISALLOCATE, vt) != 0 && errno == EBUSY; ++tries)
        std::this_thread::sleep_for(100ms);
    close(tty0);
}

}  // namespace
