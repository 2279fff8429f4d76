#pragma once
// Draws cells of the screen buffer: runs of equal colour byte in the 16-colour palette,
// the marked region in the highlight colours, blinking cells, underline and invisible
// text, and the caret.

#include <array>
#include <cstdint>

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QPainter;

namespace zelvo::terminal {

// The planes of a screen buffer, row-major, `cols` cells per row.
struct ScreenPlanes {
    int cols = 0;
    int rows = 0;
    const uint8_t* chars = nullptr;
    const uint8_t* colors = nullptr; // high nibble background, low nibble foreground
    const uint8_t* attrs = nullptr;
};

// A marked region from cell (startRow, startCol) to (endRow, endCol) inclusive, with
// start not after end; empty when `active` is false.
struct MarkRange {
    bool active = false;
    int startRow = 0, startCol = 0, endRow = 0, endCol = 0;
    bool contains(int row, int col) const
    {
        if (!active || row < startRow || row > endRow) return false;
        if (row == startRow && col < startCol) return false;
        if (row == endRow && col > endCol) return false;
        return true;
    }
};

// Cell attribute bits of the attribute plane.
constexpr uint8_t attrBlink = 0x01, attrReverse = 0x02, attrBold = 0x04;
constexpr uint8_t attrInvisible = 0x08, attrUnderline = 0x10;

class ScreenRenderer {
public:
    ScreenRenderer();

    // The 16-colour palette of the buffer, as 0xRRGGBB values.
    static const std::array<QRgb, 16>& palette();
    // The glyph a byte is drawn with: Latin-1 for the printable range, the usual
    // symbols of text-mode screens for control bytes (a bell shows as a glyph).
    static QChar glyphFor(uint8_t byte);

    void setFont(const QFont& font);
    const QFont& font() const { return font_; }
    int cellWidth() const { return cellW_; }
    int cellHeight() const { return cellH_; }

    struct View {
        int viewRow = 0, viewCol = 0;   // buffer cell drawn at the top left
        int rows = 0, cols = 0;         // cells shown
        MarkRange mark;
        uint8_t highlight = 0x70;       // colour byte of marked cells
        bool blinkOff = false;          // blinking cells show their background only
        bool caretVisible = false;
        int caretRow = 0, caretCol = 0; // buffer cell of the caret
    };

    // Paints the cells of `cells` (in view coordinates: row 0 = viewRow) that lie in the
    // view; cells beyond the buffer are filled with the background of colour 0.
    void paint(QPainter& p, const ScreenPlanes& s, const View& v, const QRect& cells) const;

    // The pixel rectangle of a range of view cells.
    QRect pixelRect(const QRect& cells) const
    {
        return {cells.x() * cellW_, cells.y() * cellH_, cells.width() * cellW_, cells.height() * cellH_};
    }
    // The view cells touched by a pixel rectangle.
    QRect cellRect(const QRect& pixels) const;

private:
    QFont font_;
    int cellW_ = 8, cellH_ = 16, ascent_ = 12;
    bool fixedPitch_ = true;
    int underlinePos_ = 14, lineWidth_ = 1;
};

} // namespace zelvo::terminal
