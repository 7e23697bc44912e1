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

bool savedGameBytes(const GameState& s, std::string& bytes, std::string& why) {
    if (s.itemcount < 0 || s.itemcount > kMaxItems) {
        why = "the number of items is not between 0 and " + std::to_string(kMaxItems);
        return false;
    }
    for (int i = 1; i <= kMaxRooms; ++i) {
        if (s.spotcount[i] < 0 || s.spotcount[i] > kMaxSpots) {
            why = "the number of spots in room " + std::to_string(i) + " is not between 0 and " +
                  std::to_string(kMaxSpots);
            return false;
        }
    }
    if (s.swapcount < 0 || s.swapcount > kMaxSwaps) {
        why = "the number of swaps is not between 0 and " + std::to_string(kMaxSwaps);
        return false;
    }

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
    return true;
}

FileResult Form1::savegame(const std::string& tempm) {
    if (tempm.empty()) return {false, "no name was given"};
    std::string bytes;
    std::string why;
    // Everything is built before the file is touched, so a refusal writes nothing.
    if (!savedGameBytes(*this, bytes, why)) return {false, why};
    if (!replaceFileBytes(programpath(tempm), bytes, why)) return {false, "the file cannot be written: " + why};
    return {true, ""};
}

}  // namespace tw
