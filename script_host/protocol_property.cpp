#include "script_host/protocol_property.h"

#include "protocols/protocol.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>

namespace zelvo::script_host {

using protocols::Protocol;

namespace {

std::optional<uint32_t> number(const std::string& v)
{
    if (v.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
    if (*end || errno || n > 0xFFFFFFFFull || v[0] == '-')
        return std::nullopt;
    return uint32_t(n);
}

std::optional<bool> flag(const std::string& v)
{
    for (const char* t : {"1", "true", "yes", "on"})
        if (strcasecmp(v.c_str(), t) == 0)
            return true;
    for (const char* f : {"0", "false", "no", "off"})
        if (strcasecmp(v.c_str(), f) == 0)
            return false;
    return std::nullopt;
}

std::optional<char> character(const std::string& v)
{
    if (auto n = number(v); n && *n <= 255)
        return char(*n);
    if (v.size() == 1)
        return v[0];
    return std::nullopt;
}


using Setter = std::function<bool(Protocol&, const std::string&)>;

struct Property {
    const char* name;
    Setter set;
};

template <class F>
Setter numberSetter(F f)
{
    return [f](Protocol& p, const std::string& v) {
        auto n = number(v);
        if (n)
            (p.*f)(*n);
        return n.has_value();
    };
}

template <class F>
Setter flagSetter(F f)
{
    return [f](Protocol& p, const std::string& v) {
        auto b = flag(v);
        if (b)
            (p.*f)(*b);
        return b.has_value();
    };
}

template <class F>
Setter charSetter(F f)
{
    return [f](Protocol& p, const std::string& v) {
        auto c = character(v);
        if (c)
            (p.*f)(*c);
        return c.has_value();
    };
}

template <class E, class F>
Setter choiceSetter(F f, std::initializer_list<const char*> names)
{
    std::vector<const char*> list(names);
    return [f, list](Protocol& p, const std::string& v) {
        for (size_t i = 0; i < list.size(); ++i)
            if (strcasecmp(v.c_str(), list[i]) == 0) {
                (p.*f)(E(i));
                return true;
            }
        auto n = number(v);
        if (!n || *n >= list.size())
            return false;
        (p.*f)(E(*n));
        return true;
    };
}

Setter textSetter(void (Protocol::*f)(std::string))
{
    return [f](Protocol& p, const std::string& v) {
        (p.*f)(v);
        return true;
    };
}

const std::vector<Property>& properties()
{
    using namespace protocols;
    static const std::vector<Property> table = {
        {"DestinationDirectory", textSetter(&Protocol::setDestinationDirectory)},
        {"FileMask", textSetter(&Protocol::setFileMask)},
        {"BlockCheckMethod", choiceSetter<TBlockCheckMethod>(&Protocol::setBlockCheckMethod,
            {"bcmNone", "bcmChecksum", "bcmChecksum2", "bcmCrc16", "bcmCrc32", "bcmCrcK"})},
        {"HandshakeRetry", numberSetter(&Protocol::setHandshakeRetry)},
        {"HandshakeWait", numberSetter(&Protocol::setHandshakeWait)},
        {"TransmitTimeout", numberSetter(&Protocol::setTransmitTimeout)},
        {"FinishWait", numberSetter(&Protocol::setFinishWait)},
        {"TurnDelay", numberSetter(&Protocol::setTurnDelay)},
        {"Overhead", numberSetter(&Protocol::setOverhead)},
        {"WriteFailAction", choiceSetter<TWriteFailAction>(&Protocol::setWriteFailAction,
            {"wfWriteNone", "wfWriteFail", "wfWriteRename", "wfWriteAnyway", "wfWriteResume"})},
        {"HonorDirectory", flagSetter(&Protocol::setHonorDirectory)},
        {"IncludeDirectory", flagSetter(&Protocol::setIncludeDirectory)},
        {"RTSLowForWrite", flagSetter(&Protocol::setRTSLowForWrite)},
        {"AbortNoCarrier", flagSetter(&Protocol::setAbortNoCarrier)},
        {"BP2KTransmit", flagSetter(&Protocol::setBP2KTransmit)},
        {"AsciiSuppressCtrlZ", flagSetter(&Protocol::setAsciiSuppressCtrlZ)},
        {"StatusInterval", numberSetter(&Protocol::setStatusInterval)},
        {"FileName", textSetter(&Protocol::setFileName)},
        {"XYmodemBlockWait", numberSetter(&Protocol::setXYmodemBlockWait)},
        {"ZmodemOptionOverride", flagSetter(&Protocol::setZmodemOptionOverride)},
        {"ZmodemSkipNoFile", flagSetter(&Protocol::setZmodemSkipNoFile)},
        {"ZmodemFileOption", choiceSetter<TZmodemFileOptions>(&Protocol::setZmodemFileOption,
            {"zfoNoOption", "zfoWriteNewerLonger", "zfoWriteCrc", "zfoWriteAppend",
             "zfoWriteClobber", "zfoWriteNewer", "zfoWriteDifferent", "zfoWriteProtect"})},
        {"ZmodemRecover", flagSetter(&Protocol::setZmodemRecover)},
        {"Zmodem8K", flagSetter(&Protocol::setZmodem8K)},
        {"ZmodemFinishRetry", numberSetter(&Protocol::setZmodemFinishRetry)},
        {"KermitMaxLen", numberSetter(&Protocol::setKermitMaxLen)},
        {"KermitMaxWindows", numberSetter(&Protocol::setKermitMaxWindows)},
        {"KermitSWCTurnDelay", numberSetter(&Protocol::setKermitSWCTurnDelay)},
        {"KermitTimeoutSecs", numberSetter(&Protocol::setKermitTimeoutSecs)},
        {"KermitPadCharacter", charSetter(&Protocol::setKermitPadCharacter)},
        {"KermitPadCount", numberSetter(&Protocol::setKermitPadCount)},
        {"KermitTerminator", charSetter(&Protocol::setKermitTerminator)},
        {"KermitCtlPrefix", charSetter(&Protocol::setKermitCtlPrefix)},
        {"KermitHighbitPrefix", charSetter(&Protocol::setKermitHighbitPrefix)},
        {"KermitRepeatPrefix", charSetter(&Protocol::setKermitRepeatPrefix)},
        {"AsciiCharDelay", numberSetter(&Protocol::setAsciiCharDelay)},
        {"AsciiLineDelay", numberSetter(&Protocol::setAsciiLineDelay)},
        {"AsciiEOLChar", charSetter(&Protocol::setAsciiEOLChar)},
        {"AsciiCRTranslation", choiceSetter<TAsciiEOLTranslation>(&Protocol::setAsciiCRTranslation,
            {"aetNone", "aetStrip", "aetAddCRBefore", "aetAddLFAfter"})},
        {"AsciiLFTranslation", choiceSetter<TAsciiEOLTranslation>(&Protocol::setAsciiLFTranslation,
            {"aetNone", "aetStrip", "aetAddCRBefore", "aetAddLFAfter"})},
        {"AsciiEOFTimeout", numberSetter(&Protocol::setAsciiEOFTimeout)},
        {"UpcaseFileNames", flagSetter(&Protocol::setUpcaseFileNames)},
    };
    return table;
}

} // namespace

bool SetProtocolProperty(Protocol& protocol, const std::string& assignment, std::string& error)
{
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        error = "\"" + assignment + "\" is not NAME=VALUE";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string value = assignment.substr(eq + 1);
    for (const Property& p : properties()) {
        if (strcasecmp(p.name, name.c_str()) != 0)
            continue;
        if (!p.set(protocol, value)) {
            error = "bad value \"" + value + "\" for " + p.name;
            return false;
        }
        return true;
    }
    error = "unknown protocol setting \"" + name + "\"";
    return false;
}

std::vector<std::string> ProtocolPropertyNames()
{
    std::vector<std::string> names;
    for (const Property& p : properties())
        names.emplace_back(p.name);
    return names;
}

} // namespace zelvo::script_host
