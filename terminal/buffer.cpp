#include "terminal/buffer.h"

#include "terminal/line_output.h"
#include "terminal/terminal_emulator.h"
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
    if (cols < 1 || cols > kMaxCols || pageHeight < 1 || rows < pageHeight
        || static_cast<long>(rows) * cols > kMaxCells)
        return kErrBufferSize;
    const std::size_t cells = static_cast<std::size_t>(rows) * cols;
    std::vector<uint8_t> chars, colors, stored, attrs;
    try {
        chars.assign(cells, ' ');
        colors.assign(cells, 0);
        stored.assign(cells, 0);
        attrs.assign(cells, 0);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Buffer allocation failed");
    }
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
    if (top > 0) {
        // A region that starts below the page's top scrolls in place; its top line is
        // lost and the rows above it stay where they are.
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
}

void Buffer::blank(int r, int c0, int c1, uint8_t color, uint8_t attr)
{
    if (c1 <= c0)
        return;
    const int off = physOffset(r) + c0;
    const std::size_t n = static_cast<std::size_t>(c1 - c0);
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
    blank(row_, col_, col_ + n, curColor_, 0);
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
    blank(row_, cols_ - n, cols_, curColor_, 0);
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
