#include "app/ui/macro_controller.h"

#include "app/send_text.h"
#include "app/ui/macro_editor.h"
#include "app/ui/main_form.h"
#include "app/ui/send_hex_dialog.h"
#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

namespace zelvo::app {

namespace {
// Longest caption a button shows of a macro without a name.
constexpr qsizetype kMaxButtonText = 14;
} // namespace

MacroController::MacroController(MainForm& form, TerminalAccess& terminal, Macros& macros)
    : QObject(&form), form_(form), terminal_(terminal), macros_(macros)
{
    bar_ = new QWidget(terminal_.widget()->parentWidget());
    bar_->setObjectName(QStringLiteral("MacroBar"));
    row_ = new QHBoxLayout(bar_);
    row_->setContentsMargins(3, 2, 3, 2);
    row_->setSpacing(3);
    for (size_t i = 0; i < kMacroCount; ++i) {
        auto* b = new QPushButton(bar_);
        b->setObjectName(QStringLiteral("MacroBtn%1").arg(i + 1));
        b->setFocusPolicy(Qt::NoFocus); // typing stays in the terminal
        b->setAutoDefault(false);
        // Many buttons share the terminal's width; a long caption is cut, its tool tip
        // shows the whole text.
        b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        b->setMinimumWidth(24);
        connect(b, &QPushButton::clicked, this, [this, i] { sendMacro(i); });
        row_->addWidget(b);
        buttons_[i] = b;

        auto* key = new QAction(&form_);
        key->setObjectName(QStringLiteral("Macro%1Key").arg(i + 1));
        key->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key(Qt::Key_F1 + int(i))));
        key->setShortcutContext(Qt::WindowShortcut);
        connect(key, &QAction::triggered, this, [this, i] { sendMacro(i); });
        form_.addAction(key);
        keys_[i] = key;
    }
    row_->addStretch(1);
    bar_->hide();

    if (QMenu* edit = form_.findChild<QMenu*>(QStringLiteral("EditMenu"))) {
        QAction* hex = new QAction(QStringLiteral("Send &Hex..."), edit);
        hex->setObjectName(QStringLiteral("SendHexItem"));
        // Beside Paste, the other command that sends text of the user's.
        QAction* after = form_.action("PasteItem");
        const QList<QAction*> items = edit->actions();
        const qsizetype at = items.indexOf(after);
        edit->insertAction(at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr, hex);
        connect(hex, &QAction::triggered, this, &MacroController::SendHexItemClick);
    }
    if (QMenu* prefs = form_.findChild<QMenu*>(QStringLiteral("PreferencesMenu"))) {
        QAction* item = new QAction(QStringLiteral("&Macros..."), prefs);
        item->setObjectName(QStringLiteral("MacrosItem"));
        QAction* font = form_.action("FontItem");
        const QList<QAction*> items = prefs->actions();
        const qsizetype at = items.indexOf(font);
        prefs->insertAction(at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr, item);
        connect(item, &QAction::triggered, this, &MacroController::MacrosItemClick);
    }
    rebuild();
}

MacroController::~MacroController() = default;

bool MacroController::barVisible() const
{
    return !bar_->isHidden();
}

QString MacroController::caption(const SendMacro& m)
{
    if (!m.Name.empty())
        return QString::fromStdString(m.Name);
    QString text = QString::fromStdString(m.Text);
    if (text.size() > kMaxButtonText)
        text = text.left(kMaxButtonText - 1) + QChar(0x2026);
    return text;
}

void MacroController::applySettings()
{
    rebuild();
}

void MacroController::rebuild()
{
    bool any = false;
    for (size_t i = 0; i < kMacroCount; ++i) {
        const SendMacro& m = macros_[i];
        const bool used = !m.empty();
        any = any || used;
        // "&" in a caption is shown, not taken as an access key.
        QString label = caption(m);
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        buttons_[i]->setText(label);
        buttons_[i]->setToolTip(QStringLiteral("Shift+F%1: %2").arg(i + 1).arg(QString::fromStdString(m.Text)));
        buttons_[i]->setVisible(used);
        keys_[i]->setEnabled(used);
    }
    bar_->setVisible(any);
}

void MacroController::MacrosItemClick()
{
    std::optional<Macros> chosen;
    if (editorPrompt_) {
        chosen = editorPrompt_(macros_);
    } else {
        MacroEditor editor(&form_);
        editor.Load(macros_);
        if (editor.exec() == QDialog::Accepted)
            chosen = editor.Result();
    }
    if (!chosen)
        return;
    const bool wasVisible = barVisible();
    macros_ = *chosen;
    rebuild();
    if (barVisible() != wasVisible)
        form_.UpdateSize();
}

void MacroController::SendHexItemClick()
{
    std::optional<std::string> bytes;
    if (hexPrompt_) {
        bytes = hexPrompt_(lastHex_);
    } else {
        SendHexDialog dialog(&form_);
        dialog.Load(lastHex_);
        if (dialog.exec() == QDialog::Accepted) {
            lastHex_ = dialog.text();
            bytes = dialog.bytes();
        }
    }
    if (!bytes || bytes->empty())
        return;
    if (!terminal_.sendTyped(*bytes) && prompts_)
        prompts_->error(QStringLiteral("The bytes were not sent: no line is open, or a "
                                       "transfer or the file server is using it."));
}

bool MacroController::sendMacro(size_t index)
{
    if (index >= kMacroCount || macros_[index].empty())
        return false;
    const SendBytes r = DecodeEscapes(macros_[index].Text);
    if (!r.ok()) {
        if (prompts_)
            prompts_->error(QStringLiteral("The macro on Shift+F%1 was not sent:\n%2 (column %3).\n\n"
                                           "Mend it with Preferences / Macros...")
                                .arg(index + 1)
                                .arg(QString::fromStdString(r.error))
                                .arg(r.column));
        return false;
    }
    return terminal_.sendTyped(r.bytes);
}

} // namespace zelvo::app
