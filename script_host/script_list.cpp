#include "script_host/script_list.h"

#include "script_host/file_names.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace zelvo::script_host {

const std::string* ScriptList::byTag(int tag) const
{
    if (tag < 1 || size_t(tag) > paths_.size())
        return nullptr;
    return &paths_[size_t(tag) - 1];
}

std::string ScriptList::Caption(size_t position, const std::string& path)
{
    std::string caption(1, '&');
    caption += std::to_string(position);
    caption += ' ';
    caption += FileNamePart(path);
    return caption;
}

int MessageLine(const std::string& message)
{
    size_t i = 0;
    while (i < message.size() && !std::isdigit(static_cast<unsigned char>(message[i])))
        ++i;
    if (i == message.size())
        return 1;
    long long n = 0;
    for (; i < message.size() && std::isdigit(static_cast<unsigned char>(message[i])); ++i)
        n = std::min<long long>(n * 10 + (message[i] - '0'), INT_MAX);
    return int(n);
}

} // namespace zelvo::script_host
