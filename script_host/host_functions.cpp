#include "script_host/host_functions.h"

#include "app/port_access.h"
#include "comm/comm_types.h"
#include "comm/exceptions.h"
#include "script_host/file_names.h"

#include <optional>
#include <vector>

namespace zelvo::script_host {

namespace {

constexpr const char* kIllegalProtocol = "Illegal protocol name.";

// An argument as text: a string as it is, an integer in decimal.
std::string textArg(ScriptHandle* h, int i)
{
    if (ScriptGetArgType(h, i) != 0) {
        const char* s = ScriptGetStrArg(h, i);
        return s ? s : "";
    }
    return std::to_string(ScriptGetIntArg(h, i));
}

std::string joinArgs(ScriptHandle* h, int argc)
{
    std::string text;
    for (int i = 0; i < argc; ++i)
        text += textArg(h, i);
    return text;
}

std::string stringArg(ScriptHandle* h, int i)
{
    const char* s = ScriptGetStrArg(h, i);
    return s ? s : "";
}

std::optional<int> optionalInt(ScriptHandle* h, int argc, int i)
{
    if (argc > i)
        return ScriptGetIntArg(h, i);
    return std::nullopt;
}

} // namespace

HostFunctions* HostFunctions::active_ = nullptr;

template <const char* (HostFunctions::*F)(ScriptHandle*, int)>
const char* HostFunctions::call(ScriptHandle* h, int argc)
{
    if (!active_)
        return "The script host is not running.";
    return (active_->*F)(h, argc);
}

const std::array<HostFunctions::Entry, HostFunctions::kCount>& HostFunctions::Table()
{
    static const std::array<Entry, kCount> table = {{
        {"Send", "*", &call<&HostFunctions::Send>},
        {"Receive", "ii", &call<&HostFunctions::Receive>},
        {"Waitfor", "Vii", &call<&HostFunctions::Waitfor>},
        {"SendFile", "Ss", &call<&HostFunctions::SendFile>},
        {"ReceiveFile", "Ss", &call<&HostFunctions::ReceiveFile>},
        {"SelectPath", "s", &call<&HostFunctions::SelectPath>},
        {"SelectFile", "ssi", &call<&HostFunctions::SelectFile>},
        {"FileName", "S", &call<&HostFunctions::FileName>},
        {"FilePath", "S", &call<&HostFunctions::FilePath>},
        {"FileExists", "S", &call<&HostFunctions::FileExists>},
        {"TerminalPrint", "*", &call<&HostFunctions::TerminalPrint>},
        {"TerminalClear", "", &call<&HostFunctions::TerminalClear>},
        {"TerminalHide", "", &call<&HostFunctions::TerminalHide>},
        {"TerminalShow", "", &call<&HostFunctions::TerminalShow>},
        {"Message", "*", &call<&HostFunctions::Message>},
        {"MessageHide", "", &call<&HostFunctions::MessageHide>},
    }};
    return table;
}

HostFunctions::HostFunctions(HostEnvironment& env)
    : env_(env), wait_(env, stop_), transfer_(env, stop_)
{
}

HostFunctions::~HostFunctions()
{
    Release();
}

bool HostFunctions::Register(ScriptHandle* handle, const HostBinding& binding)
{
    if (active_ && active_ != this)
        return false;
    for (const Entry& e : Table())
        ScriptAddFunction(handle, e.name, e.signature, e.function);
    active_ = this;
    binding_ = binding;
    transfer_.bind(binding.port, binding.line, binding.protocol);
    wait_.attach(binding.port, binding.received);
    error_.clear();
    return true;
}

void HostFunctions::Release()
{
    if (active_ != this)
        return;
    wait_.detach();
    transfer_.bind(nullptr, nullptr, nullptr);
    binding_ = {};
    active_ = nullptr;
}

void HostFunctions::RequestStop()
{
    stop_ = true;
    env_.wake();
}

// ---- The line ----------------------------------------------------------------------

const char* HostFunctions::Send(ScriptHandle* h, int argc)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < argc; ++i) {
        if (ScriptGetArgType(h, i) != 0) {
            const std::string s = stringArg(h, i);
            bytes.insert(bytes.end(), s.begin(), s.end());
        } else {
            bytes.push_back(uint8_t(ScriptGetIntArg(h, i) & 0xFF));
        }
    }
    if (bytes.empty())
        return nullptr;
    // Bytes sent to a line that is not open would be lost without a word.
    if (!binding_.port || !binding_.port->isOpen()) {
        error_ = comm::ErrorText(comm::ecNotOpen);
        return error_.c_str();
    }
    binding_.port->putBlock(bytes.data(), bytes.size());
    return nullptr;
}

const char* HostFunctions::Receive(ScriptHandle* h, int argc)
{
    ScriptReturnInt(h, wait_.Receive(optionalInt(h, argc, 0)));
    return nullptr;
}

const char* HostFunctions::Waitfor(ScriptHandle* h, int argc)
{
    std::string text;
    if (ScriptGetArgType(h, 0) != 0)
        text = stringArg(h, 0);
    else
        text.assign(1, char(ScriptGetIntArg(h, 0) & 0xFF));
    const bool echo = argc > 2 ? ScriptGetIntArg(h, 2) != 0 : true;
    ScriptReturnInt(h, wait_.Waitfor(text, optionalInt(h, argc, 1), echo));
    return nullptr;
}

const char* HostFunctions::transfer(ScriptHandle* h, int argc, bool transmit)
{
    const std::string name = stringArg(h, 0);
    if (transmit && !AnyFileMatches(name)) {
        ScriptReturnInt(h, 0);
        return nullptr;
    }
    const protocols::TProtocolType type =
        ProtocolByName(argc > 1 ? stringArg(h, 1) : std::string("ASCII"));
    if (type == protocols::ptNoProtocol)
        return kIllegalProtocol;
    wait_.dropBacklog();
    const ScriptTransfer::Outcome out =
        transmit ? transfer_.Send(name, type) : transfer_.Receive(name, type);
    ScriptReturnInt(h, out.started && out.succeeded ? 1 : 0);
    return nullptr;
}

const char* HostFunctions::SendFile(ScriptHandle* h, int argc)
{
    return transfer(h, argc, true);
}

const char* HostFunctions::ReceiveFile(ScriptHandle* h, int argc)
{
    return transfer(h, argc, false);
}

// ---- Files ------------------------------------------------------------------------------

const char* HostFunctions::SelectPath(ScriptHandle* h, int argc)
{
    const std::string initial = argc > 0 ? stringArg(h, 0) : std::string();
    ScriptReturnStr(h, env_.selectPath(initial).c_str());
    return nullptr;
}

const char* HostFunctions::SelectFile(ScriptHandle* h, int argc)
{
    const std::string mask = argc > 0 ? stringArg(h, 0) : std::string("*.*");
    const std::string title = argc > 1 ? stringArg(h, 1) : std::string("Select File");
    const bool mustExist = argc > 2 && ScriptGetIntArg(h, 2) != 0;
    ScriptReturnStr(h, env_.selectFile(mask, title, mustExist).c_str());
    return nullptr;
}

const char* HostFunctions::FileName(ScriptHandle* h, int)
{
    ScriptReturnStr(h, FileNamePart(stringArg(h, 0)).c_str());
    return nullptr;
}

const char* HostFunctions::FilePath(ScriptHandle* h, int)
{
    ScriptReturnStr(h, FilePathPart(stringArg(h, 0)).c_str());
    return nullptr;
}

const char* HostFunctions::FileExists(ScriptHandle* h, int)
{
    ScriptReturnInt(h, FileExistsAt(stringArg(h, 0)) ? 1 : 0);
    return nullptr;
}

// ---- The terminal and the message window ------------------------------------------------

const char* HostFunctions::TerminalPrint(ScriptHandle* h, int argc)
{
    const std::string text = joinArgs(h, argc);
    env_.showMainWindow(true);
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '\n')
            bytes.push_back('\r');
        bytes.push_back(uint8_t(c));
    }
    if (!bytes.empty())
        env_.terminalShow(bytes.data(), bytes.size());
    return nullptr;
}

const char* HostFunctions::TerminalClear(ScriptHandle*, int)
{
    env_.terminalClear();
    return nullptr;
}

const char* HostFunctions::TerminalHide(ScriptHandle*, int)
{
    env_.hideMainWindow();
    return nullptr;
}

const char* HostFunctions::TerminalShow(ScriptHandle*, int)
{
    env_.showMainWindow(false);
    return nullptr;
}

const char* HostFunctions::Message(ScriptHandle* h, int argc)
{
    env_.showMessage(joinArgs(h, argc));
    return nullptr;
}

const char* HostFunctions::MessageHide(ScriptHandle*, int)
{
    env_.hideMessage();
    return nullptr;
}

} // namespace zelvo::script_host
