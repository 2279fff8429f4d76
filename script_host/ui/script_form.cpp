#include "script_host/ui/script_form.h"

#include "script_host/file_names.h"
#include "script_host/script_list.h"
#include "script_host/script_runner.h"
#include "script_host/ui/color_memo.h"
#include "script_host/ui/script_console_form.h"
#include "script_host/ui/script_dialog.h"
#include "script_host/ui/script_message_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStringDecoder>

namespace zelvo::script_host {

namespace {

constexpr int kSplitterPosition = 233;

QString namePart(const QString& path)
{
    return QString::fromStdString(FileNamePart(path.toStdString()));
}

std::string fsPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

ScriptForm::ScriptForm(ScriptRunner& runner, ScriptDialog& dialog, ScriptConsoleForm& console,
                       ScriptMessageForm& message, QWidget* parent)
    : QMainWindow(parent), runner_(runner), dialog_(dialog), console_(console), message_(message)
{
    setObjectName(QStringLiteral("ScriptForm"));
    setWindowTitle(QStringLiteral("Script"));
    resize(640, 480);

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setObjectName(QStringLiteral("ScrSplitter"));
    splitter_->setHandleWidth(2);
    splitter_->setChildrenCollapsible(false);
    source_ = new ColorMemo(splitter_);
    source_->setObjectName(QStringLiteral("ScriptSource"));
    source_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    source_->setLineWrapMode(QPlainTextEdit::NoWrap);
    source_->setTabChangesFocus(false);
    source_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    source_->setColorRules(ScriptColorRules());
    source_->setMinimumHeight(10);
    messages_ = new QListWidget(splitter_);
    messages_->setObjectName(QStringLiteral("ScriptMessage"));
    messages_->setMinimumHeight(10);
    splitter_->addWidget(source_);
    splitter_->addWidget(messages_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("ScriptStatus"));
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setObjectName(QStringLiteral("ScriptStatusPanel%1").arg(i));
        panels_[i]->setFrameShape(QFrame::StyledPanel);
    }
    panels_[0]->setFixedWidth(100);
    panels_[0]->setAlignment(Qt::AlignCenter);
    panels_[1]->setMinimumWidth(50);
    bar->addWidget(panels_[0]);
    bar->addWidget(panels_[1], 1);

    buildMenus();

    connect(source_, &QPlainTextEdit::textChanged, this, [this] {
        if (!loading_)
            ScriptSourceChange();
    });
    connect(messages_, &QListWidget::itemClicked, this, [this] { ScriptMessageClick(); });
    connect(messages_, &QListWidget::itemDoubleClicked, this, [this] { ScriptMessageClick(); });

    confirmSave = [this](const QString& text) {
        return QMessageBox::question(this, windowTitle(), text,
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                     QMessageBox::Yes);
    };
    errorBox = [this](const QString& text) {
        QMessageBox::warning(this, QStringLiteral("Error"), text);
    };

    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

ScriptForm::~ScriptForm() = default;

void ScriptForm::buildMenus()
{
    auto add = [this](QMenu* menu, const char* name, const char* caption, auto slot) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(QString::fromLatin1(name));
        // Queued: a run started from a menu begins once the menu has closed.
        connect(a, &QAction::triggered, this, slot, Qt::QueuedConnection);
        return a;
    };
    fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu_->setObjectName(QStringLiteral("ScrFileMenu"));
    add(fileMenu_, "ScrLoadItem", "&Open...", &ScriptForm::ScrLoadItemClick);
    add(fileMenu_, "ScrSaveItem", "&Save", &ScriptForm::ScrSaveItemClick);
    add(fileMenu_, "ScrSaveAsItem", "&Save as...", &ScriptForm::ScrSaveAsItemClick);
    fileMenu_->addSeparator();
    add(fileMenu_, "ScrCloseItem", "&Close", &ScriptForm::ScrCloseItemClick);
    QMenu* exec = menuBar()->addMenu(QStringLiteral("&Execute"));
    exec->setObjectName(QStringLiteral("ScrExecuteMenu"));
    add(exec, "ScrRunItem", "&Run", &ScriptForm::ScrRunItemClick)->setShortcut(Qt::Key_F8);
    QAction* stop = add(exec, "ScrStopItem", "&Stop", &ScriptForm::ScrStopItemClick);
    stop->setShortcut(Qt::Key_F9);
    stop->setEnabled(false);
    add(exec, "ScrStepItem", "&Step", &ScriptForm::ScrStepItemClick)->setShortcut(Qt::Key_F10);
}

QAction* ScriptForm::action(const char* objectName) const
{
    return findChild<QAction*>(QString::fromLatin1(objectName));
}

QString ScriptForm::statusPanel(int i) const
{
    return i >= 0 && i < 2 ? panels_[i]->text() : QString();
}

bool ScriptForm::modified() const
{
    return source_->document()->isModified();
}

// ---- Files ------------------------------------------------------------------------------

bool ScriptForm::load(const QString& path)
{
    QByteArray bytes;
    if (QFileInfo::exists(path)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            errorBox(QStringLiteral("The script %1 cannot be read:\n%2").arg(path, f.errorString()));
            return false;
        }
        bytes = f.readAll();
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    latin1_ = utf8.hasError();
    if (latin1_)
        text = QString::fromLatin1(bytes);
    crlf_ = bytes.contains("\r\n");
    loading_ = true;
    source_->setPlainText(text);
    source_->document()->setModified(false);
    loading_ = false;
    return true;
}

bool ScriptForm::save(const QString& path)
{
    QString text = source_->toPlainText();
    if (crlf_)
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(latin1_ ? text.toLatin1() : text.toUtf8()) < 0
        || !f.commit()) {
        errorBox(QStringLiteral("The script %1 cannot be written:\n%2").arg(path, f.errorString()));
        return false;
    }
    source_->document()->setModified(false);
    return true;
}

bool ScriptForm::allowDiscard()
{
    if (!modified())
        return true;
    switch (confirmSave(QStringLiteral("Save changes to %1").arg(currentFile_))) {
    case QMessageBox::Yes:
        if (currentFile_.isEmpty()) {
            ScrSaveAsItemClick();
            return !modified();
        }
        return save(currentFile_);
    case QMessageBox::No:
        // The changes are given up; they are not asked about again.
        source_->document()->setModified(false);
        return true;
    default:
        return false;
    }
}

void ScriptForm::resetCaption()
{
    changeCount_ = 0;
    ScriptSourceChange();
}

void ScriptForm::ScriptSourceChange()
{
    if (changeCount_ == 0)
        setWindowTitle(QStringLiteral("Zelvo script - ") + namePart(currentFile_));
    else if (changeCount_ == 1)
        setWindowTitle(windowTitle() + QStringLiteral("*"));
    ++changeCount_;
}

void ScriptForm::EditScript(const QString& path)
{
    currentFile_ = path;
    changeCount_ = 0;
    messages_->clear();
    load(path);
    resetCaption();
    show();
    raise();
    activateWindow();
}

void ScriptForm::ScrLoadItemClick()
{
    if (!allowDiscard())
        return;
    auto path = dialog_.Execute(this, ScriptDialog::Open);
    if (!path)
        return;
    currentFile_ = *path;
    load(*path);
    messages_->clear();
    resetCaption();
}

void ScriptForm::ScrSaveItemClick()
{
    if (currentFile_.isEmpty()) {
        ScrSaveAsItemClick();
        return;
    }
    if (save(currentFile_))
        resetCaption();
}

void ScriptForm::ScrSaveAsItemClick()
{
    auto path = dialog_.Execute(this, ScriptDialog::SaveAs);
    if (!path)
        return;
    currentFile_ = *path;
    if (save(currentFile_))
        resetCaption();
}

void ScriptForm::ScrCloseItemClick()
{
    close();
}

void ScriptForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    // The splitter starts at its design position once the window has its size; after
    // that it keeps where the user put it.
    if (!splitterPlaced_) {
        splitterPlaced_ = true;
        splitter_->setSizes({kSplitterPosition, std::max(10, splitter_->height() - kSplitterPosition)});
    }
}

void ScriptForm::closeEvent(QCloseEvent* e)
{
    if (allowDiscard())
        e->accept();
    else
        e->ignore();
}

// ---- Running -----------------------------------------------------------------------------

void ScriptForm::ScrRunItemClick()
{
    if (runner_.Running()) {
        if (runner_.Paused()) {
            runner_.setStepMode(false);
            runner_.StepGo();
        }
        return;
    }
    if (currentFile_.isEmpty()) {
        ScrSaveAsItemClick();
        if (currentFile_.isEmpty())
            return;
    } else if (modified() && !save(currentFile_)) {
        return;
    }
    resetCaption();
    RunScript(currentFile_, false);
}

void ScriptForm::ScrStepItemClick()
{
    if (runner_.Running()) {
        if (runner_.Paused())
            runner_.StepGo();
        return;
    }
    if (!currentFile_.isEmpty())
        RunScript(currentFile_, true);
}

void ScriptForm::ScrStopItemClick()
{
    runner_.RequestStop();
}

void ScriptForm::setRunState(bool running)
{
    if (onRunningChanged)
        onRunningChanged(running);
    fileMenu_->setEnabled(!running);
    action("ScrRunItem")->setEnabled(!running);
    action("ScrStepItem")->setEnabled(!running);
    action("ScrStopItem")->setEnabled(running);
    source_->setReadOnly(running);
}

void ScriptForm::RunScript(const QString& path, bool step)
{
    if (ScriptRunner::AnyRunning()) {
        errorBox(QStringLiteral("A script is already running."));
        return;
    }
    HostEnvironment& env = runner_.environment();
    setRunState(true);
    panels_[1]->clear();
    const bool terminalWasActive = env.terminalActive();
    env.setTerminalActive(false);
    messages_->clear();
    message_.setWindowTitle(namePart(path));
    const bool editorWasVisible = isVisible();
    hide();
    panels_[0]->setText(QStringLiteral("Running"));

    runner_.Run(fsPath(path), step, *this);
    console_.hide();
    message_.hide();

    panels_[0]->clear();
    if (editorWasVisible && !programClosing)
        show();
    env.setTerminalActive(terminalWasActive);
    setRunState(false);

    if (messages_->count() == 0 || programClosing)
        return;
    if (path != currentFile_) {
        // The editor takes the script that reported; unsaved edits of another are not
        // dropped without asking.
        if (!allowDiscard()) {
            show();
            return;
        }
        currentFile_ = path;
        load(path);
    }
    resetCaption();
    messages_->setCurrentRow(0);
    ScriptMessageClick();
    show();
}

void ScriptForm::ScriptMessageClick()
{
    QListWidgetItem* item = messages_->currentItem();
    if (!item)
        return;
    panels_[1]->setText(item->text());
    ShowLine(MessageLine(item->text().toStdString()));
}

void ScriptForm::ShowLine(int n)
{
    if (isHidden())
        show();
    const int line = std::max(n, 1) - 1;
    const int first = source_->firstVisibleLine();
    const int visible = source_->visibleLines();
    const bool outside = line < first || line > first + visible;
    source_->setCaretLine(line);
    if (outside)
        source_->scrollLines(line - source_->firstVisibleLine() - 1);
    source_->setFocus();
}

// ---- The run's windows ---------------------------------------------------------------------

void ScriptForm::errorMessage(const std::string& text)
{
    messages_->addItem(QString::fromLocal8Bit(text.c_str()));
}

void ScriptForm::consoleOutput(int ch)
{
    console_.showForRun();
    console_.ScriptConsole().Write(char(ch));
}

int ScriptForm::consoleInput(const std::function<bool()>& stopped)
{
    console_.showForRun();
    Console& c = console_.ScriptConsole();
    c.setFocus();
    runner_.environment().waitFor([&] { return c.keyWaiting() || stopped(); }, -1);
    if (stopped())
        return 0;
    try {
        return static_cast<unsigned char>(c.ReadKey());
    } catch (const ConsoleError&) {
        return -1;
    }
}

void ScriptForm::pausedAt(int line)
{
    ShowLine(line);
    action("ScrStepItem")->setEnabled(true);
    action("ScrRunItem")->setEnabled(true);
    panels_[0]->setText(QStringLiteral("Idle"));
}

void ScriptForm::resumed()
{
    panels_[0]->setText(QStringLiteral("Running"));
    action("ScrStepItem")->setEnabled(false);
    action("ScrRunItem")->setEnabled(false);
    hide();
}

// ---- The SelectFile dialog -------------------------------------------------------------------

std::string ScriptForm::SelectFile(const std::string& mask, const std::string& title, bool mustExist)
{
    const QString m = QString::fromLocal8Bit(mask.c_str());
    const int slash = m.lastIndexOf(QLatin1Char('/'));
    const QString dir = slash >= 0 ? m.left(slash + 1) : QString();
    QString pattern = slash >= 0 ? m.mid(slash + 1) : m;
    // "*.*" is the habit of systems whose names always have an extension.
    if (pattern.isEmpty() || pattern == QLatin1String("*.*"))
        pattern = QStringLiteral("*");
    const QString caption = QString::fromLocal8Bit(title.c_str());
    std::optional<QString> chosen;
    if (fileSelectAnswer) {
        chosen = fileSelectAnswer(dir, pattern, caption, mustExist);
    } else {
        QFileDialog d(this, caption);
        d.setObjectName(QStringLiteral("FileSelect"));
        if (!dir.isEmpty())
            d.setDirectory(dir);
        d.setNameFilter(pattern);
        d.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        if (d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty())
            chosen = d.selectedFiles().first();
    }
    if (!chosen || chosen->isEmpty())
        return {};
    return fsPath(QFileInfo(*chosen).absoluteFilePath());
}

} // namespace zelvo::script_host
