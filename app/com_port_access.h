#pragma once
// The main window's view of the port component: settings in the dialog's terms, open
// failures as messages, received bytes as plain byte runs, and a lost line (a USB
// adapter pulled out, a local shell that ended) as one event after the port has closed.

#include "app/line_directory.h"
#include "app/port_access.h"
#include "app/transfer_line.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelvo::comm {
class ComPort;
}
namespace zelvo::protocols {
class ComPortLine;
}

namespace zelvo::app {

class ComPortAccess : public PortAccess, public TransferLine {
public:
    // storePath: the settings store with the port table.
    ComPortAccess(comm::ComPort& port, std::string storePath);
    ~ComPortAccess() override;

    PortOptionValues settings() const override;
    void setSettings(const PortOptionValues& v) override;
    std::string deviceOf(int comNumber) const override;
    bool isOpen() const override;
    uint32_t baudInUse() const override;
    std::optional<LineOpenError> open() override;
    std::optional<LineOpenError> openAt(const std::string& path) override;
    comm::DeviceIdentity lineIdentity() const override { return identity_; }
    void setExecTerminalType(const std::string& term) override;
    void close() override;
    void putBlock(const uint8_t* data, size_t length) override;
    size_t putSome(const uint8_t* data, size_t length) override;
    bool watchOutputRoom(size_t bytes) override;
    uint16_t addDataTrigger(std::string_view pattern) override;
    void dropTrigger(uint16_t handle) override;
    void readWaiting() override;

    // TransferLine: transfers run on the port through the protocol component's driver.
    int beginTransmit(protocols::Protocol& protocol) override;
    int beginReceive(protocols::Protocol& protocol) override;
    void flushInput() override;

private:
    void deliver(uint32_t count);
    void portOpenClose(bool opening);
    void statusTrigger(uint16_t handle);
    // Arms (or re-arms) the trigger that tells of a far end hanging up.
    void watchHangup();
    void checkHangupLater();

    comm::ComPort& port_;
    std::string storePath_;
    std::string device_;
    bool reconnect_ = true;
    comm::DeviceIdentity identity_;
    uint16_t hangupTrigger_ = 0;
    uint16_t roomTrigger_ = 0;
    int userId_ = 0;
    bool lostPending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<protocols::ComPortLine> transferLine_;
};

// The port table in the settings store: which numbers exist and what they open.
class PortTableDirectory : public LineDirectory {
public:
    explicit PortTableDirectory(std::string storePath) : storePath_(std::move(storePath)) {}
    std::vector<LineEntry> presentLines() override;
    std::string deviceOf(int comNumber) override;
    bool mapDevice(int comNumber, const std::string& device, std::string& error) override;
    std::vector<telephony::ModemConfig> modems() override;
    bool saveModem(const telephony::ModemConfig& modem, const std::string& oldName,
                   std::string& error) override;
    bool removeModem(const std::string& name, std::string& error) override;

private:
    std::string storePath_;
};

} // namespace zelvo::app
