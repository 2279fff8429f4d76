#pragma once
// The cell grid of the script console: Rows x Cols characters in a ring of rows, a
// cursor, the control characters a console understands, and a small buffer of typed
// keys. The console window paints it and feeds it keys.
//
// Writing: printable characters (32 and above) go to the cursor, which advances and
// wraps to the next line at the right edge; 7 rings the bell, 8 moves one column left
// and blanks that cell, 10 starts a new line (and returns to column 0 when the line
// break mode is LF), 12 clears the console, 13 returns to column 0 (and starts a new
// line when the mode is CR); every other control character, the tab included, is
// ignored. A new line from the last row scrolls the grid: the ring's first row moves
// on and the new last row is blank.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::script_host {

enum TConsoleLineBreak { CRLF, CR, LF };

class ConsoleGrid {
public:
    static constexpr size_t kKeyBufferSize = 64;

    explicit ConsoleGrid(int cols = 80, int rows = 25);

    int Cols() const { return cols_; }
    int Rows() const { return rows_; }
    // A new size empties the grid.
    void resize(int cols, int rows);
    TConsoleLineBreak LineBreak() const { return lineBreak_; }
    void setLineBreak(TConsoleLineBreak mode) { lineBreak_ = mode; }

    // Spaces everywhere, the cursor at the top left.
    void Clear();
    void WriteChar(uint8_t ch);
    void Write(std::string_view text);

    // The character at a column of a screen row (0 = the top row shown).
    char at(int col, int row) const;
    std::string rowText(int row) const;
    int cursorCol() const { return col_; }
    int cursorRow() const { return row_; }
    // Lines scrolled off the top since creation or the last Clear.
    uint64_t scrolled() const { return scrolled_; }
    // Grows with every change, so a view knows when to repaint.
    uint64_t generation() const { return generation_; }

    // Typed keys, in arrival order; a key typed while 64 wait is dropped (false).
    bool PushKey(char ch);
    bool KeyPressed() const { return !keys_.empty(); }
    // The first waiting key; -1 when none waits.
    int TakeKey();
    size_t keysWaiting() const { return keys_.size(); }

    // Called for the bell character.
    std::function<void()> onBell;

private:
    char& cell(int col, int row);
    void newLine();

    int cols_;
    int rows_;
    std::vector<char> cells_; // storage rows in ring order
    int first_ = 0;           // storage row shown as screen row 0
    int col_ = 0;
    int row_ = 0;
    uint64_t scrolled_ = 0;
    uint64_t generation_ = 0;
    TConsoleLineBreak lineBreak_ = LF;
    std::deque<char> keys_;
};

} // namespace zelvo::script_host
