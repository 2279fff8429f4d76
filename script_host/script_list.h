#pragma once
// The scripts listed in the Script menu: full paths in menu order, the captions of their
// menu entries ("&0 login.vm": the position and the file's name, not its directory) and
// the tags that lead back from an entry to its path (position + 1).

#include <cstddef>
#include <string>
#include <vector>

namespace zelvo::script_host {

class ScriptList {
public:
    void AddScript(const std::string& path) { paths_.push_back(path); }
    void clear() { paths_.clear(); }
    size_t count() const { return paths_.size(); }
    bool empty() const { return paths_.empty(); }
    const std::vector<std::string>& paths() const { return paths_; }
    // The path of the entry with this tag; null for a tag that names none.
    const std::string* byTag(int tag) const;

    static std::string Caption(size_t position, const std::string& path);

private:
    std::vector<std::string> paths_;
};

// The line an engine message names: its first run of decimal digits ("Line 12 - ...",
// "Runtime error: line 7 - ..."); 1 when it has none.
int MessageLine(const std::string& message);

} // namespace zelvo::script_host
