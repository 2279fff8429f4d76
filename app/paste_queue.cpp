#include "app/paste_queue.h"

#include <algorithm>

namespace zelvo::app {

std::string PasteQueue::AsTyped(std::string_view text, std::string_view enter)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += enter;
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += enter;
        } else {
            out += c;
        }
    }
    return out;
}

void PasteQueue::add(std::string_view bytes)
{
    if (!pending()) {
        // Nothing left of the last paste: start over instead of growing without end.
        bytes_.clear();
        sent_ = 0;
    }
    bytes_.append(bytes);
}

std::string_view PasteQueue::next(size_t room) const
{
    if (!pending())
        return {};
    return std::string_view(bytes_).substr(sent_, std::min(room, bytes_.size() - sent_));
}

void PasteQueue::advance(size_t n)
{
    sent_ = std::min(bytes_.size(), sent_ + n);
    if (!pending()) {
        bytes_.clear();
        sent_ = 0;
    }
}

void PasteQueue::cancel()
{
    // A bracketed paste that has begun is closed: otherwise the far side stays in its
    // paste mode and takes what is typed next as pasted text. A marker cut in two by the
    // stop is finished first.
    static constexpr std::string_view kStart = "\x1b[200~", kEnd = "\x1b[201~";
    const std::string_view sent(bytes_.data(), sent_), unsent = std::string_view(bytes_).substr(sent_);
    std::string rest;
    for (std::string_view marker : {kStart, kEnd})
        for (size_t k = 1; k < marker.size(); ++k)
            if (sent.ends_with(marker.substr(0, k)) && unsent.starts_with(marker.substr(k)))
                rest = marker.substr(k);
    const std::string done = std::string(sent) + rest;
    const size_t start = done.rfind(kStart), end = done.rfind(kEnd);
    if (start != std::string::npos && (end == std::string::npos || end < start))
        rest += kEnd;
    bytes_ = std::move(rest);
    sent_ = 0;
}

} // namespace zelvo::app
