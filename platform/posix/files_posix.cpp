// platform/posix/files_posix.cpp: the file layer on Linux and other POSIX systems.
#include <dirent.h>
#include <pwd.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/files.h"
#include "platform/files_internal.h"

namespace tw::files {

namespace {

// True when the test hook makes this step fail; errno then reads as an input/output error.
bool injected(Step step) {
    if (faultInjected(step)) {
        errno = EIO;
        return true;
    }
    return false;
}

std::string reason() { return std::strerror(errno); }

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeAll(int fd, std::string_view bytes) {
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
    ::close(fd);
    return ok;
}

}  // namespace

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

long long sizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

Outcome readStart(const std::string& path, std::string& bytes, std::size_t count) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Outcome::failed(reason());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Outcome::failed("it is not a file");
    }
    bytes.assign(count, '\0');
    ssize_t n;
    do n = ::pread(fd, bytes.data(), count, 0);
    while (n < 0 && errno == EINTR);
    const std::string why = n < 0 ? reason() : "";
    ::close(fd);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return n < 0 ? Outcome::failed(why) : Outcome{};
}

Outcome readAll(const std::string& path, std::string& bytes, std::size_t maxBytes) {
    // Opened without waiting: a FIFO or a device planted at the name is refused, not waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Outcome::failed(reason());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Outcome::failed("it is not a file");
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        return Outcome::failed("it is larger than " + std::to_string(maxBytes / 1024) + " KB");
    }
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const std::string why = reason();
            ::close(fd);
            return Outcome::failed(why);
        }
        if (n == 0) break;
        // A file that grows while it is read is still held to the bound.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
            ::close(fd);
            return Outcome::failed("it is larger than " + std::to_string(maxBytes / 1024) + " KB");
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    bytes = std::move(data);
    return {};
}

std::string temporaryName() { return temporaryNameFor(static_cast<long long>(::getpid())); }

Outcome replace(const std::string& path, std::string_view bytes) {
    const std::string folder = folderOf(path);
    const std::string temp = folder + "/" + temporaryName();
    ::unlink(temp.c_str());  // a leftover of an earlier process that had this id
    const int fd =
        injected(Step::open) ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Outcome::failed(reason());
    std::string why;
    bool ok = true;
    if (injected(Step::write) || !writeAll(fd, bytes)) {
        ok = false;
        why = reason();
    }
    // Synced before the rename, or a crash could leave the new name on an empty file. (In the
    // browser a sync is a whole write of its storage, which a tab being closed has no time for:
    // the one after the rename does for both.)
    if (ok && (injected(Step::sync) || (!platformSyncsFiles() && ::fsync(fd) != 0))) {
        ok = false;
        why = reason();
    }
    if (injected(Step::close) || ::close(fd) != 0) {
        if (ok) why = reason();
        ok = false;
    }
    if (ok && (injected(Step::rename) || ::rename(temp.c_str(), path.c_str()) != 0)) {
        ok = false;
        why = reason();
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return Outcome::failed(why);
    }
    // The rename itself lives in the folder: synced too, so a power cut cannot undo it.
    if (injected(Step::syncFolder) || (!platformSyncsFiles() && !syncFolder(folder))) {
        // The new file is in place and whole; only its durability is in doubt.
        return Outcome::failed(reason());
    }
    return platformFolderSync();
}

Outcome writeFresh(const std::string& path, std::string_view bytes) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Outcome::failed(reason());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Outcome::failed(reason());
    bool ok = writeAll(fd, bytes);
    std::string why = ok ? "" : reason();
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = reason();
    }
    return ok ? Outcome{} : Outcome::failed(why);
}

std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && isFile(folder + "/" + name)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

Outcome makeFolders(const std::string& folder) {
    if (folder.empty()) return Outcome::failed("no folder was named");
    for (std::size_t at = 1;; ++at) {
        at = folder.find('/', at);
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return Outcome::failed(reason());
        if (at == std::string::npos) break;
    }
    if (isFolder(folder)) return {};
    struct stat link {
    }, target{};
    if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::stat(folder.c_str(), &target) != 0)
        return Outcome::failed("it is a link to something that is not there");
    return Outcome::failed("it is a file, not a folder");
}

bool canWriteIn(const std::string& folder) {
    const std::string probe = folder + "/" + temporaryName();
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

Outcome remove(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
    if (errno == EISDIR && ::rmdir(path.c_str()) == 0) return {};
    return Outcome::failed(reason());
}

Outcome enterFolder(const std::string& folder) {
    if (::chdir(folder.c_str()) != 0) return Outcome::failed(reason());
    return {};
}

std::string userDataFolder() {
    // Relative values are to be ignored, as the XDG rules say.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/') {
        home = user->pw_dir;
    }
    if (home.empty()) return "";
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    return (home == "/" ? "" : home) + "/.local/share";
}

void removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const long long pid = temporaryPid(entry->d_name);
        if (pid <= 0) continue;
        // A live process may be writing it this moment; EPERM still means alive. This process
        // has written nothing yet, so a file with its id is a dead namesake's.
        const bool self = pid == static_cast<long long>(::getpid());
        if (!self && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
        ::unlink((folder + "/" + entry->d_name).c_str());
    }
    ::closedir(dir);
}

}  // namespace tw::files
