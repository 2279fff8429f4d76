#include "script_host/ui/scr_add_form.h"

#include "script_host/ui/script_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo::script_host {

ScrAddForm::ScrAddForm(ScriptDialog& dialog, QWidget* parent) : QDialog(parent), dialog_(dialog)
{
    setObjectName(QStringLiteral("ScrAddForm"));
    setWindowTitle(QStringLiteral("Edit script menu"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* row = new QHBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ScrList"));
    list_->setMinimumSize(360, 180);
    row->addWidget(list_);
    auto* buttons = new QVBoxLayout;
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        buttons->addWidget(b);
        return b;
    };
    connect(button("AddBtn", "&Add"), &QPushButton::clicked, this, &ScrAddForm::AddClick);
    connect(button("RemoveBtn", "&Remove"), &QPushButton::clicked, this, &ScrAddForm::RemoveClick);
    buttons->addStretch(1);
    QPushButton* ok = button("OkBtn", "O&K");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(button("CancelBtn", "&Cancel"), &QPushButton::clicked, this, &QDialog::reject);
    row->addLayout(buttons);
}

void ScrAddForm::setPaths(const std::vector<std::string>& paths)
{
    list_->clear();
    for (const std::string& p : paths)
        list_->addItem(QString::fromStdString(p));
}

std::vector<std::string> ScrAddForm::paths() const
{
    std::vector<std::string> out;
    for (int i = 0; i < list_->count(); ++i)
        out.push_back(list_->item(i)->text().toStdString());
    return out;
}

void ScrAddForm::AddClick()
{
    if (auto path = dialog_.Execute(this))
        list_->addItem(*path);
}

void ScrAddForm::RemoveClick()
{
    const int row = list_->currentRow();
    if (row >= 0)
        delete list_->takeItem(row);
}

} // namespace zelvo::script_host
