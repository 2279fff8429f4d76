#pragma once
// What the screen buffer tells the window that shows it. The terminal window implements
// this; the buffer never paints and never waits for the window.

#include <string>

namespace zelvo::terminal {

// A block of cells in buffer coordinates: rows and columns, both ends inclusive.
struct CellRect {
    int top = 0;
    int left = 0;
    int bottom = -1;
    int right = -1;

    bool empty() const { return bottom < top || right < left; }
};

class BufferClient {
public:
    virtual ~BufferClient() = default;

    // The cells of r (buffer rows) changed and must be repainted.
    virtual void invalidateRect(const CellRect& r) = 0;
    // The page moved through the buffer, the buffer's rows moved, the displayed part or the
    // scroll range changed: repaint everything shown and update the scroll bars.
    virtual void viewChanged() = 0;
    // The cursor moved (message 0x7E50). row and column are the cursor's 1-based page row
    // and column, both 0 while the window shows the scrollback; viewRow and viewCol are the
    // page's first buffer row + 1 and the first displayed column + 1.
    virtual void terminalStatus(int row, int column, int viewRow, int viewCol) = 0;
    // Writing the capture file failed (message 0x7E52); capture is already off. code is a
    // negative result code: -101 when the disk is full, else the negated errno.
    virtual void captureError(int code) = 0;
    // The remote side sent a cursor position report (message 0x7E53).
    virtual void cursorPosReport(int column, int row) = 0;

    // The remote side rang the bell (xterm emulation).
    virtual void bell() {}
    // The remote side set its title (xterm emulation); UTF-8, without control characters.
    virtual void titleChanged(const std::string& /*title*/) {}
    // The buffer went into or out of Unicode mode, where the page follows the window.
    virtual void cellModeChanged() {}
};

} // namespace zelvo::terminal
