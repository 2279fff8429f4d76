#include "script_host/console_grid.h"

#include <algorithm>

namespace zelvo::script_host {

ConsoleGrid::ConsoleGrid(int cols, int rows) : cols_(1), rows_(1)
{
    resize(cols, rows);
}

void ConsoleGrid::resize(int cols, int rows)
{
    cols_ = std::max(cols, 1);
    rows_ = std::max(rows, 1);
    cells_.assign(size_t(cols_) * size_t(rows_), ' ');
    first_ = 0;
    col_ = row_ = 0;
    scrolled_ = 0;
    ++generation_;
}

void ConsoleGrid::Clear()
{
    std::fill(cells_.begin(), cells_.end(), ' ');
    first_ = 0;
    col_ = row_ = 0;
    scrolled_ = 0;
    ++generation_;
}

char& ConsoleGrid::cell(int col, int row)
{
    const int storage = (first_ + row) % rows_;
    return cells_[size_t(storage) * size_t(cols_) + size_t(col)];
}

char ConsoleGrid::at(int col, int row) const
{
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_)
        return ' ';
    const int storage = (first_ + row) % rows_;
    return cells_[size_t(storage) * size_t(cols_) + size_t(col)];
}

std::string ConsoleGrid::rowText(int row) const
{
    std::string s;
    for (int c = 0; c < cols_; ++c)
        s.push_back(at(c, row));
    return s;
}

void ConsoleGrid::newLine()
{
    if (row_ < rows_ - 1) {
        ++row_;
        return;
    }
    first_ = (first_ + 1) % rows_;
    for (int c = 0; c < cols_; ++c)
        cell(c, rows_ - 1) = ' ';
    ++scrolled_;
}

void ConsoleGrid::WriteChar(uint8_t ch)
{
    ++generation_;
    if (ch >= 32) {
        cell(col_, row_) = char(ch);
        if (++col_ >= cols_) {
            col_ = 0;
            newLine();
        }
        return;
    }
    switch (ch) {
    case 7:
        if (onBell)
            onBell();
        break;
    case 8:
        if (col_ > 0) {
            --col_;
            cell(col_, row_) = ' ';
        }
        break;
    case 10:
        newLine();
        if (lineBreak_ == LF)
            col_ = 0;
        break;
    case 12:
        Clear();
        break;
    case 13:
        col_ = 0;
        if (lineBreak_ == CR)
            newLine();
        break;
    default:
        break;
    }
}

void ConsoleGrid::Write(std::string_view text)
{
    for (char c : text)
        WriteChar(uint8_t(c));
}

bool ConsoleGrid::PushKey(char ch)
{
    if (keys_.size() >= kKeyBufferSize)
        return false;
    keys_.push_back(ch);
    return true;
}

int ConsoleGrid::TakeKey()
{
    if (keys_.empty())
        return -1;
    const char c = keys_.front();
    keys_.pop_front();
    return static_cast<unsigned char>(c);
}

} // namespace zelvo::script_host
