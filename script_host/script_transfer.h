#pragma once
// The file transfer behind the host functions SendFile and ReceiveFile. It borrows the
// main window's protocol component and line for one transfer: the protocol's events and
// the port's data events are put aside and given back afterwards, the terminal is
// inactive while the protocol owns the line, and the call returns when the protocol
// reports the end of the transfer. A stop request cancels the transfer; the call still
// returns only when the protocol has finished.

#include "protocols/protocol_types.h"
#include "script_host/host_environment.h"

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

class ScriptTransfer {
public:
    struct Outcome {
        bool started = false;   // a transfer ran (and raised its finish event)
        bool succeeded = false; // it finished with code 0
        int code = 0;           // the finish code
    };

    ScriptTransfer(HostEnvironment& env, const std::atomic<bool>& stop);

    void bind(app::PortAccess* port, app::TransferLine* line, protocols::Protocol* protocol);
    bool bound() const { return line_ && protocol_; }

    // Sends the file, or the files that a mask selects. Nothing starts while another
    // transfer runs.
    Outcome Send(const std::string& nameOrMask, protocols::TProtocolType type);
    // Receives into a path: a directory receives under the names the sender gives;
    // otherwise its directory part is the destination and its name part the file name
    // (for protocols that send no names).
    Outcome Receive(const std::string& path, protocols::TProtocolType type);

private:
    Outcome run(const std::string& name, protocols::TProtocolType type, bool transmit);

    HostEnvironment& env_;
    const std::atomic<bool>& stop_;
    app::PortAccess* port_ = nullptr;
    app::TransferLine* line_ = nullptr;
    protocols::Protocol* protocol_ = nullptr;
};

} // namespace zelvo::script_host
