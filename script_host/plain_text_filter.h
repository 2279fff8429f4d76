#pragma once
// Turns what a terminal would be shown into plain text for a file or a pipe: printable
// characters, tabs and line feeds pass; carriage returns, other control characters and
// escape sequences (ESC [ ... final, ESC ] ... BEL or ESC \, ESC with intermediates and a
// final) are dropped. Sequences split across runs are followed from run to run.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo::script_host {

class PlainTextFilter {
public:
    // Appends the plain text of a run of bytes to out.
    void feed(const uint8_t* data, size_t n, std::string& out);
    void reset() { state_ = State::Text; }

private:
    enum class State { Text, Escape, Intermediate, Csi, Osc, OscEscape };
    State state_ = State::Text;
};

} // namespace zelvo::script_host
