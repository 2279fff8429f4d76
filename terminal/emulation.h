#pragma once
// What every emulation offers the screen buffer and the terminal window: it is bound to a
// buffer, takes the received bytes, and tells how typed keys and pasted text must be
// encoded while it is in its current modes. The emulations of the escape parser
// (TerminalEmulator) and the xterm emulation (XtermEmulator) implement it.

#include "terminal/emulator_type.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zelvo::terminal {

class Buffer;

// The modes of an emulation that change what the keyboard sends.
struct KeyboardModes {
    bool utf8 = false;             // typed text goes out as UTF-8 (else Latin-1 bytes)
    bool applicationCursor = false; // cursor keys as SS3 sequences (DECCKM)
    bool applicationKeypad = false; // keypad in application mode (DECKPAM)
    bool bracketedPaste = false;   // pastes are wrapped in ESC [200~ ... ESC [201~
    bool xtermKeys = false;        // keys as xterm sends them (modifiers, Alt as ESC)
};

class Emulation {
public:
    virtual ~Emulation() = default;
    Emulation(const Emulation&) = delete;
    Emulation& operator=(const Emulation&) = delete;

    EmulatorType type() const { return type_; }

    // Binds this emulation to a buffer (and the buffer's input to it); null unbinds.
    void bind(Buffer* buffer);
    Buffer* buffer() const { return buf_; }

    // Received bytes. Without a bound buffer they are dropped.
    virtual void processChar(uint8_t ch) = 0;
    virtual void processBlock(const uint8_t* data, std::size_t len) = 0;

    // Called with every byte before it is processed (the component's OnProcessChar).
    void setOnProcessChar(std::function<void(uint8_t)> handler) { onProcessChar_ = std::move(handler); }

    virtual KeyboardModes keyboardModes() const { return {}; }
    // The buffer's page was given a new shape (the page follows the window).
    virtual void pageResized() {}

protected:
    explicit Emulation(EmulatorType type)
        : type_(type)
    {
    }
    // The buffer was bound (attached) or is about to be released (detaching).
    virtual void attached() {}
    virtual void detaching() {}

    Buffer* buf_ = nullptr;
    std::function<void(uint8_t)> onProcessChar_;

private:
    EmulatorType type_;
};

} // namespace zelvo::terminal
