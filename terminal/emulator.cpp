#include "terminal/emulator.h"

#include "terminal/ansi_emulator.h"
#include "terminal/buffer.h"
#include "terminal/vt100_emulator.h"
#include "terminal/vt52_emulator.h"
#include "terminal/xterm_emulator.h"

namespace zelvo::terminal {

Emulator::Emulator(enum EmulatorType type)
    : type_(type)
{
}

Emulator::~Emulator()
{
    setBuffer(nullptr);
}

std::unique_ptr<Emulation> Emulator::create(enum EmulatorType type)
{
    switch (type) {
    case etANSI:
    case etANSIBBS:
        return std::make_unique<AnsiEmulator>(type);
    case etVT100:
        return std::make_unique<Vt100Emulator>();
    case etVT52:
        return std::make_unique<Vt52Emulator>();
    case etXterm:
        return std::make_unique<XtermEmulator>();
    default:
        return nullptr;
    }
}

void Emulator::setEmulatorType(enum EmulatorType type)
{
    if (type == type_)
        return;
    type_ = type;
    rebuild();
}

void Emulator::setBuffer(Buffer* buffer)
{
    if (buffer == buffer_)
        return;
    buffer_ = buffer;
    rebuild();
}

void Emulator::setOnProcessChar(std::function<void(uint8_t)> handler)
{
    onProcessChar_ = std::move(handler);
    if (core_)
        core_->setOnProcessChar(onProcessChar_);
}

void Emulator::rebuild()
{
    if (core_)
        core_->bind(nullptr);
    core_.reset();
    if (!buffer_)
        return;
    core_ = create(type_);
    if (core_) {
        core_->setOnProcessChar(onProcessChar_);
        core_->bind(buffer_);
    } else {
        buffer_->setEmulator(nullptr);
    }
}

} // namespace zelvo::terminal
