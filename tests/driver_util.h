// tests/driver_util.h: shared helpers for tests of the real binary: temp folders, file bytes, driver runs.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tw::driver {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tw_drv_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // A sub-folder, made when missing.
    std::string sub(const std::string& name) const {
        std::error_code ec;
        fs::create_directories(file(name), ec);
        return file(name);
    }

private:
    std::string path_;
};

// The whole file, or nothing when it cannot be read.
inline std::optional<std::string> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline void writeBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Text split at '\n' (a final '\n' adds no empty line); '\r' is kept so tests see the bytes.
inline std::vector<std::string> splitAtNewline(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

// Text split at CR LF, as the game writes its files; a stray lone CR or LF stays in a line.
inline std::vector<std::string> splitCrLf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

inline std::string exePath() { return TW_EXE; }

// Makes a folder the process's current folder for the life of this object; the game's start-up
// writes debuglog.txt and myversion.txt there.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& folder) {
        std::error_code ec;
        previous_ = fs::current_path(ec);
        fs::current_path(folder, ec);
        if (ec) ADD_FAILURE() << "cannot change to " << folder << ": " << ec.message();
    }
    ~ScopedCwd() {
        std::error_code ec;
        fs::current_path(previous_, ec);
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    fs::path previous_;
};

// One finished run of `tumblewick --headless`.
struct DriverRun {
    int exitCode = -1;                // -1 when it did not exit normally
    std::string out;                  // standard output, whole
    std::vector<std::string> lines;   // standard output, one entry a line
    std::string err;                  // standard error
};

// Runs the binary with `args` (already quoted where needed) in the folder cwd, feeding it input
// on standard input. The input and output files live in io, outside cwd.
inline DriverRun runDriver(const std::string& cwd, const std::string& io, const std::string& args,
                           const std::string& input) {
    static int counter = 0;
    const std::string tag = std::to_string(++counter);
    const std::string inPath = io + "/in" + tag + ".txt";
    const std::string outPath = io + "/out" + tag + ".txt";
    const std::string errPath = io + "/err" + tag + ".txt";
    writeBytes(inPath, input);
    const std::string command = "cd " + quoted(cwd) + " && " + quoted(exePath()) + " --headless " + args + " < " +
                                quoted(inPath) + " > " + quoted(outPath) + " 2> " + quoted(errPath);
    const int status = std::system(command.c_str());
    DriverRun run;
    if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.out = readBytes(outPath).value_or("");
    run.err = readBytes(errPath).value_or("");
    run.lines = splitAtNewline(run.out);
    return run;
}

// A folder layout for one driver run: run/ is the current folder, home/ the program's folder,
// io/ holds the standard streams.
struct DriverDirs {
    TempDir root;
    std::string run = root.sub("run");
    std::string home = root.sub("home");
    std::string io = root.sub("io");

    DriverRun start(const std::string& input, const std::string& extraArgs = "") const {
        return runDriver(run, io, "--home " + quoted(home) + (extraArgs.empty() ? "" : " " + extraArgs), input);
    }
    std::string log() const { return readBytes(run + "/debuglog.txt").value_or("<no debuglog.txt>"); }
    std::string homeFile(const std::string& name) const { return home + "/" + name; }
};

}  // namespace tw::driver
