// Fuzz target: the first bytes choose the emulation, the buffer's shape and the window's
// display size; the rest is received data, fed in pieces of varying size with paints and
// scrollback moves in between. After every piece the buffer must be consistent.

#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/line_output.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace zelvo::terminal;

namespace {

class NullOutput : public LineOutput {
public:
    int PutBlock(const char*, int len) override { return len; }
};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkConsistent(const Buffer& b)
{
    check(b.ViewRow() >= 0 && b.ViewRow() + b.PageHeight() <= b.Rows());
    check(b.pageRow() >= 0 && b.pageRow() < b.PageHeight());
    check(b.column() >= 0 && b.column() < b.Cols());
    check(b.TopMargin() >= 1 && b.TopMargin() <= b.BottomMargin());
    check(b.BottomMargin() <= b.PageHeight());
    check(b.displayTop() >= 0 && b.displayTop() + b.displayRows() <= b.Rows());
    check(b.ViewCol() >= 0 && b.ViewCol() + b.displayCols() <= b.Cols());
    check(b.highestRow() >= 0 && b.highestRow() < b.Rows());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    static const EmulatorType types[] = {etANSI, etVT100, etVT52, etANSIBBS, etNone};
    const EmulatorType type = types[data[0] % 5];
    const int cols = 1 + data[1] % Buffer::kMaxCols;
    const int page = 1 + data[2] % 40;
    const int rows = page + data[3] % 60;
    const int dispRows = data[4] % 50;
    const int dispCols = data[5] % 140;
    data += 6;
    size -= 6;

    Buffer buffer;
    if (buffer.bNewBuffer(rows, cols, page) != 0)
        buffer.bNewBuffer(page, cols, page);
    buffer.setDisplaySize(dispRows, dispCols);
    NullOutput out;
    buffer.setLineOutput(&out);
    Emulator emulator(type);
    emulator.setBuffer(&buffer);

    std::size_t off = 0;
    unsigned step = 0;
    while (off < size) {
        const std::size_t n = std::min<std::size_t>(size - off, 1 + (data[off] % 97));
        buffer.processBlock(data + off, n);
        off += n;
        buffer.bNeedPaint();
        checkConsistent(buffer);
        switch (++step % 7) {
        case 3:
            buffer.bSetBlinkPhase(step % 2 == 0);
            break;
        case 5:
            buffer.bStartMark(static_cast<int>(step % 300), static_cast<int>(step % 150));
            buffer.bUpdateMarks(static_cast<int>(off % 300), static_cast<int>(n % 150));
            buffer.markedText();
            break;
        case 6:
            buffer.bSetScrollMode(true);
            buffer.bScroll(-static_cast<int>(n), static_cast<int>(n % 5) - 2);
            buffer.bSetScrollMode(false);
            break;
        default:
            break;
        }
    }
    checkConsistent(buffer);
    return 0;
}
