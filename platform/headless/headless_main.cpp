// platform/headless/headless_main.cpp: the headless driver: commands in, perceived events out.
#include "platform/headless/headless_main.h"

#include <array>
#include <iostream>
#include <istream>
#include <ostream>
#include <sstream>
#include <vector>

#include "game/form1.h"
#include "platform/headless/headless_platform.h"

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

// "type TEXT" gives TEXT; "type" alone, any other line, or the end of input gives "".
std::string typedAnswer(std::istream& in) {
    std::string line;
    if (!nextCommand(in, line)) return "";
    if (line == "type") return "";
    if (line.rfind("type ", 0) == 0) return line.substr(5);
    return "";
}

}  // namespace

int runHeadless(const HeadlessOptions& options, std::istream& in, std::ostream& out) {
    HeadlessPlatform platform(options.home, &out);
    platform.jawsAvailable = options.jaws;
    platform.player = options.player;
    platform.instanceCheck = options.instanceCheck;
    platform.inputAnswer = [&in](const std::string&, const std::string&) { return typedAnswer(in); };

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
            if (command == "held") {
                int ms = 0, code = 0, shift = 0;
                if (!(words >> ms >> code) || ms < 0) {
                    std::cerr << "tumblewick: held needs milliseconds and a code: " << line << '\n';
                    continue;
                }
                words >> shift;
                held.push_back({ms, code, shift});
            } else if (command == "key") {
                int code = 0;
                int shift = 0;
                if (!(words >> code)) {
                    std::cerr << "tumblewick: key needs a code: " << line << '\n';
                    continue;
                }
                words >> shift;
                const double now = platform.nowMs();
                platform.queueKey(code, shift);
                for (const auto& [ms, heldCode, heldShift] : held) platform.queueKey(heldCode, heldShift, now + ms);
                held.clear();
                // Run until the key and everything it started (waits included) is over.
                do {
                    platform.doEvents();
                    if (!platform.idle()) platform.waitEvents();
                } while (!platform.idle());
            } else if (command != "type") {
                std::cerr << "tumblewick: unknown command: " << line << '\n';
            }
        }
    } catch (const ProcessEnded& end) {
        out.flush();
        return end.status;
    }
    // End of input: the system closes the window; nothing is written.
    out.flush();
    return 0;
}

}  // namespace tw
