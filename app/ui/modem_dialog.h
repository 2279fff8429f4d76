#pragma once
// The settings of one modem: its name, its device and how it is driven.

#include "comm/telephony/modem_config.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zelvo::app {

class ModemDialog : public QDialog {
    Q_OBJECT

public:
    // nameEditable: false when the modem is in use by name (the session's line).
    explicit ModemDialog(bool nameEditable, QWidget* parent = nullptr);

    void Load(const telephony::ModemConfig& m);
    telephony::ModemConfig Result() const;

    // The device of a simulated modem beside the program: number 1 connects to a
    // local shell, 2 is busy, 3 does not answer.
    static std::string SimulatorDevice();

    void accept() override;

private:
    QLineEdit* name_;
    QLineEdit* device_;
    QLineEdit* init_;
    QLineEdit* dial_;
    QComboBox* hangup_;
    QComboBox* baud_;
    QCheckBox* rtsCts_;
    QSpinBox* answer_;
    QSpinBox* guard_;
};

} // namespace zelvo::app
