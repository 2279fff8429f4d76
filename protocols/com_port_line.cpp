#include "protocols/com_port_line.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "comm/comm_types.h"
#include "platform/clock.h"

namespace zelvo::protocols {

using namespace zelvo::comm;

namespace {
// Detached forwarders; kept reachable until the process ends (see Forwarder).
std::mutex gRetiredMutex;
std::vector<std::unique_ptr<comm::ProcedureHandler>>& retired()
{
    static std::vector<std::unique_ptr<comm::ProcedureHandler>> list;
    return list;
}
} // namespace

void ComPortLine::Forwarder::procedureMessage(uint16_t msg, uint32_t wParam, uint32_t)
{
    std::lock_guard lock(mutex_);
    if (line_)
        line_->handle(msg, wParam);
}

void ComPortLine::Forwarder::detach()
{
    std::lock_guard lock(mutex_);
    line_ = nullptr;
}

ComPortLine::ComPortLine(ComPort& port)
    : port_(port), forwarder_(new Forwarder(this)), delivery_(port.Bridge()), in_(8192)
{
    // A port that closes under a running transfer takes the dispatcher with it: the
    // transfer ends as if the carrier had been lost.
    userId_ = port_.AddPortUserCallback([this](ComPort&, bool opening) {
        std::lock_guard lock(forwarder_->mutex());
        if (!opening && active_) {
            active_ = false;
            disp_ = nullptr;
            if (proto_)
                proto_->lineLost();
        }
        if (!opening)
            deliverFinish();
    });
}

ComPortLine::~ComPortLine()
{
    if (active_ && proto_) {
        proto_->CancelTransfer();
        port_.Bridge().waitAndPump([this] { return !active_.load(); }, 5000);
    }
    {
        std::lock_guard lock(forwarder_->mutex());
        if (active_)
            release();
        deliverFinish();
    }
    forwarder_->detach();
    port_.RemovePortUserCallback(userId_);
    std::lock_guard lock(gRetiredMutex);
    retired().emplace_back(forwarder_);
}

int ComPortLine::BeginTransmit(Protocol& protocol)
{
    return begin(protocol, true);
}

int ComPortLine::BeginReceive(Protocol& protocol)
{
    return begin(protocol, false);
}

int ComPortLine::begin(Protocol& protocol, bool transmit)
{
    if (active_)
        return -ecProtocolError;
    proto_ = &protocol;
    protocol.setEventDelivery(&delivery_);
    disp_ = port_.Dispatcher();
    if (!disp_ || !disp_->IsOpen()) {
        protocol.setComPort(nullptr);
        return transmit ? protocol.BeginTransmit() : protocol.BeginReceive();
    }
    disp_->SetAvailLength(1);
    const int t1 = disp_->NewTimerTrigger();
    const int t2 = disp_->NewTimerTrigger();
    const int s1 = disp_->NewStatusTrigger(stOutBuffFree);
    const int s2 = disp_->NewStatusTrigger(stOutBuffUsed);
    const int s3 = disp_->NewStatusTrigger(stModem);
    if (t1 < 0 || t2 < 0 || s1 < 0 || s2 < 0 || s3 < 0) {
        for (int h : {t1, t2, s1, s2, s3})
            if (h > 0)
                disp_->DropTrigger(static_cast<uint16_t>(h));
        protocol.FailStart(-ecNoMoreTriggers);
        return -ecNoMoreTriggers;
    }
    engineTimer_ = static_cast<uint16_t>(t1);
    statusTimer_ = static_cast<uint16_t>(t2);
    outFree_ = static_cast<uint16_t>(s1);
    outUsed_ = static_cast<uint16_t>(s2);
    modem_ = static_cast<uint16_t>(s3);
    disp_->SetAttachedPointer(1, &protocol);
    protocol.setComPort(this);
    active_ = true;
    const int rc = transmit ? protocol.BeginTransmit() : protocol.BeginReceive();
    if (!protocol.InProgress()) {
        if (active_)
            release();
        return rc ? rc : protocol.LastResult();
    }
    statusTicks_ = std::max<uint32_t>(protocol.StatusInterval(), 1);
    disp_->ArmTimerTrigger(statusTimer_, static_cast<int32_t>(statusTicks_), true);
    // Carrier changes are watched always: a line that hung up (an exec: command that
    // ended) cannot come back, so it ends the transfer even without AbortNoCarrier.
    disp_->ArmStatusTrigger(modem_, msDCD, true);
    rearm();
    registered_ = true;
    disp_->AddProcedureHandler(forwarder_);
    return 0;
}

void ComPortLine::handle(uint16_t msg, uint32_t wParam)
{
    const uint16_t handle = static_cast<uint16_t>(wParam);
    if (pendingFinish_) {
        // The transfer has ended; the data notification it ended in is over.
        if (active_ && msg == MsgTriggerTimer && handle == engineTimer_) {
            release();
            deliverFinish();
        }
        return;
    }
    if (!active_ || !proto_ || !disp_ || !proto_->InProgress())
        return;
    switch (msg) {
    case MsgTriggerAvail:
        takeInput(wParam);
        proto_->service();
        break;
    case MsgTriggerTimer:
        // Bytes that no avail notification announced (there should be none) are taken
        // here rather than left to stall the transfer.
        if (handle == engineTimer_ || handle == statusTimer_)
            takeWaitingInput();
        if (handle == statusTimer_) {
            disp_->ArmTimerTrigger(statusTimer_, static_cast<int32_t>(statusTicks_), true);
            proto_->service();
        } else if (handle == engineTimer_) {
            proto_->service();
        }
        break;
    case MsgTriggerStatus:
        if (handle == modem_) {
            if (disp_->LineHungUp() || (proto_->AbortNoCarrier() && !disp_->CheckDCD()))
                proto_->lineLost();
            else
                disp_->ArmStatusTrigger(modem_, msDCD, true);
        } else if (handle == outFree_ || handle == outUsed_) {
            proto_->service();
        }
        break;
    default:
        break;
    }
    waitOutShortPauses();
    if (proto_->InProgress())
        rearm();
}

void ComPortLine::waitOutShortPauses()
{
    // The timer triggers count in ticks of 55 ms. A shorter wait that an engine asks for
    // (the character delay of an ASCII send) is waited out here, to the millisecond, as
    // long as such waits add up to no more than a quarter second per notification.
    constexpr int64_t kMaxHeldMs = 250;
    int64_t held = 0;
    while (proto_->InProgress()) {
        const ProtocolEngine* engine = proto_->engine();
        if (!engine || engine->deadline() == ProtocolEngine::kNoDeadline)
            return;
        const int64_t wait = engine->deadline() - platform::monotonicMs();
        if (wait >= platform::kTickMs || held + std::max<int64_t>(wait, 0) > kMaxHeldMs)
            return;
        if (wait > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            held += wait;
        }
        proto_->service();
    }
}

void ComPortLine::takeInput(uint32_t count)
{
    // The bytes are looked at first and taken only as far as the transfer used them:
    // what follows its end stays in the port for the terminal.
    while (count > 0 && proto_->InProgress()) {
        const int n = disp_->PeekBlock(in_.data(), std::min<uint32_t>(count, static_cast<uint32_t>(in_.size())));
        if (n <= 0)
            break;
        const size_t used = proto_->lineData(in_.data(), static_cast<size_t>(n));
        if (used > 0)
            disp_->GetBlock(in_.data(), static_cast<uint32_t>(used));
        if (used < static_cast<size_t>(n))
            break;
        count -= static_cast<uint32_t>(n);
    }
}

void ComPortLine::takeWaitingInput()
{
    takeInput(UINT32_MAX);
}

void ComPortLine::transferEnded(std::function<void()> finished)
{
    if (!active_ || !registered_ || !disp_) {
        // Not started on the dispatch thread (a start that failed at once), or the port
        // is gone: nothing of the line is in use any more.
        if (active_)
            release();
        finished();
        return;
    }
    // Called from the handler on the dispatch thread, under the forwarder's lock.
    pendingFinish_ = std::move(finished);
    disp_->ArmTimerTrigger(engineTimer_, 1, true);
}

void ComPortLine::deliverFinish()
{
    if (!pendingFinish_)
        return;
    auto f = std::move(pendingFinish_);
    pendingFinish_ = nullptr;
    f();
}

void ComPortLine::rearm()
{
    if (!disp_ || !active_)
        return;
    const int64_t next = proto_->nextServiceMs();
    int32_t ticks = 1092;
    if (next != ProtocolEngine::kNoDeadline) {
        const int64_t wait = next - platform::monotonicMs();
        ticks = static_cast<int32_t>(std::clamp<int64_t>(platform::msToTicks(wait), 1, 1092));
    }
    disp_->ArmTimerTrigger(engineTimer_, ticks, true);
    if (proto_->waitingForOutput()) {
        uint32_t inSize = 0, outSize = 0;
        disp_->GetBufferSizes(inSize, outSize);
        disp_->ArmStatusTrigger(outFree_, static_cast<uint16_t>(std::max<uint32_t>(outSize / 2, 1)), true);
    }
}

void ComPortLine::release()
{
    if (disp_) {
        disp_->RemoveProcedureHandler(forwarder_);
        for (uint16_t h : {engineTimer_, statusTimer_, outFree_, outUsed_, modem_})
            if (h)
                disp_->DropTrigger(h);
        disp_->SetAttachedPointer(1, nullptr);
    }
    engineTimer_ = statusTimer_ = outFree_ = outUsed_ = modem_ = 0;
    registered_ = false;
    active_ = false;
}

int ComPortLine::putBlock(const uint8_t* data, size_t n)
{
    return disp_ ? disp_->PutBlock(data, static_cast<uint32_t>(n)) : -2007;
}

size_t ComPortLine::outputFree()
{
    return disp_ ? disp_->OutputFree() : 0;
}

size_t ComPortLine::outputUsed()
{
    return disp_ ? disp_->OutputUsed() : 0;
}

void ComPortLine::flushOutput()
{
    if (disp_)
        disp_->FlushOutput();
}

void ComPortLine::flushInput()
{
    if (disp_)
        disp_->FlushInput();
}

uint32_t ComPortLine::baudRate()
{
    return port_.Baud();
}

bool ComPortLine::nominalRate()
{
    // A line without modem lines is a pseudo-terminal (an exec: command): its rate is
    // a setting that nothing keeps to.
    return disp_ && !disp_->HasModemLines();
}

bool ComPortLine::carrier()
{
    return disp_ ? disp_->CheckDCD() : false;
}

void ComPortLine::setRTS(bool on)
{
    if (disp_)
        disp_->SetRTS(on);
}

void ComPortLine::wake()
{
    if (disp_ && engineTimer_)
        disp_->ArmTimerTrigger(engineTimer_, 1, true);
}

} // namespace zelvo::protocols
