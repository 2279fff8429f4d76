#pragma once
// Receivers of the dispatcher's notification messages (MsgTriggerAvail, MsgTriggerData,
// MsgTriggerTimer, MsgTriggerStatus; see comm/comm_types.h).
//
// A ProcedureHandler is called on the dispatch thread, first, for every notification
// (the protocol engines use one while a transfer runs). A WindowHandler lives on the
// UI thread and is reached through the UiBridge by a blocking send with a 3000 ms limit;
// the port component's own notification window is always the first window handler.
// Port users that are windows also receive MsgPortOpen and MsgPortClose through their
// WindowHandler (both parameters 0), synchronously on the UI thread.
//
// While an avail or data notification runs, GetByte/PeekByte/GetBlock/PeekBlock/
// ByteReady/InputUsed work in read-ahead: every handler sees the same bytes from the
// same start, and the input is consumed as far as the handler that read most.
// Handlers may call every dispatcher operation, including adding and removing
// triggers and handlers (a removal takes effect after the current notification).

#include <cstdint>

namespace zelvo::comm {

class ProcedureHandler {
public:
    virtual ~ProcedureHandler() = default;
    virtual void procedureMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) = 0;
};

class WindowHandler {
public:
    virtual ~WindowHandler() = default;
    virtual void windowMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) = 0;
};

} // namespace zelvo::comm
