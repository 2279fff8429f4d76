#pragma once
// A line and an event loop that the tests drive by hand: bytes arrive when the test has
// scheduled them, and a wait whose schedule runs dry has timed out.

#include "app/port_access.h"
#include "script_host/host_environment.h"
#include "script_host/run_observer.h"

#include <deque>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace zelvo::script_host::testing {

class FakePort : public app::PortAccess {
public:
    bool opened = true;
    std::string sent;

    app::PortOptionValues settings() const override { return {}; }
    void setSettings(const app::PortOptionValues&) override {}
    std::string deviceOf(int) const override { return {}; }
    bool isOpen() const override { return opened; }
    std::optional<app::LineOpenError> open() override
    {
        opened = true;
        return std::nullopt;
    }
    void close() override { opened = false; }
    void putBlock(const uint8_t* d, size_t n) override { sent.append(reinterpret_cast<const char*>(d), n); }
    uint16_t addDataTrigger(std::string_view) override { return 8; }
    void dropTrigger(uint16_t) override {}

    // One data-available event.
    void arrive(const std::string& bytes)
    {
        if (onData)
            onData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
};

class ScriptedEnvironment : public HostEnvironment {
public:
    // Events that happen while the script waits, in order; an empty one is the time
    // running out for the wait that meets it.
    std::deque<std::function<void()>> events;
    std::vector<int64_t> timeouts; // of every waitFor
    std::string terminal;          // everything shown in the terminal
    std::vector<std::string> messages;
    bool active = true;
    int clears = 0;
    int shows = 0, focuses = 0, hides = 0, messageHides = 0;
    std::string pathAnswer, fileAnswer;
    std::vector<std::string> selectPathCalls;
    struct FileCall {
        std::string mask, title;
        bool mustExist;
    };
    std::vector<FileCall> selectFileCalls;

    bool waitFor(const std::function<bool()>& done, int64_t timeoutMs) override
    {
        timeouts.push_back(timeoutMs);
        while (!done()) {
            if (events.empty())
                return false;
            auto e = std::move(events.front());
            events.pop_front();
            if (!e)
                return false;
            e();
        }
        return true;
    }
    void wake() override {}
    void terminalShow(const uint8_t* d, size_t n) override { terminal.append(reinterpret_cast<const char*>(d), n); }
    void terminalClear() override { ++clears; }
    bool terminalActive() const override { return active; }
    void setTerminalActive(bool on) override { active = on; }
    void showMainWindow(bool focus) override
    {
        ++shows;
        focuses += focus ? 1 : 0;
    }
    void hideMainWindow() override { ++hides; }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void hideMessage() override { ++messageHides; }
    std::string selectPath(const std::string& initial) override
    {
        selectPathCalls.push_back(initial);
        return pathAnswer;
    }
    std::string selectFile(const std::string& mask, const std::string& title, bool mustExist) override
    {
        selectFileCalls.push_back({mask, title, mustExist});
        return fileAnswer;
    }
};

class RecordingObserver : public RunObserver {
public:
    std::vector<std::string> errors;
    std::string console;
    std::string input;
    std::vector<int> pauses;
    std::function<void(int line)> onPause;

    void errorMessage(const std::string& text) override { errors.push_back(text); }
    void consoleOutput(int ch) override { console.push_back(char(ch)); }
    int consoleInput(const std::function<bool()>& stopped) override
    {
        if (stopped() || input.empty())
            return -1;
        const char c = input.front();
        input.erase(0, 1);
        return static_cast<unsigned char>(c);
    }
    void pausedAt(int line) override
    {
        pauses.push_back(line);
        if (onPause)
            onPause(line);
    }
    void resumed() override {}
};

// A script in a temporary file, removed again at the end of the test.
class ScriptFile {
public:
    explicit ScriptFile(const std::string& text, const std::string& name = "script")
        : path_("/tmp/zelvo-host-" + std::to_string(::getpid()) + "-" + name + "-"
                + std::to_string(counter()++) + ".vm")
    {
        std::ofstream(path_) << text;
    }
    ~ScriptFile() { ::unlink(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    std::string path_;
};

} // namespace zelvo::script_host::testing
