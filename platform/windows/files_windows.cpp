// platform/windows/files_windows.cpp: the file layer on Windows: every path goes through widen(),
// so UTF-8 names reach the file system as the UTF-16 names they spell.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/windows/wide.h"

namespace tw::files {

namespace {

bool injected(Step step) {
    if (faultInjected(step)) {
        SetLastError(ERROR_WRITE_FAULT);
        return true;
    }
    return false;
}

// The system's words for the last error, without the code the developer's message adds.
std::string reason() {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = text ? narrowUtf8(text) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash);
}

DWORD attributes(const std::string& path) { return GetFileAttributesW(widen(path).c_str()); }

bool writeAll(HANDLE file, std::string_view bytes) {
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!WriteFile(file, at, chunk, &done, nullptr) || done == 0) return false;
        at += done;
        left -= done;
    }
    return true;
}

}  // namespace

bool isFile(const std::string& path) {
    const DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isFolder(const std::string& path) {
    const DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::string& path) { return attributes(path) != INVALID_FILE_ATTRIBUTES; }

long long sizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Outcome readStart(const std::string& path, std::string& bytes, std::size_t count) {
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Outcome::failed(reason());
    bytes.assign(count, '\0');
    DWORD got = 0;
    const bool ok = ReadFile(file, bytes.data(), static_cast<DWORD>(count), &got, nullptr);
    const std::string why = ok ? "" : reason();
    CloseHandle(file);
    bytes.resize(ok ? got : 0);
    return ok ? Outcome{} : Outcome::failed(why);
}

Outcome readAll(const std::string& path, std::string& bytes, std::size_t maxBytes) {
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Outcome::failed(reason());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        const std::string why = reason();
        CloseHandle(file);
        return Outcome::failed(why);
    }
    const std::string tooLarge = "it is larger than " + std::to_string(maxBytes / 1024) + " KB";
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        CloseHandle(file);
        return Outcome::failed(tooLarge);
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            const std::string why = reason();
            CloseHandle(file);
            return Outcome::failed(why);
        }
        if (got == 0) break;
        if (data.size() + got > maxBytes) {
            CloseHandle(file);
            return Outcome::failed(tooLarge);
        }
        data.append(buffer, got);
    }
    CloseHandle(file);
    bytes = std::move(data);
    return {};
}

std::string temporaryName() { return temporaryNameFor(static_cast<long long>(GetCurrentProcessId())); }

Outcome replace(const std::string& path, std::string_view bytes) {
    const std::wstring temp = widen(folderOf(path) + "\\" + temporaryName());
    DeleteFileW(temp.c_str());
    HANDLE file = injected(Step::open) ? INVALID_HANDLE_VALUE
                                       : CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Outcome::failed(reason());
    std::string why;
    bool ok = true;
    if (injected(Step::write) || !writeAll(file, bytes)) {
        ok = false;
        why = reason();
    }
    if (ok && (injected(Step::sync) || !FlushFileBuffers(file))) {
        ok = false;
        why = reason();
    }
    if (injected(Step::close) || !CloseHandle(file)) {
        if (ok) why = reason();
        ok = false;
    }
    // Write-through: the rename is on disk when the call returns, which is the folder sync here.
    if (ok && (injected(Step::rename) ||
               !MoveFileExW(temp.c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))) {
        ok = false;
        why = reason();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return Outcome::failed(why);
    }
    if (injected(Step::syncFolder)) return Outcome::failed(reason());
    return {};
}

Outcome writeFresh(const std::string& path, std::string_view bytes) {
    const std::wstring wide = widen(path);
    if (!DeleteFileW(wide.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return Outcome::failed(reason());
    HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Outcome::failed(reason());
    bool ok = writeAll(file, bytes);
    std::string why = ok ? "" : reason();
    if (!CloseHandle(file) && ok) {
        ok = false;
        why = reason();
    }
    return ok ? Outcome{} : Outcome::failed(why);
}

std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(widen(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(narrowUtf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

Outcome makeFolders(const std::string& folder) {
    if (folder.empty()) return Outcome::failed("no folder was named");
    // Every folder on the way is tried; a drive or a network share refuses, and only the last
    // one's failure counts.
    bool made = true;
    for (std::size_t at = folder.find_first_of("/\\");; at = folder.find_first_of("/\\", at + 1)) {
        const std::string part = at == std::string::npos ? folder : folder.substr(0, at);
        if (!part.empty())
            made = CreateDirectoryW(widen(part).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
        if (at == std::string::npos) break;
    }
    if (!made && !isFolder(folder)) return Outcome::failed(reason());
    if (!isFolder(folder)) return Outcome::failed("it is a file, not a folder");
    return {};
}

bool canWriteIn(const std::string& folder) {
    const std::wstring probe = widen(folder + "\\" + temporaryName());
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

Outcome remove(const std::string& path) {
    const std::wstring wide = widen(path);
    if (DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return {};
    if (RemoveDirectoryW(wide.c_str())) return {};
    return Outcome::failed(reason());
}

Outcome enterFolder(const std::string& folder) {
    if (!SetCurrentDirectoryW(widen(folder).c_str())) return Outcome::failed(reason());
    return {};
}

std::string userDataFolder() {
    const wchar_t* appdata = _wgetenv(L"APPDATA");
    return appdata && appdata[0] ? narrowUtf8(appdata) : "";
}

void removeStaleTemporaries(const std::string& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(widen(folder + "\\.tumblewick-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = narrowUtf8(found.cFileName);
        const long long pid = temporaryPid(name);
        if (pid <= 0) continue;
        bool alive = false;
        if (pid != static_cast<long long>(GetCurrentProcessId())) {
            if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid))) {
                alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
                CloseHandle(process);
            } else {
                alive = GetLastError() == ERROR_ACCESS_DENIED;
            }
        }
        if (!alive) DeleteFileW(widen(folder + "\\" + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace tw::files
