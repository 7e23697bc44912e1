// platform/headless/headless_main.h: the headless driver behind `tumblewick --headless`.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace tw {

struct HeadlessOptions {
    std::optional<std::uint64_t> seed;
    std::string home;    // the program's folder
    std::string player;  // where the game writes; empty: the program's folder
    bool jaws = false;   // the screen-reader object can be created
    bool voice = true;   // the game's own voice can be made
    // Asks whether a copy with this program folder runs already; none means no other copy.
    std::function<bool(const std::string&)> instanceCheck;
};

// Runs a whole session: commands from in, one event line each to out, refused commands to err.
// The end of input ends the game as it ends on every front end. Returns the exit status.
int runHeadless(const HeadlessOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace tw
