// input/prompts.cpp: the save and load entries of the main menu: the name, the checks, the answer.
#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "game/form1.h"
#include "game/text.h"
#include "platform/keys.h"
#include "platform/files.h"
#include "save/savefile.h"

namespace tw {

namespace {

// The game's own files and folders, which a saved game must never replace.
constexpr std::array<const char*, 14> kReserved = {
    "words.txt", "progress.ini",  "lasttask.txt", "debuglog.txt",   "myversion.txt", "sounds",      "tumblewick",
    "award.wav", "installed.txt", "readme.txt",   "tumblewick.exe", "uninstall.exe", kAutosaveName, kEarlierName,
};

// Names Windows keeps for devices, whatever follows them after a dot; it counts the superscript
// digits one to three as digits there too.
constexpr std::array<const char*, 28> kDevices = {
    "CON",  "PRN",  "AUX",       "NUL",       "COM1",      "COM2",      "COM3",      "COM4",      "COM5", "COM6",
    "COM7", "COM8", "COM9",      "LPT1",      "LPT2",      "LPT3",      "LPT4",      "LPT5",      "LPT6", "LPT7",
    "LPT8", "LPT9", "COM\u00B9", "COM\u00B2", "COM\u00B3", "LPT\u00B9", "LPT\u00B2", "LPT\u00B3",
};

// A name is a plain file name inside the player folder that means the same file on every system:
// none of the marks Windows refuses, no control characters, no end in a dot or a blank (Windows
// drops those, so "words.txt." would be words.txt), no device name, none of the game's own files
// (compared without letter case, as Windows and macOS compare), and not what a save's temporary
// file is called (those are removed at start-up).
bool usablename(const std::string& name) {
    // A name starting with a dot is hidden on Linux, so it would never be listed.
    if (name.empty() || name.front() == '.' || name.back() == '.' || name.back() == ' ') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
        for (char mark : std::string_view("<>:\"/\\|?*"))
            if (c == static_cast<unsigned char>(mark)) return false;
    }
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* device : kDevices)
        if (samenocase(stem, device)) return false;
    for (const char* reserved : kReserved)
        if (samenocase(name, reserved)) return false;
    return !files::isTemporaryName(name);
}

const char* kUnusable =
    "That name cannot be used.  Type a plain file name, without slashes, colons, or any of the marks "
    "< > \" | ? *, that does not start or end in a full stop or end in a blank, and is not one of the "
    "game's own files or a device name such as CON.";
const char* kNotText =
    "That name cannot be used.  It holds a character that is not text in this system's encoding.  Type "
    "it again with letters the game can read.";

// The name to use for name: an existing file whose name differs only in letter case is the same
// saved game, as on Windows, so saves mean the same on every system.
std::string sameSave(const std::string& folder, const std::string& name) {
    if (files::exists(folder + "/" + name)) return name;
    for (const std::string& existing : files::fileNames(folder))
        if (samenocase(existing, name)) return existing;
    return name;
}

// Why name cannot be used, or empty.
const char* refusal(const std::string& name) {
    if (!validutf8(name)) return kNotText;
    return usablename(name) ? "" : kUnusable;
}

// The hyphen key's code.
constexpr int kMinus = 189;

// More names than this are counted, not read out.
constexpr std::size_t kNamesSpoken = 20;
// Enough of a file's start to see whether it begins as a saved game.
constexpr std::size_t kSaveStartBytes = 512;

}  // namespace

std::vector<std::string> Form1::savedgames() const {
    std::vector<std::string> found;
    const std::string folder = platform.playerFolder();
    for (const std::string& name : files::fileNames(folder)) {
        if (!usablename(name)) continue;
        // Only a file that starts as a save is read whole.
        std::string start;
        const std::string path = folder + "/" + name;
        if (!files::readStart(path, start, kSaveStartBytes).ok || !looksLikeSavedGame(start)) continue;
        auto scratch = std::make_unique<GameState>();
        if (readSaveFile(path, *scratch).ok) found.push_back(name);
    }
    // In the order a player expects a list of names: letter case does not count.
    std::stable_sort(found.begin(), found.end(),
                     [](const std::string& a, const std::string& b) { return ucase(a) < ucase(b); });
    // The automatic saves first, under the names they are loaded by.
    const auto playable = [&folder](const char* file) {
        auto scratch = std::make_unique<GameState>();
        return readSaveFile(folder + "/" + file, *scratch).ok;
    };
    if (playable(kEarlierFile)) found.insert(found.begin(), kEarlierName);
    if (playable(kAutosaveFile)) found.insert(found.begin(), kAutosaveName);
    return found;
}

std::string Form1::savedgamestext() const {
    const std::vector<std::string> names = savedgames();
    if (names.empty()) return "There are no saved games yet.";
    std::string text = "Saved games: ";
    for (std::size_t i = 0; i < names.size() && i < kNamesSpoken; ++i) text += (i ? ", " : "") + names[i];
    if (names.size() > kNamesSpoken) text += ", and " + std::to_string(names.size() - kNamesSpoken) + " more";
    return text + ".";
}

// A name typed ahead, during a completion's waits, right behind the keys that opened its question:
// the held keys up to an Enter, when every one of them is text (letters, digits, a blank, a
// comma, a full stop, a hyphen; Backspace takes one back). They are the answer, as a terminal's
// line discipline would have made them, instead of game keys after the box. Nothing otherwise.
std::optional<std::string> Form1::typedahead() {
    std::string text;
    for (std::size_t i = 0; i < heldkeys_.size(); ++i) {
        const auto [code, shift] = heldkeys_[i];
        if (key::modifierMask(code)) continue;
        if (code == key::Enter && shift == 0) {
            heldkeys_.erase(heldkeys_.begin(), heldkeys_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return text;
        }
        if ((shift & ~key::ShiftMask) != 0) return std::nullopt;
        const bool upper = (shift & key::ShiftMask) != 0;
        if (code >= 'A' && code <= 'Z')
            text += static_cast<char>(upper ? code : code - 'A' + 'a');
        else if (code >= '0' && code <= '9' && !upper)
            text += static_cast<char>(code);
        else if (!upper && (code == ' ' || code == key::Comma || code == key::Period || code == kMinus))
            text += code == ' ' ? ' ' : code == key::Comma ? ',' : code == key::Period ? '.' : '-';
        else if (code == key::Back && !upper && !text.empty())
            text.pop_back();
        else
            return std::nullopt;
    }
    return std::nullopt;
}

void Form1::saveprompt() {
    const std::optional<std::string> typed = typedahead();
    if (speechmode == 0 && !typed)
        sayit("Type the file name you wish to save to, and press Enter.  Leave blank to cancel.");
    const std::string name =
        typed ? *typed
              : platform.inputBox("Type the file name you wish to save to.  Leave blank to cancel.", "Save game");
    if (name.empty()) {
        sayit("Save canceled.");
        return;
    }
    if (const char* why = refusal(name); *why) {
        sayit(why);
        return;
    }
    const Outcome result = savegame(sameSave(platform.playerFolder(), name));
    if (!result.ok) {
        std::string why = result.why;
        if (!why.empty() && why[0] >= 'a' && why[0] <= 'z') why[0] = static_cast<char>(why[0] - 'a' + 'A');
        sayit("The game could not be saved as " + name + ".  " + why + ".  Nothing was written.");
        return;
    }
    sayit("Game saved as " + name + ".  Press escape to return to the game.");
    menu = 1;
    menupos = 0;
}

void Form1::loadprompt() {
    // Which games there are, before the question; on the voice path in the same breath, since
    // the question would cut a separate sentence off.
    const std::string saves = savedgamestext();
    if (speechmode == 0)
        sayit(saves + "  Type the file name you wish to load, and press Enter.  Leave blank to cancel.");
    else
        sayit(saves);
    const std::optional<std::string> typed = typedahead();
    const std::string name =
        typed ? *typed : platform.inputBox("Type the file name you wish to load.  Leave blank to cancel.", "Load game");
    if (name.empty()) {
        sayit("Load canceled.");
        return;
    }
    const bool last = samenocase(name, kAutosaveName), earlier = samenocase(name, kEarlierName);
    if (const char* why = last || earlier ? "" : refusal(name); *why) {
        sayit(why);
        return;
    }
    const std::string file = last ? kAutosaveFile : earlier ? kEarlierFile : sameSave(platform.playerFolder(), name);
    if (!files::isFile(playerpath(file))) {
        sayit("That file cannot be found within the game's directory.");
        return;
    }
    // The game in progress is kept before another replaces it; the automatic save then holds the
    // loaded game, and the one it held, if it had progress, moves aside.
    if (!last) autosave();
    const Outcome result = loadgame(file);
    if (!result.ok) {
        sayit("That file could not be loaded: " + result.why + ".  Nothing has changed.");
        return;
    }
    lastisother_ = !last;
    sayit("Game loaded.  Press escape to enter to the game." +
          std::string(!last && autosave() == Autosaved::earlierkept ? kEarlierKept : ""));
}

}  // namespace tw
