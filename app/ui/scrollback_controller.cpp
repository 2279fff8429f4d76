#include "app/ui/scrollback_controller.h"

#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"

#include <QAction>

namespace zelvo::app {

ScrollbackController::ScrollbackController(TerminalAccess& terminal, QAction* item,
                                           std::function<void()> changed, QObject* parent)
    : QObject(parent), terminal_(terminal), item_(item), changed_(std::move(changed))
{
    terminal_.onScrollbackChanged = [this] { sync(); };
}

ScrollbackController::~ScrollbackController()
{
    terminal_.onScrollbackChanged = nullptr;
}

void ScrollbackController::sync()
{
    item_->setChecked(terminal_.Scrollback());
    changed_();
}

void ScrollbackController::toggle()
{
    terminal_.setScrollback(!terminal_.Scrollback());
    sync();
}

void ScrollbackController::keyTyped()
{
    if (!terminal_.Scrollback())
        return;
    terminal_.setScrollback(false);
    sync();
}

void ScrollbackController::chooseRows()
{
    if (!prompts_)
        return;
    if (auto rows = prompts_->chooseHistoryRows(terminal_.historyRows(), terminal_.maxHistoryRows()))
        terminal_.setHistoryRows(*rows);
}

} // namespace zelvo::app
