#include "terminal/ui/screen_renderer.h"

#include "terminal/emulation.h"

#include <algorithm>
#include <vector>

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

// 0x80..0xFF of code page 437.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

struct GlyphTable {
    QChar g[256];
    explicit GlyphTable(bool cp437)
    {
        for (int i = 0; i < 256; ++i) {
            if (i < 0x20) g[i] = QChar(kLowGlyphs[i]);
            else if (i == 0x7F) g[i] = QChar(char16_t(0x2302));
            else if (i >= 0x80 && cp437) g[i] = QChar(kCp437High[i - 0x80]);
            else if (i >= 0x80 && i < 0xA0) g[i] = QChar(kHighGlyphs[i - 0x80]);
            else g[i] = QChar(char16_t(i));
        }
    }
};

const GlyphTable& glyphs()
{
    static const GlyphTable t(false);
    return t;
}

const GlyphTable& cp437Glyphs()
{
    static const GlyphTable t(true);
    return t;
}

QRgb inverted(QRgb c) { return 0xFF000000u | (~c & 0x00FFFFFFu); }

// A colour halfway between two, for faint text.
QRgb blend(QRgb a, QRgb b)
{
    return qRgb((qRed(a) + qRed(b)) / 2, (qGreen(a) + qGreen(b)) / 2, (qBlue(a) + qBlue(b)) / 2);
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

QChar ScreenRenderer::cp437Glyph(uint8_t byte) { return cp437Glyphs().g[byte]; }

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
    boldFont_ = font_;
    boldFont_.setBold(true);
    italicFont_ = font_;
    italicFont_.setItalic(true);
    boldItalicFont_ = boldFont_;
    boldItalicFont_.setItalic(true);
    raw_ = QRawFont::fromFont(font_);
    auto indexGlyphs = [this](const GlyphTable& table, std::array<quint32, 256>& index) {
        index.fill(0);
        if (!raw_.isValid()) return;
        for (int i = 0; i < 256; ++i) {
            quint32 glyph = 0;
            int count = 1;
            if (raw_.glyphIndexesForChars(&table.g[i], 1, &glyph, &count) && count == 1)
                index[size_t(i)] = glyph;
        }
    };
    indexGlyphs(glyphs(), glyphIndex_);
    indexGlyphs(cp437Glyphs(), cp437Index_);
}

void ScreenRenderer::drawCells(QPainter& p, int x, int y, const uint8_t* chars, int n, bool cp437,
                               QString& scratch) const
{
    const std::array<quint32, 256>& index = cp437 ? cp437Index_ : glyphIndex_;
    bool direct = raw_.isValid();
    for (int k = 0; k < n && direct; ++k) direct = index[chars[k]] != 0 || chars[k] == ' ';
    if (direct) {
        QList<quint32> indexes;
        QList<QPointF> positions;
        indexes.reserve(n);
        positions.reserve(n);
        for (int k = 0; k < n; ++k) {
            if (chars[k] == ' ') continue;
            indexes.append(index[chars[k]]);
            positions.append(QPointF(k * cellW_, 0));
        }
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        p.drawGlyphRun(QPointF(x, y), run);
        return;
    }
    const QChar* table = cp437 ? cp437Glyphs().g : glyphs().g;
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
    if (b.unicode()) {
        paintUnicode(p, b, v, area);
        paintCaret(p, v, area);
        return;
    }
    const auto& pal = palette();
    const bool cp437 = b.emulator() && b.emulator()->type() == etANSIBBS;
    const QChar* table = cp437 ? cp437Glyphs().g : glyphs().g;
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
            QColor fg(pal[lk & 0x0F]), bg(pal[(lk >> 4) & 0x0F]);
            if (v.flash) {
                fg = QColor(inverted(fg.rgb()));
                bg = QColor(inverted(bg.rgb()));
            }
            p.fillRect(r, bg);
            // Runs of spaces need no text.
            const uint8_t* ch = chars + col;
            bool blank = true;
            for (int k = 0; k < n && blank; ++k) blank = ch[k] == ' ';
            if (!blank && fg != bg) {
                p.setPen(fg);
                if (fixedPitch_) {
                    drawCells(p, r.left(), y + ascent_, ch, n, cp437, text);
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

    paintCaret(p, v, area);
}

void ScreenRenderer::paintCaret(QPainter& p, const View& v, const QRect& area) const
{
    if (!v.caretVisible) return;
    const int cr = v.caretRow - v.viewRow, cc = v.caretCol - v.viewCol;
    if (area.contains(cc, cr)) {
        // An underline caret drawn in inverting mode, so it shows on any colour.
        const int h = std::max(2, cellH_ / 8);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRect(cc * cellW_, cr * cellH_ + cellH_ - h, cellW_, h), QColor(0xC0, 0xC0, 0xC0));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void ScreenRenderer::paintUnicode(QPainter& p, const Buffer& b, const View& v, const QRect& area) const
{
    const int bufRows = b.Rows(), bufCols = b.Cols();
    const bool marking = b.hasMark();
    const uint8_t highlight = b.highlightColor();
    const bool blinkOn = b.blinkOn();
    int defFore = b.defaultFore(), defBack = b.defaultBack();
    if (b.reverseVideo()) std::swap(defFore, defBack);
    const auto& pal = palette();
    const QRgb background = v.flash ? inverted(pal[defBack & 0x0F]) : pal[defBack & 0x0F];

    // What a cell looks like: colours after every attribute, and the font and lines.
    struct Look {
        QRgb fg = 0, bg = 0;
        uint8_t style = 0; // atBold | atItalic | atUnderline | atStrike
        bool operator==(const Look&) const = default;
    };
    constexpr uint8_t kStyleBits = atBold | atItalic | atUnderline | atStrike;
    auto lookOf = [&](int row, int c) {
        const uint8_t a = b.attrAt(row, c);
        uint32_t fore = b.foreAt(row, c);
        // Bold brightens the eight basic colours, as xterm shows them.
        if ((a & atBold) && (fore & colorTagMask) == colorIndexedTag && (fore & 0xFF) < 8) fore += 8;
        Look lk;
        lk.fg = 0xFF000000u | Buffer::rgbOf(fore, defFore);
        lk.bg = 0xFF000000u | Buffer::rgbOf(b.backAt(row, c), defBack);
        if (a & atReverse) std::swap(lk.fg, lk.bg);
        if (marking && b.isMarked(row, c)) {
            lk.fg = pal[highlight & 0x0F];
            lk.bg = pal[(highlight >> 4) & 0x0F];
        }
        if (a & atFaint) lk.fg = blend(lk.fg, lk.bg);
        if ((a & atInvisible) || ((a & atBlink) && !blinkOn)) lk.fg = lk.bg;
        if (v.flash) {
            lk.fg = inverted(lk.fg);
            lk.bg = inverted(lk.bg);
        }
        lk.style = a & kStyleBits;
        return lk;
    };

    QString text;
    std::vector<uint8_t> bytes;
    std::u32string cps;
    for (int vr = area.top(); vr <= area.bottom(); ++vr) {
        const int row = v.viewRow + vr;
        const int y = vr * cellH_;
        if (row < 0 || row >= bufRows) {
            p.fillRect(QRect(area.left() * cellW_, y, area.width() * cellW_, cellH_), QColor(background));
            continue;
        }
        const uint32_t* codes = b.codesRow(row);
        int vc = area.left();
        // A wide character cut by the left edge of the area is drawn whole.
        if (vc > 0 && v.viewCol + vc < bufCols && (codes[v.viewCol + vc] & cellContinuation)) --vc;
        int end = std::min(area.right(), bufCols - 1 - v.viewCol);
        if (end >= 0 && v.viewCol + end + 1 < bufCols && (codes[v.viewCol + end] & cellWide)) ++end;
        if (end < area.right())
            p.fillRect(QRect((end + 1) * cellW_, y, (area.right() - end) * cellW_, cellH_), QColor(background));
        while (vc <= end) {
            const int col = v.viewCol + vc;
            const Look lk = lookOf(row, col);
            int runEnd = vc + 1;
            while (runEnd <= end && lookOf(row, v.viewCol + runEnd) == lk) ++runEnd;
            const int n = runEnd - vc;
            const QRect r(vc * cellW_, y, n * cellW_, cellH_);
            p.fillRect(r, QColor(lk.bg));
            if (lk.fg != lk.bg) {
                p.setPen(QColor(lk.fg));
                const bool bold = lk.style & atBold, italic = lk.style & atItalic;
                p.setFont(bold ? (italic ? boldItalicFont_ : boldFont_) : (italic ? italicFont_ : font_));
                // Plain ASCII runs go in one piece; other characters are placed cell by
                // cell, since their glyphs may come from fonts of other widths.
                bool ascii = fixedPitch_;
                for (int k = 0; k < n && ascii; ++k) {
                    const uint32_t c = codes[col + k];
                    ascii = c >= 0x20 && c < 0x7F;
                }
                if (ascii && !bold && !italic) {
                    bytes.resize(size_t(n));
                    for (int k = 0; k < n; ++k) bytes[size_t(k)] = uint8_t(codes[col + k]);
                    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t c) { return c != ' '; }))
                        drawCells(p, r.left(), y + ascent_, bytes.data(), n, false, text);
                } else if (ascii) {
                    text.resize(n);
                    QChar* out = text.data();
                    for (int k = 0; k < n; ++k) out[k] = QChar(char16_t(codes[col + k]));
                    if (text.trimmed().size() > 0) p.drawText(r.left(), y + ascent_, text);
                } else {
                    for (int k = 0; k < n; ++k) {
                        const uint32_t c = codes[col + k];
                        if (c == ' ' || (c & cellContinuation)) continue;
                        cps.clear();
                        b.cellCodePoints(row, col + k, cps);
                        p.drawText(r.left() + k * cellW_, y + ascent_,
                                   QString::fromUcs4(cps.data(), qsizetype(cps.size())));
                    }
                }
            }
            if (lk.style & atUnderline) p.fillRect(QRect(r.left(), y + underlinePos_, r.width(), lineWidth_), QColor(lk.fg));
            if (lk.style & atStrike) p.fillRect(QRect(r.left(), y + ascent_ * 2 / 3, r.width(), lineWidth_), QColor(lk.fg));
            vc = runEnd;
        }
    }
    p.setFont(font_);
}

} // namespace zelvo::terminal
