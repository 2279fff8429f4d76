#include "protocols/protocol_properties.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <strings.h>

namespace zelvo::protocols {

namespace {

using Setter = std::function<std::string(Protocol&, const std::string&)>;

struct Property {
    const char* name;
    Setter set;
};

bool parseNumber(const std::string& text, uint64_t max, uint64_t& out)
{
    if (text.empty() || text.size() > 20)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max)
        return false;
    out = v;
    return true;
}

Setter cardinal(void (Protocol::*set)(uint32_t))
{
    return [set](Protocol& p, const std::string& v) -> std::string {
        uint64_t n = 0;
        if (!parseNumber(v, 0xFFFFFFFFull, n))
            return "\"" + v + "\" is not a number from 0 to 4294967295";
        (p.*set)(static_cast<uint32_t>(n));
        return {};
    };
}

Setter boolean(void (Protocol::*set)(bool))
{
    return [set](Protocol& p, const std::string& v) -> std::string {
        for (const char* t : {"1", "true", "yes", "on"})
            if (strcasecmp(v.c_str(), t) == 0) {
                (p.*set)(true);
                return {};
            }
        for (const char* f : {"0", "false", "no", "off"})
            if (strcasecmp(v.c_str(), f) == 0) {
                (p.*set)(false);
                return {};
            }
        return "\"" + v + "\" is not 0 or 1";
    };
}

Setter character(void (Protocol::*set)(char))
{
    return [set](Protocol& p, const std::string& v) -> std::string {
        uint64_t n = 0;
        if (parseNumber(v, 255, n)) {
            (p.*set)(static_cast<char>(n));
            return {};
        }
        if (v.size() == 1) {
            (p.*set)(v[0]);
            return {};
        }
        return "\"" + v + "\" is not one character or a character code from 0 to 255";
    };
}

Setter text(void (Protocol::*set)(std::string))
{
    return [set](Protocol& p, const std::string& v) -> std::string {
        (p.*set)(v);
        return {};
    };
}

template <class E>
Setter enumeration(void (Protocol::*set)(E), std::vector<const char*> names)
{
    return [set, names](Protocol& p, const std::string& v) -> std::string {
        uint64_t n = 0;
        bool found = parseNumber(v, names.size() - 1, n);
        for (size_t i = 0; !found && i < names.size(); ++i)
            if (strcasecmp(v.c_str(), names[i]) == 0) {
                n = i;
                found = true;
            }
        if (!found) {
            std::string list;
            for (const char* s : names)
                list += std::string(list.empty() ? "" : ", ") + s;
            return "\"" + v + "\" is not one of " + list + " (or 0 to " + std::to_string(names.size() - 1) + ")";
        }
        (p.*set)(static_cast<E>(n));
        return {};
    };
}

const std::vector<Property>& properties()
{
    static const std::vector<Property> list = {
        {"ProtocolType", enumeration(&Protocol::setProtocolType,
                                     {"ptNoProtocol", "ptXmodem", "ptXmodemCRC", "ptXmodem1K", "ptXmodem1KG",
                                      "ptYmodem", "ptYmodemG", "ptZmodem", "ptKermit", "ptAscii"})},
        {"DestinationDirectory", text(&Protocol::setDestinationDirectory)},
        {"FileMask", text(&Protocol::setFileMask)},
        {"BlockCheckMethod", enumeration(&Protocol::setBlockCheckMethod,
                                         {"bcmNone", "bcmChecksum", "bcmChecksum2", "bcmCrc16", "bcmCrc32", "bcmCrcK"})},
        {"HandshakeRetry", cardinal(&Protocol::setHandshakeRetry)},
        {"HandshakeWait", cardinal(&Protocol::setHandshakeWait)},
        {"TransmitTimeout", cardinal(&Protocol::setTransmitTimeout)},
        {"FinishWait", cardinal(&Protocol::setFinishWait)},
        {"TurnDelay", cardinal(&Protocol::setTurnDelay)},
        {"Overhead", cardinal(&Protocol::setOverhead)},
        {"WriteFailAction", enumeration(&Protocol::setWriteFailAction,
                                        {"wfWriteNone", "wfWriteFail", "wfWriteRename", "wfWriteAnyway", "wfWriteResume"})},
        {"HonorDirectory", boolean(&Protocol::setHonorDirectory)},
        {"IncludeDirectory", boolean(&Protocol::setIncludeDirectory)},
        {"RTSLowForWrite", boolean(&Protocol::setRTSLowForWrite)},
        {"AbortNoCarrier", boolean(&Protocol::setAbortNoCarrier)},
        {"BP2KTransmit", boolean(&Protocol::setBP2KTransmit)},
        {"AsciiSuppressCtrlZ", boolean(&Protocol::setAsciiSuppressCtrlZ)},
        {"StatusInterval", cardinal(&Protocol::setStatusInterval)},
        {"FileName", text(&Protocol::setFileName)},
        {"XYmodemBlockWait", cardinal(&Protocol::setXYmodemBlockWait)},
        {"ZmodemOptionOverride", boolean(&Protocol::setZmodemOptionOverride)},
        {"ZmodemSkipNoFile", boolean(&Protocol::setZmodemSkipNoFile)},
        {"ZmodemFileOption", enumeration(&Protocol::setZmodemFileOption,
                                         {"zfoNoOption", "zfoWriteNewerLonger", "zfoWriteCrc", "zfoWriteAppend",
                                          "zfoWriteClobber", "zfoWriteNewer", "zfoWriteDifferent", "zfoWriteProtect"})},
        {"ZmodemRecover", boolean(&Protocol::setZmodemRecover)},
        {"Zmodem8K", boolean(&Protocol::setZmodem8K)},
        {"ZmodemFinishRetry", cardinal(&Protocol::setZmodemFinishRetry)},
        {"KermitMaxLen", cardinal(&Protocol::setKermitMaxLen)},
        {"KermitMaxWindows", cardinal(&Protocol::setKermitMaxWindows)},
        {"KermitSWCTurnDelay", cardinal(&Protocol::setKermitSWCTurnDelay)},
        {"KermitTimeoutSecs", cardinal(&Protocol::setKermitTimeoutSecs)},
        {"KermitPadCharacter", character(&Protocol::setKermitPadCharacter)},
        {"KermitPadCount", cardinal(&Protocol::setKermitPadCount)},
        {"KermitTerminator", character(&Protocol::setKermitTerminator)},
        {"KermitCtlPrefix", character(&Protocol::setKermitCtlPrefix)},
        {"KermitHighbitPrefix", character(&Protocol::setKermitHighbitPrefix)},
        {"KermitRepeatPrefix", character(&Protocol::setKermitRepeatPrefix)},
        {"AsciiCharDelay", cardinal(&Protocol::setAsciiCharDelay)},
        {"AsciiLineDelay", cardinal(&Protocol::setAsciiLineDelay)},
        {"AsciiEOLChar", character(&Protocol::setAsciiEOLChar)},
        {"AsciiCRTranslation", enumeration(&Protocol::setAsciiCRTranslation,
                                           {"aetNone", "aetStrip", "aetAddCRBefore", "aetAddLFAfter"})},
        {"AsciiLFTranslation", enumeration(&Protocol::setAsciiLFTranslation,
                                           {"aetNone", "aetStrip", "aetAddCRBefore", "aetAddLFAfter"})},
        {"AsciiEOFTimeout", cardinal(&Protocol::setAsciiEOFTimeout)},
        {"UpcaseFileNames", boolean(&Protocol::setUpcaseFileNames)},
    };
    return list;
}

} // namespace

std::string SetProtocolProperty(Protocol& protocol, const std::string& name, const std::string& value)
{
    for (const Property& p : properties())
        if (strcasecmp(p.name, name.c_str()) == 0)
            return p.set(protocol, value);
    return "unknown protocol property \"" + name + "\"";
}

std::vector<std::string> ProtocolPropertyNames()
{
    std::vector<std::string> names;
    for (const Property& p : properties())
        names.emplace_back(p.name);
    return names;
}

} // namespace zelvo::protocols
