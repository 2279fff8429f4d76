#pragma once
// libvterm as the reference for the xterm emulation: the same bytes go through both, and
// the pages must agree cell by cell (characters, widths, attributes, colours) and in the
// cursor position.

#include "terminal/buffer.h"

#include <cstdint>
#include <string>
#include <vector>

#include <vterm.h>

namespace zelvo::terminal::test {

class VtermOracle {
public:
    VtermOracle(int rows, int cols)
        : rows_(rows)
        , cols_(cols)
        , vt_(vterm_new(rows, cols))
    {
        vterm_set_utf8(vt_, 1);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_enable_altscreen(screen_, 1);
        vterm_screen_reset(screen_, 1);
    }
    ~VtermOracle() { vterm_free(vt_); }
    VtermOracle(const VtermOracle&) = delete;
    VtermOracle& operator=(const VtermOracle&) = delete;

    void feed(const std::string& bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }

    // Where the page of b differs from libvterm's, one line per difference (at most
    // maxReports); empty when they agree.
    std::vector<std::string> compare(const Buffer& b, int maxReports = 8) const
    {
        std::vector<std::string> out;
        auto report = [&](int r, int c, const std::string& what) {
            if (static_cast<int>(out.size()) < maxReports)
                out.push_back("row " + std::to_string(r + 1) + " col " + std::to_string(c + 1) + ": " + what);
        };
        if (b.PageHeight() != rows_ || b.Cols() != cols_) {
            out.push_back("page shape differs");
            return out;
        }
        for (int r = 0; r < rows_; ++r) {
            const int row = b.ViewRow() + r;
            for (int c = 0; c < cols_; ++c) {
                VTermScreenCell cell;
                vterm_screen_get_cell(screen_, VTermPos{r, c}, &cell);
                const uint32_t code = b.codeAt(row, c);
                if (cell.chars[0] == 0xFFFFFFFFu) {
                    if (!(code & cellContinuation))
                        report(r, c, "libvterm has the right half of a wide character here");
                    continue;
                }
                std::u32string ours;
                b.cellCodePoints(row, c, ours);
                std::u32string theirs;
                for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i)
                    theirs += static_cast<char32_t>(cell.chars[i]);
                if (theirs.empty())
                    theirs = U" ";
                if (ours != theirs) {
                    report(r, c, "text " + hex(ours) + " where libvterm has " + hex(theirs));
                    continue;
                }
                const int width = (code & cellWide) ? 2 : 1;
                if (width != cell.width)
                    report(r, c, "width " + std::to_string(width) + " where libvterm has " + std::to_string(cell.width));
                const uint8_t a = b.attrAt(row, c);
                const auto flag = [&](const char* name, bool mine, bool vterm) {
                    if (mine != vterm)
                        report(r, c, std::string(name) + (mine ? " set" : " clear") + " where libvterm differs");
                };
                flag("bold", a & atBold, cell.attrs.bold);
                flag("underline", a & atUnderline, cell.attrs.underline != 0);
                flag("italic", a & atItalic, cell.attrs.italic);
                flag("blink", a & atBlink, cell.attrs.blink);
                flag("reverse", a & atReverse, cell.attrs.reverse);
                flag("strike", a & atStrike, cell.attrs.strike);
                if (!sameColor(b.foreAt(row, c), cell.fg, true))
                    report(r, c, "foreground " + colorName(b.foreAt(row, c)) + " where libvterm has " + colorName(cell.fg, true));
                if (!sameColor(b.backAt(row, c), cell.bg, false))
                    report(r, c, "background " + colorName(b.backAt(row, c)) + " where libvterm has " + colorName(cell.bg, false));
            }
        }
        VTermPos pos;
        vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
        if (pos.row != b.pageRow() || pos.col != b.column())
            out.push_back("cursor at " + std::to_string(b.pageRow() + 1) + "," + std::to_string(b.column() + 1)
                          + " where libvterm has " + std::to_string(pos.row + 1) + "," + std::to_string(pos.col + 1));
        return out;
    }

    // libvterm's page as text, for failure messages.
    std::string pageText() const
    {
        std::string text;
        for (int r = 0; r < rows_; ++r) {
            char line[4096];
            const VTermRect rect{r, r + 1, 0, cols_};
            const std::size_t n = vterm_screen_get_text(screen_, line, sizeof line, rect);
            text.append(line, n);
            text += '\n';
        }
        return text;
    }

private:
    static std::string hex(const std::u32string& s)
    {
        std::string out;
        for (char32_t c : s) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%sU+%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
            out += buf;
        }
        return out;
    }
    static bool sameColor(uint32_t ours, const VTermColor& theirs, bool fore)
    {
        const bool isDefault = fore ? VTERM_COLOR_IS_DEFAULT_FG(&theirs) : VTERM_COLOR_IS_DEFAULT_BG(&theirs);
        switch (ours & colorTagMask) {
        case colorIndexedTag:
            return !isDefault && VTERM_COLOR_IS_INDEXED(&theirs) && theirs.indexed.idx == (ours & 0xFF);
        case colorRgbTag:
            return !isDefault && VTERM_COLOR_IS_RGB(&theirs)
                   && rgbColor(theirs.rgb.red, theirs.rgb.green, theirs.rgb.blue) == ours;
        default:
            return isDefault;
        }
    }
    static std::string colorName(uint32_t c)
    {
        switch (c & colorTagMask) {
        case colorIndexedTag: return "index " + std::to_string(c & 0xFF);
        case colorRgbTag: return "rgb " + std::to_string(c & 0xFFFFFF);
        default: return "default";
        }
    }
    static std::string colorName(const VTermColor& c, bool fore)
    {
        if (fore ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c))
            return "default";
        if (VTERM_COLOR_IS_INDEXED(&c))
            return "index " + std::to_string(c.indexed.idx);
        return colorName(rgbColor(c.rgb.red, c.rgb.green, c.rgb.blue));
    }

    int rows_;
    int cols_;
    VTerm* vt_;
    VTermScreen* screen_ = nullptr;
};

} // namespace zelvo::terminal::test
