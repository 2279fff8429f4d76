#include "script_host/script_transfer.h"

#include "app/port_access.h"
#include "app/transfer_line.h"
#include "protocols/protocol.h"

#include <sys/stat.h>

namespace zelvo::script_host {

using protocols::Protocol;

namespace {

// How long a transfer that could not start may take to report its end, which comes as
// a queued event.
constexpr int64_t kStartFailureReportMs = 1000;

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

ScriptTransfer::ScriptTransfer(HostEnvironment& env, const std::atomic<bool>& stop)
    : env_(env), stop_(stop)
{
}

void ScriptTransfer::bind(app::PortAccess* port, app::TransferLine* line, Protocol* protocol)
{
    port_ = port;
    line_ = line;
    protocol_ = protocol;
}

ScriptTransfer::Outcome ScriptTransfer::Send(const std::string& nameOrMask,
                                             protocols::TProtocolType type)
{
    return run(nameOrMask, type, true);
}

ScriptTransfer::Outcome ScriptTransfer::Receive(const std::string& path,
                                                protocols::TProtocolType type)
{
    return run(path, type, false);
}

ScriptTransfer::Outcome ScriptTransfer::run(const std::string& name,
                                            protocols::TProtocolType type, bool transmit)
{
    Outcome out;
    if (!bound() || protocol_->InProgress())
        return out;
    Protocol& p = *protocol_;

    // Everything the transfer changes, to be given back afterwards.
    const protocols::TProtocolType savedType = p.ProtocolType();
    auto savedFinish = std::move(p.OnProtocolFinish);
    auto savedNext = std::move(p.OnProtocolNextFile);
    auto savedError = std::move(p.OnProtocolError);
    const std::string savedMask = p.FileMask();
    const std::string savedName = p.FileName();
    const std::string savedDir = p.DestinationDirectory();
    std::function<void(const uint8_t*, size_t)> savedData;
    std::function<void(uint16_t)> savedTrigger;
    if (port_) {
        savedData = std::move(port_->onData);
        savedTrigger = std::move(port_->onDataTrigger);
        port_->onData = nullptr;
        port_->onDataTrigger = nullptr;
    }
    p.OnProtocolNextFile = nullptr;
    p.OnProtocolError = nullptr;
    bool finished = false;
    p.OnProtocolFinish = [&](Protocol&, int code) {
        finished = true;
        out.code = code;
        out.succeeded = code == 0;
        env_.wake();
    };

    p.setProtocolType(type);
    const bool wasActive = env_.terminalActive();
    env_.setTerminalActive(false);

    int rc;
    if (transmit) {
        p.setFileMask(name);
        p.setFileName(std::string());
        rc = line_->beginTransmit(p);
    } else {
        if (isDirectory(name)) {
            p.setDestinationDirectory(name);
            p.setFileName(std::string());
        } else {
            const size_t slash = name.rfind('/');
            p.setDestinationDirectory(slash == std::string::npos ? std::string()
                                                                 : name.substr(0, slash + 1));
            p.setFileName(slash == std::string::npos ? name : name.substr(slash + 1));
        }
        rc = line_->beginReceive(p);
    }

    if (rc == 0 || p.InProgress()) {
        // A stop request cancels the transfer, again at every event until the protocol
        // reports its end.
        env_.waitFor(
            [&] {
                if (!finished && stop_.load())
                    p.CancelTransfer();
                return finished;
            },
            -1);
    } else {
        env_.waitFor([&] { return finished; }, kStartFailureReportMs);
        if (!finished)
            out.code = rc;
    }
    out.started = true;

    if (port_) {
        port_->onData = std::move(savedData);
        port_->onDataTrigger = std::move(savedTrigger);
        // What the far side said right after its end of the transfer (its prompt) came
        // while nobody listened; the script's next wait reads it.
        port_->readWaiting();
    }
    p.setProtocolType(savedType);
    p.setFileMask(savedMask);
    p.setFileName(savedName);
    p.setDestinationDirectory(savedDir);
    p.OnProtocolFinish = std::move(savedFinish);
    p.OnProtocolNextFile = std::move(savedNext);
    p.OnProtocolError = std::move(savedError);
    env_.setTerminalActive(wasActive);
    return out;
}

} // namespace zelvo::script_host
