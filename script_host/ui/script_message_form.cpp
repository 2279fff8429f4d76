#include "script_host/ui/script_message_form.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace zelvo::script_host {

ScriptMessageForm::ScriptMessageForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ScriptMessageForm"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(420, 90);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("MessageLabel"));
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_->setMargin(8);
    label_->setGeometry(rect());
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void ScriptMessageForm::ShowText(const QString& text)
{
    label_->setText(text);
    label_->setGeometry(0, 0, width(), height());
    show();
}

QString ScriptMessageForm::text() const
{
    return label_->text();
}

void ScriptMessageForm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    label_->setGeometry(0, 0, width(), height());
}

} // namespace zelvo::script_host
