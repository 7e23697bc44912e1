// save/savegame.cpp: writes the whole game to a saved-game file.
#include <string>
#include <vector>

#include "game/form1.h"
#include "game/text.h"
#include "save/savefile.h"

namespace tw {

namespace {

// A line break inside a text would split it in two and shift every line after it.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

}  // namespace

Outcome savedGameBytes(const GameState& s, std::string& bytes) {
    if (s.itemcount < 0 || s.itemcount > kMaxItems)
        return Outcome::failed("the number of items is not between 0 and " + std::to_string(kMaxItems));
    for (int i = 1; i <= kMaxRooms; ++i)
        if (s.spotcount[i] < 0 || s.spotcount[i] > kMaxSpots)
            return Outcome::failed("the number of spots in room " + std::to_string(i) + " is not between 0 and " +
                                   std::to_string(kMaxSpots));
    if (s.swapcount < 0 || s.swapcount > kMaxSwaps)
        return Outcome::failed("the number of swaps is not between 0 and " + std::to_string(kMaxSwaps));

    std::vector<std::string> lines;
    auto value = [&lines](long long n) { lines.push_back(valueText(n)); };
    auto text = [&lines](const std::string& t) { lines.push_back(oneLine(t)); };

    text(s.version);  // the one text value: written bare, read back as a field
    value(s.curroom);
    value(s.curspot);
    value(s.curitem);
    value(s.itemcount);
    for (int i = 1; i <= s.itemcount; ++i) {
        text(s.itemname[i]);
        value(s.itemroom[i]);
        value(s.itemspot[i]);
    }
    value(s.roomcount);
    // All ten rooms, whatever roomcount says: the reader expects them.
    for (int i = 1; i <= kMaxRooms; ++i) {
        text(s.roomname[i]);
        value(s.spotcount[i]);
        for (int j = 1; j <= s.spotcount[i]; ++j) text(s.spotname[i][j]);
    }
    value(s.questsdone);
    value(s.swapcount);
    for (int k = 1; k <= s.swapcount; ++k) {
        text(s.swapfrom[k]);
        text(s.swapto[k]);
    }
    text(s.lastswaps);
    text(s.questtext);
    value(s.questitem);
    value(s.questroom);
    value(s.questspot);
    value(static_cast<long long>(s.List1.size()));
    for (const auto& word : s.List1) text(word);
    value(static_cast<long long>(s.List2.size()));
    for (const auto& word : s.List2) text(word);

    bytes = joinLines(lines);
    // Never a file the game would refuse to load.
    if (bytes.size() > kMaxSaveBytes || lines.size() > kMaxSaveLines)
        return Outcome::failed("the game has grown larger than a saved game may be");
    return {};
}

Outcome Form1::savegame(const std::string& tempm) {
    if (tempm.empty()) return Outcome::failed("no name was given");
    std::string bytes;
    // Everything is built before the file is touched, so a refusal writes nothing.
    if (const Outcome built = savedGameBytes(*this, bytes); !built.ok) return built;
    if (const Outcome written = files::replace(playerpath(tempm), bytes); !written.ok)
        return Outcome::failed("the file cannot be written: " + written.why);
    return {};
}

}  // namespace tw
