#pragma once
// The questions the main window asks the user: message boxes and dialogs. The program
// uses the real dialogs (DialogPrompts); tests answer them without a user.

#include "app/port_options_logic.h"

#include <QFont>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace zelvo::protocols {
class Protocol;
}

namespace zelvo::app {

class LineDirectory;

// The terminal font and its colour (0x00BBGGRR) as the font dialog leaves them.
struct FontChoice {
    QFont font;
    uint32_t color = 0xC0C0C0;
};

// The capture file and the line breaks it is to have.
struct CaptureChoice {
    QString file;
    bool crlf = false; // CR LF line breaks; LF otherwise
};

// The outcome of the session Save / Delete dialog.
struct SessionFormResult {
    enum Kind { Cancel, Save, Delete } kind = Cancel;
    std::string name;             // the typed text
    std::vector<std::string> list; // the dialog's (sorted) list of names
};

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A message box captioned "Error" with a warning icon.
    virtual void error(const QString& text) = 0;
    // The port options dialog preset with v; the chosen values on OK.
    virtual std::optional<PortOptionValues> portOptions(const PortOptionValues& v) = 0;
    virtual SessionFormResult sessionForm(const std::vector<std::string>& names,
                                          const std::string& preset) = 0;
    // The font dialog (fixed-pitch fonts, with the colour among its effects) preset with
    // the font and colour in use.
    virtual std::optional<FontChoice> chooseFont(const QFont& current, uint32_t color) = 0;
    // The "Open log file..." dialog preset with a file and the line breaks in use.
    virtual std::optional<CaptureChoice> chooseCaptureFile(const QString& current, bool crlf) = 0;
    virtual void about() = 0;
    // The key map editor on a map file and record; true on OK with the file and record
    // the editor ends on.
    virtual bool keyMapEditor(std::string& mapFile, std::string& emulation) = 0;
    // The "Send file..." dialog preset with a file; several files may be picked when
    // multiple is set. The picked files in the dialog's order; none when cancelled.
    virtual std::vector<QString> chooseSendFiles(const QString& preset, bool multiple) = 0;
    // The "Receive file..." dialog preset with a file.
    virtual std::optional<QString> chooseReceiveFile(const QString& preset) = 0;
    // The "Destnation directory..." picker preset with a directory.
    virtual std::optional<QString> chooseDirectory(const QString& preset) = 0;
    // How many rows of history the terminal keeps, from 0 to most; nothing when cancelled.
    virtual std::optional<int> chooseHistoryRows(int current, int most) = 0;
    // The protocol options dialog on the component's settings and the Zmodem auto-start
    // switch; on OK both take the dialog's values and true is returned.
    virtual bool protocolOptions(protocols::Protocol& protocol, bool& zmodemAutoStart) = 0;
};

class DialogPrompts : public UserPrompts {
public:
    DialogPrompts(QWidget* parent, LineDirectory& lines) : parent_(parent), lines_(lines) {}
    void error(const QString& text) override;
    std::optional<PortOptionValues> portOptions(const PortOptionValues& v) override;
    SessionFormResult sessionForm(const std::vector<std::string>& names,
                                  const std::string& preset) override;
    std::optional<FontChoice> chooseFont(const QFont& current, uint32_t color) override;
    std::optional<CaptureChoice> chooseCaptureFile(const QString& current, bool crlf) override;
    void about() override;
    bool keyMapEditor(std::string& mapFile, std::string& emulation) override;
    std::vector<QString> chooseSendFiles(const QString& preset, bool multiple) override;
    std::optional<QString> chooseReceiveFile(const QString& preset) override;
    std::optional<QString> chooseDirectory(const QString& preset) override;
    bool protocolOptions(protocols::Protocol& protocol, bool& zmodemAutoStart) override;
    std::optional<int> chooseHistoryRows(int current, int most) override;

private:
    QWidget* parent_;
    LineDirectory& lines_;
};

} // namespace zelvo::app
