#include "comm/base_dispatcher.h"

#include "comm/exceptions.h"
#include "comm/ui_bridge.h"
#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zelvo::comm {

namespace {

constexpr uint32_t N = InputBufferSize;

// The process-wide list of dispatchers; a dispatcher's index is its Handle.
std::mutex gListMutex;
std::vector<BaseDispatcher*> gList;

uint16_t registerDispatcher(BaseDispatcher* d)
{
    std::lock_guard lock(gListMutex);
    for (size_t i = 0; i < gList.size(); ++i)
        if (!gList[i]) {
            gList[i] = d;
            return static_cast<uint16_t>(i);
        }
    gList.push_back(d);
    return static_cast<uint16_t>(gList.size() - 1);
}

void unregisterDispatcher(uint16_t handle)
{
    std::lock_guard lock(gListMutex);
    if (handle < gList.size())
        gList[handle] = nullptr;
    while (!gList.empty() && !gList.back())
        gList.pop_back();
}

} // namespace

BaseDispatcher::BaseDispatcher(void* owner, UiBridge* bridge) : owner_(owner), bridge_(bridge)
{
    handle_ = registerDispatcher(this);
}

BaseDispatcher::~BaseDispatcher()
{
    // The derived class has closed the device; what remains is a dispatch thread that
    // performed a deferred release and is just ending.
    if (dispatchThread_.joinable()) {
        if (dispatchThread_.get_id() == std::this_thread::get_id())
            dispatchThread_.detach();
        else
            dispatchThread_.join();
    }
    unregisterDispatcher(handle_);
}

BaseDispatcher* BaseDispatcher::FromHandle(uint16_t handle)
{
    std::lock_guard lock(gListMutex);
    return handle < gList.size() ? gList[handle] : nullptr;
}

void BaseDispatcher::SetReleaseCallback(std::function<void()> cb)
{
    std::lock_guard lock(general_);
    releaseCallback_ = std::move(cb);
}

// ---- Opening and closing ------------------------------------------------------------

int BaseDispatcher::OpenPort(const std::string& name, uint32_t baud, int parity, int dataBits,
                             int stopBits, uint32_t inSize, uint32_t outSize, bool dtr, bool rts)
{
    if (portOpen_ || started_)
        return ecAlreadyOpen;
    if (outSize == 0)
        return ecBadArgument;
    ringFlag_ = false;
    hungUp_ = false;
    inNotification_ = false;
    stopRequested_ = false;
    closeDeferred_ = false;
    closing_ = false;

    int rc = OpenDevice(name, inSize, outSize);
    if (rc < 0) {
        CloseDevice();
        return rc;
    }
    rc = SetQueueSizes(inSize, outSize);
    if (rc < 0) {
        CloseDevice();
        return rc;
    }
    {
        std::lock_guard li(input_);
        in_.assign(N, 0);
        head_ = tail_ = 0;
        full_ = false;
        overflow_ = false;
        inputBlocked_ = false;
        readAhead_ = false;
        taken_ = mostTaken_ = 0;
        scanPos_ = 0;
        unscanned_ = 0;
        lastAvailPos_ = UINT32_MAX;
        matchPending_ = false;
    }
    {
        std::lock_guard lo(output_);
        out_.assign(outSize, 0);
        outHead_ = outTail_ = 0;
        outFull_ = false;
        ++outGeneration_;
    }
    dataWritten_ = false;

    std::unique_lock lock(general_);
    inSize_ = inSize;
    outSize_ = outSize;
    lineErrorBits_ = 0;
    ReadDeviceBlock(dcb_);
    dtrState_ = dtr;
    rtsState_ = rts;
    dtrFlow_ = rtsFlow_ = false;
    rs485_ = false;
    bufferFull_ = bufferResume_ = 0;
    timers_.clear();
    dataTriggers_.clear();
    statusTriggers_.clear();
    noteOutputTriggers();
    handleCounter_ = 1;
    availLength_ = 0;

    DeviceControlBlock d = dcb_;
    d.binary = true;
    d.parityCheck = false;
    d.dsrSensitivity = false;
    d.txContinueOnXoff = true;
    d.nullDiscard = false;
    d.outxCtsFlow = d.outxDsrFlow = false;
    d.outX = d.inX = false;
    // The whole block is written once at open so that the device starts in a known
    // state even when the line parameters below equal what it had.
    rc = writeDcb(d);
    if (rc < 0) {
        lock.unlock();
        CloseDevice();
        freeBuffers();
        return rc;
    }
    modemStatus_ = static_cast<uint8_t>(ReadModemLines() & 0xF0);
    portOpen_ = true;
    lock.unlock();

    rc = SetLineParams(baud, parity, dataBits, stopBits);
    if (rc < 0) {
        portOpen_ = false;
        CloseDevice();
        freeBuffers();
        return rc;
    }

    lock.lock();
    lineErrorBits_ = 0;
    ReadErrorState();
    trace_.Stop();
    log_.Stop();
    openTimeMs_ = platform::monotonicMs();
    attached_[0] = attached_[1] = attached_[2] = nullptr;
    lock.unlock();
    if (!deferStart_)
        StartThreads();
    return 0;
}

int BaseDispatcher::ClosePort()
{
    if (closing_.exchange(true))
        return 0;
    if (portOpen_) {
        // Give queued output its chance to leave before the line goes away, then throw
        // away what the far end never took.
        DrainDriver();
        FlushOutput();
        FlushInput();
        portOpen_ = false;
    }
    if (inNotification_) {
        // A handler is running (perhaps the caller itself): the dispatch thread releases
        // everything when it leaves the handler.
        closeDeferred_ = true;
        stopRequested_ = true;
        {
            std::lock_guard l(eventMutex_);
            readyCv_.notify_all();
            eventCv_.notify_all();
        }
        return 0;
    }
    release();
    return 0;
}

void BaseDispatcher::release()
{
    if (started_)
        StopThreads();
    CloseDevice();
    freeBuffers();
}

void BaseDispatcher::freeBuffers()
{
    {
        std::lock_guard li(input_);
        in_.clear();
        in_.shrink_to_fit();
        head_ = tail_ = 0;
        full_ = false;
        unscanned_ = 0;
    }
    {
        std::lock_guard lo(output_);
        out_.clear();
        out_.shrink_to_fit();
        outHead_ = outTail_ = 0;
        outFull_ = false;
        ++outGeneration_;
    }
    outEmptyCv_.notify_all();
}

void BaseDispatcher::StartThreads()
{
    std::lock_guard lock(general_);
    if (started_)
        throw EQarnException(0, "Dispatcher already started");
    started_ = true;
    stopRequested_ = false;
    {
        std::lock_guard l(eventMutex_);
        eventPending_ = false;
        dispatchWake_ = false;
    }
    // A dispatch thread that released the port itself (a close from inside a handler)
    // has ended, or is just returning; it is collected before a new one starts.
    if (dispatchThread_.joinable()) {
        if (dispatchThread_.get_id() == std::this_thread::get_id())
            dispatchThread_.detach();
        else
            dispatchThread_.join();
    }
    StartEventThread();
    dispatchEnded_ = false;
    ThreadStarted();
    dispatchThread_ = std::thread([this] { dispatchThreadMain(); });
    StartOutputThread();
}

void BaseDispatcher::StopThreads()
{
    if (!started_)
        throw EQarnException(0, "Dispatcher not running");
    stopRequested_ = true;
    StopOutputThread();
    {
        std::lock_guard l(eventMutex_);
        readyCv_.notify_all();
        eventCv_.notify_all();
    }
    StopEventThread();
    // The dispatch thread may be waiting for the UI thread to take a notification, so
    // the UI thread keeps running queued calls while it waits.
    if (dispatchThread_.joinable() && dispatchThread_.get_id() != std::this_thread::get_id()) {
        if (bridge_ && bridge_->isUiThread())
            bridge_->waitAndPump([this] { return dispatchEnded_.load(); }, -1);
        dispatchThread_.join();
    }
    started_ = false;
}

void BaseDispatcher::ThreadEnded()
{
    if (--runningThreads_ == 0)
        started_ = false;
    {
        std::lock_guard l(endedMutex_);
    }
    endedCv_.notify_all();
    if (bridge_)
        bridge_->wake();
}

void BaseDispatcher::WaitThreadsEnded()
{
    if (bridge_ && bridge_->isUiThread()) {
        bridge_->waitAndPump([this] { return runningThreads_.load() == 0 && dispatchEnded_.load(); }, -1);
        return;
    }
    std::unique_lock l(endedMutex_);
    endedCv_.wait(l, [this] { return runningThreads_.load() == 0 && dispatchEnded_.load(); });
}

bool BaseDispatcher::DeliverEvent(uint32_t mask)
{
    std::unique_lock l(eventMutex_);
    if (stopRequested_)
        return false;
    eventMask_ = mask;
    eventPending_ = true;
    eventCv_.notify_all();
    readyCv_.wait(l, [&] { return !eventPending_ || stopRequested_.load(); });
    return !stopRequested_;
}

void BaseDispatcher::wakeDispatch()
{
    {
        std::lock_guard l(eventMutex_);
        dispatchWake_ = true;
    }
    eventCv_.notify_all();
}

void BaseDispatcher::noteOutputTriggers()
{
    bool armed = false;
    for (const auto& s : statusTriggers_)
        if (s.active && (s.type == stOutBuffFree || s.type == stOutBuffUsed || s.type == stOutSent))
            armed = true;
    outputTriggerArmed_ = armed;
}

void BaseDispatcher::outputLevelChanged()
{
    // Without this the change would be seen only at the next timed pass (50 ms), and a
    // sender that refills on the output-free trigger would move one buffer per pass.
    // The flag is set before an arming wakes the dispatch thread, so a check that ran
    // before this level change always had the flag set here and is repeated.
    if (outputTriggerArmed_.load())
        wakeDispatch();
}

bool BaseDispatcher::anyTimedTriggerActive() const
{
    // Only timer triggers depend on the clock. Every change a status trigger looks at
    // wakes the dispatch thread itself: modem lines, line errors and a hang-up come as
    // events, the output level through outputLevelChanged, and arming one wakes it.
    std::lock_guard lock(general_);
    for (const auto& t : timers_)
        if (t.active)
            return true;
    return false;
}

void BaseDispatcher::dispatchThreadMain()
{
    while (!stopRequested_ && !closeDeferred_) {
        bool haveEvent = false;
        uint32_t mask = 0;
        {
            // Active timer triggers need a look every 50 ms; without them the thread
            // sleeps until an event, so an idle port costs nothing.
            const bool timed = anyTimedTriggerActive();
            std::unique_lock l(eventMutex_);
            auto ready = [&] { return eventPending_ || dispatchWake_ || stopRequested_.load(); };
            if (timed)
                eventCv_.wait_for(l, std::chrono::milliseconds(50), ready);
            else
                eventCv_.wait(l, ready);
            dispatchWake_ = false;
            if (stopRequested_)
                break;
            haveEvent = eventPending_;
            mask = eventMask_;
        }
        if (haveEvent)
            processEvent(mask);
        if (!inNotification_ && reannounce_.exchange(false))
            while (!closeDeferred_ && checkDataAndAvail()) {
            }
        processTimers();
        if (haveEvent) {
            std::lock_guard l(eventMutex_);
            eventPending_ = false;
            readyCv_.notify_all();
        }
    }
    {
        std::lock_guard l(eventMutex_);
        eventPending_ = false;
        readyCv_.notify_all();
    }
    if (closeDeferred_) {
        // The close was requested while a handler ran: release everything here, then
        // let the owner free the dispatcher.
        inNotification_ = false;
        StopOutputThread();
        StopEventThread();
        CloseDevice();
        freeBuffers();
        std::function<void()> cb;
        {
            std::lock_guard lock(general_);
            cb = releaseCallback_;
        }
        dispatchEnded_ = true;
        ThreadEnded();
        if (bridge_)
            bridge_->wake();
        if (cb)
            cb();
        return;
    }
    dispatchEnded_ = true;
    ThreadEnded();
    if (bridge_)
        bridge_->wake();
}

void BaseDispatcher::processEvent(uint32_t mask)
{
    auto statusLoop = [this] {
        if (inNotification_)
            return;
        while (!closeDeferred_ && checkStatusTriggers()) {
        }
    };
    if (mask & evModemMask) {
        if (mask & evRing)
            ringFlag_ = true;
        updateModemStatus();
        statusLoop();
    }
    if (mask & (evBreak | evErr)) {
        {
            std::lock_guard lock(general_);
            lineErrorBits_ |= ReadErrorState() & 0x1F;
        }
        statusLoop();
    }
    if (mask & evRxChar) {
        // While bytes keep coming the dispatch thread reads again at once instead of
        // handing back to the event thread for every chunk; the rounds are bounded so
        // status and timer checks are not starved.
        for (int round = 0; round < 16; ++round) {
            const bool wasHungUp = hungUp_;
            const uint32_t got = readInput();
            if (!wasHungUp && hungUp_)
                updateModemStatus();
            statusLoop();
            if (!inNotification_)
                while (!closeDeferred_ && checkDataAndAvail()) {
                }
            if (got == 0 || hungUp_ || inputBlocked_ || closeDeferred_ || stopRequested_)
                break;
            // Paced input: what arrives meanwhile waits for the next frame.
            if (InputPacingNow() > 0)
                break;
        }
    }
    clearFiredMarks();
}

void BaseDispatcher::processTimers()
{
    if (closeDeferred_ || inNotification_)
        return;
    while (!closeDeferred_) {
        bool fired = checkStatusTriggers();
        if (!fired && !closeDeferred_)
            fired = checkTimerTriggers();
        if (!fired)
            break;
    }
    clearFiredMarks();
}

void BaseDispatcher::clearFiredMarks()
{
    if (!statusFired_.exchange(false))
        return;
    std::lock_guard lock(general_);
    for (auto& s : statusTriggers_)
        s.firedThisPass = false;
}

void BaseDispatcher::updateModemStatus()
{
    std::lock_guard lock(general_);
    const uint8_t old = modemStatus_;
    uint8_t lines = static_cast<uint8_t>(ReadModemLines() & 0xF0);
    if (hungUp_)
        lines = static_cast<uint8_t>(lines & ~msDCD);
    uint8_t deltas = static_cast<uint8_t>((old & 0x0F) | (((old ^ lines) >> 4) & 0x0F));
    if (ringFlag_.exchange(false))
        deltas |= msRingDelta;
    modemStatus_ = static_cast<uint8_t>(lines | deltas);
    if (modemStatus_ != old)
        logEntry(lkDispatch, lsModemStatus, modemStatus_);
}

void BaseDispatcher::NoteHangUp()
{
    hungUp_ = true;
}

// ---- Input ---------------------------------------------------------------------------

uint32_t BaseDispatcher::readInput()
{
    // The bytes are recorded for the trace and the log after the input lock is given
    // up, so the general lock is never taken inside the input lock.
    std::string record;
    const uint32_t total = readIntoBuffer(record);
    if (!record.empty()) {
        std::lock_guard lock(general_);
        trace_.AddBlock('R', reinterpret_cast<const uint8_t*>(record.data()), static_cast<uint32_t>(record.size()));
        logEntry(lkDispatch, lsReadPort, static_cast<uint32_t>(record.size()), record.data(),
                 static_cast<uint32_t>(record.size()));
    }
    return total;
}

uint32_t BaseDispatcher::readIntoBuffer(std::string& record)
{
    std::lock_guard li(input_);
    if (in_.empty())
        return 0;
    if (full_) {
        inputBlocked_ = true;
        return 0;
    }
    uint32_t total = 0;
    // At most two copies: up to the end of the buffer, then from its start.
    for (int pass = 0; pass < 2 && !full_; ++pass) {
        const uint32_t room = (tail_ > head_) ? tail_ - head_ : N - head_;
        const int got = ReadPort(&in_[head_], room);
        if (got <= 0)
            break;
        const auto n = static_cast<uint32_t>(got);
        if (log_.active() || trace_.active())
            record.append(reinterpret_cast<const char*>(&in_[head_]), n);
        head_ = (head_ + n) % N;
        unscanned_ += n;
        total += n;
        if (head_ == tail_)
            full_ = true;
        if (n < room)
            break;
    }
    if (full_) {
        // The driver may hold more: the device is not watched for input until a reader
        // frees room, and the driver's own flow control holds the sender meanwhile.
        const bool more = DriverInputCount() > 0;
        overflow_ = more;
        inputBlocked_ = true;
    }
    if (total) {
        // New bytes make the next avail notification due even when the buffer went
        // round exactly once and the scan stopped where the last one was sent.
        lastAvailPos_ = UINT32_MAX;
        InputLevelChanged(usedLocked(), false);
    }
    return total;
}

uint32_t BaseDispatcher::usedLocked() const
{
    uint32_t used = full_ ? N : (head_ + N - tail_) % N;
    if (readAhead_)
        used -= std::min(taken_, used);
    return used;
}

void BaseDispatcher::freeInput(uint32_t n)
{
    if (n == 0)
        return;
    tail_ = (tail_ + n) % N;
    full_ = false;
    const bool wasBlocked = inputBlocked_.exchange(false);
    InputLevelChanged(usedLocked(), wasBlocked);
}

int BaseDispatcher::GetByte(uint8_t& ch)
{
    std::lock_guard li(input_);
    if (in_.empty() || usedLocked() == 0)
        return ecBufferIsEmpty;
    if (readAhead_) {
        ch = in_[(tail_ + taken_) % N];
        ++taken_;
    } else {
        ch = in_[tail_];
        freeInput(1);
    }
    return 0;
}

int BaseDispatcher::PeekByte(uint8_t& ch, uint32_t index)
{
    std::lock_guard li(input_);
    if (in_.empty() || index == 0 || usedLocked() < index)
        return ecBufferIsEmpty;
    const uint32_t start = readAhead_ ? tail_ + taken_ : tail_;
    ch = in_[(start + index - 1) % N];
    return 0;
}

int BaseDispatcher::PeekBlock(void* buffer, uint32_t count)
{
    std::lock_guard li(input_);
    if (in_.empty())
        return 0;
    const uint32_t n = std::min(count, usedLocked());
    const uint32_t start = (readAhead_ ? tail_ + taken_ : tail_) % N;
    auto* out = static_cast<uint8_t*>(buffer);
    const uint32_t first = std::min(n, N - start);
    std::memcpy(out, &in_[start], first);
    std::memcpy(out + first, &in_[0], n - first);
    return static_cast<int>(n);
}

int BaseDispatcher::GetBlock(void* buffer, uint32_t count)
{
    std::lock_guard li(input_);
    const int n = PeekBlock(buffer, count);
    if (n > 0) {
        if (readAhead_)
            taken_ += static_cast<uint32_t>(n);
        else
            freeInput(static_cast<uint32_t>(n));
    }
    return n;
}

bool BaseDispatcher::ByteReady()
{
    std::lock_guard li(input_);
    return !in_.empty() && usedLocked() > 0;
}

uint32_t BaseDispatcher::InputUsed()
{
    std::lock_guard li(input_);
    return in_.empty() ? 0 : usedLocked();
}

uint32_t BaseDispatcher::InputFree()
{
    std::lock_guard li(input_);
    if (in_.empty())
        return 0;
    return N - (full_ ? N : (head_ + N - tail_) % N);
}

int BaseDispatcher::FlushInput()
{
    PurgeQueue(1);
    {
        std::lock_guard li(input_);
        head_ = tail_ = 0;
        full_ = false;
        overflow_ = false;
        scanPos_ = 0;
        unscanned_ = 0;
        lastAvailPos_ = UINT32_MAX;
        matchPending_ = false;
        taken_ = mostTaken_ = 0;
        const bool wasBlocked = inputBlocked_.exchange(false);
        if (!in_.empty())
            InputLevelChanged(0, wasBlocked);
    }
    std::lock_guard lock(general_);
    for (auto& t : dataTriggers_)
        t.reset();
    return 0;
}

// ---- Output --------------------------------------------------------------------------

uint32_t BaseDispatcher::outUsedLocked() const
{
    if (out_.empty())
        return 0;
    const auto size = static_cast<uint32_t>(out_.size());
    return outFull_ ? size : (outHead_ + size - outTail_) % size;
}

int BaseDispatcher::PutBlock(const void* buffer, uint32_t count)
{
    if (count == 0)
        return 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    {
        std::lock_guard lo(output_);
        if (out_.empty())
            return ecNotOpen;
        const auto size = static_cast<uint32_t>(out_.size());
        const uint32_t room = size - outUsedLocked();
        if (count > room)
            return ecOutputBufferTooSmall;
        const uint32_t first = std::min(count, size - outHead_);
        std::memcpy(&out_[outHead_], p, first);
        std::memcpy(&out_[0], p + first, count - first);
        outHead_ = (outHead_ + count) % size;
        if (count == room)
            outFull_ = true;
    }
    SignalOutputReady();
    dataWritten_ = true;
    // An output-sent trigger fires on this even while flow control holds the writer.
    outputLevelChanged();
    {
        std::lock_guard lock(general_);
        logEntry(lkDispatch, lsWritePort, count, p, count);
        trace_.AddBlock('T', p, count);
    }
    return 0;
}

const uint8_t* BaseDispatcher::OutputStretch(uint32_t& length, uint64_t& generation)
{
    std::lock_guard lo(output_);
    generation = outGeneration_;
    length = 0;
    if (out_.empty() || (!outFull_ && outHead_ == outTail_))
        return nullptr;
    const auto size = static_cast<uint32_t>(out_.size());
    length = (outHead_ > outTail_) ? outHead_ - outTail_ : size - outTail_;
    return &out_[outTail_];
}

void BaseDispatcher::OutputWritten(uint32_t count, uint64_t generation)
{
    {
        std::lock_guard lo(output_);
        if (generation != outGeneration_ || out_.empty() || count == 0)
            return;
        const auto size = static_cast<uint32_t>(out_.size());
        outTail_ = (outTail_ + count) % size;
        outFull_ = false;
        if (outTail_ == outHead_)
            outHead_ = outTail_ = 0;
    }
    outEmptyCv_.notify_all();
    outputLevelChanged();
}

uint32_t BaseDispatcher::OutputUsed()
{
    std::lock_guard lo(output_);
    return outUsedLocked();
}

uint32_t BaseDispatcher::OutputFree()
{
    std::lock_guard lo(output_);
    return static_cast<uint32_t>(out_.size()) - outUsedLocked();
}

void BaseDispatcher::GetBufferSizes(uint32_t& inSize, uint32_t& outSize) const
{
    inSize = inSize_;
    outSize = outSize_;
}

int BaseDispatcher::FlushOutput()
{
    // The writer stays stopped from before the buffer is emptied until the driver's
    // queue has been purged, so no byte queued before the flush leaves afterwards.
    HoldWriter();
    {
        std::lock_guard lo(output_);
        outHead_ = outTail_ = 0;
        outFull_ = false;
        ++outGeneration_;
    }
    const int rc = PurgeQueue(0);
    ReleaseWriter();
    outEmptyCv_.notify_all();
    outputLevelChanged();
    return rc;
}

// ---- Line and modem ------------------------------------------------------------------

int BaseDispatcher::writeDcb(DeviceControlBlock& d)
{
    // Every write of the block re-applies the remembered DTR state and, unless in
    // RS485 mode, the RTS state.
    if (d.dtrControl != 2)
        d.dtrControl = dtrState_ ? 1 : 0;
    if (!rs485_ && d.rtsControl != 2)
        d.rtsControl = rtsState_ ? 1 : 0;
    const int rc = WriteDeviceBlock(d);
    if (rc == 0)
        dcb_ = d;
    return rc;
}

int BaseDispatcher::SetLineParams(uint32_t baud, int parity, int dataBits, int stopBits)
{
    DeviceControlBlock d;
    {
        std::lock_guard lock(general_);
        d = dcb_;
        if (baud == KeepBaud)
            baud = d.baud;
        if (parity == KeepParity)
            parity = d.parity;
        if (dataBits == KeepDataBits)
            dataBits = d.dataBits;
        if (parity < 0 || parity > 4 || dataBits < 5 || dataBits > 8)
            return ecBadArgument;
        int code;
        if (stopBits == KeepStopBits) {
            code = d.stopBits;
        } else {
            if (stopBits <= 0)
                stopBits = 1;
            if (stopBits > 2)
                stopBits = 2;
            // Five data bits cannot have two stop bits; the UART makes them one and
            // a half. One stop bit stays one.
            code = stopBits == 1 ? 0 : (dataBits == 5 ? 1 : 2);
        }
        if (code == 1 && dataBits != 5)
            code = 2;
        if (baud == d.baud && parity == d.parity && dataBits == d.dataBits && code == d.stopBits)
            return 0;
        d.baud = baud;
        d.parity = static_cast<uint8_t>(parity);
        d.dataBits = static_cast<uint8_t>(dataBits);
        d.stopBits = static_cast<uint8_t>(code);
    }
    if (portOpen_) {
        // Let queued output leave at the old settings first: up to 10 s for our buffer,
        // then the time of 18 character frames for the UART's FIFO.
        {
            std::unique_lock lo(output_);
            outEmptyCv_.wait_for(lo, std::chrono::seconds(10),
                                 [this] { return outUsedLocked() == 0; });
        }
        uint32_t oldBaud, frameBits;
        {
            std::lock_guard lock(general_);
            oldBaud = dcb_.baud ? dcb_.baud : 1;
            frameBits = dcb_.dataBits + 2u + (dcb_.parity ? 1u : 0u) + (dcb_.stopBits ? 1u : 0u);
        }
        const uint64_t frame100ns = uint64_t(10000000 / oldBaud) * frameBits;
        uint64_t wait100ns = frame100ns * 18;
        if (wait100ns < 10000)
            wait100ns = frame100ns * 36;
        const uint64_t waitMs = (wait100ns + 9999) / 10000;
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
    std::lock_guard lock(general_);
    DeviceControlBlock cur = dcb_;
    cur.baud = d.baud;
    cur.parity = d.parity;
    cur.dataBits = d.dataBits;
    cur.stopBits = d.stopBits;
    baud_ = cur.baud;
    return writeDcb(cur);
}

uint32_t BaseDispatcher::BaudFromRateCode(uint32_t code)
{
    static const uint32_t table[] = {110,   300,   600, 1200, 2400,  4800,  9600, 14400,
                                     19200, 0,     0,   38400, 0,    0,     0,    56000,
                                     0,     0,     0,   128000, 0,   0,     0,    256000};
    if (code == 0xFEFF)
        return 115200;
    if (code >= 0xFF10 && code <= 0xFF27) {
        const uint32_t v = table[code - 0xFF10];
        return v ? v : code;
    }
    return code;
}

int BaseDispatcher::GetLineParams(uint32_t& baud, int& parity, int& dataBits, int& stopBits)
{
    std::lock_guard lock(general_);
    baud = BaudFromRateCode(dcb_.baud);
    parity = dcb_.parity;
    dataBits = dcb_.dataBits;
    stopBits = dcb_.stopBits == 0 ? 1 : 2;
    return 0;
}

int BaseDispatcher::SetDTR(bool on)
{
    std::lock_guard lock(general_);
    if (dtrFlow_)
        return 1;
    LineControl(true, on);
    dtrState_ = on;
    dcb_.dtrControl = on ? 1 : 0;
    return 0;
}

int BaseDispatcher::SetRTS(bool on)
{
    std::lock_guard lock(general_);
    if (rtsFlow_)
        return 1;
    LineControl(false, on);
    rtsState_ = on;
    dcb_.rtsControl = on ? 1 : 0;
    return 0;
}

uint8_t BaseDispatcher::ReadModemStatus(uint8_t keepMask)
{
    std::lock_guard lock(general_);
    if (portOpen_)
        updateModemStatus();
    const uint8_t result = modemStatus_;
    modemStatus_ &= keepMask;
    return result;
}

int BaseDispatcher::TakeLineError()
{
    std::lock_guard lock(general_);
    if (portOpen_)
        lineErrorBits_ |= ReadErrorState() & 0x1F;
    int result = leNone;
    if (lineErrorBits_ & leOverflow)
        result = leBuffer;
    else if (lineErrorBits_ & leOverrun)
        result = leOverrunError;
    else if (lineErrorBits_ & leParity)
        result = leParityError;
    else if (lineErrorBits_ & leFraming)
        result = leFramingError;
    else if (lineErrorBits_ & leBreak)
        result = leBreakError;
    if (result != leNone)
        lineErrorBits_ &= ~0x0Fu;
    return result;
}

bool BaseDispatcher::TakeLineBreak()
{
    std::lock_guard lock(general_);
    const bool brk = (lineErrorBits_ & leBreak) != 0;
    lineErrorBits_ &= ~leBreak;
    return brk;
}

uint32_t BaseDispatcher::LineErrorBits()
{
    std::lock_guard lock(general_);
    return lineErrorBits_;
}

int BaseDispatcher::SendBreak(uint32_t ticks, bool yield)
{
    if (!portOpen_)
        return ecNotOpen;
    int rc = SetBreakState(true);
    if (rc < 0)
        return rc;
    WaitTicks(static_cast<int32_t>(std::min<uint32_t>(ticks, TicksPerDay)), yield);
    return SetBreakState(false);
}

void BaseDispatcher::WaitTicks(int32_t ticks, bool yieldUi)
{
    EventTimer t;
    NewTimer(t, ticks);
    const bool pump = yieldUi && bridge_ && bridge_->isUiThread();
    // Waits are measured again after each wake-up, so an early return of a wait (a
    // queued UI call, a wake) never shortens the total.
    while (!TimerExpired(t)) {
        const int64_t left = std::max<int64_t>(1, TimerDueMs(t) - platform::monotonicMs());
        const int ms = static_cast<int>(std::min<int64_t>(left, 1000));
        if (pump)
            bridge_->waitAndPump([&t] { return TimerExpired(t); }, ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

int BaseDispatcher::checkFlowArgs(uint32_t full, uint32_t resume) const
{
    if (resume > full || full > inSize_)
        return ecBadArgument;
    return 0;
}

int BaseDispatcher::SetHardwareFlow(uint32_t bufferFull, uint32_t bufferResume, uint32_t options)
{
    std::lock_guard lock(general_);
    if (int rc = checkFlowArgs(bufferFull, bufferResume))
        return rc;
    DeviceControlBlock d = dcb_;
    d.outxCtsFlow = d.outxDsrFlow = false;
    dtrFlow_ = (options & hfUseDTR) != 0;
    rtsFlow_ = (options & hfUseRTS) != 0;
    d.dtrControl = dtrFlow_ ? 2 : (dtrState_ ? 1 : 0);
    d.rtsControl = rtsFlow_ ? 2 : (rtsState_ ? 1 : 0);
    if (rs485_) {
        d.rtsControl = 3;
        rtsFlow_ = true;
    }
    d.xoffLim = inSize_ - bufferFull;
    d.xonLim = bufferResume;
    bufferFull_ = bufferFull;
    bufferResume_ = bufferResume;
    d.outxDsrFlow = (options & hfRequireDSR) != 0;
    d.outxCtsFlow = (options & hfRequireCTS) != 0;
    return writeDcb(d);
}

int BaseDispatcher::EnableSoftwareFlow(uint32_t bufferFull, uint32_t bufferResume, uint32_t options)
{
    std::lock_guard lock(general_);
    if (int rc = checkFlowArgs(bufferFull, bufferResume))
        return rc;
    DeviceControlBlock d = dcb_;
    if (options & sfReceiveFlow) {
        d.inX = true;
        d.xoffLim = inSize_ - bufferFull;
        d.xonLim = bufferResume;
    }
    if (options & sfTransmitFlow)
        d.outX = true;
    if (options & (sfReceiveFlow | sfTransmitFlow)) {
        d.xonChar = 17;
        d.xoffChar = 19;
    }
    return writeDcb(d);
}

int BaseDispatcher::DisableSoftwareFlow()
{
    std::lock_guard lock(general_);
    DeviceControlBlock d = dcb_;
    d.inX = d.outX = false;
    return writeDcb(d);
}

int BaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff)
{
    std::lock_guard lock(general_);
    DeviceControlBlock d = dcb_;
    d.xonChar = xon;
    d.xoffChar = xoff;
    return writeDcb(d);
}

void BaseDispatcher::GetFlowSettings(uint32_t& hwOptions, uint32_t& swOptions, uint8_t& xon, uint8_t& xoff)
{
    std::lock_guard lock(general_);
    hwOptions = (dcb_.dtrControl == 2 ? hfUseDTR : 0) | (dcb_.rtsControl == 2 ? hfUseRTS : 0) |
                (dcb_.outxDsrFlow ? hfRequireDSR : 0) | (dcb_.outxCtsFlow ? hfRequireCTS : 0);
    swOptions = (dcb_.outX ? sfTransmitFlow : 0) | (dcb_.inX ? sfReceiveFlow : 0);
    xon = dcb_.xonChar;
    xoff = dcb_.xoffChar;
}

int BaseDispatcher::SetRS485Mode(bool on)
{
    std::lock_guard lock(general_);
    if (rs485_ == on)
        return 0;
    rs485_ = on;
    DeviceControlBlock d = dcb_;
    if (on) {
        d.rtsControl = 3;
        rtsFlow_ = true;
    } else {
        rtsFlow_ = d.rtsControl == 2;
        if (d.rtsControl == 3)
            d.rtsControl = rtsState_ ? 1 : 0;
    }
    return writeDcb(d);
}

void BaseDispatcher::SetPriorityBoost(int boost)
{
    std::lock_guard lock(general_);
    priorityBoost_ = boost;
}

// ---- Tracing and logging -------------------------------------------------------------

void BaseDispatcher::logEntry(uint8_t kind, uint8_t subKind, uint32_t value, const void* data, uint32_t length)
{
    if (!log_.active())
        return;
    const auto t = static_cast<uint32_t>(platform::monotonicMs() - openTimeMs_);
    log_.Add(kind, subKind, t, value, data, length);
}

void BaseDispatcher::AddDispatchEntry(uint8_t kind, uint8_t subKind, uint32_t value, const void* data,
                                      uint32_t length)
{
    std::lock_guard lock(general_);
    logEntry(kind, subKind, value, data, length);
}

int BaseDispatcher::StartTracing(uint32_t size)
{
    std::lock_guard lock(general_);
    return trace_.Start(size);
}
void BaseDispatcher::StopTracing()
{
    std::lock_guard lock(general_);
    trace_.Stop();
}
void BaseDispatcher::PauseTracing()
{
    std::lock_guard lock(general_);
    trace_.Pause();
}
void BaseDispatcher::ResumeTracing()
{
    std::lock_guard lock(general_);
    trace_.Resume();
}
void BaseDispatcher::ClearTracing()
{
    std::lock_guard lock(general_);
    trace_.Clear();
}
int BaseDispatcher::WriteTraceFile(const std::string& fileName, bool inHex)
{
    std::lock_guard lock(general_);
    return trace_.WriteTraceFile(fileName, inHex);
}
int BaseDispatcher::AppendTraceFile(const std::string& fileName, bool inHex)
{
    std::lock_guard lock(general_);
    return trace_.AppendTraceFile(fileName, inHex);
}
bool BaseDispatcher::TracingOn()
{
    std::lock_guard lock(general_);
    return trace_.active();
}
bool BaseDispatcher::TraceAllocated()
{
    std::lock_guard lock(general_);
    return trace_.allocated();
}
int BaseDispatcher::StartDispatchLogging(uint32_t size)
{
    std::lock_guard lock(general_);
    return log_.Start(size);
}
void BaseDispatcher::StopDispatchLogging()
{
    std::lock_guard lock(general_);
    log_.Stop();
}
void BaseDispatcher::PauseDispatchLogging()
{
    std::lock_guard lock(general_);
    log_.Pause();
}
void BaseDispatcher::ResumeDispatchLogging()
{
    std::lock_guard lock(general_);
    log_.Resume();
}
void BaseDispatcher::ClearDispatchLogging()
{
    std::lock_guard lock(general_);
    log_.Clear();
}
int BaseDispatcher::DumpDispatchLog(const std::string& fileName, bool inHex)
{
    std::lock_guard lock(general_);
    return log_.Dump(fileName, inHex);
}
int BaseDispatcher::AppendDispatchLog(const std::string& fileName, bool inHex)
{
    std::lock_guard lock(general_);
    return log_.Append(fileName, inHex);
}
bool BaseDispatcher::LoggingOn()
{
    std::lock_guard lock(general_);
    return log_.active();
}
bool BaseDispatcher::LogAllocated()
{
    std::lock_guard lock(general_);
    return log_.allocated();
}

void BaseDispatcher::SetAttachedPointer(int index, void* p)
{
    if (index >= 1 && index <= 3)
        attached_[index - 1] = p;
}

void* BaseDispatcher::AttachedPointer(int index) const
{
    return (index >= 1 && index <= 3) ? attached_[index - 1] : nullptr;
}

} // namespace zelvo::comm
