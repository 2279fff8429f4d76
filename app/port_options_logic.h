#pragma once
// The values that the port options dialog edits and how its controls map onto them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::app {

struct PortOptionValues {
    uint32_t TapiMode = 3;   // 3 direct port, 1 telephony line
    int ComNumber = 0;
    uint32_t Baud = 57600;
    int Parity = 0;          // pNone .. pSpace
    int DataBits = 8;
    int StopBits = 1;
    bool hwfUseDTR = false;
    bool hwfUseRTS = false;
    bool hwfRequireDSR = false;
    bool hwfRequireCTS = false;
    int SWFlowOptions = 0;   // swfNone, swfReceive, swfTransmit, swfBoth
    int XOnChar = 17;
    int XOffChar = 19;
    std::string Device;      // chosen telephony device
    bool Reconnect = true;   // reopen the line when its device comes back

    bool operator==(const PortOptionValues&) const = default;
};

// The rates of the "Baud rates:" group, each stored divided by ten.
inline constexpr uint32_t kBaudTable[10] = {30, 60, 120, 240, 480, 960, 1920, 3840, 5760, 11520};
// The group's last item, "Other:", takes any rate the driver can set, typed or chosen
// from the faster standard rates (OtherBaudRates).
inline constexpr int kOtherBaudItem = 10;

// The item that shows a rate: "19200" (item 6) unless the table holds the rate.
int BaudItem(uint32_t baud);
uint32_t BaudOfItem(int item);
// The standard rates above the group's fastest, offered beside "Other:".
std::vector<uint32_t> OtherBaudRates();
// A typed rate: a whole number from 50 to 4000000 (blanks around it allowed).
std::optional<uint32_t> ParseBaud(std::string_view text);

// The state of the dialog's controls.
struct PortOptionControls {
    int baudItem = 6;
    std::string otherBaudText = "230400"; // the rate of the "Other:" item
    int parityItem = 0;
    int dataBitsItem = 0; // 8 - data bits
    int stopBitsItem = 0; // stop bits - 1
    bool dtrDsr = false;
    bool rtsCts = false;
    bool softwareTransmit = false;
    bool softwareReceive = false;
    bool reconnect = true;
    std::string xonText = "17";
    std::string xoffText = "19";
};

// A rate of the group's table selects its item; any other rate selects "Other:" with
// the rate, so that OK keeps it.
PortOptionControls ControlsFor(const PortOptionValues& v);

// A control whose value cannot be used, and why, in the user's words.
struct ControlProblem {
    enum Field { XonChar, XoffChar } field;
    std::string text;
};
// What is wrong with the controls of a direct port: a character code that is not a
// number from 0 to 255, or the same character for Xon and Xoff under software flow
// control. Empty when everything can be used.
std::vector<ControlProblem> CheckControls(const PortOptionControls& c);
// The values after OK: the controls applied over v. A character text that is not a
// number from 0 to 255 leaves that character as it was; an "Other:" rate that is not a
// valid rate leaves the rate as it was.
PortOptionValues ApplyControls(PortOptionValues v, const PortOptionControls& c);
// Picks a line list entry: a "Direct to COM" entry makes a direct port of that number,
// any other entry a telephony line of that name.
void ChooseLine(PortOptionValues& v, std::string_view entry);

} // namespace zelvo::app
