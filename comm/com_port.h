#pragma once
// ComPort: the component through which the program uses a serial port.
//
// It holds the port settings as properties, opens the port by creating a
// PosixDispatcher and closes it by destroying it, applies each setting to the open port
// at once, and turns the dispatcher's notifications into OnTrigger... events raised on
// the UI thread. Every negative result of the dispatcher is raised as an exception of
// the EQarnException tree (comm/exceptions.h). All members are for the UI thread.
//
// Using a port:
//   EventLoopBridge ui;                // or the program's Qt bridge
//   ComPort port(ui);
//   port.setComNumber(1);              // device from the port table (comm/port_table.h)
//   port.setOnTriggerAvail([&](ComPort& p, uint16_t count) {
//       for (uint16_t i = 0; i < count && p.ByteReady(); ++i) use(p.GetByte());
//   });
//   port.setOpen(true);
//   port.PutText("ATZ\r");
//
// A window (the terminal) registers itself on the open dispatcher:
//   port.Dispatcher()->AddWindowHandler(this);     // windowMessage() on the UI thread
//   port.Dispatcher()->SetAvailLength(1);
// and, as a port user (AddPortUser), learns of opening and closing through MsgPortOpen
// and MsgPortClose, so it can register again after a reopen.
//
// A procedure handler (a protocol engine) runs on the dispatch thread:
//   port.Dispatcher()->AddProcedureHandler(engine); // procedureMessage(msg, w, l)
//   on MsgTriggerAvail with count w: Dispatcher()->GetBlock(buf, w) (or PeekBlock /
//   GetByte), then Dispatcher()->PutBlock(reply, n); remove it with
//   RemoveProcedureHandler when done (safe from inside the handler).
// Handlers that take fewer bytes than announced are told about the rest, with any new
// bytes, at the next arrival.

#include "comm/comm_types.h"
#include "comm/exceptions.h"
#include "comm/posix_dispatcher.h"
#include "comm/trigger_handler.h"
#include "comm/ui_bridge.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::platform { class RegistryStore; }

namespace zelvo::comm {

class ComPort {
public:
    enum PortState { psClosed, psClosing, psOpen };

    using TriggerEvent = std::function<void(ComPort&, uint16_t msg, uint16_t handle, uint16_t data)>;
    using TriggerAvailEvent = std::function<void(ComPort&, uint16_t count)>;
    using TriggerHandleEvent = std::function<void(ComPort&, uint16_t handle)>;
    using TriggerLineErrorEvent = std::function<void(ComPort&, uint16_t error, bool lineBreak)>;
    using PortEvent = std::function<void(ComPort&)>;
    using WaitCharEvent = std::function<void(ComPort&, char ch)>;
    using OpenCloseEvent = std::function<void(ComPort&, bool opening)>;
    // The port choice dialog: fills comNumber and returns true on OK, false on Cancel.
    using PortPrompt = std::function<bool(uint16_t& comNumber)>;

    explicit ComPort(UiBridge& bridge);
    virtual ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // ---- Published properties -------------------------------------------------------
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void setDeviceLayer(TDeviceLayer v);
    uint16_t ComNumber() const { return comNumber_; }
    void setComNumber(uint16_t v);
    uint32_t Baud() const { return baud_; }
    void setBaud(uint32_t v);
    bool PromptForPort() const { return promptForPort_; }
    void setPromptForPort(bool v) { promptForPort_ = v; }
    TParity Parity() const { return parity_; }
    void setParity(TParity v);
    uint16_t DataBits() const { return dataBits_; }
    void setDataBits(uint16_t v);
    uint16_t StopBits() const { return stopBits_; }
    void setStopBits(uint16_t v);
    uint16_t InSize() const { return inSize_; }
    void setInSize(uint16_t v);
    uint16_t OutSize() const { return outSize_; }
    void setOutSize(uint16_t v) { outSize_ = v; }
    bool AutoOpen() const { return autoOpen_; }
    void setAutoOpen(bool v) { autoOpen_ = v; }
    bool Open() const { return open_; }
    void setOpen(bool v);
    bool DTR() const { return dtr_; }
    void setDTR(bool v);
    bool RTS() const { return rts_; }
    void setRTS(bool v);
    THWFlowOptions HWFlowOptions() const { return hwFlow_; }
    void setHWFlowOptions(THWFlowOptions v);
    TSWFlowOptions SWFlowOptions() const { return swFlow_; }
    void setSWFlowOptions(TSWFlowOptions v);
    char XOnChar() const { return xonChar_; }
    void setXOnChar(char v);
    char XOffChar() const { return xoffChar_; }
    void setXOffChar(char v);
    uint16_t BufferFull() const { return bufferFull_; }
    void setBufferFull(uint16_t v);
    uint16_t BufferResume() const { return bufferResume_; }
    void setBufferResume(uint16_t v);
    TTraceLogState Tracing() const { return tracing_; }
    void setTracing(TTraceLogState v);
    uint32_t TraceSize() const { return traceSize_; }
    void setTraceSize(uint32_t v);
    // TERM for the command of an exec: line, given when it starts; empty passes the
    // program's own environment unchanged.
    const std::string& ExecTerminalType() const { return execTerm_; }
    void setExecTerminalType(const std::string& v) { execTerm_ = v; }
    const std::string& TraceName() const { return traceName_; }
    void setTraceName(const std::string& v) { traceName_ = v; }
    bool TraceHex() const { return traceHex_; }
    void setTraceHex(bool v) { traceHex_ = v; }
    TTraceLogState Logging() const { return logging_; }
    void setLogging(TTraceLogState v);
    uint32_t LogSize() const { return logSize_; }
    void setLogSize(uint32_t v);
    const std::string& LogName() const { return logName_; }
    void setLogName(const std::string& v) { logName_ = v; }
    bool LogHex() const { return logHex_; }
    void setLogHex(bool v) { logHex_ = v; }
    bool UseMSRShadow() const { return useMSRShadow_; }
    void setUseMSRShadow(bool v) { useMSRShadow_ = v; }
    bool UseEventWord() const { return useEventWord_; }
    void setUseEventWord(bool v) { useEventWord_ = v; }
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void setCommNotificationLevel(uint16_t v) { commNotificationLevel_ = v; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void setTapiMode(TTapiMode v) { tapiMode_ = v; }
    bool RS485Mode() const { return rs485Mode_; }
    void setRS485Mode(bool v);

    // ---- Events (assigning one while open tells the dispatcher whether the port's
    // window wants notifications) -----------------------------------------------------
    void setOnTrigger(TriggerEvent e) { onTrigger_ = std::move(e); eventsChanged(); }
    void setOnTriggerAvail(TriggerAvailEvent e) { onTriggerAvail_ = std::move(e); eventsChanged(); }
    void setOnTriggerData(TriggerHandleEvent e) { onTriggerData_ = std::move(e); eventsChanged(); }
    void setOnTriggerStatus(TriggerHandleEvent e) { onTriggerStatus_ = std::move(e); eventsChanged(); }
    void setOnTriggerTimer(TriggerHandleEvent e) { onTriggerTimer_ = std::move(e); eventsChanged(); }
    void setOnTriggerLineError(TriggerLineErrorEvent e) { onTriggerLineError_ = std::move(e); eventsChanged(); }
    void setOnTriggerModemStatus(PortEvent e) { onTriggerModemStatus_ = std::move(e); eventsChanged(); }
    void setOnTriggerOutbuffFree(PortEvent e) { onTriggerOutbuffFree_ = std::move(e); eventsChanged(); }
    void setOnTriggerOutbuffUsed(PortEvent e) { onTriggerOutbuffUsed_ = std::move(e); eventsChanged(); }
    void setOnTriggerOutSent(PortEvent e) { onTriggerOutSent_ = std::move(e); eventsChanged(); }
    void setOnWaitChar(WaitCharEvent e) { onWaitChar_ = std::move(e); }
    void setOnOpened(OpenCloseEvent e) { onOpened_ = std::move(e); }
    void setOnClosed(OpenCloseEvent e) { onClosed_ = std::move(e); }
    const TriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    const TriggerHandleEvent& OnTriggerData() const { return onTriggerData_; }
    const TriggerHandleEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    const TriggerHandleEvent& OnTriggerTimer() const { return onTriggerTimer_; }

    // ---- Public state ----------------------------------------------------------------
    PosixDispatcher* Dispatcher() const { return dispatcher_.get(); }
    PortState State() const { return state_; }
    uint8_t PriorityBoost() const { return priorityBoost_; }
    void setPriorityBoost(uint8_t v);
    uint16_t AvailTriggerLength() const { return availTriggerLength_; }
    void setAvailTriggerLength(uint16_t v);
    bool CTS();
    bool DSR();
    bool DCD();
    bool Ring();
    uint16_t LineError();
    bool LineBreak();
    uint32_t InputUsed();
    uint32_t OutputUsed();
    uint32_t OutputFree();
    // The device the port opens: the override when one is set, else the port table's
    // device for ComNumber.
    std::string DeviceName() const;
    // Opens the port at another path of the same device (an adapter that came back
    // under a new name) without changing the port table; cleared by a new ComNumber
    // and by an empty path.
    void setDeviceOverride(const std::string& path) { deviceOverride_ = path; }
    const std::string& DeviceOverride() const { return deviceOverride_; }

    // ---- Data (need open) -------------------------------------------------------------
    void PutByte(uint8_t ch);
    void PutText(std::string_view text);
    void PutBlock(const void* buffer, uint32_t length);
    uint8_t GetByte();
    uint8_t PeekByte(uint32_t index);
    // Takes / copies up to count waiting bytes; returns how many.
    uint32_t GetBlock(void* buffer, uint32_t count);
    uint32_t PeekBlock(void* buffer, uint32_t count);
    bool ByteReady();
    void FlushInput();
    void FlushOutput();

    // ---- Triggers ---------------------------------------------------------------------
    uint16_t NewDataTrigger(std::string_view data, bool ignoreCase);
    uint16_t NewTimerTrigger();
    uint16_t NewStatusTrigger(int statusType);
    void DropTrigger(uint16_t handle);
    void ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate);
    void ArmStatusTrigger(uint16_t handle, uint16_t value, bool activate);

    // ---- Line ------------------------------------------------------------------------
    void SendBreak(uint32_t ticks, bool yield);

    // ---- Tracing and logging ------------------------------------------------------------
    void StartTracing(uint32_t size = 0);
    void StopTracing();
    void PauseTracing();
    void ResumeTracing();
    void ClearTracing();
    void DumpTrace();
    void AppendTrace();
    void StartLogging(uint32_t size = 0);
    void StopLogging();
    void PauseLogging();
    void ResumeLogging();
    void ClearLogging();
    void DumpLog();
    void AppendLog();

    // ---- Port users ------------------------------------------------------------------
    void AddPortUser(WindowHandler* window);
    void RemovePortUser(WindowHandler* window);
    // Returns an id for RemovePortUserCallback.
    int AddPortUserCallback(OpenCloseEvent callback);
    void RemovePortUserCallback(int id);

    // ---- Setup -----------------------------------------------------------------------
    // The dialog asked for a port when ComNumber is 0 and PromptForPort is set. Without
    // one, the request behaves as Cancel.
    void setPortPrompt(PortPrompt prompt) { portPrompt_ = std::move(prompt); }
    // The settings store whose port table maps numbers to devices. Without one, the
    // store at its default place is read at every open.
    void setRegistryStore(const platform::RegistryStore* store) { store_ = store; }
    // The line that the telephony layer hands over for opening with TapiMode tmOn: a
    // descriptor it keeps open itself (-1: none, and opening fails with
    // ENotOpenedByTapi), and whether it is a pseudo-terminal master.
    void setTapiHandle(int fd, bool isPty)
    {
        tapiFd_ = fd;
        tapiPty_ = isPty;
    }
    int TapiHandle() const { return tapiFd_; }
    // Runs fn on the UI thread (queued) once the port is fully closed: at once when it
    // is closed, else after a close that was deferred has finished.
    void WhenClosed(std::function<void()> fn);

    // Between these, an Open request is only remembered and exceptions are not raised
    // (the state of a component being loaded from saved settings).
    void BeginLoading() { loading_ = true; }
    void EndLoading();
    bool Loading() const { return loading_; }
    UiBridge& Bridge() const { return bridge_; }

protected:
    // Makes the dispatcher of an open. A test may hand in one whose device misbehaves.
    virtual std::unique_ptr<PosixDispatcher> CreateDispatcher();

private:
    class NotifyWindow;
    friend class NotifyWindow;

    void doOpen();
    void doClose();
    void finishClose();
    void closePending();
    PosixDispatcher* obtain(bool needsOpen);
    void check(int code) const;
    void checkFile(int code, const std::string& fileName) const;
    void eventsChanged();
    bool anyTriggerEvent() const;
    void applyFlow(bool force);
    void applyHWFlow();
    void applySWFlow();
    void applyTracing(TTraceLogState v, bool force);
    void applyLogging(TTraceLogState v, bool force);
    void applyLineParams();
    void tellUsers(bool opening);
    void handleMessage(uint16_t msg, uint32_t wParam, uint32_t lParam);

    UiBridge& bridge_;
    const platform::RegistryStore* store_ = nullptr;
    PortPrompt portPrompt_;

    TDeviceLayer deviceLayer_ = dlWin32;
    uint16_t comNumber_ = 0;
    std::string deviceOverride_;
    uint32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptions hwFlow_ = 0;
    TSWFlowOptions swFlow_ = swfNone;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    uint32_t traceSize_ = 10000;
    std::string traceName_ = "Qarn.TRC";
    std::string execTerm_;
    bool traceHex_ = true;
    TTraceLogState logging_ = tlOff;
    uint32_t logSize_ = 10000;
    std::string logName_ = "Qarn.LOG";
    bool logHex_ = true;
    bool useMSRShadow_ = true;
    bool useEventWord_ = true;
    uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;
    uint8_t priorityBoost_ = 0;
    uint16_t availTriggerLength_ = 1;

    TriggerEvent onTrigger_;
    TriggerAvailEvent onTriggerAvail_;
    TriggerHandleEvent onTriggerData_, onTriggerStatus_, onTriggerTimer_;
    TriggerLineErrorEvent onTriggerLineError_;
    PortEvent onTriggerModemStatus_, onTriggerOutbuffFree_, onTriggerOutbuffUsed_, onTriggerOutSent_;
    WaitCharEvent onWaitChar_;
    OpenCloseEvent onOpened_, onClosed_;

    PortState state_ = psClosed;
    bool loading_ = false;
    bool openRequested_ = false;   // while loading or closing
    bool destroying_ = false;
    std::unique_ptr<PosixDispatcher> dispatcher_;
    std::unique_ptr<NotifyWindow> window_;
    TriggerSnapshot savedTriggers_;
    struct User { WindowHandler* window = nullptr; OpenCloseEvent callback; int id = 0; };
    std::vector<User> users_;
    int tapiFd_ = -1;
    bool tapiPty_ = false;
    std::vector<std::function<void()>> whenClosed_;
    int nextUserId_ = 1;
    std::shared_ptr<bool> alive_;
};

} // namespace zelvo::comm
