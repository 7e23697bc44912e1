// platform/linux/instance_lock.cpp: one running copy per program folder, held with flock().
#include "platform/linux/instance_lock.h"

#include "platform/fnv_hash.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

namespace tw {

namespace {

std::string canonicalFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    const fs::path given = folder.empty() ? fs::path(".") : fs::path(folder);
    std::error_code error;
    fs::path resolved = fs::canonical(given, error);
    if (error) resolved = fs::weakly_canonical(given, error);
    if (error) return folder;
    return resolved.lexically_normal().string();
}

std::string lockDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime && runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) &&
        access(runtime, W_OK | X_OK) == 0)
        return runtime;
    return "/tmp";
}

// Descriptors of the locks this process won; never closed, so the locks last until exit.
std::mutex gHeldMutex;
std::vector<int>* gHeld = nullptr;

}  // namespace

std::string instanceLockPath(const std::string& programFolder) {
    char name[96];
    // The user id keeps two users of one shared /tmp from colliding.
    std::snprintf(name, sizeof name, "/tumblewick-%u-%016llx.lock", static_cast<unsigned>(getuid()),
                  static_cast<unsigned long long>(fnv1a64(canonicalFolder(programFolder))));
    return lockDirectory() + name;
}

bool anotherInstanceRunning(const std::string& programFolder) {
    const std::string path = instanceLockPath(programFolder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK;
    }
    // The holder's pid, for a person looking at the file; the lock itself is what counts.
    char pid[32];
    const int length = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd, pid, static_cast<std::size_t>(length), 0);
    }
    std::lock_guard<std::mutex> lock(gHeldMutex);
    if (!gHeld) gHeld = new std::vector<int>;
    gHeld->push_back(fd);
    return false;
}

}  // namespace tw
