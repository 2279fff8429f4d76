// The main window's send macros, Send hex, hex view, timestamps and line endings: the
// dialogs, what reaches the line, and what a session keeps of them.

#include "test_home.h"
#include "app/ui/macro_controller.h"
#include "app/ui/macro_editor.h"
#include "app/ui/main_form.h"
#include "app/ui/send_hex_dialog.h"
#include "app/ui/view_controller.h"
#include "terminal/ui/hex_view.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <unistd.h>

using namespace zelvo::app;
using namespace zelvo::app::testing;
using zelvo::platform::RegistryStore;
namespace fs = std::filesystem;

namespace {

class SendViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = testConfigHome("zelvo-send-view");
        store_ = RegistryStore::defaultPath();
        RegistryStore s(store_);
        SessionSettings st;
        st.port.ComNumber = 2;
        WriteRegistry(s, kDefaultSession, st);
        ASSERT_TRUE(s.save());
    }
    void TearDown() override
    {
        form_.reset();
        fs::remove_all(dir_);
    }

    MainForm& start()
    {
        form_ = std::make_unique<MainForm>(port_, terminal_, FileServerFunctions{}, store_, false);
        form_->setPrompts(&prompts_);
        form_->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->started(); }, 10000));
        return *form_;
    }

    fs::path dir_;
    std::string store_;
    FakePort port_;
    FakeTerminal terminal_;
    FakePrompts prompts_;
    std::unique_ptr<MainForm> form_;
};

} // namespace

TEST(MacroEditorDialog, ABadEscapeIsNamedAndKeepsTheDialogOpen)
{
    MacroEditor editor;
    MacroEditor::Macros m;
    m[0] = {"Reset", "AT&F\\r"};
    editor.Load(m);
    EXPECT_TRUE(editor.faultLabel()->isHidden());

    editor.textEdit(1)->setText(QStringLiteral("ls\\q"));
    EXPECT_FALSE(editor.faultLabel()->isHidden()) << "named while typing";
    EXPECT_EQ(editor.faultLabel()->text().left(40), QStringLiteral("Shift+F2, column 3: Unknown escape \\q; u"));
    editor.show();
    editor.accept();
    EXPECT_TRUE(editor.isVisible()) << "OK is refused while a text does not decode";
    EXPECT_EQ(editor.result(), int(QDialog::Rejected));
    EXPECT_EQ(editor.textEdit(1)->cursorPosition(), 2) << "the cursor stands at the fault";

    // Columns count characters, not bytes of their UTF-8 encoding.
    editor.textEdit(1)->setText(QStringLiteral("é\\x4"));
    EXPECT_TRUE(editor.faultLabel()->text().startsWith(QStringLiteral("Shift+F2, column 2: \\x needs")));

    editor.textEdit(1)->setText(QStringLiteral("ls -l\\r"));
    editor.nameEdit(1)->setText(QStringLiteral("  List  "));
    editor.nameEdit(2)->setText(QStringLiteral("orphan caption"));
    EXPECT_TRUE(editor.faultLabel()->isHidden());
    editor.accept();
    EXPECT_EQ(editor.result(), int(QDialog::Accepted));
    const MacroEditor::Macros r = editor.Result();
    EXPECT_EQ(r[0], (SendMacro{"Reset", "AT&F\\r"}));
    EXPECT_EQ(r[1], (SendMacro{"List", "ls -l\\r"}));
    EXPECT_EQ(r[2], SendMacro{}) << "a caption without a text is no macro";
}

TEST(SendHexDialogTest, SendIsOfferedOnlyForWholeBytes)
{
    SendHexDialog d;
    d.Load(QString());
    EXPECT_FALSE(d.sendButton()->isEnabled());
    QTest::keyClicks(d.hexEdit(), QStringLiteral("1b 5"));
    EXPECT_FALSE(d.sendButton()->isEnabled());
    EXPECT_EQ(d.stateLabel()->text(), QStringLiteral("Column 4: \"5\" has an odd number of hex digits; each byte takes two"));
    EXPECT_TRUE(d.bytes().empty());
    QTest::keyClicks(d.hexEdit(), QStringLiteral("B41"));
    EXPECT_TRUE(d.sendButton()->isEnabled());
    EXPECT_EQ(d.stateLabel()->text(), QStringLiteral("3 bytes"));
    EXPECT_EQ(d.bytes(), "\x1b[A");
}

TEST_F(SendViewTest, MacrosSendFromButtonsAndShiftFunctionKeys)
{
    MainForm& f = start();
    MacroController& mc = f.macros();
    EXPECT_FALSE(mc.barVisible()) << "no row of buttons until a macro exists";
    const int heightBefore = f.height();

    mc.setEditorPrompt([](const MacroController::Macros& current) {
        MacroController::Macros m = current;
        m[0] = {"Reset", "AT&F\\r"};
        m[2] = {"", "\\x03\\\\q\\n"};
        return std::optional<MacroController::Macros>(m);
    });
    f.action("MacrosItem")->trigger();
    ASSERT_TRUE(mc.barVisible());
    EXPECT_GT(f.height(), heightBefore) << "the window grows by the row";
    auto* reset = f.findChild<QPushButton*>(QStringLiteral("MacroBtn1"));
    auto* third = f.findChild<QPushButton*>(QStringLiteral("MacroBtn3"));
    auto* unused = f.findChild<QPushButton*>(QStringLiteral("MacroBtn2"));
    ASSERT_TRUE(reset && third && unused);
    EXPECT_EQ(reset->text(), QStringLiteral("Reset"));
    EXPECT_EQ(third->text(), QStringLiteral("\\x03\\\\q\\n")) << "unnamed: its text";
    EXPECT_TRUE(unused->isHidden());

    QTest::mouseClick(reset, Qt::LeftButton);
    EXPECT_EQ(terminal_.typed, "AT&F\r");
    terminal_.typed.clear();
    f.activateWindow();
    QTest::keyClick(&f, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(terminal_.typed, std::string("\x03\\q\n"));
    terminal_.typed.clear();
    EXPECT_FALSE(f.findChild<QAction*>(QStringLiteral("Macro2Key"))->isEnabled())
        << "Shift+F2 stays with the terminal while it has no macro";

    // While the line is handed over (a transfer), a macro sends nothing, as typing does.
    terminal_.active = false;
    EXPECT_FALSE(mc.sendMacro(0));
    terminal_.active = true;

    // Kept with the session.
    f.writeSettingsNow();
    SessionSettings back;
    RegistryStore s(store_);
    ASSERT_TRUE(s.load());
    ReadRegistry(s, kDefaultSession, back);
    EXPECT_EQ(back.script.Macros[0], (SendMacro{"Reset", "AT&F\\r"}));
    EXPECT_EQ(back.script.Macros[2].Text, "\\x03\\\\q\\n");
}

TEST_F(SendViewTest, AMacroThatDoesNotDecodeIsReportedNotSent)
{
    {
        RegistryStore s(store_);
        ASSERT_TRUE(s.load());
        s.writeString(GroupKey(kDefaultSession, "Script"), "Macro4", "reboot\\z");
        ASSERT_TRUE(s.save());
    }
    MainForm& f = start();
    EXPECT_FALSE(f.macros().sendMacro(3));
    EXPECT_TRUE(terminal_.typed.empty());
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].startsWith(
        QStringLiteral("The macro on Shift+F4 was not sent:\nUnknown escape \\z")));
}

TEST_F(SendViewTest, SendHexGoesToTheLineAndSaysWhenItCannot)
{
    MainForm& f = start();
    QString preset;
    f.macros().setHexPrompt([&](QString& text) {
        preset = text;
        text = QStringLiteral("0D 0A");
        return std::optional<std::string>("\r\n");
    });
    f.action("SendHexItem")->trigger();
    EXPECT_EQ(terminal_.typed, "\r\n");
    terminal_.active = false;
    f.action("SendHexItem")->trigger();
    EXPECT_EQ(terminal_.typed, "\r\n");
    ASSERT_EQ(prompts_.errors.size(), 1u);
    EXPECT_TRUE(prompts_.errors[0].startsWith(QStringLiteral("The bytes were not sent")));
}

TEST_F(SendViewTest, HexViewTimestampsAndLineEndsFollowTheMenusAndTheSession)
{
    MainForm& f = start();
    ViewController& v = f.view();
    zelvo::terminal::HexView* hex = v.hexView();
    // Bytes are recorded while the dump is hidden, so switching shows them.
    terminal_.receive("hello\r\n");
    EXPECT_FALSE(v.hexViewShown());
    f.action("HexViewItem")->trigger();
    ASSERT_TRUE(v.hexViewShown());
    EXPECT_TRUE(f.action("HexViewItem")->isChecked());
    EXPECT_EQ(hex->geometry(), terminal_.view.geometry()) << "the dump lies over the page";
    EXPECT_EQ(hex->history().rowText(0).substr(0, 27), "00000000  68 65 6C 6C 6F 0D");
    terminal_.view.resize(terminal_.view.width() + 16, terminal_.view.height());
    EXPECT_EQ(hex->geometry(), terminal_.view.geometry()) << "and follows it when it changes";

    f.action("TimestampsDeltaItem")->trigger();
    EXPECT_EQ(terminal_.timestamps, 2);
    EXPECT_TRUE(f.action("TimestampsDeltaItem")->isChecked());
    EXPECT_FALSE(f.action("TimestampsOffItem")->isChecked());
    f.action("EnterCrLfItem")->trigger();
    EXPECT_EQ(terminal_.enterSends, 2);
    f.action("LfImpliesCrItem")->trigger();
    EXPECT_TRUE(terminal_.lfImpliesCr);

    // A session saved now keeps them; an older session without them leaves them as
    // they are, and going back to the saved one brings them back.
    prompts_.sessionAnswers.push_back({SessionFormResult::Save, "lab", {}});
    f.SaveSessionItemClick();
    f.action("HexViewItem")->trigger();
    f.action("TimestampsOffItem")->trigger();
    f.action("EnterCrItem")->trigger();
    f.action("LfImpliesCrItem")->trigger();
    EXPECT_FALSE(v.hexViewShown());
    EXPECT_EQ(terminal_.timestamps, 0);
    f.SessionDelimClick(1);
    EXPECT_TRUE(v.hexViewShown());
    EXPECT_EQ(terminal_.timestamps, 2);
    EXPECT_EQ(terminal_.enterSends, 2);
    EXPECT_TRUE(terminal_.lfImpliesCr);
    EXPECT_TRUE(f.action("EnterCrLfItem")->isChecked());
}

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
