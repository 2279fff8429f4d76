#pragma once
// The list of named sessions that the Preferences menu shows, in menu order.
//
// Entry i is shown as "&i name" and carries the tag i + 1, so choosing an item finds its
// session by its tag. The list reaches the settings store only at exit (WriteSessions);
// saving a session writes its settings at once.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::app {

class SessionList {
public:
    const std::vector<std::string>& names() const { return names_; }
    size_t count() const { return names_.size(); }
    bool empty() const { return names_.empty(); }

    // Appends one entry at the end of the menu.
    void AddSession(std::string name);
    void clear() { names_.clear(); }
    void assign(std::vector<std::string> names) { names_ = std::move(names); }

    // Index of the entry that names the same stored session as name, or -1.
    int indexOf(std::string_view name) const;

    // Name of the entry with the given tag (position + 1), or nullptr for a stale tag.
    const std::string* byTag(int tag) const;

    // OK in the Save / Delete dialog: the menu is rebuilt from the dialog's (sorted) list,
    // then the typed name is appended when it is not one of them.
    void rebuildAfterSave(const std::vector<std::string>& boxList, const std::string& typed);
    // Delete in the Save / Delete dialog: removes the entry of that name; the others are
    // renumbered. Returns false when no entry has that name.
    bool remove(std::string_view typed);

    // Menu caption of entry index: "&0 office". An '&' in the name is doubled so that it
    // shows as itself instead of becoming the access key.
    static std::string Caption(size_t index, std::string_view name);
    // The names as the dialog's sorted combo box lists them (case-insensitive order).
    static std::vector<std::string> SortedForBox(std::vector<std::string> names);
    // The dialog's preset name: "Setting" followed by the number of sessions.
    std::string DefaultNewName() const { return "Setting" + std::to_string(names_.size()); }

private:
    std::vector<std::string> names_;
};

} // namespace zelvo::app
