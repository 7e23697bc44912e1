// tests/linux/test_support.h: temporary folders, environment and timing helpers for the Linux tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <gtest/gtest.h>
#include <utility>
#include <thread>

#include "tests/driver_util.h"
#include "tests/wav_util.h"
#include <vector>

#include "platform/platform.h"
#include "platform/terminal/key_decoder.h"

extern char** environ;

namespace tw_test {

// The tests' one temporary folder.
using TempDir = tw::driver::TempDir;

// Sets or (with nullopt) removes an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }

private:
    void set(const std::optional<std::string>& value) {
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

// What the PlatformError thrown by make says, or "no error".
template <class Make>
std::string errorFrom(Make&& make) try {
    make();
    return "no error";
} catch (const tw::PlatformError& error) {
    return error.what();
}

inline double elapsedMicros(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - since).count();
}

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The game on pipes, its printed lines stamped with when they came.
class PipedGame {
public:
    // With closedInput the game starts with standard input closed.
    PipedGame(const TempDir& home, const std::string& progress = "", const std::string& wav = "",
              bool closedInput = false) {
        std::filesystem::copy_file(std::string(TW_GAME_DIR) + "/words.txt", home / "words.txt",
                                   std::filesystem::copy_options::overwrite_existing);
        if (!progress.empty()) std::ofstream(home / "progress.ini", std::ios::binary) << progress;
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (closedInput) posix_spawn_file_actions_addclose(&actions, 0);
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
        in_ = in[1];
        out_ = out[0];
        // Kept, so that a test can fill the pipe as a reader that stopped reading leaves it.
        outWriter_ = out[1];
    }
    ~PipedGame() {
        if (in_ >= 0) close(in_);
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(outWriter_);
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
    // The lines that came since the last call, once none has come for quiet or the output ended.
    std::vector<std::string> newLines(std::chrono::milliseconds quiet = 400ms) {
        while (readSome(Clock::now() + quiet)) {}
        std::vector<std::string> out;
        for (; taken_ < lines_.size(); ++taken_) out.push_back(lines_[taken_].first);
        return out;
    }
    pid_t pid() const { return pid_; }
    bool ended() const { return ended_; }
    int outWriter() const { return outWriter_; }
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
    int in_ = -1, out_ = -1, outWriter_ = -1;
    bool ended_ = false;
    Clock::time_point started_;
    std::string pending_;
    std::vector<std::pair<std::string, Clock::time_point>> lines_;
    std::size_t taken_ = 0;
};

// A private PulseAudio server with a null sink on a socket of its own, in run's folder; PULSE_SERVER
// names it while this lives. restart() kills it outright and starts a new one on the same socket.
class PrivatePulse {
public:
    explicit PrivatePulse(const TempDir& run)
        : run_(run.path()), env_("PULSE_SERVER", "unix:" + run.path() + "/native") {
        start();
    }
    ~PrivatePulse() { stop(SIGTERM); }
    bool up() const { return ::access((run_ + "/native").c_str(), F_OK) == 0; }
    void restart() {
        stop(SIGKILL);
        ::unlink((run_ + "/native").c_str());
        start();
    }
    pid_t pid() const { return pid_; }

private:
    void start() {
        pid_ = fork();
        if (pid_ == 0) {
            // It goes with the test, however the test ends, and holds none of its output open.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (!freopen("/dev/null", "w", stdout)) _exit(127);
            setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
            setenv("HOME", run_.c_str(), 1);
            const std::string native = "module-native-protocol-unix socket=" + run_ + "/native auth-anonymous=1";
            if (!freopen("/dev/null", "w", stderr)) _exit(127);
            execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                   "--disallow-exit", "-L", "module-null-sink sink_name=null", "-L", native.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200 && !up(); ++i) std::this_thread::sleep_for(25ms);
    }
    void stop(int sig) {
        if (pid_ <= 0) return;
        kill(pid_, sig);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string run_;
    ScopedEnv env_;
    pid_t pid_ = -1;
};

// What reaches the private server's sink, recorded from its monitor (16 kHz mono): sound as the
// player hears it, in real time, after the server's buffers and resampler.
class SinkRecording {
public:
    static constexpr int kRate = 16000;
    explicit SinkRecording(std::string file) : file_(std::move(file)) {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            execlp("parec", "parec", "-d", "null.monitor", "--raw", "--format=s16le", "--rate=16000", "--channels=1",
                   "--latency-msec=10", file_.c_str(), nullptr);
            _exit(127);
        }
    }
    ~SinkRecording() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::vector<std::int16_t> samples() const {
        std::ifstream in(file_, std::ios::binary);
        std::vector<std::int16_t> all;
        for (std::int16_t s; in.read(reinterpret_cast<char*>(&s), 2);) all.push_back(s);
        return all;
    }
    // Waits until sound has come since sample `from` (or 5 s passed) and then half a second of quiet.
    void settle(std::size_t from) const {
        for (int tries = 0; tries < 300; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const auto all = samples();
            const auto [first, last] = sound(all, from);
            if ((first < all.size() || tries >= 50) && all.size() >= std::max(last, from) + kRate / 2) return;
        }
    }
    // The first and one past the last sample from `from` on that are not silence.
    static std::pair<std::size_t, std::size_t> sound(const std::vector<std::int16_t>& all, std::size_t from) {
        std::size_t first = all.size(), last = 0;
        for (std::size_t i = from; i < all.size(); ++i) {
            if (std::abs(all[i]) <= 64) continue;
            first = std::min(first, i);
            last = i + 1;
        }
        return {first, last};
    }

private:
    std::string file_;
    pid_t pid_ = -1;
};

}  // namespace tw_test

namespace tw {
// A key-down as the decoder's table writes it: the code, and "/" and the shift bits when any.
inline void PrintTo(const KeyDown& k, std::ostream* os) {
    *os << k.KeyCode << (k.Shift ? "/" + std::to_string(k.Shift) : "");
}
}  // namespace tw
