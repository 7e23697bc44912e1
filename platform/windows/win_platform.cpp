// platform/windows/win_platform.cpp: the game window and its services on Windows.
// The window procedure, the message pump and the input dialog share the window and its
// pending-exception handoff, so they stay together; folders and the instance mutex, conversions
// and files live in files of their own.
#include "platform/windows/win_platform.h"

#include <mmsystem.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/keys.h"
#include "platform/windows/win_speech.h"

namespace tw {

namespace {

constexpr const wchar_t* kWindowClass = L"TumblewickWindow";
constexpr int kEditId = 100;
// Marks the key events the game sends for Window-Eyes, so their key-downs are known on arrival.
constexpr ULONG_PTR kSyntheticKey = 0x54574B59;  // "TWKY"

// The game's own chord is meant for the screen reader, and the game ignores it while sending.
// The system delivers it later, though, perhaps once the game listens again: then Ctrl would
// silence speech and send the chord anew, without end. So it never reaches the game.
bool synthetic() { return static_cast<ULONG_PTR>(GetMessageExtraInfo()) == kSyntheticKey; }

int shiftMask() {
    int mask = 0;
    if (GetKeyState(VK_SHIFT) < 0) mask |= key::ShiftMask;
    if (GetKeyState(VK_CONTROL) < 0) mask |= key::CtrlMask;
    if (GetKeyState(VK_MENU) < 0) mask |= key::AltMask;
    return mask;
}

// A dialog template built in memory, so the .exe needs no resource script for the input box.
class DialogTemplate {
public:
    void word(WORD w) { words_.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(const std::wstring& s) {
        for (wchar_t c : s) word(static_cast<WORD>(c));
        word(0);
    }
    // Dialog items start on a DWORD boundary.
    void align() {
        if (words_.size() % 2 != 0) word(0);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const std::wstring& title) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        word(static_cast<WORD>(x));
        word(static_cast<WORD>(y));
        word(static_cast<WORD>(cx));
        word(static_cast<WORD>(cy));
        word(id);
        word(0xFFFF);
        word(classAtom);
        text(title);
        word(0);  // no creation data
    }
    // A copy in DWORD-aligned storage, as the dialog manager requires.
    std::vector<DWORD> build() const {
        std::vector<DWORD> out((words_.size() + 1) / 2, 0);
        std::memcpy(out.data(), words_.data(), words_.size() * sizeof(WORD));
        return out;
    }

private:
    std::vector<WORD> words_;
};

constexpr WORD kButton = 0x0080;
constexpr WORD kEdit = 0x0081;
constexpr WORD kStatic = 0x0082;

struct InputState {
    std::wstring answer;
    bool accepted = false;
};

INT_PTR CALLBACK inputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            SetForegroundWindow(dialog);
            SetFocus(GetDlgItem(dialog, kEditId));
            return FALSE;  // focus was set here
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK) {
                auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrW(dialog, DWLP_USER));
                HWND edit = GetDlgItem(dialog, kEditId);
                const int length = GetWindowTextLengthW(edit);
                std::wstring answer(static_cast<std::size_t>(length) + 1, L'\0');
                const int got = GetWindowTextW(edit, answer.data(), length + 1);
                answer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
                if (state) {
                    state->answer = std::move(answer);
                    state->accepted = true;
                }
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (id == IDCANCEL) {  // also Escape and the close box
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

std::string systemMessage(long code) {
    const auto value = static_cast<DWORD>(code);
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, value, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer) text.assign(buffer, length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(value));
    if (text.empty()) return std::string("error ") + hex;
    return narrowUtf8(text) + " (" + hex + ")";
}

WinPlatform::WinPlatform(std::string programFolder, std::string playerFolder)
    : folder_(std::move(programFolder)), player_(std::move(playerFolder)) {
    // SAPI and the JAWS object are apartment-threaded and live on this, the window's thread.
    comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WinPlatform::windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        const DWORD error = GetLastError();
        if (comReady_) CoUninitialize();
        throw PlatformError("the window class cannot be registered: " + systemMessage(static_cast<long>(error)));
    }
    hwnd_ = CreateWindowExW(0, kWindowClass, L"Tumblewick", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 240,
                            nullptr, nullptr, instance, this);
    if (!hwnd_) {
        const DWORD error = GetLastError();
        if (comReady_) CoUninitialize();
        throw PlatformError("the window cannot be created: " + systemMessage(static_cast<long>(error)));
    }
}

WinPlatform::~WinPlatform() {
    if (hwnd_) {
        if (timerId_) KillTimer(hwnd_, timerId_);
        // Detached first, so destroying the window reaches no game handler and posts no quit.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (comReady_) CoUninitialize();
}

void WinPlatform::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
}

int WinPlatform::run() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got == -1)
            throw PlatformError("the message queue failed: " + systemMessage(static_cast<long>(GetLastError())));
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        rethrowPending();
    }
}

LRESULT CALLBACK WinPlatform::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<WinPlatform*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || self->hwnd_ != hwnd) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

template <typename F>
void WinPlatform::deliver(F&& handler) {
    if (!sink_ || pending_) return;
    try {
        handler();
    } catch (...) {
        pending_ = std::current_exception();
    }
}

void WinPlatform::rethrowPending() {
    if (pending_) {
        auto error = pending_;
        pending_ = nullptr;
        std::rethrow_exception(error);
    }
}

LRESULT WinPlatform::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN: {
            const int code = static_cast<int>(wParam);
            const int shift = shiftMask();
            if (!synthetic()) deliver([&] { sink_->Form_KeyDown(code, shift); });
            return 0;
        }
        case WM_SYSKEYDOWN: {
            const int code = static_cast<int>(wParam);
            const int shift = shiftMask();
            if (!synthetic()) deliver([&] { sink_->Form_KeyDown(code, shift); });
            // Alt+F4 still closes the window; F10 and Alt must not open an unseen menu.
            if (wParam == VK_F4) return DefWindowProcW(hwnd_, message, wParam, lParam);
            return 0;
        }
        case WM_SYSCHAR:
            return 0;  // no menu mnemonics: the system would only beep
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;
            break;
        case WM_TIMER:
            // A tick of a timer since stopped or re-armed may still be queued: it is not ours.
            if (timerId_ != 0 && wParam == timerId_) deliver([&] { sink_->Holder_Timer(); });
            return 0;
        case WM_PAINT: {
            // The title for a sighted helper; the player hears it through the screen reader.
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd_, &ps);
            RECT area;
            GetClientRect(hwnd_, &area);
            InflateRect(&area, -12, -12);
            const std::wstring text = widen(title_);
            SetBkMode(dc, TRANSPARENT);
            HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, oldFont);
            EndPaint(hwnd_, &ps);
            return 0;
        }
        case WM_ENDSESSION:
            // At logoff or shutdown the process is ended once this returns, with no WM_DESTROY.
            if (wParam && sink_) sink_->keepGame();
            return 0;
        case WM_DESTROY:
            if (timerId_) KillTimer(hwnd_, timerId_);
            timerId_ = 0;
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void WinPlatform::setTitle(const std::string& text) {
    title_ = text;
    SetWindowTextW(hwnd_, widen(text).c_str());
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void WinPlatform::doEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The window was closed while the game waited: the game ends, and its end keeps it.
        if (msg.message == WM_QUIT) endProcess(static_cast<int>(msg.wParam));
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        rethrowPending();
    }
}

void WinPlatform::waitEvents() { MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE); }

void WinPlatform::setTimer(int intervalMs) {
    if (timerId_) {
        KillTimer(hwnd_, timerId_);
        timerId_ = 0;
    }
    if (intervalMs <= 0) return;
    UINT_PTR id = ++lastTimerId_;
    if (id == 0) id = ++lastTimerId_;
    if (!SetTimer(hwnd_, id, static_cast<UINT>(intervalMs), nullptr))
        throw PlatformError("the timer cannot be set: " + systemMessage(static_cast<long>(GetLastError())));
    timerId_ = id;
}

void WinPlatform::said(const std::string& text, int speechmode) {
    // Only for a developer's debugger: the player hears the text through the speech path.
    const std::wstring line = L"tumblewick said (" + std::to_wstring(speechmode) + L"): " + widen(text) + L"\n";
    OutputDebugStringW(line.c_str());
}

void WinPlatform::keybd_event(int vk, int flags) {
    // Scan code 0, as the chord has always been sent; the extra information marks it as ours.
    ::keybd_event(static_cast<BYTE>(vk), 0, static_cast<DWORD>(flags), kSyntheticKey);
}

void WinPlatform::messageBox(const std::string& text, const std::string& caption) {
    MessageBoxW(hwnd_, widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_SETFOREGROUND);
    rethrowPending();
}

std::string WinPlatform::inputBox(const std::string& prompt, const std::string& caption) {
    // Laid out like the classic input box, in dialog units: prompt left, buttons right, field below.
    DialogTemplate t;
    t.dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.dword(0);
    t.word(4);  // items
    t.word(0);
    t.word(0);
    t.word(260);
    t.word(100);
    t.word(0);  // no menu
    t.word(0);  // the standard dialog class
    t.text(widen(caption));
    t.word(8);
    t.text(L"MS Shell Dlg");
    // The prompt comes just before the field, so screen readers read it as the field's label.
    t.item(SS_LEFT | SS_NOPREFIX, 7, 7, 180, 60, 0xFFFF, kStatic, widen(prompt));
    t.item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 76, 246, 13, kEditId, kEdit, L"");
    t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 197, 7, 56, 14, IDOK, kButton, L"OK");
    t.item(BS_PUSHBUTTON | WS_TABSTOP, 197, 25, 56, 14, IDCANCEL, kButton, L"Cancel");
    const std::vector<DWORD> data = t.build();

    InputState state;
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), hwnd_,
                                &inputDialogProc, reinterpret_cast<LPARAM>(&state));
    rethrowPending();
    if (result != IDOK || !state.accepted) return "";
    return narrowUtf8(state.answer);
}

double WinPlatform::secondsSinceMidnight() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
}

bool WinPlatform::anotherInstanceRunning() { return windowsInstanceRunning(playerFolder()); }

void WinPlatform::beforeEnd() {
    if (timerId_) KillTimer(hwnd_, timerId_);
    timerId_ = 0;
    std::fflush(nullptr);
}

std::unique_ptr<Voice> WinPlatform::createVoice() { return std::make_unique<SapiVoice>(); }

std::unique_ptr<ScreenReaderApi> WinPlatform::createJawsApi() { return std::make_unique<JawsApi>(); }

void WinPlatform::playSound(const std::string& path) {
    // Asynchronous only: a missing file plays the system's default sound instead.
    sndPlaySoundW(widen(path).c_str(), SND_ASYNC);
}

}  // namespace tw
