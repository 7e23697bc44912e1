// tests/linux/test_support.h: temporary folders, environment and timing helpers for the Linux tests.
#pragma once

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

#include "tests/driver_util.h"
#include "tests/wav_util.h"
#include <vector>

#include "platform/platform.h"
#include "platform/terminal/key_decoder.h"

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

}  // namespace tw_test

namespace tw {
// A key-down as the decoder's table writes it: the code, and "/" and the shift bits when any.
inline void PrintTo(const KeyDown& k, std::ostream* os) {
    *os << k.KeyCode << (k.Shift ? "/" + std::to_string(k.Shift) : "");
}
}  // namespace tw
