// BaseDispatcher, second part: handler registration, the trigger lists, the checks the
// dispatch thread runs, and the delivery of notifications with read-ahead.

#include "comm/base_dispatcher.h"

#include "comm/ui_bridge.h"

#include <algorithm>

namespace zelvo::comm {

namespace {
constexpr uint32_t N = InputBufferSize;
} // namespace

// ---- Handlers ------------------------------------------------------------------------

int BaseDispatcher::AddWindowHandler(WindowHandler* window)
{
    {
        std::lock_guard lock(general_);
        windows_.push_back({window, false});
        logEntry(lkTrigHandlerAlloc, lsWindow, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
        RecomputeHandlerFlags(0);
        reannounceWaitingLocked();
    }
    wakeDispatch();
    return 0;
}

void BaseDispatcher::reannounceWaitingLocked()
{
    // Bytes that earlier handlers were told about but left unread would otherwise wait
    // for the next byte from the line before anyone hears of them again; a handler that
    // joins now (the terminal after a transfer, say) is told of them at the next pass.
    lastAvailPos_ = UINT32_MAX;
    reannounce_ = true;
}

int BaseDispatcher::RemoveWindowHandler(WindowHandler* window)
{
    std::lock_guard lock(general_);
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
        if (it->window != window || it->deleted)
            continue;
        logEntry(lkTrigHandlerDispose, lsWindow, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
        if (inNotification_) {
            it->deleted = true;
            handlerListChanged_ = true;
        } else {
            windows_.erase(it);
        }
        RecomputeHandlerFlags(0);
        return 0;
    }
    return 0;
}

int BaseDispatcher::AddProcedureHandler(ProcedureHandler* proc)
{
    {
        std::lock_guard lock(general_);
        procs_.push_back({proc, false});
        logEntry(lkTrigHandlerAlloc, lsProcedure, 0);
        RecomputeHandlerFlags(0);
        reannounceWaitingLocked();
    }
    wakeDispatch();
    return 0;
}

int BaseDispatcher::RemoveProcedureHandler(ProcedureHandler* proc)
{
    std::lock_guard lock(general_);
    for (auto it = procs_.begin(); it != procs_.end(); ++it) {
        if (it->proc != proc || it->deleted)
            continue;
        logEntry(lkTrigHandlerDispose, lsProcedure, 0);
        if (inNotification_) {
            it->deleted = true;
            handlerListChanged_ = true;
        } else {
            procs_.erase(it);
        }
        RecomputeHandlerFlags(0);
        return 0;
    }
    return 0;
}

void BaseDispatcher::RecomputeHandlerFlags(int mode)
{
    std::lock_guard lock(general_);
    if (mode == 1)
        portWindowWants_ = true;
    else if (mode == 2)
        portWindowWants_ = false;
    size_t windows = 0, procs = 0;
    for (const auto& w : windows_)
        windows += w.deleted ? 0 : 1;
    for (const auto& p : procs_)
        procs += p.deleted ? 0 : 1;
    notifyEnabled_ = portWindowWants_ || windows >= 2 || procs > 0;
    procsPresent_ = procs > 0;
}

// ---- Triggers ------------------------------------------------------------------------

bool BaseDispatcher::handleInUse(uint16_t h) const
{
    for (const auto& t : timers_)
        if (t.handle == h)
            return true;
    for (const auto& t : dataTriggers_)
        if (t.handle == h)
            return true;
    for (const auto& t : statusTriggers_)
        if ((t.handle & ~7u) == h)
            return true;
    return false;
}

uint16_t BaseDispatcher::newHandle()
{
    if (handleCounter_ < 4096)
        return static_cast<uint16_t>(handleCounter_++ * 8);
    for (uint32_t h = 8; h < 65536; h += 8)
        if (!handleInUse(static_cast<uint16_t>(h)))
            return static_cast<uint16_t>(h);
    return 0;
}

int BaseDispatcher::NewTimerTrigger()
{
    std::lock_guard lock(general_);
    const uint16_t h = newHandle();
    if (!h)
        return ecNoMoreTriggers;
    TimerTrigger t;
    t.handle = h;
    timers_.push_back(t);
    logEntry(lkTrigAlloc, lsTimerTrigger, h);
    return h;
}

int BaseDispatcher::NewDataTrigger(const void* data, bool ignoreCase, int length)
{
    if (length < 0 || (length > 0 && !data))
        return ecBadArgument;
    if (length > MaxTriggerLen)
        return ecTriggerTooLong;
    std::lock_guard lock(general_);
    const uint16_t h = newHandle();
    if (!h)
        return ecNoMoreTriggers;
    DataTrigger t;
    t.assign(static_cast<const uint8_t*>(data), length, ignoreCase);
    t.handle = h;
    dataTriggers_.push_back(t);
    logEntry(lkTrigAlloc, lsDataTrigger, h, data, static_cast<uint32_t>(length));
    return h;
}

int BaseDispatcher::NewStatusTrigger(int statusType)
{
    if (statusType < 0 || statusType > 5)
        return ecBadArgument;
    std::lock_guard lock(general_);
    const uint16_t h = newHandle();
    if (!h)
        return ecNoMoreTriggers;
    StatusTrigger t;
    t.handle = static_cast<uint16_t>(h | statusType);
    t.type = statusType;
    statusTriggers_.push_back(t);
    const uint8_t type = static_cast<uint8_t>(statusType);
    logEntry(lkTrigAlloc, lsStatusTrigger, t.handle, &type, 1);
    return t.handle;
}

int BaseDispatcher::DropTrigger(uint16_t handle)
{
    std::lock_guard lock(general_);
    if (handle == AvailTriggerHandle) {
        availLength_ = 0;
        return 0;
    }
    if (handle < 2)
        return ecBadTriggerHandle;
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->handle == handle) {
            timers_.erase(it);
            logEntry(lkTrigDispose, lsTimer, handle);
            return 0;
        }
    for (auto it = dataTriggers_.begin(); it != dataTriggers_.end(); ++it)
        if (it->handle == handle) {
            dataTriggers_.erase(it);
            logEntry(lkTrigDispose, lsData, handle);
            return 0;
        }
    for (auto it = statusTriggers_.begin(); it != statusTriggers_.end(); ++it)
        if (it->handle == handle) {
            const uint8_t type = static_cast<uint8_t>(it->type);
            statusTriggers_.erase(it);
            noteOutputTriggers();
            logEntry(lkTrigDispose, lsStatusTrigger, handle, &type, 1);
            return 0;
        }
    return ecBadTriggerHandle;
}

int BaseDispatcher::ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate)
{
    {
        std::lock_guard lock(general_);
        auto it = std::find_if(timers_.begin(), timers_.end(), [&](auto& t) { return t.handle == handle; });
        if (handle < 2 || it == timers_.end())
            return ecBadTriggerHandle;
        if (activate) {
            if (ticks != 0)
                it->ticks = ticks;
            NewTimer(it->timer, it->ticks);
            logEntry(lkTrigDataChange, lsTimerTrigger, handle, &it->ticks, 4);
        } else {
            logEntry(lkTrigDataChange, lsTimerTrigger, handle, "Deactivated", 11);
        }
        it->active = activate;
    }
    wakeDispatch();
    return 0;
}

int BaseDispatcher::ArmStatusTrigger(uint16_t handle, uint16_t value, bool activate)
{
    {
        std::lock_guard lock(general_);
        auto it = std::find_if(statusTriggers_.begin(), statusTriggers_.end(),
                               [&](auto& t) { return t.handle == handle; });
        if (handle < 2 || it == statusTriggers_.end())
            return ecBadTriggerHandle;
        if (activate) {
            switch (it->type) {
            case stModem: {
                const uint8_t mask = static_cast<uint8_t>(value);
                const uint8_t state = static_cast<uint8_t>(value & modemStatus_);
                it->value = static_cast<uint16_t>((mask << 8) | state);
                break;
            }
            case stLine:
                it->value = static_cast<uint16_t>((value & 0x0F) << 1);
                break;
            case stOutBuffFree:
            case stOutBuffUsed:
                it->value = value;
                break;
            default:
                it->value = 0;
                break;
            }
            logEntry(lkTrigDataChange, lsStatusTrigger, handle, &it->value, 2);
        } else {
            logEntry(lkTrigDataChange, lsStatusTrigger, handle, "Deactivated", 11);
        }
        it->active = activate;
        noteOutputTriggers();
    }
    wakeDispatch();
    return 0;
}

int BaseDispatcher::SetAvailLength(uint32_t length)
{
    {
        std::lock_guard lock(general_);
        availLength_ = length;
        logEntry(lkTrigDataChange, lsAvailTrigger, length);
    }
    return 0;
}

uint32_t BaseDispatcher::AvailLength()
{
    std::lock_guard lock(general_);
    return availLength_;
}

int BaseDispatcher::TimerTriggerLeft(uint16_t handle)
{
    std::lock_guard lock(general_);
    for (const auto& t : timers_)
        if (t.handle == handle)
            return RemainingTime(t.timer);
    return ecBadTriggerHandle;
}

void BaseDispatcher::SnapshotTriggers(TriggerSnapshot& saved)
{
    std::lock_guard lock(general_);
    saved.valid = true;
    saved.availLength = availLength_;
    saved.timers = timers_;
    saved.data = dataTriggers_;
    saved.status = statusTriggers_;
}

void BaseDispatcher::RestoreSnapshot(const TriggerSnapshot& saved)
{
    {
        std::lock_guard lock(general_);
        availLength_ = saved.availLength;
        timers_ = saved.timers;
        dataTriggers_ = saved.data;
        statusTriggers_ = saved.status;
        // A copy taken inside a handler (a close from a trigger event) may carry the
        // mark of the pass that was running; this dispatcher never ran that pass and
        // would never clear it, so the trigger could not fire again.
        for (auto& t : statusTriggers_)
            t.firedThisPass = false;
        noteOutputTriggers();
        // New handles must not collide with the restored ones.
        uint32_t highest = 0;
        for (const auto& t : timers_)
            highest = std::max<uint32_t>(highest, t.handle / 8u);
        for (const auto& t : dataTriggers_)
            highest = std::max<uint32_t>(highest, t.handle / 8u);
        for (const auto& t : statusTriggers_)
            highest = std::max<uint32_t>(highest, t.handle / 8u);
        handleCounter_ = std::max(handleCounter_, highest + 1);
    }
    wakeDispatch();
}

// ---- Trigger checks (dispatch thread) -----------------------------------------------

bool BaseDispatcher::checkStatusTriggers()
{
    uint16_t handle = 0;
    uint16_t low = 0;
    {
        std::lock_guard lock(general_);
        bool fired = false;
        for (auto& s : statusTriggers_) {
            if (!s.active || s.firedThisPass)
                continue;
            switch (s.type) {
            case stModem:
                fired = (((s.value & 0xFF) ^ modemStatus_) & (s.value >> 8)) != 0;
                break;
            case stLine:
                if ((s.value & lineErrorBits_) != 0) {
                    fired = true;
                    s.value = static_cast<uint16_t>(lineErrorBits_);
                }
                break;
            case stOutBuffFree: {
                const uint32_t f = OutputFree();
                fired = f >= s.value;
                low = static_cast<uint16_t>(std::min<uint32_t>(f, 0xFFFF));
                break;
            }
            case stOutBuffUsed: {
                const uint32_t u = OutputUsed();
                fired = u <= s.value;
                low = static_cast<uint16_t>(std::min<uint32_t>(u, 0xFFFF));
                break;
            }
            case stOutSent:
                fired = dataWritten_.exchange(false);
                break;
            default:
                break;
            }
            if (fired) {
                s.active = false;
                noteOutputTriggers();
                s.firedThisPass = true;
                statusFired_ = true;
                handle = s.handle;
                if (s.type != stOutBuffFree && s.type != stOutBuffUsed)
                    low = 0;
                logEntry(lkTrigger, lsStatus, handle);
                break;
            }
        }
        if (!fired)
            return false;
    }
    return sendNotification(MsgTriggerStatus, handle, low);
}

bool BaseDispatcher::checkTimerTriggers()
{
    uint16_t handle = 0;
    {
        std::lock_guard lock(general_);
        for (auto& t : timers_)
            if (t.active && TimerExpired(t.timer)) {
                t.active = false;
                handle = t.handle;
                logEntry(lkTrigger, lsTimer, handle);
                break;
            }
    }
    if (!handle)
        return false;
    return sendNotification(MsgTriggerTimer, handle, 0);
}

bool BaseDispatcher::checkDataAndAvail()
{
    uint32_t availCount = 0;
    std::vector<std::pair<uint16_t, uint16_t>> fired; // handle, length; last record first
    {
        std::lock_guard lock(general_);
        std::lock_guard li(input_);
        if (in_.empty())
            return false;
        uint32_t p = scanPos_;
        while (unscanned_ > 0) {
            const uint8_t b = in_[p];
            uint32_t longest = 0;
            bool any = false;
            for (auto& t : dataTriggers_) {
                if (t.length > 0 && !t.matched && !matchPending_ && t.match(b))
                    t.matched = true;
                if (t.matched) {
                    any = true;
                    longest = std::max<uint32_t>(longest, static_cast<uint32_t>(t.length));
                }
            }
            matchPending_ = false;
            if (!any) {
                p = (p + 1) % N;
                --unscanned_;
                continue;
            }
            // Bytes before the matched string are offered as available data first.
            if (availLength_ != 0 && lastAvailPos_ != p) {
                const uint32_t used = usedLocked();
                const uint32_t dist = (p + N - tail_) % N; // position of p among waiting bytes
                uint32_t before = 0;
                if (dist < used) {
                    const uint32_t upTo = dist + 1;
                    before = upTo > longest ? upTo - longest : 0;
                }
                if (before >= availLength_ && before > 0) {
                    scanPos_ = p;
                    lastAvailPos_ = p;
                    matchPending_ = true;
                    availCount = before;
                    logEntry(lkTrigger, lsAvail, availCount);
                    break;
                }
            }
            for (auto it = dataTriggers_.rbegin(); it != dataTriggers_.rend(); ++it)
                if (it->matched) {
                    it->matched = false;
                    fired.emplace_back(it->handle, static_cast<uint16_t>(it->length));
                    logEntry(lkTrigger, lsData, it->handle);
                }
            scanPos_ = (p + 1) % N;
            --unscanned_;
            break;
        }
        if (availCount == 0 && fired.empty()) {
            scanPos_ = p;
            const uint32_t used = usedLocked();
            if (availLength_ == 0 || lastAvailPos_ == scanPos_ || used < availLength_)
                return false;
            lastAvailPos_ = scanPos_;
            availCount = used;
            logEntry(lkTrigger, lsAvail, availCount);
        }
    }
    if (availCount)
        return sendNotification(MsgTriggerAvail, availCount, 0);
    bool result = true;
    for (const auto& [h, len] : fired) {
        {
            // A handler told of an earlier match may have dropped this trigger.
            std::lock_guard lock(general_);
            if (std::none_of(dataTriggers_.begin(), dataTriggers_.end(),
                             [h = h](const DataTrigger& t) { return t.handle == h; }))
                continue;
        }
        result = sendNotification(MsgTriggerData, h, len);
        if (closeDeferred_ || stopRequested_)
            return false;
    }
    return result;
}

bool BaseDispatcher::sendNotification(uint16_t msg, uint32_t wParam, uint16_t lParamLow)
{
    if (!notifyEnabled_)
        return true;
    std::vector<WindowHandler*> windows;
    std::vector<ProcedureHandler*> procs;
    bool toWindows;
    {
        std::lock_guard lock(general_);
        inNotification_ = true;
        for (const auto& p : procs_)
            if (!p.deleted)
                procs.push_back(p.proc);
        size_t live = 0;
        for (const auto& w : windows_)
            if (!w.deleted) {
                windows.push_back(w.window);
                ++live;
            }
        toWindows = live >= 2 || portWindowWants_;
    }
    const bool readAheadMsg = msg == MsgTriggerAvail || msg == MsgTriggerData;
    {
        std::lock_guard li(input_);
        mostTaken_ = 0;
        taken_ = 0;
        readAhead_ = readAheadMsg;
    }
    const uint32_t lParam = (uint32_t(handle_) << 16) | lParamLow;

    auto stillRegistered = [this](auto* h, bool isWindow) {
        std::lock_guard lock(general_);
        if (isWindow) {
            for (const auto& w : windows_)
                if (w.window == reinterpret_cast<WindowHandler*>(h) && !w.deleted)
                    return true;
        } else {
            for (const auto& p : procs_)
                if (p.proc == reinterpret_cast<ProcedureHandler*>(h) && !p.deleted)
                    return true;
        }
        return false;
    };
    auto afterCall = [this] {
        std::lock_guard li(input_);
        mostTaken_ = std::max(mostTaken_, taken_);
    };

    for (ProcedureHandler* p : procs) {
        if (!stillRegistered(p, false))
            continue;
        {
            std::lock_guard li(input_);
            taken_ = 0;
        }
        try {
            p->procedureMessage(msg, wParam, lParam);
        } catch (...) {
            // A handler's failure must not stop the port.
        }
        afterCall();
        if (closeDeferred_ || stopRequested_)
            return false;
    }
    if (toWindows) {
        // All windows hear of the notification in one call on the UI thread, in their
        // order: one wake-up of each thread per notification, however many windows.
        // The registration is checked again on the UI thread, where windows remove
        // themselves, so a window gone meanwhile is never called.
        auto callWindows = [&] {
            for (WindowHandler* w : windows) {
                if (closeDeferred_ || stopRequested_)
                    return;
                if (!stillRegistered(w, true))
                    continue;
                {
                    std::lock_guard li(input_);
                    taken_ = 0;
                }
                w->windowMessage(msg, wParam, lParam);
                afterCall();
            }
        };
        if (bridge_)
            bridge_->send(callWindows, WindowSendTimeoutMs);
        else
            callWindows();
        if (closeDeferred_ || stopRequested_)
            return false;
    }

    bool result = true;
    {
        std::lock_guard li(input_);
        if (readAhead_) {
            readAhead_ = false;
            if (mostTaken_ > 0 && !in_.empty()) {
                const uint32_t avail = full_ ? N : (head_ + N - tail_) % N;
                freeInput(std::min(mostTaken_, avail));
            }
        }
        if (msg == MsgTriggerAvail && mostTaken_ != wParam)
            result = false;
        taken_ = 0;
    }
    {
        std::lock_guard lock(general_);
        inNotification_ = false;
        if (handlerListChanged_) {
            handlerListChanged_ = false;
            windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](auto& w) { return w.deleted; }),
                           windows_.end());
            procs_.erase(std::remove_if(procs_.begin(), procs_.end(), [](auto& p) { return p.deleted; }),
                         procs_.end());
            RecomputeHandlerFlags(0);
        }
    }
    return result;
}

} // namespace zelvo::comm
