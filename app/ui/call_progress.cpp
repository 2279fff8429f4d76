#include "app/ui/call_progress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::app {

CallProgress::CallProgress(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TapiStatus1"));
    setWindowTitle(QStringLiteral("Call Progress"));
    setModal(false);
    // The terminal keeps the keyboard while a call is placed; the window only shows.
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* top = new QVBoxLayout(this);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("StatusLabel"));
    label_->setMinimumWidth(300);
    label_->setAlignment(Qt::AlignCenter);
    top->addWidget(label_);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    button_ = new QPushButton(QStringLiteral("&Cancel"), this);
    button_->setObjectName(QStringLiteral("CancelBtn"));
    row->addWidget(button_);
    row->addStretch(1);
    top->addLayout(row);
    connect(button_, &QPushButton::clicked, this, &CallProgress::reject);
}

void CallProgress::reject()
{
    if (failed_)
        QDialog::reject();
    else
        emit cancelRequested();
}

void CallProgress::showText(const QString& text)
{
    failed_ = false;
    button_->setText(QStringLiteral("&Cancel"));
    lastText_ = text;
    label_->setText(text);
    if (!isVisible())
        show();
}

void CallProgress::sequenceEnded()
{
    const bool active = isActiveWindow();
    hide();
    // A window that had the keyboard (the user clicked it) hands it back.
    if (active && parentWidget())
        parentWidget()->activateWindow();
}

void CallProgress::failed()
{
    failed_ = true;
    button_->setText(QStringLiteral("&Close"));
    label_->setText(lastText_.isEmpty() ? QStringLiteral("The call could not be made.")
                                        : lastText_);
    show();
}

QString CallProgress::text() const
{
    return label_->text();
}

} // namespace zelvo::app
