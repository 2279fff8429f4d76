#pragma once
// The per-user settings store: a text file in the format of a registry export.
//
//   [software\brunmo\zelvo32\default\Port]
//   "Baud"=dword:0000e100
//   "TraceName"="C:\\temp\\x.trc"
//
// Keys are paths below the per-user hive; key and value names compare without regard
// to case (the spelling of the first write is kept). Values are 32-bit words or text.
// Saving writes a temporary file, fsyncs it and renames it over the store, so a crash
// never leaves a half-written file. A store that cannot be parsed is treated as empty and
// moved aside to "registry.reg.bad" on the next save, so it is never silently lost.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelvo::platform {

class RegistryStore {
public:
    using Value = std::variant<uint32_t, std::string>;

    // $XDG_CONFIG_HOME/zelvo32/registry.reg, or ~/.config/zelvo32/registry.reg.
    static std::string defaultPath();

    explicit RegistryStore(std::string path = defaultPath());

    const std::string& path() const { return path_; }

    // Reads the file. A missing file gives an empty store and true. An unreadable or
    // malformed file gives an empty store and false; it is kept aside at the next save.
    bool load();
    // Writes the whole store atomically; creates the directory when needed.
    bool save();

    bool keyExists(std::string_view key) const;
    // The writers refuse (return false, store unchanged) a key, name or text with a
    // line break: the file keeps one entry per line, so a raw break would split it.
    bool createKey(std::string_view key);
    // Removes a key, its values and every key below it.
    void deleteKey(std::string_view key);
    // Names of the direct sub-keys of key, in the spelling first written.
    std::vector<std::string> subKeys(std::string_view key) const;
    std::vector<std::string> valueNames(std::string_view key) const;

    std::optional<uint32_t> readDword(std::string_view key, std::string_view name) const;
    std::optional<std::string> readString(std::string_view key, std::string_view name) const;
    std::optional<Value> readValue(std::string_view key, std::string_view name) const;
    bool writeDword(std::string_view key, std::string_view name, uint32_t value);
    bool writeString(std::string_view key, std::string_view name, std::string_view value);
    bool deleteValue(std::string_view key, std::string_view name);

    // Text of the store as it would be saved.
    std::string serialize() const;
    // Replaces the contents with the parsed text; false (and empty) when malformed.
    bool parse(std::string_view text);

private:
    struct Key {
        std::string name;                                // full path, spelling of first write
        std::vector<std::pair<std::string, Value>> values; // in order of first write
    };
    static std::string fold(std::string_view s);
    Key* findKey(std::string_view key);
    const Key* findKey(std::string_view key) const;
    Key& ensureKey(std::string_view key);

    std::string path_;
    std::map<std::string, Key> keys_; // by folded path
    bool keepAsideOnSave_ = false;
};

} // namespace zelvo::platform
