#include "app/port_options_logic.h"

#include "app/main_form_logic.h"
#include "comm/baud_rates.h"

#include <charconv>
#include <optional>

namespace zelvo::app {

int BaudItem(uint32_t baud)
{
    for (int i = 0; i < 10; ++i)
        if (kBaudTable[i] == baud / 10)
            return i;
    return 6;
}

uint32_t BaudOfItem(int item)
{
    return item >= 0 && item < 10 ? kBaudTable[item] * 10 : 19200;
}

std::vector<uint32_t> OtherBaudRates()
{
    std::vector<uint32_t> out;
    for (uint32_t r : comm::StandardBaudRates())
        if (r > BaudOfItem(9))
            out.push_back(r);
    return out;
}

std::optional<uint32_t> ParseBaud(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    uint32_t n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < comm::MinBaud ||
        n > comm::MaxBaud)
        return std::nullopt;
    return n;
}

PortOptionControls ControlsFor(const PortOptionValues& v)
{
    PortOptionControls c;
    c.baudItem = BaudItem(v.Baud);
    if (BaudOfItem(c.baudItem) != v.Baud && ParseBaud(std::to_string(v.Baud))) {
        c.baudItem = kOtherBaudItem;
        c.otherBaudText = std::to_string(v.Baud);
    }
    c.parityItem = v.Parity >= 0 && v.Parity <= 4 ? v.Parity : 0;
    c.dataBitsItem = v.DataBits >= 5 && v.DataBits <= 8 ? 8 - v.DataBits : 0;
    c.stopBitsItem = v.StopBits == 2 ? 1 : 0;
    c.dtrDsr = v.hwfUseDTR;
    c.rtsCts = v.hwfUseRTS;
    c.softwareTransmit = v.SWFlowOptions == 2 || v.SWFlowOptions == 3;
    c.softwareReceive = v.SWFlowOptions == 1 || v.SWFlowOptions == 3;
    c.reconnect = v.Reconnect;
    c.xonText = std::to_string(v.XOnChar);
    c.xoffText = std::to_string(v.XOffChar);
    return c;
}

namespace {
// The character code a text gives: a decimal number from 0 to 255, blanks around it
// allowed.
std::optional<int> charCode(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    int n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty() && n >= 0 && n <= 255)
        return n;
    return std::nullopt;
}

void takeChar(std::string_view text, int& target)
{
    if (auto n = charCode(text))
        target = *n;
}
} // namespace

std::vector<ControlProblem> CheckControls(const PortOptionControls& c)
{
    std::vector<ControlProblem> problems;
    auto check = [&](ControlProblem::Field field, const char* name, const std::string& text) {
        if (charCode(text))
            return;
        problems.push_back({field, std::string(name) + " \"" + text
                                       + "\" is not a character code; type a number from 0 to 255."});
    };
    check(ControlProblem::XonChar, "Xon char:", c.xonText);
    check(ControlProblem::XoffChar, "Xoff char:", c.xoffText);
    const auto xon = charCode(c.xonText), xoff = charCode(c.xoffText);
    if (xon && xoff && *xon == *xoff && (c.softwareTransmit || c.softwareReceive))
        problems.push_back({ControlProblem::XoffChar,
                            "Xon char and Xoff char are both " + std::to_string(*xon)
                                + "; software flow control needs two different characters."});
    return problems;
}

PortOptionValues ApplyControls(PortOptionValues v, const PortOptionControls& c)
{
    v.Reconnect = c.reconnect;
    // The serial controls are disabled for a telephony line; its values stay as they were.
    if (v.TapiMode != 3)
        return v;
    if (c.baudItem == kOtherBaudItem) {
        if (auto b = ParseBaud(c.otherBaudText))
            v.Baud = *b;
    } else {
        v.Baud = BaudOfItem(c.baudItem);
    }
    v.Parity = c.parityItem;
    v.DataBits = 8 - c.dataBitsItem;
    v.StopBits = c.stopBitsItem + 1;
    v.hwfUseDTR = v.hwfRequireDSR = c.dtrDsr;
    v.hwfUseRTS = v.hwfRequireCTS = c.rtsCts;
    v.SWFlowOptions = c.softwareTransmit && c.softwareReceive ? 3
                      : c.softwareTransmit                    ? 2
                      : c.softwareReceive                     ? 1
                                                              : 0;
    takeChar(c.xonText, v.XOnChar);
    takeChar(c.xoffText, v.XOffChar);
    return v;
}

void ChooseLine(PortOptionValues& v, std::string_view entry)
{
    if (auto n = LineEntryNumber(entry)) {
        v.TapiMode = 3;
        v.ComNumber = *n;
    } else {
        v.TapiMode = 1;
        v.ComNumber = 0;
        v.Device = std::string(entry);
    }
}

} // namespace zelvo::app
