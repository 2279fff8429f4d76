#pragma once
// Turns a file name that arrived on the line into a path inside the destination
// directory. The name is hostile until checked: either '/' or '\' separates components;
// without honorDirectory only the last component is used; with it the directory part is
// kept below the destination, but an absolute name, a drive letter or a ".." component
// is refused. Empty names, "." and "..", and components too long for the file system
// are refused too.

#include <string>

namespace zelvo::protocols {

struct ReceivedName {
    bool ok = false;
    std::string path;     // destination + relative name
    std::string relative; // the name below the destination
    std::string reason;   // why the name was refused
};

ReceivedName ReduceReceivedName(const std::string& wireName, const std::string& destination,
                                bool honorDirectory, bool upcase);

// The name a receiver uses instead of an existing file when it renames: the first
// character of the file name (not of the directory) becomes '$'.
std::string RenamedPath(const std::string& path);

// Makes the directories of a reduced name below the destination, one component at a
// time, never through a symbolic link: a component that is a link or not a directory
// refuses the name. Also refuses a final component that is a symbolic link, so that a
// received file never lands outside the destination through a link placed there.
// True when the name may be written; otherwise reason says why.
bool PrepareReceivedPath(const std::string& destination, const std::string& relative, std::string& reason);

} // namespace zelvo::protocols
