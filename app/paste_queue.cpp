#include "app/paste_queue.h"

#include <algorithm>

namespace zelvo::app {

std::string PasteQueue::AsTyped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += '\r';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += '\r';
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
    bytes_.clear();
    sent_ = 0;
}

} // namespace zelvo::app
