#include "terminal/ui/screen_renderer.h"

#include <algorithm>

#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>

namespace zelvo::terminal {

namespace {

constexpr char16_t kLowGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

// 0x80..0x9F as the Western Windows code page shows them; its holes show as a dot.
constexpr char16_t kHighGlyphs[32] = {
    0x20AC, 0x00B7, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x00B7, 0x017D, 0x00B7, 0x00B7, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x00B7, 0x017E, 0x0178};

struct GlyphTable {
    QChar g[256];
    GlyphTable()
    {
        for (int i = 0; i < 256; ++i) {
            if (i < 0x20) g[i] = QChar(kLowGlyphs[i]);
            else if (i == 0x7F) g[i] = QChar(char16_t(0x2302));
            else if (i >= 0x80 && i < 0xA0) g[i] = QChar(kHighGlyphs[i - 0x80]);
            else g[i] = QChar(char16_t(i));
        }
    }
};

const GlyphTable& glyphs()
{
    static const GlyphTable t;
    return t;
}

} // namespace

ScreenRenderer::ScreenRenderer() { setFont(QFont(QStringLiteral("monospace"))); }

const std::array<QRgb, 16>& ScreenRenderer::palette()
{
    static const std::array<QRgb, 16> p = {
        0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
        0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
        0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
    return p;
}

QChar ScreenRenderer::glyphFor(uint8_t byte) { return glyphs().g[byte]; }

void ScreenRenderer::setFont(const QFont& font)
{
    font_ = font;
    const QFontMetrics fm(font_);
    cellW_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    cellH_ = std::max(1, fm.height());
    ascent_ = fm.ascent();
    lineWidth_ = std::max(1, fm.lineWidth());
    underlinePos_ = std::min(cellH_ - lineWidth_, ascent_ + std::max(1, fm.underlinePos()));
    // A font whose glyphs differ in width is drawn cell by cell to keep the grid.
    fixedPitch_ = QFontInfo(font_).fixedPitch() &&
                  fm.horizontalAdvance(QLatin1Char('i')) == cellW_ &&
                  fm.horizontalAdvance(QLatin1Char('W')) == cellW_;
    raw_ = QRawFont::fromFont(font_);
    glyphIndex_.fill(0);
    if (raw_.isValid()) {
        const QChar* table = glyphs().g;
        for (int i = 0; i < 256; ++i) {
            quint32 index = 0;
            int count = 1;
            if (raw_.glyphIndexesForChars(&table[i], 1, &index, &count) && count == 1)
                glyphIndex_[size_t(i)] = index;
        }
    }
}

void ScreenRenderer::drawCells(QPainter& p, int x, int y, const uint8_t* chars, int n, QString& scratch) const
{
    bool direct = raw_.isValid();
    for (int k = 0; k < n && direct; ++k) direct = glyphIndex_[chars[k]] != 0 || chars[k] == ' ';
    if (direct) {
        QList<quint32> indexes;
        QList<QPointF> positions;
        indexes.reserve(n);
        positions.reserve(n);
        for (int k = 0; k < n; ++k) {
            if (chars[k] == ' ') continue;
            indexes.append(glyphIndex_[chars[k]]);
            positions.append(QPointF(k * cellW_, 0));
        }
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        p.drawGlyphRun(QPointF(x, y), run);
        return;
    }
    const QChar* table = glyphs().g;
    scratch.resize(n);
    QChar* out = scratch.data();
    for (int k = 0; k < n; ++k) out[k] = table[chars[k]];
    p.drawText(x, y, scratch);
}

QRect ScreenRenderer::cellRect(const QRect& px) const
{
    if (px.isEmpty()) return {};
    const int c0 = px.left() / cellW_, r0 = px.top() / cellH_;
    const int c1 = px.right() / cellW_, r1 = px.bottom() / cellH_;
    return QRect(QPoint(c0, r0), QPoint(c1, r1));
}

void ScreenRenderer::paint(QPainter& p, const Buffer& b, const View& v, const QRect& cells) const
{
    const QRect area = cells.intersected(QRect(0, 0, v.cols, v.rows));
    if (area.isEmpty()) return;
    const auto& pal = palette();
    const QChar* table = glyphs().g;
    const int bufRows = b.Rows(), bufCols = b.Cols();
    const bool marking = b.hasMark();
    const uint8_t highlight = b.highlightColor();
    p.setFont(font_);

    QString text;
    text.reserve(area.width());
    for (int vr = area.top(); vr <= area.bottom(); ++vr) {
        const int row = v.viewRow + vr;
        const int y = vr * cellH_;
        if (row < 0 || row >= bufRows) {
            p.fillRect(QRect(area.left() * cellW_, y, area.width() * cellW_, cellH_), QColor(pal[0]));
            continue;
        }
        const uint8_t* chars = b.charsRow(row);
        const uint8_t* colors = b.colorsRow(row);
        const uint8_t* attrs = b.attrsRow(row);
        // The look of one cell: colour byte plus the underline bit.
        auto look = [&](int c) {
            uint8_t color = marking && b.isMarked(row, c) ? highlight : colors[c];
            const uint8_t a = attrs[c];
            if (a & atInvisible) color = uint8_t((color & 0xF0) | (color >> 4));
            return unsigned(color) | (unsigned(a & atUnderline) << 8);
        };
        int vc = area.left();
        while (vc <= area.right()) {
            const int col = v.viewCol + vc;
            if (col < 0 || col >= bufCols) {
                p.fillRect(QRect(vc * cellW_, y, (area.right() + 1 - vc) * cellW_, cellH_), QColor(pal[0]));
                break;
            }
            const unsigned lk = look(col);
            int end = vc + 1;
            while (end <= area.right() && v.viewCol + end < bufCols && look(v.viewCol + end) == lk) ++end;
            const int n = end - vc;
            const QRect r(vc * cellW_, y, n * cellW_, cellH_);
            const QColor fg(pal[lk & 0x0F]), bg(pal[(lk >> 4) & 0x0F]);
            p.fillRect(r, bg);
            // Runs of spaces need no text.
            const uint8_t* ch = chars + col;
            bool blank = true;
            for (int k = 0; k < n && blank; ++k) blank = ch[k] == ' ';
            if (!blank && fg != bg) {
                p.setPen(fg);
                if (fixedPitch_) {
                    drawCells(p, r.left(), y + ascent_, ch, n, text);
                } else {
                    for (int k = 0; k < n; ++k)
                        if (ch[k] != ' ') p.drawText(r.left() + k * cellW_, y + ascent_, QString(table[ch[k]]));
                }
            }
            if (lk & (unsigned(atUnderline) << 8))
                p.fillRect(QRect(r.left(), y + underlinePos_, r.width(), lineWidth_), fg);
            vc = end;
        }
    }

    if (v.caretVisible) {
        const int cr = v.caretRow - v.viewRow, cc = v.caretCol - v.viewCol;
        if (area.contains(cc, cr)) {
            // An underline caret drawn in inverting mode, so it shows on any colour.
            const int h = std::max(2, cellH_ / 8);
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p.fillRect(QRect(cc * cellW_, cr * cellH_ + cellH_ - h, cellW_, h), QColor(0xC0, 0xC0, 0xC0));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    }
}

} // namespace zelvo::terminal
