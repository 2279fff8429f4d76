#include "comm/telephony/tools/modem_simulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace zelvo::telephony {

namespace {

char up(char c)
{
    return char(std::toupper(static_cast<unsigned char>(c)));
}

std::string upper(std::string_view s)
{
    std::string out;
    for (char c : s)
        out.push_back(up(c));
    return out;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// The number after a command letter; def when there is none. Stops at 255 so a long
// run of digits cannot overflow.
int takeNumber(std::string_view s, size_t& i, int def)
{
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i])))
        return def;
    int n = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        n = std::min(n * 10 + (s[i] - '0'), 1000);
        ++i;
    }
    return n;
}

} // namespace

bool ModemSimulator::AddNumber(Options& options, std::string_view entry, std::string& error)
{
    size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        error = "a number is given as NUMBER=ANSWER, for example 5551234=BUSY";
        return false;
    }
    std::string number = NormaliseNumber(entry.substr(0, eq));
    if (number.empty()) {
        error = "\"" + std::string(entry.substr(0, eq)) + "\" is not a telephone number";
        return false;
    }
    std::vector<Answer> answers;
    std::string_view rest = entry.substr(eq + 1);
    while (!rest.empty()) {
        std::string_view item = rest;
        Answer a;
        if (upper(item.substr(0, 5)) == "EXEC:") {
            // A command takes the rest of the text, commas and all.
            a.kind = Answer::Connect;
            a.command = std::string(trim(item.substr(5)));
            if (a.command.empty()) {
                error = "exec: needs a command";
                return false;
            }
            rest = {};
        } else {
            size_t comma = rest.find(',');
            item = trim(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            const std::string u = upper(item);
            if (u == "BUSY")
                a.kind = Answer::Busy;
            else if (u == "NO ANSWER")
                a.kind = Answer::NoAnswer;
            else if (u == "NO CARRIER")
                a.kind = Answer::NoCarrier;
            else if (u == "NO DIALTONE")
                a.kind = Answer::NoDialtone;
            else {
                error = "\"" + std::string(item)
                        + "\" is no answer: use exec:COMMAND, BUSY, NO ANSWER, NO CARRIER "
                          "or NO DIALTONE";
                return false;
            }
        }
        answers.push_back(std::move(a));
    }
    if (answers.empty()) {
        error = "the number " + number + " has no answer";
        return false;
    }
    options.numbers[number] = std::move(answers);
    return true;
}

std::string ModemSimulator::NormaliseNumber(std::string_view s)
{
    std::string out;
    for (char c : s) {
        char u = up(c);
        if (std::isdigit(static_cast<unsigned char>(u)) || u == '*' || u == '#'
            || (u >= 'A' && u <= 'D'))
            out.push_back(u);
        // Everything else is a dialling modifier or punctuation.
    }
    return out;
}

ModemSimulator::ModemSimulator(Host& host, Options options)
    : host_(host), options_(std::move(options))
{
    reset();
}

void ModemSimulator::reset()
{
    echo_ = true;
    verbose_ = true;
    quiet_ = false;
    guardMs_ = options_.guardMs;
    std::fill(std::begin(sregs_), std::end(sregs_), uint8_t(0));
    sregs_[2] = '+';
    sregs_[3] = '\r';
    sregs_[4] = '\n';
    sregs_[5] = 8;
    sregs_[12] = uint8_t(std::clamp<int64_t>(guardMs_ / 20, 0, 255));
}

void ModemSimulator::result(Result r, uint32_t rate)
{
    if (quiet_)
        return;
    if (!verbose_) {
        host_.toLine(std::to_string(int(r)) + "\r");
        return;
    }
    std::string text;
    switch (r) {
    case rOk: text = "OK"; break;
    case rConnect: text = rate ? "CONNECT " + std::to_string(rate) : "CONNECT"; break;
    case rRing: text = "RING"; break;
    case rNoCarrier: text = "NO CARRIER"; break;
    case rError: text = "ERROR"; break;
    case rNoDialtone: text = "NO DIALTONE"; break;
    case rBusy: text = "BUSY"; break;
    case rNoAnswer: text = "NO ANSWER"; break;
    }
    host_.toLine("\r\n" + text + "\r\n");
}

void ModemSimulator::info(std::string_view text)
{
    host_.toLine("\r\n" + std::string(text) + "\r\n");
}

void ModemSimulator::fromLine(std::string_view bytes, int64_t now)
{
    for (char c : bytes) {
        switch (mode_) {
        case Mode::Command:
            commandByte(c, now);
            break;
        case Mode::Dialling:
            // A key aborts the dial.
            mode_ = Mode::Command;
            dialDue_ = kNever;
            result(rNoCarrier);
            break;
        case Mode::Online:
            onlineByte(c, now);
            break;
        }
        lastRx_ = now;
    }
}

void ModemSimulator::commandByte(char c, int64_t now)
{
    if (echo_)
        host_.toLine(std::string_view(&c, 1));
    if (c == '/' && sawA_ && line_.size() == 1) {
        // "A/": the last command line again, at once.
        sawA_ = false;
        line_.clear();
        if (echo_)
            host_.toLine("\r");
        execute(lastLine_, now);
        return;
    }
    sawA_ = up(c) == 'A';
    if (c == char(sregs_[3])) {
        std::string line;
        line.swap(line_);
        const bool overflow = lineOverflow_;
        lineOverflow_ = false;
        sawA_ = false;
        if (overflow) {
            result(rError);
            return;
        }
        execute(line, now);
        return;
    }
    if (c == char(sregs_[5]) || c == 0x7F) {
        if (!line_.empty())
            line_.pop_back();
        return;
    }
    if (c == '\n')
        return;
    // Characters before "AT" are line noise: a command line starts at the A of "AT".
    if (line_.empty() && up(c) != 'A')
        return;
    if (line_.size() == 1 && up(c) != 'T' && c != '/') {
        line_.clear();
        if (up(c) == 'A')
            line_.push_back(c);
        return;
    }
    if (line_.size() < kMaxCommandLine)
        line_.push_back(c);
    else
        lineOverflow_ = true;
}

void ModemSimulator::execute(const std::string& line, int64_t now)
{
    if (line.size() < 2 || up(line[0]) != 'A' || up(line[1]) != 'T')
        return;
    lastLine_ = line;
    host_.note(line);
    bool finalSent = false;
    if (!runCommands(std::string_view(line).substr(2), now, finalSent)) {
        result(rError);
        return;
    }
    if (!finalSent)
        result(rOk);
}

bool ModemSimulator::runCommands(std::string_view s, int64_t now, bool& finalSent)
{
    size_t i = 0;
    while (i < s.size()) {
        char c = up(s[i++]);
        if (c == ' ')
            continue;
        switch (c) {
        case 'D':
            dial(s.substr(i), now, finalSent);
            return true;
        case 'A':
            // No call is coming in.
            result(rNoCarrier);
            finalSent = true;
            return true;
        case 'O':
            takeNumber(s, i, 0);
            if (!callUp_) {
                result(rNoCarrier);
            } else {
                mode_ = Mode::Online;
                plusCount_ = 0;
                result(rConnect, options_.rate);
            }
            finalSent = true;
            return true;
        case 'H':
            if (takeNumber(s, i, 0) == 0)
                hangup();
            break;
        case 'Z':
            takeNumber(s, i, 0);
            hangup();
            reset();
            return true; // the rest of the line is not read after a reset
        case 'E':
            echo_ = takeNumber(s, i, 0) != 0;
            break;
        case 'V':
            verbose_ = takeNumber(s, i, 0) != 0;
            break;
        case 'Q':
            quiet_ = takeNumber(s, i, 0) != 0;
            break;
        case 'I': {
            int n = takeNumber(s, i, 0);
            info(n == 0 ? "33600" : "Zelvo32 modem simulator");
            break;
        }
        case 'L':
        case 'M':
        case 'X':
        case 'B':
        case 'C':
        case 'N':
        case 'P':
        case 'T':
        case 'W':
        case 'Y':
            takeNumber(s, i, 0);
            break;
        case '&':
        case '\\':
        case '%':
            if (i >= s.size() || !std::isalpha(static_cast<unsigned char>(s[i])))
                return false;
            ++i;
            takeNumber(s, i, 0);
            break;
        case 'S': {
            int reg = takeNumber(s, i, -1);
            if (reg < 0 || reg > 99)
                return false;
            if (i < s.size() && s[i] == '?') {
                ++i;
                char buf[8];
                std::snprintf(buf, sizeof buf, "%03u", unsigned(sregs_[reg]));
                info(buf);
            } else if (i < s.size() && s[i] == '=') {
                ++i;
                int v = takeNumber(s, i, 0);
                if (v > 255)
                    return false;
                sregs_[reg] = uint8_t(v);
                if (reg == 12)
                    guardMs_ = int64_t(v) * 20;
                if (reg == 3 && v == 0)
                    sregs_[3] = '\r'; // a NUL end character would end nothing
            } else {
                return false;
            }
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

void ModemSimulator::dial(std::string_view dialString, int64_t now, bool& finalSent)
{
    finalSent = true;
    if (callUp_) {
        result(rError);
        return;
    }
    std::string_view d = trim(dialString);
    if (!d.empty() && d.back() == ';') {
        // Dial and stay in command mode (a voice call): nothing to connect.
        result(rOk);
        return;
    }
    dialling_ = NormaliseNumber(d);
    if (dialling_.empty()) {
        result(rError);
        return;
    }
    mode_ = Mode::Dialling;
    dialDue_ = now + options_.dialDelayMs;
}

void ModemSimulator::answerDial(int64_t)
{
    mode_ = Mode::Command;
    dialDue_ = kNever;
    auto it = options_.numbers.find(dialling_);
    if (it == options_.numbers.end() || it->second.empty()) {
        result(rNoCarrier);
        return;
    }
    size_t& n = used_[dialling_];
    const Answer& a = it->second[std::min(n, it->second.size() - 1)];
    ++n;
    switch (a.kind) {
    case Answer::Busy: result(rBusy); return;
    case Answer::NoAnswer: result(rNoAnswer); return;
    case Answer::NoCarrier: result(rNoCarrier); return;
    case Answer::NoDialtone: result(rNoDialtone); return;
    case Answer::Connect: break;
    }
    if (!host_.connect(a.command)) {
        result(rNoCarrier);
        return;
    }
    callUp_ = true;
    mode_ = Mode::Online;
    plusCount_ = 0;
    result(rConnect, options_.rate);
}

void ModemSimulator::onlineByte(char c, int64_t now)
{
    const char escape = char(sregs_[2]);
    if (c == escape && sregs_[2] <= 127) {
        const bool startsEscape = plusCount_ == 0 && now - lastRx_ >= guardMs_;
        const bool continuesEscape = plusCount_ > 0 && plusCount_ < 3 && now - lastPlus_ < guardMs_;
        if (startsEscape || continuesEscape) {
            ++plusCount_;
            lastPlus_ = now;
            return;
        }
    }
    flushPlus();
    host_.toFar(std::string_view(&c, 1));
}

void ModemSimulator::flushPlus()
{
    if (plusCount_ > 0)
        host_.toFar(std::string(size_t(plusCount_), char(sregs_[2])));
    plusCount_ = 0;
}

void ModemSimulator::farOutput(std::string_view bytes)
{
    // While the escape has the modem in command mode the far end's output waits
    // unseen, as in a real modem's buffer; here it is dropped.
    if (mode_ == Mode::Online)
        host_.toLine(bytes);
}

void ModemSimulator::farEnded()
{
    if (!callUp_)
        return;
    callUp_ = false;
    plusCount_ = 0;
    mode_ = Mode::Command;
    host_.note("NO CARRIER");
    result(rNoCarrier);
}

void ModemSimulator::hangup()
{
    if (!callUp_)
        return;
    callUp_ = false;
    plusCount_ = 0;
    host_.hangupFar();
}

void ModemSimulator::tick(int64_t now)
{
    if (mode_ == Mode::Dialling && now >= dialDue_) {
        answerDial(now);
        return;
    }
    if (mode_ == Mode::Online && plusCount_ > 0) {
        if (plusCount_ == 3 && now - lastPlus_ >= guardMs_ && now - lastRx_ >= guardMs_) {
            // "+++" between two guard times: command mode, the call stays up.
            plusCount_ = 0;
            mode_ = Mode::Command;
            line_.clear();
            host_.note("+++");
            result(rOk);
        } else if (plusCount_ < 3 && now - lastPlus_ >= guardMs_) {
            flushPlus(); // too slow for an escape: it was data
        }
    }
}

int64_t ModemSimulator::deadline() const
{
    if (mode_ == Mode::Dialling)
        return dialDue_;
    if (mode_ == Mode::Online && plusCount_ > 0)
        return lastPlus_ + guardMs_;
    return kNever;
}

} // namespace zelvo::telephony
