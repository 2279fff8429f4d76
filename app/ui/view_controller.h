#pragma once
// How the terminal shows received data and what Enter sends, in the main window:
// View / "&Hex View" and View / "Time&stamps" (off, time of day, time since the previous
// line), Preferences / "Line &Endings" (Enter sends CR, LF or CR LF; received LF implies
// CR). The values live in the session's Emulator group; every change is kept there at
// once, and applySettings hands a session's values to the terminal.
//
// The hex view lies over the terminal, in the same place and size, while it is shown;
// the terminal goes on receiving underneath, so switching back and forth loses nothing.

#include "app/session_settings.h"

#include <QObject>

class QAction;
class QMenu;

namespace zelvo::terminal {
class HexView;
}

namespace zelvo::app {

class MainForm;
class TerminalAccess;

class ViewController : public QObject {
    Q_OBJECT

public:
    ViewController(MainForm& form, TerminalAccess& terminal, EmulatorSettings& settings);
    ~ViewController() override;

    // Hands the settings to the terminal and shows or hides the hex view.
    void applySettings();
    void UpdateMenu();

    // ---- Menu commands ----
    void HexViewItemClick();
    void setTimestamps(uint32_t mode);
    void setEnterSends(uint32_t mode);
    void LfImpliesCrItemClick();

    terminal::HexView* hexView() const { return hexView_; }
    bool hexViewShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void showHexView(bool on);
    void placeHexView();

    MainForm& form_;
    TerminalAccess& terminal_;
    EmulatorSettings& settings_;
    terminal::HexView* hexView_ = nullptr;
    QAction* hexItem_ = nullptr;
    QAction* stampItems_[3] = {};
    QAction* enterItems_[3] = {};
    QAction* lfItem_ = nullptr;
};

} // namespace zelvo::app
