// zelvo32-transfer: sends and receives files over a line with the program's protocol
// component, for scripted and headless use.

#include <atomic>
#include <memory>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <strings.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "comm/com_port.h"
#include "comm/event_loop_bridge.h"
#include "comm/port_table.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "protocols/com_port_line.h"
#include "protocols/direct_line.h"
#include "protocols/protocol.h"
#include "protocols/protocol_properties.h"

using namespace zelvo::protocols;

namespace {

std::atomic<bool> gInterrupted{false};

void onSignal(int)
{
    gInterrupted = true;
}

const char* kUsage =
    "Usage: zelvo32-transfer send|receive --protocol NAME [--set NAME=VALUE]... --line DEVICE\n"
    "                        [options] FILES...|DIR|FILE\n"
    "\n"
    "Sends FILES (or every file in DIR), or receives over the line DEVICE: the batch\n"
    "protocols (ymodem, ymodemg, zmodem, kermit) receive into DIR (default: the current\n"
    "directory) under the names the sender gives; the others receive into FILE.\n"
    "\n"
    "DEVICE is a terminal device (/dev/ttyUSB0, /dev/pts/3), a port number COMn as mapped\n"
    "in the settings' port table, or exec:COMMAND, which runs COMMAND through /bin/sh on a\n"
    "new pseudo-terminal and uses it as the line.\n"
    "\n"
    "Options:\n"
    "  --protocol NAME        xmodem, xmodemcrc, xmodem1k, xmodem1kg, ymodem, ymodemg,\n"
    "                         zmodem (default), kermit, ascii\n"
    "  --set NAME=VALUE       sets any protocol property by its name, after the protocol\n"
    "                         is chosen, in the order given: --set AsciiEOFTimeout=36,\n"
    "                         --set WriteFailAction=wfWriteAnyway, --set UpcaseFileNames=1,\n"
    "                         --set KermitMaxLen=1000 --set KermitMaxWindows=20\n"
    "  --line DEVICE          the line (required)\n"
    "  --baud N               line speed in bits per second (default 19200)\n"
    "  --dir DIR              destination directory of a batch receive\n"
    "  --file-option OPT      Zmodem: what a receiver does with existing files: none,\n"
    "                         newer-or-longer, append, overwrite, newer (default),\n"
    "                         different, reject. Sent to the receiver when sending.\n"
    "  --overwrite            same as --file-option overwrite\n"
    "  --option-override      the receiver's own --file-option decides, not the sender's\n"
    "  --skip-no-file         receiver skips files that do not exist locally\n"
    "  --recover              crash recovery: resume partly received files\n"
    "  --8k                   8192-byte data subpackets\n"
    "  --honor-dir            keep the directory of received names (below the destination)\n"
    "  --include-dir          send the directory part of file names\n"
    "  --upcase               upper-case received file names (they keep their case)\n"
    "  --handshake-wait T     handshake time-out in ticks of 55 ms\n"
    "  --handshake-retry N    handshake attempts\n"
    "  --finish-wait T        wait for the end of the session, ticks\n"
    "  --transmit-timeout T   longest wait for room in the line's output, ticks\n"
    "  --port-component       drive the transfer through the program's port component\n"
    "                         (dispatcher threads and triggers) instead of a direct loop\n"
    "  --quiet                no progress lines\n"
    "  --help                 this text\n"
    "\n"
    "A received file that exists already is renamed, its first letter becoming '$'\n"
    "(WriteFailAction); --set WriteFailAction=wfWriteAnyway overwrites it instead.\n"
    "\n"
    "Exit status: 0 all files transferred, 1 the transfer failed (the error is printed),\n"
    "2 the transfer ended normally but files were skipped or refused.\n";

int fail(const std::string& msg)
{
    std::fprintf(stderr, "zelvo32-transfer: %s\n", msg.c_str());
    return 1;
}

bool parseNumber(const char* s, uint32_t& out)
{
    if (!s || !*s)
        return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (*end || v > 0xFFFFFFFFul)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// COMn through the port table of the settings, else the device as given.
std::string resolveDevice(const std::string& line)
{
    if (line.size() < 4 || strncasecmp(line.c_str(), "COM", 3) != 0)
        return line;
    uint32_t n = 0;
    if (!parseNumber(line.c_str() + 3, n) || n < 1 || n > static_cast<uint32_t>(zelvo::comm::MaxComNumber))
        return line;
    zelvo::platform::RegistryStore store;
    store.load();
    return zelvo::comm::PortDevice(store, static_cast<int>(n));
}

struct ProtocolChoice {
    const char* name;
    TProtocolType type;
};
constexpr ProtocolChoice kProtocolNames[] = {
    {"xmodem", ptXmodem}, {"xmodemcrc", ptXmodemCRC}, {"xmodem1k", ptXmodem1K}, {"xmodem1kg", ptXmodem1KG},
    {"ymodem", ptYmodem}, {"ymodemg", ptYmodemG},     {"zmodem", ptZmodem},     {"kermit", ptKermit},
    {"ascii", ptAscii},
};

std::string protocolList()
{
    std::string list;
    for (const ProtocolChoice& n : kProtocolNames)
        list += std::string(list.empty() ? "" : ", ") + n.name;
    return list;
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return fail("missing command; see --help");
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    const std::string command = args[0];
    if (command != "send" && command != "receive")
        return fail("unknown command \"" + command + "\"; use send or receive");
    const bool sending = command == "send";

    Protocol p;
    std::string line, protocolName = "zmodem", dir;
    uint32_t baud = 19200;
    bool quiet = false;
    bool viaPort = false;
    std::vector<std::string> files;
    // Settings are applied once the protocol is chosen (choosing it sets its own
    // defaults), in the order they were given.
    std::vector<std::function<std::string()>> settings;
    auto set = [&](std::function<void()> f) {
        settings.push_back([f] {
            f();
            return std::string();
        });
    };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* what) -> std::string {
            if (i + 1 >= args.size()) {
                fail(std::string(what) + " needs a value");
                std::exit(1);
            }
            return args[++i];
        };
        auto number = [&](const char* what) -> uint32_t {
            uint32_t v = 0;
            const std::string s = value(what);
            if (!parseNumber(s.c_str(), v)) {
                fail(std::string("bad number for ") + what + ": " + s);
                std::exit(1);
            }
            return v;
        };
        if (a == "--protocol") protocolName = value("--protocol");
        else if (a == "--line") line = value("--line");
        else if (a == "--baud") baud = number("--baud");
        else if (a == "--dir") dir = value("--dir");
        else if (a == "--set") {
            const std::string assignment = value("--set");
            const size_t eq = assignment.find('=');
            if (eq == std::string::npos || eq == 0)
                return fail("--set needs NAME=VALUE, not \"" + assignment + "\"");
            const std::string name = assignment.substr(0, eq), v = assignment.substr(eq + 1);
            settings.push_back([&p, name, v] { return SetProtocolProperty(p, name, v); });
        }
        else if (a == "--overwrite") set([&] { p.setZmodemFileOption(zfoWriteClobber); });
        else if (a == "--file-option") {
            const std::string o = value("--file-option");
            static const char* const kNames[] = {"none", "newer-or-longer", "crc", "append",
                                                 "overwrite", "newer", "different", "reject"};
            int found = -1;
            for (int k = 0; k < 8; ++k)
                if (k != zfoWriteCrc && o == kNames[k])
                    found = k;
            if (found < 0)
                return fail("unknown file option \"" + o + "\"");
            set([&p, found] { p.setZmodemFileOption(static_cast<TZmodemFileOptions>(found)); });
        }
        else if (a == "--option-override") set([&] { p.setZmodemOptionOverride(true); });
        else if (a == "--skip-no-file") set([&] { p.setZmodemSkipNoFile(true); });
        else if (a == "--recover") set([&] { p.setZmodemRecover(true); });
        else if (a == "--8k") set([&] { p.setZmodem8K(true); });
        else if (a == "--honor-dir") set([&] { p.setHonorDirectory(true); });
        else if (a == "--include-dir") set([&] { p.setIncludeDirectory(true); });
        else if (a == "--keep-case") set([&] { p.setUpcaseFileNames(false); });
        else if (a == "--upcase") set([&] { p.setUpcaseFileNames(true); });
        else if (a == "--handshake-wait") { const uint32_t v = number("--handshake-wait"); set([&p, v] { p.setHandshakeWait(v); }); }
        else if (a == "--handshake-retry") { const uint32_t v = number("--handshake-retry"); set([&p, v] { p.setHandshakeRetry(v); }); }
        else if (a == "--finish-wait") { const uint32_t v = number("--finish-wait"); set([&p, v] { p.setFinishWait(v); }); }
        else if (a == "--transmit-timeout") { const uint32_t v = number("--transmit-timeout"); set([&p, v] { p.setTransmitTimeout(v); }); }
        else if (a == "--quiet" || a == "-q") quiet = true;
        else if (a == "--port-component") viaPort = true;
        else if (a.size() > 1 && a[0] == '-' && a != "-") return fail("unknown option " + a + "; see --help");
        else files.push_back(a);
    }
    TProtocolType type = ptNoProtocol;
    for (const ProtocolChoice& n : kProtocolNames)
        if (strcasecmp(protocolName.c_str(), n.name) == 0)
            type = n.type;
    if (type == ptNoProtocol)
        return fail("unknown protocol \"" + protocolName + "\"; use one of " + protocolList());
    p.setProtocolType(type);
    // Received names keep their case: "a.txt" and "A.TXT" are different files here.
    p.setUpcaseFileNames(false);
    for (const auto& apply : settings) {
        const std::string error = apply();
        if (!error.empty())
            return fail(error);
    }
    if (line.empty())
        return fail("no line given; use --line DEVICE");
    const bool batch = Protocol::BatchProtocol(p.ProtocolType());

    if (sending) {
        if (files.empty())
            return fail("nothing to send: name files or a directory");
        if (!batch && files.size() > 1)
            return fail(std::string(ProtocolName(p.ProtocolType())) + " sends one file");
        for (const auto& f : files) {
            struct stat st {};
            if (::stat(f.c_str(), &st) != 0)
                return fail("cannot send " + f + ": " + std::strerror(errno));
            if (S_ISDIR(st.st_mode) && (files.size() > 1 || !batch))
                return fail(f + " is a directory; " + (batch ? "send a directory on its own" : "name the file to send"));
        }
        struct stat st {};
        ::stat(files[0].c_str(), &st);
        if (S_ISDIR(st.st_mode)) {
            std::string mask = files[0];
            if (mask.back() != '/')
                mask.push_back('/');
            p.setFileMask(mask + "*");
        } else {
            auto next = std::make_shared<size_t>(0);
            p.OnProtocolNextFile = [files, next](Protocol&, std::string& name) {
                name = *next < files.size() ? files[(*next)++] : std::string();
            };
        }
    } else if (!batch) {
        // No name travels on the line: the file to write is named here.
        if (!dir.empty())
            return fail(std::string(ProtocolName(p.ProtocolType())) + " receives one file: name it instead of --dir");
        if (files.size() != 1)
            return fail(std::string(ProtocolName(p.ProtocolType())) + " receives one file: name the file to write");
        struct stat st {};
        if (::stat(files[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return fail(files[0] + " is a directory; name the file to write");
        p.setDestinationDirectory("");
        p.setFileName(files[0]);
    } else {
        if (files.size() > 1)
            return fail("receive takes one destination directory");
        if (!files.empty()) {
            if (!dir.empty())
                return fail("give the destination either with --dir or as an argument");
            dir = files[0];
        }
        if (dir.empty())
            dir = ".";
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return fail("destination " + dir + " is not a directory");
        p.setDestinationDirectory(dir);
    }

    const std::string device = resolveDevice(line);
    DirectLine direct;
    zelvo::comm::EventLoopBridge bridge;
    zelvo::platform::RegistryStore portTable{"/nonexistent/zelvo32-transfer.reg"};
    std::unique_ptr<zelvo::comm::ComPort> port;
    std::unique_ptr<ComPortLine> portLine;
    if (viaPort) {
        // The device goes into a private port table under the last port number.
        zelvo::comm::SetPortDevice(portTable, zelvo::comm::MaxComNumber, device);
        port = std::make_unique<zelvo::comm::ComPort>(bridge);
        port->setRegistryStore(&portTable);
        port->setComNumber(zelvo::comm::MaxComNumber);
        port->setBaud(baud);
        port->setOutSize(32768);
        try {
            port->setOpen(true);
        } catch (const std::exception& e) {
            return fail("cannot open " + device + ": " + e.what());
        }
        portLine = std::make_unique<ComPortLine>(*port);
    } else {
        if (direct.open(device, baud) != 0)
            return fail(direct.errorText());
        p.setComPort(&direct);
    }

    int skipped = 0;
    int errors = 0;
    p.OnProtocolError = [&](Protocol&, int code) {
        ++errors;
        std::fprintf(stderr, "zelvo32-transfer: error: %s\n", ErrorText(code).c_str());
    };
    p.OnProtocolStatus = [&](Protocol& proto, uint16_t flags) {
        const TransferState st = proto.Snapshot();
        const std::string name = baseName(st.PathName);
        if ((flags & kStatusLast) && (st.ProtocolStatus == psSkipFile || st.ProtocolStatus == psFileRejected
                                      || st.ProtocolStatus == psFileDoesntExist || st.ProtocolStatus == psCantWriteFile)) {
            ++skipped;
            std::fprintf(stderr, "%s: %s%s%s\n", name.c_str(), StatusMessage(st.ProtocolStatus),
                         st.Detail.empty() ? "" : " - ", st.Detail.c_str());
            return;
        }
        if (quiet)
            return;
        const double secs = std::max<int64_t>(zelvo::platform::monotonicMs() - st.fileStartMs, 1) / 1000.0;
        const double cps = (st.BytesTransferred - st.InitialPosition) / secs;
        if (flags & kStatusFirst)
            std::fprintf(stderr, "%s %s (%llu bytes)%s\n", sending ? "sending" : "receiving", name.c_str(),
                         static_cast<unsigned long long>(st.FileLength),
                         st.InitialPosition ? (" from " + std::to_string(st.InitialPosition)).c_str() : "");
        else if (flags & kStatusLast)
            std::fprintf(stderr, "%s: %llu bytes, %.0f CPS, %s\n", name.c_str(),
                         static_cast<unsigned long long>(st.BytesTransferred), cps,
                         StatusMessage(st.ProtocolStatus));
        else
            std::fprintf(stderr, "%s: %llu/%llu bytes, %.0f CPS, errors %u\n", name.c_str(),
                         static_cast<unsigned long long>(st.BytesTransferred),
                         static_cast<unsigned long long>(st.FileLength), cps, st.TotalErrors);
    };

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int rc;
    if (viaPort) {
        bool finished = false;
        p.OnProtocolFinish = [&](Protocol&, int) { finished = true; };
        rc = sending ? portLine->BeginTransmit(p) : portLine->BeginReceive(p);
        bool cancelled = false;
        while (rc == 0 && !finished) {
            bridge.waitAndPump([&] { return finished || gInterrupted.load(); }, 200);
            if (gInterrupted && !cancelled) {
                cancelled = true;
                p.CancelTransfer();
            }
        }
        if (rc == 0)
            rc = p.LastResult();
        // Let the last bytes (the end of the session, a cancel) leave before closing.
        bridge.waitAndPump([&] { return port->OutputUsed() == 0; }, 5000);
        portLine.reset();
        port->setOpen(false);
    } else {
        rc = sending ? p.BeginTransmit() : p.BeginReceive();
        if (rc == 0)
            rc = direct.run(p, &gInterrupted);
        direct.close();
    }
    // A batch whose last file was refused ends with that refusal's code; it ended as
    // normally as one whose first file was refused.
    if ((rc == -ecFileRejected || rc == -ecCantWriteFile) && skipped > 0)
        rc = 0;
    if (rc != 0)
        return fail(ErrorText(rc));
    if (!quiet)
        std::fprintf(stderr, "%s\n", TransferSummary(p.LastTransfer()).c_str());
    return (skipped || errors) ? 2 : 0;
}
