#pragma once
// ModemSimulator: a Hayes-command modem as seen from its serial line, without I/O of
// its own (the zelvo32-modemsim tool gives it standard input and output and starts the
// far commands; tests and the fuzzer drive it directly).
//
// Command mode: "AT" command lines ended by CR, echoed while E1; "A/" repeats the last
// line. Commands: D (dial; T, P, W, ',', '@', '!', blanks and '-()' are dialling
// modifiers, a final ';' returns to command mode at once), H, O, A, Z, E, V, Q, I, L,
// M, X, Sn=v and Sn?, and the &, \ and % families (taken and ignored). Results are
// verbose (CR LF text CR LF) or numeric (code CR) after ATV0, none after ATQ1.
//
// A dialled number answers as configured: a command to connect to (its output and
// input pass through while online; its end drops the carrier: NO CARRIER), or BUSY,
// NO ANSWER, NO CARRIER or NO DIALTONE. A number may have several answers, used one
// per call, the last one repeating. Numbers that are not configured answer NO CARRIER.
// Any character from the line while a number is being dialled aborts the dial.
//
// Online, "+++" with a guard time of silence before and after it returns the modem
// to command mode with the call still up (ATO resumes it, ATH ends it). The three
// characters are held back until the guard time tells whether they were an escape;
// if more data follows, they go to the far end with it.

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::telephony {

class ModemSimulator {
public:
    struct Answer {
        enum Kind { Connect, Busy, NoAnswer, NoCarrier, NoDialtone } kind = NoCarrier;
        std::string command; // for Connect
    };

    struct Options {
        std::map<std::string, std::vector<Answer>> numbers;
        uint32_t rate = 33600;    // reported with CONNECT; 0 reports none
        int64_t dialDelayMs = 1000; // from ATD to the answer
        int64_t guardMs = 1000;   // escape guard time
    };

    // What the simulator does to the world.
    class Host {
    public:
        virtual ~Host() = default;
        // Bytes to the serial line (the terminal program).
        virtual void toLine(std::string_view bytes) = 0;
        // Starts the far end; false when it cannot be started.
        virtual bool connect(const std::string& command) = 0;
        virtual void toFar(std::string_view bytes) = 0;
        // Ends the far end (the simulator hangs up).
        virtual void hangupFar() = 0;
        // What the modem did, one line each: the command lines it ran, "+++" for an
        // escape to command mode, "NO CARRIER" for a far end that ended.
        virtual void note(std::string_view what) { (void)what; }
    };

    // Parses "5551234=exec:COMMAND" or "5551234=BUSY,NO ANSWER,exec:COMMAND" into
    // options.numbers; false with a message for text that is neither.
    static bool AddNumber(Options& options, std::string_view entry, std::string& error);
    // The digits and letters that identify a number: "T 555-1234," -> "5551234".
    static std::string NormaliseNumber(std::string_view dialString);

    ModemSimulator(Host& host, Options options);

    // Bytes from the serial line.
    void fromLine(std::string_view bytes, int64_t nowMs);
    // Output of the far end.
    void farOutput(std::string_view bytes);
    // The far end has ended by itself.
    void farEnded();
    void tick(int64_t nowMs);
    int64_t deadline() const;

    bool online() const { return mode_ == Mode::Online; }
    bool callUp() const { return callUp_; }
    bool echo() const { return echo_; }
    bool verbose() const { return verbose_; }

private:
    enum class Mode { Command, Dialling, Online };
    enum Result { rOk = 0, rConnect = 1, rRing = 2, rNoCarrier = 3, rError = 4,
                  rNoDialtone = 6, rBusy = 7, rNoAnswer = 8 };
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    static constexpr size_t kMaxCommandLine = 80;

    void commandByte(char c, int64_t now);
    void execute(const std::string& line, int64_t now);
    // Runs the commands after "AT"; false when a command was not understood.
    bool runCommands(std::string_view cmds, int64_t now, bool& finalSent);
    void dial(std::string_view dialString, int64_t now, bool& finalSent);
    void answerDial(int64_t now);
    void onlineByte(char c, int64_t now);
    void flushPlus();
    void hangup();
    void reset();
    void result(Result r, uint32_t rate = 0);
    void info(std::string_view text);

    Host& host_;
    Options options_;
    std::map<std::string, size_t> used_; // answers given per number
    Mode mode_ = Mode::Command;
    bool callUp_ = false;
    bool echo_ = true;
    bool verbose_ = true;
    bool quiet_ = false;
    int64_t guardMs_ = 1000;
    uint8_t sregs_[100] = {};
    std::string line_;
    bool lineOverflow_ = false;
    bool sawA_ = false;    // the last character was 'A' (for "A/")
    std::string lastLine_;
    std::string dialling_; // the normalised number being dialled
    int64_t dialDue_ = kNever;
    int64_t lastRx_ = std::numeric_limits<int64_t>::min() / 2;
    int64_t lastPlus_ = 0;
    int plusCount_ = 0;
};

} // namespace zelvo::telephony
