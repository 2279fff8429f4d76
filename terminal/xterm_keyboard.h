#pragma once
// Keys as xterm sends them. The sequences of the cursor, editing and function keys come
// from the "xterm" record of the key map (editable in the key map editor), each as the
// key sends it without modifiers; where the map has no such record the built-in ones
// below serve, and a map that lacks the record gets it when it is loaded. The modes and
// modifiers then change a sequence the way xterm does:
//   - application cursor keys (DECCKM) turn CSI A..D, H, F into SS3 A..D, H, F;
//   - a modifier turns CSI X and SS3 X into CSI 1;m X, and CSI n ~ into CSI n;m ~, where
//     m is 1 plus 1 for Shift, 2 for Alt and 4 for Ctrl.
// An entry of the record for the key with exactly its modifiers wins over the rule.
// The keypad sends its characters, as xterm does while Num Lock is on.

#include "terminal/emulation.h"
#include "terminal/keyboard_emulator.h"

#include <string>
#include <vector>

namespace zelvo::terminal {

class XtermKeyboard {
public:
    static constexpr const char* kRecordName = "xterm";

    // The built-in record: what the key map's xterm record holds when it is created.
    static const std::vector<KeyMapEntry>& defaultEntries();

    // Loads the xterm record of the map file at mapPath (a full path), adding the record
    // to a map that lacks it. A map that cannot be read or written leaves the built-in
    // keys in use. An empty path uses the built-in keys.
    void load(const std::string& mapPath);
    const std::string& loadedPath() const { return path_; }
    bool loaded() const { return loaded_; }

    // The bytes a key-down sends (vk: the key map's virtual-key code); false when the
    // record has nothing for the key (the key then types its character, if any).
    bool translate(int vk, bool shift, bool ctrl, bool alt, const KeyboardModes& modes,
                   std::string& out) const;

    // Applies the modes and the modifier rule to a sequence of the record; empty when a
    // sequence the rule does not know is asked for with modifiers.
    static std::string applyModes(const std::string& base, int modifier, const KeyboardModes& modes);

private:
    std::string entry(int vk, int shiftCode) const;

    std::vector<KeyMapEntry> entries_ = defaultEntries();
    std::string path_;
    bool loaded_ = false;
};

} // namespace zelvo::terminal
