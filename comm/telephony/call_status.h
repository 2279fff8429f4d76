#pragma once
// Call progress as the telephony device reports it, and the texts the user sees for it.
//
// Every progress report carries a message kind, a state and a reason. The kinds and
// the bit values below are the ones the main window's status panel and the call
// progress window understand; the text of a report depends on the kind and on the
// position of the lowest set bit of the state (1 for bit 0, 2 for bit 1, ...).

#include <cstdint>
#include <string>

namespace zelvo::telephony {

// Message kinds.
constexpr uint32_t kMsgCallState = 2;  // state: one of the call states below
constexpr uint32_t kMsgLineState = 8;  // state: a line device state bit
constexpr uint32_t kMsgReply = 12;     // the answer to an earlier request
constexpr uint32_t kMsgDevice = 32;    // the device's own progress (below)

// Call states (kMsgCallState).
constexpr uint32_t kCallIdle = 0x0001;
constexpr uint32_t kCallOffering = 0x0002;
constexpr uint32_t kCallAccepted = 0x0004;
constexpr uint32_t kCallDialtone = 0x0008;
constexpr uint32_t kCallDialing = 0x0010;
constexpr uint32_t kCallRingback = 0x0020;
constexpr uint32_t kCallBusy = 0x0040;
constexpr uint32_t kCallSpecialInfo = 0x0080;
constexpr uint32_t kCallConnected = 0x0100;
constexpr uint32_t kCallProceeding = 0x0200;
constexpr uint32_t kCallOnHold = 0x0400;
constexpr uint32_t kCallConferenced = 0x0800;
constexpr uint32_t kCallDisconnected = 0x4000; // the reason says why
constexpr uint32_t kCallUnknown = 0x8000;

// Reasons of kCallDisconnected.
constexpr uint32_t kReasonNormal = 0x00001;
constexpr uint32_t kReasonUnknown = 0x00002;
constexpr uint32_t kReasonReject = 0x00004;
constexpr uint32_t kReasonBusy = 0x00020;
constexpr uint32_t kReasonNoAnswer = 0x00040;
constexpr uint32_t kReasonBadAddress = 0x00080;
constexpr uint32_t kReasonUnreachable = 0x00100;
constexpr uint32_t kReasonUnavailable = 0x00800;
constexpr uint32_t kReasonNoDialtone = 0x01000;
constexpr uint32_t kReasonCancelled = 0x80000;

// The device's own states (kMsgDevice).
constexpr uint32_t kDeviceStateChange = 0x01;
constexpr uint32_t kDeviceBusy = 0x02;
constexpr uint32_t kDeviceDialFailed = 0x04;
constexpr uint32_t kDeviceRetryWait = 0x08; // the reason is the seconds left
constexpr uint32_t kDeviceInUse = 0x10;

// One progress report. A sequence (one call attempt series, one hang-up) starts with
// a report marked first and ends with one marked last, which carries no text.
struct CallStatus {
    bool first = false;
    bool last = false;
    uint32_t message = 0;
    uint32_t state = 0;
    uint32_t reason = 0;
};

// The text of a report: the table of the message kind, indexed by the position of the
// lowest set bit of state; "%s" of the disconnected state takes the reason's text,
// "%d" of the retry wait the seconds left. A state without a bit, or beyond its table,
// reads as the table's "other" entry ("Unknown state", "Other", "TAPI state change",
// and "Reason Unknown" for reasons).
std::string DescribeStatus(uint32_t message, uint32_t state, uint32_t reason);

} // namespace zelvo::telephony
