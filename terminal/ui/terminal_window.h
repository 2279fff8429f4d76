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
// one region and repaints it from the event loop at most every kMinPaintIntervalMs, so
// a fast line costs one paint per interval, never one per byte.
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
#include "terminal/line_output.h"
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
    // The remote side set its title (UTF-8; empty when the emulation has none).
    using TitleEvent = std::function<void(TerminalWindow&, const std::string& title)>;

    // Shortest time between two repaints while data streams in.
    static constexpr int kMinPaintIntervalMs = 15;
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
    void setOnTitle(TitleEvent e) { onTitle_ = std::move(e); }
    TBellStyle BellStyle() const { return bellStyle_; }
    void setBellStyle(TBellStyle s) { bellStyle_ = s; }
    // The remote side's title, as the last OnTitle told it.
    const std::string& title() const { return title_; }

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
    void sendToLine(const std::string& bytes);
    void reportError(int code);
    bool scrollbackKey(QKeyEvent* e);
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
    void flushPaint();
    void updateScrollBars();
    void updateDisplaySize();
    void fontChanged();
    void blinkTick();
    void invalidateCaret();
    QPoint cellAt(const QPoint& pixel) const;
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
    TitleEvent onTitle_;
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
    bool snapping_ = false;
    bool settingFont_ = false;

    uint64_t bytesShown_ = 0;
    uint64_t paintCount_ = 0;
};

} // namespace zelvo::terminal
