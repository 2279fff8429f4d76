#include "app/ui/paste_controller.h"

#include "app/port_access.h"

#include <QProgressDialog>
#include <QTimer>

#include <algorithm>

namespace zelvo::app {

namespace {
// Room asked for before the next stretch goes out: enough to keep a fast line busy,
// little enough for a slow one to report soon.
constexpr size_t kRoomWanted = 1024;
// How often a paste that waits for a transfer, or for a line that cannot report room,
// looks again.
constexpr int kRetryMs = 100;
// Most bytes handed to the line in one turn of the event loop.
constexpr size_t kStretchPerTurn = 64 * 1024;
} // namespace

PasteController::PasteController(PortAccess& port, QWidget* window)
    : QObject(window), port_(port), window_(window), retry_(new QTimer(this))
{
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &PasteController::feed);
    port_.onOutputRoom = [this] {
        // Told from inside the port's event: the next stretch goes out from the loop.
        if (queue_.pending())
            QTimer::singleShot(0, this, &PasteController::feed);
    };
}

PasteController::~PasteController()
{
    port_.onOutputRoom = nullptr;
}

void PasteController::paste(const std::string& bytes)
{
    if (bytes.empty())
        return;
    const bool idle = !queue_.pending();
    queue_.add(bytes);
    if (idle)
        feed();
}

void PasteController::cancel()
{
    queue_.cancel();
    retry_->stop();
    hideProgress();
    // The end of a bracketed paste still goes out.
    if (queue_.pending())
        feed();
}

void PasteController::hideProgress()
{
    if (!progress_)
        return;
    // Each long paste gets a dialog of its own, timed from its start.
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
}

void PasteController::feed()
{
    if (!queue_.pending())
        return;
    if (!port_.isOpen()) {
        // The line closed under the paste: the rest would go to whatever opens next.
        cancel();
        return;
    }
    if (busy_ && busy_()) {
        retry_->start(kRetryMs);
        showProgress();
        return;
    }
    // A fast line may take the paste as fast as it is offered; after a while the window
    // gets its turn before the next stretch.
    size_t budget = kStretchPerTurn;
    while (queue_.pending() && budget > 0) {
        std::string_view stretch = queue_.next(budget);
        const size_t n = port_.putSome(reinterpret_cast<const uint8_t*>(stretch.data()), stretch.size());
        if (n == 0)
            break;
        queue_.advance(n);
        budget -= n;
    }
    if (!queue_.pending()) {
        hideProgress();
        return;
    }
    if (budget == 0) {
        QTimer::singleShot(0, this, &PasteController::feed);
        showProgress();
        return;
    }
    const size_t left = queue_.total() - queue_.sent();
    if (!port_.watchOutputRoom(std::min(left, kRoomWanted)))
        retry_->start(kRetryMs);
    showProgress();
}

void PasteController::showProgress()
{
    if (!progress_) {
        progress_ = new QProgressDialog(window_);
        progress_->setObjectName(QStringLiteral("PasteProgress"));
        progress_->setWindowTitle(QStringLiteral("Paste"));
        progress_->setLabelText(QStringLiteral("Sending the pasted text..."));
        progress_->setCancelButtonText(QStringLiteral("Cancel"));
        progress_->setWindowModality(Qt::NonModal);
        // Short pastes finish before anything shows.
        progress_->setMinimumDuration(500);
        progress_->setAutoReset(false);
        progress_->setAutoClose(false);
        connect(progress_, &QProgressDialog::canceled, this, &PasteController::cancel);
    }
    // Whole bytes can exceed an int: the bar counts in per mille.
    const size_t total = std::max<size_t>(queue_.total(), 1);
    progress_->setMaximum(1000);
    progress_->setValue(int(queue_.sent() * 1000 / total));
}

} // namespace zelvo::app
