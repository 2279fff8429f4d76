// zelvo32: the serial-line terminal program.
//
//   zelvo32 [--screenshot FILE.png] [anything]
//
// Any argument other than --screenshot makes the program start minimised. With
// --screenshot the main window is drawn into FILE.png once the line is open (dialogs
// are not shown; a first start takes the local shell), and the program ends, saving its
// settings as at any exit. SIGINT and SIGTERM close the window the way the Exit command
// does, so the settings are saved.

#include "app/ui/main_form.h"
#include "app/ui/program.h"

#include <QApplication>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[0], &c, 1);
}

// SIGINT and SIGTERM reach the event loop through a socket pair.
void watchSignals(zelvo::app::MainForm& form)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("zelvo32: socketpair");
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
        char buf[16];
        while (::read(signalPipe[1], buf, sizeof buf) > 0) {
        }
        form.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    QString screenshot;
    zelvo::app::Program::Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("Usage: zelvo32 [--screenshot FILE.png] [ARGUMENT]\n"
                        "A serial-line terminal. Any ARGUMENT starts it minimised.\n"
                        "--screenshot FILE.png  draws the main window into FILE.png once the "
                        "line is open, then ends.\n"
                        "Settings: $XDG_CONFIG_HOME/zelvo32/registry.reg (~/.config/zelvo32/).\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else
            options.startMinimised = true;
    }
    options.unattended = !screenshot.isEmpty();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvo32"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zelvo32"));

    zelvo::app::Program program(options);
    zelvo::app::MainForm& form = program.form();
    watchSignals(form);

    int status = 0;
    if (!screenshot.isEmpty()) {
        QObject::connect(&form, &zelvo::app::MainForm::startedUp, &form, [&] {
            // A moment for the line to show what it says first (a shell's prompt).
            QTimer::singleShot(1500, &form, [&] {
                if (!form.grab().save(screenshot)) {
                    std::fprintf(stderr, "zelvo32: cannot write %s\n",
                                 screenshot.toLocal8Bit().constData());
                    status = 1;
                }
                form.close();
            });
        });
    }

    // A session that ends (logout) quits the application without closing the window
    // first; the window still closes, so the settings are saved.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.close(); });

    form.show();
    int rc = app.exec();
    return status != 0 ? status : rc;
}
