#pragma once
// Font choice for the terminal: the named font when the system has it, else the
// system's fixed-pitch font at the same pixel height.

#include <QFont>
#include <QString>

namespace zelvo::terminal {

// `height` < 0 is a character height in pixels, > 0 a cell height in pixels; 0 means
// `pointSize` decides. Names the system lacks ("Terminal", "Courier New") fall back to
// the system fixed-pitch font.
QFont terminalFont(const QString& name, int height, int pointSize);

// True when the system knows a font family of that name (case does not matter).
bool fontFamilyAvailable(const QString& name);

} // namespace zelvo::terminal
