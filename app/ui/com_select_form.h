#pragma once
// ComSelectForm: the "Select Port" dialog that the port shows when it is asked to open
// without a port number and may prompt for one. It lists the numbers whose device
// exists (in use by another program included) from the port table.

#include <QDialog>

#include <cstdint>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;

namespace zelvo::comm {
class ComPort;
}

namespace zelvo::app {

class ComSelectForm : public QDialog {
    Q_OBJECT
public:
    // storePath: the settings store with the port table.
    explicit ComSelectForm(const std::string& storePath, QWidget* parent = nullptr);

    // The number the selected entry names (its text after the first three characters);
    // 0 when the list is empty.
    uint16_t SelectedComNumber() const;

    QLabel* Label1;
    QLabel* Label2;
    QComboBox* PortsComboBox;
    QPushButton* OkBtn;
    QPushButton* AbortBtn;
};

// Makes the dialog the port's prompt for a number; parent centres it.
void InstallPortPrompt(comm::ComPort& port, std::string storePath, QWidget* parent);

} // namespace zelvo::app
