// tests/driver_util.h: shared helpers for tests of the real binary: temp folders, file bytes, driver runs.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tw::driver {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() : path_((fs::temp_directory_path() / "tw_drv_XXXXXX").string()) {
        if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << path_;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }
    // A sub-folder, made when missing.
    std::string sub(const std::string& name) const {
        fs::create_directories(file(name));
        return file(name);
    }
    // Writes a file in the folder, replacing it.
    void write(const std::string& name, std::string_view bytes) const {
        std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
            << "cannot write " << file(name);
    }

private:
    std::string path_;
};

// The whole file, or nothing when it cannot be read.
inline std::optional<std::string> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// The names of what a folder holds, sorted.
inline std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Makes a folder the process's current folder for the life of this object; the game's start-up
// writes debuglog.txt and myversion.txt there.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~ScopedCwd() {
        std::error_code ec;
        fs::current_path(previous_, ec);
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    fs::path previous_;
};

// A folder layout for driver runs: run/ is the current folder, home/ the program's folder.
struct DriverDirs {
    TempDir root;
    std::string run = root.sub("run");
    std::string home = root.sub("home");

    struct Ended {
        std::string out, err;
        int status = -1;  // the exit status; 124 when it ran past its 20 s
    };
    // Runs the binary in run/ with `--home` home/ and extraArgs, feeding it input on standard input.
    Ended launch(const std::string& input, const std::string& extraArgs) const {
        static int counter = 0;
        const std::string io = root.file(std::to_string(++counter));
        writeBytes(io + ".in", input);
        const std::string command = "cd " + shellQuoted(run) + " && timeout 20 " + shellQuoted(TW_EXE) +
                                    " --headless --home " + shellQuoted(home) + " " + extraArgs + " < " +
                                    shellQuoted(io + ".in") + " > " + shellQuoted(io + ".out") + " 2> " +
                                    shellQuoted(io + ".err");
        const int status = std::system(command.c_str());
        return {readBytes(io + ".out").value_or(""), readBytes(io + ".err").value_or(""),
                status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }
    // A file in the program's folder.
    std::string homeFile(const std::string& name) const { return home + "/" + name; }
};

}  // namespace tw::driver
