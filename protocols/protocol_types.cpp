#include "protocols/protocol_types.h"

#include <cstring>

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

const char* protocolErrorText(int code)
{
    switch (code) {
    case ecNoMoreTriggers: return "No more trigger slots";
    case ecBadFileList: return "Bad format in file list";
    case ecNoSearchMask: return "No search mask specified during transmit";
    case ecNoMatchingFiles: return "No files matched search mask";
    case ecDirNotFound: return "Directory in search mask doesn't exist";
    case ecCancelRequested: return "Cancel requested";
    case ecTimeout: return "Fatal time out";
    case ecProtocolError: return "Unrecoverable event during protocol";
    case ecTooManyErrors: return "Too many errors during protocol";
    case ecSequenceError: return "Block sequence error in Xmodem";
    case ecNoFilename: return "No filename specified in protocol receive";
    case ecFileRejected: return "File was rejected";
    case ecCantWriteFile: return "Cant write file";
    case ecTableFull: return "Kermit window table is full, fatal error";
    case ecAbortNoCarrier: return "Aborting due to carrier loss";
    case ecBadProtocolFunction: return "Function not supported by protocol";
    case ecDiskWriteShort: return "Disk write short";
    case ecFileNotOpen: return "File not open";
    case 2: return "File not found";
    case 3: return "Path not found";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 8: return "Not enough memory";
    default: return nullptr;
    }
}

} // namespace

const char* StatusMessage(int status)
{
    if (status < 0 || status >= kStatusCount)
        return "";
    return kStatusMessages[status];
}

std::string ErrorText(int code)
{
    const int n = code < 0 ? -code : code;
    if (const char* text = protocolErrorText(n))
        return text;
    // Other small numbers are platform (errno) values of file operations.
    if (n > 0 && n < 1000)
        return std::strerror(n);
    return "Error " + std::to_string(code);
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
