#pragma once
// The sixteen functions that scripts call to reach the terminal, registered with the
// script engine at every script start, and their shared state.
//
//   Send("*")            strings as their bytes, integers as one byte each
//   Receive("ii")        [time-out s], [ignored] -> byte, or 0 on time-out or stop
//   Waitfor("Vii")       text or character, [time-out s], [echo = 1] -> 1 or 0
//   SendFile("Ss")       file or mask, [protocol = "ASCII"] -> 1 sent, 0 not
//   ReceiveFile("Ss")    path or directory, [protocol = "ASCII"] -> 1 received, 0 not
//   SelectPath("s")      [initial directory] -> directory or ""
//   SelectFile("ssi")    [mask = "*.*"], [title = "Select File"], [must exist = 0]
//   FileName("S"), FilePath("S"), FileExists("S")
//   TerminalPrint("*"), TerminalClear(""), TerminalHide(""), TerminalShow("")
//   Message("*"), MessageHide("")
//
// The engine calls plain functions without a context, so the instance whose script runs
// is remembered while it is registered; one script runs at a time.

#include "script_engine/orvscript.h"
#include "script_host/host_environment.h"
#include "script_host/line_wait.h"
#include "script_host/script_transfer.h"

#include <array>
#include <atomic>
#include <string>

namespace zelvo::app {
class PortAccess;
class TransferLine;
}
namespace zelvo::protocols {
class Protocol;
}

namespace zelvo::script_host {

// The main window's parts that the functions work with.
struct HostBinding {
    app::PortAccess* port = nullptr;
    app::TransferLine* line = nullptr;
    protocols::Protocol* protocol = nullptr;
    // Bytes that came on the line before the run and that nobody has shown yet (a line
    // opened for the script); the script reads them first.
    std::string received;
};

class HostFunctions {
public:
    struct Entry {
        const char* name;
        const char* signature;
        ScriptHostFunc function;
    };
    static constexpr size_t kCount = 16;
    // The functions in registration order.
    static const std::array<Entry, kCount>& Table();

    explicit HostFunctions(HostEnvironment& env);
    ~HostFunctions();
    HostFunctions(const HostFunctions&) = delete;
    HostFunctions& operator=(const HostFunctions&) = delete;

    // Registers the functions on an engine instance in table order, takes the main
    // window's parts and starts a run's state afresh (echo off, nothing read). Fails
    // (false) while another instance's script is running.
    bool Register(ScriptHandle* handle, const HostBinding& binding);
    // The run has ended: the line is given back and the functions are free again.
    void Release();
    bool Registered() const { return active_ == this; }

    // The stop request: ends every wait and transfer; safe from any thread.
    void RequestStop();
    void ClearStop() { stop_ = false; }
    bool StopRequested() const { return stop_.load(); }

    HostEnvironment& environment() { return env_; }
    const LineWait& lineWait() const { return wait_; }

private:
    template <const char* (HostFunctions::*F)(ScriptHandle*, int)>
    static const char* call(ScriptHandle* h, int argc);

    const char* Send(ScriptHandle* h, int argc);
    const char* Receive(ScriptHandle* h, int argc);
    const char* Waitfor(ScriptHandle* h, int argc);
    const char* SendFile(ScriptHandle* h, int argc);
    const char* ReceiveFile(ScriptHandle* h, int argc);
    const char* SelectPath(ScriptHandle* h, int argc);
    const char* SelectFile(ScriptHandle* h, int argc);
    const char* FileName(ScriptHandle* h, int argc);
    const char* FilePath(ScriptHandle* h, int argc);
    const char* FileExists(ScriptHandle* h, int argc);
    const char* TerminalPrint(ScriptHandle* h, int argc);
    const char* TerminalClear(ScriptHandle* h, int argc);
    const char* TerminalHide(ScriptHandle* h, int argc);
    const char* TerminalShow(ScriptHandle* h, int argc);
    const char* Message(ScriptHandle* h, int argc);
    const char* MessageHide(ScriptHandle* h, int argc);
    const char* transfer(ScriptHandle* h, int argc, bool transmit);

    static HostFunctions* active_;

    HostEnvironment& env_;
    std::atomic<bool> stop_{false};
    LineWait wait_;
    ScriptTransfer transfer_;
    HostBinding binding_;
    std::string error_; // the last error text, valid until the engine has reported it
};

} // namespace zelvo::script_host
