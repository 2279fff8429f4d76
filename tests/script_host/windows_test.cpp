// The script windows offscreen: the console's key reads, the editor's run, step and stop,
// and the main window's Script menu with its list.

#include "../app/ui_fakes.h"
#include "host_fakes.h"

#include "app/ui/main_form.h"
#include "app/transfer_line.h"
#include "app/ui/script_controller.h"
#include "protocols/protocol.h"
#include "script_host/script_runner.h"
#include "script_host/ui/color_memo.h"
#include "script_host/ui/console.h"
#include "script_host/ui/scr_add_form.h"
#include "script_host/ui/script_console_form.h"
#include "script_host/ui/script_form.h"
#include "script_host/ui/script_message_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QSyntaxHighlighter>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace zelvo;
using namespace zelvo::script_host;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Swallows the application's quit request once a console read has seen it, so the
// test program's own event loops keep working.
class QuitSwallower : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::Quit; }
};

TEST(ConsoleTest, KeyReadsWaitForTypedKeys)
{
    Console c;
    c.show();
    c.setFocus();
    // 70 keys typed while nobody reads: the first 64 are kept.
    QTest::keyClicks(&c, QString(70, QLatin1Char('k')));
    EXPECT_EQ(c.grid().keysWaiting(), 64u);
    for (int i = 0; i < 64; ++i)
        c.ReadKey();
    EXPECT_FALSE(c.KeyPressed());

    // A read waits, with the windows alive, until a key comes.
    QTimer::singleShot(20, &c, [&] { QTest::keyClicks(&c, QStringLiteral("xy")); });
    EXPECT_EQ(c.ReadKey(), 'x');
    EXPECT_EQ(c.ReadKey(), 'y');

    // Navigation keys scroll the view and are not read; Ctrl+C is read and breaks.
    int breaks = 0;
    c.OnBreak = [&] { ++breaks; };
    QTest::keyClick(&c, Qt::Key_PageDown);
    QTest::keyClick(&c, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(breaks, 1);
    EXPECT_EQ(c.ReadKey(), 3);

    // A second read while one waits fails; so does a quit during a read.
    std::string second;
    QTimer::singleShot(20, &c, [&] {
        try {
            c.ReadKey();
        } catch (const ConsoleError& e) {
            second = e.what();
        }
        QTest::keyClick(&c, Qt::Key_Z);
    });
    EXPECT_EQ(c.ReadKey(), 'z');
    EXPECT_EQ(second, "Read already active");
    QuitSwallower swallow;
    qApp->installEventFilter(&swallow);
    QTimer::singleShot(20, &c, [] {
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
    });
    EXPECT_THROW(
        try { c.ReadKey(); } catch (const ConsoleError& e) {
            EXPECT_STREQ(e.what(), "WM_Quit received during ReadKey");
            throw;
        },
        ConsoleError);
    qApp->removeEventFilter(&swallow);
}

TEST(ConsoleTest, OutputAndFonts)
{
    ScriptConsoleForm form;
    Console& c = form.ScriptConsole();
    EXPECT_EQ(form.windowTitle(), "ScriptConsoleForm");
    EXPECT_EQ(form.size(), QSize(649, 302));
    EXPECT_EQ(c.LineBreak(), LF);
    c.WriteString("abc\nde");
    EXPECT_EQ(c.grid().rowText(1).substr(0, 2), "de");
    // The view follows the cursor down the 25 rows.
    form.show();
    for (int i = 0; i < 30; ++i)
        c.WriteString("line\n");
    EXPECT_GT(c.grid().cursorRow(), 20);
    QFont proportional(QStringLiteral("Sans Serif"));
    proportional.setStyleHint(QFont::SansSerif);
    proportional.setFixedPitch(false);
    if (!QFontInfo(proportional).fixedPitch()) {
        const QFont before = c.font();
        try {
            c.setConsoleFont(proportional);
            ADD_FAILURE() << "a proportional font was taken";
        } catch (const ConsoleError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("TConsole: ", 0), 0u);
            EXPECT_NE(std::string(e.what()).find(" is not fixed-pitch"), std::string::npos);
        }
        EXPECT_EQ(c.font(), before);
    }
}

TEST(ColorMemoTest, PaintsTheSpansOfItsRules)
{
    ColorMemo memo;
    memo.setColorRules(ScriptColorRules());
    memo.setPlainText(QStringLiteral("for /* a\nb */ x"));
    QTest::qWait(1);
    const std::vector<ColorSpan> spans = memo.spans();
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[1].start, 4u);
    EXPECT_EQ(spans[1].length, 9u); // across the line end
    // The second line is painted from the span that began on the first.
    const QTextBlock second = memo.document()->findBlockByNumber(1);
    ASSERT_FALSE(second.layout()->formats().isEmpty());
    EXPECT_EQ(second.layout()->formats().first().format.foreground().color(), QColor(0, 0x80, 0x80));

    // Repainting the colours is not an edit: an idle editor does no work.
    struct CallCounter : QObject {
        int calls = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            calls += e->type() == QEvent::MetaCall;
            return false;
        }
    } counter;
    auto* highlighter = memo.document()->findChild<QSyntaxHighlighter*>();
    ASSERT_NE(highlighter, nullptr);
    highlighter->installEventFilter(&counter);
    QTest::qWait(100);
    EXPECT_LE(counter.calls, 1);
}

// ---- The editor and the Script menu on a main window with a fake line -------------------------

class RecordingTerminal : public app::testing::FakeTerminal {
public:
    std::string shown;
    void showReceived(const uint8_t* d, size_t n) override { shown.append(reinterpret_cast<const char*>(d), n); }
};

class ScriptWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path()
               / ("zelvo-script-ui-" + std::to_string(::getpid()) + "-"
                  + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        platform::RegistryStore s(platform::RegistryStore::defaultPath());
        app::SessionSettings st;
        st.port.ComNumber = 2;
        st.script.Scripts = {(dir_ / "a" / "login.vm").string(), (dir_ / "b" / "login.vm").string()};
        st.script.File = "last.vm";
        st.script.Path = dir_.string();
        app::WriteRegistry(s, app::kDefaultSession, st);
        s.save();
        form_ = std::make_unique<app::MainForm>(port_, terminal_, app::FileServerFunctions{},
                                                platform::RegistryStore::defaultPath(), false);
        form_->setPrompts(&prompts_);
        form_->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
        editor().confirmSave = [this](const QString& text) {
            questions_.push_back(text);
            return answer_;
        };
        editor().errorBox = [this](const QString& text) { errors_.push_back(text); };
    }
    void TearDown() override
    {
        form_.reset();
        fs::remove_all(dir_);
    }

    app::ScriptController& scripts() { return form_->scripts(); }
    ScriptForm& editor() { return scripts().editor(); }
    QString write(const std::string& name, const std::string& text)
    {
        const fs::path p = dir_ / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
        return QString::fromStdString(p.string());
    }
    // Runs actions one after the other, each at the next line the run is held at.
    void whenPaused(std::vector<std::function<void()>> actions)
    {
        auto queue = std::make_shared<std::deque<std::function<void()>>>(actions.begin(), actions.end());
        auto acted = std::make_shared<uint64_t>(0);
        auto* timer = new QTimer(form_.get());
        QObject::connect(timer, &QTimer::timeout, timer, [this, queue, acted, timer] {
            if (queue->empty()) {
                timer->deleteLater();
                return;
            }
            const ScriptRunner& r = scripts().runner();
            if (!r.Paused() || r.HoldCount() == *acted)
                return;
            *acted = r.HoldCount();
            auto a = std::move(queue->front());
            queue->pop_front();
            a();
        });
        timer->start(5);
    }
    QStringList messages() const
    {
        QStringList l;
        for (int i = 0; i < form_->scripts().editor().ScriptMessage()->count(); ++i)
            l << form_->scripts().editor().ScriptMessage()->item(i)->text();
        return l;
    }

    fs::path dir_;
    app::testing::FakePort port_;
    RecordingTerminal terminal_;
    app::testing::FakePrompts prompts_;
    std::unique_ptr<app::MainForm> form_;
    std::vector<QString> questions_;
    std::vector<QString> errors_;
    QMessageBox::StandardButton answer_ = QMessageBox::Cancel;
};

TEST_F(ScriptWindowsTest, TheScriptMenuFollowsTheSessionAndTheMenuEditor)
{
    QMenu* menu = form_->findChild<QMenu*>(QStringLiteral("ScriptMenu"));
    auto captions = [&] {
        QStringList l;
        for (QAction* a : menu->actions())
            if (a->objectName().startsWith(QStringLiteral("Script")) && a->objectName().endsWith(QStringLiteral("Item")))
                l << a->text();
        return l;
    };
    // Two scripts of the same name in different directories: same text, other numbers.
    EXPECT_EQ(captions(), (QStringList{"&0 login.vm", "&1 login.vm"}));
    EXPECT_TRUE(form_->action("ScriptDelim")->isVisible());
    EXPECT_EQ(scripts().dialog().FileName, "last.vm");

    // Add one, remove the first; Cancel would change nothing.
    scripts().dialog().answer = [this](ScriptDialog::Purpose) { return write("c.vm", ""); };
    scripts().addFormAnswer = [](ScrAddForm& f) {
        f.AddClick();
        f.ScrList()->setCurrentRow(0);
        f.RemoveClick();
        return true;
    };
    scripts().AddScriptItemClick();
    EXPECT_EQ(captions(), (QStringList{"&0 login.vm", "&1 c.vm"}));
    scripts().addFormAnswer = [](ScrAddForm& f) {
        f.ScrList()->clear();
        return false;
    };
    scripts().AddScriptItemClick();
    EXPECT_EQ(captions().size(), 2);

    // The list and the dialog's choice are stored with the session at exit.
    form_->close();
    platform::RegistryStore s(platform::RegistryStore::defaultPath());
    s.load();
    app::SessionSettings st;
    app::ReadRegistry(s, app::kDefaultSession, st);
    EXPECT_EQ(st.script.Scripts, (std::vector<std::string>{(dir_ / "b" / "login.vm").string(),
                                                           (dir_ / "c.vm").string()}));
    EXPECT_EQ(st.script.File, (dir_ / "c.vm").string());
}

TEST_F(ScriptWindowsTest, ARunFromTheMenuUsesTheLineTheTerminalAndTheConsole)
{
    struct NoLine : app::TransferLine {
        int beginTransmit(protocols::Protocol&) override { return -1; }
        int beginReceive(protocols::Protocol&) override { return -1; }
        void flushInput() override {}
    } noLine;
    protocols::Protocol protocol;
    form_->setTransfer(&protocol, &noLine);
    QMenu* receiveMenu = form_->findChild<QMenu*>(QStringLiteral("ReceiveMenu"));
    ASSERT_TRUE(receiveMenu->isEnabled());
    write("b/login.vm", R"(void main()
{
    print("hi");
    Send("ATZ", 13);
    if (Waitfor("OK", 5)) TerminalPrint("\nready");
    Message("step ", 2);
}
)");
    QTimer::singleShot(0, form_.get(), [this, receiveMenu] {
        EXPECT_FALSE(form_->action("RunScriptItem")->isEnabled());
        EXPECT_TRUE(form_->action("StopScriptItem")->isEnabled());
        EXPECT_FALSE(terminal_.active);
        EXPECT_TRUE(scripts().console().isVisible());
        // The File menu offers no transfer while the script owns the line.
        QMenu* file = form_->findChild<QMenu*>(QStringLiteral("FileMenu"));
        emit file->aboutToShow();
        EXPECT_FALSE(receiveMenu->isEnabled());
        port_.receive("ATZ\r\r\nOK\r\n");
    });
    scripts().RunscriptItemClick(2);
    EXPECT_EQ(port_.sent, "ATZ\r");
    // What followed the text the script waited for is shown when the run ends.
    EXPECT_EQ(terminal_.shown, "ATZ\r\r\nOK\r\nready\r\n");
    EXPECT_EQ(scripts().messageWindow().text(), "step 2");
    EXPECT_EQ(scripts().messageWindow().windowTitle(), "login.vm");
    EXPECT_EQ(scripts().console().ScriptConsole().grid().rowText(0).substr(0, 2), "hi");
    // After the run.
    EXPECT_FALSE(scripts().console().isVisible());
    EXPECT_FALSE(scripts().messageWindow().isVisible());
    EXPECT_TRUE(terminal_.active);
    EXPECT_TRUE(form_->action("RunScriptItem")->isEnabled());
    EXPECT_FALSE(form_->action("StopScriptItem")->isEnabled());
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(editor().isVisible());
    EXPECT_TRUE(receiveMenu->isEnabled());
    form_->setTransfer(nullptr, nullptr);
}

TEST_F(ScriptWindowsTest, StopFromTheMenuEndsAWaitWithoutTimeOut)
{
    const QString path = write("wait.vm", "void main()\n{\n    Waitfor(\"never\");\n    print(1);\n}\n");
    QTimer::singleShot(50, form_.get(), [this] { form_->action("StopScriptItem")->trigger(); });
    scripts().dialog().answer = [&](ScriptDialog::Purpose) { return path; };
    scripts().RunscriptItemClick(0);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].contains(QStringLiteral("Execution interrupted.")));
    // The editor opens at the line the message names.
    EXPECT_TRUE(editor().isVisible());
    EXPECT_EQ(editor().currentFile(), path);
    EXPECT_EQ(editor().ScriptSource()->caretLine() + 1, 3);
    EXPECT_EQ(editor().statusPanel(1), messages()[0]);
}

TEST_F(ScriptWindowsTest, CompileErrorsOpenTheEditorAtTheirLine)
{
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "// filler\n";
    text += "void main() { Waitfor( }\n";
    for (int i = 0; i < 60; ++i)
        text += "// filler\n";
    const QString path = write("broken.vm", text);
    editor().resize(500, 300);
    editor().RunScript(path, false);
    ASSERT_FALSE(messages().isEmpty());
    EXPECT_TRUE(messages()[0].startsWith(QStringLiteral("Line 61")));
    EXPECT_TRUE(editor().isVisible());
    EXPECT_EQ(editor().ScriptMessage()->currentRow(), 0);
    EXPECT_EQ(editor().ScriptSource()->caretLine(), 60);
    // Scrolled so that the line is the second one shown.
    EXPECT_EQ(editor().ScriptSource()->firstVisibleLine(), 59);
    EXPECT_EQ(editor().windowTitle(), "Zelvo script - broken.vm");
    EXPECT_TRUE(port_.sent.empty());
}

TEST_F(ScriptWindowsTest, EditorCaptionSavingAndClosing)
{
    const QString path = write("edit.vm", "void main()\r\n{\r\n    print(\"\xe9\");\r\n}\r\n");
    editor().EditScript(path);
    EXPECT_EQ(editor().windowTitle(), "Zelvo script - edit.vm");
    QTest::keyClicks(editor().ScriptSource(), QStringLiteral("x"));
    QTest::keyClicks(editor().ScriptSource(), QStringLiteral("y"));
    EXPECT_EQ(editor().windowTitle(), "Zelvo script - edit.vm*");
    // Closing asks; Cancel keeps the window and the text, and so does closing the program.
    answer_ = QMessageBox::Cancel;
    editor().close();
    EXPECT_TRUE(editor().isVisible());
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "Save changes to " + path);
    form_->close();
    EXPECT_TRUE(form_->isVisible());
    // Saving writes the bytes back as they were read (a Latin-1 byte, CR LF line ends).
    editor().ScrSaveItemClick();
    EXPECT_EQ(editor().windowTitle(), "Zelvo script - edit.vm");
    EXPECT_EQ(slurp(path.toStdString()), "xyvoid main()\r\n{\r\n    print(\"\xe9\");\r\n}\r\n");
    editor().close();
    EXPECT_FALSE(editor().isVisible());
}

TEST_F(ScriptWindowsTest, RunSavesFirstStepHoldsAtLinesAndStopEndsTheRun)
{
    const QString path = write("step.vm", "void main()\n{\n    var a;\n    a = 1;\n    a = 2;\n    print(a);\n}\n");
    editor().EditScript(path);
    // Run on a modified source saves it first.
    QTextCursor c(editor().ScriptSource()->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral("// end\n"));
    editor().ScrRunItemClick();
    EXPECT_NE(slurp(path.toStdString()).find("// end"), std::string::npos);
    EXPECT_EQ(scripts().console().ScriptConsole().grid().rowText(0).substr(0, 1), "2");

    // Step: held at lines; Step goes one line on, Run runs to the end.
    std::vector<int> held;
    bool readOnlyWhileHeld = false, stopEnabled = false, runEnabled = false;
    auto note = [&] {
        held.push_back(editor().ScriptSource()->caretLine() + 1);
        readOnlyWhileHeld = editor().ScriptSource()->isReadOnly();
        stopEnabled = editor().action("ScrStopItem")->isEnabled();
        runEnabled = editor().action("ScrRunItem")->isEnabled();
    };
    whenPaused({[&] { note(); editor().action("ScrStepItem")->trigger(); },
                [&] { note(); editor().ScrStepItemClick(); },
                [&] { note(); editor().ScrRunItemClick(); }});
    editor().ScrStepItemClick();
    // Held first where main is called, then at each line of it.
    EXPECT_EQ(held, (std::vector<int>{7, 4, 5}));
    EXPECT_TRUE(readOnlyWhileHeld);
    EXPECT_TRUE(stopEnabled && runEnabled);
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(editor().ScriptSource()->isReadOnly());
    EXPECT_EQ(editor().statusPanel(0), "");

    // Stop while held ends the run with the engine's message.
    whenPaused({[&] { editor().ScrStopItemClick(); }});
    editor().ScrStepItemClick();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].contains(QStringLiteral("Execution interrupted.")));
}

TEST_F(ScriptWindowsTest, ClosingTheProgramStopsAWaitingScript)
{
    const QString path = write("forever.vm", "void main() { Waitfor(\"never\"); }\n");
    editor().EditScript(path);
    bool closedDuringRun = false;
    QTimer::singleShot(50, form_.get(), [&] {
        form_->close();
        closedDuringRun = scripts().running();
    });
    editor().RunScript(path, false);
    EXPECT_TRUE(closedDuringRun);
    EXPECT_FALSE(scripts().running());
    EXPECT_FALSE(form_->isVisible());
    // The run ended quietly: no editor popping up at exit.
    EXPECT_FALSE(editor().isVisible());
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
