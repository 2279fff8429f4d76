#include "script_host/ui/script_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace zelvo::script_host {

std::optional<QString> ScriptDialog::Execute(QWidget* parent, Purpose purpose)
{
    std::optional<QString> chosen;
    if (answer) {
        chosen = answer(purpose);
    } else {
        QFileDialog d(parent, QString::fromLatin1(Title()));
        d.setNameFilter(QString::fromLatin1(Filter()));
        d.setAcceptMode(purpose == SaveAs ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        d.setFileMode(purpose == SaveAs ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (purpose == SaveAs)
            d.setDefaultSuffix(QStringLiteral("vm"));
        const QFileInfo preset(FileName);
        if (!FileName.isEmpty() && preset.isAbsolute())
            d.setDirectory(preset.absolutePath());
        else if (!InitialDir.isEmpty())
            d.setDirectory(InitialDir);
        if (!FileName.isEmpty())
            d.selectFile(preset.fileName());
        if (d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty())
            chosen = d.selectedFiles().first();
    }
    if (chosen && !chosen->isEmpty()) {
        *chosen = QFileInfo(*chosen).absoluteFilePath();
        FileName = *chosen;
        return chosen;
    }
    return std::nullopt;
}

} // namespace zelvo::script_host
