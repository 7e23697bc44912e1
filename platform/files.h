// platform/files.h: the file operations the game needs, in the platform's own file-name form.
// Paths are UTF-8 text; each platform turns them into its native form in one place.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// What an operation did: ok, or why it failed in words a player can hear. Every failure the
// game goes on from (a file, a save, a load, the settings) comes back as an Outcome. A failure
// the program cannot go on from (a platform service missing, no folder to write in) is thrown,
// and the front end's start reports it once.
struct Outcome {
    bool ok = true;
    std::string why;
    static Outcome failed(std::string reason) { return Outcome{false, std::move(reason)}; }
};

namespace files {

bool isFile(const std::string& path);
bool isFolder(const std::string& path);
bool exists(const std::string& path);
// The file's size in bytes; -1 when it cannot be found.
long long sizeOf(const std::string& path);

// The whole file. Refused, with a reason, when it is larger than maxBytes, so a huge file costs
// neither memory nor time.
Outcome readAll(const std::string& path, std::string& bytes, std::size_t maxBytes);
// At most the first count bytes of the file.
Outcome readStart(const std::string& path, std::string& bytes, std::size_t count);

// Writes beside the target under a short temporary name, syncs it, renames it over the target
// and syncs the folder: a failure at any step leaves the old file whole and no temporary file.
// A symbolic link at the target is replaced, never followed.
Outcome replace(const std::string& path, std::string_view bytes);

// Removes what is at path (a link too, never what it points to) and creates a new file there.
Outcome writeFresh(const std::string& path, std::string_view bytes);

// Removes the file (or link, or empty folder) at path; a missing one is no failure.
Outcome remove(const std::string& path);

// The names of the plain files in folder, sorted; empty when it cannot be read.
std::vector<std::string> fileNames(const std::string& folder);
// Creates folder and every missing folder above it.
Outcome makeFolders(const std::string& folder);
// True when a file can be created in folder now (tried, not guessed from permissions: a
// read-only mount refuses even the administrator).
bool canWriteIn(const std::string& folder);
// Makes folder the process's current folder.
Outcome enterFolder(const std::string& folder);
// The operating system's folder for a user's own program data: $XDG_DATA_HOME, else
// ~/.local/share, on Linux; %APPDATA% on Windows. Empty when it cannot be told.
std::string userDataFolder();

// The temporary name replace() uses in a folder, for this process.
std::string temporaryName();
// True when name is what replace() would call a temporary file, of any process.
bool isTemporaryName(std::string_view name);
// Removes temporary files in folder left by processes that no longer run.
void removeStaleTemporaries(const std::string& folder);

// Where a platform keeps its files lasting in a way of its own (the browser's storage), it sets
// how; replace() calls it after syncing the folder, and a failure there fails the replace.
void setFolderSync(std::function<Outcome()> sync);

// For tests: called before each step of replace(); returning true makes that step fail.
enum class Step { open, write, sync, close, rename, syncFolder };
void setFaultForTests(std::function<bool(Step)> fault);

}  // namespace files
}  // namespace tw
