// zelvo32-termdemo: a terminal window with its status lights on a line of its own.
//
//   zelvo32-termdemo [--line DEVICE] [--emulation none|ansi|vt100|vt52|ansibbs|xterm] [--type TEXT]
//                    [--screenshot FILE] [--wait MS]
//
// Without --line the window runs a local shell on a pseudo-terminal ("exec:" line).
// --type sends TEXT as typed keys once the line is open (\r, \n and \e are understood);
// --screenshot renders the window to FILE after --wait milliseconds (default 1500) and
// quits, which works on the offscreen platform too.

#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "comm/ui/sl_controller.h"
#include "comm/ui/status_light.h"
#include "platform/paths.h"
#include "platform/registry_store.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

using namespace zelvo;

namespace {

constexpr int kDemoComNumber = 50;

std::string unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out += n == 'r' ? '\r' : n == 'n' ? '\n' : n == 'e' ? '\x1b' : n == 't' ? '\t' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

void usage()
{
    std::fputs("usage: zelvo32-termdemo [--line DEVICE] [--emulation none|ansi|vt100|vt52|ansibbs|xterm]\n"
               "                        [--type TEXT] [--screenshot FILE] [--wait MS]\n",
               stderr);
}

// The demo's shell: the user's own, with a coloured prompt.
std::string shellLine()
{
    const char* sh = std::getenv("SHELL");
    std::string shell = sh && *sh ? sh : "/bin/sh";
    if (shell.find("bash") != std::string::npos) shell += " --noprofile --norc -i";
    else shell += " -i";
    return "exec:env TERM=vt100 PS1='\\033[1;32mzelvo\\033[0m:\\033[1;34m\\w\\033[0m$ ' " + shell;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::string line, typed, screenshot;
    int waitMs = 1500;
    terminal::EmulatorType emulation = terminal::etVT100;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--line") line = next();
        else if (a == "--type") typed = unescape(next());
        else if (a == "--screenshot") screenshot = next();
        else if (a == "--wait") waitMs = std::atoi(next().c_str());
        else if (a == "--emulation") {
            const std::string e = next();
            if (!terminal::emulatorTypeFromName(e, emulation)) emulation = terminal::etVT100;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (line.empty()) line = shellLine();

    comm::QtUiBridge bridge;
    // A port table of the demo's own, kept in memory: nothing is written to the store.
    platform::RegistryStore store(platform::configDir() + "/termdemo-unused.reg");
    comm::SetPortDevice(store, kDemoComNumber, line);
    comm::ComPort port(bridge);
    port.setRegistryStore(&store);
    port.setComNumber(kDemoComNumber);
    port.setPromptForPort(false);
    port.setAutoOpen(false);
    port.setBaud(57600);
    port.setExecTerminalType(std::string(terminal::terminalTypeName(emulation)));

    terminal::Emulator emulator(emulation);
    terminal::KeyboardEmulator keyboard;
    try {
        keyboard.setEnabled(true);
        const auto names = keyboard.recordNames();
        for (const auto& n : names)
            if (n == (emulation == terminal::etVT100 ? "VT100" : "ANSI")) keyboard.setEmulatorType(n);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelvo32-termdemo: key map not used: %s\n", e.what());
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Zelvo32 terminal - %1").arg(QString::fromStdString(line)));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(3);
    auto* term = new terminal::TerminalWindow(&window);
    term->setTerminalFont(QStringLiteral("Terminal"), -18);
    term->setDisplayRows(25);
    term->setDisplayColumns(80);
    term->setCaptureFile("zelvo.log");
    term->setKeyBoardEmu(&keyboard);
    term->setEmulator(&emulator);
    term->setComPort(&port);
    layout->addWidget(term);

    // The light bar: RxD, TxD, CTS, DCD, DSR, RI.
    auto* bar = new QHBoxLayout;
    comm::LightSet lights;
    const char* names[] = {"RxD", "TxD", "CTS", "DCD", "DSR", "RI"};
    comm::StatusLight** places[] = {&lights.RXDLight, &lights.TXDLight, &lights.CTSLight,
                                   &lights.DCDLight, &lights.DSRLight, &lights.RINGLight};
    for (int i = 0; i < 6; ++i) {
        auto* l = new comm::StatusLight(&window);
        *places[i] = l;
        bar->addWidget(l);
        bar->addWidget(new QLabel(QString::fromLatin1(names[i]), &window));
        bar->addSpacing(8);
    }
    bar->addStretch();
    layout->addLayout(bar);
    comm::SLController lights_controller;
    lights_controller.setLights(lights);
    lights_controller.setComPort(&port);

    try {
        port.setOpen(true);
    } catch (const std::exception& e) {
        QMessageBox::warning(nullptr, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
        return 1;
    }
    // The full 80 x 25 cells, even where that is more than the usual share of the screen.
    window.resize(window.sizeHint());
    window.show();
    term->setFocus();

    if (!typed.empty()) {
        // Give the shell a moment to print its prompt, then type.
        QTimer::singleShot(400, term, [term, typed] { term->SendText(typed); });
    }
    if (!screenshot.empty()) {
        QTimer::singleShot(waitMs, &window, [&] {
            const bool ok = window.grab().save(QString::fromStdString(screenshot));
            if (!ok) std::fprintf(stderr, "zelvo32-termdemo: cannot write %s\n", screenshot.c_str());
            app.exit(ok ? 0 : 1);
        });
    }
    const int rc = app.exec();
    lights_controller.setComPort(nullptr);
    term->setComPort(nullptr);
    term->setEmulator(nullptr);
    port.setOpen(false);
    return rc;
}
