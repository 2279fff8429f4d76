#pragma once
// What the main window uses of its terminal window. The program binds this to the
// terminal window component; tests bind it to a plain widget.

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::app {

// The terminal font as the settings keep it.
struct TerminalFontSettings {
    std::string name = "Terminal";
    int height = -18;        // negative: character height in pixels
    uint32_t color = 0xC0C0C0; // 0x00BBGGRR
    int pitch = 2;
    bool operator==(const TerminalFontSettings&) const = default;
};

class TerminalAccess {
public:
    virtual ~TerminalAccess() = default;

    virtual QWidget* widget() = 0;

    virtual bool Active() const = 0;
    virtual void setActive(bool on) = 0;
    virtual bool Scrollback() const = 0;
    virtual void setScrollback(bool on) = 0;
    // Rows of history kept above the page, and the most the terminal can keep.
    virtual int historyRows() const = 0;
    virtual void setHistoryRows(int rows) = 0;
    virtual int maxHistoryRows() const = 0;
    virtual bool HalfDuplex() const = 0;
    virtual void setHalfDuplex(bool on) = 0;
    // etNone 0, etANSI 1, etVT52 2, etVT100 3, etANSIBBS 4, etXterm 5.
    virtual int EmulatorType() const = 0;
    virtual void setEmulatorType(int type) = 0;
    // The remote side's bell flashes the page instead of beeping.
    virtual bool visualBell() const { return false; }
    virtual void setVisualBell(bool on) { (void)on; }
    // The bytes that pasting text sends (encoding and bracketing of the emulation).
    virtual std::string pasteBytes(const QString& text) const
    {
        const QByteArray b = text.toLocal8Bit();
        return std::string(b.constData(), size_t(b.size()));
    }

    virtual TerminalFontSettings fontSettings() const = 0;
    virtual void setFontSettings(const TerminalFontSettings& f) = 0;
    // The font in use, to preset the font dialog.
    virtual QFont font() const = 0;

    // Rows and columns the window shows; the widget takes the size they need.
    virtual void setDisplayRows(int rows) = 0;
    virtual void setDisplayColumns(int columns) = 0;

    virtual void clearWindow() = 0;
    // Shows a line of the program's own on a row of its own (not sent to the line).
    virtual void showLocalLine(const std::string& text) = 0;
    // Shows bytes as if they had been received from the line (a script's echo and its
    // prints); the terminal repaints. A terminal that cannot show them ignores them.
    virtual void showReceived(const uint8_t* data, size_t length)
    {
        (void)data;
        (void)length;
    }
    // Shows a line of the program's own (a transfer's summary) on a line of its own, as
    // if it had arrived; it is captured like the rest.
    virtual void showLine(const std::string& text) { (void)text; }
    // Puts the marked text on the clipboard.
    virtual void copyToClipboard() = 0;

    // The key map record in use ("" when none); setting an empty name keeps the current.
    virtual std::string keyboardName() const = 0;
    virtual void setKeyboardName(const std::string& name) = 0;
    // The key map file in use, and a change of file and record (after the editor).
    virtual std::string keyMapFile() const = 0;
    virtual void setKeyMap(const std::string& file, const std::string& name) = 0;
    // Enables the keyboard emulator and makes it apply its key switches again.
    virtual void resetKeyboard() = 0;

    // Decides which of the bytes the terminal reads from the line it shows; given the
    // bytes read, the filter appends those to show. Empty: everything is shown.
    using ReceiveFilter = std::function<void(const uint8_t* data, size_t length, std::vector<uint8_t>& shown)>;
    virtual void setReceiveFilter(ReceiveFilter filter) = 0;
    // Typed keys are dropped while held (a file server exchange owns the line).
    virtual void setTypingHeld(bool held) = 0;

    virtual std::string CaptureFile() const = 0;
    virtual void setCaptureFile(const std::string& name) = 0;
    virtual bool capturing() const = 0;
    // Starts a new capture file (an existing one is replaced); false with the reason when
    // the file cannot be created.
    virtual bool startCapture(std::string& error) = 0;
    // Ends the capture; false with the reason when the last of it could not be written.
    virtual bool stopCapture(std::string& error) = 0;
    // Line breaks of the capture file: CR LF when set, else LF.
    virtual bool captureCrLf() const = 0;
    virtual void setCaptureCrLf(bool crlf) = 0;


    // ---- Received lines and typed bytes ----
    // Timestamps at the start of received lines: 0 off, 1 time of day, 2 time since the
    // previous line (terminal and capture file).
    virtual void setTimestamps(int mode) = 0;
    // A received LF also returns to column 0.
    virtual void setLfImpliesCr(bool on) = 0;
    // What the Enter key sends when the key map has no entry for it: 0 CR, 1 LF, 2 CR LF.
    virtual void setEnterSends(int mode) = 0;
    // Sends bytes as if typed (shown too with local echo). False when nothing was sent:
    // no line is open, or the line is handed to a transfer or the file server.
    virtual bool sendTyped(const std::string& bytes) = 0;

    // Every block of bytes the terminal reads from the line, as it arrived.
    std::function<void(const uint8_t* data, size_t length)> onReceived;

    // A key was typed into the terminal.
    std::function<void()> onKeyPress;
    // The terminal entered or left scrollback by itself (mouse wheel, Shift+Page Up/Down).
    std::function<void()> onScrollbackChanged;
    // The capture stopped by itself (a write failed, e.g. a full disk).
    std::function<void(const std::string& message)> onCaptureError;
    // The remote side set its title (UTF-8; empty when there is none).
    std::function<void(const std::string& title)> onTitle;
};

} // namespace zelvo::app
