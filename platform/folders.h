// platform/folders.h: where the game's files are read from and where the game writes.
// The program's folder holds what ships with the game (words.txt, sounds/award.wav). A copy whose
// folder can be written (a portable copy, the build's game folder, --home) also writes there.
// An installed copy (its folder cannot be written, or the installer left the marker file in
// it) writes into a folder of the player's own instead.
#pragma once

#include <string>

#include "platform/files.h"

namespace tw {

// The file an installer puts in the program's folder to mark the copy as installed.
inline constexpr const char* kInstalledMarker = "installed.txt";
// The player folder's name inside the system's per-user data folder.
#ifdef _WIN32
inline constexpr const char* kPlayerFolderName = "Tumblewick";
#else
inline constexpr const char* kPlayerFolderName = "tumblewick";
#endif

struct GameFolders {
    std::string program;  // shipped files
    std::string player;   // everything the game writes; the program's folder when it can be written
    bool installed = false;
};

// The program's folder: home when the player named one; else the program's own folder when it
// holds words.txt; else ../share/tumblewick beside it (an installed copy under any prefix);
// else the program's own folder.
std::string programFolderFor(const std::string& home, const std::string& exeFolder);

// Decides the player folder for a program folder, and makes it when needed. userData is the
// system's per-user data folder (files::userDataFolder()); it may be empty only when the copy is
// not installed. Fails, with a reason a player can act on, when an installed copy has nowhere
// to write.
Outcome resolveFolders(const std::string& program, const std::string& userData, GameFolders& out);

}  // namespace tw
