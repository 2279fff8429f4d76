#include "terminal/keyboard_emulator.h"

#include "platform/paths.h"
#include "terminal/eini.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zelvo::terminal {

namespace {

// A decimal number of at most five digits, or -1.
int parseCode(const std::string& s)
{
    if (s.empty() || s.size() > 5)
        return -1;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string keyField(int i) { return "Key" + std::to_string(i + 1); }

} // namespace

KeyboardEmulator::KeyboardEmulator() = default;

// ---------------------------------------------------------------------------------------
// Properties

void KeyboardEmulator::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    if (enabled)
        open();
    else
        close();
}

void KeyboardEmulator::setMapFileName(const std::string& name)
{
    mapFileName_ = name;
    if (enabled_) {
        close();
        open();
    }
}

void KeyboardEmulator::setEmulatorType(const std::string& name)
{
    if (!enabled_) {
        emulatorType_ = name;
        return;
    }
    loadRecord(name);
}

void KeyboardEmulator::open()
{
    db_.prepare(resolveMapPath(mapFileName_.empty() ? kDefaultMapName : mapFileName_));
    std::vector<IniDatabase::FieldDef> fields;
    fields.push_back({kNameField, kMaxNameLength, false, true});
    for (int i = 0; i < kMaxEntries; ++i)
        fields.push_back({keyField(i), kMaxValue, false, false});
    db_.addFields(fields);
    enabled_ = true;
    clearEntries();
    modified_ = false;
    const std::vector<std::string> names = db_.recordNames();
    if (names.empty()) {
        emulatorType_.clear();
        return;
    }
    // A record chosen before the map was opened is kept when the map has it.
    std::string wanted = names.front();
    for (const std::string& n : names)
        if (!emulatorType_.empty() && PrivateProfile::sameName(n, emulatorType_))
            wanted = n;
    loadRecord(wanted);
}

void KeyboardEmulator::close()
{
    enabled_ = false;
    db_ = IniDatabase();
    clearEntries();
    modified_ = false;
}

std::vector<std::string> KeyboardEmulator::recordNames() const
{
    return db_.prepared() ? db_.recordNames() : std::vector<std::string>();
}

void KeyboardEmulator::loadRecord(const std::string& name)
{
    const IniDatabase::Record rec = db_.getRecord(name);
    std::array<KeyMapEntry, kMaxEntries> loaded{};
    for (int i = 0; i < kMaxEntries; ++i) {
        const auto it = rec.find(keyField(i));
        if (it == rec.end() || it->second.empty())
            continue;
        // A value written by hand may be longer than a value may be; it is cut.
        const std::string value = it->second.substr(0, kMaxValue);
        const std::size_t c1 = value.find(',');
        if (c1 == std::string::npos)
            continue;
        const std::size_t c2 = value.find(',', c1 + 1);
        if (c2 == std::string::npos)
            continue;
        const int vk = parseCode(value.substr(0, c1));
        const int shift = parseCode(value.substr(c1 + 1, c2 - c1 - 1));
        if (vk <= 0 || vk > 255 || shift < 0 || shift > 14)
            continue;
        loaded[i] = KeyMapEntry{vk, shift, value.substr(c2 + 1)};
    }
    entries_ = loaded;
    const auto nameIt = rec.find(kNameField);
    emulatorType_ = (nameIt != rec.end() && PrivateProfile::sameName(nameIt->second, name)) ? nameIt->second : name;
    // The index spelling names the section; keep it so saving finds the same record.
    for (const std::string& n : db_.recordNames())
        if (PrivateProfile::sameName(n, name))
            emulatorType_ = n;
    modified_ = false;
}

// ---------------------------------------------------------------------------------------
// Translation

int KeyboardEmulator::shiftCode(bool ctrl, bool alt, bool shift)
{
    return (ctrl ? 0 : 2) + (alt ? 0 : 4) + (shift ? 0 : 8);
}

bool KeyboardEmulator::isExtendedKey(int vk)
{
    return (vk >= vkPrior && vk <= vkDown) || (vk >= vkF1 && vk <= vkF12);
}

bool KeyboardEmulator::translate(KeyRecord& key, const uint8_t keyStates[256]) const
{
    auto down = [&](int k) { return keyStates[k] >= 2; };
    key.lockCode = (keyStates[vkCapital] & 1) | ((keyStates[vkNumLock] & 1) << 1)
                   | ((keyStates[vkScroll] & 1) << 2);
    return translate(key, down(vkControl), down(vkMenu), down(vkShift));
}

bool KeyboardEmulator::translate(KeyRecord& key, bool ctrl, bool alt, bool shift) const
{
    key.mapped = false;
    key.mapping.clear();
    const int vk = key.virtualKey;
    key.extended = isExtendedKey(vk);
    key.shiftCode = shiftCode(ctrl, alt, shift);
    if (!enabled_)
        return false;
    // Modifier and lock keys alone send nothing.
    if (vk == vkShift || vk == vkControl || vk == vkMenu || vk == vkCapital || vk == vkNumLock)
        return false;
    if (key.extended && !processExtended_)
        return false;
    const bool typing = (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z');
    if (typing && !processAllKeys_)
        return false;
    // Every entry is looked at; the last match wins.
    for (const KeyMapEntry& e : entries_) {
        if (e.virtualKey == vk && e.shiftCode == key.shiftCode && !e.mapping.empty()) {
            key.mapped = true;
            key.mapping = e.mapping;
        }
    }
    return key.mapped;
}

// ---------------------------------------------------------------------------------------
// Editing

std::string KeyboardEmulator::mapping(int vk, int shiftCode) const
{
    std::string found;
    for (const KeyMapEntry& e : entries_)
        if (e.virtualKey == vk && e.shiftCode == shiftCode)
            found = e.mapping;
    return found;
}

bool KeyboardEmulator::setMapping(int vk, int shiftCode, const std::string& mapping)
{
    if (vk <= 0 || vk > 255)
        return false;
    const std::string value = mapping.substr(0, kMaxValue);
    KeyMapEntry* slot = nullptr;
    for (KeyMapEntry& e : entries_) {
        if (e.virtualKey == vk && e.shiftCode == shiftCode) {
            slot = &e;
            break;
        }
    }
    if (value.empty()) {
        if (slot) {
            *slot = KeyMapEntry{};
            modified_ = true;
        }
        return true;
    }
    if (!slot) {
        for (KeyMapEntry& e : entries_) {
            if (e.virtualKey == 0) {
                slot = &e;
                break;
            }
        }
    }
    if (!slot)
        return false;
    if (slot->virtualKey != vk || slot->shiftCode != shiftCode || slot->mapping != value) {
        *slot = KeyMapEntry{vk, shiftCode, value};
        modified_ = true;
    }
    return true;
}

void KeyboardEmulator::clearEntries()
{
    entries_.fill(KeyMapEntry{});
}

void KeyboardEmulator::newRecord()
{
    clearEntries();
    emulatorType_.clear();
    modified_ = true;
}

void KeyboardEmulator::saveRecord(const std::string& name)
{
    if (!enabled_)
        throw EINI(ecIniNotPrepared);
    IniDatabase::Record rec;
    rec[kNameField] = name;
    for (int i = 0; i < kMaxEntries; ++i) {
        const KeyMapEntry& e = entries_[i];
        if (e.virtualKey == 0 || e.mapping.empty())
            continue;
        std::string value = std::to_string(e.virtualKey) + "," + std::to_string(e.shiftCode)
                            + "," + e.mapping;
        rec[keyField(i)] = value.substr(0, kMaxValue);
    }
    if (!emulatorType_.empty() && db_.recordExists(emulatorType_))
        db_.updateRecord(emulatorType_, rec);
    else if (db_.recordExists(name))
        db_.updateRecord(name, rec);
    else
        db_.addRecord(rec);
    emulatorType_ = name;
    modified_ = false;
}

void KeyboardEmulator::deleteRecord(const std::string& name)
{
    if (!enabled_)
        throw EINI(ecIniNotPrepared);
    db_.deleteRecord(name);
    if (PrivateProfile::sameName(name, emulatorType_)) {
        emulatorType_.clear();
        clearEntries();
        modified_ = false;
    }
}

std::string KeyboardEmulator::toDisplay(const std::string& mapping)
{
    std::string out;
    for (char c : mapping) {
        if (c == 27)
            out += "<ESC>";
        else
            out += c;
    }
    return out;
}

std::string KeyboardEmulator::fromDisplay(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "<ESC>") == 0) {
            out += static_cast<char>(27);
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Where the map lives

std::string KeyboardEmulator::resolveMapPath(const std::string& name)
{
    namespace fs = std::filesystem;
    if (name.find('/') != std::string::npos)
        return name;
    std::error_code ec;
    const std::string progDir = platform::programDir();
    const std::string cfgDir = platform::configDir();
    const fs::path inProg = fs::path(progDir) / name;
    const fs::path inCfg = fs::path(cfgDir) / name;
    const bool progWritable = !progDir.empty() && platform::isWritableDir(progDir);

    if (fs::exists(inProg, ec) && progWritable)
        return inProg.string();
    if (fs::exists(inCfg, ec))
        return inCfg.string();
    if (progWritable)
        return inProg.string();
    // The program's directory is read-only: the user's map lives in the configuration
    // directory, starting from the map installed beside the program when there is one.
    platform::makeDirs(cfgDir);
    if (fs::exists(inProg, ec)) {
        fs::copy_file(inProg, inCfg, fs::copy_options::skip_existing, ec);
        if (ec)
            return inProg.string();
    }
    return inCfg.string();
}

} // namespace zelvo::terminal
