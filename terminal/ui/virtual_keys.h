#pragma once
// Translation of Qt key events into the virtual-key codes and keyboard state that key
// maps are written in, and into the bytes a key sends when the key map has no entry.

#include <array>
#include <cstdint>
#include <string>

#include <QString>
#include <Qt>

namespace zelvo::terminal {

// Virtual-key codes used by the key map file (the numbering the map editor stores).
namespace vk {
constexpr uint8_t Back = 0x08, Tab = 0x09, Clear = 0x0C, Return = 0x0D;
constexpr uint8_t Shift = 0x10, Control = 0x11, Menu = 0x12, Pause = 0x13, Capital = 0x14;
constexpr uint8_t Escape = 0x1B, Space = 0x20;
constexpr uint8_t Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24;
constexpr uint8_t Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28;
constexpr uint8_t Print = 0x2A, Snapshot = 0x2C, Insert = 0x2D, Delete = 0x2E, Help = 0x2F;
constexpr uint8_t LWin = 0x5B, RWin = 0x5C, Apps = 0x5D;
constexpr uint8_t Numpad0 = 0x60, Multiply = 0x6A, Add = 0x6B, Separator = 0x6C;
constexpr uint8_t Subtract = 0x6D, Decimal = 0x6E, Divide = 0x6F;
constexpr uint8_t F1 = 0x70, F12 = 0x7B, F24 = 0x87;
constexpr uint8_t NumLock = 0x90, Scroll = 0x91;
constexpr uint8_t LShift = 0xA0, RShift = 0xA1, LControl = 0xA2, RControl = 0xA3;
constexpr uint8_t LMenu = 0xA4, RMenu = 0xA5;
constexpr uint8_t Oem1 = 0xBA, OemPlus = 0xBB, OemComma = 0xBC, OemMinus = 0xBD;
constexpr uint8_t OemPeriod = 0xBE, Oem2 = 0xBF, Oem3 = 0xC0, Oem4 = 0xDB, Oem5 = 0xDC;
constexpr uint8_t Oem6 = 0xDD, Oem7 = 0xDE, Oem102 = 0xE2;
} // namespace vk

// A state byte of 0x80 marks a key that is down, bit 0x01 a lock key that is toggled on.
using KeyboardState = std::array<uint8_t, 256>;

struct VKey {
    uint8_t code = 0;      // 0 when the key has no virtual-key code
    bool extended = false; // page, arrow, Home/End and F1..F12: translated at key-down
};

// The virtual key of a Qt key. Keypad keys (KeypadModifier) map to the numeric pad
// codes (with Num Lock off the pad sends the navigation keys, which count as extended
// like the others); shifted symbols of the main block map back to the key that carries them on a
// US layout, so Shift+1 is key '1' with Shift down, as the key map expects.
VKey virtualKeyFor(int qtKey, Qt::KeyboardModifiers mods);

// The keyboard state for a key-down of `code` with the given modifiers.
KeyboardState keyboardStateFor(Qt::KeyboardModifiers mods, uint8_t code,
                               bool capsLock = false, bool numLock = false);

// The bytes a key sends when the key map does not translate it: Ctrl+letter and the
// Ctrl+punctuation keys give control bytes, Backspace 0x08, Enter CR, Escape ESC, Tab
// (when `wantTabs`) HT, printable characters their Latin-1 byte. Empty when the key
// sends nothing (arrows without a map entry, lone modifiers, Alt combinations that
// belong to the menus, characters outside Latin-1).
std::string plainKeyBytes(int qtKey, Qt::KeyboardModifiers mods, const QString& text,
                          bool wantTabs);

// The bytes a key that types something sends as xterm sends them: text as UTF-8,
// Backspace DEL (Ctrl+Backspace BS), Enter CR, Ctrl+key the control bytes, and Alt with
// any of these ESC before it. Empty when the key types nothing.
std::string xtermKeyBytes(int qtKey, Qt::KeyboardModifiers mods, const QString& text, bool wantTabs);

} // namespace zelvo::terminal
