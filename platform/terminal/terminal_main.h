// platform/terminal/terminal_main.h: the game in a terminal, with real speech.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tw {

struct TerminalOptions {
    std::optional<std::uint64_t> seed;
    std::string home;       // the program's folder
    std::string player;     // where the game writes; empty: the program's folder
    std::string speechWav;  // when set, path-0 speech is written to this WAV file
    bool echo = true;       // print what paths 0 and 3 speak too
};

int runTerminal(const TerminalOptions& options);

}  // namespace tw
