// Fuzz target for the xterm parser and emulation. The first byte chooses the page's
// shape; the rest is received data, fed in pieces of varying size, with the page resized
// and the window's operations in between. The parser's output must stay within its
// bounds (parameters, string lengths, valid code points), and the buffer consistent.

#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/line_output.h"
#include "terminal/xterm_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace zelvo::terminal;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

class NullOutput : public LineOutput {
public:
    int PutBlock(const char*, int len) override { return len; }
};

// Checks what the parser hands over, without a screen behind it.
class CheckingExecutor : public XtermExecutor {
public:
    void printAscii(const uint8_t* text, std::size_t len) override
    {
        check(len > 0);
        for (std::size_t i = 0; i < len; ++i)
            check(text[i] >= 0x20 && text[i] < 0x7F);
    }
    void print(const char32_t* text, std::size_t len) override
    {
        for (std::size_t i = 0; i < len; ++i)
            check(text[i] >= 0xA0 && text[i] <= 0x10FFFF && (text[i] < 0xD800 || text[i] > 0xDFFF));
    }
    void execute(uint8_t ch) override { check(ch < 0x20 && ch != 0x1B && ch != 0x18 && ch != 0x1A); }
    void escDispatch(const char*, int count, uint8_t final) override
    {
        check(count >= 0 && count <= 2 && final >= 0x30 && final <= 0x7E);
    }
    void csiDispatch(const CsiSequence& s) override
    {
        check(s.count >= 0 && s.count <= CsiSequence::kMaxParams);
        for (int i = 0; i < s.count; ++i)
            check(s.value[i] == CsiSequence::kMissing || (s.value[i] >= 0 && s.value[i] <= CsiSequence::kMaxValue));
        check(s.final >= 0x40 && s.final <= 0x7E && s.intermediates <= 2);
    }
    void oscDispatch(const std::string& text, bool) override { check(text.size() <= XtermParser::kMaxOsc); }
};

void checkConsistent(const Buffer& b)
{
    check(b.unicode());
    check(b.ViewRow() >= 0 && b.ViewRow() + b.PageHeight() <= b.Rows());
    check(b.pageRow() >= 0 && b.pageRow() < b.PageHeight());
    check(b.column() >= 0 && b.column() < b.Cols());
    check(b.TopMargin() >= 1 && b.TopMargin() <= b.BottomMargin() && b.BottomMargin() <= b.PageHeight());
    check(b.highestRow() >= 0 && b.highestRow() < b.Rows());
    // Two-cell characters keep both halves together.
    for (int q = 0; q < b.PageHeight(); ++q) {
        const int r = b.ViewRow() + q;
        for (int c = 0; c < b.Cols(); ++c) {
            const uint32_t code = b.codeAt(r, c);
            if (code & cellWide)
                check(c + 1 < b.Cols() && (b.codeAt(r, c + 1) & cellContinuation));
            if (code & cellContinuation)
                check(c > 0 && (b.codeAt(r, c - 1) & cellWide));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int cols = 1 + data[0] % 150;
    const int page = 1 + (data[0] >> 4) % 30;
    ++data;
    --size;

    CheckingExecutor checking;
    XtermParser parser(checking);

    Buffer buffer;
    NullOutput out;
    buffer.setLineOutput(&out);
    Emulator emulator(etXterm);
    emulator.setBuffer(&buffer);
    if (buffer.bNewBuffer(page + 20, cols, page) != 0)
        return 0;

    std::size_t off = 0;
    unsigned step = 0;
    while (off < size) {
        const std::size_t n = std::min<std::size_t>(size - off, 1 + (data[off] % 61));
        parser.feed(data + off, n);
        buffer.processBlock(data + off, n);
        off += n;
        buffer.bNeedPaint();
        checkConsistent(buffer);
        switch (++step % 9) {
        case 4:
            // The window changed its size.
            buffer.bResize(buffer.PageHeight() + 20, 1 + (data[off - 1] % 120), 1 + (data[off - 1] % 25));
            checkConsistent(buffer);
            break;
        case 7:
            buffer.bStartMark(buffer.ViewRow(), 0);
            buffer.bUpdateMarks(buffer.ViewRow() + buffer.PageHeight() - 1, buffer.Cols() - 1);
            buffer.markedText();
            break;
        default:
            break;
        }
    }
    return 0;
}
