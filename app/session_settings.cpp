#include "app/session_settings.h"

#include "terminal/emulator_type.h"

#include <cctype>
#include <cstdio>

namespace zelvo::app {

using platform::RegistryStore;

namespace {

// Thrown by a group reader when a value is missing or of the wrong type; ends the group.
struct ValueMissing {
    std::string name;
};

// Reads the values of one group in order. Each accessor assigns only when the value is
// there and valid, so a stop leaves everything after it untouched.
class GroupReader {
public:
    GroupReader(const RegistryStore& store, std::string key) : store_(store), key_(std::move(key))
    {
    }

    uint32_t dword(std::string_view name) const
    {
        auto v = store_.readDword(key_, name);
        if (!v)
            throw ValueMissing{std::string(name)};
        return *v;
    }

    // An integer with a known range: out-of-range values (hand edits) are skipped and the
    // target keeps its value, but reading goes on, since the value was there.
    void number(std::string_view name, uint32_t& target, uint32_t lo, uint32_t hi) const
    {
        uint32_t v = dword(name);
        if (v >= lo && v <= hi)
            target = v;
    }

    void signedNumber(std::string_view name, int32_t& target) const
    {
        target = static_cast<int32_t>(dword(name));
    }

    void boolean(std::string_view name, bool& target) const { target = dword(name) != 0; }

    // A value added beside the specified ones: stores written before it lack it, and
    // the target then keeps its value.
    void optionalBoolean(std::string_view name, bool& target) const
    {
        if (auto v = store_.readDword(key_, name))
            target = *v != 0;
    }

    // A missing string reads as empty; a value stored as an integer is a type failure.
    std::string text(std::string_view name) const
    {
        auto v = store_.readValue(key_, name);
        if (!v)
            return {};
        if (!std::holds_alternative<std::string>(*v))
            throw ValueMissing{std::string(name)};
        return std::get<std::string>(*v);
    }

private:
    const RegistryStore& store_;
    std::string key_;
};

// Runs one group's reader inside its guard.
template <class F>
GroupRead readGroup(const RegistryStore& store, const std::string& key, std::string_view group,
                    ReadReport& report, F&& body)
{
    if (!store.keyExists(key))
        return GroupRead::Absent;
    try {
        body(GroupReader(store, key));
        return GroupRead::Complete;
    } catch (const ValueMissing& m) {
        report.stoppedAt.push_back(std::string(group) + "\\" + m.name);
        return GroupRead::Stopped;
    }
}

void readPort(const GroupReader& r, PortSettings& p)
{
    r.optionalBoolean("Reconnect", p.Reconnect);
    // The mode is taken as stored; every value other than 3 means telephony.
    p.TapiMode = r.dword("Mode");
    if (!p.isDirect()) {
        p.Device = r.text("Device");
        // The direct-port values are not used in telephony mode, but they are kept so that
        // the next write stores them unchanged. Each one is taken on its own.
        PortSettings kept = p;
        auto take = [&](auto&& f) {
            try {
                f();
            } catch (const ValueMissing&) {
            }
        };
        take([&] { r.number("Port", kept.ComNumber, 0, 50); });
        take([&] { r.number("Baud", kept.Baud, 1, 4000000); });
        take([&] { r.number("Stop", kept.StopBits, 1, 2); });
        take([&] { r.number("Parity", kept.Parity, 0, 4); });
        take([&] { r.boolean("DTR", kept.hwfUseDTR); });
        take([&] { r.boolean("RTS", kept.hwfUseRTS); });
        take([&] { r.boolean("DSR", kept.hwfRequireDSR); });
        take([&] { r.boolean("CTS", kept.hwfRequireCTS); });
        take([&] { r.number("SFLOW", kept.SWFlowOptions, 0, 3); });
        take([&] { r.number("Xon", kept.XOnChar, 0, 255); });
        take([&] { r.number("Xoff", kept.XOffChar, 0, 255); });
        p = kept;
        return;
    }
    r.number("Port", p.ComNumber, 0, 50);
    r.number("Baud", p.Baud, 1, 4000000);
    r.number("Stop", p.StopBits, 1, 2);
    r.number("Parity", p.Parity, 0, 4);
    // The four flow switches form one set that is applied only when all are read.
    PortSettings flow = p;
    r.boolean("DTR", flow.hwfUseDTR);
    r.boolean("RTS", flow.hwfUseRTS);
    r.boolean("DSR", flow.hwfRequireDSR);
    r.boolean("CTS", flow.hwfRequireCTS);
    p.hwfUseDTR = flow.hwfUseDTR;
    p.hwfUseRTS = flow.hwfUseRTS;
    p.hwfRequireDSR = flow.hwfRequireDSR;
    p.hwfRequireCTS = flow.hwfRequireCTS;
    r.number("SFLOW", p.SWFlowOptions, 0, 3);
    r.number("Xon", p.XOnChar, 0, 255);
    r.number("Xoff", p.XOffChar, 0, 255);
}

void readProtocol(const GroupReader& r, ProtocolSettings& p)
{
    r.number("Type", p.ProtocolType, 0, 9);
    r.boolean("zOver", p.ZmodemOptionOverride);
    r.boolean("SkipFile", p.ZmodemSkipNoFile);
    r.boolean("zRecov", p.ZmodemRecover);
    r.boolean("z8K", p.Zmodem8K);
    r.number("zFileMgm", p.ZmodemFileOption, 0, 7);
    r.boolean("HDir", p.HonorDirectory);
    r.boolean("InclDir", p.IncludeDirectory);
    r.boolean("RTSLow", p.RTSLowForWrite);
    r.boolean("AbrtNoCar", p.AbortNoCarrier);
    r.number("WriteFail", p.WriteFailAction, 0, 4);
    r.number("BlockLen", p.KermitMaxLen, 0, 9024);
    r.number("Windows", p.KermitMaxWindows, 0, 31);
    r.number("Timeout", p.KermitTimeoutSecs, 0, 94);
    r.number("InterCharDelay", p.AsciiCharDelay, 0, 60000);
    r.number("InterLineDelay", p.AsciiLineDelay, 0, 60000);
    r.number("CRTrans", p.AsciiCRTranslation, 0, 3);
    r.number("LFTrans", p.AsciiLFTranslation, 0, 3);
    r.number("EOFTimeout", p.AsciiEOFTimeout, 0, 65535);
    r.boolean("zAuto", p.ZmodemAutoStart);
    p.SendFile = r.text("SendFile");
    p.ReceiveFile = r.text("ReceiveFile");
    p.BatchPath = r.text("BatchPath");
}

void readEmulator(const GroupReader& r, EmulatorSettings& e)
{
    r.number("Type", e.EmulatorType, 0, terminal::kMaxEmulatorType);
    e.Keyboard = r.text("Keyboard");
    r.optionalBoolean("VisualBell", e.VisualBell);
}

void readWindow(const GroupReader& r, WindowSettings& w)
{
    std::string name = r.text("Name");
    if (name.size() > kMaxFontName)
        name.resize(kMaxFontName);
    w.FontName = name;
    r.signedNumber("Size", w.FontSize);
    r.number("Pitch", w.FontPitch, 0, 2);
    r.number("Color", w.FontColor, 0, 0xFFFFFF);
    int32_t h = w.FontHeight;
    r.signedNumber("Height", h);
    // A zero or absurd height would make an unusable terminal; keep the previous one.
    if (h != 0 && h >= -400 && h <= 400)
        w.FontHeight = h;
    r.boolean("LED", w.LED);
    r.boolean("Status", w.Status);
    r.signedNumber("Left", w.Left);
    r.signedNumber("Top", w.Top);
    // Values added later: a store written before them simply lacks them.
    try {
        r.boolean("CaptureCRLF", w.CaptureCrLf);
    } catch (const ValueMissing&) {
    }
    try {
        r.number("HistoryRows", w.HistoryRows, 0, kMaxHistoryRows);
    } catch (const ValueMissing&) {
    }
}

// Number of list entries to read for a stored count. Counts at or above 2^31 read as
// negative, as the store's integers are signed, and give no entries; counts beyond the
// sane limit are cut to the entries that actually exist.
uint32_t listLength(const RegistryStore& store, const std::string& key, std::string_view prefix,
                    uint32_t count)
{
    if (count >= 0x80000000u)
        return 0;
    if (count <= kMaxListEntries)
        return count;
    uint32_t last = 0;
    for (uint32_t i = 0; i < kMaxListEntries; ++i)
        if (store.readValue(key, std::string(prefix) + std::to_string(i)))
            last = i + 1;
    return last;
}

void readScript(const GroupReader& r, const RegistryStore& store, const std::string& key,
                ScriptSettings& s)
{
    s.Dial = r.text("Dial");
    s.File = r.text("File");
    s.Path = r.text("Path");
    uint32_t count = r.dword("Count");
    uint32_t n = listLength(store, key, "Script", count);
    s.Scripts.clear();
    for (uint32_t i = 0; i < n; ++i) {
        std::string path = r.text("Script" + std::to_string(i));
        // An entry without a path could only run nothing; it is not put in the menu.
        if (!path.empty())
            s.Scripts.push_back(std::move(path));
    }
}

// Values added to the groups after the first stores were written. Each is read on its
// own, whatever happened to the group's other values, and only when it is there and
// valid, so a store written before them reads exactly as it did.
void readAdditions(const RegistryStore& store, std::string_view sessionPath, SessionSettings& s)
{
    std::string key = GroupKey(sessionPath, "Emulator");
    auto number = [&](std::string_view name, uint32_t& target, uint32_t hi) {
        if (auto v = store.readDword(key, name); v && *v <= hi)
            target = *v;
    };
    auto flag = [&](std::string_view name, bool& target) {
        if (auto v = store.readDword(key, name))
            target = *v != 0;
    };
    EmulatorSettings& e = s.emulator;
    number("Timestamps", e.Timestamps, 2);
    flag("HexView", e.HexView);
    number("EnterSends", e.EnterSends, 2);
    flag("LFImpliesCR", e.LFImpliesCR);

    key = GroupKey(sessionPath, "Script");
    if (!store.keyExists(key))
        return;
    auto text = [&](const std::string& name) {
        auto v = store.readString(key, name);
        return v ? *v : std::string();
    };
    for (size_t i = 0; i < kMacroCount; ++i) {
        const std::string n = std::to_string(i + 1);
        s.script.Macros[i].Name = text("MacroName" + n);
        s.script.Macros[i].Text = text("Macro" + n);
    }
}

// The store keeps one value per line; a line break inside a string would spoil the file.
bool storable(std::string_view text)
{
    return text.find_first_of("\r\n") == std::string_view::npos;
}

void putString(RegistryStore& store, const std::string& key, std::string_view name,
               std::string_view value)
{
    if (storable(value))
        store.writeString(key, name, value);
}

void putBool(RegistryStore& store, const std::string& key, std::string_view name, bool v)
{
    store.writeDword(key, name, v ? 1u : 0u);
}

void putInt(RegistryStore& store, const std::string& key, std::string_view name, int32_t v)
{
    store.writeDword(key, name, static_cast<uint32_t>(v));
}

std::string foldName(std::string_view s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\' && (out.empty() || out.back() == '\\'))
            continue;
        out.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

} // namespace

std::string SessionPath(std::string_view name)
{
    return "sessions\\" + std::string(name);
}

std::string GroupKey(std::string_view sessionPath, std::string_view group)
{
    return std::string(kRootKey) + "\\" + std::string(sessionPath) + "\\" + std::string(group);
}

bool IsValidSessionName(std::string_view name)
{
    bool something = false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return false;
        if (c != '\\' && c != ' ')
            something = true;
    }
    return something;
}

bool SameSession(std::string_view a, std::string_view b)
{
    return foldName(a) == foldName(b);
}

ReadReport ReadRegistry(const RegistryStore& store, std::string_view sessionPath,
                        SessionSettings& s)
{
    ReadReport report;
    if (!store.keyExists(kRootKey))
        return report;
    report.rootFound = true;

    std::string key = GroupKey(sessionPath, "Port");
    report.port = readGroup(store, key, "Port", report,
                            [&](const GroupReader& r) { readPort(r, s.port); });
    key = GroupKey(sessionPath, "Protocol");
    report.protocol = readGroup(store, key, "Protocol", report,
                                [&](const GroupReader& r) { readProtocol(r, s.protocol); });
    key = GroupKey(sessionPath, "Emulator");
    report.emulator = readGroup(store, key, "Emulator", report,
                                [&](const GroupReader& r) { readEmulator(r, s.emulator); });
    key = GroupKey(sessionPath, "window");
    report.window = readGroup(store, key, "window", report,
                              [&](const GroupReader& r) { readWindow(r, s.window); });
    key = GroupKey(sessionPath, "Script");
    report.script = readGroup(store, key, "Script", report, [&](const GroupReader& r) {
        readScript(r, store, key, s.script);
    });
    readAdditions(store, sessionPath, s);
    return report;
}

void WriteRegistry(RegistryStore& store, std::string_view sessionPath, const SessionSettings& s)
{
    std::string k = GroupKey(sessionPath, "Port");
    const PortSettings& p = s.port;
    store.writeDword(k, "Mode", p.TapiMode);
    if (!p.isDirect())
        putString(store, k, "Device", p.Device);
    store.writeDword(k, "Port", p.ComNumber);
    store.writeDword(k, "Baud", p.Baud);
    store.writeDword(k, "Stop", p.StopBits);
    store.writeDword(k, "Parity", p.Parity);
    putBool(store, k, "DTR", p.hwfUseDTR);
    putBool(store, k, "RTS", p.hwfUseRTS);
    putBool(store, k, "DSR", p.hwfRequireDSR);
    putBool(store, k, "CTS", p.hwfRequireCTS);
    store.writeDword(k, "SFLOW", p.SWFlowOptions);
    store.writeDword(k, "Xon", p.XOnChar);
    store.writeDword(k, "Xoff", p.XOffChar);
    putBool(store, k, "Reconnect", p.Reconnect);

    k = GroupKey(sessionPath, "Protocol");
    const ProtocolSettings& q = s.protocol;
    store.writeDword(k, "Type", q.ProtocolType);
    putBool(store, k, "zOver", q.ZmodemOptionOverride);
    putBool(store, k, "SkipFile", q.ZmodemSkipNoFile);
    putBool(store, k, "zRecov", q.ZmodemRecover);
    putBool(store, k, "z8K", q.Zmodem8K);
    putBool(store, k, "zAuto", q.ZmodemAutoStart);
    store.writeDword(k, "zFileMgm", q.ZmodemFileOption);
    putBool(store, k, "HDir", q.HonorDirectory);
    putBool(store, k, "InclDir", q.IncludeDirectory);
    putBool(store, k, "RTSLow", q.RTSLowForWrite);
    putBool(store, k, "AbrtNoCar", q.AbortNoCarrier);
    store.writeDword(k, "WriteFail", q.WriteFailAction);
    store.writeDword(k, "BlockLen", q.KermitMaxLen);
    store.writeDword(k, "Windows", q.KermitMaxWindows);
    store.writeDword(k, "Timeout", q.KermitTimeoutSecs);
    store.writeDword(k, "InterCharDelay", q.AsciiCharDelay);
    store.writeDword(k, "InterLineDelay", q.AsciiLineDelay);
    store.writeDword(k, "CRTrans", q.AsciiCRTranslation);
    store.writeDword(k, "LFTrans", q.AsciiLFTranslation);
    store.writeDword(k, "EOFTimeout", q.AsciiEOFTimeout);
    putString(store, k, "SendFile", q.SendFile);
    putString(store, k, "ReceiveFile", q.ReceiveFile);
    putString(store, k, "BatchPath", q.BatchPath);

    k = GroupKey(sessionPath, "Emulator");
    store.writeDword(k, "Type", s.emulator.EmulatorType);
    putString(store, k, "Keyboard", s.emulator.Keyboard);
    store.writeDword(k, "Timestamps", s.emulator.Timestamps);
    putBool(store, k, "HexView", s.emulator.HexView);
    store.writeDword(k, "EnterSends", s.emulator.EnterSends);
    putBool(store, k, "LFImpliesCR", s.emulator.LFImpliesCR);
    store.writeDword(k, "VisualBell", s.emulator.VisualBell ? 1 : 0);

    k = GroupKey(sessionPath, "window");
    const WindowSettings& w = s.window;
    std::string_view name = w.FontName;
    putString(store, k, "Name", name.substr(0, kMaxFontName));
    putInt(store, k, "Size", w.FontSize);
    store.writeDword(k, "Pitch", w.FontPitch);
    store.writeDword(k, "Color", w.FontColor);
    putInt(store, k, "Height", w.FontHeight);
    putBool(store, k, "LED", w.LED);
    putBool(store, k, "Status", w.Status);
    putInt(store, k, "Left", w.Left);
    putInt(store, k, "Top", w.Top);
    putBool(store, k, "CaptureCRLF", w.CaptureCrLf);
    store.writeDword(k, "HistoryRows", w.HistoryRows);

    k = GroupKey(sessionPath, "Script");
    const ScriptSettings& c = s.script;
    putString(store, k, "Dial", c.Dial);
    putString(store, k, "File", c.File);
    putString(store, k, "Path", c.Path);
    // Paths that cannot be stored are left out of the list rather than leaving a gap.
    std::vector<const std::string*> scripts;
    for (auto& path : c.Scripts)
        if (storable(path))
            scripts.push_back(&path);
    store.writeDword(k, "Count", uint32_t(scripts.size()));
    for (size_t i = 0; i < scripts.size(); ++i)
        store.writeString(k, "Script" + std::to_string(i), *scripts[i]);
    // Unused macros leave no values behind.
    for (size_t i = 0; i < kMacroCount; ++i) {
        const std::string n = std::to_string(i + 1);
        const SendMacro& m = c.Macros[i];
        if (m.Name.empty() && m.Text.empty()) {
            store.deleteValue(k, "MacroName" + n);
            store.deleteValue(k, "Macro" + n);
        } else {
            putString(store, k, "MacroName" + n, m.Name);
            putString(store, k, "Macro" + n, m.Text);
        }
    }
}

void ApplyFirstStartDefaults(const ReadReport& report, SessionSettings& s)
{
    if (report.emulator == GroupRead::Absent)
        s.emulator.EmulatorType = terminal::etXterm;
}

std::vector<std::string> ReadSessions(const RegistryStore& store)
{
    std::vector<std::string> names;
    if (!store.keyExists(kRootKey) || !store.keyExists(kSessionsKey))
        return names;
    GroupReader r(store, std::string(kSessionsKey));
    try {
        uint32_t n = listLength(store, std::string(kSessionsKey), "S", r.dword("Count"));
        for (uint32_t i = 0; i < n; ++i)
            names.push_back(r.text("S" + std::to_string(i)));
    } catch (const ValueMissing&) {
        // The names read so far stay in the list.
    }
    return names;
}

void WriteSessions(RegistryStore& store, const std::vector<std::string>& names)
{
    if (!store.keyExists(kRootKey))
        return;
    std::string k(kSessionsKey);
    std::vector<const std::string*> kept;
    for (auto& n : names)
        if (storable(n))
            kept.push_back(&n);
    store.writeDword(k, "Count", uint32_t(kept.size()));
    for (size_t i = 0; i < kept.size(); ++i)
        store.writeString(k, "S" + std::to_string(i), *kept[i]);
}

} // namespace zelvo::app
