// zelvo32: the serial-line terminal program.
//
//   zelvo32 [--screenshot FILE.png] [anything]
//
// Any argument other than --screenshot makes the program start minimised. With
// --screenshot the main window is drawn into FILE.png once the line is open, and the
// program ends (settings are saved as at any exit). SIGINT and SIGTERM close the window
// the way the Exit command does, so the settings are saved.

#include "app/com_port_access.h"
#include "app/ui/main_form.h"
#include "app/ui/port_options_dialog.h"
#include "app/ui/terminal_window_access.h"
#include "app/ui/user_prompts.h"
#include "comm/com_port.h"
#include "comm/ui/qt_ui_bridge.h"
#include "comm/ui/sl_controller.h"
#include "file_server/nerrit.h"
#include "platform/paths.h"
#include "platform/registry_store.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"

#include <QApplication>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[0], &c, 1);
}

// In screenshot mode nobody answers dialogs: messages go to standard error, and a line
// that cannot be opened is replaced by what the port dialog suggests (on a first start
// without serial ports, the local shell).
class UnattendedPrompts : public zelvo::app::UserPrompts {
public:
    explicit UnattendedPrompts(zelvo::app::LineDirectory& lines) : lines_(lines) {}
    void error(const QString& text) override
    {
        std::fprintf(stderr, "zelvo32: %s\n", text.toLocal8Bit().constData());
    }
    std::optional<zelvo::app::PortOptionValues> portOptions(const zelvo::app::PortOptionValues& v) override
    {
        if (++tries_ > 1)
            return std::nullopt;
        zelvo::app::PortOptionsDialog d(lines_);
        d.Load(v);
        d.accept();
        return d.ResultPort();
    }
    zelvo::app::SessionFormResult sessionForm(const std::vector<std::string>&, const std::string&) override
    {
        return {};
    }
    std::optional<QFont> chooseFont(const QFont&) override { return std::nullopt; }
    std::optional<QString> chooseCaptureFile(const QString&) override { return std::nullopt; }
    void about() override {}

private:
    zelvo::app::LineDirectory& lines_;
    int tries_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QString screenshot;
    bool minimised = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else
            minimised = true;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvo32"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zelvo32"));

    using namespace zelvo;
    const std::string storePath = platform::RegistryStore::defaultPath();
    const std::string config = platform::configDir();

    comm::QtUiBridge bridge;
    comm::ComPort port(bridge);
    port.setBaud(57600);
    port.setAutoOpen(false);
    port.setDTR(false);
    port.setBufferFull(2916);
    port.setBufferResume(360);
    port.setTapiMode(comm::tmOff);
    port.setPromptForPort(false);
    port.setTraceName(config + "/zelvo.TRC");
    port.setLogName(config + "/zelvo.LOG");

    terminal::Emulator emulator(terminal::etANSI);
    terminal::KeyboardEmulator keyboard;
    std::string kbd = platform::programDir() + "/zelvo32.kbd";
    if (!platform::isWritableDir(platform::programDir()) && ::access(kbd.c_str(), R_OK) != 0)
        kbd = config + "/zelvo32.kbd";
    keyboard.setMapFileName(kbd);
    keyboard.setProcessAllKeys(true);
    keyboard.setProcessExtended(true);
    try {
        keyboard.setEnabled(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelvo32: key map %s: %s\n", kbd.c_str(), e.what());
    }

    terminal::TerminalWindow terminal;
    terminal.setEmulator(&emulator);
    terminal.setKeyBoardEmu(&keyboard);
    terminal.setComPort(&port);
    terminal.setCaptureFile("zelvo.log");
    terminal.setBlinkTime(550);
    terminal.setPersistentMark(true);
    terminal.setHalfDuplex(false);

    app::ComPortAccess portAccess(port, storePath);
    app::TerminalWindowAccess terminalAccess(terminal, emulator, keyboard);
    app::PortTableDirectory lines(storePath);
    app::FileServerFunctions server{&ServerReceive, &ServerDispatch, &ServerStatistic};

    app::MainForm form(portAccess, terminalAccess, server, storePath, minimised);
    app::DialogPrompts dialogs(&form, lines);
    UnattendedPrompts unattended(lines);
    form.setPrompts(screenshot.isEmpty() ? static_cast<app::UserPrompts*>(&dialogs) : &unattended);

    comm::SLController leds;
    comm::LightSet set;
    set.RXDLight = form.light("RxdLed");
    set.TXDLight = form.light("TxdLed");
    set.CTSLight = form.light("CtsLed");
    set.DCDLight = form.light("DcdLed");
    set.DSRLight = form.light("DsrLed");
    set.RINGLight = form.light("RingLed");
    leds.setLights(set);
    leds.setComPort(&port);
    form.setLightMonitoring([&leds](bool on) { leds.setMonitoring(on); });

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        ::fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
        ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
        auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            char buf[16];
            while (::read(signalPipe[1], buf, sizeof buf) > 0) {
            }
            form.close();
        });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }

    int status = 0;
    if (!screenshot.isEmpty()) {
        QObject::connect(&form, &app::MainForm::startedUp, &form, [&] {
            // Give the shell a moment to print its prompt before the picture is taken.
            QTimer::singleShot(400, &form, [&] {
                if (!form.grab().save(screenshot)) {
                    std::fprintf(stderr, "zelvo32: cannot write %s\n",
                                 screenshot.toLocal8Bit().constData());
                    status = 1;
                }
                form.close();
            });
        });
    }

    form.show();
    int rc = app.exec();
    leds.setComPort(nullptr);
    return status != 0 ? status : rc;
}
