// platform/terminal/terminal_clock.h: milliseconds until a moment of the steady clock.
#pragma once

#include <chrono>

namespace tw::terminal {

inline int millisUntil(std::chrono::steady_clock::time_point when) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - std::chrono::steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace tw::terminal
