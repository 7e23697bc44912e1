// platform/windows/win_folders.cpp: the program's folder and full paths in UTF-16, and the named
// mutex that lets one copy of the game run per folder.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/fnv_hash.h"
#include "platform/windows/win_platform.h"

namespace tw {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Keeps "C:\" and "\\" whole: there the separator is the folder itself.
void stripTrailingSeparators(std::wstring& path) {
    while (path.size() > 1 && isSeparator(path.back())) {
        if (path.size() == 3 && path[1] == L':') break;
        path.pop_back();
    }
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return full;
}

// The folder's UTF-16 code units, little-endian, as the hash has always read them.
std::uint64_t fnv1a(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
        bytes += static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF);
    }
    return fnv1a64(bytes);
}

// Handles of the mutexes this process won; never closed, so they last until the process ends.
std::mutex gHeldMutex;
std::vector<HANDLE>* gHeld = nullptr;

}  // namespace

std::string windowsProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) return ".";
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        path.resize(path.size() * 2);  // truncated: long paths exceed MAX_PATH
    }
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    path.resize(slash + 1);
    stripTrailingSeparators(path);
    return narrowUtf8(path);
}

std::string windowsFullPath(const std::string& folder) {
    std::wstring full = fullPath(widen(folder.empty() ? std::string(".") : folder));
    stripTrailingSeparators(full);
    return narrowUtf8(full);
}

std::wstring instanceMutexName(const std::string& programFolder) {
    std::wstring path = fullPath(widen(programFolder.empty() ? std::string(".") : programFolder));
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    // Short (8.3) and long spellings of one folder must share one lock.
    const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed > 0) {
        std::wstring longPath(needed, L'\0');
        const DWORD written = GetLongPathNameW(path.c_str(), longPath.data(), needed);
        if (written > 0 && written < needed) {
            longPath.resize(written);
            path = std::move(longPath);
        }
    }
    stripTrailingSeparators(path);
    if (!path.empty()) {
        std::wstring upper(path.size(), L'\0');
        const int got =
            LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()),
                          upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (got > 0) {
            upper.resize(static_cast<std::size_t>(got));
            path = std::move(upper);
        }
    }
    // The folder's own identity, its volume and file ID, names the copy's mutex, so every path to
    // the folder (a junction, a mapped drive, a short name) finds the same one; the path is the
    // fall-back where the folder cannot be opened.
    wchar_t name[96];
    HANDLE folder = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (folder != INVALID_HANDLE_VALUE && GetFileInformationByHandle(folder, &info)) {
        std::swprintf(name, 96, L"Local\\Tumblewick-%08lx-%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                      info.nFileIndexLow);
    } else {
        std::swprintf(name, 96, L"Local\\Tumblewick-%016llx", static_cast<unsigned long long>(fnv1a(path)));
    }
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    return name;
}

bool windowsInstanceRunning(const std::string& programFolder) {
    const std::wstring name = instanceMutexName(programFolder);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (!mutex) return error == ERROR_ACCESS_DENIED;  // another user's copy holds it
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return true;
    }
    std::lock_guard<std::mutex> lock(gHeldMutex);
    if (!gHeld) gHeld = new std::vector<HANDLE>;
    gHeld->push_back(mutex);
    return false;
}

}  // namespace tw
