#include "app/ui/view_controller.h"

#include "app/ui/main_form.h"
#include "app/ui/terminal_access.h"
#include "terminal/ui/hex_view.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QMenu>

namespace zelvo::app {

namespace {

QAction* checkable(QMenu* menu, const char* name, const char* caption)
{
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromLatin1(name));
    a->setCheckable(true);
    return a;
}

struct Choice {
    const char* name;
    const char* caption;
};

// Three checkable items of which one is chosen: items[m] is made from choices[m], and
// choosing it calls choose(m) while owner lives.
template <class Choose>
void oneOfThree(QObject* owner, QMenu* menu, QAction* (&items)[3], const Choice (&choices)[3], Choose choose)
{
    auto* group = new QActionGroup(menu);
    for (uint32_t m = 0; m < 3; ++m) {
        items[m] = checkable(menu, choices[m].name, choices[m].caption);
        group->addAction(items[m]);
        QObject::connect(items[m], &QAction::triggered, owner, [choose, m] { choose(m); });
    }
}

// The separator in front of an item of a menu, to insert new items before it.
QAction* separatorBefore(QMenu* menu, const char* itemName)
{
    const QList<QAction*> items = menu->actions();
    for (qsizetype i = 1; i < items.size(); ++i)
        if (items[i]->objectName() == QLatin1String(itemName) && items[i - 1]->isSeparator())
            return items[i - 1];
    return nullptr;
}

} // namespace

ViewController::ViewController(MainForm& form, TerminalAccess& terminal, EmulatorSettings& settings)
    : QObject(&form), form_(form), terminal_(terminal), settings_(settings)
{
    QWidget* term = terminal_.widget();
    hexView_ = new terminal::HexView(term->parentWidget());
    hexView_->setKeyTarget(term);
    hexView_->hide();
    term->installEventFilter(this);
    terminal_.onReceived = [this](const uint8_t* data, size_t n) { hexView_->append(data, n); };

    if (QMenu* view = form_.findChild<QMenu*>(QStringLiteral("ViewMenu"))) {
        view->addSeparator();
        hexItem_ = checkable(view, "HexViewItem", "&Hex View");
        connect(hexItem_, &QAction::triggered, this, &ViewController::HexViewItemClick);
        QMenu* stamps = view->addMenu(QStringLiteral("Time&stamps"));
        stamps->setObjectName(QStringLiteral("TimestampsMenu"));
        static const Choice kStamps[3] = {{"TimestampsOffItem", "&Off"},
                                          {"TimestampsClockItem", "&Time of Day"},
                                          {"TimestampsDeltaItem", "Time Since &Previous Line"}};
        oneOfThree(this, stamps, stampItems_, kStamps, [this](uint32_t m) { setTimestamps(m); });
    }
    if (QMenu* prefs = form_.findChild<QMenu*>(QStringLiteral("PreferencesMenu"))) {
        QMenu* ends = new QMenu(QStringLiteral("Line &Endings"), prefs);
        ends->setObjectName(QStringLiteral("LineEndingsMenu"));
        prefs->insertMenu(separatorBefore(prefs, "SaveSesItem"), ends);
        static const Choice kEnter[3] = {{"EnterCrItem", "Enter Sends &CR"},
                                         {"EnterLfItem", "Enter Sends &LF"},
                                         {"EnterCrLfItem", "Enter Sends CR L&F"}};
        oneOfThree(this, ends, enterItems_, kEnter, [this](uint32_t m) { setEnterSends(m); });
        ends->addSeparator();
        lfItem_ = checkable(ends, "LfImpliesCrItem", "Received LF &Implies CR");
        connect(lfItem_, &QAction::triggered, this, &ViewController::LfImpliesCrItemClick);
    }
}

ViewController::~ViewController()
{
    terminal_.onReceived = nullptr;
    terminal_.widget()->removeEventFilter(this);
}

void ViewController::applySettings()
{
    terminal_.setTimestamps(int(settings_.Timestamps));
    terminal_.setLfImpliesCr(settings_.LFImpliesCR);
    terminal_.setEnterSends(int(settings_.EnterSends));
    showHexView(settings_.HexView);
}

void ViewController::UpdateMenu()
{
    if (hexItem_)
        hexItem_->setChecked(settings_.HexView);
    for (uint32_t m = 0; m < 3; ++m) {
        if (stampItems_[m])
            stampItems_[m]->setChecked(settings_.Timestamps == m);
        if (enterItems_[m])
            enterItems_[m]->setChecked(settings_.EnterSends == m);
    }
    if (lfItem_)
        lfItem_->setChecked(settings_.LFImpliesCR);
}

void ViewController::HexViewItemClick()
{
    settings_.HexView = !settings_.HexView;
    showHexView(settings_.HexView);
    UpdateMenu();
}

void ViewController::setTimestamps(uint32_t mode)
{
    settings_.Timestamps = mode <= 2 ? mode : 0;
    terminal_.setTimestamps(int(settings_.Timestamps));
    UpdateMenu();
}

void ViewController::setEnterSends(uint32_t mode)
{
    settings_.EnterSends = mode <= 2 ? mode : 0;
    terminal_.setEnterSends(int(settings_.EnterSends));
    UpdateMenu();
}

void ViewController::LfImpliesCrItemClick()
{
    settings_.LFImpliesCR = !settings_.LFImpliesCR;
    terminal_.setLfImpliesCr(settings_.LFImpliesCR);
    UpdateMenu();
}

bool ViewController::hexViewShown() const
{
    return !hexView_->isHidden();
}

void ViewController::showHexView(bool on)
{
    if (on == hexViewShown())
        return;
    QWidget* term = terminal_.widget();
    if (on) {
        hexView_->setFont(terminal_.font());
        const uint32_t c = terminal_.fontSettings().color; // 0x00BBGGRR
        hexView_->setColors(qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)), qRgb(0, 0, 0));
        placeHexView();
        hexView_->show();
        hexView_->raise();
        hexView_->setFocus();
    } else {
        const bool focused = hexView_->hasFocus();
        hexView_->hide();
        if (focused)
            term->setFocus();
    }
}

void ViewController::placeHexView()
{
    QWidget* term = terminal_.widget();
    if (hexView_->parentWidget() != term->parentWidget())
        hexView_->setParent(term->parentWidget());
    hexView_->setGeometry(term->geometry());
}

bool ViewController::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == terminal_.widget()) {
        switch (e->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ParentChange:
            placeHexView();
            break;
        case QEvent::FontChange:
            hexView_->setFont(terminal_.font());
            break;
        case QEvent::FocusIn:
            // A click into the page or a window that gives the terminal the focus while
            // the dump is shown hands it on, so the view's scroll keys work.
            if (hexViewShown())
                hexView_->setFocus();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, e);
}

} // namespace zelvo::app
