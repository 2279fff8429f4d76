// Display throughput of the terminal window and the cost of an idle one.
//
// A peer writes 16 MiB of coloured text into a pseudo-terminal whose other side is the
// window's port; the figure is the time until the window has taken, emulated and painted
// all of it (offscreen). Then the window sits idle for 10 s with one blinking cell and the
// process's CPU time over that span is reported.

#include "comm/com_port.h"
#include "comm/port_table.h"
#include "comm/ui/qt_ui_bridge.h"
#include "platform/registry_store.h"
#include "terminal/emulator.h"
#include "terminal/ui/terminal_window.h"
#include "terminal/ui/tests/pty_peer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <thread>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

using namespace zelvo;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Text of 80-column lines with a colour change every few words, as a busy log looks.
std::string colouredText(size_t total)
{
    static const char* words[] = {"zelvo", "serial", "line", "terminal", "router#", "show", "ip",
                                  "interface", "up", "down", "0x1F", "packets"};
    std::string out;
    out.reserve(total + 128);
    unsigned n = 0;
    while (out.size() < total) {
        int col = 0;
        while (col < 70) {
            const int colour = 31 + int(n % 7);
            out += "\x1b[";
            out += (n % 3 == 0) ? "1;" : "";
            out += std::to_string(colour);
            out += 'm';
            const char* w = words[n % 12];
            out += w;
            out += ' ';
            col += int(std::char_traits<char>::length(w)) + 1;
            ++n;
        }
        out += "\x1b[0m\r\n";
    }
    out.resize(total);
    return out;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    terminal::test::PtyPeer peer;
    if (!peer.ok()) {
        std::fprintf(stderr, "bench_terminal_display: no pseudo-terminal\n");
        return 1;
    }
    comm::QtUiBridge bridge;
    platform::RegistryStore store("/nonexistent/zelvo-bench.reg");
    comm::SetPortDevice(store, 7, peer.slavePath());
    comm::ComPort port(bridge);
    port.setRegistryStore(&store);
    port.setComNumber(7);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    port.setBaud(115200);
    terminal::Emulator emulator(terminal::etANSI);
    terminal::TerminalWindow term;
    term.setTerminalFont("Terminal", -18);
    term.setDisplayRows(25);
    term.setDisplayColumns(80);
    term.setEmulator(&emulator);
    term.setComPort(&port);
    port.setOpen(true);
    term.show();
    runFor(100);

    const size_t total = size_t(16) << 20;
    const std::string text = colouredText(total);

    // For comparison: the same text through an emulator and buffer alone (no port, no
    // window), the part of the work that painting and the line add to.
    {
        terminal::Buffer b;
        terminal::Emulator e(terminal::etANSI);
        e.setBuffer(&b);
        const auto s0 = std::chrono::steady_clock::now();
        for (size_t off = 0; off < text.size(); off += 4096) {
            b.processBlock(reinterpret_cast<const uint8_t*>(text.data()) + off, std::min<size_t>(4096, text.size() - off));
            b.bNeedPaint();
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
        std::printf("emulator alone: %.1f MB/s\n", double(total) / s / 1e6);
        e.setBuffer(nullptr);
    }
    const uint64_t paints0 = term.paintCount();
    const auto t0 = std::chrono::steady_clock::now();
    bool writeOk = true;
    std::thread writer([&] {
        for (size_t off = 0; off < text.size() && writeOk; off += 65536)
            writeOk = peer.write(std::string_view(text).substr(off, 65536));
    });
    // Done when every byte has been shown and the last change has been painted.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if ((term.bytesShown() >= total && !term.paintPending()) ||
            std::chrono::steady_clock::now() - t0 > std::chrono::seconds(30))
            loop.quit();
    });
    check.start(5);
    loop.exec();
    check.stop();
    app.processEvents(); // the last paint request
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    writer.join();
    if (!writeOk || term.bytesShown() < total) {
        std::fprintf(stderr, "bench_terminal_display: only %llu of %zu bytes shown "
                     "(%u bytes waiting in the port, overflow %d)\n",
                     static_cast<unsigned long long>(term.bytesShown()), total,
                     port.Dispatcher() ? port.Dispatcher()->InputUsed() : 0u,
                     port.Dispatcher() ? int(port.Dispatcher()->InputOverflowed()) : -1);
        return 1;
    }
    std::printf("display throughput: %.1f MB/s\n", double(total) / secs / 1e6);
    std::printf("display time for 16 MiB: %.3f s\n", secs);
    std::printf("display paints: %llu count\n", static_cast<unsigned long long>(term.paintCount() - paints0));

    if (argc > 1 && std::string(argv[1]) == "--throughput-only") {
        term.setComPort(nullptr);
        term.setEmulator(nullptr);
        port.setOpen(false);
        return 0;
    }

    // Idle: one blinking cell, the port open, nothing arriving.
    peer.write("\x1b[2J\x1b[5mX\x1b[0m idle");
    runFor(500);
    const uint64_t idlePaints0 = term.paintCount();
    const double c0 = cpuSeconds();
    const auto i0 = std::chrono::steady_clock::now();
    runFor(10000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - i0).count();
    const double cpu = cpuSeconds() - c0;
    std::printf("idle cpu with a blinking cell: %.3f %%\n", 100.0 * cpu / wall);
    std::printf("idle paints in 10 s: %llu count\n", static_cast<unsigned long long>(term.paintCount() - idlePaints0));

    term.setComPort(nullptr);
    term.setEmulator(nullptr);
    port.setOpen(false);
    return 0;
}
