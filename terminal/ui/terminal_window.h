#pragma once
// TerminalWindow: the visible terminal. It shows the screen buffer, feeds the bytes
// received on its port through the emulator into the buffer, sends typed keys (through
// the keyboard emulator's key map) to the port, and offers scrollback viewing, marking
// and copying, blinking text and capture to a file.
//
// Binding: the window is a user of its ComPort. When the port opens it registers itself
// as a window handler of the dispatcher (while Active) and reads exactly the announced
// count of bytes on every avail notification; when the port closes it remembers whether
// it was active and becomes active again after the next open.
//
// Painting is coalesced: the buffer reports changed cells, the window collects them into
// one region and repaints it from the event loop at most once a frame of its screen (never
// more often than every kMinPaintIntervalMs), so a fast line costs one paint per frame,
// never one per byte. The window also asks its port to gather a steady stream of received
// bytes for kInputPacingFrames frames between notifications, so the stream wakes the
// program, and repaints it, 20 times a second on a 60 Hz screen: the stream still
// moves smoothly, and it costs a third fewer wake-ups and paints than at 30.
//
// With the xterm emulation (the buffer in Unicode mode) the page follows the window: it
// takes as many rows and columns as the window shows, keeping the scrollback of the
// configured shape, and a program on an exec: line is told the new size (TIOCSWINSZ).
// Keys then go out as xterm sends them (XtermKeyboard), typed text as UTF-8, Alt+key
// with ESC before it; the remote side's title and bell reach OnTitle and the bell.

#include "comm/com_port.h"
#include "comm/trigger_handler.h"
#include "terminal/buffer.h"
#include "terminal/buffer_client.h"
#include "terminal/line_endings.h"
#include "terminal/line_output.h"
#include "terminal/receive_filter.h"
#include "terminal/xterm_keyboard.h"
#include "terminal/ui/screen_renderer.h"
#include "terminal/ui/virtual_keys.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QTimer>

namespace zelvo::terminal {

class Emulator;
class KeyboardEmulator;

class TerminalWindow : public QAbstractScrollArea,
                       private BufferClient,
                       private comm::WindowHandler,
                       private LineOutput {
    Q_OBJECT

public:
    enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
    enum TAutoScroll { asNone, asHorizontal, asVertical, asBoth };
    enum TIntegralSize { isNone, isWidth, isHeight, isBoth };
    enum TCaptureMode { cmOff, cmOn, cmAppend };
    // What the bell of the remote side does: a system beep or a brief flash of the page.
    enum TBellStyle { bsBeep, bsVisual };

    using TerminalStatusEvent =
        std::function<void(TerminalWindow&, uint8_t row, uint8_t column, uint16_t viewRow, uint16_t viewCol)>;
    using TerminalErrorEvent = std::function<void(TerminalWindow&, int code)>;
    using CursorPosReportEvent = std::function<void(TerminalWindow&, int column, int row)>;
    // Called for every key that types a character, before the window handles it; the
    // handler may change the character, or set it to 0 to swallow the key.
    using KeyPressEvent = std::function<void(TerminalWindow&, char& key)>;
    // Given the bytes the window has just read from the line, appends those it is to show
    // (the rest belongs to someone else on the same line, a file server exchange say).
    using ReceiveFilter = std::function<void(const uint8_t* data, size_t length, std::vector<uint8_t>& shown)>;
    // The window entered (true) or left (false) scrollback by itself: the mouse wheel or
    // Shift+Page Up/Down took the view into the history or back to the live page.
    using ScrollbackEvent = std::function<void(TerminalWindow&, bool on)>;
    // The remote side set its title (UTF-8; empty when the emulation has none).
    using TitleEvent = std::function<void(TerminalWindow&, const std::string& title)>;
    // A block of bytes as it was read from the line, before the window changed anything.
    using ReceivedEvent = std::function<void(const uint8_t* data, size_t length)>;

    // Shortest time between two repaints while data streams in, whatever the screen.
    static constexpr int kMinPaintIntervalMs = 15;
    // How much earlier than a whole frame after the last repaint the next may come.
    static constexpr int kFrameSlackMs = 3;
    // Frames between two deliveries of a steady stream of received bytes.
    static constexpr int kInputPacingFrames = 3;
    // Most bytes held back while the user reads the scrollback.
    static constexpr size_t kMaxHeldBytes = 16u << 20;
    // How long the page stays inverted for a visual bell, and the shortest time between
    // two bells (a flood of BEL rings once).
    static constexpr int kFlashMs = 120;
    static constexpr int kMinBellIntervalMs = 200;

    explicit TerminalWindow(QWidget* parent = nullptr);
    ~TerminalWindow() override;

    // ---- Published properties -----------------------------------------------------
    comm::ComPort* ComPort() const { return port_; }
    void setComPort(comm::ComPort* port);
    bool Active() const { return active_; }
    void setActive(bool on);
    TScrollStyle ScrollBars() const { return scrollBars_; }
    void setScrollBars(TScrollStyle s);
    TAutoScroll AutoScroll() const { return autoScroll_; }
    void setAutoScroll(TAutoScroll a);
    TIntegralSize IntegralSize() const { return integralSize_; }
    void setIntegralSize(TIntegralSize s);
    bool Scrollback() const { return scrollback_; }
    void setScrollback(bool on);
    terminal::Emulator* GetEmulator() const { return emulator_; }
    void setEmulator(terminal::Emulator* e);
    uint16_t Rows() const { return uint16_t(buffer_.Rows()); }
    void setRows(uint16_t rows);
    uint16_t Columns() const { return uint16_t(buffer_.Cols()); }
    void setColumns(uint16_t cols);
    uint16_t PageHeight() const { return uint16_t(buffer_.PageHeight()); }
    void setPageHeight(uint16_t rows);
    // Rows and columns shown; setting them sizes the window to fit.
    uint16_t DisplayRows() const { return uint16_t(buffer_.displayRows()); }
    void setDisplayRows(uint16_t rows);
    uint16_t DisplayColumns() const { return uint16_t(buffer_.displayCols()); }
    void setDisplayColumns(uint16_t cols);
    const std::string& CaptureFile() const { return captureFile_; }
    void setCaptureFile(const std::string& name) { captureFile_ = name; }
    TCaptureMode Capture() const { return capture_; }
    void setCapture(TCaptureMode mode);
    // The same change of capture, but its failure (0 or a negative code: the file cannot
    // be opened, or the last write failed) is returned instead of raised as
    // OnTerminalError, for a caller that reports it itself.
    int changeCapture(TCaptureMode mode);
    bool WantTabs() const { return wantTabs_; }
    void setWantTabs(bool on) { wantTabs_ = on; }
    uint16_t BlinkTime() const { return blinkTime_; }
    void setBlinkTime(uint16_t ms);
    bool PersistentMark() const { return buffer_.persistentMark(); }
    void setPersistentMark(bool on) { buffer_.setPersistentMark(on); }
    bool HalfDuplex() const { return halfDuplex_; }
    void setHalfDuplex(bool on) { halfDuplex_ = on; }
    KeyboardEmulator* KeyBoardEmu() const { return keyboard_; }
    void setKeyBoardEmu(KeyboardEmulator* k) { keyboard_ = k; }

    // The terminal font by name and height (negative: pixel height of the characters;
    // positive: cell height; 0: pointSize). A name the system lacks falls back to the
    // system fixed-pitch font of the same height. Plain QWidget::setFont works too.
    void setTerminalFont(const QString& name, int height, int pointSize = 9);
    // Default foreground and background (palette indices 0..15).
    void setColors(int fore, int back);

    void setOnTerminalStatus(TerminalStatusEvent e) { onTerminalStatus_ = std::move(e); }
    void setOnTerminalError(TerminalErrorEvent e) { onTerminalError_ = std::move(e); }
    void setOnCursorPosReport(CursorPosReportEvent e) { onCursorPosReport_ = std::move(e); }
    void setOnKeyPress(KeyPressEvent e) { onKeyPress_ = std::move(e); }
    void setReceiveFilter(ReceiveFilter f) { receiveFilter_ = std::move(f); }
    void setOnScrollbackChange(ScrollbackEvent e) { onScrollbackChange_ = std::move(e); }
    // While held, typed keys are dropped: the line is busy with an exchange that they
    // must not mix into. The window keeps reading and showing what it is given.
    void setTypingHeld(bool held) { typingHeld_ = held; }
    bool typingHeld() const { return typingHeld_; }
    void setOnTitle(TitleEvent e) { onTitle_ = std::move(e); }
    void setOnReceived(ReceivedEvent e) { onReceived_ = std::move(e); }
    TBellStyle BellStyle() const { return bellStyle_; }
    void setBellStyle(TBellStyle s) { bellStyle_ = s; }
    // The remote side's title, as the last OnTitle told it.
    const std::string& title() const { return title_; }

    // ---- Received lines and typed line ends ------------------------------------------
    // Timestamps and LF implies CR change only what the window shows and captures; the
    // filter's stamper takes its clock from setClock (tests use a fake one).
    terminal::ReceiveFilter& lineFilter() { return lineFilter_; }
    void setTimestamps(TimestampMode mode);
    void setLfImpliesCr(bool on) { lineFilter_.setLfImpliesCr(on); }
    // What Enter sends where the key map has no entry for it.
    EnterSends enterSends() const { return enterSends_; }
    void setEnterSends(EnterSends e) { enterSends_ = e; }

    // ---- Operations -----------------------------------------------------------------
    // Clears the page; what it showed stays readable in the scrollback.
    void ClearWindow();
    // Empties the whole buffer, scrollback included.
    void ClearBuffer();
    // Puts the marked text on the clipboard (rows ended by CR LF).
    void CopyToClipboard();
    // Repaints everything shown.
    void ForcePaint();
    // Sends bytes to the port as if typed (with local echo when HalfDuplex).
    void SendText(const std::string& bytes);
    // Shows a line of the program's own (not from the line) on a row of its own, as
    // plain text past the emulation; a capture records it too.
    void ShowLocalLine(const std::string& text);
    // The bytes that pasting text sends: UTF-8 with the xterm emulation (else the
    // system's 8-bit encoding), wrapped in ESC [200~ .. ESC [201~ while the remote side
    // asked for bracketed paste.
    std::string pasteBytes(const QString& text) const;
    // Reads the xterm record of the key map again (after the key map changed).
    void reloadXtermKeys();

    Buffer& buffer() { return buffer_; }
    const Buffer& buffer() const { return buffer_; }
    const ScreenRenderer& renderer() const { return renderer_; }
    // The window size nearest to `size` that holds whole cells in the directions
    // IntegralSize names.
    QSize integralSize(const QSize& size) const;

    // ---- Counters for tests and benchmarks ------------------------------------------
    uint64_t bytesShown() const { return bytesShown_; }
    uint64_t paintCount() const { return paintCount_; }
    // The blink timer runs: the window has focus (the caret blinks) or blinking text.
    bool blinkRunning() const { return blinkTimer_.isActive(); }
    // True while changed cells wait for a repaint.
    bool paintPending() const;
    size_t heldBytes() const { return held_.size(); }
    uint64_t bellCount() const { return bellCount_; }
    bool flashing() const { return flashing_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent* e) override;

private:
    // BufferClient
    void invalidateRect(const CellRect& r) override;
    void viewChanged() override;
    void terminalStatus(int row, int column, int viewRow, int viewCol) override;
    void captureError(int code) override;
    void cursorPosReport(int column, int row) override;
    void bell() override;
    void titleChanged(const std::string& title) override;
    void cellModeChanged() override;
    // WindowHandler
    void windowMessage(uint16_t msg, uint32_t wParam, uint32_t lParam) override;
    // LineOutput (emulator replies)
    int PutBlock(const char* bytes, int len) override;

    void portOpened();
    void portClosing();
    void registerHandler();
    void unregisterHandler();
    void readAvail(uint32_t count);
    void processHeld();
    // Hands received bytes to the emulator through the line filter (stamps, LF implies CR).
    void showReceived(const uint8_t* bytes, size_t len);
    void sendToLine(const std::string& bytes);
    void reportError(int code);
    bool scrollbackKey(QKeyEvent* e);
    // Scrolls the history by rows (up is negative), entering scrollback when the view
    // leaves the live page and leaving it when the view comes back down to it.
    void scrollHistory(int rows);
    // The key map's bytes for a key-down; false when the key has no entry.
    bool translateKey(const VKey& key, Qt::KeyboardModifiers mods, std::string& mapping);
    KeyboardModes keyboardModes() const;
    void xtermKeyPress(QKeyEvent* e, const VKey& key, const KeyboardModes& modes);
    // In Unicode mode: gives the page the window's rows and columns.
    void followDisplay();
    // Tells a program on a pseudo-terminal line the page's size.
    void sendWindowSize();
    // The buffer's shape as set through Rows/Columns/PageHeight.
    void applyConfiguredShape();
    void afterChange();
    void schedulePaint();
    // The page moved: moves the pixels of rows that went up and repaints what differs;
    // false when all must be drawn again.
    bool repaintMoved();
    // The cells of a displayed row, plane after plane (characters, colours, attributes).
    void rowCells(int displayRow, std::vector<uint8_t>& out) const;
    // Bytes per cell in what rowCells gives.
    size_t shownCellBytes() const;
    // The window-wide state that changes how cells look (blink phase, bell flash, ...).
    uint64_t lookKey() const;
    // Records what a paint of these cells put on the viewport.
    void noteShown(const QRect& cells, const ScreenRenderer::View& v);
    void forgetShown();
    // One frame of the window's screen in milliseconds (at least kMinPaintIntervalMs).
    int frameIntervalMs() const;
    void flushPaint();
    void updateScrollBars();
    void updateDisplaySize();
    void fontChanged();
    void blinkTick();
    // Starts the blink timer again after it rested (new text, focus).
    void wakeBlink();
    void invalidateCaret();
    QPoint cellAt(const QPoint& pixel) const;
    // The mouse, pressed on pressCell_, is at cell: marks from the press cell once it has
    // left it.
    void dragTo(const QPoint& cell);
    QSize frameExtra() const;

    Buffer buffer_;
    ScreenRenderer renderer_;
    comm::ComPort* port_ = nullptr;
    comm::BaseDispatcher* dispatcher_ = nullptr;
    terminal::Emulator* emulator_ = nullptr;
    KeyboardEmulator* keyboard_ = nullptr;

    bool active_ = true;
    bool resumeOnOpen_ = true;
    bool registered_ = false;
    TScrollStyle scrollBars_ = ssNone;
    TAutoScroll autoScroll_ = asNone;
    TIntegralSize integralSize_ = isBoth;
    bool scrollback_ = false;
    std::string captureFile_ = "QARN.CAP";
    TCaptureMode capture_ = cmOff;
    bool wantTabs_ = true;
    uint16_t blinkTime_ = 550;
    bool halfDuplex_ = false;
    int wantRows_ = 15, wantCols_ = 40;

    TerminalStatusEvent onTerminalStatus_;
    TerminalErrorEvent onTerminalError_;
    CursorPosReportEvent onCursorPosReport_;
    KeyPressEvent onKeyPress_;
    ReceiveFilter receiveFilter_;
    ScrollbackEvent onScrollbackChange_;
    int wheelRest_ = 0; // wheel movement short of a whole step
    std::vector<uint8_t> filtered_;
    bool typingHeld_ = false;
    // Capture errors go to changeCapture's caller, not to OnTerminalError.
    bool captureQuiet_ = false;
    TitleEvent onTitle_;
    ReceivedEvent onReceived_;
    terminal::ReceiveFilter lineFilter_;
    std::vector<uint8_t> stamped_;
    EnterSends enterSends_ = EnterSends::esCR;
    std::string title_;
    TBellStyle bellStyle_ = bsBeep;
    QElapsedTimer sinceBell_;
    QTimer flashTimer_;
    bool flashing_ = false;
    uint64_t bellCount_ = 0;
    XtermKeyboard xtermKeys_;
    int cfgRows_ = 200, cfgCols_ = 80, cfgPage_ = 25;
    bool following_ = false;

    // Scrollback: bytes that arrived while the view was held.
    std::vector<uint8_t> held_;
    bool dataPending_ = false;

    // Repaint bookkeeping, in view cells.
    QRect dirty_;
    bool fullDirty_ = false;
    bool viewMoved_ = false;
    // What the viewport shows: per displayed row the cells last painted there.
    struct ShownRow {
        std::vector<uint8_t> cells;
        bool valid = false;
    };
    std::vector<ShownRow> shown_;
    int shownViewCol_ = -1;
    bool shownMarked_ = false;
    uint64_t shownLook_ = 0;
    QPoint shownCaret_{-1, -1}; // displayed cell that shows the caret
    std::vector<std::vector<uint8_t>> current_; // the rows' cells now, while comparing

    bool scrollBarsDirty_ = false;
    QTimer paintTimer_;
    QElapsedTimer sinceFlush_;
    bool flushedOnce_ = false;
    QTimer blinkTimer_;
    bool blinkOn_ = true;
    bool caretOn_ = true;
    QPoint caretCell_{-1, -1}; // buffer row (y) and column (x) last painted with the caret
    bool updatingScrollBars_ = false;
    bool marking_ = false;
    bool dragged_ = false;
    QPoint pressCell_;
    bool snapping_ = false;
    bool settingFont_ = false;

    uint64_t bytesShown_ = 0;
    uint64_t paintCount_ = 0;
};

} // namespace zelvo::terminal
