#pragma once
// The main window's view of the terminal window, its emulator and its keyboard emulator.

#include "app/ui/terminal_access.h"

namespace zelvo::terminal {
class TerminalWindow;
class Emulator;
class KeyboardEmulator;
} // namespace zelvo::terminal

namespace zelvo::app {

class TerminalWindowAccess : public TerminalAccess {
public:
    TerminalWindowAccess(terminal::TerminalWindow& window, terminal::Emulator& emulator,
                         terminal::KeyboardEmulator& keyboard);
    ~TerminalWindowAccess() override;

    QWidget* widget() override;
    bool Active() const override;
    void setActive(bool on) override;
    bool Scrollback() const override;
    void setScrollback(bool on) override;
    int historyRows() const override;
    void setHistoryRows(int rows) override;
    int maxHistoryRows() const override;
    bool HalfDuplex() const override;
    void setHalfDuplex(bool on) override;
    int EmulatorType() const override;
    void setEmulatorType(int type) override;
    bool visualBell() const override;
    void setVisualBell(bool on) override;
    std::string pasteBytes(const QString& text) const override;
    TerminalFontSettings fontSettings() const override { return fontSettings_; }
    void setFontSettings(const TerminalFontSettings& f) override;
    QFont font() const override;
    void setDisplayRows(int rows) override;
    void setDisplayColumns(int columns) override;
    void clearWindow() override;
    void showLocalLine(const std::string& text) override;
    void showReceived(const uint8_t* data, size_t length) override;
    void showLine(const std::string& text) override;
    void copyToClipboard() override;
    std::string keyboardName() const override;
    void setKeyboardName(const std::string& name) override;
    void resetKeyboard() override;
    std::string keyMapFile() const override;
    void setKeyMap(const std::string& file, const std::string& name) override;
    void setReceiveFilter(ReceiveFilter filter) override;
    void setTypingHeld(bool held) override;
    std::string CaptureFile() const override;
    void setCaptureFile(const std::string& name) override;
    bool capturing() const override;
    bool startCapture(std::string& error) override;
    bool stopCapture(std::string& error) override;
    bool captureCrLf() const override;
    void setCaptureCrLf(bool crlf) override;
    void setTimestamps(int mode) override;
    void setLfImpliesCr(bool on) override;
    void setEnterSends(int mode) override;
    bool sendTyped(const std::string& bytes) override;

    // The palette index nearest to a colour value 0x00BBGGRR.
    static int nearestPaletteIndex(uint32_t colorRef);

private:
    terminal::TerminalWindow& window_;
    terminal::Emulator& emulator_;
    terminal::KeyboardEmulator& keyboard_;
    TerminalFontSettings fontSettings_;
};

} // namespace zelvo::app
