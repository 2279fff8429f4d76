#include "terminal/ui/virtual_keys.h"

namespace zelvo::terminal {

namespace {

// Shifted symbols of the main block and the US-layout key that carries them.
uint8_t symbolKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return vk::Oem1;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return vk::OemPlus;
    case Qt::Key_Comma:
    case Qt::Key_Less: return vk::OemComma;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return vk::OemMinus;
    case Qt::Key_Period:
    case Qt::Key_Greater: return vk::OemPeriod;
    case Qt::Key_Slash:
    case Qt::Key_Question: return vk::Oem2;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return vk::Oem3;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return vk::Oem4;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return vk::Oem5;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return vk::Oem6;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return vk::Oem7;
    default: return 0;
    }
}

// Keys of the numeric pad; with Num Lock off the pad sends the navigation keys, which
// keep their own codes (the non-extended forms of Home, arrows and so on).
uint8_t keypadKey(int qtKey)
{
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return uint8_t(vk::Numpad0 + (qtKey - Qt::Key_0));
    switch (qtKey) {
    case Qt::Key_Asterisk: return vk::Multiply;
    case Qt::Key_Plus: return vk::Add;
    case Qt::Key_Minus: return vk::Subtract;
    case Qt::Key_Period:
    case Qt::Key_Comma: return vk::Decimal;
    case Qt::Key_Slash: return vk::Divide;
    case Qt::Key_Enter: return vk::Return;
    default: return 0;
    }
}

} // namespace

VKey virtualKeyFor(int qtKey, Qt::KeyboardModifiers mods)
{
    VKey k;
    if (mods & Qt::KeypadModifier) {
        k.code = keypadKey(qtKey);
        if (k.code) return k;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        k.code = uint8_t(qtKey); // Qt and the key map number letters as upper-case ASCII
        return k;
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        k.code = uint8_t(qtKey);
        return k;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        k.code = uint8_t(vk::F1 + (qtKey - Qt::Key_F1));
        k.extended = k.code <= vk::F12;
        return k;
    }
    switch (qtKey) {
    case Qt::Key_PageUp: k.code = vk::Prior; break;
    case Qt::Key_PageDown: k.code = vk::Next; break;
    case Qt::Key_End: k.code = vk::End; break;
    case Qt::Key_Home: k.code = vk::Home; break;
    case Qt::Key_Left: k.code = vk::Left; break;
    case Qt::Key_Up: k.code = vk::Up; break;
    case Qt::Key_Right: k.code = vk::Right; break;
    case Qt::Key_Down: k.code = vk::Down; break;
    case Qt::Key_Backspace: k.code = vk::Back; break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: k.code = vk::Tab; break;
    case Qt::Key_Clear: k.code = vk::Clear; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: k.code = vk::Return; break;
    case Qt::Key_Shift: k.code = vk::Shift; break;
    case Qt::Key_Control: k.code = vk::Control; break;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: k.code = vk::Menu; break;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: k.code = vk::LWin; break;
    case Qt::Key_Super_R: k.code = vk::RWin; break;
    case Qt::Key_Menu: k.code = vk::Apps; break;
    case Qt::Key_Pause: k.code = vk::Pause; break;
    case Qt::Key_CapsLock: k.code = vk::Capital; break;
    case Qt::Key_NumLock: k.code = vk::NumLock; break;
    case Qt::Key_ScrollLock: k.code = vk::Scroll; break;
    case Qt::Key_Escape: k.code = vk::Escape; break;
    case Qt::Key_Space: k.code = vk::Space; break;
    case Qt::Key_Print: k.code = vk::Snapshot; break;
    case Qt::Key_Insert: k.code = vk::Insert; break;
    case Qt::Key_Delete: k.code = vk::Delete; break;
    case Qt::Key_Help: k.code = vk::Help; break;
    case Qt::Key_Less: // the extra key of 102-key keyboards, when it is not Shift+comma
        k.code = (mods & Qt::ShiftModifier) ? vk::OemComma : vk::Oem102;
        break;
    default: k.code = symbolKey(qtKey); break;
    }
    k.extended = k.code >= vk::Prior && k.code <= vk::Down;
    return k;
}

KeyboardState keyboardStateFor(Qt::KeyboardModifiers mods, uint8_t code, bool capsLock,
                               bool numLock)
{
    KeyboardState s{};
    if (mods & Qt::ShiftModifier) s[vk::Shift] = s[vk::LShift] = 0x80;
    if (mods & Qt::ControlModifier) s[vk::Control] = s[vk::LControl] = 0x80;
    if (mods & Qt::AltModifier) s[vk::Menu] = s[vk::LMenu] = 0x80;
    if (capsLock) s[vk::Capital] |= 0x01;
    if (numLock) s[vk::NumLock] |= 0x01;
    if (code) s[code] |= 0x80;
    return s;
}

std::string plainKeyBytes(int qtKey, Qt::KeyboardModifiers mods, const QString& text,
                          bool wantTabs)
{
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    switch (qtKey) {
    case Qt::Key_Backspace: return alt ? std::string() : std::string(1, ctrl ? '\x7f' : '\x08');
    case Qt::Key_Return:
    case Qt::Key_Enter: return alt ? std::string() : std::string(1, '\r');
    case Qt::Key_Escape: return std::string(1, '\x1b');
    case Qt::Key_Tab: return wantTabs && !alt && !ctrl ? std::string(1, '\t') : std::string();
    case Qt::Key_Backtab: return std::string();
    default: break;
    }
    // Alt combinations without Ctrl are the menus' accelerators; they send nothing.
    if (alt && !ctrl) return {};
    if (ctrl && !alt) {
        if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return std::string(1, char(qtKey - Qt::Key_A + 1));
        switch (qtKey) {
        case Qt::Key_At:
        case Qt::Key_Space:
        case Qt::Key_2: return std::string(1, '\0');
        case Qt::Key_BracketLeft:
        case Qt::Key_3: return std::string(1, '\x1b');
        case Qt::Key_Backslash:
        case Qt::Key_4: return std::string(1, '\x1c');
        case Qt::Key_BracketRight:
        case Qt::Key_5: return std::string(1, '\x1d');
        case Qt::Key_AsciiCircum:
        case Qt::Key_6: return std::string(1, '\x1e');
        case Qt::Key_Underscore:
        case Qt::Key_Minus:
        case Qt::Key_7: return std::string(1, '\x1f');
        case Qt::Key_Question:
        case Qt::Key_8: return std::string(1, '\x7f');
        default: break;
        }
        // Ctrl with any other key sends what the platform made of it, if a control byte.
        if (text.size() == 1 && text.at(0).unicode() < 0x20) return std::string(1, char(text.at(0).unicode()));
        return {};
    }
    std::string out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0x7f || u > 0xff) continue; // not in the 8-bit character set of the line
        if (u < 0x20 && u != 0x1b) continue;  // control bytes come from the cases above
        out.push_back(char(u));
    }
    return out;
}

std::string xtermKeyBytes(int qtKey, Qt::KeyboardModifiers mods, const QString& text, bool wantTabs)
{
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const Qt::KeyboardModifiers noAlt = mods & ~Qt::AltModifier;
    std::string out;
    switch (qtKey) {
    case Qt::Key_Backspace: out = ctrl ? "\x08" : "\x7f"; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: out = "\r"; break;
    case Qt::Key_Escape: out = "\x1b"; break;
    case Qt::Key_Tab: out = wantTabs && !ctrl ? "\t" : ""; break;
    case Qt::Key_Backtab: break;
    default:
        if (ctrl) {
            out = plainKeyBytes(qtKey, noAlt, text, wantTabs);
        } else {
            QString typed = text;
            // With Alt held some platforms give no text: the key's own character.
            if (typed.isEmpty() && alt && qtKey >= Qt::Key_Space && qtKey <= Qt::Key_AsciiTilde) {
                const QChar c{char16_t(qtKey)};
                typed = (mods & Qt::ShiftModifier) ? QString(c) : QString(c.toLower());
            }
            QString printable;
            for (QChar c : typed)
                if (c.unicode() >= 0x20 && c.unicode() != 0x7F) printable += c;
            const QByteArray utf8 = printable.toUtf8();
            out.assign(utf8.constData(), size_t(utf8.size()));
        }
        break;
    }
    if (alt && !out.empty()) out.insert(0, 1, '\x1b');
    return out;
}

} // namespace zelvo::terminal
