// input/prompts.cpp: the save and load entries of the main menu: the name, the checks, the answer.
#include <array>

#include "game/form1.h"
#include "game/text.h"

namespace tw {

namespace {

// The game's own files and folders, which a saved game must never replace.
constexpr std::array<const char*, 9> kReserved = {
    "words.txt", "progress.ini", "lasttask.txt",   "debuglog.txt", "myversion.txt",
    "sounds",    "tumblewick",   "tumblewick.exe", "award.wav",
};

// A name is a plain file name inside the program's folder, not one of the game's own files.
bool usablename(const std::string& name) {
    if (name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) return false;
    for (const char* reserved : kReserved)
        if (samenocase(name, reserved)) return false;
    return true;
}

const char* kUnusable =
    "That name cannot be used.  Type a plain file name, without slashes or colons, "
    "that is not one of the game's own files.";

}  // namespace

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
    const FileResult result = savegame(name);
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
    if (speechmode == 0) sayit("Type the file name you wish to load, and press Enter.  Leave blank to cancel.");
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
    const FileResult result = loadgame(name);
    if (!result.ok) {
        sayit("That file could not be loaded: " + result.why + ".  Nothing has changed.");
        return;
    }
    sayit("Game loaded.  Press escape to enter to the game.");
}

}  // namespace tw
