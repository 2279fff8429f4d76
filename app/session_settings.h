#pragma once
// The settings of one session and their place in the settings store.
//
// Every session keeps five groups below its path ("default", or "sessions\" + name):
// Port, Protocol, Emulator, window and Script. Each group is read value by value in a
// fixed order; an integer that is missing, or any value of the wrong type, ends the
// reading of that group (values read before it stay, the rest keep what they had) and the
// next group is still read. A missing string reads as empty. Nothing here ever reports a
// failure to the user: a hand-edited or damaged store must never stop the program.
//
// The structs hold the values as the store keeps them; applying them to the port, the
// terminal and the protocol component is done elsewhere, so that this part is testable
// without any of them.

#include "platform/registry_store.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::app {

// Root of all settings; nothing is read while it is missing.
inline constexpr std::string_view kRootKey = "software\\brunmo\\zelvo32";
// The session list; named sessions keep their groups below it.
inline constexpr std::string_view kSessionsKey = "software\\brunmo\\zelvo32\\sessions";
// Session path of the settings in force at start-up and at exit.
inline constexpr std::string_view kDefaultSession = "default";

// Lists longer than this are taken as damage of a hand-edited store (a "Count" of four
// thousand million would otherwise make the program loop and fill a menu for hours).
inline constexpr uint32_t kMaxListEntries = 1000;
// The terminal font name is used up to this many characters.
inline constexpr size_t kMaxFontName = 255;
// Send macros of a session, one for each of Shift+F1 .. Shift+F12.
inline constexpr size_t kMacroCount = 12;

// Scrollback rows a stored session may ask for; the terminal takes as many as it can hold.
inline constexpr uint32_t kMaxHistoryRows = 100000;

struct PortSettings {
    // "Mode": 3 is a directly opened port; any other value is a modem reached through the
    // telephony device. Kept as stored, without a range check.
    uint32_t TapiMode = 3;
    uint32_t ComNumber = 0;   // "Port"
    uint32_t Baud = 57600;
    uint32_t StopBits = 1;    // "Stop"
    uint32_t Parity = 0;      // pNone, pOdd, pEven, pMark, pSpace
    bool hwfUseDTR = false;   // "DTR"
    bool hwfUseRTS = false;   // "RTS"
    bool hwfRequireDSR = false; // "DSR"
    bool hwfRequireCTS = false; // "CTS"
    uint32_t SWFlowOptions = 0; // "SFLOW": swfNone, swfReceive, swfTransmit, swfBoth
    uint32_t XOnChar = 17;
    uint32_t XOffChar = 19;
    std::string Device; // telephony device, used when TapiMode is not 3
    // "Reconnect": reopen a direct line whose device went away when it comes back. A
    // later addition, read apart from the values above; a store without it reads as on.
    bool Reconnect = true;

    bool isDirect() const { return TapiMode == 3; }
    bool operator==(const PortSettings&) const = default;
};

struct ProtocolSettings {
    uint32_t ProtocolType = 1;            // "Type"
    bool ZmodemOptionOverride = false;    // "zOver"
    bool ZmodemSkipNoFile = false;        // "SkipFile"
    bool ZmodemRecover = false;           // "zRecov"
    bool Zmodem8K = false;                // "z8K"
    uint32_t ZmodemFileOption = 4;        // "zFileMgm": zfoWriteClobber
    bool HonorDirectory = false;          // "HDir"
    bool IncludeDirectory = false;        // "InclDir"
    bool RTSLowForWrite = false;          // "RTSLow"
    bool AbortNoCarrier = false;          // "AbrtNoCar"
    uint32_t WriteFailAction = 2;         // "WriteFail": wfWriteRename
    uint32_t KermitMaxLen = 80;           // "BlockLen"
    uint32_t KermitMaxWindows = 0;        // "Windows"
    uint32_t KermitTimeoutSecs = 5;       // "Timeout"
    uint32_t AsciiCharDelay = 0;          // "InterCharDelay"
    uint32_t AsciiLineDelay = 0;          // "InterLineDelay"
    uint32_t AsciiCRTranslation = 0;      // "CRTrans"
    uint32_t AsciiLFTranslation = 0;      // "LFTrans"
    uint32_t AsciiEOFTimeout = 364;       // "EOFTimeout"
    bool ZmodemAutoStart = false;         // "zAuto"
    std::string SendFile;                 // last file sent
    std::string ReceiveFile;              // last file of a single-file receive
    std::string BatchPath;                // last directory of a batch receive

    bool operator==(const ProtocolSettings&) const = default;
};

struct EmulatorSettings {
    // "Type": etNone 0, etANSI 1, etVT52 2, etVT100 3, etANSIBBS 4, etXterm 5
    uint32_t EmulatorType = 1;
    std::string Keyboard;      // key map record in use; empty keeps the emulator's own choice
    bool VisualBell = false;   // "VisualBell" (added): the bell flashes the page, no beep
    // Additions, read only when present (a store without them keeps what is in force):
    uint32_t Timestamps = 0;   // "Timestamps": 0 off, 1 time of day, 2 time since the previous line
    bool HexView = false;      // "HexView": received bytes shown as a hex dump
    uint32_t EnterSends = 0;   // "EnterSends": 0 CR, 1 LF, 2 CR LF
    bool LFImpliesCR = false;  // "LFImpliesCR": a received LF also returns to column 0

    bool operator==(const EmulatorSettings&) const = default;
};

struct WindowSettings {
    std::string FontName = "Terminal"; // "Name"
    int32_t FontSize = 14;             // "Size"; the height below decides
    uint32_t FontPitch = 2;            // "Pitch": fpDefault, fpVariable, fpFixed
    uint32_t FontColor = 0xC0C0C0;     // "Color": 0x00BBGGRR, silver
    int32_t FontHeight = -18;          // "Height": negative is a pixel height
    bool LED = false;                  // light bar visible, light monitoring on
    bool Status = true;                // status bar visible
    int32_t Left = -1;                 // remembered position; negative centres the window
    int32_t Top = -1;
    // Additions, stored after the values above and read only when present:
    bool CaptureCrLf = false;          // "CaptureCRLF": capture file line breaks CR LF, else LF
    uint32_t HistoryRows = 175;        // "HistoryRows": scrollback rows above the page

    bool operator==(const WindowSettings&) const = default;
};

// A send macro: a button caption and the text it sends, with the backslash escapes of
// app/send_text.h as the user typed them (so the store never holds raw line breaks).
struct SendMacro {
    std::string Name; // "MacroName1" .. "MacroName12"
    std::string Text; // "Macro1" .. "Macro12"

    bool empty() const { return Text.empty(); }
    bool operator==(const SendMacro&) const = default;
};

struct ScriptSettings {
    std::string Dial;                 // last number dialled
    std::string File;                 // preset of the script file dialog
    std::string Path;                 // initial directory of the script file dialog
    std::vector<std::string> Scripts; // the script menu, in menu order
    // Added: the send macros; a stored Script group replaces them all (absent ones empty).
    std::array<SendMacro, kMacroCount> Macros;

    bool operator==(const ScriptSettings&) const = default;
};

struct SessionSettings {
    PortSettings port;
    ProtocolSettings protocol;
    EmulatorSettings emulator;
    WindowSettings window;
    ScriptSettings script;

    bool operator==(const SessionSettings&) const = default;
};

// How the reading of one group went, for diagnostics and tests.
enum class GroupRead {
    Absent,   // the group key does not exist; nothing changed
    Complete, // every value was read
    Stopped,  // a value was missing or of the wrong type; later values kept their values
};

struct ReadReport {
    bool rootFound = false;
    GroupRead port = GroupRead::Absent;
    GroupRead protocol = GroupRead::Absent;
    GroupRead emulator = GroupRead::Absent;
    GroupRead window = GroupRead::Absent;
    GroupRead script = GroupRead::Absent;
    // Name of the value that ended each stopped group, in group order, e.g. "Port\Stop".
    std::vector<std::string> stoppedAt;
};

// "default" for the start-up settings, "sessions\" + name for a named session.
std::string SessionPath(std::string_view name);
// Full key of a group of a session path, e.g. GroupKey("default", "Port").
std::string GroupKey(std::string_view sessionPath, std::string_view group);

// True when a typed name can name a session: not empty, not made only of separators and
// blanks, and free of control characters (which the store cannot keep in a key name).
bool IsValidSessionName(std::string_view name);
// Two names that the case-insensitive store files under the same key ("Office" and
// "office", "a\b" and "a\\b") name the same session.
bool SameSession(std::string_view a, std::string_view b);

// Reads the five groups of a session into s, in the order Port, Protocol, Emulator,
// window, Script. Values that are not read keep what s held. The script list is replaced
// by the stored one when the Script group's "Count" could be read.
ReadReport ReadRegistry(const platform::RegistryStore& store, std::string_view sessionPath,
                        SessionSettings& s);
// Writes the five groups of a session, creating missing keys. Strings that the store
// cannot keep (line breaks) are left out; every other value is written.
void WriteRegistry(platform::RegistryStore& store, std::string_view sessionPath,
                   const SessionSettings& s);

// A "default" session that the store does not hold yet (a first start) takes the xterm
// emulation, which the hosts of today expect; a stored session keeps its emulation.
void ApplyFirstStartDefaults(const ReadReport& report, SessionSettings& s);

// The stored session names in menu order; empty when the root or the list is missing.
std::vector<std::string> ReadSessions(const platform::RegistryStore& store);
// Writes "Count" and the names; does nothing while the root key is missing.
void WriteSessions(platform::RegistryStore& store, const std::vector<std::string>& names);

} // namespace zelvo::app
