#include "app/ui/dial_controller.h"

#include "app/port_access.h"
#include "app/ui/call_progress.h"
#include "app/ui/dial_dialog.h"
#include "app/ui/main_form.h"
#include "app/ui/user_prompts.h"
#include "comm/telephony/telephony_device.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace zelvo::app {

DialController::DialController(MainForm& form, PortAccess& port,
                               telephony::TelephonyDevice& device, std::string& dialNumber)
    : QObject(&form)
    , form_(form)
    , port_(port)
    , device_(device)
    , logic_(device, *this, dialNumber)
{
    setObjectName(QStringLiteral("DialController"));
    dialItem_ = form_.action("DialItem");
    hangupItem_ = form_.action("HangupItem");
    tapiItem_ = form_.action("TapiItem");
    panel3_ = form_.findChild<QLabel*>(QStringLiteral("StatusPanel3"));
    progress_ = new CallProgress(&form_);
    connect(dialItem_, &QAction::triggered, this, [this] { logic_.DialItemClick(); });
    connect(hangupItem_, &QAction::triggered, this, [this] { logic_.HangupItemClick(); });
    connect(tapiItem_, &QAction::triggered, this, [this] { logic_.TapiItemClick(); });
    connect(progress_, &CallProgress::cancelRequested, this, [this] { logic_.HangupItemClick(); });

    // The progress window follows the same events as the status panel.
    device_.OnTapiStatus = [this](const telephony::CallStatus& s) { onStatus(s); };
    device_.OnTapiFail = [this] {
        const bool placing = logic_.dialPending();
        logic_.TapiDeviceTapiFail();
        if (placing)
            progress_->failed();
    };
}

DialController::~DialController()
{
    // The logic lets go of the device's events; queued requests die with this object.
}

void DialController::onStatus(const telephony::CallStatus& s)
{
    logic_.TapiDeviceStatus(s);
    if (s.last)
        progress_->sequenceEnded();
    else if (logic_.dialPending())
        progress_->showText(
            QString::fromStdString(telephony::DescribeStatus(s.message, s.state, s.reason)));
}

void DialController::FormClose()
{
    progress_->hide();
    logic_.FormClose(port_.settings().TapiMode == 2);
}

void DialController::UpdateMenu(bool telephony)
{
    for (QAction* a : {dialItem_, hangupItem_, tapiItem_})
        a->setVisible(telephony);
    if (QAction* sep = form_.action("TapiSep"))
        sep->setVisible(telephony);
    dialItem_->setEnabled(telephony && logic_.dialEnabled());
    hangupItem_->setEnabled(telephony && logic_.hangupEnabled());
    tapiItem_->setEnabled(telephony);
}

// ---- DialLogic::View ------------------------------------------------------------------------

bool DialController::telephonyMode() const
{
    return port_.settings().TapiMode != 3;
}

void DialController::setTapiMode(uint32_t mode)
{
    PortOptionValues v = port_.settings();
    v.TapiMode = mode;
    port_.setSettings(v);
}

std::string DialController::chosenDevice() const
{
    return port_.settings().Device;
}

void DialController::setDialEnabled(bool on)
{
    dialItem_->setEnabled(on);
}

void DialController::setHangupEnabled(bool on)
{
    hangupItem_->setEnabled(on);
}

void DialController::showCallStatus(const std::string& text)
{
    if (panel3_)
        panel3_->setText(QString::fromStdString(text));
    form_.statusBar()->repaint();
}

std::optional<DialRequest> DialController::askNumber(const DialRequest& preset)
{
    if (dialPrompt_)
        return dialPrompt_(preset);
    DialDialog d(&form_);
    d.Load(preset);
    const int result = d.exec();
    // The keyboard goes back to the window (the terminal), also where no window
    // manager does it.
    form_.activateWindow();
    if (result != QDialog::Accepted)
        return std::nullopt;
    return d.Result();
}

void DialController::postPassThrough()
{
    QTimer::singleShot(0, this, [this] { logic_.PassThroughRequest(); });
}

void DialController::postRedial()
{
    QTimer::singleShot(0, this, [this] { logic_.RedialRequest(); });
}

void DialController::openSession(const std::string& path)
{
    form_.PortOpen(path);
}

void DialController::openDirectPort()
{
    if (auto e = port_.open()) {
        if (prompts_)
            prompts_->error(QStringLiteral("Port is not available !\nSelect new port."));
        QTimer::singleShot(0, &form_, [f = &form_] { f->PortItemClick(); });
    } else {
        form_.ArmZmodemTrigger();
    }
    form_.UpdateMenu();
    form_.UpdateStatus();
}

void DialController::lineOpened()
{
    form_.ArmZmodemTrigger();
    form_.UpdateStatus();
}

void DialController::lineClosed()
{
    form_.DisarmZmodemTrigger();
}

void DialController::lineFailed(const std::string& why)
{
    form_.UpdateMenu();
    if (prompts_)
        prompts_->error(QStringLiteral("The selected Port is not available\nSelect new port.\n\n%1")
                            .arg(QString::fromStdString(why)));
    QTimer::singleShot(0, &form_, [f = &form_] { f->PortItemClick(); });
}

} // namespace zelvo::app
