// platform/headless/headless_main.cpp: the headless driver: commands in, perceived events out.
#include "platform/headless/headless_main.h"

#include <array>
#include <iostream>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "app/run.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/key_names.h"

namespace tw {

namespace {

// A "held" close: the window closed while the next key's waits run.
constexpr int kClose = -1;

bool skippable(const std::string& line) { return line.empty() || line[0] == '#'; }

// The next command line that is not blank or a comment; false at the end of input.
bool nextCommand(std::istream& in, std::string& line) {
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!skippable(line)) return true;
    }
    return false;
}

// The keys of a "key" or "held" command after its word (and the milliseconds of "held"): key names
// only ("Down", "Ctrl+Grave", "1WA", "9"); a code in numbers is the "code" command's.
std::optional<std::vector<KeyPress>> commandKeys(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
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

// The driver's commands, one a line, until they run out.
int playCommands(HeadlessPlatform& platform, Form1& form, std::istream& in, std::ostream& out, std::ostream& err) {
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
            err << "tumblewick: held needs milliseconds and keys: " << line << '\n';
            continue;
        }
        if (command == "held" && line.ends_with(" close")) {
            held.push_back({ms, kClose, 0});
            continue;
        }
        if (command == "end") return 0;
        if (command == "close") platform.endProcess(0);
        if (command == "held" || command == "key" || command == "code") {
            std::string rest;
            const auto keys =
                command == "code" ? keyCode((std::getline(words >> std::ws, rest), rest)) : commandKeys(words);
            if (!keys || keys->empty()) {
                err << "tumblewick: no such key: " << line << '\n';
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
                    heldCode == kClose ? platform.queueClose(now + after)
                                       : platform.queueKey(heldCode, heldShift, now + after);
                held.clear();
                do {
                    platform.doEvents();
                    if (!platform.idle()) platform.waitEvents();
                } while (!platform.idle());
            }
        } else if (command == "stall") {
            // The screen reader's interface stops answering, as a stalled daemon does.
            form.screenReaderSilent();
        } else if (command != "type") {
            err << "tumblewick: unknown command: " << line << '\n';
        }
    }
    return 0;
}

}  // namespace

int runHeadless(const HeadlessOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
    HeadlessPlatform platform(options.home, &out);
    platform.jawsAvailable = options.jaws;
    platform.voiceAvailable = options.voice;
    platform.player = options.player;
    platform.instanceCheck = options.instanceCheck;
    platform.inputAnswer = [&in, &out](const std::string&, const std::string&) { return typedAnswer(in, out); };

    Form1 form(platform);
    form.seedoverride = options.seed;
    // The end of the commands ends the game as every front end's end does.
    const int status = runGame(form, {{}, [&](Form1& f) { return playCommands(platform, f, in, out, err); }});
    out.flush();
    return status;
}

}  // namespace tw
