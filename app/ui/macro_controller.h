#pragma once
// Send macros in the main window: a row of buttons below the terminal, one for each
// macro that has a text (the row is hidden while there is none), the keys Shift+F1 ..
// Shift+F12, Preferences / "&Macros..." with the editor, and Edit / "Send &Hex..." for
// bytes typed as hex pairs. A macro's key is taken from the terminal (and its key map)
// only while the macro has a text.
//
// What a macro or the hex command sends goes to the line as typed text does: with local
// echo when it is on, and not at all while the line is handed to a transfer or the file
// server. A macro text that does not decode (a hand-edited store) is reported and not
// sent.

#include "app/session_settings.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QAction;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace zelvo::app {

class MainForm;
class TerminalAccess;
class UserPrompts;

class MacroController : public QObject {
    Q_OBJECT

public:
    using Macros = std::array<SendMacro, kMacroCount>;
    using EditorPrompt = std::function<std::optional<Macros>(const Macros& current)>;
    using HexPrompt = std::function<std::optional<std::string>(QString& text)>;

    // macros: the session's stored macros, changed in place by the editor.
    MacroController(MainForm& form, TerminalAccess& terminal, Macros& macros);
    ~MacroController() override;

    void setPrompts(UserPrompts* prompts) { prompts_ = prompts; }
    // Replace the dialogs (tests answer them without a user).
    void setEditorPrompt(EditorPrompt p) { editorPrompt_ = std::move(p); }
    void setHexPrompt(HexPrompt p) { hexPrompt_ = std::move(p); }

    // The button row, placed by the main window below the terminal.
    QWidget* bar() const { return bar_; }
    bool barVisible() const;
    // Rebuilds buttons and keys from the macros (after a session was read).
    void applySettings();

    // ---- Commands ----
    void MacrosItemClick();
    void SendHexItemClick();
    // Sends macro i (0 = Shift+F1); false when nothing was sent.
    bool sendMacro(size_t index);

private:
    void rebuild();
    static QString caption(const SendMacro& m);

    MainForm& form_;
    TerminalAccess& terminal_;
    Macros& macros_;
    UserPrompts* prompts_ = nullptr;
    EditorPrompt editorPrompt_;
    HexPrompt hexPrompt_;
    QString lastHex_;
    QWidget* bar_ = nullptr;
    QHBoxLayout* row_ = nullptr;
    std::array<QPushButton*, kMacroCount> buttons_{};
    std::array<QAction*, kMacroCount> keys_{};
};

} // namespace zelvo::app
