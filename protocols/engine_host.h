#pragma once
// What a protocol engine needs from its surroundings, and the working record it keeps.
// Engines do no I/O of their own: the line, the files and the user interface are
// reached through EngineHost, which the protocol component implements (and tests fake).

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocols/protocol_types.h"

namespace zelvo::protocols {

// The per-transfer working record: counters and status that the status window shows.
struct TransferState {
    int ProtocolStatus = psOK;
    int ProtocolError = 0;
    uint64_t BytesTransferred = 0;
    uint64_t BytesRemaining = 0;
    uint32_t BlockErrors = 0;
    uint32_t TotalErrors = 0;
    uint64_t FileLength = 0;
    uint32_t BlockLength = 0;
    uint64_t InitialPosition = 0;
    uint32_t KermitWindows = 0;    // Kermit window slots in use
    int64_t fileStartMs = 0;       // when the current file started, for elapsed time
    TBlockCheckMethod BlockCheck = bcmNone;
    std::string PathName;          // local path of the current file
    std::string Detail;            // why the current file was skipped, when it was
    const char* stateName = "";    // the engine's current state, for traces
    // Bytes that crossed the line since the current file started, each way; kept by the
    // component, for the efficiency of lines whose rate is only nominal.
    uint64_t LineBytesIn = 0;
    uint64_t LineBytesOut = 0;
};

// A file chosen for sending.
struct SendFile {
    std::string path;      // local path
    std::string wireName;  // name as it goes on the line
    uint64_t length = 0;
    int64_t mtime = 0;     // seconds since 1970
    uint32_t mode = 0;     // permission bits, 0 when unknown
};

// What is known about a local file of the same name as an incoming one.
struct LocalFile {
    bool exists = false;
    uint64_t length = 0;
    int64_t mtime = 0;
};

enum class OpenMode { Create, Append, Resume };

// Flags of EngineHost::reportStatus (the Options of OnProtocolStatus).
constexpr unsigned kStatusFirst = 1;
constexpr unsigned kStatusLast = 2;

class EngineHost {
public:
    virtual ~EngineHost() = default;

    // The line. putBlock queues all of the bytes or none (0 or a negative code).
    virtual size_t outputFree() = 0;
    virtual size_t outputUsed() = 0;
    virtual int putBlock(const uint8_t* data, size_t n) = 0;
    virtual void flushOutput() = 0;
    // Drops what has arrived but not been read yet.
    virtual void flushInput() {}
    // The line's speed in bits per second, 0 when unknown.
    virtual uint32_t lineSpeed() { return 0; }

    // Sending: next file of the batch (1 = a file, 0 = the batch is complete, negative =
    // an error code that ends the transfer); reading at an offset (bytes read or a
    // negative code); closing the current file.
    virtual int nextFile(SendFile& file) = 0;
    virtual int readFile(uint64_t offset, uint8_t* buf, size_t n) = 0;
    virtual void closeSendFile(bool completed) = 0;

    // Receiving: turns a name from the line into a local path inside the destination.
    // 0 = accepted; a positive status code (psFileRejected, psSkipFile) = skip the file.
    virtual int resolveReceivedName(const std::string& wireName, std::string& path) = 0;
    // 0 with the details (exists may be false), or a negative error code.
    virtual int statLocal(const std::string& path, LocalFile& local) = 0;
    virtual int openReceiveFile(const std::string& path, OpenMode mode, uint64_t offset) = 0;
    // The general preparation of engines without file management of their own: applies
    // WriteFailAction to an existing file (path may change to the renamed one) and
    // creates the file. 0 = open; a positive status code = skip it; negative = error.
    virtual int prepareReceiveFile(std::string& path) = 0;
    // A receiver about to continue a partly received file asks what to do with it
    // (OnProtocolResume). action comes preset with wfWriteResume; wfWriteResume
    // continues, wfWriteFail skips the file, anything else receives it whole.
    virtual void askResume(const std::string& path, TWriteFailAction& action)
    {
        (void)path;
        (void)action;
    }
    virtual int writeFile(uint64_t offset, const uint8_t* data, size_t n) = 0;
    // Flushes and closes the file; with completed set its time is set to mtime (when
    // non-zero). Returns 0 or a negative code.
    virtual int closeReceiveFile(bool completed, int64_t mtime) = 0;

    // Reports.
    virtual void reportStatus(const TransferState& state, unsigned flags) = 0;
    virtual void reportError(int code) = 0;
};

} // namespace zelvo::protocols
