#pragma once
// A text file of sections and name=value lines (the private profile format):
//
//   [Section]
//   Name=value
//
// Section and key names compare without regard to case; the spelling of the first write
// is kept. Values are kept byte for byte (they may hold ESC and other control bytes) up
// to the end of the line; a line feed cannot be part of a value and a carriage return at
// a line's end is taken as part of a CR LF line end. Changes stay in memory until save(),
// which replaces the file atomically.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::terminal {

class PrivateProfile {
public:
    explicit PrivateProfile(std::string path = {});

    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }

    // Reads the file. False when it does not exist or cannot be read (errno tells which);
    // the contents are then empty.
    bool load();
    // Writes the file (temporary file, fsync, rename). False on any write error.
    bool save() const;

    void parse(std::string_view text);
    std::string serialize() const;

    bool hasSection(std::string_view section) const;
    std::vector<std::string> sections() const;
    // Key names of a section in file order.
    std::vector<std::string> keys(std::string_view section) const;
    std::optional<std::string> read(std::string_view section, std::string_view key) const;
    // Sets a value, creating section and key as needed.
    void write(std::string_view section, std::string_view key, std::string_view value);
    // Creates an empty section when it is missing.
    void addSection(std::string_view section);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

    // Whether two section or key names are the same name: equal but for the case of the
    // ASCII letters. Files built on profiles compare their record names the same way.
    static bool sameName(std::string_view a, std::string_view b);

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    Section* find(std::string_view section);
    const Section* find(std::string_view section) const;

    std::string path_;
    std::vector<Section> sections_;
};

} // namespace zelvo::terminal
