// platform/folders.cpp: the program folder and the player folder.
#include "platform/folders.h"

namespace tw {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == kSeparator)) return folder + name;
    return folder + kSeparator + name;
}

std::string parentOf(const std::string& folder) {
    const auto slash = folder.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? folder.substr(0, 1) : folder.substr(0, slash);
}

}  // namespace

std::string programFolderFor(const std::string& home, const std::string& exeFolder) {
    if (!home.empty()) return home;
    if (files::isFile(join(exeFolder, "words.txt"))) return exeFolder;
    const std::string shared = join(join(parentOf(exeFolder), "share"), "tumblewick");
    if (files::isFile(join(shared, "words.txt"))) return shared;
    return exeFolder;
}

Outcome resolveFolders(const std::string& program, const std::string& userData, GameFolders& out) {
    out.program = program;
    out.installed = files::isFile(join(program, kInstalledMarker)) || !files::canWriteIn(program);
    if (!out.installed) {
        out.player = program;
        return {};
    }
    if (userData.empty())
        return Outcome::failed(
            "This copy of the game is installed, so it keeps its files in a folder of your own, "
            "but your home folder cannot be found.  Set HOME, or start the game with --home "
            "and a folder you can write to.");
    out.player = join(userData, kPlayerFolderName);
    if (const Outcome made = files::makeFolders(out.player); !made.ok)
        return Outcome::failed("The folder for your games, " + out.player + ", cannot be made: " + made.why + ".");
    if (!files::canWriteIn(out.player))
        return Outcome::failed("The folder for your games, " + out.player + ", cannot be written to.");
    return {};
}

}  // namespace tw
