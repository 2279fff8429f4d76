#pragma once
// ModemDevice: the telephony device of this platform, a Hayes-command modem driver of
// its own over a serial line (or a command that behaves as a modem on a
// pseudo-terminal). Modems are configured in the settings store (modem_config.h); the
// selected one is opened when it is needed and released when its use ends.
//
//   Idle --OpenPassThrough--> PassThrough: the port runs on the modem's line (TapiMode
//        tmOn) and the terminal talks to the modem directly.
//   Idle --PlaceCall--> Dialling: a runner thread initialises the modem and dials, with
//        the attempts and the retry wait; on CONNECT the line goes to the port
//        (Online: OnTapiPortOpen, OnTapiConnect); when all attempts fail, OnTapiFail.
//   PassThrough / Dialling / Online --EndCall--> Ending: the port lets go of the line,
//        a dial is aborted or a call is hung up, the line is released, then
//        OnTapiPortClose.
//   Online: "NO CARRIER" from the modem, carrier detect dropping or the line going
//        away ends the call the same way (reported as the far end hanging up).
//
// The port is closed by this device whenever it gives up the line; if somebody else
// closes the port meanwhile, the device ends the line's use as EndCall would.

#include "comm/telephony/dial_runner.h"
#include "comm/telephony/modem_config.h"
#include "comm/telephony/modem_line.h"
#include "comm/telephony/telephony_device.h"
#include "comm/trigger_handler.h"

#include <memory>
#include <optional>
#include <string>

namespace zelvo::comm {
class ComPort;
}

namespace zelvo::telephony {

class ModemDevice : public TelephonyDevice, private comm::WindowHandler {
public:
    enum class State { Idle, PassThrough, Dialling, Online, Ending };

    // storePath: the settings store with the modems and the port table.
    ModemDevice(comm::ComPort& port, std::string storePath);
    ~ModemDevice() override;
    ModemDevice(const ModemDevice&) = delete;
    ModemDevice& operator=(const ModemDevice&) = delete;

    std::vector<std::string> DeviceList() const override;
    std::string SelectedDevice() const override { return selected_; }
    void setSelectedDevice(const std::string& name) override { selected_ = name; }
    uint16_t MaxAttempts() const override { return attempts_; }
    void setMaxAttempts(uint16_t n) override;
    uint16_t RetryWait() const override { return retryWait_; }
    void setRetryWait(uint16_t seconds) override { retryWait_ = seconds; }
    uint32_t ConnectRate() const override { return rate_; }

    void PlaceCall(const std::string& number) override;
    bool EndCall() override;
    void OpenPassThrough() override;
    void ShowLineConfig() override;

    // What ShowLineConfig shows: an editor of the named modem's settings.
    void setLineConfigEditor(std::function<void(const std::string& modem)> editor)
    {
        lineConfig_ = std::move(editor);
    }
    State state() const { return state_; }

private:
    using Outcome = HayesDialer::Outcome;

    void windowMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) override;

    std::optional<ModemConfig> selectedModem(std::string& error, std::string& device) const;
    bool handOver(std::string& error);
    void closePortThen(std::function<void()> then);
    void afterPortClosed(std::function<void()> then);
    void release();
    void startWatch();
    void stopWatch();
    void checkCarrier();
    void endSoon();
    void carrierLost();
    void portUser(bool opening);
    void runnerDone(Outcome outcome, uint32_t rate);
    void endDone(bool failed);
    void emitStatus(uint32_t message, uint32_t state, uint32_t reason);
    void emitLast();
    void failLater(uint32_t state);
    void post(std::function<void()> fn);

    comm::ComPort& port_;
    std::string storePath_;
    std::string selected_;
    uint16_t attempts_ = 3;
    uint16_t retryWait_ = 60;
    uint32_t rate_ = 0;
    State state_ = State::Idle;
    ModemConfig modem_; // the modem whose line is in use
    ModemLine line_;
    std::unique_ptr<DialRunner> runner_;
    bool sequenceOpen_ = false; // a progress sequence has begun and not ended
    bool closingPort_ = false;  // this device is closing the port
    bool failAfterEnd_ = false; // the call connected but the port could not take it
    bool watching_ = false;
    bool watchOnOpen_ = false;  // the port being opened carries a call
    uint16_t carrierTrigger_ = 0;
    uint16_t dcdTrigger_ = 0;
    uint16_t endTimer_ = 0;
    int userId_ = 0;
    std::function<void(const std::string&)> lineConfig_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace zelvo::telephony
