#pragma once
// A port, a terminal and a user that answer the main window without hardware or people.

#include "app/line_directory.h"
#include "app/port_access.h"
#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"
#include "protocols/ui/protocol_options.h"

#include <QApplication>
#include <QClipboard>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zelvo::app::testing {

class FakePort : public PortAccess {
public:
    PortOptionValues values;
    bool opened = false;
    int opens = 0;
    // Results of the coming open() calls; an empty queue opens.
    std::deque<std::optional<LineOpenError>> openResults;
    std::string sent;
    std::string execTerm; // TERM given for the last open
    std::map<uint16_t, std::string> triggers;
    uint16_t nextHandle = 8;

    PortOptionValues settings() const override { return values; }
    void setSettings(const PortOptionValues& v) override { values = v; }
    std::string deviceOf(int n) const override { return "/dev/fake" + std::to_string(n); }
    bool isOpen() const override { return opened; }
    void setExecTerminalType(const std::string& t) override { execTerm = t; }
    std::optional<LineOpenError> open() override
    {
        ++opens;
        if (!openResults.empty()) {
            auto r = openResults.front();
            openResults.pop_front();
            if (r)
                return r;
        }
        opened = true;
        return std::nullopt;
    }
    void close() override
    {
        opened = false;
        triggers.clear();
    }
    void putBlock(const uint8_t* d, size_t n) override { sent.append(reinterpret_cast<const char*>(d), n); }
    // Free room of the output buffer; SIZE_MAX: no limit.
    size_t outputRoom = SIZE_MAX;
    size_t roomWanted = 0;
    size_t putSome(const uint8_t* d, size_t n) override
    {
        size_t k = std::min(n, outputRoom);
        sent.append(reinterpret_cast<const char*>(d), k);
        if (outputRoom != SIZE_MAX)
            outputRoom -= k;
        return k;
    }
    bool watchOutputRoom(size_t bytes) override
    {
        roomWanted = bytes;
        return true;
    }
    // The line took n bytes out of the output buffer.
    void drain(size_t n)
    {
        outputRoom += n;
        if (roomWanted > 0 && outputRoom >= roomWanted) {
            roomWanted = 0;
            if (onOutputRoom)
                onOutputRoom();
        }
    }
    uint16_t addDataTrigger(std::string_view p) override
    {
        triggers[nextHandle] = std::string(p);
        uint16_t h = nextHandle;
        nextHandle = uint16_t(nextHandle + 8);
        return h;
    }
    void dropTrigger(uint16_t h) override { triggers.erase(h); }

    void receive(const std::string& bytes)
    {
        if (onData)
            onData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
};

class FakeTerminal : public TerminalAccess {
public:
    QWidget view;
    bool active = true;
    bool scrollback = false;
    bool echo = false;
    int emulator = 1;
    bool visual = false;
    TerminalFontSettings fontValues;
    int rows = 15;
    int columns = 40;
    std::string captureFile = "zelvo.log";
    bool capture = false;
    bool captureFails = false;
    int clears = 0;
    QString marked;
    std::vector<bool> activeChanges;

    FakeTerminal() { sizeToFont(); }
    void sizeToFont()
    {
        int h = fontValues.height < 0 ? -fontValues.height : fontValues.height;
        view.resize(columns * (h / 2), rows * h);
    }

    QWidget* widget() override { return &view; }
    bool Active() const override { return active; }
    void setActive(bool on) override
    {
        active = on;
        activeChanges.push_back(on);
    }
    bool Scrollback() const override { return scrollback; }
    int history = 175;
    int historyRows() const override { return history; }
    void setHistoryRows(int r) override { history = std::clamp(r, 0, maxHistoryRows()); }
    int maxHistoryRows() const override { return 794; }
    void setScrollback(bool on) override { scrollback = on; }
    bool HalfDuplex() const override { return echo; }
    void setHalfDuplex(bool on) override { echo = on; }
    int EmulatorType() const override { return emulator; }
    void setEmulatorType(int t) override { emulator = t; }
    bool visualBell() const override { return visual; }
    void setVisualBell(bool on) override { visual = on; }
    TerminalFontSettings fontSettings() const override { return fontValues; }
    void setFontSettings(const TerminalFontSettings& f) override { fontValues = f; }
    QFont font() const override { return QFont(QString::fromStdString(fontValues.name)); }
    void setDisplayRows(int r) override
    {
        rows = r;
        sizeToFont();
    }
    void setDisplayColumns(int c) override
    {
        columns = c;
        sizeToFont();
    }
    void clearWindow() override { ++clears; }
    std::vector<std::string> localLines;
    void showLocalLine(const std::string& text) override { localLines.push_back(text); }
    void copyToClipboard() override { QApplication::clipboard()->setText(marked); }
    std::string keyboard;
    int keyboardResets = 0;
    std::string keyboardName() const override { return keyboard; }
    void setKeyboardName(const std::string& n) override { keyboard = n; }
    void resetKeyboard() override { ++keyboardResets; }
    std::string mapFile = "zelvo32.kbd";
    std::string keyMapFile() const override { return mapFile; }
    void setKeyMap(const std::string& f, const std::string& n) override
    {
        mapFile = f;
        keyboard = n;
    }
    ReceiveFilter filter;
    bool typingHeld = false;
    std::string shown;
    void setReceiveFilter(ReceiveFilter f) override { filter = std::move(f); }
    void setTypingHeld(bool held) override { typingHeld = held; }
    // Reads bytes from the line as the terminal window does after the main window.
    void read(const std::string& bytes)
    {
        if (!active)
            return;
        std::vector<uint8_t> out;
        const auto* d = reinterpret_cast<const uint8_t*>(bytes.data());
        if (filter)
            filter(d, bytes.size(), out);
        else
            out.assign(d, d + bytes.size());
        shown.append(out.begin(), out.end());
    }
    std::string CaptureFile() const override { return captureFile; }
    void setCaptureFile(const std::string& n) override { captureFile = n; }
    bool capturing() const override { return capture; }
    bool startCapture(std::string& error) override
    {
        if (captureFails) {
            error = "No space left on device";
            return false;
        }
        capture = true;
        return true;
    }
    bool stopFails = false;
    bool crlf = false;
    bool stopCapture(std::string& error) override
    {
        capture = false;
        if (stopFails) {
            error = "Disk write error";
            return false;
        }
        return true;
    }
    bool captureCrLf() const override { return crlf; }
    void setCaptureCrLf(bool on) override { crlf = on; }
    void setTimestamps(int mode) override { timestamps = mode; }
    void setLfImpliesCr(bool on) override { lfImpliesCr = on; }
    void setEnterSends(int mode) override { enterSends = mode; }
    bool sendTyped(const std::string& bytes) override
    {
        if (!active)
            return false;
        typed += bytes;
        return true;
    }
    void receive(const std::string& bytes)
    {
        if (onReceived)
            onReceived(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    int timestamps = 0;
    bool lfImpliesCr = false;
    int enterSends = 0;
    std::string typed;
};

class FakePrompts : public UserPrompts {
public:
    std::vector<QString> errors;
    std::deque<std::optional<PortOptionValues>> portAnswers; // empty: cancel
    std::vector<PortOptionValues> portPresets;
    std::deque<SessionFormResult> sessionAnswers;
    std::vector<std::string> sessionPresets;
    std::optional<QFont> fontAnswer;
    std::optional<QString> captureAnswer;
    int abouts = 0;

    void error(const QString& text) override { errors.push_back(text); }
    std::optional<PortOptionValues> portOptions(const PortOptionValues& v) override
    {
        portPresets.push_back(v);
        if (portAnswers.empty())
            return std::nullopt;
        auto a = portAnswers.front();
        portAnswers.pop_front();
        return a;
    }
    SessionFormResult sessionForm(const std::vector<std::string>& names, const std::string& preset) override
    {
        sessionPresets.push_back(preset);
        if (sessionAnswers.empty())
            return {};
        SessionFormResult r = sessionAnswers.front();
        sessionAnswers.pop_front();
        if (r.list.empty())
            r.list = names;
        return r;
    }
    uint32_t colorAnswer = 0xC0C0C0;
    std::optional<FontChoice> chooseFont(const QFont&, uint32_t) override
    {
        if (!fontAnswer)
            return std::nullopt;
        return FontChoice{*fontAnswer, colorAnswer};
    }
    bool captureCrLfAnswer = false;
    std::optional<CaptureChoice> chooseCaptureFile(const QString&, bool) override
    {
        if (!captureAnswer)
            return std::nullopt;
        return CaptureChoice{*captureAnswer, captureCrLfAnswer};
    }
    void about() override { ++abouts; }
    std::optional<std::pair<std::string, std::string>> keyMapAnswer;
    bool keyMapEditor(std::string& file, std::string& name) override
    {
        if (!keyMapAnswer)
            return false;
        file = keyMapAnswer->first;
        name = keyMapAnswer->second;
        return true;
    }
    std::vector<QString> sendAnswer; // empty: cancel
    std::vector<bool> sendMultiple;
    std::vector<QString> chooseSendFiles(const QString&, bool multiple) override
    {
        sendMultiple.push_back(multiple);
        return sendAnswer;
    }
    std::optional<QString> receiveAnswer;
    std::optional<QString> chooseReceiveFile(const QString&) override { return receiveAnswer; }
    std::optional<QString> directoryAnswer;
    std::vector<QString> directoryPresets;
    std::optional<QString> chooseDirectory(const QString& preset) override
    {
        directoryPresets.push_back(preset);
        return directoryAnswer;
    }
    std::optional<int> historyAnswer;
    std::optional<int> chooseHistoryRows(int, int) override { return historyAnswer; }
    std::optional<bool> protocolOptionsAutoStart; // nullopt: cancel
    // When set, the real dialog is loaded, filled in by this and saved, as if accepted.
    std::function<void(protocols::ProtocolOptions&)> protocolOptionsFill;
    bool protocolOptions(protocols::Protocol& protocol, bool& autoStart) override
    {
        if (!protocolOptionsAutoStart)
            return false;
        if (protocolOptionsFill) {
            protocols::ProtocolOptions d;
            d.Load(protocol, autoStart);
            protocolOptionsFill(d);
            d.Save(protocol);
        }
        autoStart = *protocolOptionsAutoStart;
        return true;
    }
};

class FakeLines : public LineDirectory {
public:
    std::vector<LineEntry> present;
    std::map<int, std::string> mapped;

    std::vector<std::string> watched; // none: the real /dev stays out of the tests
    std::vector<std::string> watchedDirectories() override { return watched; }
    std::vector<LineEntry> presentLines() override
    {
        std::vector<LineEntry> r = present;
        for (auto& [n, d] : mapped)
            r.push_back({n, d});
        return r;
    }
    std::string deviceOf(int n) override
    {
        if (mapped.count(n))
            return mapped[n];
        return n <= 36 ? "/dev/ttyS" + std::to_string(n) : "";
    }
    bool mapDevice(int n, const std::string& d, std::string&) override
    {
        mapped[n] = d;
        return true;
    }
};

inline PortOptionValues direct(int number)
{
    PortOptionValues v;
    v.ComNumber = number;
    return v;
}

} // namespace zelvo::app::testing
