#pragma once
// The modems the telephony device can use, kept in the settings store.
//
//   [software\brunmo\zelvo32\modems]
//   "Office modem"="/dev/ttyUSB0"
//   "Simulator"="exec:zelvo32-modemsim --number 1='exec:/bin/sh -i'"
//   [software\brunmo\zelvo32\modems\Office modem]
//   "Init"="ATZ"
//   "Dial"="ATDT"
//   "Hangup"=dword:00000000
//   ...
//
// Each value of the modems key names one modem, as the port dialog's line list shows
// it, and holds its device: "COMn" (a port number of the port table), a device path,
// or "exec:COMMAND" (a command on a pseudo-terminal that behaves as a modem). The other
// settings of a modem live in a key of the same name below; a setting that is missing,
// of the wrong type or out of range takes its default.

#include "platform/registry_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::telephony {

inline constexpr std::string_view kModemsKey = "software\\brunmo\\zelvo32\\modems";

// How a call is ended. Auto drops DTR on a line that has modem control lines and uses
// the escape sequence ("+++" between guard times, then ATH) on one that has none (a
// pseudo-terminal).
enum class HangupMethod : uint32_t { Auto = 0, Dtr = 1, Escape = 2 };

struct ModemConfig {
    std::string name;
    std::string device;
    std::string init = "ATZ";        // "Init": sent before every call; empty sends none
    std::string dialPrefix = "ATDT"; // "Dial": the number and a CR follow it
    HangupMethod hangup = HangupMethod::Auto; // "Hangup"
    uint32_t baud = 57600;           // "Baud": speed of a serial device
    bool rtsCts = false;             // "RtsCts": hardware flow control on a serial device
    uint32_t answerSeconds = 60;     // "Answer": wait for the result of the dial command
    uint32_t guardMs = 1000;         // "Guard": silence around "+++", in milliseconds

    bool operator==(const ModemConfig&) const = default;
};

// Ranges the settings are kept in; values outside are not taken.
inline constexpr uint32_t kMinAnswerSeconds = 5;
inline constexpr uint32_t kMaxAnswerSeconds = 255;
inline constexpr uint32_t kMinGuardMs = 20;
inline constexpr uint32_t kMaxGuardMs = 5000;
inline constexpr size_t kMaxModemName = 64;
inline constexpr size_t kMaxModemCommand = 60;

// The configured modems, in the order they were added.
std::vector<ModemConfig> ReadModems(const platform::RegistryStore& store);
// The modem of that name (names compare without regard to case, as the store's do).
std::optional<ModemConfig> FindModem(const platform::RegistryStore& store, std::string_view name);

// Modem names compare without regard to case, as the store's value names do.
bool SameModemName(std::string_view a, std::string_view b);

// Why a text cannot name a modem, or empty when it can: names are the line list's
// entries, so they must be visible, one line, without '\' (the store's key separator)
// and must not look like a direct port ("Direct to COM").
std::string ModemNameProblem(std::string_view name);
// Why a configuration cannot be stored, or empty: its name, an empty device, or a
// command string with a line break or longer than a modem's command line.
std::string ModemConfigProblem(const ModemConfig& modem);

// Adds or replaces a modem (does not save the store). False, with the reason, when
// ModemConfigProblem finds one.
bool WriteModem(platform::RegistryStore& store, const ModemConfig& modem, std::string& error);
// Removes a modem and its settings (does not save the store).
void RemoveModem(platform::RegistryStore& store, std::string_view name);

// The device a modem's line opens: "COMn" becomes the port table's device of n.
std::string ResolveModemDevice(const platform::RegistryStore& store, const std::string& device);

} // namespace zelvo::telephony
