#pragma once
// Base of the emulations: owns the escape parser, keeps the graphic rendition that SGR
// builds, and carries out on the bound buffer what the emulations share. Each emulation
// decides in escDispatch/csiDispatch which sequences it knows; a byte it does not know
// is written to the screen as a character.

#include "terminal/emulation.h"
#include "terminal/emulator_type.h"
#include "terminal/escape_parser.h"

#include <cstddef>
#include <cstdint>

namespace zelvo::terminal {

class Buffer;

class TerminalEmulator : public Emulation, protected ParserExecutor {
public:
    ~TerminalEmulator() override;

    // Received bytes. Without a bound buffer they are dropped.
    void processChar(uint8_t ch) override;
    void processBlock(const uint8_t* data, std::size_t len) override;

    // The buffer's default colours changed: the next byte starts again in the default
    // rendition with them.
    void useDefaultColors() { colorsPending_ = true; }

    // Colours and attribute as SGR left them (before reverse).
    int foreground() const { return fore_; }
    int background() const { return back_; }
    uint8_t attributes() const { return attr_; }

    EscapeParser::State parserState() const { return parser_.state(); }

protected:
    TerminalEmulator(EmulatorType type, EscapeParser::Features features);

    // ParserExecutor: text and the ground-state controls are the same for every emulation.
    void print(const uint8_t* data, std::size_t len) override;
    void control(uint8_t ch) override;

    // Writes one byte as a glyph or movement (unknown finals and escapes).
    void write(uint8_t ch);
    // Erase in display 2, as FF and ESC [ 2 J do it in this emulation.
    virtual void clearScreen();

    // The commands the emulations share.
    void selectGraphicRendition(const CsiParams& p);
    void saveCursor();
    // Restores the saved cursor; without one, resetHome homes the cursor with default
    // colours (ANSI) and otherwise nothing changes (VT100).
    void restoreCursor(bool resetHome);
    void cursorPosition(const CsiParams& p);
    void sendCursorPositionReport();
    void sendDeviceAttributes();
    // Colour byte for erasing: the current colours, or with reverse on the colours as
    // chosen, so that the erased cells do not show the reversed background.
    uint8_t eraseColor(bool plainWhenReverse) const;
    void applyAttr();

private:
    void takePendingColors();

    EscapeParser parser_;
    bool colorsPending_ = true;
    int fore_ = 7;
    int back_ = 0;
    uint8_t attr_ = 0;
};

} // namespace zelvo::terminal
