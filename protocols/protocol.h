#pragma once
// Protocol: the non-visual component through which files are sent and received. It
// holds the transfer settings, selects and runs an engine as a state machine driven by
// the line's events, does the file work shared by all engines (choosing files to send,
// naming and preparing received files, buffered reads and writes), keeps the status
// for the status window and raises the OnProtocol... events through an EventDelivery.
//
// Threads: BeginTransmit/BeginReceive run on the caller's (user-interface) thread and
// take the engine's first step there; lineData/service/lineLost run on the line's
// driver thread (the dispatch thread); events are delivered on the user-interface
// thread. CancelTransfer may be called from any thread; the engine acts on it at its
// next service call. Status getters read a snapshot taken under a lock.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocols/abstract_status.h"
#include "protocols/engine_host.h"
#include "protocols/file_buffer.h"
#include "protocols/protocol_engine.h"
#include "protocols/protocol_line.h"
#include "protocols/protocol_types.h"
#include "protocols/transfer_summary.h"

namespace zelvo::protocols {

#define ZELVO_PROTOCOL_PROPERTY(Type, Name, Default)                                    \
public:                                                                                 \
    Type Name() const { return Name##_; }                                               \
    void set##Name(Type value) { Name##_ = value; }                                     \
                                                                                        \
private:                                                                                \
    Type Name##_ = Default;

// Codes of OnProtocolLog.
enum ProtocolLogCode : uint16_t {
    lfReceiveStart = 1,
    lfReceiveOk = 2,
    lfReceiveFail = 3,
    lfReceiveSkip = 4,
    lfTransmitStart = 5,
    lfTransmitOk = 6,
    lfTransmitFail = 7,
    lfTransmitSkip = 8,
};

class Protocol : private EngineHost {
public:
    Protocol();
    ~Protocol() override;
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // Events (all receive the component). They run through the EventDelivery.
    std::function<void(Protocol&, bool& accept, std::string& fileName)> OnProtocolAccept;
    std::function<void(Protocol&, int errorCode)> OnProtocolError;
    std::function<void(Protocol&, int errorCode)> OnProtocolFinish;
    std::function<void(Protocol&, uint16_t log)> OnProtocolLog;
    std::function<void(Protocol&, std::string& fileName)> OnProtocolNextFile;
    std::function<void(Protocol&, TWriteFailAction& resume)> OnProtocolResume;
    std::function<void(Protocol&, uint16_t options)> OnProtocolStatus;

    // The line and the event route (defaults: none, and direct calls).
    ProtocolLine* ComPort() const { return line_; }
    void setComPort(ProtocolLine* line) { line_ = line; }
    void setEventDelivery(EventDelivery* delivery);

    // The status window: shown (first) when a transfer starts, refreshed with every
    // status of its files, hidden (last) when it ends.
    AbstractStatus* StatusDisplay() const { return statusDisplay_; }
    void setStatusDisplay(AbstractStatus* display) { statusDisplay_ = display; }

    // Copies every setting (not the events, the line or the status window) from other.
    void AssignSettings(const Protocol& other);

    // Selecting a protocol initialises its engine's settings (block check and length,
    // and for some engines HandshakeWait, FinishWait, Overhead and TurnDelay).
    TProtocolType ProtocolType() const { return ProtocolType_; }
    void setProtocolType(TProtocolType type);
    // Whether transfers of a type can run (an engine exists for it), and whether the
    // type moves a batch of named files rather than the one file FileName names.
    static bool EngineAvailable(TProtocolType type);
    static bool BatchProtocol(TProtocolType type);

    // zfoWriteCrc is not offered: setting it keeps the previous option.
    TZmodemFileOptions ZmodemFileOption() const { return ZmodemFileOption_; }
    void setZmodemFileOption(TZmodemFileOptions option);
    bool Zmodem8K() const { return Zmodem8K_; }
    void setZmodem8K(bool on);
    // At most 1024 is kept (larger values become 1024); above 94 Kermit uses long
    // packets of that length, which is then the block length.
    uint32_t KermitMaxLen() const { return KermitMaxLen_; }
    void setKermitMaxLen(uint32_t length);
    // More than 27 window slots are reduced to 27.
    uint32_t KermitMaxWindows() const { return KermitMaxWindows_; }
    void setKermitMaxWindows(uint32_t slots);

    ZELVO_PROTOCOL_PROPERTY(std::string, DestinationDirectory, {})
    ZELVO_PROTOCOL_PROPERTY(std::string, FileMask, {})
    ZELVO_PROTOCOL_PROPERTY(TBlockCheckMethod, BlockCheckMethod, bcmNone)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, HandshakeRetry, 10)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, HandshakeWait, 182)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, TransmitTimeout, 1092)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, FinishWait, 364)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, TurnDelay, 0)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, Overhead, 0)
    ZELVO_PROTOCOL_PROPERTY(TWriteFailAction, WriteFailAction, wfWriteRename)
    ZELVO_PROTOCOL_PROPERTY(bool, HonorDirectory, false)
    ZELVO_PROTOCOL_PROPERTY(bool, IncludeDirectory, false)
    ZELVO_PROTOCOL_PROPERTY(bool, RTSLowForWrite, false)
    ZELVO_PROTOCOL_PROPERTY(bool, AbortNoCarrier, false)
    ZELVO_PROTOCOL_PROPERTY(bool, BP2KTransmit, false)
    ZELVO_PROTOCOL_PROPERTY(bool, AsciiSuppressCtrlZ, false)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, StatusInterval, 18)
    ZELVO_PROTOCOL_PROPERTY(std::string, FileName, {})
    ZELVO_PROTOCOL_PROPERTY(uint32_t, XYmodemBlockWait, 91)
    ZELVO_PROTOCOL_PROPERTY(bool, ZmodemOptionOverride, false)
    ZELVO_PROTOCOL_PROPERTY(bool, ZmodemSkipNoFile, false)
    ZELVO_PROTOCOL_PROPERTY(bool, ZmodemRecover, false)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, ZmodemFinishRetry, 0)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, KermitSWCTurnDelay, 0)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, KermitTimeoutSecs, 5)
    ZELVO_PROTOCOL_PROPERTY(char, KermitPadCharacter, ' ')
    ZELVO_PROTOCOL_PROPERTY(uint32_t, KermitPadCount, 0)
    ZELVO_PROTOCOL_PROPERTY(char, KermitTerminator, '\r')
    ZELVO_PROTOCOL_PROPERTY(char, KermitCtlPrefix, '#')
    ZELVO_PROTOCOL_PROPERTY(char, KermitHighbitPrefix, 'Y')
    ZELVO_PROTOCOL_PROPERTY(char, KermitRepeatPrefix, '~')
    ZELVO_PROTOCOL_PROPERTY(uint32_t, AsciiCharDelay, 0)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, AsciiLineDelay, 0)
    ZELVO_PROTOCOL_PROPERTY(char, AsciiEOLChar, '\r')
    ZELVO_PROTOCOL_PROPERTY(TAsciiEOLTranslation, AsciiCRTranslation, aetNone)
    ZELVO_PROTOCOL_PROPERTY(TAsciiEOLTranslation, AsciiLFTranslation, aetNone)
    ZELVO_PROTOCOL_PROPERTY(uint32_t, AsciiEOFTimeout, 364)
    ZELVO_PROTOCOL_PROPERTY(bool, UpcaseFileNames, true)

public:
    // Starting and stopping. Both return 0, or the negative code with which the
    // transfer ended at once (OnProtocolFinish has then been raised as well).
    int BeginTransmit();
    int BeginReceive();
    // Ends a transfer that could not be started by its driver (no trigger slots, say):
    // records the code and raises OnProtocolFinish with it.
    void FailStart(int code);
    // Cancels the running transfer; safe from any thread.
    void CancelTransfer();
    bool InProgress() const { return running_.load(); }

    // Read-only values for the status window (a consistent snapshot).
    TransferState Snapshot() const;
    int ProtocolStatus() const { return Snapshot().ProtocolStatus; }
    std::string StatusMsg() const { return StatusMessage(ProtocolStatus()); }
    uint64_t BytesTransferred() const { return Snapshot().BytesTransferred; }
    uint64_t BytesRemaining() const { return Snapshot().BytesRemaining; }
    uint32_t BlockErrors() const { return Snapshot().BlockErrors; }
    uint32_t TotalErrors() const { return Snapshot().TotalErrors; }
    uint64_t FileLength() const { return Snapshot().FileLength; }
    uint32_t BlockLength() const { return Snapshot().BlockLength; }
    uint64_t InitialPosition() const { return Snapshot().InitialPosition; }
    int64_t ElapsedTicks() const;
    uint32_t KermitWindowsUsed() const { return Snapshot().KermitWindows; }
    // Seconds needed for n bytes at the port's speed with this protocol's overheads.
    uint32_t EstimateTransferSecs(uint64_t n) const;
    uint32_t baudRate() const;
    // The line's rate is only nominal (taken when the transfer starts).
    bool NominalRate() const { return nominalRate_; }
    // The running (or last) transfer sends.
    bool Transmitting() const { return transmitting_; }
    // The code of the last finished transfer, and the last error reported during it.
    int LastResult() const { return lastResult_; }
    // The files the running or last transfer completed, its time and its result.
    TransferRecord LastTransfer() const;
    int LastError() const { return lastError_; }

    // The services the engines use (files, line, reports), for tests and tools.
    EngineHost& Host() { return *this; }

    // Driving, on the line's driver thread. lineData returns how many of the bytes the
    // transfer took: fewer than n only when it ended before the rest, which then belongs
    // to whoever reads the line next.
    size_t lineData(const uint8_t* data, size_t n);
    void service();
    void lineLost();
    // When service() is next wanted, in platform::monotonicMs() terms.
    int64_t nextServiceMs() const;
    bool waitingForOutput() const { return engine_ && engine_->waitingForOutput(); }
    // The current engine, for tests and traces.
    const ProtocolEngine* engine() const { return engine_.get(); }

private:
    // EngineHost
    size_t outputFree() override;
    size_t outputUsed() override;
    int putBlock(const uint8_t* data, size_t n) override;
    void flushOutput() override;
    void flushInput() override;
    uint32_t lineSpeed() override;
    void askResume(const std::string& path, TWriteFailAction& action) override;
    int nextFile(SendFile& file) override;
    int readFile(uint64_t offset, uint8_t* buf, size_t n) override;
    void closeSendFile(bool completed) override;
    int resolveReceivedName(const std::string& wireName, std::string& path) override;
    int statLocal(const std::string& path, LocalFile& local) override;
    int openReceiveFile(const std::string& path, OpenMode mode, uint64_t offset) override;
    int prepareReceiveFile(std::string& path) override;
    int writeFile(uint64_t offset, const uint8_t* data, size_t n) override;
    int closeReceiveFile(bool completed, int64_t mtime) override;
    void reportStatus(const TransferState& state, unsigned flags) override;
    void reportError(int code) override;

    int begin(bool transmit);
    void afterStep();
    void endTransfer(int code);
    void publish(const TransferState& state);
    void deliverStatus(unsigned flags);
    void showDisplay(bool show);
    void deliverLog(uint16_t code);
    int findFirstFile(SendFile& file);
    int nextMaskFile(SendFile& file);
    EngineSettings engineSettings() const;
    void applyKermitLength();
    std::string receivePath() const;

    TProtocolType ProtocolType_ = ptNoProtocol;
    TZmodemFileOptions ZmodemFileOption_ = zfoWriteNewer;
    bool Zmodem8K_ = false;
    uint32_t KermitMaxLen_ = 80;
    uint32_t KermitMaxWindows_ = 0;
    uint32_t blockLength_ = 0;

    ProtocolLine* line_ = nullptr;
    AbstractStatus* statusDisplay_ = nullptr;
    bool displayRequested_ = false;  // on the thread that drives the transfer
    bool displayShown_ = false;      // on the user-interface thread
    DirectDelivery directDelivery_;
    EventDelivery* delivery_ = &directDelivery_;

    std::unique_ptr<ProtocolEngine> engine_;
    bool transmitting_ = false;
    bool nominalRate_ = false;
    std::atomic<uint64_t> lineIn_{0}, lineOut_{0};
    uint64_t fileLineIn_ = 0, fileLineOut_ = 0; // the counts when the current file started
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelRequested_{false};
    int lastResult_ = 0;
    int64_t nextStatusMs_ = 0;

    mutable std::mutex snapshotMutex_;
    TransferState snapshot_;
    TransferRecord record_;    // under snapshotMutex_
    int64_t transferStartMs_ = 0;

    FileBuffer file_;
    // Mask search state.
    bool maskStarted_ = false;
    std::vector<std::string> maskMatches_;
    size_t maskIndex_ = 0;
    std::string maskDir_;
    std::string currentPath_;
    std::string rejectDetail_;
    std::atomic<int> lastError_{0};
};

#undef ZELVO_PROTOCOL_PROPERTY

// Seconds for n bytes at a line speed (bits per second) with a protocol's block length,
// overhead per block and turn-around delay; 0 when n is 0 or the speed is unknown.
uint32_t EstimateSecs(uint64_t n, uint32_t baud, uint32_t blockLength, uint32_t overhead, uint32_t turnDelayMs);

} // namespace zelvo::protocols
