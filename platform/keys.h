// platform/keys.h: the key codes of the platform contract: the Windows virtual-key codes the game answers
// to, and the few more a front end reports. Every back end hands the game its keys in these.
#pragma once

namespace tw::key {

constexpr int Back = 8;
constexpr int Tab = 9;
constexpr int Enter = 13;
constexpr int Shift = 16;
constexpr int Ctrl = 17;
constexpr int Alt = 18;
constexpr int Escape = 27;
constexpr int PageUp = 33;
constexpr int PageDown = 34;
constexpr int End = 35;
constexpr int Home = 36;
constexpr int Left = 37;
constexpr int Up = 38;
constexpr int Right = 39;
constexpr int Down = 40;
constexpr int Insert = 45;
constexpr int Delete = 46;
constexpr int F1 = 112;
constexpr int Comma = 188;
constexpr int Period = 190;
constexpr int Grave = 192;
// An OEM key code that the key handler passes over, like a bare Shift or Alt.
constexpr int Oem233 = 233;

constexpr int ShiftMask = 1;
constexpr int CtrlMask = 2;
constexpr int AltMask = 4;

// The shift-state bit a modifier key sets while it is held; 0 for other keys.
constexpr int modifierMask(int vk) { return vk == Shift ? ShiftMask : vk == Ctrl ? CtrlMask : vk == Alt ? AltMask : 0; }

// keybd_event's flags: a press, a release.
constexpr int EventPress = 0;
constexpr int EventRelease = 2;

}  // namespace tw::key
