#pragma once
// The configured modems, with buttons to add, edit and remove them. Changes are saved
// through the line directory as they are made.

#include <QDialog>

class QListWidget;
class QPushButton;

namespace zelvo::app {

class LineDirectory;

class ModemListDialog : public QDialog {
    Q_OBJECT

public:
    explicit ModemListDialog(LineDirectory& lines, QWidget* parent = nullptr);

    QStringList names() const;
    void AddClick();
    void EditClick();
    void RemoveClick();

private:
    void fill(const QString& select = QString());
    void report(const std::string& error);

    LineDirectory& lines_;
    QListWidget* list_;
    QPushButton* edit_;
    QPushButton* remove_;
};

} // namespace zelvo::app
