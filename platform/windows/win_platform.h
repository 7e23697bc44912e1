// platform/windows/win_platform.h: the game window and its services on Windows.
//
// What it supports: every service the game was designed on, with nothing substituted.
// - keys: WM_KEYDOWN and WM_SYSKEYDOWN of the focused window, with GetKeyState's modifiers. The
//   game's own keybd_event chord goes to the screen reader; marked as ours, it never reaches the game.
// - the window title: SetWindowText, which screen readers speak when it changes.
// - the SAPI voice (SapiVoice, COM) and the JAWS API (JawsApi, COM; absent unless JAWS is
//   installed); COM is released after the game's objects.
// - message box: MessageBoxW; input box: a dialog built in memory, laid out like the classic one.
// - sndPlaySound, asynchronously; one copy per player folder: a named mutex (win_folders);
//   text: UTF-8 in the core, UTF-16 at every Windows call.
// - the end: "Exit the game" throws ProcessEnded, closing the window ends the message loop; both
//   return from win_main, which tears down in order.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <exception>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace tw {

// The folder of the running .exe, in UTF-8, without a trailing separator.
std::string windowsProgramFolder();
// A folder made absolute and normalised (separators, "." and ".."), without a trailing
// separator unless it is a drive root.
std::string windowsFullPath(const std::string& folder);

// The system message for an HRESULT or Win32 error code, with the code in hex.
std::string systemMessage(long code);

// True when another process holds the named mutex for this folder. Otherwise this process
// creates it and keeps it until it ends; the system releases it however the process ends, so
// a crashed copy leaves no lock behind. The name holds a hash of the folder's full path, upper
// case, because Windows treats paths case-blind.
bool windowsInstanceRunning(const std::string& programFolder);
// The mutex name for a folder, for a person or a test to look at.
std::wstring instanceMutexName(const std::string& programFolder);

class WinPlatform : public Platform {
public:
    // Creates the window hidden, so the game can load before the player is shown anything.
    // Throws PlatformError when the window cannot be made.
    WinPlatform(std::string programFolder, std::string playerFolder);
    ~WinPlatform() override;
    WinPlatform(const WinPlatform&) = delete;
    WinPlatform& operator=(const WinPlatform&) = delete;

    HWND window() const { return hwnd_; }
    // Shows the window and gives it the keyboard.
    void show();
    // Dispatches window messages until the window is closed; returns the exit status.
    int run();

    // Platform.
    void attach(EventSink* sink) override { sink_ = sink; }
    std::string title() override { return title_; }
    void setTitle(const std::string& text) override;
    void doEvents() override;
    void waitEvents() override;
    void setTimer(int intervalMs) override;
    void said(const std::string& text, int speechmode) override;
    void keybd_event(int vk, int flags) override;
    void messageBox(const std::string& text, const std::string& caption) override;
    std::string inputBox(const std::string& prompt, const std::string& caption) override;
    std::string programFolder() override { return folder_; }
    std::string playerFolder() override { return player_.empty() ? folder_ : player_; }
    double secondsSinceMidnight() override;
    bool anotherInstanceRunning() override;
    void beforeEnd() override;
    std::unique_ptr<Voice> createVoice() override;
    std::unique_ptr<ScreenReaderApi> createJawsApi() override;
    void playSound(const std::string& path) override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a game handler inside a window procedure. An exception must not cross the system's
    // frames, so it is kept and thrown again once control is back in our own loop.
    template <typename F>
    void deliver(F&& handler);
    void rethrowPending();

    std::string folder_;
    std::string player_;
    HWND hwnd_ = nullptr;
    EventSink* sink_ = nullptr;
    std::string title_;
    UINT_PTR timerId_ = 0;  // 0: no timer; each arming takes a fresh id so stale ticks are known
    UINT_PTR lastTimerId_ = 0;
    bool comReady_ = false;
    std::exception_ptr pending_;
};

}  // namespace tw
