#pragma once
// The one server of the process behind the exported functions. Its state lives in static
// storage for the life of the process, as a per-process server's must.

#include "file_server/file_service.h"
#include "file_server/link_framing.h"

namespace zelvo::file_server {

LinkFraming& serverFraming();
FileService& serverFiles();

// Closes every file, drops every search, zeroes the counters and forgets the drive table,
// as if the library had just been loaded. Not exported: for tests and tools in-process.
void resetServer();

} // namespace zelvo::file_server
