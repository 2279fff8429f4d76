#include "terminal/ui/terminal_window.h"

#include "terminal/emulation.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/terminal_errors.h"
#include "terminal/ui/terminal_font.h"
#include "terminal/ui/virtual_keys.h"

#include <algorithm>
#include <new>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>

namespace zelvo::terminal {

TerminalWindow::TerminalWindow(QWidget* parent) : QAbstractScrollArea(parent)
{
    buffer_.setClient(this);
    buffer_.setLineOutput(nullptr);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    paintTimer_.setSingleShot(true);
    connect(&paintTimer_, &QTimer::timeout, this, [this] { flushPaint(); });
    flashTimer_.setSingleShot(true);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        flashing_ = false;
        fullDirty_ = true;
        schedulePaint();
    });
    blinkTimer_.setTimerType(Qt::CoarseTimer);
    connect(&blinkTimer_, &QTimer::timeout, this, [this] { blinkTick(); });
    blinkTimer_.start(blinkTime_);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (updatingScrollBars_) return;
        buffer_.bScroll(v - buffer_.displayTop(), 0);
        afterChange();
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        if (updatingScrollBars_) return;
        buffer_.bScroll(0, v - buffer_.ViewCol());
        afterChange();
    });

    setTerminalFont(QStringLiteral("Terminal"), 0, 9);
    resize(200, 200);
    setDisplayRows(uint16_t(wantRows_));
    setDisplayColumns(uint16_t(wantCols_));
}

TerminalWindow::~TerminalWindow()
{
    // Taking the emulation away below reports to the handlers; their owners may be gone.
    onTitle_ = nullptr;
    onTerminalStatus_ = nullptr;
    onTerminalError_ = nullptr;
    setComPort(nullptr);
    setEmulator(nullptr);
    blinkTimer_.stop();
    paintTimer_.stop();
    buffer_.setClient(nullptr);
    buffer_.setLineOutput(nullptr);
    if (buffer_.capturing()) buffer_.bSetCapture(false, false, captureFile_);
}

// ---- Port binding ---------------------------------------------------------------------

void TerminalWindow::setComPort(comm::ComPort* port)
{
    if (port == port_) return;
    if (port_) {
        unregisterHandler();
        dispatcher_ = nullptr;
        buffer_.setLineOutput(nullptr);
        port_->RemovePortUser(this);
    }
    port_ = port;
    if (!port_) return;
    port_->AddPortUser(this);
    if (port_->State() == comm::ComPort::psOpen && port_->Dispatcher()) portOpened();
}

int TerminalWindow::frameIntervalMs() const
{
    const QScreen* s = screen();
    const double rate = s && s->refreshRate() > 1.0 ? s->refreshRate() : 60.0;
    return std::max(kMinPaintIntervalMs, int(1000.0 / rate));
}

void TerminalWindow::portOpened()
{
    if (!port_ || !port_->Dispatcher()) return;
    dispatcher_ = port_->Dispatcher();
    // A steady stream of received bytes is taken, and shown, every kInputPacingFrames
    // frames: more notifications than the eye can follow only cost wake-ups. Bytes after
    // a quiet spell (an echo of a typed key) are still shown at once.
    dispatcher_->SetInputPacing(uint32_t(kInputPacingFrames * frameIntervalMs()));
    buffer_.setLineOutput(this);
    sendWindowSize();
    if (resumeOnOpen_) {
        active_ = true;
        registerHandler();
    }
}

void TerminalWindow::portClosing()
{
    // The title belonged to the far side of this line.
    titleChanged(std::string());
    resumeOnOpen_ = active_;
    unregisterHandler();
    active_ = false;
    dispatcher_ = nullptr;
    buffer_.setLineOutput(nullptr);
}

void TerminalWindow::registerHandler()
{
    if (registered_ || !dispatcher_) return;
    dispatcher_->AddWindowHandler(this);
    dispatcher_->SetAvailLength(1);
    registered_ = true;
}

void TerminalWindow::unregisterHandler()
{
    if (!registered_) return;
    registered_ = false;
    if (dispatcher_) dispatcher_->RemoveWindowHandler(this);
}

void TerminalWindow::setActive(bool on)
{
    active_ = on;
    resumeOnOpen_ = on;
    if (!dispatcher_) return;
    if (on) registerHandler();
    else unregisterHandler();
}

void TerminalWindow::windowMessage(uint16_t msg, uint32_t wParam, uint32_t)
{
    switch (msg) {
    case comm::MsgPortOpen: portOpened(); break;
    case comm::MsgPortClose: portClosing(); break;
    case comm::MsgTriggerAvail: readAvail(wParam); break;
    default: break;
    }
}

void TerminalWindow::readAvail(uint32_t count)
{
    if (!dispatcher_ || !registered_) return;
    uint8_t chunk[comm::InputBufferSize];
    // The bytes of a chunk that are to be shown: all of them, or what the filter leaves.
    auto shown = [this, &chunk](int n, const uint8_t*& from, size_t& length) {
        from = chunk;
        length = size_t(n);
        if (!receiveFilter_) return;
        filtered_.clear();
        receiveFilter_(chunk, size_t(n), filtered_);
        from = filtered_.data();
        length = filtered_.size();
    };
    const uint8_t* from = nullptr;
    size_t length = 0;
    if (scrollback_) {
        // The view is held still: keep the bytes here (taking them as announced keeps
        // the dispatcher's read-ahead in step) and show them when scrollback ends.
        while (count > 0 && held_.size() < kMaxHeldBytes) {
            const uint32_t want = std::min<uint32_t>({count, uint32_t(sizeof chunk),
                                                       uint32_t(kMaxHeldBytes - held_.size())});
            const int n = dispatcher_->GetBlock(chunk, want);
            if (n <= 0) break;
            if (onReceived_) onReceived_(chunk, size_t(n));
            shown(n, from, length);
            held_.insert(held_.end(), from, from + length);
            count -= uint32_t(n);
        }
        // Past the cap the rest stays in the port (holding the sender back where flow
        // control is on) and is read when scrollback ends.
        if (count > 0) dataPending_ = true;
        return;
    }
    while (count > 0) {
        const int n = dispatcher_->GetBlock(chunk, std::min<uint32_t>(count, sizeof chunk));
        if (n <= 0) break;
        if (onReceived_) onReceived_(chunk, size_t(n));
        shown(n, from, length);
        showReceived(from, length);
        bytesShown_ += uint64_t(length);
        count -= uint32_t(n);
    }
    afterChange();
}

void TerminalWindow::processHeld()
{
    if (held_.empty()) return;
    std::vector<uint8_t> bytes;
    bytes.swap(held_);
    showReceived(bytes.data(), bytes.size());
    bytesShown_ += bytes.size();
}

void TerminalWindow::showReceived(const uint8_t* bytes, size_t len)
{
    if (lineFilter_.passThrough()) {
        lineFilter_.passed(bytes, len);
        buffer_.processBlock(bytes, len);
        return;
    }
    stamped_.clear();
    lineFilter_.apply(bytes, len, stamped_);
    buffer_.processBlock(stamped_.data(), stamped_.size());
}

void TerminalWindow::setTimestamps(TimestampMode mode)
{
    // Stamps begin with the next line unless the cursor already stands at a line's start.
    lineFilter_.setTimestamps(mode, buffer_.column() == 0);
}

int TerminalWindow::PutBlock(const char* bytes, int len)
{
    if (!dispatcher_ || len <= 0) return 0;
    return dispatcher_->PutBlock(bytes, uint32_t(len));
}

void TerminalWindow::sendToLine(const std::string& bytes)
{
    // An inactive window has handed the line to someone else (a file transfer), and held
    // typing means a file server exchange is under way; typed bytes would be mixed into
    // that exchange, so they are dropped.
    if (bytes.empty() || !dispatcher_ || !active_ || typingHeld_) return;
    if (halfDuplex_) {
        for (char c : bytes) {
            const int rc = dispatcher_->PutBlock(&c, 1);
            if (rc < 0) {
                reportError(rc);
                break;
            }
            buffer_.bProcessChar(uint8_t(c));
        }
        afterChange();
        return;
    }
    const int rc = dispatcher_->PutBlock(bytes.data(), uint32_t(bytes.size()));
    if (rc < 0) reportError(rc);
}

void TerminalWindow::SendText(const std::string& bytes) { sendToLine(bytes); }

void TerminalWindow::ShowLocalLine(const std::string& text)
{
    std::string line;
    if (buffer_.column() > 0) line = "\r\n";
    if (buffer_.unicode()) {
        // The Unicode planes are written by the emulator only: the text goes through it,
        // without control characters, so that nothing in it acts as a sequence.
        for (char c : text)
            if (uint8_t(c) >= 0x20 && c != 0x7F) line += c;
        line += "\r\n";
        buffer_.processBlock(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    } else {
        line += text;
        line += "\r\n";
        buffer_.writeText(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    }
    // The next received byte begins a line (and gets its stamp).
    lineFilter_.lineStarts();
    afterChange();
}

void TerminalWindow::reportError(int code)
{
    // Delivered from the event loop, so a handler that shows a message box does not run
    // inside the buffer's processing or a dispatcher notification.
    QTimer::singleShot(0, this, [this, code] {
        if (onTerminalError_) onTerminalError_(*this, code);
    });
}

// ---- Buffer notifications -------------------------------------------------------------

void TerminalWindow::invalidateRect(const CellRect& r)
{
    if (r.empty()) return;
    const int top = r.top - buffer_.displayTop(), left = r.left - buffer_.ViewCol();
    const QRect cells = QRect(left, top, r.right - r.left + 1, r.bottom - r.top + 1)
                            .intersected(QRect(0, 0, buffer_.displayCols(), buffer_.displayRows()));
    if (cells.isEmpty()) return;
    dirty_ = dirty_.united(cells);
    schedulePaint();
}

void TerminalWindow::viewChanged()
{
    viewMoved_ = true;
    scrollBarsDirty_ = true;
    schedulePaint();
}

void TerminalWindow::terminalStatus(int row, int column, int viewRow, int viewCol)
{
    invalidateCaret();
    if (onTerminalStatus_)
        onTerminalStatus_(*this, uint8_t(row), uint8_t(column), uint16_t(viewRow), uint16_t(viewCol));
}

void TerminalWindow::captureError(int code)
{
    capture_ = cmOff;
    if (!captureQuiet_) reportError(code);
}

void TerminalWindow::cursorPosReport(int column, int row)
{
    QTimer::singleShot(0, this, [this, column, row] {
        if (onCursorPosReport_) onCursorPosReport_(*this, column, row);
    });
}

void TerminalWindow::bell()
{
    if (sinceBell_.isValid() && sinceBell_.elapsed() < kMinBellIntervalMs)
        return;
    sinceBell_.restart();
    ++bellCount_;
    if (bellStyle_ == bsVisual) {
        flashing_ = true;
        fullDirty_ = true;
        schedulePaint();
        flashTimer_.start(kFlashMs);
    } else {
        QApplication::beep();
    }
}

void TerminalWindow::titleChanged(const std::string& title)
{
    if (title == title_) return;
    title_ = title;
    if (onTitle_) onTitle_(*this, title_);
}

void TerminalWindow::cellModeChanged()
{
    if (buffer_.unicode()) {
        followDisplay();
    } else {
        // Back to an emulation of the fixed page: its configured shape, and no title.
        applyConfiguredShape();
        titleChanged(std::string());
    }
    fullDirty_ = true;
    scrollBarsDirty_ = true;
    schedulePaint();
}

void TerminalWindow::afterChange()
{
    buffer_.bNeedPaint();
    invalidateCaret();
    wakeBlink();
}

// ---- Repainting -----------------------------------------------------------------------

void TerminalWindow::invalidateCaret()
{
    const QPoint now(buffer_.column(), buffer_.row());
    if (now == caretCell_) return;
    for (const QPoint& c : {caretCell_, now}) {
        if (c.x() < 0) continue;
        const QRect cell(c.x() - buffer_.ViewCol(), c.y() - buffer_.displayTop(), 1, 1);
        if (QRect(0, 0, buffer_.displayCols(), buffer_.displayRows()).contains(cell.topLeft()))
            dirty_ = dirty_.united(cell);
    }
    caretCell_ = now;
    if (!dirty_.isEmpty()) schedulePaint();
}

bool TerminalWindow::paintPending() const
{
    return paintTimer_.isActive() || fullDirty_ || viewMoved_ || !dirty_.isEmpty() || scrollBarsDirty_;
}

void TerminalWindow::schedulePaint()
{
    if (paintTimer_.isActive()) return;
    const int frame = frameIntervalMs();
    const qint64 since = flushedOnce_ ? sinceFlush_.elapsed() : frame;
    // Input comes once a frame too; one that lands a little early is painted with it
    // rather than waking the window again a moment later.
    if (since >= frame - kFrameSlackMs) {
        // Not at once: let the rest of this burst of input land first.
        paintTimer_.start(0);
    } else {
        paintTimer_.start(int(frame - since));
    }
}

void TerminalWindow::flushPaint()
{
    if (scrollBarsDirty_) {
        scrollBarsDirty_ = false;
        updateScrollBars();
    }
    if (fullDirty_ || (viewMoved_ && !repaintMoved())) {
        viewport()->update();
        forgetShown();
    } else if (!dirty_.isEmpty()) {
        viewport()->update(renderer_.pixelRect(dirty_));
    }
    fullDirty_ = false;
    viewMoved_ = false;
    dirty_ = QRect();
    sinceFlush_.restart();
    flushedOnce_ = true;
}

// ---- What the viewport shows ------------------------------------------------------------
//
// When the page moves through the buffer (text scrolls) everything shown changes place,
// but little of it changes. The window keeps, per displayed row, the cells it last painted
// there; after a move it finds how far the rows went up, moves those pixels instead of
// drawing them again, and repaints only the rows that really differ.

void TerminalWindow::rowCells(int displayRow, std::vector<uint8_t>& out) const
{
    out.clear();
    const int row = buffer_.displayTop() + displayRow;
    if (row < 0 || row >= buffer_.Rows()) return;
    const int c0 = std::clamp(buffer_.ViewCol(), 0, buffer_.Cols());
    const int c1 = std::clamp(buffer_.ViewCol() + buffer_.displayCols(), 0, buffer_.Cols());
    // One record of shownCellBytes() per cell: the byte planes, and in Unicode mode the
    // code point and both colours, which the byte planes only approximate.
    const uint8_t* chars = buffer_.charsRow(row);
    const uint8_t* colors = buffer_.colorsRow(row);
    const uint8_t* attrs = buffer_.attrsRow(row);
    const bool wide = buffer_.unicode();
    out.reserve(size_t(c1 - c0) * shownCellBytes());
    for (int c = c0; c < c1; ++c) {
        out.push_back(chars[c]);
        out.push_back(colors[c]);
        out.push_back(attrs[c]);
        if (wide)
            for (uint32_t v : {buffer_.codeAt(row, c), buffer_.foreAt(row, c), buffer_.backAt(row, c)})
                for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
    }
}

size_t TerminalWindow::shownCellBytes() const
{
    return buffer_.unicode() ? 15 : 3;
}

uint64_t TerminalWindow::lookKey() const
{
    // What changes the look of cells without changing the cells.
    return uint64_t(buffer_.blinkOn()) | uint64_t(buffer_.reverseVideo()) << 1 | uint64_t(flashing_) << 2 |
           uint64_t(buffer_.unicode()) << 3 | uint64_t(uint8_t(buffer_.defaultFore())) << 8 |
           uint64_t(uint8_t(buffer_.defaultBack())) << 16;
}

void TerminalWindow::forgetShown()
{
    for (auto& r : shown_) r.valid = false;
    shownCaret_ = QPoint(-1, -1);
}

bool TerminalWindow::repaintMoved()
{
    const int rows = buffer_.displayRows();
    // A mark or a horizontal move changes more than the rows' cells: all is drawn again.
    if (buffer_.hasMark() || shownMarked_ || buffer_.ViewCol() != shownViewCol_ ||
        int(shown_.size()) != rows || lookKey() != shownLook_ || !viewport()->isVisible())
        return false;
    std::vector<std::vector<uint8_t>>& now = current_;
    now.resize(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) rowCells(r, now[size_t(r)]);
    auto same = [&](int r, int shownRow) {
        const ShownRow& s = shown_[size_t(shownRow)];
        return s.valid && s.cells == now[size_t(r)];
    };
    // How far the rows went up: the shift under which most rows match what is shown.
    int shift = 0, best = 0;
    for (int r = 0; r < rows; ++r) best += same(r, r) ? 1 : 0;
    for (int k = 1; k < rows; ++k) {
        int matches = 0;
        for (int r = 0; r + k < rows; ++r) matches += same(r, r + k) ? 1 : 0;
        if (matches > best) {
            best = matches;
            shift = k;
        }
    }
    const int cw = renderer_.cellWidth(), ch = renderer_.cellHeight();
    const int width = buffer_.displayCols() * cw;
    if (shift > 0) {
        viewport()->scroll(0, -shift * ch, QRect(0, 0, width, rows * ch));
        std::rotate(shown_.begin(), shown_.begin() + shift, shown_.end());
        for (int r = rows - shift; r < rows; ++r) shown_[size_t(r)].valid = false;
        // The caret's pixels went up with their row.
        if (shownCaret_.y() >= shift) shown_[size_t(shownCaret_.y() - shift)].valid = false;
        else if (shownCaret_.y() >= 0) shown_[size_t(shownCaret_.y())].valid = false;
        shownCaret_ = QPoint(-1, -1);
    }
    // The caret's old and new cells are drawn again along with every row that differs.
    const QPoint caret(buffer_.column() - buffer_.ViewCol(), buffer_.row() - buffer_.displayTop());
    for (int r = 0; r < rows; ++r) {
        const bool caretRow = r == caret.y() || r == shownCaret_.y();
        if (caretRow || !same(r, r)) viewport()->update(QRect(0, r * ch, width, ch));
    }
    return true;
}

void TerminalWindow::ForcePaint()
{
    buffer_.bForcePaint();
    fullDirty_ = true;
    scrollBarsDirty_ = true;
    flushPaint();
}

void TerminalWindow::paintEvent(QPaintEvent* e)
{
    QPainter p(viewport());
    ScreenRenderer::View v;
    v.viewRow = buffer_.displayTop();
    v.viewCol = buffer_.ViewCol();
    v.rows = buffer_.displayRows();
    v.cols = buffer_.displayCols();
    v.caretVisible = hasFocus() && !scrollback_ && caretOn_ && buffer_.cursorVisible();
    v.flash = flashing_;
    v.caretRow = buffer_.row();
    v.caretCol = buffer_.column();
    const QRect px = e->rect();
    const QRect cells = renderer_.cellRect(px);
    renderer_.paint(p, buffer_, v, cells);
    noteShown(cells, v);
    // The strips right of and below the last whole cell.
    const QColor back(Buffer::kPalette[buffer_.defaultBack() & 0x0F] | 0xFF000000u);
    const int w = v.cols * renderer_.cellWidth(), h = v.rows * renderer_.cellHeight();
    const QRegion rest = QRegion(px).subtracted(QRegion(0, 0, w, h));
    for (const QRect& r : rest) p.fillRect(r, back);
    ++paintCount_;
}

void TerminalWindow::noteShown(const QRect& cells, const ScreenRenderer::View& v)
{
    const int rows = v.rows, cols = v.cols;
    if (int(shown_.size()) != rows || shownViewCol_ != v.viewCol) {
        shown_.assign(size_t(rows), ShownRow{});
        shownViewCol_ = v.viewCol;
        shownCaret_ = QPoint(-1, -1);
    }
    shownMarked_ = buffer_.hasMark();
    const QRect area = cells.intersected(QRect(0, 0, cols, rows));
    if (lookKey() != shownLook_) {
        // Rows painted before in another look no longer show what their cells say.
        shownLook_ = lookKey();
        for (auto& s : shown_) s.valid = false;
    }
    if (area.isEmpty()) return;
    std::vector<uint8_t> now;
    for (int r = area.top(); r <= area.bottom(); ++r) {
        ShownRow& s = shown_[size_t(r)];
        rowCells(r, now);
        if (area.left() == 0 && area.right() >= cols - 1) {
            s.cells.swap(now);
            s.valid = true;
        } else if (s.valid && s.cells.size() == now.size()) {
            // Part of the row was drawn: the records of those cells are new.
            const size_t k = shownCellBytes(), n = now.size() / k;
            const size_t from = size_t(area.left()) * k, to = std::min(size_t(area.right()) + 1, n) * k;
            if (from < to) std::copy(now.begin() + std::ptrdiff_t(from), now.begin() + std::ptrdiff_t(to), s.cells.begin() + std::ptrdiff_t(from));
        } else {
            s.valid = false;
        }
    }
    const QPoint caret(v.caretCol - v.viewCol, v.caretRow - v.viewRow);
    if (area.contains(shownCaret_)) shownCaret_ = QPoint(-1, -1);
    if (v.caretVisible && area.contains(caret)) shownCaret_ = caret;
}

void TerminalWindow::blinkTick()
{
    blinkOn_ = !blinkOn_;
    buffer_.bSetBlinkPhase(blinkOn_);
    buffer_.bNeedPaint();
    if (hasFocus() && !scrollback_) {
        caretOn_ = blinkOn_;
        const QRect cell(buffer_.column() - buffer_.ViewCol(), buffer_.row() - buffer_.displayTop(), 1, 1);
        if (QRect(0, 0, buffer_.displayCols(), buffer_.displayRows()).contains(cell.topLeft())) {
            dirty_ = dirty_.united(cell);
            schedulePaint();
        }
    }
    // Without focus there is no caret to blink; with no blinking text either the timer
    // rests, text shown, so an idle window does not wake.
    if (!hasFocus() && blinkOn_ && !buffer_.anyBlinking()) blinkTimer_.stop();
}

void TerminalWindow::wakeBlink()
{
    if (blinkTime_ != 0 && !blinkTimer_.isActive()) blinkTimer_.start(blinkTime_);
}

void TerminalWindow::setBlinkTime(uint16_t ms)
{
    blinkTime_ = ms;
    if (ms == 0) {
        blinkTimer_.stop();
        if (!blinkOn_) blinkTick();
    } else {
        blinkTimer_.start(ms);
    }
}

// ---- Geometry -------------------------------------------------------------------------

QSize TerminalWindow::frameExtra() const
{
    const int fw = 2 * frameWidth();
    int w = fw, h = fw;
    if (verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn) w += verticalScrollBar()->sizeHint().width();
    if (horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn) h += horizontalScrollBar()->sizeHint().height();
    return {w, h};
}

QSize TerminalWindow::sizeHint() const
{
    return frameExtra() + QSize(wantCols_ * renderer_.cellWidth(), wantRows_ * renderer_.cellHeight());
}

QSize TerminalWindow::minimumSizeHint() const
{
    return frameExtra() + QSize(renderer_.cellWidth(), renderer_.cellHeight());
}

QSize TerminalWindow::integralSize(const QSize& size) const
{
    const QSize extra = frameExtra();
    QSize s = size;
    const int cw = renderer_.cellWidth(), ch = renderer_.cellHeight();
    if (integralSize_ == isWidth || integralSize_ == isBoth)
        s.setWidth(extra.width() + std::max(1, (size.width() - extra.width()) / cw) * cw);
    if (integralSize_ == isHeight || integralSize_ == isBoth)
        s.setHeight(extra.height() + std::max(1, (size.height() - extra.height()) / ch) * ch);
    return s;
}

void TerminalWindow::setIntegralSize(TIntegralSize s)
{
    integralSize_ = s;
    if (isWindow() && s != isNone) resize(integralSize(size()));
}

void TerminalWindow::setDisplayRows(uint16_t rows)
{
    wantRows_ = std::max<int>(1, rows);
    updateGeometry();
    resize(width(), frameExtra().height() + wantRows_ * renderer_.cellHeight());
    updateDisplaySize();
}

void TerminalWindow::setDisplayColumns(uint16_t cols)
{
    wantCols_ = std::max<int>(1, cols);
    updateGeometry();
    resize(frameExtra().width() + wantCols_ * renderer_.cellWidth(), height());
    updateDisplaySize();
}

void TerminalWindow::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    if (isWindow() && integralSize_ != isNone && !snapping_) {
        const QSize snapped = integralSize(size());
        if (snapped != size()) {
            snapping_ = true;
            resize(snapped);
            snapping_ = false;
        }
    }
    updateDisplaySize();
}

void TerminalWindow::updateDisplaySize()
{
    followDisplay();
    // From the widget's own size, so a window not yet shown (whose viewport has not
    // been laid out) already knows how many cells it will show.
    const QSize vp = size() - frameExtra();
    const int rows = std::max(1, vp.height() / renderer_.cellHeight());
    const int cols = std::max(1, vp.width() / renderer_.cellWidth());
    if (rows != buffer_.displayRows() || cols != buffer_.displayCols()) {
        buffer_.setDisplaySize(rows, cols);
        buffer_.bNeedPaint();
    }
    fullDirty_ = true;
    scrollBarsDirty_ = true;
    schedulePaint();
}

void TerminalWindow::setScrollBars(TScrollStyle s)
{
    scrollBars_ = s;
    updateScrollBars();
}

void TerminalWindow::setAutoScroll(TAutoScroll a)
{
    autoScroll_ = a;
    updateScrollBars();
}

void TerminalWindow::updateScrollBars()
{
    updatingScrollBars_ = true;
    const int rows = buffer_.displayRows(), cols = buffer_.displayCols();
    int vmin, vmax;
    if (scrollback_) {
        // The whole written part of the buffer.
        const int total = std::max(buffer_.highestRow() + 1, buffer_.ViewRow() + buffer_.PageHeight());
        vmin = 0;
        vmax = std::max(0, std::min(total, buffer_.Rows()) - rows);
    } else {
        vmin = buffer_.ViewRow();
        vmax = std::max(vmin, buffer_.ViewRow() + buffer_.PageHeight() - rows);
    }
    const int hmax = std::max(0, buffer_.Cols() - cols);
    QScrollBar* vb = verticalScrollBar();
    vb->setRange(vmin, vmax);
    vb->setPageStep(rows);
    vb->setValue(buffer_.displayTop());
    QScrollBar* hb = horizontalScrollBar();
    hb->setRange(0, hmax);
    hb->setPageStep(cols);
    hb->setValue(buffer_.ViewCol());

    const bool wantV = scrollback_ || scrollBars_ == ssVertical || scrollBars_ == ssBoth ||
                       ((autoScroll_ == asVertical || autoScroll_ == asBoth) && vmax > vmin);
    const bool wantH = scrollBars_ == ssHorizontal || scrollBars_ == ssBoth ||
                       ((scrollback_ || autoScroll_ == asHorizontal || autoScroll_ == asBoth) && hmax > 0);
    const auto vp = wantV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    const auto hp = wantH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (vp != verticalScrollBarPolicy()) setVerticalScrollBarPolicy(vp);
    if (hp != horizontalScrollBarPolicy()) setHorizontalScrollBarPolicy(hp);
    updatingScrollBars_ = false;
}

void TerminalWindow::scrollContentsBy(int, int)
{
    // The scroll bars move the buffer's display (connected in the constructor); the
    // viewport is repainted from the buffer, never scrolled as pixels.
}

// ---- Buffer shape and look ------------------------------------------------------------

void TerminalWindow::setEmulator(terminal::Emulator* e)
{
    if (e == emulator_) return;
    if (emulator_) emulator_->setBuffer(nullptr);
    emulator_ = e;
    if (emulator_) emulator_->setBuffer(&buffer_);
}

void TerminalWindow::setRows(uint16_t rows)
{
    if (buffer_.unicode()) {
        // The page follows the window; the scrollback takes the new row count.
        if (rows >= cfgPage_) cfgRows_ = rows;
        else reportError(kErrBufferSize);
        followDisplay();
        ForcePaint();
        return;
    }
    const int rc = buffer_.bNewBuffer(rows, buffer_.Cols(), buffer_.PageHeight());
    if (rc < 0) reportError(rc);
    else cfgRows_ = rows;
    ForcePaint();
}

void TerminalWindow::setColumns(uint16_t cols)
{
    if (buffer_.unicode()) {
        // Taken up when the emulation has a fixed page again.
        if (cols >= 1 && cols <= Buffer::kMaxCols) cfgCols_ = cols;
        else reportError(kErrBufferSize);
        return;
    }
    const int rc = buffer_.bNewBuffer(buffer_.Rows(), cols, buffer_.PageHeight());
    if (rc < 0) reportError(rc);
    else cfgCols_ = cols;
    ForcePaint();
}

void TerminalWindow::setPageHeight(uint16_t rows)
{
    if (buffer_.unicode()) {
        if (rows >= 1) {
            cfgPage_ = rows;
            cfgRows_ = std::max<int>(cfgRows_, rows);
        }
        return;
    }
    const int rc = buffer_.bNewBuffer(std::max<int>(buffer_.Rows(), rows), buffer_.Cols(), rows);
    if (rc < 0) reportError(rc);
    else {
        cfgPage_ = rows;
        cfgRows_ = buffer_.Rows();
    }
    ForcePaint();
}

void TerminalWindow::applyConfiguredShape()
{
    if (buffer_.Rows() == cfgRows_ && buffer_.Cols() == cfgCols_ && buffer_.PageHeight() == cfgPage_)
        return;
    if (buffer_.bResize(cfgRows_, cfgCols_, cfgPage_) < 0)
        buffer_.bNewBuffer(cfgRows_, cfgCols_, cfgPage_);
}

void TerminalWindow::followDisplay()
{
    if (!buffer_.unicode() || following_) return;
    const QSize vp = size() - frameExtra();
    const int cols = std::clamp(vp.width() / renderer_.cellWidth(), 1, Buffer::kMaxUnicodeCols);
    const int rows = std::clamp(vp.height() / renderer_.cellHeight(), 1, Buffer::kMaxUnicodeCells / cols);
    // The scrollback of the configured shape comes along, as far as the cells allow.
    const int scrollback = std::clamp(cfgRows_ - cfgPage_, 0, Buffer::kMaxUnicodeCells / cols - rows);
    if (rows == buffer_.PageHeight() && cols == buffer_.Cols() && rows + scrollback == buffer_.Rows())
        return;
    following_ = true;
    const int rc = buffer_.bResize(rows + scrollback, cols, rows);
    following_ = false;
    if (rc < 0) {
        reportError(rc);
        return;
    }
    sendWindowSize();
}

void TerminalWindow::sendWindowSize()
{
    if (!dispatcher_ || !buffer_.unicode()) return;
    const int rows = buffer_.PageHeight(), cols = buffer_.Cols();
    dispatcher_->SetWindowSize(uint16_t(rows), uint16_t(cols), uint16_t(std::min(cols * renderer_.cellWidth(), 65535)),
                               uint16_t(std::min(rows * renderer_.cellHeight(), 65535)));
}

void TerminalWindow::setColors(int fore, int back)
{
    buffer_.bSetColors(fore, back);
    if (emulator_ && emulator_->core()) emulator_->core()->useDefaultColors();
    ForcePaint();
}

void TerminalWindow::setTerminalFont(const QString& name, int height, int pointSize)
{
    QFont f(name);
    if (height < 0) f.setPixelSize(-height);
    else if (height > 0) f.setPixelSize(height);
    else f.setPointSize(pointSize > 0 ? pointSize : 9);
    renderer_.setFont(terminalFont(name, height, pointSize));
    settingFont_ = true;
    setFont(f); // keeps the requested name and height for font dialogs
    settingFont_ = false;
    fontChanged();
}

void TerminalWindow::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange && !settingFont_) {
        const QFont f = font();
        const int height = f.pixelSize() > 0 ? -f.pixelSize() : 0;
        renderer_.setFont(terminalFont(f.family(), height, f.pointSize()));
        fontChanged();
    }
}

void TerminalWindow::fontChanged()
{
    buffer_.bUpdateFont(renderer_.cellWidth(), renderer_.cellHeight());
    if (isWindow()) {
        // A terminal that is a window of its own lets the window manager size it in
        // whole cells.
        setSizeIncrement(renderer_.cellWidth(), renderer_.cellHeight());
        setBaseSize(frameExtra());
    }
    updateGeometry();
    updateDisplaySize();
}

// ---- Operations ---------------------------------------------------------------------

void TerminalWindow::ClearWindow()
{
    buffer_.bClearScreen();
    afterChange();
}

void TerminalWindow::ClearBuffer()
{
    buffer_.bNewBuffer(buffer_.Rows(), buffer_.Cols(), buffer_.PageHeight());
    ForcePaint();
}

void TerminalWindow::CopyToClipboard()
{
    // Nothing marked: the clipboard keeps what it holds.
    if (!buffer_.hasMark()) return;
    try {
        const std::string text = buffer_.markedText();
        // In Unicode mode the marked text is UTF-8.
        QApplication::clipboard()->setText(buffer_.unicode() ? QString::fromUtf8(text.data(), qsizetype(text.size()))
                                                             : QString::fromLatin1(text.data(), qsizetype(text.size())));
    } catch (const std::bad_alloc&) {
        reportError(kErrOutOfMemory);
    }
}

void TerminalWindow::setCapture(TCaptureMode mode)
{
    const int rc = changeCapture(mode);
    if (rc < 0) reportError(rc);
}

int TerminalWindow::changeCapture(TCaptureMode mode)
{
    if (mode == capture_ && (mode == cmOff) == !buffer_.capturing()) return 0;
    int result = 0;
    captureQuiet_ = true;
    if (buffer_.capturing()) {
        // The last buffered bytes go out now; a failure is the caller's to report, once.
        result = buffer_.bSetCapture(false, false, captureFile_);
        capture_ = cmOff;
    }
    if (mode != cmOff) {
        const int rc = buffer_.bSetCapture(true, mode == cmAppend, captureFile_);
        if (rc < 0) {
            capture_ = cmOff;
            if (result == 0) result = rc;
        } else {
            capture_ = mode;
        }
    }
    captureQuiet_ = false;
    return result;
}

void TerminalWindow::setScrollback(bool on)
{
    if (on == scrollback_) return;
    scrollback_ = on;
    buffer_.bSetScrollMode(on);
    if (!on) {
        processHeld();
        if (dataPending_) {
            dataPending_ = false;
            // What was left in the port is read as if just announced (unless a
            // notification is under way, which announces it anyway).
            QTimer::singleShot(0, this, [this] {
                if (!scrollback_ && registered_ && dispatcher_ && !dispatcher_->InNotification())
                    readAvail(comm::InputBufferSize);
            });
        }
    }
    scrollBarsDirty_ = true;
    fullDirty_ = true;
    afterChange();
    flushPaint();
}

// ---- Keyboard -------------------------------------------------------------------------

bool TerminalWindow::focusNextPrevChild(bool next)
{
    if (wantTabs_) return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool TerminalWindow::event(QEvent* e)
{
    // With xterm keys, Alt+key goes to the line (ESC before the key), not to the menus.
    if (e->type() == QEvent::ShortcutOverride && keyboardModes().xtermKeys) {
        auto* k = static_cast<QKeyEvent*>(e);
        if ((k->modifiers() & Qt::AltModifier) && !(k->modifiers() & Qt::ControlModifier)) {
            e->accept();
            return true;
        }
    }
    // Tab and Backtab go to the line when WantTabs is set, not to focus changes.
    if (e->type() == QEvent::KeyPress && wantTabs_) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
            keyPressEvent(k);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

bool TerminalWindow::scrollbackKey(QKeyEvent* e)
{
    const int rows = buffer_.displayRows(), cols = buffer_.displayCols();
    switch (e->key()) {
    case Qt::Key_PageUp: buffer_.bScroll(-rows, 0); break;
    case Qt::Key_PageDown: buffer_.bScroll(rows, 0); break;
    case Qt::Key_Up: buffer_.bScroll(-1, 0); break;
    case Qt::Key_Down: buffer_.bScroll(1, 0); break;
    case Qt::Key_Left: buffer_.bScroll(0, -1); break;
    case Qt::Key_Right: buffer_.bScroll(0, 1); break;
    case Qt::Key_Home:
        if (e->modifiers() & Qt::ControlModifier) buffer_.bGotoTop();
        else buffer_.bScroll(0, -buffer_.ViewCol());
        break;
    case Qt::Key_End:
        if (e->modifiers() & Qt::ControlModifier) {
            buffer_.bGotoBottom();
        } else {
            const int target = std::max(0, buffer_.bCurLineLength() - cols);
            buffer_.bScroll(0, target - buffer_.ViewCol());
        }
        break;
    default: return false;
    }
    scrollBarsDirty_ = true;
    afterChange();
    return true;
}

void TerminalWindow::scrollHistory(int rows)
{
    if (rows == 0) return;
    if (!scrollback_) {
        // Below the live page there is nothing to see.
        if (rows > 0) return;
        setScrollback(true);
        if (onScrollbackChange_) onScrollbackChange_(*this, true);
    }
    buffer_.bScroll(rows, 0);
    if (rows > 0 && buffer_.displayTop() >= buffer_.liveDisplayTop()) {
        setScrollback(false);
        if (onScrollbackChange_) onScrollbackChange_(*this, false);
        return;
    }
    scrollBarsDirty_ = true;
    afterChange();
}

void TerminalWindow::wheelEvent(QWheelEvent* e)
{
    // Three rows a notch, as text views scroll; a touchpad's small steps add up.
    constexpr int kNotch = 120, kRowsPerNotch = 3;
    wheelRest_ += e->angleDelta().y();
    const int notches = wheelRest_ / kNotch;
    wheelRest_ -= notches * kNotch;
    scrollHistory(-notches * kRowsPerNotch);
    e->accept();
}

void TerminalWindow::keyPressEvent(QKeyEvent* e)
{
    // Shift+Page Up/Down page through the history at any time, as Linux terminals do.
    if (e->modifiers() == Qt::ShiftModifier && (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown)) {
        const int page = std::max(1, buffer_.displayRows() - 1);
        scrollHistory(e->key() == Qt::Key_PageUp ? -page : page);
        return;
    }
    if (scrollback_ && scrollbackKey(e)) return;
    const Qt::KeyboardModifiers mods = e->modifiers();
    const VKey key = virtualKeyFor(e->key(), mods);
    if (key.code == vk::Shift || key.code == vk::Control || key.code == vk::Menu ||
        key.code == vk::Capital || key.code == vk::NumLock)
        return;

    const KeyboardModes modes = keyboardModes();
    if (modes.xtermKeys) {
        xtermKeyPress(e, key, modes);
        return;
    }

    std::string mapping;
    if (key.extended) {
        // Navigation and function keys: their translation goes out at key-down; without
        // one they send nothing.
        if (!scrollback_ && translateKey(key, mods, mapping)) sendToLine(mapping);
        return;
    }

    // Keys that type a character: the key press handler sees the character first (it may
    // end scrollback, change the character or swallow it).
    std::string bytes = plainKeyBytes(e->key(), mods, e->text(), wantTabs_);
    if (onKeyPress_ && !bytes.empty()) {
        char c = bytes[0];
        onKeyPress_(*this, c);
        if (c == 0) return;
        bytes[0] = c;
    }
    if (scrollback_) return; // the view is held; typing goes nowhere until it ends
    if (key.code == vk::Return && bytes == "\r") bytes = enterBytes(enterSends_);
    // A translation replaces the character. Keys that type none (Insert, Delete, the
    // keypad without Num Lock) send their translation at key-down too.
    if (key.code && translateKey(key, mods, mapping)) {
        sendToLine(mapping);
    } else if (!bytes.empty()) {
        sendToLine(bytes);
    } else {
        QAbstractScrollArea::keyPressEvent(e);
    }
}

bool TerminalWindow::translateKey(const VKey& key, Qt::KeyboardModifiers mods, std::string& mapping)
{
    if (!keyboard_ || !keyboard_->Enabled()) return false;
    KeyRecord rec;
    rec.virtualKey = key.code;
    const KeyboardState state = keyboardStateFor(mods, key.code);
    if (!keyboard_->translate(rec, state.data()) || !rec.mapped) return false;
    mapping = rec.mapping;
    return true;
}

KeyboardModes TerminalWindow::keyboardModes() const
{
    const Emulation* e = emulator_ ? emulator_->emulation() : nullptr;
    return e ? e->keyboardModes() : KeyboardModes{};
}

void TerminalWindow::reloadXtermKeys()
{
    xtermKeys_.load(keyboard_ && keyboard_->Enabled() ? keyboard_->mapPath() : std::string());
}

void TerminalWindow::xtermKeyPress(QKeyEvent* e, const VKey& key, const KeyboardModes& modes)
{
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool shift = mods & Qt::ShiftModifier, ctrl = mods & Qt::ControlModifier, alt = mods & Qt::AltModifier;
    if (keyboard_ && keyboard_->Enabled() && xtermKeys_.loadedPath() != keyboard_->mapPath()) reloadXtermKeys();
    std::string bytes;
    if (key.code && xtermKeys_.translate(key.code, shift, ctrl, alt, modes, bytes)) {
        // Sequences of navigation, editing and function keys go out at key-down.
        if (!scrollback_) sendToLine(bytes);
        return;
    }
    bytes = xtermKeyBytes(e->key(), mods, e->text(), wantTabs_);
    if (onKeyPress_ && !bytes.empty()) {
        // The handler sees the first byte; it may swallow the key or, for a one-byte
        // key, change it.
        char c = bytes[0];
        onKeyPress_(*this, c);
        if (c == 0) return;
        if (bytes.size() == 1) bytes[0] = c;
    }
    if (scrollback_) return;
    if (key.code == vk::Return && bytes == "\r") bytes = enterBytes(enterSends_);
    if (!bytes.empty()) sendToLine(bytes);
    else QAbstractScrollArea::keyPressEvent(e);
}

std::string TerminalWindow::pasteBytes(const QString& text) const
{
    const KeyboardModes m = keyboardModes();
    const QByteArray encoded = m.utf8 ? text.toUtf8() : text.toLocal8Bit();
    std::string bytes(encoded.constData(), size_t(encoded.size()));
    if (!m.bracketedPaste) return bytes;
    // Pasted text cannot end the bracket early and have the rest taken as typed.
    static const std::string kEnd = "\x1b[201~";
    for (size_t at; (at = bytes.find(kEnd)) != std::string::npos;) bytes.erase(at, kEnd.size());
    return "\x1b[200~" + bytes + kEnd;
}

// ---- Mouse marking --------------------------------------------------------------------

QPoint TerminalWindow::cellAt(const QPoint& pixel) const
{
    const int cw = renderer_.cellWidth(), ch = renderer_.cellHeight();
    int col = pixel.x() < 0 ? -1 : pixel.x() / cw;
    int row = pixel.y() < 0 ? -1 : pixel.y() / ch;
    col = std::clamp(col, 0, buffer_.displayCols() - 1) + buffer_.ViewCol();
    row = std::clamp(row, 0, buffer_.displayRows() - 1) + buffer_.displayTop();
    col = std::clamp(col, 0, buffer_.Cols() - 1);
    row = std::clamp(row, 0, buffer_.Rows() - 1);
    return {col, row};
}

void TerminalWindow::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    // A press clears the mark; a new one starts only once the mouse is dragged to another
    // cell, so a plain click marks nothing.
    pressCell_ = cellAt(e->position().toPoint());
    buffer_.bResetMarking();
    marking_ = true;
    dragged_ = false;
    fullDirty_ = true;
    afterChange();
}

void TerminalWindow::dragTo(const QPoint& cell)
{
    if (!dragged_) {
        if (cell == pressCell_) return;
        buffer_.bStartMark(pressCell_.y(), pressCell_.x());
        dragged_ = true;
    }
    buffer_.bUpdateMarks(cell.y(), cell.x());
}

void TerminalWindow::mouseMoveEvent(QMouseEvent* e)
{
    if (!marking_ || !(e->buttons() & Qt::LeftButton)) return;
    const QPoint pos = e->position().toPoint();
    // Dragging past the top or bottom edge scrolls the view along.
    if (pos.y() < 0) buffer_.bScroll(-1, 0);
    else if (pos.y() >= viewport()->height()) buffer_.bScroll(1, 0);
    dragTo(cellAt(pos));
    fullDirty_ = true;
    afterChange();
}

void TerminalWindow::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !marking_) return;
    marking_ = false;
    dragTo(cellAt(e->position().toPoint()));
    if (dragged_) buffer_.bFixMarking();
    fullDirty_ = true;
    afterChange();
}

void TerminalWindow::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    caretOn_ = true;
    caretCell_ = QPoint(-1, -1);
    invalidateCaret();
    wakeBlink();
}

void TerminalWindow::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    caretCell_ = QPoint(-1, -1);
    invalidateCaret();
}

} // namespace zelvo::terminal
