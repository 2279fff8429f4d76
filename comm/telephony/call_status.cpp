#include "comm/telephony/call_status.h"

#include <string_view>

namespace zelvo::telephony {

namespace {

const char* const kCallStates[] = {
    "Line is idle",
    "Offering line...",
    "Accepting call...",
    "Dialtone detected",
    "Dialing...",
    "Ringback detected",
    "Called number is busy",
    "Special info",
    "Connected!",
    "Proceeding...",
    "On hold...",
    "Call conferenced",
    "On hold pending conference...",
    "On hold pending transfer...",
    "Call disconnected (%s)",
    "Unknown state",
};

const char* const kLineStates[] = {
    "Other",
    "Ringing",
    "Connected",
    "Disconnected",
    "Message wait on",
    "Message wait off",
    "In service",
    "Out of service",
    "Maintenance change",
    "Ppen change",
    "Closed",
    "Number of calls changed",
    "Number of completions changed",
    "Terminals changed",
    "Roam mode changed",
    "Battery changed",
    "Signal changed",
    "Device specific change",
    "Re-initialized",
    "Lock change",
    "Caps change",
    "Configuration change",
    "Translate change",
    "Compltion cancel",
    "Removed",
};

const char* const kDeviceStates[] = {
    "TAPI state change",
    "Called number is busy",
    "Dial failed/no connection",
    "Waiting for retry in %d seconds",
    "Device is in use by another application",
};

const char* const kReasons[] = {
    "Normal Hangup by Remote",
    "Reason Unknown",
    "Remote Rejected Call",
    "Call Picked Up Elsewhere",
    "Call was Forwarded",
    "Line was Busy",
    "No Answer by Remote",
    "Invalid Destination Address",
    "Remote Unreachable",
    "Network Congestion",
    "Remote Equipment Incompatible",
    "Reason Unavailable",
    "No Dialtone",
    "Number Changed",
    "Out of Order",
    "Temporary Failure",
    "Quality of Service Unavail",
    "Blocked",
    "Do Not Disturb",
    "Cancelled",
};

// 1 for bit 0, 2 for bit 1, ...; 0 when no bit is set.
int lowestBit(uint32_t v)
{
    for (int i = 0; i < 32; ++i)
        if (v & (1u << i))
            return i + 1;
    return 0;
}

// The entry at the lowest set bit's position; a value without one inside the table
// gives the table's entry for "something else" (its position fallback).
template <size_t N>
std::string entry(const char* const (&table)[N], uint32_t bits, int fallback)
{
    int pos = lowestBit(bits);
    if (pos < 1 || size_t(pos) > N)
        pos = fallback;
    return table[pos - 1];
}

void replace(std::string& text, std::string_view what, const std::string& with)
{
    if (auto at = text.find(what); at != std::string::npos)
        text.replace(at, what.size(), with);
}

} // namespace

std::string DescribeStatus(uint32_t message, uint32_t state, uint32_t reason)
{
    switch (message) {
    case kMsgCallState: {
        std::string text = entry(kCallStates, state, 16);
        if (lowestBit(state) == lowestBit(kCallDisconnected))
            replace(text, "%s", entry(kReasons, reason, 2));
        return text;
    }
    case kMsgLineState:
        return entry(kLineStates, state, 1);
    case kMsgReply:
        if (lowestBit(state) == 1)
            return "TAPI line reply";
        break;
    default:
        break;
    }
    std::string text = entry(kDeviceStates, state, 1);
    if (lowestBit(state) == lowestBit(kDeviceRetryWait))
        replace(text, "%d", std::to_string(reason));
    return text;
}

} // namespace zelvo::telephony
