// platform/windows/win_main.cpp: runs the game in its window until the game or the window ends it.
#include "platform/windows/win_main.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>

#include "app/run.h"
#include "platform/windows/win_platform.h"

namespace tw {

namespace {

bool usable(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

int runWindows(const WindowsOptions& options) {
    try {
        // The form is torn down before the platform: the voice and the screen-reader object
        // are released while COM still stands, and COM is shut down last.
        WinPlatform platform(options.home, options.player);
        Form1 form(platform);
        form.seedoverride = options.seed;
        return runGame(form, {[&] { platform.show(); }, [&](Form1&) { return platform.run(); }});
    } catch (const std::exception& e) {
        // The player may have no other way to learn why the game is gone.
        showStartFailure(std::string("Tumblewick has stopped: ") + e.what());
        return 1;
    }
}

void showStartFailure(const std::string& why) {
    MessageBoxW(nullptr, widen(why).c_str(), L"Tumblewick", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void useParentConsole() {
    const bool in = usable(STD_INPUT_HANDLE);
    const bool out = usable(STD_OUTPUT_HANDLE);
    const bool err = usable(STD_ERROR_HANDLE);
    if (in && out && err) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // Redirected streams stay where they were sent; only the missing ones go to the console.
    if (!in) (void)std::freopen("CONIN$", "r", stdin);
    if (!out) (void)std::freopen("CONOUT$", "w", stdout);
    if (!err) (void)std::freopen("CONOUT$", "w", stderr);
}

void binaryStdout() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace tw
