// input/prompts.cpp: the save and load entries of the main menu: the name, the checks, the answer.
#include <algorithm>
#include <array>
#include <memory>

#include "game/form1.h"
#include "game/text.h"
#include "platform/files.h"
#include "save/savefile.h"

namespace tw {

namespace {

// The game's own files and folders, which a saved game must never replace.
constexpr std::array<const char*, 12> kReserved = {
    "words.txt",  "progress.ini", "lasttask.txt",  "debuglog.txt", "myversion.txt",  "sounds",
    "tumblewick", "award.wav",    "installed.txt", "readme.txt",   "tumblewick.exe", "uninstall.exe",
};

// Names Windows keeps for devices, whatever follows them after a dot.
constexpr std::array<const char*, 22> kDevices = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

// A name is a plain file name inside the player folder that means the same file on every system:
// none of the marks Windows refuses, no control characters, no end in a dot or a blank (Windows
// drops those, so "words.txt." would be words.txt), no device name, none of the game's own files
// (compared without letter case, as Windows and macOS compare), and not what a save's temporary
// file is called (those are removed at start-up).
bool usablename(const std::string& name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
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
    "< > \" | ? *, that does not end in a full stop or a blank, and is not one of the game's own "
    "files or a device name such as CON.";

// More names than this are counted, not read out.
constexpr std::size_t kNamesSpoken = 20;
// A folder full of other files is not searched without end.
constexpr std::size_t kFilesLooked = 500;

}  // namespace

std::vector<std::string> Form1::savedgames() const {
    std::vector<std::string> found;
    const std::string folder = platform.playerFolder();
    std::size_t looked = 0;
    for (const std::string& name : files::fileNames(folder)) {
        if (name[0] == '.' || !usablename(name) || files::isTemporaryName(name)) continue;
        if (++looked > kFilesLooked) break;
        auto scratch = std::make_unique<GameState>();
        if (readSaveFile(folder + "/" + name, *scratch).ok) found.push_back(name);
    }
    // In the order a player expects a list of names: letter case does not count.
    std::stable_sort(found.begin(), found.end(),
                     [](const std::string& a, const std::string& b) { return ucase(a) < ucase(b); });
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

void Form1::saveprompt() {
    if (speechmode == 0) sayit("Type the file name you wish to save to, and press Enter.  Leave blank to cancel.");
    const std::string name =
        platform.inputBox("Type the file name you wish to save to.  Leave blank to cancel.", "Save game");
    if (name.empty()) {
        sayit("Save canceled.");
        return;
    }
    if (!usablename(name)) {
        sayit(kUnusable);
        return;
    }
    const Outcome result = savegame(name);
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
    const std::string name =
        platform.inputBox("Type the file name you wish to load.  Leave blank to cancel.", "Load game");
    if (name.empty()) {
        sayit("Load canceled.");
        return;
    }
    if (!usablename(name)) {
        sayit(kUnusable);
        return;
    }
    if (!platform.fileExists(programpath(name))) {
        sayit("That file cannot be found within the game's directory.");
        return;
    }
    const Outcome result = loadgame(name);
    if (!result.ok) {
        sayit("That file could not be loaded: " + result.why + ".  Nothing has changed.");
        return;
    }
    sayit("Game loaded.  Press escape to enter to the game.");
}

}  // namespace tw
