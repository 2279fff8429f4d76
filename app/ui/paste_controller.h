#pragma once
// Feeds pasted text to the line as fast as the line takes it. What does not fit into the
// port's output buffer waits in a PasteQueue and goes out whenever the buffer has room
// again, so nothing is dropped and the window stays responsive meanwhile. A paste that
// takes a while shows its progress with a Cancel button; while a transfer owns the line
// the rest of the paste waits for it to end.

#include "app/paste_queue.h"

#include <QObject>

#include <functional>

class QProgressDialog;
class QTimer;
class QWidget;

namespace zelvo::app {

class PortAccess;

class PasteController : public QObject {
    Q_OBJECT

public:
    PasteController(PortAccess& port, QWidget* window);
    ~PasteController() override;

    // True while something else owns the line (a transfer): the paste waits.
    void setLineBusy(std::function<bool()> busy) { busy_ = std::move(busy); }

    // Sends text as typed (line breaks as CR), behind any paste still going out.
    void paste(const std::string& bytes);
    // Drops what has not gone out yet (the user's Cancel, or the line changes).
    void cancel();
    bool pasting() const { return queue_.pending(); }
    const PasteQueue& queue() const { return queue_; }

private:
    void feed();
    void showProgress();
    void hideProgress();

    PortAccess& port_;
    QWidget* window_;
    PasteQueue queue_;
    std::function<bool()> busy_;
    QTimer* retry_;
    QProgressDialog* progress_ = nullptr;
};

} // namespace zelvo::app
