// tests/linux/test_support.h: WAV reading and writing, temporary folders and child processes for the Linux tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tw_test {

struct Wav {
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<std::int16_t> samples;

    double seconds() const {
        return sampleRate > 0 && channels > 0 ? double(samples.size()) / channels / sampleRate : 0.0;
    }
    double rms() const {
        if (samples.empty()) return 0.0;
        double sum = 0.0;
        for (std::int16_t s : samples) sum += double(s) * s;
        return std::sqrt(sum / double(samples.size())) / 32768.0;
    }
    double peak() const {
        int best = 0;
        for (std::int16_t s : samples) best = std::max(best, std::abs(int(s)));
        return best / 32768.0;
    }
};

inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::uint16_t le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

// Reads a 16-bit PCM WAV, walking its chunks. The RIFF size must match the file and the data
// chunk must lie inside it, so a header left stale by a writer is caught. why says what failed.
inline std::optional<Wav> readWav(const std::string& path, std::string* why = nullptr) {
    auto fail = [&](const std::string& reason) -> std::optional<Wav> {
        if (why) *why = reason;
        return std::nullopt;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open " + path);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return fail("not a RIFF/WAVE file");
    if (std::uint64_t(le32(bytes.data() + 4)) + 8 != bytes.size())
        return fail("RIFF size " + std::to_string(le32(bytes.data() + 4)) + " does not match file size " +
                    std::to_string(bytes.size()));
    Wav wav;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + at;
        const std::uint32_t size = le32(chunk + 4);
        if (at + 8 + std::uint64_t(size) > bytes.size()) return fail("chunk runs past the end of the file");
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            if (le16(chunk + 8) != 1) return fail("not PCM");
            wav.channels = le16(chunk + 10);
            wav.sampleRate = int(le32(chunk + 12));
            wav.bits = le16(chunk + 22);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return fail("data before fmt");
            if (wav.bits != 16) return fail("not 16-bit");
            wav.samples.resize(size / 2);
            for (std::size_t i = 0; i < wav.samples.size(); ++i)
                wav.samples[i] = std::int16_t(le16(chunk + 8 + 2 * i));
            return wav;
        }
        at += 8 + size + (size & 1);
    }
    return fail("no data chunk");
}

// A sine tone as 16-bit PCM.
inline void writeToneWav(const std::string& path, double seconds, int rate, int channels, double hz) {
    const std::uint32_t frames = std::uint32_t(seconds * rate);
    const std::uint32_t dataBytes = frames * channels * 2;
    std::vector<unsigned char> out(44 + dataBytes);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xff;
    };
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        out[at] = v & 0xff;
        out[at + 1] = v >> 8;
    };
    std::memcpy(out.data(), "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(out.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, std::uint16_t(channels));
    put32(24, std::uint32_t(rate));
    put32(28, std::uint32_t(rate * channels * 2));
    put16(32, std::uint16_t(channels * 2));
    put16(34, 16);
    std::memcpy(out.data() + 36, "data", 4);
    put32(40, dataBytes);
    for (std::uint32_t f = 0; f < frames; ++f) {
        const auto v = std::int16_t(std::lround(12000.0 * std::sin(2.0 * M_PI * hz * f / rate)));
        for (int c = 0; c < channels; ++c) put16(44 + (std::size_t(f) * channels + c) * 2, std::uint16_t(v));
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

// A fresh folder under the temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tw-linux-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets or (with nullopt) removes an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_.c_str(), old_->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The test binary runs itself again as a helper: a file's static initialiser sees its mode in
// TW_TEST_CHILD, does the helper's work and _exits before gtest starts.
inline const char* kChildModeVariable = "TW_TEST_CHILD";
inline std::string childMode() {
    const char* mode = std::getenv(kChildModeVariable);
    return mode ? mode : "";
}

struct ChildResult {
    bool exited = false;  // ended by itself, not by the timeout
    int status = -1;      // exit code, or 128 + signal
    std::string out;
    std::string err;
    double seconds = 0.0;
};

class Child {
public:
    // env: variables to set; a nullopt value removes the variable from the child's environment.
    Child(const std::string& mode, const std::map<std::string, std::optional<std::string>>& env) {
        std::map<std::string, std::string> merged;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const auto eq = entry.find('=');
            if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        for (const auto& [name, value] : env) {
            if (value) merged[name] = *value;
            else merged.erase(name);
        }
        merged[kChildModeVariable] = mode;
        std::vector<std::string> entries;
        for (const auto& [name, value] : merged) entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& entry : entries) envp.push_back(entry.data());
        envp.push_back(nullptr);

        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        std::string exe = "/proc/self/exe";
        // Should no helper claim the mode, this filter keeps the child from running the suite.
        std::string filter = "--gtest_filter=-*";
        char* argv[] = {exe.data(), filter.data(), nullptr};
        started_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Reads the child's stdout until it holds token; false on timeout or end of output.
    bool waitFor(const std::string& token, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (result_.out.find(token) == std::string::npos) {
            if (!pump(deadline)) return false;
        }
        return true;
    }

    // Sends a signal now (SIGKILL stands in for a crash).
    void signal(int number) {
        if (pid_ > 0) kill(pid_, number);
    }

    // Collects all output and the exit status; kills the child if it outlives the timeout.
    ChildResult finish(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pump(deadline)) {
        }
        int status = 0;
        if (pid_ > 0) {
            if (std::chrono::steady_clock::now() >= deadline && waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                result_.exited = false;
            } else {
                waitpid(pid_, &status, 0);
                result_.exited = true;
            }
            pid_ = -1;
            result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        return result_;
    }

private:
    // One round of reading; false when both pipes are closed or the deadline passed.
    bool pump(std::chrono::steady_clock::time_point deadline) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const int open = (out_ >= 0) + (err_ >= 0);
        if (open == 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        if (poll(fds, 2, int(std::min<long long>(left, 1000))) < 0) return false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_ : err_;
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) (i == 0 ? result_.out : result_.err).append(buffer, std::size_t(got));
            else {
                close(fd);
                fd = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    ChildResult result_;
    std::chrono::steady_clock::time_point started_;
};

// "name=value" lines printed by a helper.
inline std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    return values;
}

inline double elapsedMicros(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace tw_test
