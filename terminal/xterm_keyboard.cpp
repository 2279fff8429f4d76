#include "terminal/xterm_keyboard.h"

#include <exception>

namespace zelvo::terminal {

namespace {

constexpr int kNoModifier = 14; // shift code with Ctrl, Alt and Shift up

} // namespace

const std::vector<KeyMapEntry>& XtermKeyboard::defaultEntries()
{
    static const std::vector<KeyMapEntry> entries = {
        {vkUp, kNoModifier, "\x1b[A"},       {vkDown, kNoModifier, "\x1b[B"},
        {vkRight, kNoModifier, "\x1b[C"},    {vkLeft, kNoModifier, "\x1b[D"},
        {vkHome, kNoModifier, "\x1b[H"},     {vkEnd, kNoModifier, "\x1b[F"},
        {vkPrior, kNoModifier, "\x1b[5~"},   {vkNext, kNoModifier, "\x1b[6~"},
        {vkInsert, kNoModifier, "\x1b[2~"},  {vkDelete, kNoModifier, "\x1b[3~"},
        {vkF1, kNoModifier, "\x1bOP"},       {vkF1 + 1, kNoModifier, "\x1bOQ"},
        {vkF1 + 2, kNoModifier, "\x1bOR"},   {vkF1 + 3, kNoModifier, "\x1bOS"},
        {vkF1 + 4, kNoModifier, "\x1b[15~"}, {vkF1 + 5, kNoModifier, "\x1b[17~"},
        {vkF1 + 6, kNoModifier, "\x1b[18~"}, {vkF1 + 7, kNoModifier, "\x1b[19~"},
        {vkF1 + 8, kNoModifier, "\x1b[20~"}, {vkF1 + 9, kNoModifier, "\x1b[21~"},
        {vkF1 + 10, kNoModifier, "\x1b[23~"}, {vkF1 + 11, kNoModifier, "\x1b[24~"},
        {9, 6, "\x1b[Z"}, // Shift+Tab
    };
    return entries;
}

void XtermKeyboard::load(const std::string& mapPath)
{
    path_ = mapPath;
    loaded_ = false;
    entries_ = defaultEntries();
    if (mapPath.empty())
        return;
    try {
        KeyboardEmulator map;
        map.setMapFileName(mapPath);
        map.setEnabled(true);
        bool present = false;
        for (const std::string& name : map.recordNames())
            present = present || PrivateProfile::sameName(name, kRecordName);
        if (!present) {
            // A map from before the xterm emulation: it gets the record, so the key map
            // editor shows it.
            map.newRecord();
            for (const KeyMapEntry& e : defaultEntries())
                map.setMapping(e.virtualKey, e.shiftCode, e.mapping);
            map.saveRecord(kRecordName);
        } else {
            map.setEmulatorType(kRecordName);
        }
        entries_.clear();
        for (const KeyMapEntry& e : map.entries())
            if (e.virtualKey != 0 && !e.mapping.empty())
                entries_.push_back(e);
        loaded_ = true;
    } catch (const std::exception&) {
        // The built-in keys stay in use.
    }
}

std::string XtermKeyboard::entry(int vk, int shiftCode) const
{
    std::string found;
    for (const KeyMapEntry& e : entries_)
        if (e.virtualKey == vk && e.shiftCode == shiftCode)
            found = e.mapping; // the last match wins, as in the key map
    return found;
}

bool XtermKeyboard::translate(int vk, bool shift, bool ctrl, bool alt, const KeyboardModes& modes,
                              std::string& out) const
{
    const int code = KeyboardEmulator::shiftCode(ctrl, alt, shift);
    std::string exact = entry(vk, code);
    if (!exact.empty()) {
        out = code == kNoModifier ? applyModes(exact, 1, modes) : exact;
        return true;
    }
    const std::string base = entry(vk, kNoModifier);
    if (base.empty())
        return false;
    const int modifier = 1 + (shift ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);
    out = applyModes(base, modifier, modes);
    return !out.empty();
}

std::string XtermKeyboard::applyModes(const std::string& base, int modifier, const KeyboardModes& modes)
{
    const auto isFinal = [](char c) { return (c >= 'A' && c <= 'D') || c == 'H' || c == 'F' || (c >= 'P' && c <= 'S'); };
    // CSI X or SS3 X: a cursor, Home/End or F1..F4 key.
    if (base.size() == 3 && base[0] == '\x1b' && (base[1] == '[' || base[1] == 'O') && isFinal(base[2])) {
        const char x = base[2];
        if (modifier > 1)
            return std::string("\x1b[1;") + std::to_string(modifier) + x;
        const bool cursor = (x >= 'A' && x <= 'D') || x == 'H' || x == 'F';
        if (cursor && modes.applicationCursor)
            return std::string("\x1bO") + x;
        return base;
    }
    // CSI n ~: editing keys, page keys and F5..F12.
    if (modifier > 1 && base.size() >= 4 && base[0] == '\x1b' && base[1] == '[' && base.back() == '~') {
        const std::string number = base.substr(2, base.size() - 3);
        if (number.find_first_not_of("0123456789") == std::string::npos)
            return "\x1b[" + number + ";" + std::to_string(modifier) + "~";
    }
    // Anything else goes as the record has it, and only for the key alone: with
    // modifiers such a key types what it types.
    return modifier > 1 ? std::string() : base;
}

} // namespace zelvo::terminal
