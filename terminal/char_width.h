#pragma once
// How many cells a character takes on a terminal page: 0 for combining marks and other
// zero-width characters (they join the character before them), 2 for wide and fullwidth
// characters, 1 for all others. The tables follow Unicode 15, as the C library of the
// hosts that run on the far side computes widths, so both sides agree on the columns.

namespace zelvo::terminal {

int charWidth(char32_t cp);

} // namespace zelvo::terminal
