#pragma once
// The port options dialog: which line to use and its serial settings.
//
// The line list offers every port number whose device exists, with the device beside it
// ("Direct to COM5 (/dev/ttyUSB0)"). "Device..." maps a number to another device path,
// for example "exec:/bin/bash -l", which runs the command on a pseudo-terminal as the
// line. When no local shell line is mapped yet, the list also offers one on the first
// free number, so that a machine without serial hardware still reaches a working line.
// The configured modems follow the direct ports; "Modems..." adds, edits and removes
// them.

#include "app/port_options_logic.h"

#include <QDialog>

#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace zelvo::app {

class LineDirectory;

class PortOptionsDialog : public QDialog {
    Q_OBJECT

public:
    PortOptionsDialog(LineDirectory& lines, QWidget* parent = nullptr);

    // Copies the port's settings into the dialog and fills the controls.
    void Load(const PortOptionValues& v);
    // The dialog's values with its controls applied (after OK).
    PortOptionValues ResultPort() const;

    // The line list as shown.
    QStringList lineEntries() const;
    // Chooses an entry as a click on it would (for the program's own use and tests).
    void chooseEntry(int index);
    // The local shell offered on a free number, when there is one.
    int shellNumber() const { return shellNumber_; }
    static std::string shellCommand();

    void PortComboBoxChange(int index);
    void DeviceButtonClick();
    // Adds, edits and removes the modems of the line list.
    void ModemsButtonClick();

    void accept() override;

private:
    void fillLineList();
    void enableSerial();
    PortOptionControls controls() const;

    LineDirectory& lines_;
    PortOptionValues values_;
    int shellNumber_ = 0;
    QComboBox* portComboBox_;
    QGroupBox* serialGroups_[5];
    QButtonGroup* bauds_;
    QButtonGroup* paritys_;
    QButtonGroup* databits_;
    QButtonGroup* stopbits_;
    QCheckBox* dtrDsr_;
    QCheckBox* rtsCts_;
    QCheckBox* swTransmit_;
    QCheckBox* swReceive_;
    QLineEdit* xon_;
    QLineEdit* xoff_;
};

} // namespace zelvo::app
