#pragma once
// Result codes produced by the terminal core. They share the numbering of the program's
// error table, so the window can turn them into the same exceptions and texts.

namespace zelvo::terminal {

// A buffer shape that cannot be made: too many columns or more than 65535 cells.
constexpr int kErrBufferSize = -1002;
// Fewer bytes reached the capture file than were written: the disk is full.
constexpr int kErrDiskFull = -101;
// Memory for the clipboard text could not be had.
constexpr int kErrOutOfMemory = -8;

} // namespace zelvo::terminal
