#include "terminal/ui/terminal_font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

namespace zelvo::terminal {

bool fontFamilyAvailable(const QString& name)
{
    if (name.isEmpty()) return false;
    const QStringList families = QFontDatabase::families();
    return families.contains(name, Qt::CaseInsensitive);
}

namespace {

void applyHeight(QFont& f, int height, int pointSize)
{
    if (height < 0) {
        f.setPixelSize(-height);
    } else if (height > 0) {
        // A positive height is the whole cell; shrink the character size until the
        // line spacing fits it.
        int px = height;
        f.setPixelSize(px);
        while (px > 4 && QFontMetrics(f).height() > height) f.setPixelSize(--px);
    } else {
        f.setPointSize(pointSize > 0 ? pointSize : 9);
    }
}

} // namespace

QFont terminalFont(const QString& name, int height, int pointSize)
{
    QFont f;
    if (fontFamilyAvailable(name)) {
        f = QFont(name);
    } else {
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (!QFontInfo(f).fixedPitch()) {
            f.setFamily(QStringLiteral("monospace"));
            f.setStyleHint(QFont::Monospace);
        }
    }
    f.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    f.setFixedPitch(true);
    f.setKerning(false);
    applyHeight(f, height, pointSize);
    return f;
}

} // namespace zelvo::terminal
