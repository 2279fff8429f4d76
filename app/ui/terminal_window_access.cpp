#include "app/ui/terminal_window_access.h"

#include "comm/exceptions.h"
#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"

#include <QFontInfo>

#include <algorithm>
#include <climits>

namespace zelvo::app {

using terminal::TerminalWindow;

TerminalWindowAccess::TerminalWindowAccess(TerminalWindow& window, terminal::Emulator& emulator,
                                           terminal::KeyboardEmulator& keyboard)
    : window_(window), emulator_(emulator), keyboard_(keyboard)
{
    window_.setOnKeyPress([this](TerminalWindow&, char&) {
        if (onKeyPress)
            onKeyPress();
    });
    window_.setOnScrollbackChange([this](TerminalWindow&, bool) {
        if (onScrollbackChanged)
            onScrollbackChanged();
    });
    window_.setOnTitle([this](TerminalWindow&, const std::string& title) {
        if (onTitle)
            onTitle(title);
    });
    window_.setOnReceived([this](const uint8_t* data, size_t length) {
        if (onReceived)
            onReceived(data, length);
    });
    window_.setOnTerminalError([this](TerminalWindow& w, int code) {
        // A capture that stopped by itself (a write failed while text arrived); starting
        // and stopping report their own failures.
        if (w.Capture() == TerminalWindow::cmOff && onCaptureError)
            onCaptureError(comm::ErrorText(code));
    });
}

TerminalWindowAccess::~TerminalWindowAccess()
{
    window_.setOnKeyPress(nullptr);
    window_.setOnTerminalError(nullptr);
    window_.setReceiveFilter(nullptr);
    window_.setOnScrollbackChange(nullptr);
    window_.setOnTitle(nullptr);
    window_.setOnReceived(nullptr);
}

QWidget* TerminalWindowAccess::widget()
{
    return &window_;
}

bool TerminalWindowAccess::Active() const
{
    return window_.Active();
}

void TerminalWindowAccess::setActive(bool on)
{
    window_.setActive(on);
}

bool TerminalWindowAccess::Scrollback() const
{
    return window_.Scrollback();
}

void TerminalWindowAccess::setScrollback(bool on)
{
    window_.setScrollback(on);
}

int TerminalWindowAccess::historyRows() const
{
    return window_.Rows() - window_.PageHeight();
}

void TerminalWindowAccess::setHistoryRows(int rows)
{
    // A new buffer starts empty: only a real change is made.
    const int wanted = std::clamp(rows, 0, maxHistoryRows()) + window_.PageHeight();
    if (wanted != window_.Rows())
        window_.setRows(uint16_t(wanted));
}

int TerminalWindowAccess::maxHistoryRows() const
{
    // The buffer holds fewer than 65536 cells.
    return terminal::Buffer::kMaxCells / std::max<int>(1, window_.Columns()) - window_.PageHeight();
}

bool TerminalWindowAccess::HalfDuplex() const
{
    return window_.HalfDuplex();
}

void TerminalWindowAccess::setHalfDuplex(bool on)
{
    window_.setHalfDuplex(on);
}

int TerminalWindowAccess::EmulatorType() const
{
    return int(emulator_.emulatorType());
}

void TerminalWindowAccess::setEmulatorType(int type)
{
    if (terminal::emulationInfo(type))
        emulator_.setEmulatorType(terminal::EmulatorType(type));
}

bool TerminalWindowAccess::visualBell() const
{
    return window_.BellStyle() == TerminalWindow::bsVisual;
}

void TerminalWindowAccess::setVisualBell(bool on)
{
    window_.setBellStyle(on ? TerminalWindow::bsVisual : TerminalWindow::bsBeep);
}

std::string TerminalWindowAccess::pasteBytes(const QString& text) const
{
    return window_.pasteBytes(text);
}

int TerminalWindowAccess::nearestPaletteIndex(uint32_t colorRef)
{
    int r = int(colorRef & 0xFF), g = int((colorRef >> 8) & 0xFF), b = int((colorRef >> 16) & 0xFF);
    int best = 7;
    long bestDist = LONG_MAX;
    for (int i = 0; i < 16; ++i) {
        uint32_t p = terminal::Buffer::kPalette[i];
        int pr = int((p >> 16) & 0xFF), pg = int((p >> 8) & 0xFF), pb = int(p & 0xFF);
        long d = long(pr - r) * (pr - r) + long(pg - g) * (pg - g) + long(pb - b) * (pb - b);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

void TerminalWindowAccess::setFontSettings(const TerminalFontSettings& f)
{
    fontSettings_ = f;
    window_.setTerminalFont(QString::fromStdString(f.name), f.height);
    int fore = nearestPaletteIndex(f.color);
    // Black text on black would hide everything; the background stays black.
    window_.setColors(fore == 0 ? 7 : fore, 0);
}

QFont TerminalWindowAccess::font() const
{
    // The font really drawn, by the family and style the system resolved it to: a name
    // the system lacks ("Terminal") would otherwise preselect whatever the font dialog
    // matches first, an oblique face say.
    const QFontInfo info(window_.renderer().font());
    QFont f(info.family());
    f.setPixelSize(info.pixelSize());
    f.setStyleName(info.styleName());
    f.setFixedPitch(true);
    return f;
}

void TerminalWindowAccess::setDisplayRows(int rows)
{
    window_.setDisplayRows(uint16_t(rows));
}

void TerminalWindowAccess::setDisplayColumns(int columns)
{
    window_.setDisplayColumns(uint16_t(columns));
}

void TerminalWindowAccess::clearWindow()
{
    window_.ClearWindow();
}

void TerminalWindowAccess::showLocalLine(const std::string& text)
{
    window_.ShowLocalLine(text);
}

void TerminalWindowAccess::showReceived(const uint8_t* data, size_t length)
{
    // Through the emulator into the buffer; the buffer then tells the window what to
    // repaint, as after a block from the line.
    terminal::Buffer& b = window_.buffer();
    b.processBlock(data, length);
    b.bNeedPaint();
}

void TerminalWindowAccess::showLine(const std::string& text)
{
    terminal::Buffer& b = window_.buffer();
    std::string bytes = b.column() != 0 ? "\r\n" : "";
    bytes += text;
    bytes += "\r\n";
    b.processBlock(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    b.bNeedPaint();
    window_.lineFilter().lineStarts();
}

void TerminalWindowAccess::copyToClipboard()
{
    window_.CopyToClipboard();
}

std::string TerminalWindowAccess::keyboardName() const
{
    return keyboard_.EmulatorType();
}

void TerminalWindowAccess::setKeyboardName(const std::string& name)
{
    if (name.empty())
        return;
    try {
        keyboard_.setEmulatorType(name);
    } catch (const std::exception&) {
        // A record that the key map lacks keeps the one in use.
    }
}

std::string TerminalWindowAccess::keyMapFile() const
{
    return keyboard_.MapFileName();
}

void TerminalWindowAccess::setKeyMap(const std::string& file, const std::string& name)
{
    // Reopened so that what the editor saved is read again.
    try {
        keyboard_.setEnabled(false);
        keyboard_.setMapFileName(file);
        keyboard_.setEnabled(true);
    } catch (const std::exception&) {
    }
    setKeyboardName(name);
    window_.reloadXtermKeys();
}

void TerminalWindowAccess::resetKeyboard()
{
    try {
        keyboard_.setEnabled(true);
    } catch (const std::exception&) {
    }
    keyboard_.setProcessAllKeys(false);
    keyboard_.setProcessAllKeys(true);
    keyboard_.setProcessExtended(false);
    keyboard_.setProcessExtended(true);
    window_.reloadXtermKeys();
}

void TerminalWindowAccess::setReceiveFilter(ReceiveFilter filter)
{
    window_.setReceiveFilter(std::move(filter));
}

void TerminalWindowAccess::setTypingHeld(bool held)
{
    window_.setTypingHeld(held);
}

std::string TerminalWindowAccess::CaptureFile() const
{
    return window_.CaptureFile();
}

void TerminalWindowAccess::setCaptureFile(const std::string& name)
{
    window_.setCaptureFile(name);
}

bool TerminalWindowAccess::capturing() const
{
    return window_.Capture() != TerminalWindow::cmOff;
}

bool TerminalWindowAccess::startCapture(std::string& error)
{
    const int rc = window_.changeCapture(TerminalWindow::cmOn);
    if (rc < 0) {
        error = comm::ErrorText(rc);
        return false;
    }
    return true;
}

bool TerminalWindowAccess::stopCapture(std::string& error)
{
    const int rc = window_.changeCapture(TerminalWindow::cmOff);
    if (rc < 0) {
        error = comm::ErrorText(rc);
        return false;
    }
    return true;
}

void TerminalWindowAccess::setTimestamps(int mode)
{
    if (mode >= 0 && mode <= 2)
        window_.setTimestamps(terminal::TimestampMode(mode));
}

void TerminalWindowAccess::setLfImpliesCr(bool on)
{
    window_.setLfImpliesCr(on);
}

void TerminalWindowAccess::setEnterSends(int mode)
{
    if (mode >= 0 && mode <= 2)
        window_.setEnterSends(terminal::EnterSends(mode));
}

bool TerminalWindowAccess::sendTyped(const std::string& bytes)
{
    if (!window_.Active() || !window_.ComPort())
        return false;
    window_.SendText(bytes);
    return true;
}

bool TerminalWindowAccess::captureCrLf() const
{
    return window_.buffer().captureLineEndsCrLf();
}

void TerminalWindowAccess::setCaptureCrLf(bool crlf)
{
    window_.buffer().setCaptureLineEnds(crlf);
}

} // namespace zelvo::app
