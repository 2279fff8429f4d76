#pragma once
// The lines the port dialogs offer: the port numbers whose device exists, with their
// devices and what identifies them, the mapping of a number to another device
// ("exec:/bin/bash -l"), and the modems of the telephony device.

#include "comm/telephony/modem_config.h"

#include <string>
#include <vector>

namespace zelvo::app {

struct LineEntry {
    LineEntry() = default;
    LineEntry(int number, std::string dev, std::string desc = {}, std::string byId = {})
        : comNumber(number), device(std::move(dev)), description(std::move(desc)), byIdPath(std::move(byId))
    {
    }

    int comNumber = 0;
    std::string device;
    // What identifies the device ("FTDI FT232R USB UART, serial A50285BI (0403:6001,
    // ftdi_sio)") and its /dev/serial/by-id link; empty when unknown.
    std::string description;
    std::string byIdPath;
};

class LineDirectory {
public:
    virtual ~LineDirectory() = default;
    // Numbers 1..50 whose device exists (also when another program holds it), in order.
    virtual std::vector<LineEntry> presentLines() = 0;
    virtual std::string deviceOf(int comNumber) = 0;
    // Maps a number to a device and saves the mapping; an empty device restores the
    // default. False with a message when the mapping could not be saved.
    virtual bool mapDevice(int comNumber, const std::string& device, std::string& error) = 0;
    // Where devices appear and disappear; the list is built again when these change.
    virtual std::vector<std::string> watchedDirectories() { return {"/dev", "/dev/serial/by-id"}; }

    // The configured modems, in order; none where there is no telephony device.
    virtual std::vector<telephony::ModemConfig> modems() { return {}; }
    // Stores a modem; oldName is the name it had (empty for a new one), so that a
    // rename replaces the old entry. False with a message when it cannot be stored.
    virtual bool saveModem(const telephony::ModemConfig& modem, const std::string& oldName,
                           std::string& error)
    {
        (void)modem;
        (void)oldName;
        error = "modems cannot be configured here";
        return false;
    }
    virtual bool removeModem(const std::string& name, std::string& error)
    {
        (void)name;
        error = "modems cannot be configured here";
        return false;
    }
};

} // namespace zelvo::app
