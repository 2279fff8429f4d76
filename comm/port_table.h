#pragma once
// The port table: which device a port number (ComNumber 1..50) opens. Entries live in
// the settings store under software\brunmo\zelvo32\ports as string values "COM1".."COM50";
// a number without an entry takes the default COM1-4 -> /dev/ttyS0-3,
// COM5-20 -> /dev/ttyUSB0-15, COM21-36 -> /dev/ttyACM0-15. An entry may be
// "exec:COMMAND", a command run on a new pseudo-terminal.

#include "platform/registry_store.h"

#include <string>
#include <vector>

namespace zelvo::comm {

constexpr const char* PortTableKey = "software\\brunmo\\zelvo32\\ports";
constexpr int MaxComNumber = 50;
constexpr const char* ExecPrefix = "exec:";

// The default device of a number; empty for numbers without one (37..50).
std::string DefaultPortDevice(int comNumber);
// The device a number opens: the store's entry, else the default.
std::string PortDevice(const platform::RegistryStore& store, int comNumber);
// Maps a number to a device (an empty device removes the entry). Does not save.
void SetPortDevice(platform::RegistryStore& store, int comNumber, const std::string& device);
bool IsExecDevice(const std::string& device);
// A local interactive shell on a pseudo-terminal ("exec:exec '$SHELL' -i", /bin/sh when
// SHELL is unset): the line a machine without serial hardware can start with.
std::string LocalShellDevice();

// Probes a device as the port choice dialog does: opens and closes it at once.
// Returns 0 when it opens, -5 when it exists but is in use, else minus errno.
// An exec: line is not started; it counts as present.
int ProbePortDevice(const std::string& device);

// An entry of the port choice list, "COM5 (/dev/ttyUSB0)", and the number it names
// (the text after its first three characters, up to the device); 0 when not a number.
std::string PortChoiceText(int comNumber, const std::string& device);
int PortChoiceNumber(const std::string& text);

// The port numbers 1..50 whose device exists, including those in use by another
// program or not permitted to this user; the list the port choice dialog offers.
std::vector<int> AvailablePorts(const platform::RegistryStore& store);

} // namespace zelvo::comm
