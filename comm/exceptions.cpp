#include "comm/exceptions.h"

#include "comm/comm_types.h"

#include <cerrno>
#include <cstring>

namespace zelvo::comm {

namespace {

struct TableEntry {
    int number;
    const char* text;
};

// Texts keyed by the absolute error number. Numbers below 1000 are the platform's
// error numbers (errno): the few that the program describes in words of its own are
// here, every other one reads as the platform describes it. 100..103 are the run-time
// input/output errors that file operations of the transfers report.
const TableEntry kErrorTable[] = {
    {ENOENT, "File not found"},
    {ENOTDIR, "Path not found"},
    {EMFILE, "Too many open files"},
    {EACCES, "File access denied"},
    {EBADF, "Invalid file handle"},
    {ENOMEM, "Out of memory"},
    {100, "Disk read error"},
    {101, "Disk write error"},
    {102, "File not assigned"},
    {103, "File not open"},
    {1001, "Function not supported by this device layer"},
    {1002, "Bad argument passed to function"},
    {1003, "Not enough memory"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    {2002, "ie_BaudRate - Unsupported baud rate"},
    {2003, "ie_ByteSize - Invalid byte size"},
    {2004, "ie_Default - Error in default parameters"},
    {2005, "ie_Hardware - Hardware not present"},
    {2006, "ie_Memory - Unable to allocate queues"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2009, "No comm handle available"},
    {2010, "No telephony services available"},
    {2011, "The ComNumber property of the TComPort has not been set"},
    {2012, "Comport was not opened by Tapi"},
    {3001, "No device layer specified"},
    {3002, "Not supported by this device layer"},
    {3003, "Input buffer too small for block"},
    {3004, "Failed to put entire block"},
    {3005, "Failed to get entire block"},
    {3006, "Output buffer too small for block"},
    {3007, "Buffer is empty"},
    {3008, "Timed out waiting for data"},
    {3009, "Timed out waiting for output to drain"},
    {3010, "Base address not set"},
    {5001, "No more trigger slots"},
    {5002, "Data trigger too long"},
    {5003, "Bad trigger handle"},
    {6001, "Bad format in file list"},
    {6002, "No search mask specified during transmit"},
    {6003, "No files matched search mask"},
    {6004, "Directory in search mask doesn't exist"},
    {6005, "Cancel requested"},
    {6006, "Fatal time out"},
    {6007, "Unrecoverable event during protocol"},
    {6008, "Too many errors during protocol"},
    {6009, "Block sequence error in Xmodem"},
    {6010, "No filename specified in protocol receive"},
    {6011, "File was rejected"},
    {6012, "Cant write file"},
    {6013, "Kermit window table is full, fatal error"},
    {6014, "Aborting due to carrier loss"},
    {6015, "Function not supported by protocol"},
};

const char* tableText(int number)
{
    for (const auto& e : kErrorTable)
        if (e.number == number)
            return e.text;
    return nullptr;
}

std::string platformText(int number)
{
    char buf[256];
    std::string s = strerror_r(number, buf, sizeof buf);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return s;
}

} // namespace

std::string ErrorText(int code)
{
    const int number = code < 0 ? -code : code;
    if (const char* t = tableText(number))
        return t;
    if (number >= 1 && number <= 999)
        return platformText(number);
    return "Qarn exception";
}

void RaiseForCode(int code)
{
    if (code >= 0)
        return;
    const std::string text = ErrorText(code);
    switch (code) {
    case ecOutOfMemory: throw EOutOfMemory(code, text);
    case ecBadArgument: throw EBadArgument(code, text);
    case ecBadId: throw EBadId(code, text);
    case ecNotOpen: throw ECommNotOpen(code, text);
    case ecAlreadyOpen: throw EAlreadyOpen(code, text);
    case ecNoPortSelected: throw ENoPortSelected(code, text);
    case ecNotOpenedByTapi: throw ENotOpenedByTapi(code, text);
    case ecNullApi: throw ENullApi(code, text);
    case ecPutBlockFail: throw EPutBlockFail(code, text);
    case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(code, text);
    case ecBufferIsEmpty: throw EBufferIsEmpty(code, text);
    case ecBaseAddressNotSet: throw EBaseAddressNotSet(code, text);
    case ecNoMoreTriggers: throw ENoMoreTriggers(code, text);
    case ecTriggerTooLong: throw ETriggerTooLong(code, text);
    case ecBadTriggerHandle: throw EBadTriggerHandle(code, text);
    default: break;
    }
    if (code >= -999)
        throw EInOutError(code, text);
    // Codes of the known families without a class of their own, and unknown codes
    // (whose text is "Qarn exception").
    throw EQarnException(code, text);
}

} // namespace zelvo::comm
