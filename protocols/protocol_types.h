#pragma once
// Enumerations, status codes and error codes shared by the protocol component and its
// engines. The enumeration types keep their T names so that they do not collide with
// the properties of the same name on Protocol (ProtocolType, BlockCheckMethod, ...).

#include <cstdint>
#include <string>

namespace zelvo::protocols {

enum TProtocolType : int {
    ptNoProtocol = 0,
    ptXmodem = 1,
    ptXmodemCRC = 2,
    ptXmodem1K = 3,
    ptXmodem1KG = 4,
    ptYmodem = 5,
    ptYmodemG = 6,
    ptZmodem = 7,
    ptKermit = 8,
    ptAscii = 9,
    ptBPlus = 10,
};

enum TBlockCheckMethod : int {
    bcmNone,
    bcmChecksum,
    bcmChecksum2,
    bcmCrc16,
    bcmCrc32,
    bcmCrcK,
};

enum TWriteFailAction : int {
    wfWriteNone,
    wfWriteFail,
    wfWriteRename,
    wfWriteAnyway,
    wfWriteResume,
};

enum TZmodemFileOptions : int {
    zfoNoOption,
    zfoWriteNewerLonger,
    zfoWriteCrc,
    zfoWriteAppend,
    zfoWriteClobber,
    zfoWriteNewer,
    zfoWriteDifferent,
    zfoWriteProtect,
};

enum TAsciiEOLTranslation : int {
    aetNone,
    aetStrip,
    aetAddCRBefore,
    aetAddLFAfter,
};

// Status codes of a running transfer (ProtocolStatus); the texts are StatusMessage().
enum ProtocolStatusCode : int {
    psOK = 0,
    psProtocolHandshake = 1,
    psInvalidDate = 2,
    psFileRejected = 3,
    psFileRenamed = 4,
    psSkipFile = 5,
    psFileDoesntExist = 6,
    psCantWriteFile = 7,
    psTimeout = 8,
    psBlockCheckError = 9,
    psLongPacket = 10,
    psDuplicateBlock = 11,
    psProtocolError = 12,
    psCancelRequested = 13,
    psEndFile = 14,
    psResumeBad = 15,
    psSequenceError = 16,
    psAbortNoCarrier = 17,
    psGotCrcE = 18,
    psGotCrcG = 19,
    psGotCrcW = 20,
    psGotCrcQ = 21,
    psTryResume = 22,
    psHostResume = 23,
};
constexpr int kStatusCount = 24;

// Error codes, passed negated to OnProtocolError and OnProtocolFinish.
constexpr int ecNoMoreTriggers = 5001;
constexpr int ecBadFileList = 6001;
constexpr int ecNoSearchMask = 6002;
constexpr int ecNoMatchingFiles = 6003;
constexpr int ecDirNotFound = 6004;
constexpr int ecCancelRequested = 6005;
constexpr int ecTimeout = 6006;
constexpr int ecProtocolError = 6007;
constexpr int ecTooManyErrors = 6008;
constexpr int ecSequenceError = 6009;
constexpr int ecNoFilename = 6010;
constexpr int ecFileRejected = 6011;
constexpr int ecCantWriteFile = 6012;
constexpr int ecTableFull = 6013;
constexpr int ecAbortNoCarrier = 6014;
constexpr int ecBadProtocolFunction = 6015;
// Run-time I/O error numbers used for file failures of the framework.
constexpr int ecDiskWriteShort = 101;
constexpr int ecFileNotOpen = 103;

// The message of a status code; an empty text for a code outside the table.
const char* StatusMessage(int status);
// The text of a (negative) protocol or file error code from the program's error table;
// a code without a text reads "Error" and the number.
std::string ErrorText(int code);
// The code passed to OnProtocolFinish for a final status when no error was recorded.
int FinishCodeForStatus(int status);

const char* ProtocolName(TProtocolType type);
const char* BlockCheckName(TBlockCheckMethod method);

} // namespace zelvo::protocols
