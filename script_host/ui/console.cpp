#include "script_host/ui/console.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace zelvo::script_host {

Console::Console(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("Console"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(true);
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(p);
    grid_.onBell = [] { QApplication::beep(); };
    QFont f(QStringLiteral("Monospace"));
    f.setStyleHint(QFont::TypeWriter);
    setFont(f);
    measure();
}

Console::~Console()
{
    qApp->removeEventFilter(this);
}

void Console::setCols(int cols)
{
    grid_.resize(cols, grid_.Rows());
    updateScrollBars();
    viewport()->update();
}

void Console::setRows(int rows)
{
    grid_.resize(grid_.Cols(), rows);
    updateScrollBars();
    viewport()->update();
}

void Console::setConsoleFont(const QFont& font)
{
    if ((options_ & coFixedPitchOnly) && !QFontInfo(font).fixedPitch())
        throw ConsoleError("TConsole: " + font.family().left(41).toStdString()
                           + " is not fixed-pitch");
    setFont(font);
    measure();
}

void Console::measure()
{
    const QFontMetrics m(font());
    cellWidth_ = std::max(1, m.horizontalAdvance(QLatin1Char('M')));
    cellHeight_ = std::max(1, m.height());
    ascent_ = m.ascent();
    updateScrollBars();
    viewport()->update();
}

QSize Console::sizeHint() const
{
    return {grid_.Cols() * cellWidth_ + 2 * frameWidth(), grid_.Rows() * cellHeight_ + 2 * frameWidth()};
}

void Console::Clear()
{
    grid_.Clear();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

void Console::Write(char ch)
{
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 && !processControlCodes_)
        return;
    grid_.WriteChar(c);
    afterOutput();
}

void Console::WriteString(const std::string& text)
{
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 || processControlCodes_)
            grid_.WriteChar(u);
    }
    afterOutput();
}

void Console::afterOutput()
{
    if (options_ & coAutoTracking)
        scrollToCursor();
    if (options_ & coLazyWrite)
        viewport()->update();
    else
        viewport()->repaint();
}

void Console::scrollToCursor()
{
    const int visibleCols = std::max(1, viewport()->width() / cellWidth_);
    const int visibleRows = std::max(1, viewport()->height() / cellHeight_);
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    const int col = grid_.cursorCol(), row = grid_.cursorRow();
    if (col < h->value())
        h->setValue(col);
    else if (col >= h->value() + visibleCols)
        h->setValue(col - visibleCols + 1);
    if (row < v->value())
        v->setValue(row);
    else if (row >= v->value() + visibleRows)
        v->setValue(row - visibleRows + 1);
}

void Console::updateScrollBars()
{
    const int visibleCols = std::max(1, viewport()->width() / cellWidth_);
    const int visibleRows = std::max(1, viewport()->height() / cellHeight_);
    horizontalScrollBar()->setRange(0, std::max(0, grid_.Cols() - visibleCols));
    horizontalScrollBar()->setPageStep(visibleCols);
    verticalScrollBar()->setRange(0, std::max(0, grid_.Rows() - visibleRows));
    verticalScrollBar()->setPageStep(visibleRows);
}

void Console::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBars();
}

bool Console::caretShown() const
{
    return hasFocus() && (reading_ || (options_ & coFulltimeCursor));
}

void Console::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.setFont(font());
    p.setPen(Qt::black);
    const int left = horizontalScrollBar()->value();
    const int top = verticalScrollBar()->value();
    const int cols = viewport()->width() / cellWidth_ + 1;
    const int rows = viewport()->height() / cellHeight_ + 1;
    for (int r = 0; r < rows && top + r < grid_.Rows(); ++r) {
        QString line;
        for (int c = 0; c < cols && left + c < grid_.Cols(); ++c)
            line.append(QChar(static_cast<unsigned char>(grid_.at(left + c, top + r))));
        // Cell by cell, so every character sits in its column whatever the font's
        // kerning.
        for (int c = 0; c < line.size(); ++c)
            if (line[c] != QLatin1Char(' '))
                p.drawText(c * cellWidth_, r * cellHeight_ + ascent_, QString(line[c]));
    }
    if (caretShown()) {
        const QRect caret((grid_.cursorCol() - left) * cellWidth_,
                          (grid_.cursorRow() - top) * cellHeight_ + cellHeight_ - 2, cellWidth_, 2);
        p.fillRect(caret, Qt::black);
    }
}

void Console::keyPressEvent(QKeyEvent* e)
{
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    switch (e->key()) {
    case Qt::Key_Up:
        v->setValue(v->value() - 1);
        return;
    case Qt::Key_Down:
        v->setValue(v->value() + 1);
        return;
    case Qt::Key_PageUp:
        v->setValue(v->value() - v->pageStep());
        return;
    case Qt::Key_PageDown:
        v->setValue(v->value() + v->pageStep());
        return;
    case Qt::Key_Left:
        h->setValue(h->value() - 1);
        return;
    case Qt::Key_Right:
        h->setValue(h->value() + 1);
        return;
    case Qt::Key_Home:
        if (e->modifiers() & Qt::ControlModifier)
            v->setValue(0);
        h->setValue(0);
        return;
    case Qt::Key_End:
        if (e->modifiers() & Qt::ControlModifier)
            v->setValue(v->maximum());
        h->setValue(h->maximum());
        return;
    default:
        break;
    }
    QByteArray typed = e->text().toLocal8Bit();
    // Ctrl+letter is its control character; Enter and Backspace come without text on
    // some platforms.
    const bool ctrl = (e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier);
    if (ctrl && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        typed = QByteArray(1, char(e->key() - Qt::Key_A + 1));
    else if (typed.isEmpty() && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter))
        typed = "\r";
    else if (typed.isEmpty() && e->key() == Qt::Key_Backspace)
        typed = "\b";
    if (typed.isEmpty()) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    for (char c : typed) {
        grid_.PushKey(c);
        if (c == 3 && (options_ & coCheckBreak) && OnBreak)
            OnBreak();
    }
}

void Console::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void Console::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

bool Console::KeyPressed()
{
    if (grid_.KeyPressed())
        return true;
    QCoreApplication::processEvents();
    return grid_.KeyPressed();
}

bool Console::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == qApp && e->type() == QEvent::Quit)
        quitSeen_ = true;
    return QAbstractScrollArea::eventFilter(watched, e);
}

char Console::ReadKey()
{
    scrollToCursor();
    if (!grid_.KeyPressed()) {
        if (reading_)
            throw ConsoleError("Read already active");
        reading_ = true;
        quitSeen_ = false;
        qApp->installEventFilter(this);
        viewport()->update();
        while (!grid_.KeyPressed() && !quitSeen_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        qApp->removeEventFilter(this);
        reading_ = false;
        viewport()->update();
        if (!grid_.KeyPressed())
            throw ConsoleError("WM_Quit received during ReadKey");
    }
    return char(grid_.TakeKey());
}

} // namespace zelvo::script_host
