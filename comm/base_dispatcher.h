#pragma once
// BaseDispatcher: the logic of one open serial port, written against a small set of
// device primitives that PosixDispatcher implements on termios.
//
// It owns the 8192-byte circular input buffer, the output buffer, the trigger and
// handler lists, the trace and the dispatch log, and the dispatch thread, which reads
// received bytes into the input buffer, checks the triggers and delivers notifications
// (procedure handlers first, on the dispatch thread; then window handlers, on the UI
// thread through the UiBridge, each within 3000 ms). The device side (event thread and
// output thread) belongs to the derived class.
//
// Locks: a general lock (settings, triggers, handlers, tracing, logging), an input lock
// and an output lock. None is held while a handler runs, so handlers may call any
// operation here. Results are 0 or a count, or a negative code (comm/comm_types.h).

#include "comm/comm_types.h"
#include "comm/data_trigger.h"
#include "comm/event_log.h"
#include "comm/tick_timer.h"
#include "comm/trace_ring.h"
#include "comm/trigger_handler.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvo::comm {

class UiBridge;

// Event bits handed from the device side to the dispatch thread.
constexpr uint32_t evRxChar = 0x0001;
constexpr uint32_t evCTS = 0x0008;
constexpr uint32_t evDSR = 0x0010;
constexpr uint32_t evRLSD = 0x0020;
constexpr uint32_t evBreak = 0x0040;
constexpr uint32_t evErr = 0x0080;
constexpr uint32_t evRing = 0x0100;
constexpr uint32_t evModemMask = evCTS | evDSR | evRLSD | evRing;

// Line settings of a device, in the terms the dispatcher reasons in. The derived
// class translates them to and from the device (termios and modem-line ioctls).
struct DeviceControlBlock {
    uint32_t baud = 19200;
    uint8_t parity = pNone;
    uint8_t dataBits = 8;
    uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    bool binary = true;
    bool parityCheck = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = true;
    bool nullDiscard = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = 1; // 0 off, 1 on, 2 handshake (input flow control)
    uint8_t rtsControl = 1; // 0 off, 1 on, 2 handshake, 3 toggle (RS485)
    bool outX = false;      // transmit XON/XOFF
    bool inX = false;       // receive XON/XOFF
    uint32_t xonLim = 0;
    uint32_t xoffLim = 0;
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
};

struct TimerTrigger {
    uint16_t handle = 0;
    EventTimer timer;
    int32_t ticks = 0;
    bool active = false;
};

struct StatusTrigger {
    uint16_t handle = 0; // generated value OR status type
    int type = stNone;
    uint16_t value = 0;  // modem: low byte recorded state, high byte mask
    bool active = false;
    bool firedThisPass = false;
};

// A copy of every trigger, taken before a reopen and put back afterwards.
struct TriggerSnapshot {
    bool valid = false;
    uint32_t availLength = 0;
    std::vector<TimerTrigger> timers;
    std::vector<DataTrigger> data;
    std::vector<StatusTrigger> status;
};

class BaseDispatcher {
public:
    // Without a bridge (command-line tools) window handlers are called directly on the
    // dispatch thread.
    BaseDispatcher(void* owner, UiBridge* bridge);
    virtual ~BaseDispatcher();
    BaseDispatcher(const BaseDispatcher&) = delete;
    BaseDispatcher& operator=(const BaseDispatcher&) = delete;

    // Index in the process-wide list of dispatchers; carried in the high 16 bits of
    // every notification's lParam.
    uint16_t Handle() const { return handle_; }
    static BaseDispatcher* FromHandle(uint16_t handle);
    void* Owner() const { return owner_; }
    UiBridge* Bridge() const { return bridge_; }

    // ---- Opening and closing -------------------------------------------------------
    int OpenPort(const std::string& name, uint32_t baud, int parity, int dataBits, int stopBits,
                 uint32_t inSize, uint32_t outSize, bool dtr, bool rts);
    // Flushes and closes. Called while a handler runs (from the handler itself or from
    // another thread), the release is deferred until the dispatch thread has left the
    // handler; the release callback then runs on the dispatch thread.
    int ClosePort();
    bool IsOpen() const { return portOpen_.load(); }
    bool CloseDeferred() const { return closeDeferred_.load(); }
    bool InNotification() const { return inNotification_.load(); }
    // True until every worker thread has ended.
    bool ThreadsRunning() const { return runningThreads_.load() > 0; }
    // Called on the dispatch thread after a deferred release has finished.
    void SetReleaseCallback(std::function<void()> cb);
    void StartThreads();
    void StopThreads();
    // With this set, OpenPort leaves the threads to a later StartThreads, so that the
    // owner can register its handlers and triggers before the first byte is read.
    void DeferThreadStart(bool on) { deferStart_ = on; }

    // ---- Data ----------------------------------------------------------------------
    int PutBlock(const void* buffer, uint32_t count);
    int PutByte(uint8_t ch) { return PutBlock(&ch, 1); }
    int PutString(const std::string& s) { return PutBlock(s.data(), static_cast<uint32_t>(s.size())); }
    int GetByte(uint8_t& ch);
    int PeekByte(uint8_t& ch, uint32_t index);
    // Takes up to count bytes; returns the number taken (0 when nothing waits).
    int GetBlock(void* buffer, uint32_t count);
    // Copies up to count waiting bytes without taking them; returns the number copied.
    int PeekBlock(void* buffer, uint32_t count);
    bool ByteReady();
    uint32_t InputUsed();
    uint32_t InputFree();
    uint32_t OutputUsed();
    uint32_t OutputFree();
    void GetBufferSizes(uint32_t& inSize, uint32_t& outSize) const;
    int FlushInput();
    int FlushOutput();
    // True when the input buffer was full and the driver held more on the last read.
    bool InputOverflowed() const { return overflow_.load(); }

    // ---- Line and modem ------------------------------------------------------------
    int SetLineParams(uint32_t baud, int parity, int dataBits, int stopBits);
    int GetLineParams(uint32_t& baud, int& parity, int& dataBits, int& stopBits);
    int SetDTR(bool on);
    int SetRTS(bool on);
    // Returns the modem status byte and stores it ANDed with keepMask (clearing deltas).
    uint8_t ReadModemStatus(uint8_t keepMask);
    bool CheckCTS() { return (ReadModemStatus(uint8_t(~msCTSDelta)) & msCTS) != 0; }
    bool CheckDSR() { return (ReadModemStatus(uint8_t(~msDSRDelta)) & msDSR) != 0; }
    bool CheckRI() { return (ReadModemStatus(uint8_t(~msRingDelta)) & msRing) != 0; }
    bool CheckDCD() { return (ReadModemStatus(uint8_t(~msDCDDelta)) & msDCD) != 0; }
    int TakeLineError();
    bool TakeLineBreak();
    uint32_t LineErrorBits();
    int SendBreak(uint32_t ticks, bool yield);
    int SetHardwareFlow(uint32_t bufferFull, uint32_t bufferResume, uint32_t options);
    int EnableSoftwareFlow(uint32_t bufferFull, uint32_t bufferResume, uint32_t options);
    int DisableSoftwareFlow();
    int SetFlowChars(uint8_t xon, uint8_t xoff);
    void GetFlowSettings(uint32_t& hwOptions, uint32_t& swOptions, uint8_t& xon, uint8_t& xoff);
    int SetRS485Mode(bool on);
    bool RS485Mode() const { return rs485_; }
    void SetPriorityBoost(int boost);
    virtual int SetQueueSizes(uint32_t inSize, uint32_t outSize) = 0;
    // Tells a program on a pseudo-terminal line the size of its terminal (it gets
    // SIGWINCH); lines of other kinds have no size and ignore it.
    virtual int SetWindowSize(uint16_t rows, uint16_t cols, uint16_t width, uint16_t height)
    {
        (void)rows, (void)cols, (void)width, (void)height;
        return 0;
    }
    // True once the far end has hung up (an exec: command ended, a pty peer closed):
    // the line then reads as carrier lost (DCD off with its change bit set) and the
    // device is no longer watched.
    bool LineHungUp() const { return hungUp_.load(); }

    // ---- Handlers and triggers -----------------------------------------------------
    // Procedure handlers receive every notification. Window handlers receive them when
    // two or more are registered or the first (the port's own window) wants them
    // (RecomputeHandlerFlags(1)); the port component registers its window first, so a
    // further window such as the terminal is always served.
    int AddWindowHandler(WindowHandler* window);
    int RemoveWindowHandler(WindowHandler* window);
    int AddProcedureHandler(ProcedureHandler* proc);
    int RemoveProcedureHandler(ProcedureHandler* proc);
    // 0 recomputes, 1 the port window wants notifications, 2 it does not.
    void RecomputeHandlerFlags(int mode);
    bool NotificationsEnabled() const { return notifyEnabled_.load(); }
    int NewTimerTrigger();
    int NewDataTrigger(const void* data, bool ignoreCase, int length);
    int NewStatusTrigger(int statusType);
    int DropTrigger(uint16_t handle);
    int ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate);
    int ArmStatusTrigger(uint16_t handle, uint16_t value, bool activate);
    int SetAvailLength(uint32_t length);
    // While no procedure handler is registered, received bytes are gathered for up to ms
    // after one delivery before the next: windows that show them at the display's frame
    // rate gain nothing from more notifications, and a stream of small reads then costs
    // one wake-up per frame instead of one per read. The first bytes after a quiet spell
    // are delivered at once; a protocol engine (a procedure handler) always gets every
    // read at once. 0, the default, delivers every read at once.
    void SetInputPacing(uint32_t ms) { inputPacingMs_ = ms; }
    uint32_t InputPacing() const { return inputPacingMs_.load(); }
    // The pacing in force now: 0 while a procedure handler listens.
    uint32_t InputPacingNow() const { return procsPresent_.load() ? 0 : inputPacingMs_.load(); }
    uint32_t AvailLength();
    int TimerTriggerLeft(uint16_t handle);
    void SnapshotTriggers(TriggerSnapshot& saved);
    void RestoreSnapshot(const TriggerSnapshot& saved);

    // ---- Tracing and the dispatch log ----------------------------------------------
    int StartTracing(uint32_t size);
    void StopTracing();
    void PauseTracing();
    void ResumeTracing();
    void ClearTracing();
    int WriteTraceFile(const std::string& fileName, bool inHex);
    int AppendTraceFile(const std::string& fileName, bool inHex);
    bool TracingOn();
    bool TraceAllocated();
    int StartDispatchLogging(uint32_t size);
    void StopDispatchLogging();
    void PauseDispatchLogging();
    void ResumeDispatchLogging();
    void ClearDispatchLogging();
    int DumpDispatchLog(const std::string& fileName, bool inHex);
    int AppendDispatchLog(const std::string& fileName, bool inHex);
    bool LoggingOn();
    bool LogAllocated();
    // Adds a record to the dispatch log when logging is on (protocols log their states).
    void AddDispatchEntry(uint8_t kind, uint8_t subKind, uint32_t value,
                          const void* data = nullptr, uint32_t length = 0);

    // ---- Spare pointers a client may attach (index 1..3) ---------------------------
    void SetAttachedPointer(int index, void* p);
    void* AttachedPointer(int index) const;

    // Waits ticks of 55 ms; with yieldUi on the UI thread, queued UI calls keep running.
    void WaitTicks(int32_t ticks, bool yieldUi);

    // Baud numbers for the legacy platform rate codes 0xFEFF, 0xFF10..0xFF27.
    static uint32_t BaudFromRateCode(uint32_t code);

protected:
    // ---- Device primitives ---------------------------------------------------------
    // Opens the named device; 0 or a negative code (minus errno).
    virtual int OpenDevice(const std::string& name, uint32_t inSize, uint32_t outSize) = 0;
    // Releases the device; called once no worker thread uses it.
    virtual void CloseDevice() = 0;
    virtual int ReadDeviceBlock(DeviceControlBlock& dcb) = 0;
    virtual int WriteDeviceBlock(const DeviceControlBlock& dcb) = 0;
    // Reads what the driver holds, never blocking; bytes read, 0 at hang-up or error.
    virtual int ReadPort(uint8_t* buffer, uint32_t size) = 0;
    // Bytes the driver holds for reading.
    virtual uint32_t DriverInputCount() = 0;
    // Line error bits (le... values) that the driver noticed since the last call.
    virtual uint32_t ReadErrorState() = 0;
    // Current line states in the high nibble (msCTS, msDSR, msRing, msDCD).
    virtual uint8_t ReadModemLines() = 0;
    // Switches DTR or RTS (dtr selects the line).
    virtual void LineControl(bool dtr, bool on) = 0;
    // Queue 0 output (after the writer has stopped), else input.
    virtual int PurgeQueue(int queue) = 0;
    virtual int SetBreakState(bool on) = 0;
    // Start and stop the device-side worker threads (event thread, output thread).
    virtual void StartEventThread() = 0;
    virtual void StartOutputThread() = 0;
    virtual void StopOutputThread() = 0;
    virtual void StopEventThread() = 0;
    // Wakes the output thread: bytes were queued.
    virtual void SignalOutputReady() = 0;
    // Stops a write in progress, waits until the writer has let go of the buffer and
    // keeps it from taking another stretch until ReleaseWriter(). In between, the output
    // buffer can be emptied without the writer sending discarded bytes or sending new
    // bytes twice. Holds nest.
    virtual void HoldWriter() = 0;
    virtual void ReleaseWriter() = 0;
    // The input buffer's fill level changed (bytes read or taken). unblocked is set
    // when room was made after the buffer had been left full with bytes still in the
    // driver, so the device must be watched again. Called with the input lock held;
    // must not call back into the dispatcher.
    virtual void InputLevelChanged(uint32_t used, bool unblocked) = 0;
    // Waits until the driver has sent what it holds, while it makes progress.
    virtual void DrainDriver() {}
    // Applies thread priorities (boost and RS485 state); best effort.
    virtual void ApplyPriorities() {}

    // ---- Services for the device side ----------------------------------------------
    // Hands an event mask to the dispatch thread and waits until it has been processed.
    // Returns false when the dispatcher is stopping.
    bool DeliverEvent(uint32_t mask);
    // True when the input buffer was left full with bytes still in the driver.
    bool InputBlocked() const { return inputBlocked_.load(); }
    // The next stretch of queued output (nullptr/0 when empty), and its completion.
    // The generation changes at every FlushOutput, so a write that raced a flush does
    // not move the emptied buffer's indices.
    const uint8_t* OutputStretch(uint32_t& length, uint64_t& generation);
    void OutputWritten(uint32_t count, uint64_t generation);
    // The line hung up: the device side stops watching it and reports carrier lost.
    void NoteHangUp();
    void ThreadStarted() { ++runningThreads_; }
    void ThreadEnded();
    // Waits until every worker thread has ended; on the UI thread queued calls keep
    // running meanwhile (a deferred release may be waiting for one).
    void WaitThreadsEnded();
    bool StopRequested() const { return stopRequested_.load(); }
    // Hardware flow settings for the device side (DTR/DSR emulation).
    uint32_t BufferFullLevel() const { return bufferFull_; }
    uint32_t BufferResumeLevel() const { return bufferResume_; }

    uint32_t inSize_ = 0, outSize_ = 0;

private:
    struct WindowRec { WindowHandler* window; bool deleted = false; };
    struct ProcRec { ProcedureHandler* proc; bool deleted = false; };

    void dispatchThreadMain();
    void processEvent(uint32_t mask);
    void processTimers();
    void clearFiredMarks();
    void updateModemStatus();
    uint32_t readInput(); // bytes read
    uint32_t readIntoBuffer(std::string& record);
    bool checkStatusTriggers();
    bool checkTimerTriggers();
    bool checkDataAndAvail();
    bool sendNotification(uint16_t msg, uint32_t wParam, uint16_t lParamLow);
    void release();
    void freeBuffers();
    uint16_t newHandle();
    bool handleInUse(uint16_t h) const;
    void logEntry(uint8_t kind, uint8_t subKind, uint32_t value, const void* data = nullptr,
                  uint32_t length = 0);
    uint32_t usedLocked() const;    // input bytes from Tail (+ read-ahead) to Head
    uint32_t outUsedLocked() const;
    void freeInput(uint32_t n);     // advance Tail by n (not in read-ahead)
    bool anyTimedTriggerActive() const;
    void wakeDispatch();
    // Makes the next pass announce bytes already waiting; general_ must be held.
    void reannounceWaitingLocked();
    // Recomputes outputTriggerArmed_ from the status trigger list; general_ held.
    void noteOutputTriggers();
    // Wakes the dispatch thread for an immediate status check when an output-side
    // status trigger is armed: the output level just changed.
    void outputLevelChanged();
    int writeDcb(DeviceControlBlock& dcb); // re-applies DTR/RTS and writes
    int checkFlowArgs(uint32_t full, uint32_t resume) const;

    void* owner_;
    UiBridge* bridge_;
    uint16_t handle_ = 0;

    mutable std::recursive_mutex general_;
    mutable std::recursive_mutex input_;
    mutable std::mutex output_;

    DeviceControlBlock dcb_;
    uint32_t baud_ = 0;
    std::atomic<bool> portOpen_{false};
    uint32_t lineErrorBits_ = 0;
    uint8_t modemStatus_ = 0;
    std::atomic<bool> ringFlag_{false};
    bool dtrState_ = true, rtsState_ = true;
    bool dtrFlow_ = false, rtsFlow_ = false;
    bool rs485_ = false;
    int priorityBoost_ = 0;
    uint32_t bufferFull_ = 0, bufferResume_ = 0;
    std::atomic<bool> hungUp_{false};

    // Input buffer.
    std::vector<uint8_t> in_;
    uint32_t head_ = 0, tail_ = 0;
    bool full_ = false;
    std::atomic<bool> overflow_{false};
    std::atomic<bool> inputBlocked_{false};
    bool readAhead_ = false;
    uint32_t taken_ = 0, mostTaken_ = 0;
    uint32_t scanPos_ = 0;
    // Also set from other threads (a handler joining asks for the waiting bytes again).
    std::atomic<uint32_t> lastAvailPos_{UINT32_MAX};
    uint32_t unscanned_ = 0;    // bytes from scanPos_ towards head_ not yet matched
    bool matchPending_ = false; // triggers matched at scanPos_ wait for their notification

    // Output buffer.
    std::vector<uint8_t> out_;
    uint32_t outHead_ = 0, outTail_ = 0;
    bool outFull_ = false;
    uint64_t outGeneration_ = 0;
    std::atomic<bool> dataWritten_{false};
    std::condition_variable outEmptyCv_;

    // Triggers and handlers.
    uint32_t availLength_ = 0;
    std::vector<TimerTrigger> timers_;
    std::vector<DataTrigger> dataTriggers_;
    std::vector<StatusTrigger> statusTriggers_;
    uint32_t handleCounter_ = 1;
    std::vector<WindowRec> windows_;
    std::vector<ProcRec> procs_;
    bool portWindowWants_ = false;
    std::atomic<bool> notifyEnabled_{false};
    std::atomic<bool> procsPresent_{false};
    std::atomic<uint32_t> inputPacingMs_{0};
    bool handlerListChanged_ = false;
    std::atomic<bool> inNotification_{false};
    std::atomic<bool> statusFired_{false};
    // True while an output-buffer-free, output-buffer-used or output-sent trigger is
    // armed; read by the output thread without taking the general lock.
    std::atomic<bool> outputTriggerArmed_{false};
    std::atomic<bool> reannounce_{false}; // waiting bytes to be announced at the next pass

    // Threads.
    std::thread dispatchThread_;
    std::atomic<int> runningThreads_{0};
    std::atomic<bool> started_{false};
    bool deferStart_ = false;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> closeDeferred_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> dispatchEnded_{true};
    std::mutex eventMutex_;
    std::condition_variable eventCv_;   // com-event and wake-ups for the dispatch thread
    std::condition_variable readyCv_;   // ready: the event was processed
    bool eventPending_ = false;
    uint32_t eventMask_ = 0;
    bool dispatchWake_ = false;
    std::function<void()> releaseCallback_;
    std::mutex endedMutex_;
    std::condition_variable endedCv_;

    // Diagnostics.
    TraceRing trace_;
    EventLog log_;
    int64_t openTimeMs_ = 0;
    void* attached_[3] = {nullptr, nullptr, nullptr};
};

} // namespace zelvo::comm
