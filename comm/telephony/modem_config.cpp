#include "comm/telephony/modem_config.h"

#include "comm/port_table.h"

#include <cctype>

namespace zelvo::telephony {

using platform::RegistryStore;

namespace {

std::string settingsKey(std::string_view name)
{
    return std::string(kModemsKey) + "\\" + std::string(name);
}

std::string lower(std::string_view s)
{
    std::string out;
    for (char c : s)
        out.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

void readNumber(const RegistryStore& store, const std::string& key, std::string_view name,
                uint32_t& target, uint32_t lo, uint32_t hi)
{
    if (auto v = store.readDword(key, name); v && *v >= lo && *v <= hi)
        target = *v;
}

void readCommand(const RegistryStore& store, const std::string& key, std::string_view name,
                 std::string& target)
{
    // An empty init string is a choice (send none); a missing value keeps the default.
    if (auto v = store.readString(key, name); v && v->size() <= kMaxModemCommand)
        target = *v;
}

ModemConfig readOne(const RegistryStore& store, const std::string& name, const std::string& device)
{
    ModemConfig m;
    m.name = name;
    m.device = device;
    const std::string key = settingsKey(name);
    readCommand(store, key, "Init", m.init);
    readCommand(store, key, "Dial", m.dialPrefix);
    uint32_t hangup = uint32_t(m.hangup);
    readNumber(store, key, "Hangup", hangup, 0, 2);
    m.hangup = HangupMethod(hangup);
    readNumber(store, key, "Baud", m.baud, 50, 4000000);
    uint32_t rtsCts = m.rtsCts ? 1 : 0;
    readNumber(store, key, "RtsCts", rtsCts, 0, 1);
    m.rtsCts = rtsCts != 0;
    readNumber(store, key, "Answer", m.answerSeconds, kMinAnswerSeconds, kMaxAnswerSeconds);
    readNumber(store, key, "Guard", m.guardMs, kMinGuardMs, kMaxGuardMs);
    return m;
}

bool oneLine(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

std::vector<ModemConfig> ReadModems(const RegistryStore& store)
{
    std::vector<ModemConfig> out;
    for (const std::string& name : store.valueNames(kModemsKey)) {
        auto device = store.readString(kModemsKey, name);
        // A value that is not text, or a name the line list could not show, is damage.
        if (!device || !ModemNameProblem(name).empty())
            continue;
        out.push_back(readOne(store, name, *device));
    }
    return out;
}

bool SameModemName(std::string_view a, std::string_view b)
{
    return lower(a) == lower(b);
}

std::optional<ModemConfig> FindModem(const RegistryStore& store, std::string_view name)
{
    for (ModemConfig& m : ReadModems(store))
        if (SameModemName(m.name, name))
            return std::move(m);
    return std::nullopt;
}

std::string ModemNameProblem(std::string_view name)
{
    if (name.empty())
        return "a modem needs a name";
    if (name.size() > kMaxModemName)
        return "a modem name has at most " + std::to_string(kMaxModemName) + " characters";
    if (!oneLine(name))
        return "a modem name cannot hold control characters";
    if (name.find('\\') != std::string_view::npos)
        return "a modem name cannot hold a backslash";
    if (name.front() == ' ' || name.back() == ' ')
        return "a modem name cannot begin or end with a space";
    if (lower(name).find("direct to com") != std::string::npos)
        return "a modem name cannot hold \"Direct to COM\", which marks a direct port";
    return {};
}

std::string ModemConfigProblem(const ModemConfig& m)
{
    if (auto p = ModemNameProblem(m.name); !p.empty())
        return p;
    if (m.device.empty())
        return "the modem \"" + m.name + "\" needs a device";
    if (!oneLine(m.device))
        return "a device cannot hold control characters";
    for (const std::string* cmd : {&m.init, &m.dialPrefix}) {
        if (!oneLine(*cmd))
            return "a modem command cannot hold control characters";
        if (cmd->size() > kMaxModemCommand)
            return "a modem command has at most " + std::to_string(kMaxModemCommand)
                   + " characters";
    }
    if (m.dialPrefix.empty())
        return "the dial command cannot be empty";
    return {};
}

bool WriteModem(RegistryStore& store, const ModemConfig& m, std::string& error)
{
    error = ModemConfigProblem(m);
    if (!error.empty())
        return false;
    // A name that differs only in case names the same value in the store: the old
    // spelling goes, so the list shows the new one.
    for (const std::string& old : store.valueNames(kModemsKey))
        if (SameModemName(old, m.name) && old != m.name)
            RemoveModem(store, old);
    const std::string key = settingsKey(m.name);
    store.writeString(kModemsKey, m.name, m.device);
    store.writeString(key, "Init", m.init);
    store.writeString(key, "Dial", m.dialPrefix);
    store.writeDword(key, "Hangup", uint32_t(m.hangup));
    store.writeDword(key, "Baud", m.baud);
    store.writeDword(key, "RtsCts", m.rtsCts ? 1 : 0);
    store.writeDword(key, "Answer", m.answerSeconds);
    store.writeDword(key, "Guard", m.guardMs);
    return true;
}

void RemoveModem(RegistryStore& store, std::string_view name)
{
    store.deleteValue(kModemsKey, name);
    // A name with a separator would reach into another modem's key.
    if (!name.empty() && name.find('\\') == std::string_view::npos)
        store.deleteKey(settingsKey(name));
}

std::string ResolveModemDevice(const RegistryStore& store, const std::string& device)
{
    if (device.size() > 3 && lower(device.substr(0, 3)) == "com") {
        int n = 0;
        size_t i = 3;
        for (; i < device.size() && std::isdigit(static_cast<unsigned char>(device[i])) && n <= 50; ++i)
            n = n * 10 + (device[i] - '0');
        if (i == device.size() && n >= 1 && n <= comm::MaxComNumber)
            return comm::PortDevice(store, n);
    }
    return device;
}

} // namespace zelvo::telephony
