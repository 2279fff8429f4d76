#include "app/ui/capture_controller.h"

#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"

#include <QAction>

#include <cstdio>

namespace zelvo::app {

namespace {
constexpr size_t kMaxCaptureName = 255;
const QString kOpenCaption = QStringLiteral("&Open capture file...");
const QString kCloseCaption = QStringLiteral("&Close capture file");
} // namespace

CaptureController::CaptureController(TerminalAccess& terminal, QAction* item,
                                     std::function<void()> changed, QObject* parent)
    : QObject(parent), terminal_(terminal), item_(item), changed_(std::move(changed))
{
    terminal_.onCaptureError = [this](const std::string& reason) {
        item_->setText(kOpenCaption);
        changed_();
        report(QStringLiteral("Capturing to %1 stopped:\n%2")
                   .arg(QString::fromStdString(terminal_.CaptureFile()), QString::fromStdString(reason)));
    };
}

CaptureController::~CaptureController()
{
    terminal_.onCaptureError = nullptr;
}

void CaptureController::toggle()
{
    if (terminal_.capturing()) {
        stop();
        return;
    }
    if (!prompts_)
        return;
    auto choice = prompts_->chooseCaptureFile(QString::fromStdString(terminal_.CaptureFile()),
                                              terminal_.captureCrLf());
    if (!choice)
        return;
    std::string file = choice->file.toStdString();
    if (file.size() > kMaxCaptureName)
        file.resize(kMaxCaptureName);
    terminal_.setCaptureFile(file);
    terminal_.setCaptureCrLf(choice->crlf);
    std::string error;
    if (terminal_.startCapture(error))
        item_->setText(kCloseCaption);
    else
        report(QStringLiteral("The capture file %1 cannot be written:\n%2")
                   .arg(QString::fromStdString(file), QString::fromStdString(error)));
    changed_();
}

void CaptureController::stop()
{
    if (!terminal_.capturing())
        return;
    std::string error;
    const bool complete = terminal_.stopCapture(error);
    item_->setText(kOpenCaption);
    changed_();
    if (!complete)
        report(QStringLiteral("The end of the capture file %1 could not be written:\n%2")
                   .arg(QString::fromStdString(terminal_.CaptureFile()), QString::fromStdString(error)));
}

void CaptureController::report(const QString& text)
{
    if (prompts_)
        prompts_->error(text);
    else
        std::fprintf(stderr, "zelvo32: %s\n", text.toLocal8Bit().constData());
}

} // namespace zelvo::app
