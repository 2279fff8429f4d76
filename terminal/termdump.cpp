// termdump: feeds a file through a terminal emulation into a screen buffer and prints
// the final page, one line per row; with --planes also the colour and attribute planes
// and the cursor. Used by people without a display and by the golden-file tests.

#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/emulator_type.h"
#include "terminal/line_output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

using namespace zelvo::terminal;

namespace {

const char* const kUsage =
    "Usage: termdump [--emulation none|ansi|vt100|vt52|ansibbs|xterm] [--cols N --rows N]\n"
    "                [--scrollback N] [--planes] [--replies] FILE\n"
    "Feeds FILE through the terminal emulation and prints the final page, one line per\n"
    "row (trailing spaces removed; bytes outside 0x20..0x7E shown as \\xHH, a backslash\n"
    "as \\\\). With xterm the page is UTF-8 text and only control characters are\n"
    "shown as \\xHH.\n"
    "  --emulation E   none, ansi (default), vt100, vt52, ansibbs or xterm\n"
    "  --cols N        columns, 1..133, with xterm 1..999 (default 80)\n"
    "  --rows N        rows of the page (default 25)\n"
    "  --scrollback N  rows kept above the page (default 175)\n"
    "  --planes        also print the display colours, the attributes (two hex digits\n"
    "                  per cell) and the cursor\n"
    "  --replies       also print what the emulation sent back to the line\n"
    "  --help          show this text\n";

// Collects the replies the emulation sends to the line.
class ReplyLog : public LineOutput {
public:
    int PutBlock(const char* data, int len) override
    {
        text.append(data, static_cast<std::size_t>(len));
        return len;
    }
    std::string text;
};

// The row as printable text; with utf8 the bytes from 0x80 up pass (they are UTF-8).
std::string visible(const std::string& s, bool utf8 = false)
{
    std::string out;
    for (unsigned char ch : s) {
        if (ch == '\\') {
            out += "\\\\";
        } else if ((ch >= 0x20 && ch < 0x7F) || (utf8 && ch >= 0x80)) {
            out += static_cast<char>(ch);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", ch);
            out += hex;
        }
    }
    return out;
}

// Prints one byte plane of the page rows, two hex digits a cell, under its title.
void printPlane(const char* title, const Buffer& buffer, const uint8_t* (Buffer::*row)(int) const,
                int top, int pageRows, int cols)
{
    std::cout << title << ":\n";
    for (int r = top; r < top + pageRows; ++r) {
        const uint8_t* p = (buffer.*row)(r);
        for (int c = 0; c < cols; ++c) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", p[c]);
            std::cout << hex;
        }
        std::cout << "\n";
    }
}

bool parseNumber(const char* text, int lo, int hi, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

int fail(const std::string& message)
{
    std::cerr << "termdump: " << message << "\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    EmulatorType type = etANSI;
    int cols = 80;
    int pageRows = 25;
    int scrollback = 175;
    bool planes = false;
    bool replies = false;
    std::string file;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fail(std::string("option ") + name + " needs a value");
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--emulation") {
            const std::string e = value("--emulation");
            if (!emulatorTypeFromName(e, type))
                return fail("unknown emulation \"" + e + "\" (none, ansi, vt100, vt52, ansibbs, xterm)");
        } else if (arg == "--cols") {
            if (!parseNumber(value("--cols"), 1, Buffer::kMaxUnicodeCols, cols))
                return fail("--cols must be a number from 1 to 133 (999 with xterm)");
        } else if (arg == "--rows") {
            if (!parseNumber(value("--rows"), 1, Buffer::kMaxCells, pageRows))
                return fail("--rows must be a positive number");
        } else if (arg == "--scrollback") {
            if (!parseNumber(value("--scrollback"), 0, Buffer::kMaxCells, scrollback))
                return fail("--scrollback must be a number of 0 or more");
        } else if (arg == "--planes") {
            planes = true;
        } else if (arg == "--replies") {
            replies = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return fail("unknown option " + arg + " (see --help)");
        } else if (file.empty()) {
            file = arg;
        } else {
            return fail("only one FILE may be given");
        }
    }
    if (file.empty())
        return fail("no input FILE given (see --help)");

    std::vector<char> input;
    if (file == "-") {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return fail("cannot open " + file + ": " + std::strerror(errno));
        input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            return fail("cannot read " + file);
    }

    Buffer buffer;
    // Bound first: the xterm emulation allows larger pages.
    Emulator emulator(type);
    emulator.setBuffer(&buffer);
    const bool unicode = buffer.unicode();
    const long maxCells = unicode ? Buffer::kMaxUnicodeCells : Buffer::kMaxCells;
    const long totalRows = static_cast<long>(pageRows) + scrollback;
    if ((!unicode && cols > Buffer::kMaxCols) || totalRows * cols > maxCells
        || buffer.bNewBuffer(static_cast<int>(totalRows), cols, pageRows) != 0)
        return fail("a buffer of " + std::to_string(totalRows) + " rows of "
                    + std::to_string(cols) + " columns is too large (at most "
                    + std::to_string(maxCells) + " cells"
                    + (unicode ? "" : ", 133 columns") + ")");
    ReplyLog log;
    buffer.setLineOutput(&log);
    buffer.processBlock(reinterpret_cast<const uint8_t*>(input.data()), input.size());

    const int top = buffer.ViewRow();
    for (int r = top; r < top + pageRows; ++r)
        std::cout << visible(buffer.rowUtf8(r), unicode) << "\n";
    if (planes) {
        printPlane("colors", buffer, &Buffer::colorsRow, top, pageRows, cols);
        printPlane("attributes", buffer, &Buffer::attrsRow, top, pageRows, cols);
        std::cout << "cursor: row " << buffer.pageRow() + 1 << " column " << buffer.column() + 1
                  << "\n";
    }
    if (replies)
        std::cout << "replies: " << visible(log.text) << "\n";
    return 0;
}
