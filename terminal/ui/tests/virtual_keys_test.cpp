#include "terminal/ui/virtual_keys.h"

#include <gtest/gtest.h>

namespace zelvo::terminal {
namespace {

TEST(VirtualKeys, NavigationAndFunctionKeysAreExtended)
{
    EXPECT_EQ(virtualKeyFor(Qt::Key_F1, Qt::NoModifier).code, 112);
    EXPECT_TRUE(virtualKeyFor(Qt::Key_F1, Qt::NoModifier).extended);
    EXPECT_EQ(virtualKeyFor(Qt::Key_F12, Qt::ShiftModifier).code, 123);
    EXPECT_TRUE(virtualKeyFor(Qt::Key_F12, Qt::NoModifier).extended);
    EXPECT_FALSE(virtualKeyFor(Qt::Key_F13, Qt::NoModifier).extended);
    const int nav[] = {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Home,
                       Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down};
    for (int i = 0; i < 8; ++i) {
        const VKey k = virtualKeyFor(nav[i], Qt::NoModifier);
        EXPECT_EQ(k.code, 33 + i);
        EXPECT_TRUE(k.extended);
    }
    EXPECT_EQ(virtualKeyFor(Qt::Key_Insert, Qt::NoModifier).code, vk::Insert);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Delete, Qt::NoModifier).code, vk::Delete);
    EXPECT_FALSE(virtualKeyFor(Qt::Key_Delete, Qt::NoModifier).extended);
}

TEST(VirtualKeys, LettersDigitsAndShiftedSymbols)
{
    EXPECT_EQ(virtualKeyFor(Qt::Key_A, Qt::NoModifier).code, 'A');
    EXPECT_EQ(virtualKeyFor(Qt::Key_Z, Qt::ControlModifier).code, 'Z');
    EXPECT_EQ(virtualKeyFor(Qt::Key_7, Qt::NoModifier).code, '7');
    // Shift+1 arrives as '!' but is the key '1' with Shift down.
    EXPECT_EQ(virtualKeyFor(Qt::Key_Exclam, Qt::ShiftModifier).code, '1');
    EXPECT_EQ(virtualKeyFor(Qt::Key_BraceLeft, Qt::ShiftModifier).code, vk::Oem4);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Return, Qt::NoModifier).code, vk::Return);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Escape, Qt::NoModifier).code, vk::Escape);
    EXPECT_EQ(virtualKeyFor(Qt::Key_unknown, Qt::NoModifier).code, 0);
}

TEST(VirtualKeys, KeypadKeys)
{
    EXPECT_EQ(virtualKeyFor(Qt::Key_5, Qt::KeypadModifier).code, vk::Numpad0 + 5);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Asterisk, Qt::KeypadModifier).code, vk::Multiply);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Minus, Qt::KeypadModifier).code, vk::Subtract);
    EXPECT_EQ(virtualKeyFor(Qt::Key_Enter, Qt::KeypadModifier).code, vk::Return);
    // With Num Lock off the pad's arrows are the arrow keys.
    const VKey up = virtualKeyFor(Qt::Key_Up, Qt::KeypadModifier);
    EXPECT_EQ(up.code, vk::Up);
    EXPECT_TRUE(up.extended);
}

TEST(VirtualKeys, KeyboardStateMarksModifiersAndKey)
{
    const KeyboardState s = keyboardStateFor(Qt::ControlModifier | Qt::ShiftModifier, 'A');
    EXPECT_GE(s[vk::Control], 2);
    EXPECT_GE(s[vk::Shift], 2);
    EXPECT_LT(s[vk::Menu], 2);
    EXPECT_GE(s['A'], 2);
    EXPECT_EQ(s['B'], 0);
    const KeyboardState alt = keyboardStateFor(Qt::AltModifier, 0, true, false);
    EXPECT_GE(alt[vk::Menu], 2);
    EXPECT_EQ(alt[vk::Capital] & 1, 1);
}

TEST(VirtualKeys, PlainBytesForKeysWithoutAMapping)
{
    const auto bytes = [](int key, Qt::KeyboardModifiers m, const QString& text, bool tabs = true) {
        return plainKeyBytes(key, m, text, tabs);
    };
    EXPECT_EQ(bytes(Qt::Key_A, Qt::NoModifier, "a"), "a");
    EXPECT_EQ(bytes(Qt::Key_A, Qt::ShiftModifier, "A"), "A");
    EXPECT_EQ(bytes(Qt::Key_C, Qt::ControlModifier, "c"), "\x03");
    EXPECT_EQ(bytes(Qt::Key_BracketLeft, Qt::ControlModifier, "["), "\x1b");
    EXPECT_EQ(bytes(Qt::Key_Space, Qt::ControlModifier, " "), std::string(1, '\0'));
    EXPECT_EQ(bytes(Qt::Key_Return, Qt::NoModifier, "\r"), "\r");
    EXPECT_EQ(bytes(Qt::Key_Enter, Qt::KeypadModifier, "\r"), "\r");
    EXPECT_EQ(bytes(Qt::Key_Backspace, Qt::NoModifier, "\b"), "\b");
    EXPECT_EQ(bytes(Qt::Key_Escape, Qt::NoModifier, "\x1b"), "\x1b");
    EXPECT_EQ(bytes(Qt::Key_Tab, Qt::NoModifier, "\t", true), "\t");
    EXPECT_EQ(bytes(Qt::Key_Tab, Qt::NoModifier, "\t", false), "");
    // Alt combinations belong to the menus; arrows without a map entry send nothing.
    EXPECT_EQ(bytes(Qt::Key_X, Qt::AltModifier, "x"), "");
    EXPECT_EQ(bytes(Qt::Key_Up, Qt::NoModifier, ""), "");
    // Latin-1 characters are sent as their byte; others are not in the line's set.
    EXPECT_EQ(bytes(Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9))), "\xE9");
    EXPECT_EQ(bytes(Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC))), "");
}

} // namespace
} // namespace zelvo::terminal
