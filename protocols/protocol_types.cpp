#include "protocols/protocol_types.h"

#include "comm/exceptions.h"

namespace zelvo::protocols {

namespace {

constexpr const char* kStatusMessages[kStatusCount] = {
    "OK",
    "Protocol handshaking in progress",
    "Bad date/time stamp received and ignored",
    "File rejected",
    "File renamed",
    "File skipped",
    "File doesn't exist locally, skipped",
    "File skipped ",
    "Time out in protocol",
    "Bad checksum or CRC",
    "Block too long",
    "Duplicate block received and ignored ",
    "Error in protocol",
    "Cancel requested",
    "At end of file",
    "B+ host refused resume request",
    "Block was out of sequence",
    "Aborting on carrier loss",
    "Got CrcE packet (Zmodem)",
    "Got CrcG packet (Zmodem)",
    "Got CrcW packet (Zmodem)",
    "Got CrcQ packet (Zmodem)",
    "B+ is trying to resume a download",
    "B+ host is resuming",
};

} // namespace

const char* StatusMessage(int status)
{
    if (status < 0 || status >= kStatusCount)
        return "";
    return kStatusMessages[status];
}

std::string ErrorText(int code)
{
    // One table of error texts serves the whole program.
    std::string text = comm::ErrorText(code);
    if (text == "Qarn exception")
        return "Error " + std::to_string(code);
    return text;
}

int FinishCodeForStatus(int status)
{
    switch (status) {
    case psFileRejected: return -ecFileRejected;
    case psCantWriteFile: return -ecCantWriteFile;
    case psTimeout: return -ecTimeout;
    case psProtocolError: return -ecProtocolError;
    case psCancelRequested: return -ecCancelRequested;
    case psSequenceError: return -ecSequenceError;
    case psAbortNoCarrier: return -ecAbortNoCarrier;
    default: return 0;
    }
}

const char* ProtocolName(TProtocolType type)
{
    switch (type) {
    case ptNoProtocol: return "None";
    case ptXmodem: return "Xmodem";
    case ptXmodemCRC: return "XmodemCRC";
    case ptXmodem1K: return "Xmodem1K";
    case ptXmodem1KG: return "Xmodem1KG";
    case ptYmodem: return "Ymodem";
    case ptYmodemG: return "YmodemG";
    case ptZmodem: return "Zmodem";
    case ptKermit: return "Kermit";
    case ptAscii: return "Ascii";
    case ptBPlus: return "BPlus";
    }
    return "None";
}

const char* BlockCheckName(TBlockCheckMethod method)
{
    switch (method) {
    case bcmNone: return "No check";
    case bcmChecksum: return "Checksum";
    case bcmChecksum2: return "Checksum2";
    case bcmCrc16: return "Crc16";
    case bcmCrc32: return "Crc32";
    case bcmCrcK: return "CrcKermit";
    }
    return "No check";
}

} // namespace zelvo::protocols
