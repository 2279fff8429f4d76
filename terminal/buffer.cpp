#include "terminal/buffer.h"

#include "terminal/line_output.h"
#include "terminal/emulation.h"
#include "terminal/terminal_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace zelvo::terminal {

const uint32_t Buffer::kPalette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

namespace {

// Bytes that bWriteChar treats as movements rather than glyphs.
constexpr bool isMovement(uint8_t ch) { return ch == 0x08 || ch == 0x0A || ch == 0x0D; }

// The display colour of a cell: a blinking cell in the "off" phase shows its background.
inline uint8_t displayColor(uint8_t color, uint8_t attr, bool blinkOn)
{
    if ((attr & atBlink) && !blinkOn)
        return static_cast<uint8_t>((color & 0xF0) | (color >> 4));
    return color;
}

} // namespace

Buffer::Buffer()
{
    bNewBuffer(200, 80, 25);
}

Buffer::~Buffer()
{
    // The window may already be gone; a last flush failure has no one to tell.
    client_ = nullptr;
    if (capturing()) {
        bFlushCapture();
        if (captureFd_ >= 0)
            ::close(captureFd_);
        captureFd_ = -1;
    }
}

int Buffer::bNewBuffer(int rows, int cols, int pageHeight)
{
    const int maxCols = unicode_ ? kMaxUnicodeCols : kMaxCols;
    const long maxCells = unicode_ ? kMaxUnicodeCells : kMaxCells;
    if (cols < 1 || cols > maxCols || pageHeight < 1 || rows < pageHeight
        || static_cast<long>(rows) * cols > maxCells)
        return kErrBufferSize;
    const std::size_t cells = static_cast<std::size_t>(rows) * cols;
    std::vector<uint8_t> chars, colors, stored, attrs;
    std::vector<uint32_t> codes, fores, backs;
    try {
        chars.assign(cells, ' ');
        colors.assign(cells, 0);
        stored.assign(cells, 0);
        attrs.assign(cells, 0);
        if (unicode_) {
            codes.assign(cells, ' ');
            fores.assign(cells, colorDefault);
            backs.assign(cells, colorDefault);
        }
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Buffer allocation failed");
    }
    codes_.swap(codes);
    fores_.swap(fores);
    backs_.swap(backs);
    clusters_.clear();
    // Only the first page starts in the current colours; the rows below it are coloured
    // as they come into use.
    std::memset(colors.data(), curColor_, static_cast<std::size_t>(pageHeight) * cols);
    std::memset(stored.data(), curColor_, static_cast<std::size_t>(pageHeight) * cols);
    chars_.swap(chars);
    colors_.swap(colors);
    stored_.swap(stored);
    attrs_.swap(attrs);
    rows_ = rows;
    cols_ = cols;
    pageHeight_ = pageHeight;
    resetState();
    return 0;
}

void Buffer::resetState()
{
    base_ = 0;
    col_ = 0;
    row_ = 0;
    viewRow_ = 0;
    highestRow_ = 0;
    topMargin_ = 1;
    bottomMargin_ = pageHeight_;
    hTabs_.assign(kMaxHorzTabs, 0);
    resetHorizontalTabStops(cols_);
    vTabs_.assign(kMaxVertTabs, 0);
    saved_ = SavedCursor{};
    altScreen_ = false;
    altSaved_ = SavedPage{};
    marking_ = false;
    dispTop_ = 0;
    viewCol_ = 0;
    setDisplaySize(dispRowsWanted_, dispColsWanted_);
    dirty_ = CellRect{};
    viewDirty_ = true;
}

void Buffer::bSetColors(int fore, int back)
{
    defFore_ = fore & 0x0F;
    defBack_ = back & 0x0F;
    bSetAttr(defFore_, defBack_, curAttr_);
}

void Buffer::bSetHighlightColors(int fore, int back)
{
    highlight_ = makeColor(fore, back);
    if (marking_)
        viewMoved();
}

void Buffer::bSetAttr(int fore, int back, uint8_t attr)
{
    plainFore_ = fore & 0x0F;
    plainBack_ = back & 0x0F;
    curAttr_ = attr;
    curColor_ = (attr & atReverse) ? makeColor(plainBack_, plainFore_)
                                   : makeColor(plainFore_, plainBack_);
}

// ---------------------------------------------------------------------------------------
// Character input

void Buffer::bProcessChar(uint8_t ch)
{
    if (emulator_)
        emulator_->processChar(ch);
    else
        bWriteChar(ch);
}

void Buffer::processBlock(const uint8_t* data, std::size_t len)
{
    if (emulator_)
        emulator_->processBlock(data, len);
    else
        writeText(data, len);
}

void Buffer::writeText(const uint8_t* data, std::size_t len)
{
    std::size_t i = 0;
    while (i < len) {
        std::size_t j = i;
        while (j < len && !isMovement(data[j]))
            ++j;
        if (j > i)
            writeGlyphs(data + i, j - i);
        if (j < len)
            bWriteChar(data[j++]);
        i = j;
    }
}

void Buffer::bWriteChar(uint8_t ch)
{
    if (!isMovement(ch)) {
        writeGlyphs(&ch, 1);
        return;
    }
    dropMarkOnOutput();
    if (capturing())
        captureMovement(ch);
    switch (ch) {
    case 0x08:
        if (col_ > 0) {
            --col_;
            chars(row_)[col_] = ' ';
            touch(row_, col_, col_);
        }
        break;
    case 0x0A:
        newLine();
        break;
    default: // 0x0D
        col_ = 0;
        break;
    }
}

void Buffer::writeGlyphs(const uint8_t* data, std::size_t len)
{
    if (len == 0)
        return;
    dropMarkOnOutput();
    if (capturing())
        captureBytes(data, len);
    const uint8_t shown = displayColor(curColor_, curAttr_, blinkOn_);
    while (len > 0) {
        const std::size_t room = static_cast<std::size_t>(cols_ - col_);
        const std::size_t n = std::min(len, room);
        const int off = physOffset(row_) + col_;
        std::memcpy(chars_.data() + off, data, n);
        std::memset(colors_.data() + off, shown, n);
        std::memset(stored_.data() + off, curColor_, n);
        std::memset(attrs_.data() + off, curAttr_, n);
        touch(row_, col_, col_ + static_cast<int>(n) - 1);
        if (row_ > highestRow_)
            highestRow_ = row_;
        data += n;
        len -= n;
        if (n == room) {
            // The last column was written: wrap at once.
            col_ = 0;
            newLine();
        } else {
            col_ += static_cast<int>(n);
        }
    }
}

void Buffer::newLine()
{
    const int p = row_ - viewRow_;
    const int top = topMargin_ - 1;
    const int bot = bottomMargin_ - 1;
    if (p >= top && p <= bot) {
        if (p == bot)
            scrollRegionUp();
        else
            ++row_;
    } else if (p < pageHeight_ - 1) {
        ++row_;
    }
    // Below a bottom margin on the page's last row the cursor stays: there is nothing to
    // scroll and the page must not run away from the scrolling region.
    if (row_ > highestRow_)
        highestRow_ = row_;
}

void Buffer::scrollRegionUp()
{
    const int top = topMargin_ - 1;
    const int bot = bottomMargin_ - 1;
    if (top > 0 || altScreen_) {
        // A region that starts below the page's top scrolls in place; its top line is
        // lost and the rows above it stay where they are. The alternate screen has no
        // scrollback at all.
        shiftRows(top, bot, 1);
        blank(viewRow_ + bot, 0, cols_, curColor_, curAttr_);
        return;
    }
    // The region starts at the page's top: the page moves down through the buffer so its
    // top line enters the scrollback. At the end of the buffer the ring turns instead and
    // the oldest row is lost.
    if (viewRow_ + pageHeight_ < rows_) {
        ++viewRow_;
        ++row_;
    } else {
        rotate(1);
    }
    // Rows below the bottom margin keep their place on the page.
    for (int q = pageHeight_ - 1; q > bot; --q)
        copyRow(viewRow_ + q - 1, viewRow_ + q);
    blank(viewRow_ + bot, 0, cols_, curColor_, curAttr_);
    viewMoved();
}

void Buffer::rotate(int n)
{
    if (n <= 0)
        return;
    n = std::min(n, rows_);
    base_ = (base_ + n) % rows_;
    for (int r = rows_ - n; r < rows_; ++r)
        blank(r, 0, cols_, curColor_, curAttr_);
    highestRow_ = std::max(0, highestRow_ - n);
    // The displayed text stays in view while the user looks at the scrollback.
    dispTop_ = std::max(0, dispTop_ - n);
    savedDispTop_ = std::max(0, savedDispTop_ - n);
    if (marking_) {
        markStartRow_ -= n;
        markEndRow_ -= n;
        if (markStartRow_ < 0 && markEndRow_ < 0)
            marking_ = false;
        markStartRow_ = std::max(0, markStartRow_);
        markEndRow_ = std::max(0, markEndRow_);
    }
    viewMoved();
}

void Buffer::copyRow(int from, int to)
{
    const int src = physOffset(from);
    const int dst = physOffset(to);
    std::memcpy(chars_.data() + dst, chars_.data() + src, cols_);
    std::memcpy(colors_.data() + dst, colors_.data() + src, cols_);
    std::memcpy(stored_.data() + dst, stored_.data() + src, cols_);
    std::memcpy(attrs_.data() + dst, attrs_.data() + src, cols_);
    if (unicode_) {
        std::memcpy(codes_.data() + dst, codes_.data() + src, cols_ * sizeof(uint32_t));
        std::memcpy(fores_.data() + dst, fores_.data() + src, cols_ * sizeof(uint32_t));
        std::memcpy(backs_.data() + dst, backs_.data() + src, cols_ * sizeof(uint32_t));
    }
}

void Buffer::blank(int r, int c0, int c1, uint8_t color, uint8_t attr)
{
    if (c1 <= c0)
        return;
    const int off = physOffset(r) + c0;
    const std::size_t n = static_cast<std::size_t>(c1 - c0);
    if (unicode_) {
        // Erased cells keep only the colours of the pen.
        attr = 0;
        std::fill_n(codes_.data() + off, n, uint32_t(' '));
        std::fill_n(fores_.data() + off, n, pen_.fore);
        std::fill_n(backs_.data() + off, n, pen_.back);
    }
    std::memset(chars_.data() + off, ' ', n);
    std::memset(colors_.data() + off, displayColor(color, attr, blinkOn_), n);
    std::memset(stored_.data() + off, color, n);
    std::memset(attrs_.data() + off, attr, n);
    touch(r, c0, c1 - 1);
}

void Buffer::shiftRows(int top, int bottom, int n)
{
    const int height = bottom - top + 1;
    if (height <= 0 || n == 0)
        return;
    const int count = std::min(std::abs(n), height);
    if (n > 0) {
        for (int q = top; q + count <= bottom; ++q)
            copyRow(viewRow_ + q + count, viewRow_ + q);
        for (int q = bottom - count + 1; q <= bottom; ++q)
            blank(viewRow_ + q, 0, cols_, curColor_, 0);
    } else {
        for (int q = bottom; q - count >= top; --q)
            copyRow(viewRow_ + q - count, viewRow_ + q);
        for (int q = top; q < top + count; ++q)
            blank(viewRow_ + q, 0, cols_, curColor_, 0);
    }
    touch(viewRow_ + top, 0, cols_ - 1);
    touch(viewRow_ + bottom, 0, cols_ - 1);
}

void Buffer::touch(int r, int c0, int c1)
{
    if (dirty_.empty()) {
        dirty_ = CellRect{r, c0, r, c1};
        return;
    }
    if (r < dirty_.top)
        dirty_.top = r;
    if (r > dirty_.bottom)
        dirty_.bottom = r;
    if (c0 < dirty_.left)
        dirty_.left = c0;
    if (c1 > dirty_.right)
        dirty_.right = c1;
}

// ---------------------------------------------------------------------------------------
// Cursor

bool Buffer::inRegion() const
{
    const int p = row_ - viewRow_;
    return p >= topMargin_ - 1 && p <= bottomMargin_ - 1;
}

void Buffer::moveTo(int pageRow, int column)
{
    row_ = viewRow_ + std::clamp(pageRow, 0, pageHeight_ - 1);
    col_ = std::clamp(column, 0, cols_ - 1);
}

void Buffer::setColumn(int column)
{
    col_ = std::clamp(column, 0, cols_ - 1);
}

void Buffer::horizontalTab()
{
    const int from = col_;
    setColumn(bGetNextTabStop(col_, 1));
    for (int i = from; i < col_ && capturing(); ++i)
        bAddToCapture(' ');
}

void Buffer::cursorUp(int n)
{
    const int limit = inRegion() ? topMargin_ - 1 : 0;
    const int p = row_ - viewRow_;
    if (p > limit)
        row_ = viewRow_ + std::max(limit, p - std::max(n, 0));
}

void Buffer::cursorDown(int n)
{
    const int limit = inRegion() ? bottomMargin_ - 1 : pageHeight_ - 1;
    const int p = row_ - viewRow_;
    if (p < limit)
        row_ = viewRow_ + std::min(limit, p + std::max(n, 0));
}

void Buffer::cursorRight(int n)
{
    if (n > 0 && col_ + n < cols_)
        col_ += n;
}

void Buffer::cursorLeft(int n)
{
    col_ = std::max(0, col_ - std::max(n, 0));
}

bool Buffer::setMargins(int top, int bottom)
{
    top = std::clamp(top, 1, pageHeight_);
    bottom = std::clamp(bottom, 1, pageHeight_);
    if (top > bottom)
        return false;
    topMargin_ = top;
    bottomMargin_ = bottom;
    row_ = viewRow_;
    col_ = 0;
    return true;
}

// ---------------------------------------------------------------------------------------
// Editing

void Buffer::clearScreen(uint8_t color)
{
    col_ = 0;
    const int target = viewRow_ + pageHeight_;
    if (target + pageHeight_ > rows_) {
        // No room below: turn the ring so the old page ends right above the new one.
        rotate(target + pageHeight_ - rows_);
        viewRow_ = rows_ - pageHeight_;
    } else {
        viewRow_ = target;
    }
    row_ = viewRow_;
    for (int r = viewRow_; r < viewRow_ + pageHeight_; ++r)
        blank(r, 0, cols_, color, curAttr_);
    if (viewRow_ > highestRow_)
        highestRow_ = viewRow_;
    viewMoved();
}

void Buffer::eraseInDisplay(int mode, uint8_t color)
{
    const int last = viewRow_ + pageHeight_ - 1;
    switch (mode) {
    case 0:
        blank(row_, col_, cols_, color, 0);
        for (int r = row_ + 1; r <= last; ++r)
            blank(r, 0, cols_, color, 0);
        break;
    case 1:
        for (int r = viewRow_; r < row_; ++r)
            blank(r, 0, cols_, color, 0);
        blank(row_, 0, col_ + 1, color, 0);
        break;
    case 2:
        clearScreen(color);
        break;
    default:
        break;
    }
}

void Buffer::eraseInLine(int mode, uint8_t color)
{
    switch (mode) {
    case 0:
        blank(row_, col_, cols_, color, 0);
        break;
    case 1:
        blank(row_, 0, col_ + 1, color, 0);
        break;
    case 2:
        blank(row_, 0, cols_, color, 0);
        break;
    default:
        break;
    }
}

void Buffer::eraseChars(int n)
{
    if (n <= 0)
        return;
    blank(row_, col_, col_ + std::min(n, cols_ - col_), curColor_, 0);
}

void Buffer::insertBlanks(int n)
{
    n = std::min(n, cols_ - col_);
    if (n <= 0)
        return;
    const int off = physOffset(row_) + col_;
    const std::size_t moved = static_cast<std::size_t>(cols_ - col_ - n);
    for (auto* plane : {&chars_, &colors_, &stored_, &attrs_})
        std::memmove(plane->data() + off + n, plane->data() + off, moved);
    if (unicode_) {
        for (auto* plane : {&codes_, &fores_, &backs_})
            std::memmove(plane->data() + off + n, plane->data() + off, moved * sizeof(uint32_t));
    }
    blank(row_, col_, col_ + n, curColor_, 0);
    if (unicode_)
        repairWide(row_);
    touch(row_, col_, cols_ - 1);
}

void Buffer::deleteChars(int n)
{
    n = std::min(n, cols_ - col_);
    if (n <= 0)
        return;
    const int off = physOffset(row_) + col_;
    const std::size_t moved = static_cast<std::size_t>(cols_ - col_ - n);
    for (auto* plane : {&chars_, &colors_, &stored_, &attrs_})
        std::memmove(plane->data() + off, plane->data() + off + n, moved);
    if (unicode_) {
        for (auto* plane : {&codes_, &fores_, &backs_})
            std::memmove(plane->data() + off, plane->data() + off + n, moved * sizeof(uint32_t));
    }
    blank(row_, cols_ - n, cols_, curColor_, 0);
    if (unicode_)
        repairWide(row_);
    touch(row_, col_, cols_ - 1);
}

void Buffer::insertLines(int n)
{
    if (n <= 0 || !inRegion())
        return;
    shiftRows(row_ - viewRow_, bottomMargin_ - 1, -n);
}

void Buffer::deleteLines(int n)
{
    if (n <= 0 || !inRegion())
        return;
    shiftRows(row_ - viewRow_, bottomMargin_ - 1, n);
}

// ---------------------------------------------------------------------------------------
// Tab stops. Horizontal stops are compared with the 0-based column, so the default stops
// 8, 16, ... land on the ninth, seventeenth, ... column. Slots hold 0 when empty and are
// kept ascending with the empty slots at the end.

void Buffer::sortTabs(std::vector<uint16_t>& tabs)
{
    std::vector<uint16_t> values;
    for (uint16_t t : tabs)
        if (t != 0)
            values.push_back(t);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::fill(tabs.begin(), tabs.end(), 0);
    std::copy(values.begin(), values.end(), tabs.begin());
}

// Puts a stop (from 1 up, checked by the caller) in the first empty slot, unless it is
// there already; with every slot taken the stop is not set.
void Buffer::addTabStop(std::vector<uint16_t>& tabs, int value)
{
    for (uint16_t t : tabs)
        if (t == value)
            return;
    for (uint16_t& t : tabs) {
        if (t == 0) {
            t = static_cast<uint16_t>(value);
            break;
        }
    }
    sortTabs(tabs);
}

void Buffer::removeTabStop(std::vector<uint16_t>& tabs, int value)
{
    for (uint16_t& t : tabs)
        if (value > 0 && t == value)
            t = 0;
    sortTabs(tabs);
}

int Buffer::bGetNextTabStop(int col, int count) const
{
    count = std::max(count, 1);
    int found = col;
    int seen = 0;
    for (uint16_t t : hTabs_) {
        if (t == 0 || t >= cols_ || t <= col)
            continue;
        found = t;
        if (++seen >= count)
            break;
    }
    return found;
}

int Buffer::bGetPrevTabStop(int col, int count) const
{
    count = std::max(count, 1);
    int found = col;
    int seen = 0;
    for (auto it = hTabs_.rbegin(); it != hTabs_.rend(); ++it) {
        const int t = *it;
        if (t == 0 || t >= cols_ || t >= col)
            continue;
        found = t;
        if (++seen >= count)
            break;
    }
    return found;
}

void Buffer::bSetHorizontalTabStop(int value)
{
    if (value <= 0 || value > 0xFFFF)
        return;
    addTabStop(hTabs_, value);
}

void Buffer::bClearHorizontalTabStop(int value)
{
    removeTabStop(hTabs_, value);
}

void Buffer::resetHorizontalTabStops(int upTo)
{
    std::fill(hTabs_.begin(), hTabs_.end(), 0);
    std::size_t slot = 0;
    for (int v = 8; v <= upTo && slot < hTabs_.size(); v += 8)
        hTabs_[slot++] = static_cast<uint16_t>(v);
}

void Buffer::bSetVerticalTabStop(int value)
{
    if (value <= 0 || value > pageHeight_)
        return;
    addTabStop(vTabs_, value);
}

void Buffer::bClearVerticalTabStop(int value)
{
    removeTabStop(vTabs_, value);
}

void Buffer::clearVerticalTabStops()
{
    std::fill(vTabs_.begin(), vTabs_.end(), 0);
}

int Buffer::nextVerticalTabStop(int pageRow1, int count) const
{
    count = std::max(count, 1);
    int found = pageRow1;
    int seen = 0;
    for (uint16_t t : vTabs_) {
        if (t == 0 || t > pageHeight_ || t <= pageRow1)
            continue;
        found = t;
        if (++seen >= count)
            break;
    }
    return found;
}

// ---------------------------------------------------------------------------------------
// Replies and reports

void Buffer::reply(const char* data, int len)
{
    if (output_ && len > 0)
        output_->PutBlock(data, len);
}

void Buffer::reportCursorPos(int column, int row)
{
    if (client_)
        client_->cursorPosReport(column, row);
}

// ---------------------------------------------------------------------------------------
// Planes and display

std::string Buffer::rowText(int r) const
{
    const uint8_t* p = charsRow(r);
    int n = cols_;
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
}

int Buffer::bCurLineLength() const
{
    return static_cast<int>(rowText(row_).size());
}

void Buffer::setDisplaySize(int rows, int cols)
{
    dispRowsWanted_ = rows;
    dispColsWanted_ = cols;
    dispRows_ = rows > 0 ? std::min(rows, rows_) : pageHeight_;
    dispCols_ = cols > 0 ? std::min(cols, cols_) : cols_;
    dispTop_ = std::clamp(dispTop_, 0, rows_ - dispRows_);
    viewCol_ = std::clamp(viewCol_, 0, cols_ - dispCols_);
    viewMoved();
}

void Buffer::followCursor()
{
    if (scrollback_)
        return;
    const int oldTop = dispTop_;
    const int oldCol = viewCol_;
    if (dispRows_ >= pageHeight_) {
        // The whole page fits: show it at the bottom of the display.
        dispTop_ = std::max(0, viewRow_ + pageHeight_ - dispRows_);
    } else {
        if (row_ >= dispTop_ + dispRows_)
            dispTop_ = row_ - dispRows_ + 1;
        if (row_ < dispTop_)
            dispTop_ = row_;
        dispTop_ = std::clamp(dispTop_, viewRow_, viewRow_ + pageHeight_ - dispRows_);
    }
    if (col_ >= viewCol_ + dispCols_)
        viewCol_ = col_ - dispCols_ + 1;
    if (col_ < viewCol_)
        viewCol_ = col_;
    viewCol_ = std::clamp(viewCol_, 0, cols_ - dispCols_);
    if (dispTop_ != oldTop || viewCol_ != oldCol)
        viewMoved();
}

void Buffer::bSetScrollMode(bool scrollback)
{
    if (scrollback == scrollback_)
        return;
    if (scrollback) {
        savedDispTop_ = dispTop_;
        savedViewCol_ = viewCol_;
    } else {
        dispTop_ = std::clamp(savedDispTop_, 0, rows_ - dispRows_);
        viewCol_ = std::clamp(savedViewCol_, 0, cols_ - dispCols_);
    }
    scrollback_ = scrollback;
    viewMoved();
    bPostStatusMsg();
}

void Buffer::bScroll(int dRows, int dCols)
{
    const int lastRow = std::max(highestRow_, viewRow_ + pageHeight_ - 1);
    const int maxTop = std::max(0, std::min(lastRow, rows_ - 1) - dispRows_ + 1);
    const int top = std::clamp(dispTop_ + dRows, 0, maxTop);
    const int left = std::clamp(viewCol_ + dCols, 0, cols_ - dispCols_);
    if (top != dispTop_ || left != viewCol_) {
        dispTop_ = top;
        viewCol_ = left;
        viewMoved();
    }
}

void Buffer::bGotoTop()
{
    bScroll(-rows_, -cols_);
}

void Buffer::bGotoBottom()
{
    bScroll(rows_, 0);
}

void Buffer::bMoveCaret()
{
    followCursor();
    postStatus(false);
}

void Buffer::bUpdateFont(int cellWidth, int cellHeight)
{
    cellWidth_ = std::max(cellWidth, 1);
    cellHeight_ = std::max(cellHeight, 1);
    viewMoved();
}

int Buffer::bConvertToRow(int y) const
{
    return std::clamp(dispTop_ + std::max(y, 0) / cellHeight_, 0, rows_ - 1);
}

int Buffer::bConvertToCol(int x) const
{
    return std::clamp(viewCol_ + std::max(x, 0) / cellWidth_, 0, cols_ - 1);
}

void Buffer::bNeedPaint()
{
    followCursor();
    const bool full = viewDirty_;
    const CellRect rect = dirty_;
    viewDirty_ = false;
    dirty_ = CellRect{};
    if (client_) {
        if (full)
            client_->viewChanged();
        else if (!rect.empty())
            client_->invalidateRect(rect);
    }
    postStatus(false);
}

void Buffer::bForcePaint()
{
    viewDirty_ = true;
    bNeedPaint();
}

void Buffer::bInvalidateChar(int r, int c)
{
    if (r >= 0 && r < rows_ && c >= 0 && c < cols_)
        touch(r, c, c);
}

void Buffer::bUpdateScrollThumb()
{
    if (client_)
        client_->viewChanged();
}

void Buffer::bPostStatusMsg()
{
    postStatus(true);
}

void Buffer::postStatus(bool always)
{
    const int r = scrollback_ ? 0 : row_ - viewRow_ + 1;
    const int c = scrollback_ ? 0 : col_ + 1;
    if (!always && r == lastStatusRow_ && c == lastStatusCol_ && viewRow_ + 1 == lastStatusView_
        && viewCol_ + 1 == lastStatusViewCol_)
        return;
    lastStatusRow_ = r;
    lastStatusCol_ = c;
    lastStatusView_ = viewRow_ + 1;
    lastStatusViewCol_ = viewCol_ + 1;
    if (client_)
        client_->terminalStatus(r, c, viewRow_ + 1, viewCol_ + 1);
}

void Buffer::bSetBlinkPhase(bool on)
{
    if (on == blinkOn_)
        return;
    blinkOn_ = on;
    for (int r = 0; r < rows_; ++r) {
        const int off = physOffset(r);
        for (int c = 0; c < cols_; ++c) {
            if (attrs_[off + c] & atBlink) {
                colors_[off + c] = displayColor(stored_[off + c], atBlink, on);
                touch(r, c, c);
            }
        }
    }
}

bool Buffer::anyBlinking() const
{
    return std::any_of(attrs_.begin(), attrs_.end(), [](uint8_t a) { return (a & atBlink) != 0; });
}

// ---------------------------------------------------------------------------------------
// Marking

void Buffer::bStartMark(int r, int c)
{
    if (marking_)
        bResetMarking();
    marking_ = true;
    markStartRow_ = markEndRow_ = std::clamp(r, 0, rows_ - 1);
    markStartCol_ = markEndCol_ = std::clamp(c, 0, cols_ - 1);
    touch(markStartRow_, markStartCol_, markStartCol_);
}

void Buffer::bUpdateMarks(int r, int c)
{
    if (!marking_)
        return;
    touchRows(std::min(markStartRow_, markEndRow_), std::max(markStartRow_, markEndRow_));
    markEndRow_ = std::clamp(r, 0, rows_ - 1);
    markEndCol_ = std::clamp(c, 0, cols_ - 1);
    touchRows(std::min(markStartRow_, markEndRow_), std::max(markStartRow_, markEndRow_));
}

void Buffer::bFixMarking()
{
    if (!marking_)
        return;
    if (markEndRow_ < markStartRow_
        || (markEndRow_ == markStartRow_ && markEndCol_ < markStartCol_)) {
        std::swap(markStartRow_, markEndRow_);
        std::swap(markStartCol_, markEndCol_);
    }
}

void Buffer::bResetMarking()
{
    if (!marking_)
        return;
    touchRows(std::min(markStartRow_, markEndRow_), std::max(markStartRow_, markEndRow_));
    marking_ = false;
}

bool Buffer::isMarked(int r, int c) const
{
    if (!marking_)
        return false;
    int sr = markStartRow_, sc = markStartCol_, er = markEndRow_, ec = markEndCol_;
    if (er < sr || (er == sr && ec < sc)) {
        std::swap(sr, er);
        std::swap(sc, ec);
    }
    if (r < sr || r > er)
        return false;
    if (r == sr && c < sc)
        return false;
    if (r == er && c > ec)
        return false;
    return true;
}

std::string Buffer::markedText() const
{
    std::string text;
    if (!marking_)
        return text;
    int sr = markStartRow_, sc = markStartCol_, er = markEndRow_, ec = markEndCol_;
    if (er < sr || (er == sr && ec < sc)) {
        std::swap(sr, er);
        std::swap(sc, ec);
    }
    for (int r = sr; r <= er; ++r) {
        const int c0 = (r == sr) ? sc : 0;
        const int c1 = (r == er) ? ec + 1 : cols_;
        if (unicode_) {
            std::string line;
            for (int c = c0; c < c1; ++c)
                appendUtf8(codeAt(r, c), line);
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            text += line;
            text += "\r\n";
            continue;
        }
        const uint8_t* p = charsRow(r);
        int end = c1;
        while (end > c0 && p[end - 1] == ' ')
            --end;
        text.append(reinterpret_cast<const char*>(p + c0), static_cast<std::size_t>(end - c0));
        text += "\r\n";
    }
    return text;
}

void Buffer::dropMarkOnOutput()
{
    if (marking_ && !persistentMark_)
        bResetMarking();
}

// ---------------------------------------------------------------------------------------
// Unicode mode

namespace {

// The RGB value of an indexed colour: the palette, the 6x6x6 cube, the grey ramp.
uint32_t indexedRgb(int index)
{
    if (index < 16)
        return Buffer::kPalette[index];
    if (index < 232) {
        static constexpr int kLevel[6] = {0, 95, 135, 175, 215, 255};
        const int i = index - 16;
        return (uint32_t(kLevel[i / 36]) << 16) | (uint32_t(kLevel[(i / 6) % 6]) << 8)
               | uint32_t(kLevel[i % 6]);
    }
    const uint32_t g = uint32_t(8 + (index - 232) * 10);
    return (g << 16) | (g << 8) | g;
}

// The palette entry nearest to an RGB value.
int nearestPalette(uint32_t rgb)
{
    const int r = int((rgb >> 16) & 0xFF), g = int((rgb >> 8) & 0xFF), b = int(rgb & 0xFF);
    int best = 0;
    long bestDist = -1;
    for (int i = 0; i < 16; ++i) {
        const uint32_t p = Buffer::kPalette[i];
        const long dr = r - int((p >> 16) & 0xFF), dg = g - int((p >> 8) & 0xFF), db = b - int(p & 0xFF);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

// A byte that stands for a code point in the byte planes.
inline uint8_t standIn(uint32_t cp)
{
    return cp < 0x100 ? uint8_t(cp) : uint8_t('?');
}

void putUtf8(char32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

int Buffer::paletteIndexOf(uint32_t color, int fallback)
{
    switch (color & colorTagMask) {
    case colorIndexedTag: {
        const int index = int(color & 0xFF);
        return index < 16 ? index : nearestPalette(indexedRgb(index));
    }
    case colorRgbTag:
        return nearestPalette(color & 0xFFFFFF);
    default:
        return fallback;
    }
}

uint32_t Buffer::rgbOf(uint32_t color, int fallback)
{
    switch (color & colorTagMask) {
    case colorIndexedTag:
        return indexedRgb(int(color & 0xFF));
    case colorRgbTag:
        return color & 0xFFFFFF;
    default:
        return kPalette[fallback & 0x0F];
    }
}

void Buffer::setUnicode(bool on)
{
    if (on == unicode_)
        return;
    if (on) {
        const std::size_t cells = chars_.size();
        std::vector<uint32_t> codes(cells), fores(cells), backs(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            codes[i] = chars_[i];
            if (chars_[i] == ' ' && attrs_[i] == 0)
                continue; // a blank takes the default colours
            // The byte planes hold colours after reverse; the Unicode planes before it.
            const uint8_t color = stored_[i];
            const bool rev = attrs_[i] & atReverse;
            fores[i] = indexedColor(rev ? color >> 4 : color & 0x0F);
            backs[i] = indexedColor(rev ? color & 0x0F : color >> 4);
        }
        codes_.swap(codes);
        fores_.swap(fores);
        backs_.swap(backs);
        unicode_ = true;
        pen_ = Pen{};
        setPen(pen_);
    } else {
        if (altScreen_)
            setAltScreen(false);
        unicode_ = false;
        codes_ = {};
        fores_ = {};
        backs_ = {};
        clusters_ = {};
        cursorVisible_ = true;
        reverseVideo_ = false;
        // The byte planes alone must keep within their limits again.
        if (cols_ > kMaxCols || static_cast<long>(rows_) * cols_ > kMaxCells) {
            const int cols = std::min(cols_, kMaxCols);
            const int page = std::min(pageHeight_, kMaxCells / cols);
            const int rows = std::clamp(rows_, page, kMaxCells / cols);
            if (bResize(rows, cols, page) != 0)
                bNewBuffer(page, cols, page);
        }
    }
    viewMoved();
    if (client_)
        client_->cellModeChanged();
}

void Buffer::setPen(const Pen& pen)
{
    pen_ = pen;
    // The byte planes get the nearest palette colours.
    bSetAttr(paletteIndexOf(pen.fore, defFore_), paletteIndexOf(pen.back, defBack_), pen.attr);
}

void Buffer::blankCode(int off)
{
    codes_[off] = ' ';
    chars_[off] = ' ';
}

void Buffer::splitWideAt(int r, int c0, int c1)
{
    const int off = physOffset(r);
    if (c0 > 0 && c0 < cols_ && (codes_[off + c0] & cellContinuation)) {
        blankCode(off + c0 - 1);
        touch(r, c0 - 1, c0 - 1);
    }
    if (c1 > 0 && c1 < cols_ && (codes_[off + c1 - 1] & cellWide)) {
        blankCode(off + c1);
        touch(r, c1, c1);
    }
}

void Buffer::repairWide(int r)
{
    const int off = physOffset(r);
    for (int c = 0; c < cols_; ++c) {
        const uint32_t code = codes_[off + c];
        const bool leftOk = c + 1 < cols_ && (codes_[off + c + 1] & cellContinuation);
        if ((code & cellWide) && !leftOk)
            blankCode(off + c);
        else if ((code & cellContinuation) && (c == 0 || !(codes_[off + c - 1] & cellWide)))
            blankCode(off + c);
    }
}

void Buffer::setByteStandIns(int off, int n)
{
    const uint8_t shown = displayColor(curColor_, curAttr_, blinkOn_);
    std::memset(colors_.data() + off, shown, static_cast<std::size_t>(n));
    std::memset(stored_.data() + off, curColor_, static_cast<std::size_t>(n));
    std::memset(attrs_.data() + off, curAttr_, static_cast<std::size_t>(n));
    std::fill_n(fores_.data() + off, n, pen_.fore);
    std::fill_n(backs_.data() + off, n, pen_.back);
}

void Buffer::putAscii(const uint8_t* text, int n)
{
    n = std::min(n, cols_ - col_);
    if (n <= 0)
        return;
    dropMarkOnOutput();
    if (capturing())
        captureBytes(text, static_cast<std::size_t>(n));
    splitWideAt(row_, col_, col_ + n);
    const int off = physOffset(row_) + col_;
    std::memcpy(chars_.data() + off, text, static_cast<std::size_t>(n));
    uint32_t* codes = codes_.data() + off;
    for (int i = 0; i < n; ++i)
        codes[i] = text[i];
    setByteStandIns(off, n);
    touch(row_, col_, col_ + n - 1);
    if (row_ > highestRow_)
        highestRow_ = row_;
}

void Buffer::putCells(const uint32_t* codes, int n)
{
    n = std::min(n, cols_ - col_);
    if (n <= 0)
        return;
    dropMarkOnOutput();
    if (capturing())
        captureCodes(codes, n);
    splitWideAt(row_, col_, col_ + n);
    const int off = physOffset(row_) + col_;
    for (int i = 0; i < n; ++i) {
        const uint32_t code = codes[i];
        codes_[off + i] = code;
        if (code & cellContinuation)
            chars_[off + i] = ' ';
        else if (code & cellCluster)
            chars_[off + i] = standIn(clusters_[code & cellCodeMask].front());
        else
            chars_[off + i] = standIn(code & cellCodeMask);
    }
    setByteStandIns(off, n);
    touch(row_, col_, col_ + n - 1);
    if (row_ > highestRow_)
        highestRow_ = row_;
}

void Buffer::combineAt(int r, int c, char32_t mark)
{
    if (!unicode_ || r < 0 || r >= rows_ || c < 0 || c >= cols_)
        return;
    int off = physOffset(r) + c;
    if ((codes_[off] & cellContinuation) && c > 0) {
        --off;
        --c;
    }
    const uint32_t code = codes_[off];
    std::u32string cluster;
    if (code & cellCluster)
        cluster = clusters_[code & cellCodeMask];
    else
        cluster.assign(1, char32_t(code & cellCodeMask));
    // A character keeps at most a few marks, as many as terminals draw on one cell.
    if (cluster.size() >= 6)
        return;
    cluster += mark;
    std::size_t index = 0;
    while (index < clusters_.size() && clusters_[index] != cluster)
        ++index;
    if (index == clusters_.size()) {
        if (clusters_.size() >= kMaxClusters)
            return;
        clusters_.push_back(cluster);
    }
    codes_[off] = cellCluster | uint32_t(index) | (code & cellWide);
    if (capturing()) {
        std::string utf8;
        putUtf8(mark, utf8);
        captureBytes(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    }
    touch(r, c, c);
}

void Buffer::cellCodePoints(int r, int c, std::u32string& out) const
{
    const uint32_t code = codeAt(r, c);
    if (code & cellContinuation)
        return;
    if (code & cellCluster)
        out += clusters_[code & cellCodeMask];
    else
        out += char32_t(code & cellCodeMask);
}

void Buffer::appendUtf8(uint32_t code, std::string& out) const
{
    if (code & cellContinuation)
        return;
    if (code & cellCluster) {
        for (char32_t cp : clusters_[code & cellCodeMask])
            putUtf8(cp, out);
    } else {
        putUtf8(char32_t(code & cellCodeMask), out);
    }
}

void Buffer::captureCodes(const uint32_t* codes, int n)
{
    std::string utf8;
    for (int i = 0; i < n; ++i)
        appendUtf8(codes[i], utf8);
    captureBytes(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
}

std::string Buffer::rowUtf8(int r) const
{
    if (!unicode_)
        return rowText(r);
    std::string text;
    const uint32_t* codes = codesRow(r);
    int end = cols_;
    while (end > 0 && codes[end - 1] == ' ')
        --end;
    for (int c = 0; c < end; ++c)
        appendUtf8(codes[c], text);
    return text;
}

void Buffer::erasePageRows(int top, int bottom)
{
    top = std::max(top, 0);
    bottom = std::min(bottom, pageHeight_ - 1);
    for (int q = top; q <= bottom; ++q)
        blank(viewRow_ + q, 0, cols_, curColor_, 0);
}

void Buffer::eraseInRow(int c0, int c1)
{
    c0 = std::max(c0, 0);
    c1 = std::min(c1, cols_);
    if (c1 <= c0)
        return;
    if (unicode_)
        splitWideAt(row_, c0, c1);
    blank(row_, c0, c1, curColor_, 0);
}

void Buffer::scrollRegion(int n)
{
    const int top = topMargin_ - 1;
    const int bot = bottomMargin_ - 1;
    const int height = bot - top + 1;
    if (n == 0 || height <= 0)
        return;
    if (n < 0 || top > 0 || altScreen_) {
        shiftRows(top, bot, std::clamp(n, -height, height));
        return;
    }
    // The region starts at the page's top: its lines go into the scrollback, as a line
    // feed on the bottom margin sends them.
    n = std::min(n, height);
    const int pageRow = row_ - viewRow_;
    for (int k = 0; k < n; ++k) {
        if (viewRow_ + pageHeight_ < rows_)
            ++viewRow_;
        else
            rotate(1);
        for (int q = pageHeight_ - 1; q > bot; --q)
            copyRow(viewRow_ + q - 1, viewRow_ + q);
        blank(viewRow_ + bot, 0, cols_, curColor_, 0);
    }
    row_ = viewRow_ + pageRow;
    if (viewRow_ + pageHeight_ - 1 > highestRow_)
        highestRow_ = viewRow_ + pageHeight_ - 1;
    viewMoved();
}

void Buffer::eraseScrollback()
{
    if (viewRow_ == 0)
        return;
    for (int q = 0; q < pageHeight_; ++q)
        copyRow(viewRow_ + q, q);
    for (int r = pageHeight_; r < rows_; ++r)
        blank(r, 0, cols_, curColor_, 0);
    row_ -= viewRow_;
    highestRow_ = std::max(0, std::min(highestRow_ - viewRow_, pageHeight_ - 1));
    dispTop_ = std::max(0, dispTop_ - viewRow_);
    savedDispTop_ = std::max(0, savedDispTop_ - viewRow_);
    viewRow_ = 0;
    marking_ = false;
    viewMoved();
}

void Buffer::setAltScreen(bool on)
{
    if (on == altScreen_)
        return;
    const std::size_t stride = static_cast<std::size_t>(cols_);
    if (on) {
        SavedPage& p = altSaved_;
        p.rows = pageHeight_;
        p.cols = cols_;
        const std::size_t cells = static_cast<std::size_t>(pageHeight_) * stride;
        p.chars.resize(cells);
        p.colors.resize(cells);
        p.stored.resize(cells);
        p.attrs.resize(cells);
        p.codes.resize(unicode_ ? cells : 0);
        p.fores.resize(unicode_ ? cells : 0);
        p.backs.resize(unicode_ ? cells : 0);
        for (int q = 0; q < pageHeight_; ++q) {
            const int src = physOffset(viewRow_ + q);
            const std::size_t dst = q * stride;
            std::memcpy(p.chars.data() + dst, chars_.data() + src, stride);
            std::memcpy(p.colors.data() + dst, colors_.data() + src, stride);
            std::memcpy(p.stored.data() + dst, stored_.data() + src, stride);
            std::memcpy(p.attrs.data() + dst, attrs_.data() + src, stride);
            if (unicode_) {
                std::memcpy(p.codes.data() + dst, codes_.data() + src, stride * 4);
                std::memcpy(p.fores.data() + dst, fores_.data() + src, stride * 4);
                std::memcpy(p.backs.data() + dst, backs_.data() + src, stride * 4);
            }
        }
        altScreen_ = true;
        erasePageRows(0, pageHeight_ - 1);
    } else {
        // The page may have changed its shape meanwhile: what fits comes back, the rest
        // is blank.
        const SavedPage& p = altSaved_;
        const int n = std::min(p.cols, cols_);
        for (int q = 0; q < pageHeight_; ++q) {
            const int r = viewRow_ + q;
            blank(r, 0, cols_, curColor_, 0);
            if (q >= p.rows)
                continue;
            const int dst = physOffset(r);
            const std::size_t src = static_cast<std::size_t>(q) * p.cols;
            std::memcpy(chars_.data() + dst, p.chars.data() + src, n);
            std::memcpy(colors_.data() + dst, p.colors.data() + src, n);
            std::memcpy(stored_.data() + dst, p.stored.data() + src, n);
            std::memcpy(attrs_.data() + dst, p.attrs.data() + src, n);
            if (unicode_ && !p.codes.empty()) {
                std::memcpy(codes_.data() + dst, p.codes.data() + src, n * 4u);
                std::memcpy(fores_.data() + dst, p.fores.data() + src, n * 4u);
                std::memcpy(backs_.data() + dst, p.backs.data() + src, n * 4u);
                repairWide(r);
            }
        }
        altScreen_ = false;
        altSaved_ = SavedPage{};
    }
    viewMoved();
}

int Buffer::bResize(int rows, int cols, int pageHeight)
{
    const int maxCols = unicode_ ? kMaxUnicodeCols : kMaxCols;
    const long maxCells = unicode_ ? kMaxUnicodeCells : kMaxCells;
    if (cols < 1 || cols > maxCols || pageHeight < 1 || rows < pageHeight
        || static_cast<long>(rows) * cols > maxCells)
        return kErrBufferSize;
    if (rows == rows_ && cols == cols_ && pageHeight == pageHeight_)
        return 0;

    // Where the new page starts, in the old buffer's rows: a page that gets shorter
    // keeps the cursor on it by sending rows above it into the scrollback; a page that
    // grows takes rows back from the scrollback.
    const int cursorPageRow = row_ - viewRow_;
    int newTop = viewRow_;
    if (pageHeight < pageHeight_) {
        if (cursorPageRow >= pageHeight)
            newTop = viewRow_ + cursorPageRow - pageHeight + 1;
    } else if (!altScreen_) {
        newTop = std::max(0, viewRow_ - (pageHeight - pageHeight_));
    }
    // As much scrollback as the new buffer holds comes along.
    const int first = std::max(0, newTop + pageHeight - rows);

    const std::size_t cells = static_cast<std::size_t>(rows) * cols;
    std::vector<uint8_t> chars, colors, stored, attrs;
    std::vector<uint32_t> codes, fores, backs;
    try {
        chars.assign(cells, ' ');
        colors.assign(cells, curColor_);
        stored.assign(cells, curColor_);
        attrs.assign(cells, 0);
        if (unicode_) {
            codes.assign(cells, ' ');
            fores.assign(cells, pen_.fore);
            backs.assign(cells, pen_.back);
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    const int n = std::min(cols, cols_);
    // Rows below the old page hold nothing yet.
    const int lastUsed = viewRow_ + pageHeight_ - 1;
    for (int r = first; r <= lastUsed && r - first < rows; ++r) {
        const int src = physOffset(r);
        const std::size_t dst = static_cast<std::size_t>(r - first) * cols;
        std::memcpy(chars.data() + dst, chars_.data() + src, n);
        std::memcpy(colors.data() + dst, colors_.data() + src, n);
        std::memcpy(stored.data() + dst, stored_.data() + src, n);
        std::memcpy(attrs.data() + dst, attrs_.data() + src, n);
        if (unicode_) {
            std::memcpy(codes.data() + dst, codes_.data() + src, n * 4u);
            std::memcpy(fores.data() + dst, fores_.data() + src, n * 4u);
            std::memcpy(backs.data() + dst, backs_.data() + src, n * 4u);
        }
    }
    const int oldRow = row_;
    const int oldHighest = highestRow_;
    chars_.swap(chars);
    colors_.swap(colors);
    stored_.swap(stored);
    attrs_.swap(attrs);
    codes_.swap(codes);
    fores_.swap(fores);
    backs_.swap(backs);
    rows_ = rows;
    cols_ = cols;
    pageHeight_ = pageHeight;
    base_ = 0;
    viewRow_ = newTop - first;
    row_ = std::clamp(oldRow - first, viewRow_, viewRow_ + pageHeight_ - 1);
    col_ = std::min(col_, cols_ - 1);
    highestRow_ = std::clamp(std::min(oldHighest, lastUsed) - first, 0, rows_ - 1);
    topMargin_ = 1;
    bottomMargin_ = pageHeight_;
    hTabs_.assign(kMaxHorzTabs, 0);
    resetHorizontalTabStops(cols_);
    saved_.pageRow = std::min(saved_.pageRow, pageHeight_ - 1);
    saved_.column = std::min(saved_.column, cols_ - 1);
    marking_ = false;
    if (unicode_)
        for (int r = 0; r < rows_; ++r)
            repairWide(r);
    dispTop_ = viewRow_;
    setDisplaySize(dispRowsWanted_, dispColsWanted_);
    dirty_ = CellRect{};
    viewMoved();
    if (emulator_)
        emulator_->pageResized();
    return 0;
}

void Buffer::setCursorVisible(bool on)
{
    if (on == cursorVisible_)
        return;
    cursorVisible_ = on;
    touch(row_, col_, col_);
}

void Buffer::setReverseVideo(bool on)
{
    if (on == reverseVideo_)
        return;
    reverseVideo_ = on;
    viewMoved();
}

void Buffer::setTitle(const std::string& title)
{
    if (client_)
        client_->titleChanged(title);
}

void Buffer::bell()
{
    if (client_)
        client_->bell();
}

// ---------------------------------------------------------------------------------------
// Capture

int Buffer::bSetCapture(bool on, bool append, const std::string& fileName)
{
    int rc = 0;
    if (capturing()) {
        rc = bFlushCapture();
        if (captureFd_ >= 0) {
            if (::close(captureFd_) != 0 && rc == 0)
                rc = errno == ENOSPC ? kErrDiskFull : -errno;
            captureFd_ = -1;
        }
        captureBuf_.clear();
        captureBuf_.shrink_to_fit();
        captureLen_ = 0;
    }
    if (!on)
        return rc;

    captureName_ = fileName.empty() ? std::string(kDefaultCaptureName) : fileName;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(captureName_.c_str(), flags, 0644);
    if (fd < 0)
        return -errno;
    try {
        captureBuf_.assign(kCaptureBufferSize, 0);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return kErrOutOfMemory;
    }
    captureLen_ = 0;
    captureFd_ = fd;
    return 0;
}

void Buffer::bAddToCapture(uint8_t ch)
{
    if (!capturing())
        return;
    captureBuf_[captureLen_++] = static_cast<char>(ch);
    if (captureLen_ >= captureBuf_.size())
        bFlushCapture();
}

void Buffer::captureMovement(uint8_t ch)
{
    if (ch == 0x0D)
        return;
    if (ch == 0x0A && captureCrLf_)
        bAddToCapture(0x0D);
    bAddToCapture(ch);
}

void Buffer::captureBytes(const uint8_t* data, std::size_t len)
{
    while (len > 0 && capturing()) {
        const std::size_t n = std::min(len, captureBuf_.size() - captureLen_);
        std::memcpy(captureBuf_.data() + captureLen_, data, n);
        captureLen_ += n;
        data += n;
        len -= n;
        if (captureLen_ >= captureBuf_.size())
            bFlushCapture();
    }
}

int Buffer::bFlushCapture()
{
    if (!capturing() || captureLen_ == 0)
        return 0;
    const int rc = writeCapture(captureBuf_.data(), captureLen_);
    captureLen_ = 0;
    if (rc < 0)
        failCapture(rc);
    return rc;
}

int Buffer::writeCapture(const char* data, std::size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(captureFd_, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return (errno == ENOSPC || errno == EDQUOT) ? kErrDiskFull : -errno;
        }
        if (n == 0)
            return kErrDiskFull;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return 0;
}

void Buffer::failCapture(int code)
{
    if (captureFd_ >= 0)
        ::close(captureFd_);
    captureFd_ = -1;
    captureLen_ = 0;
    captureBuf_.clear();
    captureBuf_.shrink_to_fit();
    if (client_)
        client_->captureError(code);
}

} // namespace zelvo::terminal
