#include "app/ui/program.h"

#include "app/com_port_access.h"
#include "app/ui/com_select_form.h"
#include "app/ui/main_form.h"
#include "app/ui/modem_dialog.h"
#include "app/ui/port_options_dialog.h"
#include "app/ui/terminal_window_access.h"
#include "app/ui/user_prompts.h"
#include "comm/com_port.h"
#include "comm/telephony/modem_device.h"
#include "comm/ui/qt_ui_bridge.h"
#include "comm/ui/sl_controller.h"
#include "file_server/nerrit.h"
#include "platform/paths.h"
#include "platform/registry_store.h"
#include "protocols/protocol.h"
#include "protocols/ui/protocol_status.h"
#include "terminal/emulator.h"
#include "terminal/keyboard_emulator.h"
#include "terminal/ui/terminal_window.h"

#include <QMessageBox>

#include <unistd.h>

#include <cstdio>

namespace zelvo::app {

namespace {

// Nobody answers dialogs: messages go to standard error, and a line that cannot be
// opened is replaced once by what the port dialog suggests (on a first start, the local
// shell).
class UnattendedPrompts : public UserPrompts {
public:
    explicit UnattendedPrompts(LineDirectory& lines) : lines_(lines) {}
    void error(const QString& text) override
    {
        std::fprintf(stderr, "zelvo32: %s\n", text.toLocal8Bit().constData());
    }
    std::optional<PortOptionValues> portOptions(const PortOptionValues& v) override
    {
        if (++tries_ > 1)
            return std::nullopt;
        PortOptionsDialog d(lines_);
        d.reportProblems = [this](const QString& text) { error(text); };
        d.Load(v);
        d.accept();
        return d.ResultPort();
    }
    SessionFormResult sessionForm(const std::vector<std::string>&, const std::string&) override
    {
        return {};
    }
    std::optional<FontChoice> chooseFont(const QFont&, uint32_t) override { return std::nullopt; }
    std::optional<CaptureChoice> chooseCaptureFile(const QString&, bool) override { return std::nullopt; }
    void about() override {}
    bool keyMapEditor(std::string&, std::string&) override { return false; }
    std::vector<QString> chooseSendFiles(const QString&, bool) override { return {}; }
    std::optional<QString> chooseReceiveFile(const QString&) override { return std::nullopt; }
    std::optional<QString> chooseDirectory(const QString&) override { return std::nullopt; }
    bool protocolOptions(protocols::Protocol&, bool&) override { return false; }
    std::optional<int> chooseHistoryRows(int, int) override { return std::nullopt; }

private:
    LineDirectory& lines_;
    int tries_ = 0;
};

// The key map beside the program, or in the configuration directory where the program's
// directory cannot hold one.
std::string keyMapPath()
{
    std::string beside = platform::programDir() + "/zelvo32.kbd";
    if (platform::isWritableDir(platform::programDir()) || ::access(beside.c_str(), R_OK) == 0)
        return beside;
    return platform::configDir() + "/zelvo32.kbd";
}

} // namespace

struct Program::Parts {
    std::string storePath = platform::RegistryStore::defaultPath();
    comm::QtUiBridge bridge;
    comm::ComPort port{bridge};
    // After the port, which it hands its modem's line to.
    telephony::ModemDevice modem{port, storePath};
    // Before the port's access object, whose transfer driver may still refer to it.
    protocols::Protocol protocol;
    terminal::Emulator emulator{terminal::etANSI};
    terminal::KeyboardEmulator keyboard;
    terminal::TerminalWindow terminal;
    ComPortAccess portAccess{port, storePath};
    TerminalWindowAccess terminalAccess{terminal, emulator, keyboard};
    PortTableDirectory lines{storePath};
    comm::SLController leds;
    std::unique_ptr<protocols::ProtocolStatus> protocolStatus;
    std::unique_ptr<MainForm> form;
    std::unique_ptr<UserPrompts> prompts;
};

Program::Program(const Options& options) : parts_(std::make_unique<Parts>())
{
    Parts& p = *parts_;
    const std::string config = platform::configDir();

    p.port.setBaud(57600);
    p.port.setAutoOpen(false);
    p.port.setDTR(false);
    p.port.setBufferFull(2916);
    p.port.setBufferResume(360);
    p.port.setTapiMode(comm::tmOff);
    p.port.setPromptForPort(false);
    p.port.setTraceName(config + "/zelvo.TRC");
    p.port.setLogName(config + "/zelvo.LOG");

    const std::string kbd = keyMapPath();
    p.keyboard.setMapFileName(kbd);
    p.keyboard.setProcessAllKeys(true);
    p.keyboard.setProcessExtended(true);
    try {
        p.keyboard.setEnabled(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelvo32: key map %s: %s\n", kbd.c_str(), e.what());
    }

    p.terminal.setEmulator(&p.emulator);
    p.terminal.setKeyBoardEmu(&p.keyboard);
    p.terminal.setComPort(&p.port);
    p.terminal.setCaptureFile("zelvo.log");
    p.terminal.setBlinkTime(550);
    p.terminal.setPersistentMark(true);
    p.terminal.setHalfDuplex(false);

    FileServerFunctions server{&ServerReceive, &ServerDispatch, &ServerStatistic};
    p.form = std::make_unique<MainForm>(p.portAccess, p.terminalAccess, server, p.storePath,
                                        options.startMinimised);
    if (options.unattended)
        p.prompts = std::make_unique<UnattendedPrompts>(p.lines);
    else
        p.prompts = std::make_unique<DialogPrompts>(p.form.get(), p.lines);
    p.form->setPrompts(p.prompts.get());
    if (!options.unattended)
        InstallPortPrompt(p.port, p.storePath, p.form.get());
    p.protocolStatus = std::make_unique<protocols::ProtocolStatus>(p.protocol, p.form.get());
    p.protocol.setStatusDisplay(p.protocolStatus.get());
    p.form->setTransfer(&p.protocol, &p.portAccess);
    p.form->setTelephony(&p.modem);
    p.modem.setLineConfigEditor([this](const std::string& name) { editModem(name); });

    comm::LightSet set;
    set.RXDLight = p.form->light("RxdLed");
    set.TXDLight = p.form->light("TxdLed");
    set.CTSLight = p.form->light("CtsLed");
    set.DCDLight = p.form->light("DcdLed");
    set.DSRLight = p.form->light("DsrLed");
    set.RINGLight = p.form->light("RingLed");
    p.leds.setLights(set);
    p.leds.setComPort(&p.port);
    p.form->setLightMonitoring([this](bool on) { parts_->leds.setMonitoring(on); });
}

Program::~Program()
{
    Parts& p = *parts_;
    p.modem.setLineConfigEditor(nullptr);
    p.form->setTelephony(nullptr);
    p.form->setLightMonitoring(nullptr);
    p.leds.setComPort(nullptr);
    p.form->setTransfer(nullptr, nullptr);
    p.protocol.setStatusDisplay(nullptr);
    // The status window is a child of the main window: it goes first.
    p.protocolStatus.reset();
    p.form.reset();
}

MainForm& Program::form()
{
    return *parts_->form;
}

void Program::editModem(const std::string& name)
{
    Parts& p = *parts_;
    for (const telephony::ModemConfig& m : p.lines.modems()) {
        if (!telephony::SameModemName(m.name, name))
            continue;
        // The session refers to the modem by name: the name stays.
        ModemDialog d(false, p.form.get());
        d.setWindowTitle(QStringLiteral("Line configuration"));
        d.Load(m);
        while (d.exec() == QDialog::Accepted) {
            std::string error;
            if (p.lines.saveModem(d.Result(), m.name, error))
                return;
            QMessageBox::warning(p.form.get(), QStringLiteral("Error"),
                                 QStringLiteral("The modem cannot be changed:\n%1")
                                     .arg(QString::fromStdString(error)));
        }
        return;
    }
    QMessageBox::warning(p.form.get(), QStringLiteral("Error"),
                         QStringLiteral("There is no modem named \"%1\".\nAdd it with "
                                        "Preferences / Port... / Modems...")
                             .arg(QString::fromStdString(name)));
}

} // namespace zelvo::app
