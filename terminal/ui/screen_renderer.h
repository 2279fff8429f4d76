#pragma once
// Draws cells of the screen buffer: runs of equal colour byte in the 16-colour palette,
// the marked region in the highlight colours, blinking cells, underline and invisible
// text, and the caret. A buffer in Unicode mode (the xterm emulation) is drawn from its
// code points and 256/RGB colours, with two-cell characters, bold, italic, faint and
// struck-out text and screen-wide reverse video.

#include <array>
#include <cstdint>

#include <QColor>
#include <QFont>
#include <QRawFont>
#include <QRect>
#include <QString>

#include "terminal/buffer.h"

class QPainter;

namespace zelvo::terminal {

class ScreenRenderer {
public:
    ScreenRenderer();

    // The 16-colour palette of the buffer, as 0xRRGGBB values.
    static const std::array<QRgb, 16>& palette();
    // The glyph a byte is drawn with: Latin-1 for the printable range, the usual
    // symbols of text-mode screens for control bytes (a bell shows as a glyph).
    static QChar glyphFor(uint8_t byte);
    // The glyph of a byte in code page 437, as ANSI-BBS art expects it: the symbols of
    // 0x00..0x1F and the box-drawing, block and accented characters of 0x80..0xFF.
    static QChar cp437Glyph(uint8_t byte);

    void setFont(const QFont& font);
    const QFont& font() const { return font_; }
    int cellWidth() const { return cellW_; }
    int cellHeight() const { return cellH_; }

    struct View {
        int viewRow = 0, viewCol = 0;   // buffer cell drawn at the top left
        int rows = 0, cols = 0;         // cells shown
        bool caretVisible = false;
        int caretRow = 0, caretCol = 0; // buffer cell of the caret
        bool flash = false;             // visual bell: every colour inverted
    };

    // Paints the cells of `cells` (in view coordinates: row 0 = viewRow) that lie in the
    // view; cells beyond the buffer are filled with the background of colour 0. Marked
    // cells take the buffer's highlight colours; blinking is already in the display
    // colours the buffer keeps.
    void paint(QPainter& p, const Buffer& b, const View& v, const QRect& cells) const;

    // The pixel rectangle of a range of view cells.
    QRect pixelRect(const QRect& cells) const
    {
        return {cells.x() * cellW_, cells.y() * cellH_, cells.width() * cellW_, cells.height() * cellH_};
    }
    // The view cells touched by a pixel rectangle.
    QRect cellRect(const QRect& pixels) const;

private:
    // Draws n cells of 8-bit text (in code page 437 or the default glyphs) with their
    // left edge at x and baseline at y.
    void drawCells(QPainter& p, int x, int y, const uint8_t* chars, int n, bool cp437, QString& scratch) const;
    void paintUnicode(QPainter& p, const Buffer& b, const View& v, const QRect& area) const;
    void paintCaret(QPainter& p, const View& v, const QRect& area) const;

    QFont font_;
    QFont boldFont_, italicFont_, boldItalicFont_;
    // The regular font's own glyph of each byte in both tables (0 where it has none and a
    // fallback font must draw it): runs of such glyphs are drawn straight onto the cell
    // grid, without laying the text out again every time.
    QRawFont raw_;
    std::array<quint32, 256> glyphIndex_{}, cp437Index_{};
    int cellW_ = 8, cellH_ = 16, ascent_ = 12;
    bool fixedPitch_ = true;
    int underlinePos_ = 14, lineWidth_ = 1;
};

} // namespace zelvo::terminal
