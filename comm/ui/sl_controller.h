#pragma once
// SLController watches a port through status and timer triggers and switches the
// status lights: CTS, DSR, DCD and ring follow the modem lines, RxD and TxD light with
// traffic, the error and break lights with line errors and breaks, each going out after
// its hold time. It chains to the port's own OnTriggerAvail, OnTriggerStatus and
// OnTriggerTimer handlers, which keep running as before.

#include "comm/com_port.h"

#include <cstdint>

namespace zelvo::comm {

class StatusLight;

// Which light shows what; any of them may be absent.
struct LightSet {
    StatusLight* CTSLight = nullptr;
    StatusLight* DSRLight = nullptr;
    StatusLight* DCDLight = nullptr;
    StatusLight* RINGLight = nullptr;
    StatusLight* TXDLight = nullptr;
    StatusLight* RXDLight = nullptr;
    StatusLight* ERRORLight = nullptr;
    StatusLight* BREAKLight = nullptr;
};

class SLController {
public:
    SLController();
    ~SLController();
    SLController(const SLController&) = delete;
    SLController& operator=(const SLController&) = delete;

    // The port watched. Monitoring starts at once when it is open, else when it opens.
    ComPort* GetComPort() const { return port_; }
    void setComPort(ComPort* port);

    // Hold times in ticks of 55 ms.
    uint32_t ErrorOffTimeout() const { return errorOff_; }
    void setErrorOffTimeout(uint32_t t) { errorOff_ = t; }
    uint32_t BreakOffTimeout() const { return breakOff_; }
    void setBreakOffTimeout(uint32_t t) { breakOff_ = t; }
    uint32_t RXDOffTimeout() const { return rxdOff_; }
    void setRXDOffTimeout(uint32_t t) { rxdOff_ = t; }
    uint32_t TXDOffTimeout() const { return txdOff_; }
    void setTXDOffTimeout(uint32_t t) { txdOff_ = t; }
    uint32_t RingOffTimeout() const { return ringOff_; }
    void setRingOffTimeout(uint32_t t) { ringOff_ = t; }

    const LightSet& Lights() const { return lights_; }
    // Assigning lights while monitoring re-creates the triggers for the new set.
    void setLights(const LightSet& lights);

    // Monitoring on: the triggers are in place (the port is open).
    bool Monitoring() const { return monitoring_; }
    // Switches monitoring on or off; off also gives the port its handlers back.
    void setMonitoring(bool on);

    // Handles of the triggers in use (0 when not created), for inspection.
    struct Handles {
        uint16_t modem = 0, ringTimer = 0, error = 0, errorTimer = 0, brk = 0, breakTimer = 0;
        uint16_t rxTimer = 0, outSent = 0, txTimer = 0;
    };
    const Handles& TriggerHandles() const { return h_; }

private:
    void startMonitoring();
    void stopMonitoring();
    void installHandlers();
    void restoreHandlers();
    void portOpenClose(bool opening);
    void onAvail(ComPort& p, uint16_t count);
    void onStatus(ComPort& p, uint16_t handle);
    void onTimer(ComPort& p, uint16_t handle);
    uint8_t modemMask() const;
    static void light(StatusLight* l, bool on);
    static bool isLit(StatusLight* l);

    ComPort* port_ = nullptr;
    int userId_ = 0;
    LightSet lights_;
    uint32_t errorOff_ = 36, breakOff_ = 36, rxdOff_ = 1, txdOff_ = 1, ringOff_ = 8;

    bool wanted_ = true;     // monitor whenever the port is open
    bool monitoring_ = false;
    bool installed_ = false; // our handlers are the port's
    Handles h_;
    ComPort::TriggerAvailEvent savedAvail_;
    ComPort::TriggerHandleEvent savedStatus_, savedTimer_;
};

} // namespace zelvo::comm
