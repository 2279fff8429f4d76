#pragma once
// The lines the port dialogs offer: the port numbers whose device exists, with their
// devices, and the mapping of a number to another device ("exec:/bin/bash -l").

#include <string>
#include <vector>

namespace zelvo::app {

struct LineEntry {
    int comNumber = 0;
    std::string device;
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
};

} // namespace zelvo::app
