#pragma once
// Console: a text console control over a ConsoleGrid. It paints the cell grid in a
// fixed-pitch font, scrolls its view over the grid, collects typed characters in the
// grid's key buffer and lets a caller wait for them without blocking the windows.
//
// Options (a set of ConsoleOption bits): coAutoTracking keeps the cursor in view after
// output; coCheckBreak raises OnBreak for Ctrl+C (character 3, which is also buffered);
// coFulltimeCursor shows the caret whenever the control has the focus, not only while a
// read waits; coLazyWrite repaints after output through one queued request instead of
// at once; coFixedPitchOnly refuses a font that is not fixed-pitch. coCheckEOF,
// coStdInput and coStdOutput are accepted and kept; this control is never bound to the
// process's standard streams.

#include "script_host/console_grid.h"

#include <QAbstractScrollArea>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace zelvo::script_host {

enum ConsoleOption : uint32_t {
    coAutoTracking = 1u << 0,
    coCheckEOF = 1u << 1,
    coCheckBreak = 1u << 2,
    coFulltimeCursor = 1u << 3,
    coLazyWrite = 1u << 4,
    coStdInput = 1u << 5,
    coStdOutput = 1u << 6,
    coFixedPitchOnly = 1u << 7,
};
using ConsoleOptions = uint32_t;

// A failure of the control: a second read, a quit during a read, a refused font.
class ConsoleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Console : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit Console(QWidget* parent = nullptr);
    ~Console() override;

    int Cols() const { return grid_.Cols(); }
    void setCols(int cols);
    int Rows() const { return grid_.Rows(); }
    void setRows(int rows);
    ConsoleOptions Options() const { return options_; }
    void setOptions(ConsoleOptions options) { options_ = options; }
    TConsoleLineBreak LineBreak() const { return grid_.LineBreak(); }
    void setLineBreak(TConsoleLineBreak mode) { grid_.setLineBreak(mode); }
    bool ProcessControlCodes() const { return processControlCodes_; }
    void setProcessControlCodes(bool on) { processControlCodes_ = on; }
    // The cell font. With coFixedPitchOnly a font that is not fixed-pitch is refused:
    // the previous font stays and ConsoleError("TConsole: NAME is not fixed-pitch") is
    // thrown.
    void setConsoleFont(const QFont& font);

    void Clear();
    void Write(char ch);
    void WriteString(const std::string& text);
    // True when a key waits; when none does, pending events are handled once first.
    bool KeyPressed();
    // True when a key waits, without handling any event.
    bool keyWaiting() const { return grid_.KeyPressed(); }
    // The next typed character, waiting (with the windows alive) until one comes.
    // Throws ConsoleError "Read already active" for a second read at the same time and
    // "WM_Quit received during ReadKey" when the application is told to quit meanwhile.
    char ReadKey();
    // Scrolls the view so that the cursor is visible.
    void scrollToCursor();

    const ConsoleGrid& grid() const { return grid_; }
    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }

    // Ctrl+C was typed (coCheckBreak).
    std::function<void()> OnBreak;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void afterOutput();
    void updateScrollBars();
    void measure();
    bool caretShown() const;

    ConsoleGrid grid_;
    ConsoleOptions options_ = coAutoTracking | coCheckBreak | coLazyWrite | coFixedPitchOnly;
    bool processControlCodes_ = true;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    int ascent_ = 12;
    bool reading_ = false;
    bool quitSeen_ = false;
};

} // namespace zelvo::script_host
