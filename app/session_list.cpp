#include "app/session_list.h"

#include "app/session_settings.h"

#include <algorithm>
#include <cctype>

namespace zelvo::app {

void SessionList::AddSession(std::string name)
{
    names_.push_back(std::move(name));
}

int SessionList::indexOf(std::string_view name) const
{
    for (size_t i = 0; i < names_.size(); ++i)
        if (SameSession(names_[i], name))
            return int(i);
    return -1;
}

const std::string* SessionList::byTag(int tag) const
{
    if (tag < 1 || size_t(tag) > names_.size())
        return nullptr;
    return &names_[size_t(tag) - 1];
}

void SessionList::rebuildAfterSave(const std::vector<std::string>& boxList, const std::string& typed)
{
    names_.clear();
    for (auto& n : boxList)
        AddSession(n);
    // Names that the store files under one key are one session: a second menu entry for
    // "Office" beside "office" would open the same settings.
    if (indexOf(typed) < 0)
        AddSession(typed);
}

bool SessionList::remove(std::string_view typed)
{
    int i = indexOf(typed);
    if (i < 0)
        return false;
    names_.erase(names_.begin() + i);
    return true;
}

std::string SessionList::Caption(size_t index, std::string_view name)
{
    std::string c = "&" + std::to_string(index) + " ";
    for (char ch : name) {
        c.push_back(ch);
        if (ch == '&')
            c.push_back('&');
    }
    return c;
}

std::vector<std::string> SessionList::SortedForBox(std::vector<std::string> names)
{
    auto lower = [](const std::string& s) {
        std::string r = s;
        for (char& c : r)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return r;
    };
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return lower(a) < lower(b);
    });
    return names;
}

} // namespace zelvo::app
