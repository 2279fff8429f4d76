#pragma once
// The keyboard emulator: translates key presses into byte strings for the line, after a
// key map kept in a record store file ("zelvo32.kbd"). Each record is named after an
// emulation ("VT100", "ANSI", ...) and holds up to 100 assignments "KeyN" =
// "virtual key,shift code,mapping", at most 20 characters in all, the mapping stored raw.
//
// Key codes are the Windows virtual-key codes (33..40 page/end/home/arrows, 45 insert,
// 46 delete, 48..57 digits, 65..90 letters, 96..111 keypad, 112..123 F1..F12). The shift
// code is the sum of 2 when Ctrl is up, 4 when Alt is up and 8 when Shift is up, so 14 is
// no modifier, 12 Ctrl, 6 Shift, 4 Ctrl+Shift, 8 Ctrl+Alt, 0 Ctrl+Alt+Shift.

#include "terminal/ini_database.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::terminal {

// Virtual-key codes the translation treats specially.
enum VirtualKey : int {
    vkShift = 16,
    vkControl = 17,
    vkMenu = 18, // Alt
    vkCapital = 20,
    vkPrior = 33,
    vkNext = 34,
    vkEnd = 35,
    vkHome = 36,
    vkLeft = 37,
    vkUp = 38,
    vkRight = 39,
    vkDown = 40,
    vkInsert = 45,
    vkDelete = 46,
    vkNumpad0 = 96,
    vkMultiply = 106,
    vkAdd = 107,
    vkSubtract = 109,
    vkDecimal = 110,
    vkDivide = 111,
    vkF1 = 112,
    vkF12 = 123,
    vkNumLock = 144,
    vkScroll = 145,
};

// One assignment of a key map record.
struct KeyMapEntry {
    int virtualKey = 0; // 0 = free slot
    int shiftCode = 0;
    std::string mapping;
};

// What the window hands over for each key-down, and what comes back.
struct KeyRecord {
    int virtualKey = 0;
    int shiftCode = 14;
    int lockCode = 0;     // 1 Caps, 2 Num, 4 Scroll Lock on; not used by the translation
    bool extended = false;
    bool mapped = false;
    std::string mapping;  // the bytes to send when mapped
};

class KeyboardEmulator {
public:
    static constexpr int kMaxEntries = 100;
    static constexpr int kMaxValue = 20;
    static constexpr int kMaxNameLength = 30;
    static constexpr const char* kDefaultMapName = "zelvo32.kbd";
    static constexpr const char* kNameField = "EMULATOR";

    KeyboardEmulator();

    // Enabled: setting it opens the map (creating it when missing) and loads the first
    // record; clearing it frees the map. Throws EINI when the map cannot be used.
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The map file. A name without a directory part is looked up by resolveMapPath.
    const std::string& MapFileName() const { return mapFileName_; }
    void setMapFileName(const std::string& name);
    // The name of the record in use; setting it loads that record (EINI -7008 when the
    // map has no such record).
    const std::string& EmulatorType() const { return emulatorType_; }
    void setEmulatorType(const std::string& name);
    bool ProcessAllKeys() const { return processAllKeys_; }
    void setProcessAllKeys(bool on) { processAllKeys_ = on; }
    bool ProcessExtended() const { return processExtended_; }
    void setProcessExtended(bool on) { processExtended_ = on; }

    // The path the map was opened from ("" while disabled).
    std::string mapPath() const { return db_.prepared() ? db_.path() : std::string(); }
    // Record names of the map, from its index.
    std::vector<std::string> recordNames() const;

    // --- Translation ---------------------------------------------------------------------
    static int shiftCode(bool ctrl, bool alt, bool shift);
    // Translates a key-down. keyStates holds 256 key state bytes (a key is down when its
    // byte is 2 or more; bit 0 is the toggle of the lock keys). Sets key.shiftCode,
    // lockCode, extended, and mapped/mapping when an assignment matches; returns mapped.
    bool translate(KeyRecord& key, const uint8_t keyStates[256]) const;
    // The same with the modifier states given directly.
    bool translate(KeyRecord& key, bool ctrl, bool alt, bool shift) const;
    static bool isExtendedKey(int vk);

    // --- Editing the loaded record -------------------------------------------------------
    const std::array<KeyMapEntry, kMaxEntries>& entries() const { return entries_; }
    // The mapping of a key and shift code ("" when none).
    std::string mapping(int vk, int shiftCode) const;
    // Sets a mapping, reusing the key's slot or taking the first free one; an empty
    // mapping frees the slot. False when all 100 slots are taken.
    bool setMapping(int vk, int shiftCode, const std::string& mapping);
    void clearEntries();
    // Starts a new, empty record that the next saveRecord adds under its name.
    void newRecord();
    bool modified() const { return modified_; }
    // Writes the loaded entries as record name: a new record is added to the index, an
    // existing one replaced; a name other than EmulatorType renames the record in use
    // (a new map record when none is loaded). Throws EINI.
    void saveRecord(const std::string& name);
    void deleteRecord(const std::string& name);

    // "<ESC>" for byte 27 and back, as the map editor shows mappings.
    static std::string toDisplay(const std::string& mapping);
    static std::string fromDisplay(const std::string& text);

    // Where a map name without a directory is read from and saved to: the program's
    // directory, or $XDG_CONFIG_HOME/zelvo32/ where the program's directory is not
    // writable (a map installed beside the program is copied there first).
    static std::string resolveMapPath(const std::string& name);

private:
    void open();
    void close();
    void loadRecord(const std::string& name);

    IniDatabase db_;
    bool enabled_ = false;
    std::string mapFileName_ = kDefaultMapName;
    std::string emulatorType_;
    bool processAllKeys_ = true;
    bool processExtended_ = true;
    std::array<KeyMapEntry, kMaxEntries> entries_{};
    bool modified_ = false;
};

} // namespace zelvo::terminal
