#pragma once
// The path from the terminal to the line: emulator replies (device attributes, cursor
// position reports) go out here at once, bypassing the keyboard. The terminal window
// connects it to the open port's dispatcher.

namespace zelvo::terminal {

class LineOutput {
public:
    virtual ~LineOutput() = default;
    // Queues len bytes for the line; returns the count queued or a negative result code.
    virtual int PutBlock(const char* data, int len) = 0;
};

} // namespace zelvo::terminal
