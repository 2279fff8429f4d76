#include "script_host/headless_run.h"

#include "app/com_port_access.h"
#include "comm/com_port.h"
#include "comm/event_loop_bridge.h"
#include "comm/port_table.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "protocols/protocol.h"
#include "script_host/headless_environment.h"
#include "script_host/protocol_property.h"
#include "script_host/script_runner.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace zelvo::script_host {

namespace {

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// Keys for the script's console, read by a thread of their own so that the line is
// served while the script waits for input. The thread may outlive the run (it can sit
// in a read that never returns); it only touches this shared record.
struct HeadlessRun::Input {
    std::mutex mutex;
    std::deque<uint8_t> keys;
    bool eof = false;
    bool started = false;
    std::function<void()> waker;

    void start(int fd, const std::shared_ptr<Input>& self)
    {
        {
            std::lock_guard lock(mutex);
            if (started)
                return;
            started = true;
        }
        std::thread([fd, self] {
            for (;;) {
                uint8_t c = 0;
                const ssize_t n = ::read(fd, &c, 1);
                if (n < 0 && errno == EINTR)
                    continue;
                std::lock_guard lock(self->mutex);
                if (n <= 0)
                    self->eof = true;
                else
                    self->keys.push_back(c);
                if (self->waker)
                    self->waker();
                if (n <= 0)
                    return;
            }
        }).detach();
    }
};

struct HeadlessRun::Parts {
    comm::EventLoopBridge bridge;
    // A private port table: the device given on the command line under the last port
    // number, so the port opens it exactly as the program opens a mapped port.
    platform::RegistryStore portTable{"/nonexistent/zelvo32-script.reg"};
    comm::ComPort port{bridge};
    protocols::Protocol protocol;
    app::ComPortAccess access{port, std::string()};
    HeadlessEnvironment env;
    ScriptRunner runner{env};

    Parts(std::FILE* out, std::FILE* err) : env(bridge, out, err) {}
};

HeadlessRun::HeadlessRun(HeadlessOptions options)
    : options_(std::move(options))
    , parts_(std::make_unique<Parts>(options_.out, options_.err))
    , input_(std::make_shared<Input>())
{
    comm::EventLoopBridge* bridge = &parts_->bridge;
    std::lock_guard lock(input_->mutex);
    input_->waker = [bridge] { bridge->wake(); };
}

HeadlessRun::~HeadlessRun()
{
    {
        std::lock_guard lock(input_->mutex);
        input_->waker = nullptr;
    }
    parts_->access.close();
}

void HeadlessRun::RequestStop()
{
    parts_->runner.RequestStop();
}

bool HeadlessRun::openLine(std::string& error)
{
    Parts& p = *parts_;
    comm::SetPortDevice(p.portTable, comm::MaxComNumber, options_.device);
    p.port.setRegistryStore(&p.portTable);
    p.port.setAutoOpen(false);
    p.port.setPromptForPort(false);
    p.port.setComNumber(comm::MaxComNumber);
    try {
        p.port.setBaud(options_.baud);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    if (auto e = p.access.open()) {
        error = e->message;
        return false;
    }
    return true;
}

int HeadlessRun::Run()
{
    Parts& p = *parts_;
    // Received names keep their case, as in the program.
    p.protocol.setUpcaseFileNames(false);
    for (const std::string& s : options_.settings) {
        std::string error;
        if (!SetProtocolProperty(p.protocol, s, error)) {
            std::fprintf(options_.err, "zelvo32-script: %s\n", error.c_str());
            return kNotCompiled;
        }
    }
    // What the line says before the script starts is kept for it: a prompt that comes
    // while the script is still being compiled is the script's to read.
    std::string early;
    p.access.onData = [&early](const uint8_t* d, size_t n) {
        early.append(reinterpret_cast<const char*>(d), n);
        if (early.size() > 2 * LineWait::kMaxBacklog)
            early.erase(0, early.size() - LineWait::kMaxBacklog);
    };
    if (!options_.device.empty()) {
        std::string error;
        if (!openLine(error)) {
            p.access.onData = nullptr;
            std::fprintf(options_.err, "zelvo32-script: cannot open the line %s: %s\n",
                         options_.device.c_str(), error.c_str());
            return kNotCompiled;
        }
    }

    if (options_.progress) {
        std::FILE* err = options_.err;
        p.protocol.OnProtocolStatus = [err](protocols::Protocol& proto, uint16_t flags) {
            const protocols::TransferState st = proto.Snapshot();
            const std::string name = baseName(st.PathName);
            const char* status = protocols::StatusMessage(st.ProtocolStatus);
            if (flags & protocols::kStatusFirst)
                std::fprintf(err, "%s (%llu bytes)\n", name.c_str(),
                             static_cast<unsigned long long>(st.FileLength));
            else if (flags & protocols::kStatusLast)
                std::fprintf(err, "%s: %llu bytes, %s\n", name.c_str(),
                             static_cast<unsigned long long>(st.BytesTransferred), status);
            else
                std::fprintf(err, "%s: %llu/%llu bytes\n", name.c_str(),
                             static_cast<unsigned long long>(st.BytesTransferred),
                             static_cast<unsigned long long>(st.FileLength));
            std::fflush(err);
        };
    }

    // From here on the script's waits read the line; nothing else shows it. No event is
    // handled between taking the early bytes and the script's start.
    HostBinding binding{&p.access, &p.access, &p.protocol, std::move(early)};
    p.access.onData = [](const uint8_t*, size_t) {};
    p.runner.setBinding(binding);
    const ScriptRunner::Result r = p.runner.Run(options_.script, false, *this);
    std::fflush(options_.out);
    p.protocol.OnProtocolStatus = nullptr;
    if (!r.compiled)
        return kNotCompiled;
    return r.messages > 0 ? kRunError : kClean;
}

void HeadlessRun::errorMessage(const std::string& text)
{
    std::fflush(options_.out);
    std::fprintf(options_.err, "%s\n", text.c_str());
    std::fflush(options_.err);
}

void HeadlessRun::consoleOutput(int ch)
{
    std::fputc(ch, options_.out);
    if (ch == '\n')
        std::fflush(options_.out);
}

int HeadlessRun::consoleInput(const std::function<bool()>& stopped)
{
    std::fflush(options_.out);
    input_->start(options_.inputFd, input_);
    Input& in = *input_;
    auto ready = [&] {
        std::lock_guard lock(in.mutex);
        return !in.keys.empty() || in.eof;
    };
    for (;;) {
        parts_->env.waitFor([&] { return ready() || stopped(); }, -1);
        if (stopped())
            return 0;
        uint8_t c;
        {
            std::lock_guard lock(in.mutex);
            if (in.keys.empty())
                return -1;
            c = in.keys.front();
            in.keys.pop_front();
        }
        // A line end in any of its spellings is one carriage return for the script.
        if (c == '\n' && lastWasCr_) {
            lastWasCr_ = false;
            continue;
        }
        lastWasCr_ = c == '\r';
        if (c == '\n' || c == '\r')
            return 13;
        if (c == 127 && ::isatty(options_.inputFd))
            return 8;
        return c;
    }
}

} // namespace zelvo::script_host
