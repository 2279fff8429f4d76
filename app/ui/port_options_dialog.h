#pragma once
// The port options dialog: which line to use and its serial settings.
//
// The line list offers every port number whose device exists, with the device and
// what identifies it beside it ("Direct to COM5 (/dev/ttyUSB0)  FTDI FT232R USB UART,
// serial A50285BI (0403:6001, ftdi_sio)"; the by-id name as the entry's tool tip); it
// follows devices that are plugged in or pulled out while the dialog is open.
// "Device..." maps a number to another device path, for example "exec:/bin/bash -l",
// which runs the command on a pseudo-terminal as the line. When no local shell line is mapped yet, the list also offers one on the first
// free number, so that a machine without serial hardware still reaches a working line.
// The configured modems follow the direct ports; "Modems..." adds, edits and removes
// them.

#include "app/port_options_logic.h"
#include "platform/device_watcher.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QTimer;

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

    // Tells the user what is wrong with the values on OK (a message box; a test may
    // answer it).
    std::function<void(const QString& text)> reportProblems;
    // Controls marked as holding a value that cannot be used.
    QStringList invalidControls() const;

private:
    void fillLineList();
    void refreshLines();
    void enableSerial();
    // Marks the controls whose values cannot be used; returns what is wrong.
    std::vector<ControlProblem> markProblems();
    PortOptionControls controls() const;

    LineDirectory& lines_;
    platform::DeviceWatcher watcher_;
    QTimer* refreshTimer_;
    PortOptionValues values_;
    int shellNumber_ = 0;
    QComboBox* portComboBox_;
    QGroupBox* serialGroups_[5];
    QButtonGroup* bauds_;
    QComboBox* otherBaud_;
    QButtonGroup* paritys_;
    QButtonGroup* databits_;
    QButtonGroup* stopbits_;
    QCheckBox* reconnect_;
    QCheckBox* dtrDsr_;
    QCheckBox* rtsCts_;
    QCheckBox* swTransmit_;
    QCheckBox* swReceive_;
    QLineEdit* xon_;
    QLineEdit* xoff_;
};

} // namespace zelvo::app
