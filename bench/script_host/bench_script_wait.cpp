// The processor time a script costs while it waits for text that never comes: 10 s of
// Waitfor in the program (offscreen, a local line) and in zelvo32-script. Prints
// "name: value unit" lines; the figure is the process's user + system time as a share
// of one core over the wait.

#include "app/session_settings.h"
#include "app/ui/main_form.h"
#include "app/ui/program.h"
#include "app/ui/script_controller.h"
#include "comm/port_table.h"
#include "platform/registry_store.h"
#include "script_host/ui/script_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace zelvo;

extern char** environ;

namespace {

constexpr const char* kLine = "exec:/bin/sh -c 'echo ready; exec sleep 100'";

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

// zelvo32-script running the same script: its own user + system time over its run.
double headlessShare(const fs::path& script)
{
    std::string line = kLine;
    std::string file = script.string();
    std::string tool = ZELVO32_SCRIPT;
    std::string quiet = "--quiet", lineOpt = "--line";
    char* argv[] = {tool.data(), quiet.data(), lineOpt.data(), line.data(), file.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    QElapsedTimer t;
    t.start();
    const int rc = posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return -1;
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    const double cpu = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
                       + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    return cpu / (double(t.elapsed()) / 1000.0) * 100.0;
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::temp_directory_path() / ("zelvo-bench-script-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    {
        platform::RegistryStore store;
        comm::SetPortDevice(store, 37, kLine);
        app::SessionSettings s;
        s.port.ComNumber = 37;
        app::WriteRegistry(store, app::kDefaultSession, s);
        store.save();
    }
    const fs::path script = dir / "wait.vm";
    std::ofstream(script) << "void main()\n{\n    Waitfor(\"ready\", 5);\n    Waitfor(\"never comes\", 10);\n}\n";

    QApplication qapp(argc, argv);
    app::Program::Options options;
    options.unattended = true;
    app::Program program(options);
    app::MainForm& form = program.form();
    form.show();
    QElapsedTimer guard;
    guard.start();
    while (!form.started() && guard.elapsed() < 20000)
        wait(10);
    wait(1000);

    // Idle first, for comparison, then the same time with a script waiting.
    double cpu0 = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    wait(10000);
    const double idleShare = (cpuSeconds() - cpu0) / (double(idle.elapsed()) / 1000.0) * 100.0;

    form.scripts().dialog().answer = [&](script_host::ScriptDialog::Purpose) {
        return QString::fromStdString(script.string());
    };
    double waitShare = -1;
    QTimer::singleShot(0, &form, [&] {
        const double c0 = cpuSeconds();
        QElapsedTimer t;
        t.start();
        form.scripts().RunscriptItemClick(0);
        waitShare = (cpuSeconds() - c0) / (double(t.elapsed()) / 1000.0) * 100.0;
        qapp.quit();
    });
    qapp.exec();

    std::printf("program idle cpu: %.2f %%\n", idleShare);
    std::printf("program with a script waiting 10 s cpu: %.2f %%\n", waitShare);
    std::printf("zelvo32-script waiting 10 s cpu: %.2f %%\n", headlessShare(script));
    form.close();
    fs::remove_all(dir);
    return 0;
}
