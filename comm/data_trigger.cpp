#include "comm/data_trigger.h"

#include <cctype>
#include <cstring>

namespace zelvo::comm {

namespace {
uint8_t upper(uint8_t b) { return static_cast<uint8_t>(std::toupper(b)); }
} // namespace

bool DataTrigger::assign(const uint8_t* bytes, int len, bool ignoreCaseFlag)
{
    if (len < 0 || len > 21)
        return false;
    length = len;
    ignoreCase = ignoreCaseFlag;
    data.fill(0);
    for (int i = 0; i < len; ++i)
        data[i] = ignoreCase ? upper(bytes[i]) : bytes[i];
    reset();
    return true;
}

bool DataTrigger::match(uint8_t b)
{
    if (length <= 0)
        return false;
    if (ignoreCase)
        b = upper(b);
    const int L = length;
    bool started = false;
    bool cont = true;
    for (int i = 0; i < L; ++i) {
        if (cont) {
            if (data[counts[i]] == b) {
                if (counts[i] == L - 1) {
                    counts.fill(0);
                    return true;
                }
                ++counts[i];
            } else if (data[0] == b) {
                counts[i] = 1;
                started = true;
            } else {
                counts[i] = 0;
            }
        }
        if (counts[i] == 1)
            started = true;
        if (i + 1 >= L)
            break;
        if (started)
            cont = counts[i + 1] != 0;
        else
            cont = counts[i + 1] != 0 || data[0] == b;
    }
    return false;
}

} // namespace zelvo::comm
