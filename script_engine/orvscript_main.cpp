// orvscript: compiles, checks, lists and runs scripts from the command line, with the
// console on standard input and output and the messages on standard error.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "script_engine/disassembler.h"
#include "script_engine/orvscript.h"
#include "script_engine/script_handle.h"

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
bool gRunning = false;
bool gRunFailed = false;
bool gTty = false;
bool gLastWasCr = false;
termios gSavedTerminal{};

void onError(const char* message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message);
    if (gRunning)
        gRunFailed = true;
}

void onStdout(int ch)
{
    std::fputc(ch, stdout);
}

int onStdin()
{
    std::fflush(stdout);
    for (;;) {
        unsigned char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n <= 0)
            return -1;
        // A line end in any of its spellings is one carriage return for the script.
        if (c == '\n' && gLastWasCr) {
            gLastWasCr = false;
            continue;
        }
        gLastWasCr = c == '\r';
        if (c == '\n' || c == '\r')
            return 13;
        if (gTty && c == 127)
            return 8;
        return c;
    }
}

int onOp(int, int)
{
    return gInterrupted ? 0 : 1;
}

void onSigint(int)
{
    gInterrupted = 1;
}

void restoreTerminal()
{
    if (gTty)
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

// Keys reach the script one at a time and unechoed: getch wants single keys, and gets
// echoes what it stores itself.
void rawTerminal()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
        return;
    termios raw = gSavedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0)
        gTty = true;
}

void usage(std::FILE* out)
{
    std::fputs("Usage: orvscript [--check | --dump] FILE\n"
               "       orvscript --help\n"
               "\n"
               "Compiles the script FILE and runs it, with standard input and output as its\n"
               "console and its messages on standard error.\n"
               "\n"
               "  --check   only compile the script and report its errors\n"
               "  --dump    compile the script and list the generated instructions\n"
               "  --help    show this text\n"
               "\n"
               "Exit status: 0 after a clean run, 1 when the script could not be compiled,\n"
               "2 after a run-time error, 64 for a wrong command line.\n",
               out);
}

void dump(ScriptHandle* h)
{
    for (int i = 0; i < h->codeSize; ++i) {
        const zelvo::script::Instruction& in = h->code[i];
        std::string text = zelvo::script::Disassembler::line(in, i, h->data, h->dataSize);
        if (in.opcode == zelvo::script::opCallX) {
            const HostFunction* f = h->hostFunctions;
            for (int k = in.operand; f && k > 0; --k)
                f = f->next;
            if (f && in.operand >= 0)
                text += std::string("  ") + f->name;
        }
        std::printf("%s\n", text.c_str());
    }
    std::printf("; %d instructions, %d bytes of data, %d globals\n", h->codeSize, h->dataSize,
                h->stackLimit);
}

} // namespace

int main(int argc, char** argv)
{
    enum class Mode { Run, Check, Dump } mode = Mode::Run;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--check") {
            mode = Mode::Check;
        } else if (arg == "--dump") {
            mode = Mode::Dump;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            std::fprintf(stderr, "orvscript: unknown option '%s'\n", argv[i]);
            usage(stderr);
            return 64;
        } else if (!file) {
            file = arg == "--" && i + 1 < argc ? argv[++i] : argv[i];
        } else {
            std::fprintf(stderr, "orvscript: only one script file may be given\n");
            return 64;
        }
    }
    if (!file) {
        std::fprintf(stderr, "orvscript: no script file given\n");
        usage(stderr);
        return 64;
    }
    if (std::FILE* probe = std::fopen(file, "rb")) {
        std::fclose(probe);
    } else {
        std::fprintf(stderr, "orvscript: cannot open '%s': %s\n", file, std::strerror(errno));
        return 1;
    }

    ScriptHandle* h = ScriptInit();
    if (!h) {
        std::fprintf(stderr, "orvscript: out of memory\n");
        return 1;
    }
    ScriptSetErrorFunc(h, onError);
    ScriptSetStdoutFunc(h, onStdout);
    ScriptSetStdinFunc(h, onStdin);
    ScriptSetOpFunc(h, onOp);
    if (!ScriptCompile(h, file)) {
        ScriptClose(h);
        return 1;
    }
    int status = 0;
    if (mode == Mode::Dump) {
        dump(h);
    } else if (mode == Mode::Run) {
        struct sigaction sa{};
        sa.sa_handler = onSigint;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no restart: a blocked read returns and the run can stop
        sigaction(SIGINT, &sa, nullptr);
        rawTerminal();
        gRunning = true;
        ScriptExecute(h);
        gRunning = false;
        restoreTerminal();
        std::fflush(stdout);
        status = gRunFailed ? 2 : 0;
    }
    ScriptClose(h);
    return status;
}
