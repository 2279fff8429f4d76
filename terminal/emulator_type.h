#pragma once
// The terminal emulations. The numbers are those stored in the settings.

namespace zelvo::terminal {

enum EmulatorType : int {
    etNone = 0,
    etANSI = 1,
    etVT52 = 2,
    etVT100 = 3,
    etANSIBBS = 4,
};

} // namespace zelvo::terminal
