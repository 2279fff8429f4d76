#include "app/ui/terminal_window_access.h"

#include "comm/exceptions.h"
#include "terminal/buffer.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"

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
    window_.setOnTitle([this](TerminalWindow&, const std::string& title) {
        if (onTitle)
            onTitle(title);
    });
    window_.setOnTerminalError([this](TerminalWindow& w, int code) {
        // A capture error switches capture off in the window; it is told to the user
        // unless it happened while starting (then startCapture reports it).
        if (starting_) {
            startError_ = code;
            return;
        }
        if (w.Capture() == TerminalWindow::cmOff && onCaptureError)
            onCaptureError(comm::ErrorText(code));
    });
}

TerminalWindowAccess::~TerminalWindowAccess()
{
    window_.setOnKeyPress(nullptr);
    window_.setOnTerminalError(nullptr);
    window_.setOnTitle(nullptr);
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
    return window_.font();
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
    starting_ = true;
    startError_ = 0;
    window_.setCapture(TerminalWindow::cmOn);
    starting_ = false;
    if (startError_ != 0 || window_.Capture() == TerminalWindow::cmOff) {
        window_.setCapture(TerminalWindow::cmOff);
        error = startError_ != 0 ? comm::ErrorText(startError_) : "the file cannot be created";
        return false;
    }
    return true;
}

void TerminalWindowAccess::stopCapture()
{
    window_.setCapture(TerminalWindow::cmOff);
}

void TerminalWindowAccess::showLocalLine(const std::string& text)
{
    // Written to the screen directly, not through the emulation: the text is the
    // program's own, and a sequence the line left half done must not swallow it.
    terminal::Buffer& b = window_.buffer();
    std::string s = b.column() != 0 ? "\r\n" : "";
    s += text + "\r\n";
    b.writeText(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    b.bMoveCaret();
    b.bNeedPaint();
}

} // namespace zelvo::app
