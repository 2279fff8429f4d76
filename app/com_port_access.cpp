#include "app/com_port_access.h"

#include "comm/com_port.h"
#include "comm/device_identity.h"
#include "comm/port_table.h"
#include "comm/serial_device_info.h"
#include "platform/registry_store.h"
#include "protocols/com_port_line.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zelvo::app {

using namespace zelvo::comm;
using platform::RegistryStore;

ComPortAccess::ComPortAccess(ComPort& port, std::string storePath)
    : port_(port), storePath_(std::move(storePath))
{
    // Every listener reads the same new bytes; reading them here leaves them to the
    // terminal as well. Nobody listens while a transfer owns the line.
    port_.setOnTriggerAvail([this](ComPort&, uint16_t count) { deliver(count); });
    port_.setOnTriggerData([this](ComPort&, uint16_t handle) {
        if (onDataTrigger)
            onDataTrigger(handle);
    });
    port_.setOnTriggerStatus([this](ComPort&, uint16_t handle) { statusTrigger(handle); });
    userId_ = port_.AddPortUserCallback([this](ComPort&, bool opening) { portOpenClose(opening); });
}

ComPortAccess::~ComPortAccess()
{
    *alive_ = false;
    transferLine_.reset();
    port_.RemovePortUserCallback(userId_);
    port_.setOnTriggerAvail(nullptr);
    port_.setOnTriggerData(nullptr);
    port_.setOnTriggerStatus(nullptr);
}

void ComPortAccess::deliver(uint32_t count)
{
    if (!onData || count == 0)
        return;
    std::vector<uint8_t> bytes(count);
    uint32_t n = 0;
    try {
        n = port_.GetBlock(bytes.data(), count);
    } catch (const EQarnException&) {
        return;
    }
    if (n > 0 && onData)
        onData(bytes.data(), n);
}

void ComPortAccess::readWaiting()
{
    uint32_t waiting = 0;
    try {
        waiting = port_.Open() ? port_.InputUsed() : 0;
    } catch (const EQarnException&) {
        return;
    }
    deliver(waiting);
}

int ComPortAccess::beginTransmit(protocols::Protocol& protocol)
{
    if (!transferLine_)
        transferLine_ = std::make_unique<protocols::ComPortLine>(port_);
    return transferLine_->BeginTransmit(protocol);
}

int ComPortAccess::beginReceive(protocols::Protocol& protocol)
{
    if (!transferLine_)
        transferLine_ = std::make_unique<protocols::ComPortLine>(port_);
    return transferLine_->BeginReceive(protocol);
}

void ComPortAccess::flushInput()
{
    try {
        if (port_.Open())
            port_.FlushInput();
    } catch (const EQarnException&) {
        // A line that cannot be flushed is reported by the transfer itself.
    }
}

PortOptionValues ComPortAccess::settings() const
{
    PortOptionValues v;
    v.TapiMode = uint32_t(port_.TapiMode());
    v.ComNumber = port_.ComNumber();
    v.Baud = port_.Baud();
    v.Parity = int(port_.Parity());
    v.DataBits = port_.DataBits();
    v.StopBits = port_.StopBits();
    THWFlowOptions hw = port_.HWFlowOptions();
    v.hwfUseDTR = hw & hwfBit(hwfUseDTR);
    v.hwfUseRTS = hw & hwfBit(hwfUseRTS);
    v.hwfRequireDSR = hw & hwfBit(hwfRequireDSR);
    v.hwfRequireCTS = hw & hwfBit(hwfRequireCTS);
    v.SWFlowOptions = int(port_.SWFlowOptions());
    v.XOnChar = static_cast<unsigned char>(port_.XOnChar());
    v.XOffChar = static_cast<unsigned char>(port_.XOffChar());
    v.Device = device_;
    v.Reconnect = reconnect_;
    return v;
}

void ComPortAccess::setSettings(const PortOptionValues& v)
{
    // Each setting on its own: a value the open line refuses (a rate the driver lacks)
    // must not keep the others from being taken.
    auto apply = [](auto&& f) {
        try {
            f();
        } catch (const EQarnException& e) {
            std::fprintf(stderr, "zelvo32: %s\n", e.what());
        }
    };
    device_ = v.Device;
    reconnect_ = v.Reconnect;
    apply([&] { port_.setTapiMode(v.TapiMode <= 3 ? TTapiMode(v.TapiMode) : tmAuto); });
    if (v.ComNumber >= 0 && v.ComNumber <= MaxComNumber && v.ComNumber != port_.ComNumber())
        apply([&] { port_.setComNumber(uint16_t(v.ComNumber)); });
    apply([&] { port_.setBaud(v.Baud); });
    apply([&] { port_.setParity(TParity(v.Parity)); });
    apply([&] { port_.setDataBits(uint16_t(v.DataBits)); });
    apply([&] { port_.setStopBits(uint16_t(v.StopBits)); });
    THWFlowOptions hw = 0;
    if (v.hwfUseDTR)
        hw |= hwfBit(hwfUseDTR);
    if (v.hwfUseRTS)
        hw |= hwfBit(hwfUseRTS);
    if (v.hwfRequireDSR)
        hw |= hwfBit(hwfRequireDSR);
    if (v.hwfRequireCTS)
        hw |= hwfBit(hwfRequireCTS);
    apply([&] { port_.setHWFlowOptions(hw); });
    apply([&] { port_.setSWFlowOptions(TSWFlowOptions(v.SWFlowOptions)); });
    apply([&] { port_.setXOnChar(char(v.XOnChar)); });
    apply([&] { port_.setXOffChar(char(v.XOffChar)); });
}

std::string ComPortAccess::deviceOf(int comNumber) const
{
    RegistryStore store(storePath_);
    store.load();
    return PortDevice(store, comNumber);
}

bool ComPortAccess::isOpen() const
{
    return port_.Open();
}

uint32_t ComPortAccess::baudInUse() const
{
    const PosixDispatcher* d = port_.Open() ? port_.Dispatcher() : nullptr;
    const uint32_t inUse = d ? d->BaudInUse() : 0;
    return inUse != 0 ? inUse : port_.Baud();
}

void ComPortAccess::setExecTerminalType(const std::string& term)
{
    port_.setExecTerminalType(term);
}

std::optional<LineOpenError> ComPortAccess::open()
{
    try {
        port_.setOpen(true);
        lostPending_ = false;
        return std::nullopt;
    } catch (const EAlreadyOpen& e) {
        return LineOpenError{true, e.what()};
    } catch (const EBadId& e) {
        return LineOpenError{true, e.what()};
    } catch (const EInOutError& e) {
        return LineOpenError{true, e.what()};
    } catch (const ENoPortSelected& e) {
        return LineOpenError{true, e.what()};
    } catch (const EQarnException& e) {
        if (e.ErrorCode() == ecBaudRate)
            return LineOpenError{false, "The port cannot be set to " + std::to_string(port_.Baud()) +
                                            " baud (" + e.what() + ").\nChoose another baud rate."};
        return LineOpenError{false, e.what()};
    }
}

std::optional<LineOpenError> ComPortAccess::openAt(const std::string& path)
{
    port_.setDeviceOverride(path);
    return open();
}

void ComPortAccess::close()
{
    try {
        port_.setOpen(false);
    } catch (const EQarnException& e) {
        std::fprintf(stderr, "zelvo32: %s\n", e.what());
    }
}

void ComPortAccess::putBlock(const uint8_t* data, size_t length)
{
    try {
        while (length > 0) {
            uint32_t n = uint32_t(std::min<size_t>(length, 1024));
            port_.PutBlock(data, n);
            data += n;
            length -= n;
        }
    } catch (const EQarnException& e) {
        std::fprintf(stderr, "zelvo32: sending failed: %s\n", e.what());
    }
}

size_t ComPortAccess::putSome(const uint8_t* data, size_t length)
{
    try {
        if (!port_.Open())
            return 0;
        const size_t n = std::min<size_t>(length, port_.OutputFree());
        if (n > 0)
            port_.PutBlock(data, uint32_t(n));
        return n;
    } catch (const EQarnException& e) {
        std::fprintf(stderr, "zelvo32: sending failed: %s\n", e.what());
        return 0;
    }
}

bool ComPortAccess::watchOutputRoom(size_t bytes)
{
    // An output-buffer-free status trigger; its handle is kept for the port's life, as
    // triggers come back with a reopen.
    const auto value = uint16_t(std::min<size_t>(std::max<size_t>(bytes, 1), 0xFFFF));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!port_.Open())
                return false;
            if (roomTrigger_ == 0)
                roomTrigger_ = port_.NewStatusTrigger(stOutBuffFree);
            port_.ArmStatusTrigger(roomTrigger_, value, true);
            return true;
        } catch (const EQarnException&) {
            // A handle from before a close that did not come back: make a new one.
            roomTrigger_ = 0;
        }
    }
    return false;
}

uint16_t ComPortAccess::addDataTrigger(std::string_view pattern)
{
    try {
        return port_.NewDataTrigger(pattern, false);
    } catch (const EQarnException&) {
        return 0;
    }
}

void ComPortAccess::dropTrigger(uint16_t handle)
{
    try {
        port_.DropTrigger(handle);
    } catch (const EQarnException&) {
    }
}

void ComPortAccess::portOpenClose(bool opening)
{
    if (!opening)
        return;
    // Taken now: once the device is gone its by-id link is gone too.
    identity_ = IdentifyDevice(port_.DeviceName());
    watchHangup();
    if (onLineOpened)
        onLineOpened();
}

void ComPortAccess::watchHangup()
{
    // A modem-status trigger on DCD tells of a far end that hung up; the triggers of
    // the last close come back with the reopen, so an old handle is armed again.
    try {
        if (hangupTrigger_ != 0) {
            port_.ArmStatusTrigger(hangupTrigger_, msDCD, true);
            checkHangupLater();
            return;
        }
    } catch (const EQarnException&) {
    }
    try {
        hangupTrigger_ = port_.NewStatusTrigger(stModem);
        port_.ArmStatusTrigger(hangupTrigger_, msDCD, true);
    } catch (const EQarnException&) {
        hangupTrigger_ = 0;
    }
    checkHangupLater();
}

void ComPortAccess::checkHangupLater()
{
    // A far end that hung up before the trigger was armed causes no change to fire on;
    // it is looked at once the open has finished.
    std::weak_ptr<bool> alive = alive_;
    port_.Bridge().post([this, alive] {
        if (!alive.expired() && hangupTrigger_ != 0)
            statusTrigger(hangupTrigger_);
    });
}

void ComPortAccess::statusTrigger(uint16_t handle)
{
    if (handle != 0 && handle == roomTrigger_) {
        if (onOutputRoom)
            onOutputRoom();
        return;
    }
    if (handle != hangupTrigger_ || !port_.Open())
        return;
    PosixDispatcher* d = port_.Dispatcher();
    // On a modem's line the telephony device takes a far end that hangs up as the
    // end of the call.
    if (!d || !d->LineHungUp() || port_.TapiMode() == tmOn) {
        // A carrier change of a line that is still there.
        try {
            port_.ArmStatusTrigger(hangupTrigger_, msDCD, true);
        } catch (const EQarnException&) {
        }
        return;
    }
    if (lostPending_)
        return;
    lostPending_ = true;
    // Closing from inside a trigger event is deferred by the port; the report follows
    // once this event has returned.
    close();
    std::weak_ptr<bool> alive = alive_;
    port_.Bridge().post([this, alive] {
        if (alive.expired())
            return;
        if (onLineLost)
            onLineLost("the device stopped answering (unplugged, or the command ended)");
    });
}

std::vector<LineEntry> PortTableDirectory::presentLines()
{
    RegistryStore store(storePath_);
    store.load();
    std::vector<LineEntry> out;
    for (int n : AvailablePorts(store)) {
        LineEntry e(n, PortDevice(store, n));
        if (!IsExecDevice(e.device)) {
            const SerialDeviceInfo info = DescribeSerialDevice(e.device);
            e.description = info.Summary();
            e.byIdPath = info.byIdPath;
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::string PortTableDirectory::deviceOf(int comNumber)
{
    RegistryStore store(storePath_);
    store.load();
    return PortDevice(store, comNumber);
}

bool PortTableDirectory::mapDevice(int comNumber, const std::string& device, std::string& error)
{
    if (comNumber < 1 || comNumber > MaxComNumber) {
        error = "port numbers run from 1 to " + std::to_string(MaxComNumber);
        return false;
    }
    RegistryStore store(storePath_);
    store.load();
    SetPortDevice(store, comNumber, device);
    if (!store.save()) {
        error = "the settings file " + storePath_ + " cannot be written";
        return false;
    }
    return true;
}

std::vector<telephony::ModemConfig> PortTableDirectory::modems()
{
    RegistryStore store(storePath_);
    store.load();
    return telephony::ReadModems(store);
}

bool PortTableDirectory::saveModem(const telephony::ModemConfig& modem,
                                   const std::string& oldName, std::string& error)
{
    RegistryStore store(storePath_);
    store.load();
    const bool rename = !oldName.empty() && !telephony::SameModemName(oldName, modem.name);
    if ((oldName.empty() || rename) && telephony::FindModem(store, modem.name)) {
        error = "a modem named \"" + modem.name + "\" exists already";
        return false;
    }
    if (rename)
        telephony::RemoveModem(store, oldName);
    if (!telephony::WriteModem(store, modem, error))
        return false;
    if (!store.save()) {
        error = "the settings file " + storePath_ + " cannot be written";
        return false;
    }
    return true;
}

bool PortTableDirectory::removeModem(const std::string& name, std::string& error)
{
    RegistryStore store(storePath_);
    store.load();
    telephony::RemoveModem(store, name);
    if (!store.save()) {
        error = "the settings file " + storePath_ + " cannot be written";
        return false;
    }
    return true;
}

} // namespace zelvo::app
