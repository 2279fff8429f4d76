#pragma once
// The emulator component: holds the chosen emulation and binds it to the terminal's
// buffer. etNone binds nothing, so the buffer writes every byte unchanged.

#include "terminal/emulation.h"
#include "terminal/emulator_type.h"
#include "terminal/terminal_emulator.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zelvo::terminal {

class Buffer;

class Emulator {
public:
    explicit Emulator(EmulatorType type = etANSI);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // The EmulatorType property (default etANSI).
    enum EmulatorType emulatorType() const { return type_; }
    // Changes the emulation at once; a bound buffer is rebound to the new one, which
    // starts in its default rendition.
    void setEmulatorType(enum EmulatorType type);

    // The buffer to drive (null unbinds).
    void setBuffer(Buffer* buffer);
    Buffer* buffer() const { return buffer_; }

    // Called with every received byte before it is processed.
    void setOnProcessChar(std::function<void(uint8_t)> handler);

    // The bound emulation, or null for etNone.
    Emulation* emulation() const { return core_.get(); }
    // The bound emulation when it is one of the escape parser's (not etNone or etXterm).
    TerminalEmulator* core() const { return dynamic_cast<TerminalEmulator*>(core_.get()); }

    // Makes the emulation for a type (null for etNone and unknown numbers).
    static std::unique_ptr<Emulation> create(enum EmulatorType type);

private:
    void rebuild();

    enum EmulatorType type_;
    Buffer* buffer_ = nullptr;
    std::unique_ptr<Emulation> core_;
    std::function<void(uint8_t)> onProcessChar_;
};

} // namespace zelvo::terminal
