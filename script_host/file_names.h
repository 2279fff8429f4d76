#pragma once
// File name helpers of the host functions, and the protocol names scripts use.

#include "protocols/protocol_types.h"

#include <string>

namespace zelvo::script_host {

// The name part: what follows the last "\", ":" or "/".
std::string FileNamePart(const std::string& path);
// The directory part: everything up to and including the last "\", ":" or "/"; empty
// when there is none.
std::string FilePathPart(const std::string& path);
// True when path names an existing file (not a directory).
bool FileExistsAt(const std::string& path);
// True when a name to send selects at least one file: a plain name that exists, or a
// mask with wildcards ("*", "?", "[") that matches a file in its directory, the way the
// protocol component chooses files to send ("*.*" matches every name).
bool AnyFileMatches(const std::string& nameOrMask);
// The protocol a script names ("zmodem", "XMODEM1K", ...; compared in upper case);
// ptNoProtocol for any other name.
protocols::TProtocolType ProtocolByName(const std::string& name);

} // namespace zelvo::script_host
