#pragma once
// Text typed by the user that becomes bytes for the line: the stored strings of the send
// macros, with backslash escapes, and the "Send hex..." command's hex pairs.
//
// Macro escapes: \r carriage return, \n line feed, \t tab, \xHH the byte HH (exactly two
// hex digits, either case), \\ a backslash. Every other character stands for itself (its
// UTF-8 bytes). Any other backslash sequence is refused with a message naming it and its
// column, so a typing error is never sent as something else.
//
// Hex pairs: two hex digits per byte, optionally with a 0x prefix, in groups separated by
// blanks, tabs, commas, colons or dashes ("1B 5B 41", "1b5b41", "0x1B,0x5B"). A group with
// an odd number of digits is refused rather than guessed at.

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvo::app {

struct SendBytes {
    std::string bytes;
    // Empty when the text was good; otherwise what is wrong, in the user's words.
    std::string error;
    // 1-based column of the text where the fault starts (0 when there is no fault).
    std::size_t column = 0;

    bool ok() const { return error.empty(); }
};

SendBytes DecodeEscapes(std::string_view text);
// The text that DecodeEscapes turns back into the same bytes: CR, LF, tab and backslash
// as their escapes, other control bytes, DEL and bytes that are not UTF-8 text as \xHH.
std::string EncodeEscapes(std::string_view bytes);
SendBytes ParseHexPairs(std::string_view text);

} // namespace zelvo::app
