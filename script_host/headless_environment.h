#pragma once
// The environment of a script run without windows (zelvo32-script): waits run the
// plain event loop of the line's bridge; what the terminal would show goes to an output
// stream as plain text, messages to an error stream; dialogs answer "cancelled" and the
// window commands do nothing.

#include "comm/event_loop_bridge.h"
#include "script_host/host_environment.h"
#include "script_host/plain_text_filter.h"

#include <cstdio>

namespace zelvo::script_host {

class HeadlessEnvironment : public HostEnvironment {
public:
    HeadlessEnvironment(comm::EventLoopBridge& bridge, std::FILE* out, std::FILE* err);

    bool waitFor(const std::function<bool()>& done, int64_t timeoutMs) override;
    void wake() override;
    void terminalShow(const uint8_t* data, size_t n) override;
    void terminalClear() override {}
    bool terminalActive() const override { return terminalActive_; }
    void setTerminalActive(bool on) override { terminalActive_ = on; }
    void showMainWindow(bool) override {}
    void hideMainWindow() override {}
    void showMessage(const std::string& text) override;
    void hideMessage() override {}
    std::string selectPath(const std::string&) override { return {}; }
    std::string selectFile(const std::string&, const std::string&, bool) override { return {}; }

private:
    comm::EventLoopBridge& bridge_;
    std::FILE* out_;
    std::FILE* err_;
    PlainTextFilter filter_;
    bool terminalActive_ = true;
};

} // namespace zelvo::script_host
