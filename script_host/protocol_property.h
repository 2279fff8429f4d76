#pragma once
// Sets a setting of the protocol component by its name, as the command-line tools'
// --set NAME=VALUE does: numbers in decimal, switches as 0/1 (or true/false, yes/no),
// characters as a number or a single character, choices as their number or identifier
// (wfWriteRename, zfoWriteClobber, aetStrip, bcmCrc16, ...), texts as they are.

#include <string>
#include <vector>

namespace zelvo::protocols {
class Protocol;
}

namespace zelvo::script_host {

// Applies NAME=VALUE; false with a message for an unknown name or a bad value.
bool SetProtocolProperty(protocols::Protocol& protocol, const std::string& assignment,
                         std::string& error);
// The names that can be set, in the component's order.
std::vector<std::string> ProtocolPropertyNames();

} // namespace zelvo::script_host
