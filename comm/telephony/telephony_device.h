#pragma once
// What the main window uses of its telephony device: the modem line it selects, the
// calls it places and ends, pass-through use of the modem, and the events by which
// the device reports progress. The program's device is ModemDevice; tests use fakes.
//
// Every operation and every event runs on the UI thread. Events are raised after the
// operation that caused them has returned (they are queued), never inside it.

#include "comm/telephony/call_status.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::telephony {

class TelephonyDevice {
public:
    virtual ~TelephonyDevice() = default;

    // The names of the lines the device offers (the configured modems).
    virtual std::vector<std::string> DeviceList() const = 0;
    virtual std::string SelectedDevice() const = 0;
    virtual void setSelectedDevice(const std::string& name) = 0;

    // Call attempts in all (default 3) and seconds between them (default 60).
    virtual uint16_t MaxAttempts() const = 0;
    virtual void setMaxAttempts(uint16_t n) = 0;
    virtual uint16_t RetryWait() const = 0;
    virtual void setRetryWait(uint16_t seconds) = 0;
    // The rate the modem reported with CONNECT; 0 when it gave none.
    virtual uint32_t ConnectRate() const = 0;

    // Dials number on the selected line, with the attempts and the retry wait. Ends in
    // OnTapiPortOpen and OnTapiConnect, or in OnTapiFail.
    virtual void PlaceCall(const std::string& number) = 0;
    // Ends any call or line use. True when nothing was in use; otherwise false, and
    // OnTapiPortClose follows once the line is released.
    virtual bool EndCall() = 0;
    // Opens the selected line so that the terminal talks to the modem itself; ends in
    // OnTapiPortOpen, or OnTapiError when the line cannot be opened.
    virtual void OpenPassThrough() = 0;
    // Shows the configuration of the selected line.
    virtual void ShowLineConfig() = 0;

    std::function<void(const CallStatus&)> OnTapiStatus;
    std::function<void()> OnTapiPortOpen;
    std::function<void()> OnTapiPortClose;
    std::function<void()> OnTapiConnect;
    std::function<void()> OnTapiFail;
    // The selected line could not be opened for pass-through; the text says why.
    std::function<void(const std::string& text)> OnTapiError;
};

} // namespace zelvo::telephony
