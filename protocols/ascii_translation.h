#pragma once
// The line-end translations of ASCII transfers, the same for sending (characters read
// from the file) and receiving (characters written to the file): a CR follows the CR
// translation, an LF the LF translation; "strip" removes the character, "add CR before
// LF" turns an LF into CR LF, "add LF after CR" turns a CR into CR LF.

#include <cstddef>
#include <cstdint>

#include "protocols/protocol_types.h"

namespace zelvo::protocols {

// Writes what c becomes into out (room for 2); returns the count (0, 1 or 2).
inline size_t TranslateLineEnd(uint8_t c, TAsciiEOLTranslation cr, TAsciiEOLTranslation lf, uint8_t out[2])
{
    if (c == '\r') {
        if (cr == aetStrip)
            return 0;
        out[0] = '\r';
        if (cr == aetAddLFAfter) {
            out[1] = '\n';
            return 2;
        }
        return 1;
    }
    if (c == '\n') {
        if (lf == aetStrip)
            return 0;
        if (lf == aetAddCRBefore) {
            out[0] = '\r';
            out[1] = '\n';
            return 2;
        }
        out[0] = '\n';
        return 1;
    }
    out[0] = c;
    return 1;
}

} // namespace zelvo::protocols
