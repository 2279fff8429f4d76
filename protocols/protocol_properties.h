#pragma once
// The protocol component's settings by name, for the tools' "--set NAME=VALUE": every
// published property that holds a value (not the port, the status window, the log or
// the events). Names compare without regard to case. Values are decimal numbers,
// 0/1/true/false/yes/no for switches, a single character or its code for characters,
// the identifier or the number of an enumeration value (wfWriteAnyway or 3), and any
// text for the strings.

#include <string>
#include <vector>

#include "protocols/protocol.h"

namespace zelvo::protocols {

// Sets the property; an empty result means it was set, otherwise it says why not.
std::string SetProtocolProperty(Protocol& protocol, const std::string& name, const std::string& value);
// The names, in declaration order.
std::vector<std::string> ProtocolPropertyNames();

} // namespace zelvo::protocols
