#include "comm/ui/sl_controller.h"

#include "comm/ui/status_light.h"

namespace zelvo::comm {

SLController::SLController() = default;

SLController::~SLController() { setComPort(nullptr); }

void SLController::light(StatusLight* l, bool on)
{
    if (l) l->setLit(on);
}

bool SLController::isLit(StatusLight* l) { return l && l->Lit(); }

void SLController::setComPort(ComPort* port)
{
    if (port == port_) return;
    if (port_) {
        stopMonitoring();
        restoreHandlers();
        port_->RemovePortUserCallback(userId_);
        userId_ = 0;
    }
    port_ = port;
    if (!port_) return;
    userId_ = port_->AddPortUserCallback([this](ComPort&, bool opening) { portOpenClose(opening); });
    if (wanted_ && port_->State() == ComPort::psOpen) startMonitoring();
}

void SLController::setLights(const LightSet& lights)
{
    const bool was = monitoring_;
    if (was) stopMonitoring();
    lights_ = lights;
    if (was) startMonitoring();
}

void SLController::setMonitoring(bool on)
{
    wanted_ = on;
    if (on) {
        if (port_ && port_->State() == ComPort::psOpen) startMonitoring();
    } else {
        stopMonitoring();
        restoreHandlers();
    }
}

void SLController::portOpenClose(bool opening)
{
    if (opening) {
        if (wanted_) startMonitoring();
    } else {
        // The wish to monitor outlives the close; the triggers do not.
        stopMonitoring();
    }
}

uint8_t SLController::modemMask() const
{
    uint8_t m = 0;
    if (lights_.CTSLight) m |= msCTS;
    if (lights_.DSRLight) m |= msDSR;
    if (lights_.DCDLight) m |= msDCD;
    if (lights_.RINGLight) m |= msRingDelta;
    return m;
}

void SLController::installHandlers()
{
    if (installed_ || !port_) return;
    savedAvail_ = port_->OnTriggerAvail();
    savedStatus_ = port_->OnTriggerStatus();
    savedTimer_ = port_->OnTriggerTimer();
    installed_ = true;
    port_->setOnTriggerAvail([this](ComPort& p, uint16_t count) { onAvail(p, count); });
    port_->setOnTriggerStatus([this](ComPort& p, uint16_t handle) { onStatus(p, handle); });
    port_->setOnTriggerTimer([this](ComPort& p, uint16_t handle) { onTimer(p, handle); });
}

void SLController::restoreHandlers()
{
    if (!installed_ || !port_) return;
    installed_ = false;
    port_->setOnTriggerAvail(std::move(savedAvail_));
    port_->setOnTriggerStatus(std::move(savedStatus_));
    port_->setOnTriggerTimer(std::move(savedTimer_));
    savedAvail_ = nullptr;
    savedStatus_ = nullptr;
    savedTimer_ = nullptr;
}

void SLController::startMonitoring()
{
    if (monitoring_ || !port_ || port_->State() != ComPort::psOpen) return;
    installHandlers();
    ComPort& p = *port_;
    if (modemMask() != 0) {
        h_.modem = p.NewStatusTrigger(stModem);
        if (lights_.RINGLight) h_.ringTimer = p.NewTimerTrigger();
    }
    if (lights_.ERRORLight) {
        h_.error = p.NewStatusTrigger(stLine);
        h_.errorTimer = p.NewTimerTrigger();
    }
    if (lights_.BREAKLight) {
        h_.brk = p.NewStatusTrigger(stLine);
        h_.breakTimer = p.NewTimerTrigger();
    }
    if (lights_.RXDLight) h_.rxTimer = p.NewTimerTrigger();
    if (lights_.TXDLight) {
        h_.outSent = p.NewStatusTrigger(stOutSent);
        h_.txTimer = p.NewTimerTrigger();
    }
    monitoring_ = true;

    for (StatusLight* l : {lights_.CTSLight, lights_.DSRLight, lights_.DCDLight, lights_.RINGLight,
                           lights_.TXDLight, lights_.RXDLight, lights_.ERRORLight, lights_.BREAKLight})
        light(l, false);
    if (lights_.CTSLight) light(lights_.CTSLight, p.CTS());
    if (lights_.DSRLight) light(lights_.DSRLight, p.DSR());
    if (lights_.DCDLight) light(lights_.DCDLight, p.DCD());

    if (h_.modem) p.ArmStatusTrigger(h_.modem, modemMask(), true);
    if (h_.error) p.ArmStatusTrigger(h_.error, lsOverrun | lsParity | lsFraming, true);
    if (h_.brk) p.ArmStatusTrigger(h_.brk, lsBreak, true);
    if (h_.outSent) p.ArmStatusTrigger(h_.outSent, 0, true);
}

void SLController::stopMonitoring()
{
    if (!monitoring_) return;
    monitoring_ = false;
    if (port_ && port_->Dispatcher()) {
        for (uint16_t h : {h_.modem, h_.ringTimer, h_.error, h_.errorTimer, h_.brk, h_.breakTimer,
                           h_.rxTimer, h_.outSent, h_.txTimer}) {
            // Drop straight on the dispatcher: a trigger already gone needs no exception.
            if (h) port_->Dispatcher()->DropTrigger(h);
        }
    }
    h_ = Handles{};
    // A closed line has no states to show: lights left on would claim a carrier or data.
    for (StatusLight* l : {lights_.CTSLight, lights_.DSRLight, lights_.DCDLight, lights_.RINGLight,
                           lights_.TXDLight, lights_.RXDLight, lights_.ERRORLight, lights_.BREAKLight})
        light(l, false);
}

void SLController::onAvail(ComPort& p, uint16_t count)
{
    if (monitoring_ && h_.rxTimer) {
        light(lights_.RXDLight, true);
        p.ArmTimerTrigger(h_.rxTimer, int32_t(rxdOff_), true);
    }
    if (savedAvail_) savedAvail_(p, count);
}

void SLController::onStatus(ComPort& p, uint16_t handle)
{
    if (monitoring_ && handle != 0) {
        if (handle == h_.modem) {
            light(lights_.CTSLight, p.CTS());
            light(lights_.DSRLight, p.DSR());
            light(lights_.DCDLight, p.DCD());
            if (lights_.RINGLight && p.Dispatcher()) {
                const uint8_t ms = p.Dispatcher()->ReadModemStatus(uint8_t(~msRingDelta));
                if ((ms & (msRing | msRingDelta)) && !isLit(lights_.RINGLight)) {
                    light(lights_.RINGLight, true);
                    if (h_.ringTimer) p.ArmTimerTrigger(h_.ringTimer, int32_t(ringOff_), true);
                }
            }
            p.ArmStatusTrigger(h_.modem, modemMask(), true);
        } else if (handle == h_.error) {
            light(lights_.ERRORLight, true);
            p.ArmTimerTrigger(h_.errorTimer, int32_t(errorOff_), true);
            p.LineError();
        } else if (handle == h_.brk) {
            light(lights_.BREAKLight, true);
            p.ArmTimerTrigger(h_.breakTimer, int32_t(breakOff_), true);
            p.LineBreak();
        } else if (handle == h_.outSent) {
            light(lights_.TXDLight, true);
            p.ArmTimerTrigger(h_.txTimer, int32_t(txdOff_), true);
        }
    }
    if (savedStatus_) savedStatus_(p, handle);
}

void SLController::onTimer(ComPort& p, uint16_t handle)
{
    if (monitoring_ && handle != 0) {
        if (handle == h_.errorTimer) {
            light(lights_.ERRORLight, false);
            p.ArmStatusTrigger(h_.error, lsOverrun | lsParity | lsFraming, true);
        } else if (handle == h_.breakTimer) {
            light(lights_.BREAKLight, false);
            p.ArmStatusTrigger(h_.brk, lsBreak, true);
        } else if (handle == h_.rxTimer) {
            if (p.InputUsed() > 0) p.ArmTimerTrigger(h_.rxTimer, int32_t(rxdOff_), true);
            else light(lights_.RXDLight, false);
        } else if (handle == h_.txTimer) {
            if (p.OutputUsed() > 0) {
                p.ArmTimerTrigger(h_.txTimer, int32_t(txdOff_), true);
            } else {
                light(lights_.TXDLight, false);
                p.ArmStatusTrigger(h_.outSent, 0, true);
            }
        } else if (handle == h_.ringTimer) {
            light(lights_.RINGLight, false);
        }
    }
    if (savedTimer_) savedTimer_(p, handle);
}

} // namespace zelvo::comm
