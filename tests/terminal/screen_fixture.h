#pragma once
// A small terminal for tests: a buffer, an emulation, and recorders for what the buffer
// tells its window and what the emulation sends to the line.

#include "terminal/buffer.h"
#include "terminal/buffer_client.h"
#include "terminal/emulator.h"
#include "terminal/line_output.h"

#include <string>
#include <vector>

namespace zelvo::terminal::test {

class RecordingClient : public BufferClient {
public:
    void invalidateRect(const CellRect& r) override { rects.push_back(r); }
    void viewChanged() override { ++viewChanges; }
    void terminalStatus(int row, int column, int viewRow, int viewCol) override
    {
        status.push_back({row, column, viewRow, viewCol});
    }
    void captureError(int code) override { captureErrors.push_back(code); }
    void cursorPosReport(int column, int row) override { reports.push_back({column, row}); }

    struct Status {
        int row, column, viewRow, viewCol;
    };
    std::vector<CellRect> rects;
    int viewChanges = 0;
    std::vector<Status> status;
    std::vector<int> captureErrors;
    std::vector<std::pair<int, int>> reports;
};

class RecordingOutput : public LineOutput {
public:
    int PutBlock(const char* data, int len) override
    {
        sent.append(data, static_cast<std::size_t>(len));
        return len;
    }
    std::string sent;
};

class Screen {
public:
    explicit Screen(EmulatorType type = etANSI, int cols = 20, int pageRows = 5, int rows = 12)
        : emulator(type)
    {
        buffer.bNewBuffer(rows, cols, pageRows);
        buffer.setClient(&client);
        buffer.setLineOutput(&output);
        emulator.setBuffer(&buffer);
    }

    Screen& feed(const std::string& bytes)
    {
        buffer.processBlock(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return *this;
    }
    // The same bytes one at a time, as the window reads them from the port.
    Screen& feedBytewise(const std::string& bytes)
    {
        for (unsigned char ch : bytes)
            buffer.bProcessChar(ch);
        return *this;
    }

    // Text of the page rows, trailing spaces removed.
    std::vector<std::string> page() const
    {
        std::vector<std::string> rows;
        for (int r = 0; r < buffer.PageHeight(); ++r)
            rows.push_back(buffer.rowText(buffer.ViewRow() + r));
        return rows;
    }
    std::string line(int pageRow) const { return buffer.rowText(buffer.ViewRow() + pageRow); }
    uint8_t color(int pageRow, int col) const { return buffer.colorAt(buffer.ViewRow() + pageRow, col); }
    uint8_t attr(int pageRow, int col) const { return buffer.attrAt(buffer.ViewRow() + pageRow, col); }
    // Cursor as (page row, column), both 0-based.
    std::pair<int, int> cursor() const { return {buffer.pageRow(), buffer.column()}; }

    // The recorders outlive the buffer and the emulation, which may still report while
    // they are taken apart.
    RecordingClient client;
    RecordingOutput output;
    Buffer buffer;
    Emulator emulator;
};

using Page = std::vector<std::string>;

} // namespace zelvo::terminal::test
