// Start-up, memory and idle cost of the program with a local line (exec:/bin/cat on a
// pseudo-terminal), offscreen. Prints "name: value unit" lines.
//
//   startup to first paint: time from the process start (as the kernel records it) to
//                           the first paint of the main window with the line open
//   resident memory after start: VmRSS one second after the first paint
//   idle cpu: user + system time of this process over 10 s of doing nothing, as a
//             share of one core

#include "app/com_port_access.h"
#include "app/session_settings.h"
#include "app/ui/main_form.h"
#include "app/ui/program.h"
#include "comm/port_table.h"
#include "platform/registry_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace zelvo;

namespace {

// Seconds since this process started, from /proc (10 ms resolution).
double secondsSinceProcessStart()
{
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    // Field 22 (starttime) counts from after the ")" that ends the command name.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long start = 0;
    for (int i = 3; i <= 22 && rest >> field; ++i)
        if (i == 22)
            start = std::stoull(field);
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    return uptime - double(start) / double(sysconf(_SC_CLK_TCK));
}

long residentKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Notes the first paint of a widget of the main window once the line is open.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(app::MainForm& form) : form_(form) {}
    double firstPaint = -1;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && firstPaint < 0 && form_.started()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && w->window() == &form_)
                firstPaint = secondsSinceProcessStart();
        }
        return false;
    }

private:
    app::MainForm& form_;
};

} // namespace

int main(int argc, char** argv)
{
    fs::path dir = fs::temp_directory_path() / ("zelvo-bench-app-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    {
        platform::RegistryStore store;
        comm::SetPortDevice(store, 37, "exec:/bin/cat");
        app::SessionSettings s;
        s.port.ComNumber = 37;
        app::WriteRegistry(store, app::kDefaultSession, s);
        store.save();
    }

    QApplication qapp(argc, argv);
    app::Program::Options options;
    options.unattended = true;
    app::Program program(options);
    app::MainForm& form = program.form();
    PaintWatch watch(form);
    qapp.installEventFilter(&watch);
    form.show();
    QElapsedTimer guard;
    guard.start();
    while ((watch.firstPaint < 0 || !form.started()) && guard.elapsed() < 20000) {
        if (form.started() && watch.firstPaint < 0)
            form.update();
        wait(1);
    }
    if (watch.firstPaint < 0) {
        std::printf("startup to first paint: failed\n");
        return 1;
    }
    std::printf("startup to first paint: %.3f s\n", watch.firstPaint);

    wait(1000);
    std::printf("resident memory after start: %.1f MB\n", double(residentKb()) / 1024.0);

    double cpu0 = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    wait(10000);
    double share = (cpuSeconds() - cpu0) / (double(idle.elapsed()) / 1000.0) * 100.0;
    std::printf("idle cpu: %.2f %%\n", share);

    form.close();
    fs::remove_all(dir);
    return 0;
}
