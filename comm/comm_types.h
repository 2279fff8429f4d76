#pragma once
// Numbers shared by everything that talks to a port: notification messages, result
// codes, trigger and status kinds, and the enumerations of the port's settings.
//
// Results of dispatcher operations are 32-bit signed integers: 0 or a positive count
// for success, a negative code from the list below otherwise. The port component turns
// a negative code into an exception of the EQarnException tree (comm/exceptions.h).

#include <cerrno>
#include <cstdint>

namespace zelvo::comm {

// Notification messages. The same numbers go to window handlers and procedure
// handlers. wParam carries the count or the trigger handle, the high 16 bits of lParam
// the dispatcher's Handle, the low 16 bits the extra datum of the message.
constexpr uint16_t MsgTriggerAvail = 0x7E01;
constexpr uint16_t MsgTriggerData = 0x7E02;
constexpr uint16_t MsgTriggerTimer = 0x7E03;
constexpr uint16_t MsgTriggerStatus = 0x7E04;
constexpr uint16_t MsgPortOpen = 0x7E08;
constexpr uint16_t MsgPortClose = 0x7E09;
constexpr uint16_t MsgPortClosePending = 0x7E0A;

// Handle of the data-available trigger; every other trigger handle is a multiple of 8
// (a status trigger carries its status type in the three low bits).
constexpr uint16_t AvailTriggerHandle = 1;

// Status trigger types.
constexpr int stNone = 0;
constexpr int stModem = 1;
constexpr int stLine = 2;
constexpr int stOutBuffFree = 3;
constexpr int stOutBuffUsed = 4;
constexpr int stOutSent = 5;

// Modem status byte: current line states in the high nibble, change bits in the low.
constexpr uint8_t msCTSDelta = 0x01;
constexpr uint8_t msDSRDelta = 0x02;
constexpr uint8_t msRingDelta = 0x04; // ring trailing edge
constexpr uint8_t msDCDDelta = 0x08;
constexpr uint8_t msCTS = 0x10;
constexpr uint8_t msDSR = 0x20;
constexpr uint8_t msRing = 0x40;
constexpr uint8_t msDCD = 0x80;

// Line error bits kept in LineErrorBits.
constexpr uint32_t leOverflow = 0x01; // our input queue overflowed
constexpr uint32_t leOverrun = 0x02;
constexpr uint32_t leParity = 0x04;
constexpr uint32_t leFraming = 0x08;
constexpr uint32_t leBreak = 0x10;

// Values given to ArmStatusTrigger for a line-status trigger.
constexpr uint16_t lsOverrun = 1;
constexpr uint16_t lsParity = 2;
constexpr uint16_t lsFraming = 4;
constexpr uint16_t lsBreak = 8;

// Results of TakeLineError.
constexpr int leNone = 0;
constexpr int leBuffer = 1;
constexpr int leOverrunError = 2;
constexpr int leParityError = 3;
constexpr int leFramingError = 4;
constexpr int leBreakError = 9;

// Hardware flow option bits (SetHardwareFlow) and software flow bits.
constexpr uint32_t hfUseDTR = 1;
constexpr uint32_t hfUseRTS = 2;
constexpr uint32_t hfRequireDSR = 4;
constexpr uint32_t hfRequireCTS = 8;
constexpr uint32_t sfTransmitFlow = 1;
constexpr uint32_t sfReceiveFlow = 2;

// "Keep the current value" arguments of SetLineParams.
constexpr uint32_t KeepBaud = 0;
constexpr int KeepParity = 5;
constexpr int KeepDataBits = 9;
constexpr int KeepStopBits = 3;

// Size of every dispatcher's circular input buffer.
constexpr uint32_t InputBufferSize = 8192;
// Longest data trigger string.
constexpr int MaxTriggerLen = 21;
// Time a window handler may take to accept a notification.
constexpr int WindowSendTimeoutMs = 3000;

// Result codes. Codes -1 .. -999 are minus the platform's error number (errno), so
// each reads as what it is; the four named here are the platform errors that the port
// component and the port choice treat specially.
constexpr int ecOK = 0;
constexpr int ecFileNotFound = -ENOENT; // no device of that name
constexpr int ecPathNotFound = -ENODEV; // the name is not a serial device
constexpr int ecAccessDenied = -EBUSY;  // the port is held by another program
constexpr int ecOutOfMemory = -ENOMEM;
constexpr int ecBadArgument = -1002;
constexpr int ecBadId = -2001;
constexpr int ecBaudRate = -2002; // the driver cannot set the rate
constexpr int ecNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecNoPortSelected = -2011;
constexpr int ecNotOpenedByTapi = -2012;
constexpr int ecNullApi = -3001;
constexpr int ecPutBlockFail = -3004;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecBaseAddressNotSet = -3010;
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;

enum TParity { pNone = 0, pOdd = 1, pEven = 2, pMark = 3, pSpace = 4 };
enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum THWFlowOption { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
// A set of THWFlowOption values as bits (1 << option).
using THWFlowOptions = uint8_t;
constexpr THWFlowOptions hwfBit(THWFlowOption o) { return static_cast<THWFlowOptions>(1u << o); }
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

} // namespace zelvo::comm
