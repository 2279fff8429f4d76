#pragma once
// Where the program keeps and finds its files on Linux.

#include <string>

namespace zelvo::platform {

// $HOME, or the password database's home directory.
std::string homeDir();
// $XDG_CONFIG_HOME/zelvo32 (or ~/.config/zelvo32); not created here.
std::string configDir();
// $XDG_DOWNLOAD_DIR, else ~/Downloads when it exists, else home.
std::string downloadDir();
// Directory of the running executable (from /proc/self/exe).
std::string programDir();
// True when a file can be created in dir.
bool isWritableDir(const std::string& dir);
// Creates dir and its parents; true when it exists afterwards.
bool makeDirs(const std::string& dir);

} // namespace zelvo::platform
