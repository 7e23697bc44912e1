// platform/headless/headless_main.cpp: the headless driver: commands in, perceived events out.
#include "platform/headless/headless_main.h"

#include <array>
#include <iostream>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "game/form1.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/key_names.h"

namespace tw {

namespace {

bool skippable(const std::string& line) { return line.empty() || line[0] == '#'; }

// The next command line that is not blank or a comment; false at the end of input.
bool nextCommand(std::istream& in, std::string& line) {
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!skippable(line)) return true;
    }
    return false;
}

// The keys of a "key" or "held" command after its word (and the milliseconds of "held"): either
// a code and a shift state in numbers, or key names ("Down", "Ctrl+Grave", "1WA").
std::optional<std::vector<KeyPress>> commandKeys(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
    // Numbers: a code of two digits or more ("key 40"), or a code and a shift state ("key 9 0");
    // "key 1", "key 1 2 3" and "key 1WA" are key names.
    std::istringstream numbers(rest);
    std::string first, second, more;
    numbers >> first >> second >> more;
    const auto digits = [](const std::string& w) {
        return !w.empty() && w.size() <= 9 && w.find_first_not_of("0123456789") == w.npos;
    };
    if (digits(first) && (second.empty() ? first.size() >= 2 : digits(second)) && more.empty()) {
        const int code = std::stoi(first), shift = second.empty() ? 0 : std::stoi(second);
        return std::vector<KeyPress>{{code, shift}};
    }
    return keyNames(rest);
}

// "mark TEXT" is echoed as "mark: TEXT", so that a key script can tell which command said what.
bool marked(const std::string& line, std::ostream& out) {
    if (line.rfind("mark ", 0) != 0) return false;
    out << "mark: " << line.substr(5) << '\n';
    return true;
}

// "type TEXT" gives TEXT; "type" alone, any other line, or the end of input gives "".
std::string typedAnswer(std::istream& in, std::ostream& out) {
    std::string line;
    while (nextCommand(in, line) && marked(line, out)) {}
    if (in.fail()) return "";
    if (line == "type") return "";
    if (line.rfind("type ", 0) == 0) return line.substr(5);
    return "";
}

}  // namespace

int runHeadless(const HeadlessOptions& options, std::istream& in, std::ostream& out) {
    HeadlessPlatform platform(options.home, &out);
    platform.jawsAvailable = options.jaws;
    platform.voiceAvailable = options.voice;
    platform.player = options.player;
    platform.instanceCheck = options.instanceCheck;
    platform.inputAnswer = [&in, &out](const std::string&, const std::string&) { return typedAnswer(in, out); };

    Form1 form(platform);
    form.seedoverride = options.seed;
    try {
        form.Form_Load();
        form.Form_Activate();
        std::string line;
        // Keys the player presses while the next key's waits run: milliseconds after it, code, shift.
        std::vector<std::array<int, 3>> held;
        while (nextCommand(in, line)) {
            std::istringstream words(line);
            std::string command;
            words >> command;
            if (marked(line, out)) continue;
            int ms = 0;
            if (command == "held" && !(words >> ms && ms >= 0)) {
                std::cerr << "tumblewick: held needs milliseconds and keys: " << line << '\n';
                continue;
            }
            if (command == "held" || command == "key") {
                const auto keys = commandKeys(words);
                if (!keys || keys->empty()) {
                    std::cerr << "tumblewick: no such key: " << line << '\n';
                    continue;
                }
                if (command == "held") {
                    for (const KeyPress& k : *keys) held.push_back({ms, k.code, k.shift});
                    continue;
                }
                // Each key in turn, run until it and everything it started (waits included) is over.
                for (const KeyPress& k : *keys) {
                    const double now = platform.nowMs();
                    platform.queueKey(k.code, k.shift);
                    for (const auto& [after, heldCode, heldShift] : held)
                        platform.queueKey(heldCode, heldShift, now + after);
                    held.clear();
                    do {
                        platform.doEvents();
                        if (!platform.idle()) platform.waitEvents();
                    } while (!platform.idle());
                }
            } else if (command != "type") {
                std::cerr << "tumblewick: unknown command: " << line << '\n';
            }
        }
    } catch (const ProcessEnded& end) {
        out.flush();
        return end.status;
    }
    // End of input: the system closes the window; nothing is written. (A browser tab closed is
    // the same, and the two are checked against each other.)
    out.flush();
    return 0;
}

}  // namespace tw
