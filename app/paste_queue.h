#pragma once
// Text pasted into the terminal on its way to the line. A paste can be far larger than
// the port's output buffer, so it is queued here and fed to the line in stretches as the
// buffer drains; what has not gone out yet can be cancelled.
//
// Pasted text is sent as if typed: every line break of the clipboard (CR LF, LF or a
// lone CR) goes out as the Enter key sends it (CR unless the session chose otherwise),
// so a host sees one Enter per line whatever line ends the text came with.

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvo::app {

class PasteQueue {
public:
    // The bytes a paste of text sends; enter: what each line break becomes.
    static std::string AsTyped(std::string_view text, std::string_view enter = "\r");

    // Appends a paste (already in the line's bytes) behind what is still queued.
    void add(std::string_view bytes);
    bool pending() const { return sent_ < bytes_.size(); }
    // The next bytes to send, at most room of them.
    std::string_view next(size_t room) const;
    // n bytes of next() went out.
    void advance(size_t n);
    // Drops everything not sent yet, except what closes a bracketed paste that has begun
    // to go out (that stays queued).
    void cancel();

    size_t sent() const { return sent_; }
    size_t total() const { return bytes_.size(); }

private:
    std::string bytes_;
    size_t sent_ = 0;
};

} // namespace zelvo::app
