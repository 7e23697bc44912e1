// platform/linux/instance_lock.cpp: one running copy per program folder, held with flock().
#include "platform/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace tw {

namespace {

// Descriptors of the locks this process won; never closed, so the locks last until exit.
std::mutex gHeldMutex;
std::vector<int>* gHeld = nullptr;

}  // namespace

bool anotherInstanceRunning(const std::string& programFolder) {
    const int fd = ::open(programFolder.empty() ? "." : programFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK;
    }
    std::lock_guard<std::mutex> lock(gHeldMutex);
    if (!gHeld) gHeld = new std::vector<int>;
    gHeld->push_back(fd);
    return false;
}

}  // namespace tw
