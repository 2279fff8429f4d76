#pragma once
// ProtocolOptions: the "Protocol Options" dialog. It edits its own copy of the
// protocol settings (Load takes them from the main window's component, Save writes
// them back on OK) and the Zmodem auto-start switch, which belongs to the main window.

#include <QDialog>

#include "protocols/protocol.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace zelvo::protocols {

class ProtocolOptions : public QDialog {
    Q_OBJECT
public:
    explicit ProtocolOptions(QWidget* parent = nullptr);

    // Copies the settings of protocol into the dialog's own component and controls.
    void Load(const Protocol& protocol, bool zmodemAutoDetect);
    // Copies the controls into the dialog's component and then into protocol.
    void Save(Protocol& protocol);
    bool ZmodemAutoDetect() const;
    Protocol& Settings() { return settings_; }

    // Text of a number field: a decimal number, or 0 for anything else.
    static uint32_t NumberFromText(const QString& text);

    QComboBox* gWriteFail;
    QCheckBox* gHonorDirectory;
    QCheckBox* gIncludeDirectory;
    QCheckBox* gRTSLowForWrite;
    QCheckBox* gAbortNoCarrier;
    QCheckBox* zOptionOverride;
    QCheckBox* zSkipNoFile;
    QCheckBox* zRecover;
    QCheckBox* z8K;
    QComboBox* zFileManagment;
    QCheckBox* zAutoDetect;
    QLineEdit* kBlockLen;
    QLineEdit* kWindows;
    QLineEdit* kTimeout;
    QLineEdit* sInterCharDelay;
    QLineEdit* sInterLineDelay;
    QComboBox* sCRTrans;
    QComboBox* sLFTrans;
    QLineEdit* sEOFTimeout;
    QPushButton* OK;
    QPushButton* Cancel;

private:
    void toControls();
    void fromControls();

    Protocol settings_;
};

} // namespace zelvo::protocols
