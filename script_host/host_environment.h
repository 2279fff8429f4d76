#pragma once
// What the host functions and the run sequence need from the program around them: an
// event loop to wait in, the terminal and its window, the script message window and the
// file dialogs. The program implements it over its windows (app/ui/script_environment);
// zelvo32-script over standard output and standard error (HeadlessEnvironment).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zelvo::script_host {

class HostEnvironment {
public:
    virtual ~HostEnvironment() = default;

    // Runs the event loop until done() is true or timeoutMs has passed (negative: no
    // limit). Blocks while nothing happens: done() is tested after every event that was
    // handled and after every wake(), never in a spinning loop. With a time-out of 0
    // the events already waiting are handled once. Returns done().
    virtual bool waitFor(const std::function<bool()>& done, int64_t timeoutMs) = 0;
    // Makes a waitFor in progress test its condition again; safe from any thread.
    virtual void wake() = 0;

    // Shows bytes in the terminal as if they had been received from the line; the
    // terminal repaints.
    virtual void terminalShow(const uint8_t* data, size_t n) = 0;
    // Clears the terminal's visible page (the scrollback keeps what it showed).
    virtual void terminalClear() = 0;
    virtual bool terminalActive() const = 0;
    // An inactive terminal neither reads the line nor sends typed keys.
    virtual void setTerminalActive(bool on) = 0;
    // The main window: shown (restored when hidden) and, with focus, made the active
    // window; or hidden.
    virtual void showMainWindow(bool focus) = 0;
    virtual void hideMainWindow() = 0;

    // The script message window: shows the text without waiting; or hides it.
    virtual void showMessage(const std::string& text) = 0;
    virtual void hideMessage() = 0;

    // The directory picker preset with a directory; "" when cancelled.
    virtual std::string selectPath(const std::string& initial) = 0;
    // The file dialog listing the files that match mask, with a title; mustExist asks for
    // an existing file. The chosen file's full path; "" when cancelled.
    virtual std::string selectFile(const std::string& mask, const std::string& title,
                                   bool mustExist) = 0;
};

} // namespace zelvo::script_host
