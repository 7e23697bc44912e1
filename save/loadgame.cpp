// save/loadgame.cpp: reads a saved-game file, checks it whole, and only then makes it the game.
#include <climits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"
#include "save/savefile.h"

namespace tw {

namespace {

// Thrown at the first fault; carries the phrase the player hears.
struct Damaged {
    std::string why;
};

std::string num(int n) { return std::to_string(n); }

// Walks the file's lines in order; every read checks the end of the file first.
class LineReader {
public:
    explicit LineReader(std::vector<std::string> lines) : lines_(std::move(lines)) {}

    std::string text() {
        if (pos_ >= lines_.size()) throw Damaged{"the file ends too early"};
        return lines_[pos_++];
    }

    int number(const std::string& what) {
        const std::string field = readField(text());
        // Eleven characters hold every int; longer fields are refused before conversion.
        if (field.size() > 11) throw Damaged{what + " is not a whole number"};
        const auto n = fieldNumber(field);
        if (!n || *n < INT_MIN || *n > INT_MAX) throw Damaged{what + " is not a whole number"};
        return static_cast<int>(*n);
    }

    int count(const std::string& what, int low, int high) {
        const int n = number(what);
        if (n < low || n > high) throw Damaged{what + " is not between " + num(low) + " and " + num(high)};
        return n;
    }

    // A list's length is bounded by the lines still unread, never trusted on its own.
    int listLength(const std::string& what, std::size_t linesAfter) {
        const int n = number(what);
        if (n < 0) throw Damaged{what + " is below 0"};
        const std::size_t rest = lines_.size() - pos_;
        if (static_cast<std::size_t>(n) + linesAfter > rest) throw Damaged{what + " is more than the file holds"};
        return n;
    }

    void expectEnd() {
        for (; pos_ < lines_.size(); ++pos_)
            if (!lines_[pos_].empty()) throw Damaged{"the file goes on after the end of the game"};
    }

private:
    std::vector<std::string> lines_;
    std::size_t pos_ = 0;
};

// The version line as a field. A file may begin with more than one byte-order mark, or with
// blanks before one; only a mark at the very start is skipped as a mark, so the rest would be
// read as text and written back as a mark, which the next load skips: the same game saved
// twice would give two different files. They are skipped here too.
std::string versionField(const std::string& line) {
    constexpr std::string_view kMarkReadAsText = "\xC3\xAF\xC2\xBB\xC2\xBF";  // EF BB BF as Windows-1252
    std::string field = readField(line);
    while (field.compare(0, kMarkReadAsText.size(), kMarkReadAsText) == 0)
        field = readField(std::string_view(field).substr(kMarkReadAsText.size()));
    return field;
}

void readInto(LineReader& in, GameState& g) {
    g.version = versionField(in.text());
    g.curroom = in.number("the current room");
    g.curspot = in.number("the current spot");
    g.curitem = in.number("the current item");
    g.itemcount = in.count("the number of items", 1, kMaxItems);
    for (int i = 1; i <= g.itemcount; ++i) {
        g.itemname[i] = in.text();
        g.itemroom[i] = in.number("the room of item " + num(i));
        g.itemspot[i] = in.number("the spot of item " + num(i));
    }
    g.roomcount = in.count("the number of rooms", 1, kMaxRooms);
    for (int i = 1; i <= kMaxRooms; ++i) {
        g.roomname[i] = in.text();
        g.spotcount[i] = in.count("the number of spots in room " + num(i), 0, kMaxSpots);
        if (i <= g.roomcount && g.spotcount[i] < 1) throw Damaged{"room " + num(i) + " has no spots"};
        for (int j = 1; j <= g.spotcount[i]; ++j) g.spotname[i][j] = in.text();
    }
    // Bounded far above the forty of a game, so that counting on can never overflow.
    g.questsdone = in.count("the number of tasks done", 0, kMaxTasksDone);
    g.swapcount = in.count("the number of swaps", 0, kMaxSwaps);
    for (int k = 1; k <= g.swapcount; ++k) {
        g.swapfrom[k] = in.text();
        g.swapto[k] = in.text();
    }
    g.lastswaps = in.text();
    g.questtext = in.text();
    g.questitem = in.number("the task's item");
    g.questroom = in.number("the task's room");
    g.questspot = in.number("the task's spot");
    // One line after the first list: the second list's length.
    const int words1 = in.listLength("the number of words in the first list", 1);
    for (int k = 0; k < words1; ++k) g.List1.push_back(in.text());
    const int words2 = in.listLength("the number of words in the second list", 0);
    for (int k = 0; k < words2; ++k) g.List2.push_back(in.text());
    in.expectEnd();
}

bool placeExists(const GameState& g, int room, int spot) {
    return room >= 1 && room <= kMaxRooms && spot >= 1 && spot <= g.spotcount[room];
}

// The rules the running game relies on; counts were already checked while reading.
void checkPlayable(const GameState& g) {
    int inHand = 0;
    for (int i = 1; i <= g.itemcount; ++i) {
        const int room = g.itemroom[i];
        const int spot = g.itemspot[i];
        if (room == 0) {
            if (spot != 0) throw Damaged{"item " + num(i) + " is in the hand and at a spot"};
            ++inHand;
            continue;
        }
        if (room < 1 || room > kMaxRooms) throw Damaged{"item " + num(i) + " lies in a room that does not exist"};
        if (!placeExists(g, room, spot)) throw Damaged{"item " + num(i) + " lies at a spot that does not exist"};
    }
    if (inHand == 0) throw Damaged{"no item is in the hand"};
    if (inHand > 1) throw Damaged{"more than one item is in the hand"};

    if (g.curroom < 1 || g.curroom > kMaxRooms) throw Damaged{"the current room does not exist"};
    if (g.curspot < 0 || g.curspot > g.spotcount[g.curroom]) throw Damaged{"the current spot does not exist"};
    if (g.curitem < 0 || g.curitem > g.itemcount) throw Damaged{"the current item does not exist"};

    if (g.questitem < 1 || g.questitem > g.itemcount) throw Damaged{"the task's item does not exist"};
    if (g.questroom < 1 || g.questroom > g.roomcount) throw Damaged{"the task's room does not exist"};
    if (g.questspot < 1 || g.questspot > g.spotcount[g.questroom]) throw Damaged{"the task's spot does not exist"};

    // Choosing the next task draws until it finds an item that lies somewhere and a new place
    // for it among the rooms that tasks use. The player can move every item onto one place, so
    // only a house with an item to move and two such places is sure to have a task.
    int places = 0;
    for (int r = 1; r <= g.roomcount; ++r) places += g.spotcount[r];
    if (g.itemcount < 2) throw Damaged{"a task needs at least two items"};
    if (places < 2) throw Damaged{"a task needs at least two spots in the rooms that tasks use"};
}

}  // namespace

Outcome readSavedGame(std::string_view bytes, GameState& out) {
    if (bytes.empty()) return Outcome::failed("the file is empty");
    std::vector<std::string> lines = splitLines(withoutByteOrderMark(bytes));
    for (auto& line : lines) line = cp1252ToUtf8(line);
    LineReader in(std::move(lines));
    try {
        readInto(in, out);
        checkPlayable(out);
    } catch (const Damaged& fault) {
        return Outcome::failed(fault.why);
    }
    return {};
}

bool looksLikeSavedGame(std::string_view start) {
    const std::vector<std::string> lines = splitLines(withoutByteOrderMark(start));
    if (lines.size() < 6) return false;  // the fifth value line must be whole
    for (std::size_t i = 1; i <= 4; ++i)
        if (!fieldNumber(readField(lines[i]))) return false;
    return true;
}

Outcome readSaveFile(const std::string& path, GameState& out) {
    std::string bytes;
    const Outcome read = files::readAll(path, bytes, kMaxSaveBytes);
    if (!read.ok) return Outcome::failed("the file cannot be read: " + read.why);
    if (lineCountBound(bytes) > kMaxSaveLines + 1)
        return Outcome::failed("the file has too many lines for a saved game");
    return readSavedGame(bytes, out);
}

Outcome Form1::loadgame(const std::string& tempm) {
    if (tempm.empty()) return Outcome::failed("no name was given");
    const std::string path = playerpath(tempm);
    if (files::isFolder(path)) return Outcome::failed("that name is a folder, not a saved game");
    if (!files::exists(path)) return Outcome::failed("there is no saved game of that name");

    // The file goes into a scratch state first, so a damaged one leaves the game as it was.
    auto scratch = std::make_unique<GameState>();
    if (const Outcome read = readSaveFile(path, *scratch); !read.ok) return read;
    // A fresh house first, as every load builds one, so the random draws after a load are the
    // same as the design's; the file then replaces all of it.
    newgame();
    static_cast<GameState&>(*this) = std::move(*scratch);
    return {};
}

}  // namespace tw
