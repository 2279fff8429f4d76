#include "app/ui/main_form.h"

#include "app/main_form_logic.h"
#include "app/port_access.h"
#include "app/paste_queue.h"
#include "app/ui/capture_controller.h"
#include "app/ui/paste_controller.h"
#include "app/ui/scrollback_controller.h"
#include "app/ui/dial_controller.h"
#include "app/ui/macro_controller.h"
#include "app/ui/reconnect_controller.h"
#include "app/ui/rfs_statistic.h"
#include "app/ui/script_controller.h"
#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"
#include "app/ui/view_controller.h"
#include "comm/ui/status_light.h"
#include "terminal/emulator_type.h"
#include "terminal/line_endings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPalette>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

namespace zelvo::app {

using platform::RegistryStore;

namespace {

constexpr int kStatusWidths[4] = {220, 80, 80, 80};

QAction* addItem(QMenu* menu, const char* name, const char* caption, bool enabled = true)
{
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromLatin1(name));
    a->setEnabled(enabled);
    return a;
}


} // namespace

MainForm::MainForm(PortAccess& port, TerminalAccess& terminal, FileServerFunctions server,
                   std::string storePath, bool startMinimised, QWidget* parent)
    : QMainWindow(parent)
    , port_(port)
    , terminal_(terminal)
    , server_(server)
    , storePath_(std::move(storePath))
    , router_(*this, server.receive, server.dispatch)
    , transfers_(std::make_unique<TransferController>(static_cast<TransferController::Host&>(*this),
                                                      port, terminal, settings_.protocol, this))
    , startMinimised_(startMinimised)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Zelvo32"));
    // The window opens fitted to the terminal and may be resized and maximised: the
    // terminal keeps its page, centred in the window, with scroll bars where the window
    // is smaller than the page.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);

    central_ = new QWidget(this);
    central_->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central_);
    auto* column = new QVBoxLayout(central_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    terminalArea_ = new QScrollArea(central_);
    terminalArea_->setObjectName(QStringLiteral("TerminalArea"));
    terminalArea_->setFrameShape(QFrame::NoFrame);
    terminalArea_->setAlignment(Qt::AlignCenter);
    terminalArea_->setWidgetResizable(false);
    // Around a terminal smaller than the window: the terminal's own black.
    QPalette surround = terminalArea_->viewport()->palette();
    surround.setColor(QPalette::Window, Qt::black);
    terminalArea_->viewport()->setPalette(surround);
    terminalArea_->viewport()->setAutoFillBackground(true);
    terminalFrame_ = new QWidget;
    terminalFrame_->setObjectName(QStringLiteral("TerminalFrame"));
    terminalArea_->setWidget(terminalFrame_);
    column->addWidget(terminalArea_, 1);
    terminal_.widget()->setParent(terminalFrame_);
    terminal_.widget()->setObjectName(QStringLiteral("Terminal"));
    terminal_.widget()->move(3, 3);
    buildMenus();
    buildLedBar();
    column->addWidget(ledBar_);
    buildStatusBar();
    scripts_ = std::make_unique<ScriptController>(*this, port_, terminal_);
    view_ = new ViewController(*this, terminal_, settings_.emulator);
    macros_ = new MacroController(*this, terminal_, settings_.script.Macros);
    // The macro buttons run along the bottom of the terminal, above the status lights.
    column->insertWidget(1, macros_->bar());

    statusTimer_ = new QTimer(this);
    statusTimer_->setObjectName(QStringLiteral("StatusTimer"));
    statusTimer_->setInterval(250);
    connect(statusTimer_, &QTimer::timeout, this, &MainForm::StatusTimerTimer);

    scrollback_ = new ScrollbackController(terminal_, action("ScrollbackItem"), [this] { UpdateStatus(); }, this);
    capture_ = new CaptureController(terminal_, action("LogItem"), [this] { UpdateStatus(); }, this);
    paste_ = new PasteController(port_, this);
    paste_->setLineBusy([this] { return transfers_->running(); });

    attachListeners();
    port_.onLineLost = [this](const std::string& reason) { onLineLost(reason); };
    // A line whose open waited for the previous close (Port... right after a lost
    // line) gets its auto-start trigger when it is really open.
    port_.onLineOpened = [this] {
        if (!transfers_->running())
            ArmZmodemTrigger();
    };
    reconnect_ = new ReconnectController(port_, terminal_, this);
    reconnect_->onReconnected = [this] {
        ArmZmodemTrigger();
        UpdateStatus();
        UpdateMenu();
    };
    terminal_.onKeyPress = [this] { TerminalKeyPress(); };
    // The terminal shows what the file server router leaves of the bytes it reads.
    if (server_.available())
        terminal_.setReceiveFilter([this](const uint8_t* d, size_t n, std::vector<uint8_t>& shown) {
            router_.takeShown(d, n, shown);
        });
    terminal_.onTitle = [this](const std::string& t) {
        remoteTitle_ = t;
        showSession();
    };
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &MainForm::UpdateMenu);

    FormCreate();
}

MainForm::~MainForm()
{
    delete macros_;
    delete view_;
    scripts_.reset();
    dial_.reset();
    transfers_->setTransfer(nullptr, nullptr);
    port_.onData = nullptr;
    port_.onDataTrigger = nullptr;
    port_.onLineLost = nullptr;
    port_.onLineOpened = nullptr;
    terminal_.onKeyPress = nullptr;
    terminal_.setReceiveFilter(nullptr);
    terminal_.setTypingHeld(false);
    terminal_.onTitle = nullptr;
    // The terminal belongs to the program, not to this window.
    if (terminal_.widget()->parent() == terminalFrame_)
        terminal_.widget()->setParent(nullptr);
}

void MainForm::attachListeners()
{
    port_.onData = [this](const uint8_t* d, size_t n) { onPortData(d, n); };
    port_.onDataTrigger = [this](uint16_t h) { transfers_->ZmodemTrigger(h); };
}

void MainForm::detachListeners()
{
    port_.onData = nullptr;
    port_.onDataTrigger = nullptr;
}

void MainForm::setTransfer(protocols::Protocol* protocol, TransferLine* line)
{
    transfers_->setTransfer(protocol, line);
    if (scripts_)
        scripts_->setTransfer(protocol, line);
    UpdateMenu();
}

void MainForm::transferStateChanged()
{
    UpdateMenu();
    UpdateStatus();
}

void MainForm::refreshLights()
{
    if (ledBarVisible()) {
        // The lights show the line as it is now, not as it was when the transfer began.
        setLightMonitoring(false);
        setLightMonitoring(true);
    }
}

void MainForm::setPrompts(UserPrompts* prompts)
{
    prompts_ = prompts;
    capture_->setPrompts(prompts);
    scrollback_->setPrompts(prompts);
    transfers_->setPrompts(prompts);
    macros_->setPrompts(prompts);
    scripts_->setPrompts(prompts);
    if (dial_)
        dial_->setPrompts(prompts);
}

void MainForm::setTelephony(telephony::TelephonyDevice* device)
{
    dial_.reset();
    if (device) {
        dial_ = std::make_unique<DialController>(*this, port_, *device, settings_.script.Dial);
        dial_->setPrompts(prompts_);
    }
    UpdateMenu();
}

QAction* MainForm::action(const char* objectName) const
{
    return findChild<QAction*>(QString::fromLatin1(objectName));
}

void MainForm::buildMenus()
{
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("FileMenu"));
    // The items of protocols without an engine stay disabled (UpdateMenu).
    QMenu* send = file->addMenu(QStringLiteral("&Send."));
    send->setObjectName(QStringLiteral("SendMenu"));
    QMenu* receive = file->addMenu(QStringLiteral("&Receive"));
    receive->setObjectName(QStringLiteral("ReceiveMenu"));
    static const char* kProtocols[9] = {"&Xmodem", "Xmodem &CRC", "Xmodem &1K",
                                        "Xmodem &G", "&Ymodem",     "Y&modem G",
                                        "&Zmodem", "&Kermit",       "&Ascii"};
    for (int t = 1; t <= 9; ++t) {
        QAction* s = send->addAction(QString::fromLatin1(kProtocols[t - 1]));
        s->setObjectName(QStringLiteral("Send%1Item").arg(t));
        s->setData(t);
        QAction* r = receive->addAction(QString::fromLatin1(kProtocols[t - 1]));
        r->setObjectName(QStringLiteral("Receive%1Item").arg(t));
        r->setData(t);
        connect(s, &QAction::triggered, this, [this, t] { SendItemClick(t); });
        connect(r, &QAction::triggered, this, [this, t] { ReceiveItemClick(t); });
    }
    file->addSeparator();
    connect(addItem(file, "LogItem", "&Open capture file..."), &QAction::triggered, this,
            &MainForm::LogItemClick);
    file->addSeparator();
    QAction* dial = addItem(file, "DialItem", "&Dial...");
    QAction* hangup = addItem(file, "HangupItem", "&Hangup..", false);
    QAction* tapiSep = file->addSeparator();
    tapiSep->setObjectName(QStringLiteral("TapiSep"));
    (void)dial;
    (void)hangup;
    connect(addItem(file, "ExitItem", "&Exit"), &QAction::triggered, this,
            &MainForm::ExitItemClick);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("EditMenu"));
    QAction* copy = addItem(edit, "CopyItem", "&Copy");
    connect(copy, &QAction::triggered, this, &MainForm::CopyItemClick);
    QAction* paste = addItem(edit, "PasteItem", "&Paste", false);
    connect(paste, &QAction::triggered, this, &MainForm::PasteItemClick);
    // The keys of Linux terminals: Ctrl+C and Ctrl+V stay with the line.
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    paste->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    edit->addSeparator();
    QAction* sb = addItem(edit, "ScrollbackItem", "&Scrollback");
    sb->setCheckable(true);
    connect(sb, &QAction::triggered, this, &MainForm::ScrollbackItemClick);

    QMenu* prefs = bar->addMenu(QStringLiteral("&Preferences"));
    prefs->setObjectName(QStringLiteral("PreferencesMenu"));
    preferencesMenu_ = prefs;
    QMenu* term = prefs->addMenu(QStringLiteral("&Terminal"));
    term->setObjectName(QStringLiteral("TerminalItem"));
    QAction* none = addItem(term, "NoneItem", "&None");
    QAction* ansi = addItem(term, "AnsiItem", "&ANSI");
    QAction* vt100 = addItem(term, "VT100Item", "&VT100");
    QAction* xterm = addItem(term, "XtermItem", "&xterm");
    for (QAction* a : {none, ansi, vt100, xterm})
        a->setCheckable(true);
    ansi->setChecked(true);
    connect(none, &QAction::triggered, this, &MainForm::NoneItemClick);
    connect(ansi, &QAction::triggered, this, &MainForm::AnsiItemClick);
    connect(vt100, &QAction::triggered, this, &MainForm::VT100ItemClick);
    connect(xterm, &QAction::triggered, this, &MainForm::XtermItemClick);
    term->addSeparator();
    QAction* visualBell = addItem(term, "VisualBellItem", "Visual &Bell");
    visualBell->setCheckable(true);
    connect(visualBell, &QAction::triggered, this, &MainForm::VisualBellItemClick);
    connect(addItem(prefs, "PortItem", "&Port..."), &QAction::triggered, this,
            &MainForm::PortItemClick);
    addItem(prefs, "TapiItem", "T&api...", false);
    connect(addItem(prefs, "ProtocolItem", "P&rotocol...", false), &QAction::triggered, this,
            &MainForm::ProtocolItemClick);
    connect(addItem(prefs, "KeyboardItem", "&Keyboard..."), &QAction::triggered, this,
            &MainForm::KeyboardItemClick);
    connect(addItem(prefs, "FontItem", "&Font..."), &QAction::triggered, this,
            &MainForm::FontItemClick);
    connect(addItem(prefs, "HistoryItem", "Scroll&back rows..."), &QAction::triggered, this,
            [this] { scrollback_->chooseRows(); });
    prefs->addSeparator();
    connect(addItem(prefs, "SaveSesItem", "&Save / Delete..."), &QAction::triggered, this,
            &MainForm::SaveSessionItemClick);
    sessionDelim_ = prefs->addSeparator();
    sessionDelim_->setObjectName(QStringLiteral("SessionDelim"));
    sessionDelim_->setVisible(false);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("ViewMenu"));
    connect(addItem(view, "ClearScreenItem", "&Clear Screen"), &QAction::triggered, this,
            &MainForm::ClearScreenItemClick);
    view->addSeparator();
    QAction* echo = addItem(view, "EchoItem", "Local &Echo");
    echo->setCheckable(true);
    connect(echo, &QAction::triggered, this, &MainForm::EchoItemClick);
    view->addSeparator();
    QAction* led = addItem(view, "LedItem", "&Port Status");
    led->setCheckable(true);
    led->setChecked(true);
    connect(led, &QAction::triggered, this, &MainForm::LedItemClick);
    QAction* status = addItem(view, "StatusItem", "&Statusbar");
    status->setCheckable(true);
    status->setChecked(true);
    connect(status, &QAction::triggered, this, &MainForm::StatusItemClick);

    // The script commands are connected by the script controller.
    QMenu* script = bar->addMenu(QStringLiteral("&Script"));
    script->setObjectName(QStringLiteral("ScriptMenu"));
    addItem(script, "RunScriptItem", "&Run...", false);
    addItem(script, "StopScriptItem", "&Stop", false);
    addItem(script, "EditScriptItem", "&Edit...", false);
    script->addSeparator();
    addItem(script, "AddScriptItem", "&Add/Delete...", false);
    QAction* scriptDelim = script->addSeparator();
    scriptDelim->setObjectName(QStringLiteral("ScriptDelim"));
    scriptDelim->setVisible(false);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    QAction* rfs = addItem(help, "RfsInfo", "&RFS Info", server_.statistic != nullptr);
    connect(rfs, &QAction::triggered, this, &MainForm::RfsInfoClick);
    connect(addItem(help, "Info", "&Info"), &QAction::triggered, this, &MainForm::InfoClick);
}

void MainForm::buildLedBar()
{
    ledBar_ = new QWidget(central_);
    ledBar_->setObjectName(QStringLiteral("LedBar"));
    auto* row = new QHBoxLayout(ledBar_);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(4);
    static const char* kLights[7][2] = {{"RxdLed", "RxD"}, {"TxdLed", "TxD"},
                                        {"CtsLed", "CTS"}, {"DcdLed", "DCD"},
                                        {"DsrLed", "DSR"}, {"RingLed", "RI"},
                                        {"DriveLight", "DRV"}};
    for (auto& l : kLights) {
        auto* light = new comm::StatusLight(ledBar_);
        light->setObjectName(QString::fromLatin1(l[0]));
        light->setFixedSize(12, 12);
        auto* label = new QLabel(QString::fromLatin1(l[1]), ledBar_);
        row->addWidget(light);
        row->addWidget(label);
        row->addSpacing(6);
        if (std::string_view(l[1]) == "RxD")
            rxdLabel_ = label;
        if (std::string_view(l[0]) == "DriveLight")
            driveLight_ = light;
    }
    row->addStretch(1);
    ledBar_->hide();
}

void MainForm::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panels_[i]->setFrameShape(QFrame::StyledPanel);
        if (i == 1 || i == 2)
            panels_[i]->setAlignment(Qt::AlignCenter);
        // The last panel reaches to the bar's right end, so that call progress
        // ("Connected at 33600 BPS") is readable.
        if (i < 3) {
            panels_[i]->setFixedWidth(kStatusWidths[i]);
            bar->addWidget(panels_[i]);
        } else {
            panels_[i]->setMinimumWidth(kStatusWidths[i]);
            bar->addWidget(panels_[i], 1);
        }
    }
    // The named session in use, beside the four panels.
    sessionPanel_ = new QLabel(bar);
    sessionPanel_->setObjectName(QStringLiteral("SessionPanel"));
    sessionPanel_->setFrameShape(QFrame::StyledPanel);
    bar->addWidget(sessionPanel_, 1);
}

QString MainForm::statusPanel(int i) const
{
    if (i == 4)
        return sessionPanel_->text();
    return i >= 0 && i < 4 ? panels_[i]->text() : QString();
}

bool MainForm::ledBarVisible() const
{
    return !ledBar_->isHidden();
}

bool MainForm::driveLightLit() const
{
    return driveLight_->Lit();
}

comm::StatusLight* MainForm::light(const char* objectName) const
{
    return ledBar_->findChild<comm::StatusLight*>(QString::fromLatin1(objectName));
}

void MainForm::setLightMonitoring(bool on)
{
    if (lightMonitoring_)
        lightMonitoring_(on);
}

bool MainForm::statusTimerActive() const
{
    return statusTimer_->isActive();
}

// ---- Life cycle ----------------------------------------------------------------------

void MainForm::FormCreate()
{
    closing_ = false;
    firstActivation_ = true;
    settings_.window.Left = -1;
    settings_.window.Top = -1;
    sessions_.clear();
    RegistryStore store(storePath_);
    if (!store.load())
        std::fprintf(stderr, "zelvo32: the settings in %s cannot be read; the program starts "
                             "on its defaults and keeps the file as %s.bad\n",
                     storePath_.c_str(), storePath_.c_str());
    for (auto& name : ReadSessions(store))
        AddSession(name);
}

void MainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (firstActivation_) {
        firstActivation_ = false;
        // Opening may show dialogs; it runs once the window is on the screen.
        QTimer::singleShot(0, this, &MainForm::FormActivate);
    }
}

void MainForm::FormActivate()
{
    PortOpen(std::string(kDefaultSession));
    if (startMinimised_) {
        startMinimised_ = false;
        showMinimized();
    }
    started_ = true;
    emit startedUp();
    if (quitRequested_)
        QTimer::singleShot(0, this, &QWidget::close);
}

void MainForm::closeEvent(QCloseEvent* e)
{
    // FormCloseQuery: closing is allowed, unless the user keeps the program open to save
    // the script being edited.
    if (!closed_ && !scripts_->closeQuery()) {
        e->ignore();
        return;
    }
    closing_ = true;
    if (dial_)
        dial_->FormCloseQuery();
    FormClose();
    e->accept();
}

void MainForm::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    scripts_->stopForClose();
    transfers_->cancel();
    writeSettingsNow();
    capture_->stop();
    if (dial_)
        dial_->FormClose();
    port_.close();
    setLightMonitoring(false);
    statusTimer_->stop();
    if (rfsStatistic_)
        rfsStatistic_->close();
}

void MainForm::writeSettingsNow()
{
    captureSettings();
    saveStore([&](RegistryStore& store) {
        WriteRegistry(store, kDefaultSession, settings_);
        WriteSessions(store, sessions_.names());
    });
}

bool MainForm::saveStore(const std::function<void(RegistryStore&)>& write)
{
    // The store is read again before each write, so values that other parts of the
    // program (the port table, the file server's drives) saved meanwhile are kept.
    RegistryStore store(storePath_);
    store.load();
    write(store);
    if (!store.save()) {
        std::fprintf(stderr, "zelvo32: the settings could not be saved to %s\n",
                     storePath_.c_str());
        return false;
    }
    return true;
}

// ---- Settings and the components -----------------------------------------------------

void MainForm::applySettings()
{
    const PortSettings& p = settings_.port;
    PortOptionValues v = port_.settings();
    v.TapiMode = p.TapiMode;
    v.Device = p.Device;
    v.Reconnect = p.Reconnect;
    if (p.isDirect()) {
        v.ComNumber = int(p.ComNumber);
        v.Baud = p.Baud;
        v.StopBits = int(p.StopBits);
        v.Parity = int(p.Parity);
        v.hwfUseDTR = p.hwfUseDTR;
        v.hwfUseRTS = p.hwfUseRTS;
        v.hwfRequireDSR = p.hwfRequireDSR;
        v.hwfRequireCTS = p.hwfRequireCTS;
        v.SWFlowOptions = int(p.SWFlowOptions);
        v.XOnChar = int(p.XOnChar);
        v.XOffChar = int(p.XOffChar);
    } else {
        v.hwfUseDTR = v.hwfUseRTS = v.hwfRequireDSR = v.hwfRequireCTS = false;
    }
    port_.setSettings(v);

    terminal_.setEmulatorType(int(settings_.emulator.EmulatorType));
    terminal_.setVisualBell(settings_.emulator.VisualBell);
    if (!settings_.emulator.Keyboard.empty())
        terminal_.setKeyboardName(settings_.emulator.Keyboard);
    TerminalFontSettings f;
    f.name = settings_.window.FontName;
    f.height = settings_.window.FontHeight;
    f.color = settings_.window.FontColor;
    f.pitch = int(settings_.window.FontPitch);
    terminal_.setFontSettings(f);
    terminal_.setCaptureCrLf(settings_.window.CaptureCrLf);
    terminal_.setHistoryRows(int(settings_.window.HistoryRows));
    ledBar_->setVisible(settings_.window.LED);
    setLightMonitoring(settings_.window.LED);
    statusBar()->setVisible(settings_.window.Status);
    transfers_->applySettings();
    view_->applySettings();
    macros_->applySettings();
}

void MainForm::captureSettings()
{
    PortOptionValues v = port_.settings();
    PortSettings& p = settings_.port;
    p.TapiMode = v.TapiMode;
    p.Reconnect = v.Reconnect;
    if (p.isDirect()) {
        p.ComNumber = uint32_t(std::max(v.ComNumber, 0));
        p.Baud = v.Baud;
        p.StopBits = uint32_t(v.StopBits);
        p.Parity = uint32_t(v.Parity);
        p.hwfUseDTR = v.hwfUseDTR;
        p.hwfUseRTS = v.hwfUseRTS;
        p.hwfRequireDSR = v.hwfRequireDSR;
        p.hwfRequireCTS = v.hwfRequireCTS;
        p.SWFlowOptions = uint32_t(v.SWFlowOptions);
        p.XOnChar = uint32_t(v.XOnChar);
        p.XOffChar = uint32_t(v.XOffChar);
    } else {
        // The direct values read with a telephony session are written back unchanged.
        p.Device = v.Device;
    }
    settings_.emulator.EmulatorType = uint32_t(terminal_.EmulatorType());
    settings_.emulator.VisualBell = terminal_.visualBell();
    if (!terminal_.keyboardName().empty())
        settings_.emulator.Keyboard = terminal_.keyboardName();
    TerminalFontSettings f = terminal_.fontSettings();
    WindowSettings& w = settings_.window;
    w.FontName = f.name;
    w.FontHeight = f.height;
    w.FontColor = f.color;
    w.FontPitch = uint32_t(f.pitch);
    // The size in points that the pixel height gives on a 96 dpi screen, rounded.
    int px = f.height < 0 ? -f.height : f.height;
    w.FontSize = (px * 72 + 48) / 96;
    w.LED = ledBarVisible();
    w.Status = !statusBar()->isHidden();
    w.CaptureCrLf = terminal_.captureCrLf();
    w.HistoryRows = uint32_t(terminal_.historyRows());
    if (started_ && !isMinimized()) {
        w.Left = x();
        w.Top = y();
    }
    transfers_->captureSettings();
    scripts_->captureSettings(settings_.script);
}

// ---- Opening a session ----------------------------------------------------------------

bool MainForm::openLine(LineOpenError& err)
{
    PortOptionValues v = port_.settings();
    if (v.TapiMode != 3) {
        // A modem line opens through the telephony device, after any call has ended.
        if (!dial_) {
            err.notAvailable = true;
            err.message = "Telephony lines are not available on this system";
            return false;
        }
        dial_->OpenLine();
        return true;
    }
    if (port_.isOpen())
        return true;
    // A program on a local line learns what the emulation understands.
    openedTerm_ = terminal::terminalTypeName(terminal_.EmulatorType());
    port_.setExecTerminalType(openedTerm_);
    // The modem's line is let go first; when that takes a while, the port opens once
    // the telephony device reports its port closed.
    if (dial_ && !dial_->ReleaseLine())
        return true;
    if (auto e = port_.open()) {
        err = *e;
        return false;
    }
    return true;
}

void MainForm::PortOpen(const std::string& session)
{
    settings_.script.Scripts.clear();
    {
        RegistryStore store(storePath_);
        store.load();
        captureSettings();
        settings_.script.Scripts.clear();
        ReadReport r = ReadRegistry(store, session, settings_);
        if (session == kDefaultSession)
            ApplyFirstStartDefaults(r, settings_);
        for (auto& at : r.stoppedAt)
            std::fprintf(stderr, "zelvo32: settings of \"%s\" end at the damaged value %s\n",
                         session.c_str(), at.c_str());
    }
    scripts_->applySettings(settings_.script);
    applySettings();
    ResizeForm();
    CenterForm();

    for (;;) {
        LineOpenError err;
        // Port number 0 means that no line was ever chosen (the first start): the port
        // dialog is offered at once, without the error box.
        bool unset = port_.settings().TapiMode == 3 && port_.settings().ComNumber <= 0;
        if (!unset && openLine(err))
            break;
        if (!unset && !err.notAvailable) {
            if (prompts_)
                prompts_->error(QString::fromStdString(err.message));
        } else if (!unset && prompts_) {
            prompts_->error(QStringLiteral("The selected Port is not available\nSelect new port."));
        }
        std::optional<PortOptionValues> chosen;
        if (prompts_)
            chosen = prompts_->portOptions(port_.settings());
        if (!chosen) {
            quitRequested_ = true;
            break;
        }
        port_.close();
        port_.setSettings(*chosen);
    }

    terminal_.resetKeyboard();
    transfers_->setAutoStart(settings_.protocol.ZmodemAutoStart);
    ArmZmodemTrigger();
    UpdateMenu();
    UpdateStatus();
}

// ---- Menu and status ---------------------------------------------------------------------

void MainForm::UpdateMenu()
{
    action("StatusItem")->setChecked(!statusBar()->isHidden());
    action("LedItem")->setChecked(ledBarVisible());
    action("EchoItem")->setChecked(terminal_.HalfDuplex());
    int emu = terminal_.EmulatorType();
    action("AnsiItem")->setChecked(emu == 1);
    action("NoneItem")->setChecked(emu == 0);
    action("VT100Item")->setChecked(emu == 3);
    action("XtermItem")->setChecked(emu == terminal::etXterm);
    action("VisualBellItem")->setChecked(terminal_.visualBell());
    action("ScrollbackItem")->setChecked(terminal_.Scrollback());
    view_->UpdateMenu();
    bool tapi = port_.settings().TapiMode != 3;
    if (dial_) {
        dial_->UpdateMenu(tapi);
    } else {
        for (const char* n : {"DialItem", "TapiItem", "HangupItem", "TapiSep"})
            action(n)->setVisible(tapi);
        action("DialItem")->setEnabled(tapi);
        action("TapiItem")->setEnabled(tapi);
        action("HangupItem")->setEnabled(false);
    }
    bool anyProtocol = false;
    for (int t = 1; t <= 9; ++t) {
        bool on = transfers_->itemEnabled(t);
        anyProtocol = anyProtocol || on;
        action(QStringLiteral("Send%1Item").arg(t).toLatin1().constData())->setEnabled(on);
        action(QStringLiteral("Receive%1Item").arg(t).toLatin1().constData())->setEnabled(on);
    }
    for (const char* n : {"SendMenu", "ReceiveMenu"})
        if (QMenu* m = findChild<QMenu*>(QString::fromLatin1(n)))
            m->setEnabled(anyProtocol && !transfers_->running());
    // What changes the line or reads the transfer's settings waits for the transfer.
    action("ProtocolItem")->setEnabled(transfers_->protocol() != nullptr && !transfers_->running());
    for (const char* n : {"PortItem", "SaveSesItem"})
        action(n)->setEnabled(!transfers_->running());
    for (QAction* a : sessionItems_)
        a->setEnabled(!transfers_->running());
    const QMimeData* md = QApplication::clipboard()->mimeData();
    action("PasteItem")->setEnabled(md && md->hasText());
}

void MainForm::UpdateStatus()
{
    PortOptionValues v = port_.settings();
    if (v.TapiMode == 3)
        panels_[0]->setText(QString::fromStdString(
            PortStatusText(v.ComNumber, v.DataBits, v.Parity, v.StopBits, port_.baudInUse())));
    else
        panels_[0]->setText(QString::fromStdString(v.Device));
    panels_[1]->setText(terminal_.capturing() ? QStringLiteral("LOG") : QString());
    panels_[2]->setText(terminal_.Scrollback() ? QStringLiteral("OFFLINE") : QString());
    statusBar()->repaint();
}

void MainForm::ResizeForm()
{
    terminal_.setDisplayRows(24);
    terminal_.setDisplayRows(25);
    terminal_.setDisplayColumns(79);
    terminal_.setDisplayColumns(80);
    UpdateSize();
}

void MainForm::UpdateSize()
{
    QWidget* t = terminal_.widget();
    QSize ts = t->size();
    if (ts.isEmpty())
        ts = t->sizeHint();
    t->resize(ts);
    t->move(3, 3);
    int w = ts.width() + 6;
    int h = ts.height() + 6;
    terminalFrame_->setFixedSize(w, h);
    if (macros_->barVisible())
        h += macros_->bar()->sizeHint().height();
    if (ledBarVisible()) {
        int lh = rxdLabel_->sizeHint().height() + 8;
        ledBar_->setFixedHeight(lh);
        h += lh;
    }
    // The window is fitted around the terminal, unless the user maximised it.
    if (isMaximized() || isFullScreen())
        return;
    central_->setFixedSize(w, h);
    if (layout())
        layout()->activate();
    const QSize fitted = sizeHint();
    central_->setMinimumSize(0, 0);
    central_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(fitted);
}

void MainForm::CenterForm()
{
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    QRect area = s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
    Point p = PlaceWindow(settings_.window.Left, settings_.window.Top, area.width(),
                          area.height(), frameGeometry().width(), frameGeometry().height());
    move(area.x() + p.x, area.y() + p.y);
}

void MainForm::AddSession(const std::string& name)
{
    sessions_.AddSession(name);
    rebuildSessionMenu();
}

void MainForm::rebuildSessionMenu()
{
    for (QAction* a : sessionItems_) {
        preferencesMenu_->removeAction(a);
        a->setObjectName(QString());
        a->deleteLater();
    }
    sessionItems_.clear();
    sessionDelim_->setVisible(!sessions_.empty());
    for (size_t i = 0; i < sessions_.count(); ++i) {
        QAction* a = preferencesMenu_->addAction(
            QString::fromStdString(SessionList::Caption(i, sessions_.names()[i])));
        a->setObjectName(QStringLiteral("Session%1Item").arg(i));
        a->setData(int(i + 1));
        a->setCheckable(true);
        int tag = int(i + 1);
        connect(a, &QAction::triggered, this, [this, tag] { SessionDelimClick(tag); });
        sessionItems_.push_back(a);
    }
    showSession();
}

void MainForm::SessionDelimClick(int tag)
{
    const std::string* name = sessions_.byTag(tag);
    if (!name || transfers_->running())
        return;
    const std::string chosen = *name;
    paste_->cancel();
    if (dial_ && port_.settings().TapiMode != 3) {
        // The session opens once the call has ended.
        currentSession_ = chosen;
        showSession();
        dial_->SwitchSession(SessionPath(chosen));
        if (quitRequested_)
            close();
        return;
    }
    DisarmZmodemTrigger();
    port_.close();
    PortOpen(SessionPath(chosen));
    if (quitRequested_) {
        close();
        return;
    }
    currentSession_ = chosen;
    showSession();
    markLine();
}

void MainForm::showSession()
{
    setWindowTitle(QString::fromStdString(WindowTitleText(currentSession_, remoteTitle_)));
    sessionPanel_->setText(QString::fromStdString(currentSession_));
    for (size_t i = 0; i < sessionItems_.size(); ++i)
        sessionItems_[i]->setChecked(!currentSession_.empty()
                                     && SameSession(sessions_.names()[i], currentSession_));
}

void MainForm::markLine()
{
    // Where the line changed, the terminal shows which line it is now.
    if (!port_.isOpen())
        return;
    const PortOptionValues v = port_.settings();
    terminal_.showLocalLine(LineMarkerText(currentSession_, v.ComNumber, v.TapiMode == 3 ? port_.deviceOf(v.ComNumber) : v.Device,
                                           v.Baud, v.DataBits, v.Parity, v.StopBits));
}

void MainForm::SaveSessionItemClick()
{
    if (!prompts_ || transfers_->running())
        return;
    SessionFormResult r = prompts_->sessionForm(SessionList::SortedForBox(sessions_.names()),
                                                sessions_.DefaultNewName());
    switch (r.kind) {
    case SessionFormResult::Cancel:
        return;
    case SessionFormResult::Save: {
        if (!IsValidSessionName(r.name)) {
            prompts_->error(QStringLiteral("\"%1\" cannot name a session.\nType a name with at "
                                           "least one letter or digit.")
                                .arg(QString::fromStdString(r.name)));
            return;
        }
        captureSettings();
        saveStore([&](RegistryStore& store) {
            WriteRegistry(store, SessionPath(r.name), settings_);
        });
        sessions_.rebuildAfterSave(r.list, r.name);
        // The settings in use are that session's now.
        currentSession_ = r.name;
        rebuildSessionMenu();
        return;
    }
    case SessionFormResult::Delete:
        if (sessions_.remove(r.name))
            rebuildSessionMenu();
        return;
    }
}

void MainForm::LedItemClick()
{
    ledBar_->setVisible(!ledBarVisible());
    setLightMonitoring(ledBarVisible());
    UpdateSize();
    UpdateMenu();
}

void MainForm::StatusItemClick()
{
    statusBar()->setVisible(statusBar()->isHidden());
    UpdateSize();
    UpdateMenu();
}

void MainForm::ClearScreenItemClick()
{
    terminal_.clearWindow();
}

void MainForm::CopyItemClick()
{
    terminal_.copyToClipboard();
    UpdateMenu();
}

void MainForm::PasteItemClick()
{
    const QMimeData* md = QApplication::clipboard()->mimeData();
    // While a transfer owns the line, pasted text would corrupt its stream.
    if (!md || !md->hasText() || !port_.isOpen() || transfers_->running())
        return;
    // Sent as typed, encoded (and bracketed) as the emulation asks: each line break as
    // the Enter key sends it. Text that does not fit the output buffer follows as the
    // line takes it.
    const auto enter = terminal::EnterSends(settings_.emulator.EnterSends);
    paste_->paste(PasteQueue::AsTyped(terminal_.pasteBytes(md->text()), terminal::enterBytes(enter)));
}

void MainForm::ScrollbackItemClick()
{
    scrollback_->toggle();
}

void MainForm::TerminalKeyPress()
{
    scrollback_->keyTyped();
}

void MainForm::FontItemClick()
{
    if (!prompts_)
        return;
    TerminalFontSettings fontValues = terminal_.fontSettings();
    if (auto choice = prompts_->chooseFont(terminal_.font(), fontValues.color)) {
        const QFont* f = &choice->font;
        fontValues.name = f->family().toStdString().substr(0, kMaxFontName);
        QFontInfo info(*f);
        fontValues.height = -(f->pixelSize() > 0 ? f->pixelSize() : info.pixelSize());
        fontValues.pitch = 2;
        fontValues.color = choice->color;
        terminal_.setFontSettings(fontValues);
        ResizeForm();
    }
}

void MainForm::LogItemClick()
{
    capture_->toggle();
}

void MainForm::EchoItemClick()
{
    terminal_.setHalfDuplex(!terminal_.HalfDuplex());
    action("EchoItem")->setChecked(terminal_.HalfDuplex());
}

void MainForm::NoneItemClick()
{
    terminal_.setEmulatorType(0);
    UpdateMenu();
}

void MainForm::AnsiItemClick()
{
    terminal_.setEmulatorType(1);
    UpdateMenu();
}

void MainForm::VT100ItemClick()
{
    terminal_.setEmulatorType(3);
    UpdateMenu();
}

void MainForm::XtermItemClick()
{
    terminal_.setEmulatorType(terminal::etXterm);
    UpdateMenu();
}

void MainForm::VisualBellItemClick()
{
    terminal_.setVisualBell(!terminal_.visualBell());
    UpdateMenu();
}

void MainForm::KeyboardItemClick()
{
    if (!prompts_)
        return;
    std::string file = terminal_.keyMapFile();
    std::string name = terminal_.keyboardName();
    if (prompts_->keyMapEditor(file, name))
        terminal_.setKeyMap(file, name);
    terminal_.resetKeyboard();
}

void MainForm::PortItemClick()
{
    // The line must not close under a running transfer (the menu item is disabled then).
    if (!prompts_ || transfers_->running())
        return;
    PortOptionValues preset = port_.settings();
    const std::string device = port_.deviceOf(preset.ComNumber);
    for (;;) {
        std::optional<PortOptionValues> chosen = prompts_->portOptions(preset);
        if (!chosen)
            break;
        if (chosen->TapiMode == 3 && chosen->ComNumber <= 0)
            continue;
        // OK without a change keeps the open line as it is: reopening would restart a
        // local command line and drop what is in flight. An emulation chosen since the
        // line opened is the exception: the reopened line learns its terminal type.
        if (port_.isOpen() && *chosen == port_.settings() && port_.deviceOf(chosen->ComNumber) == device
            && openedTerm_ == terminal::terminalTypeName(terminal_.EmulatorType()))
            break;
        paste_->cancel();
        DisarmZmodemTrigger();
        port_.close();
        port_.setSettings(*chosen);
        LineOpenError err;
        if (openLine(err)) {
            ArmZmodemTrigger();
            markLine();
            break;
        }
        if (!err.notAvailable) {
            prompts_->error(QString::fromStdString(err.message));
            break;
        }
        prompts_->error(QStringLiteral("Port is not available !\nSelect new port."));
        preset = *chosen;
    }
    UpdateStatus();
    UpdateMenu();
    terminal_.widget()->setFocus();
}

void MainForm::onLineLost(const std::string& reason)
{
    // The port has closed itself; the terminal keeps its content and the line can be
    // opened again from Preferences / Port.
    router_.reset();
    paste_->cancel();
    terminal_.setTypingHeld(false);
    terminal_.setActive(true);
    transfers_->lineLost();
    statusTimer_->stop();
    driveLight_->setLit(false);
    UpdateStatus();
    PortOptionValues v = port_.settings();
    QString line = QStringLiteral("COM%1 (%2)")
                       .arg(v.ComNumber)
                       .arg(QString::fromStdString(port_.deviceOf(v.ComNumber)));
    panels_[0]->setText(panels_[0]->text() + QStringLiteral("  lost"));
    if (reconnect_->lineLost())
        return; // the terminal says so, and the line comes back by itself
    if (prompts_)
        prompts_->error(QStringLiteral("The line %1 was lost:\n%2\n\nOpen it again with "
                                       "Preferences / Port... when it is back.")
                            .arg(line, QString::fromStdString(reason)));
}

void MainForm::InfoClick()
{
    if (prompts_)
        prompts_->about();
}

void MainForm::RfsInfoClick()
{
    if (!server_.statistic)
        return;
    if (!rfsStatistic_)
        rfsStatistic_ = new RfsStatistic(server_.statistic, this);
    rfsStatistic_->show();
    rfsStatistic_->raise();
    // Active, so that Escape closes it as it would any dialog.
    rfsStatistic_->activateWindow();
}

void MainForm::ExitItemClick()
{
    close();
}

// ---- Incoming data and the file server --------------------------------------------------

void MainForm::onPortData(const uint8_t* bytes, size_t length)
{
    if (!server_.available())
        return;
    router_.feed(bytes, length);
}

void MainForm::setTerminalActive(bool active)
{
    // The router hides the exchange from the terminal's display itself; typed keys are
    // held back until the reply has gone out.
    terminal_.setTypingHeld(!active);
}

void MainForm::sendToPort(const uint8_t* bytes, size_t length)
{
    if (port_.isOpen())
        port_.putBlock(bytes, length);
}

void MainForm::packetStarted()
{
    if (ledBarVisible()) {
        driveLight_->setLit(true);
    }
    statusTimer_->start();
    DisarmZmodemTrigger();
}

void MainForm::packetEnded()
{
    ArmZmodemTrigger();
}

void MainForm::StatusTimerTimer()
{
    if (router_.serverActive())
        return;
    statusTimer_->stop();
    driveLight_->setLit(false);
}

void MainForm::ArmZmodemTrigger()
{
    transfers_->ArmZmodemTrigger();
}

void MainForm::DisarmZmodemTrigger()
{
    transfers_->DisarmZmodemTrigger();
}

} // namespace zelvo::app
