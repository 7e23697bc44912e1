// platform/windows/win_main.h: the game in its window on Windows, with real speech.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tw {

struct WindowsOptions {
    std::optional<std::uint64_t> seed;
    std::string home;    // the program's folder, UTF-8
    std::string player;  // where the game writes, UTF-8; empty: the program's folder
};

// Creates the window, loads the game, shows the window and runs its messages until the game
// ends the process or the window is closed (then nothing is saved). Returns the exit status.
int runWindows(const WindowsOptions& options);

// A GUI program starts with no console: when the standard streams lead nowhere, this joins
// the console of the program that started it, so --help and --headless can be used from one.
void useParentConsole();

// Tells the player in a message box that the game cannot start, and why.
void showStartFailure(const std::string& why);

// Standard output in binary mode, so headless transcripts end lines as on other systems.
void binaryStdout();

}  // namespace tw
