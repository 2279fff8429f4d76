#pragma once
// The screen buffer: a character grid taller than the page (the rows above the page are
// the scrollback), four planes per cell, the cursor, scrolling margins, tab stops, the
// marked region and the capture file. Emulators drive it through the commands below; the
// window reads the planes row by row and learns about changes through BufferClient.
//
// Rows are kept in a ring: buffer row r lives in storage row (r + base) mod Rows. When the
// page has reached the end of the buffer and must move on, the ring turns by one row
// instead of moving every plane up, so a line feed costs the same at any fill level.

#include "terminal/buffer_client.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::terminal {

class Emulation;
class LineOutput;

// Bits of the attribute plane. Italic, strike and faint are set only in Unicode mode.
enum Attribute : uint8_t {
    atBlink = 0x01,
    atReverse = 0x02,
    atBold = 0x04,
    atInvisible = 0x08,
    atUnderline = 0x10,
    atItalic = 0x20,
    atStrike = 0x40,
    atFaint = 0x80,
};

// A cell of Unicode mode: the character's code point, or, with cellCluster, the number of
// a character with combining marks in the buffer's cluster table. The right half of a
// two-cell character holds cellContinuation alone.
constexpr uint32_t cellCodeMask = 0x001FFFFF;
constexpr uint32_t cellWide = 0x20000000;
constexpr uint32_t cellContinuation = 0x40000000;
constexpr uint32_t cellCluster = 0x80000000;

// A colour of Unicode mode: the default colour, one of 256 indexed colours (0..15 the
// palette, 16..231 a 6x6x6 cube, 232..255 greys) or a 24-bit RGB colour.
constexpr uint32_t colorDefault = 0;
constexpr uint32_t colorIndexedTag = 0x01000000;
constexpr uint32_t colorRgbTag = 0x02000000;
constexpr uint32_t colorTagMask = 0xFF000000;
constexpr uint32_t indexedColor(int index) { return colorIndexedTag | static_cast<uint32_t>(index & 0xFF); }
constexpr uint32_t rgbColor(int r, int g, int b)
{
    return colorRgbTag | (static_cast<uint32_t>(r & 0xFF) << 16) | (static_cast<uint32_t>(g & 0xFF) << 8)
           | static_cast<uint32_t>(b & 0xFF);
}

// Colour byte of a cell: background in the high nibble, foreground in the low nibble.
constexpr uint8_t makeColor(int fore, int back)
{
    return static_cast<uint8_t>(((back & 0x0F) << 4) | (fore & 0x0F));
}

class Buffer {
public:
    static constexpr int kMaxCols = 133;
    static constexpr int kMaxCells = 65535;
    static constexpr int kMaxHorzTabs = 25;
    static constexpr int kMaxVertTabs = 12;
    static constexpr int kCaptureBufferSize = 8192;
    static constexpr const char* kDefaultCaptureName = "CAPTURE.CAP";
    // Palette index -> 0xRRGGBB; 0..7 in ANSI order, 8..15 their bright forms.
    static const uint32_t kPalette[16];

    // Colours and attributes of Unicode mode, as chosen (reverse is an attribute here).
    struct Pen {
        uint32_t fore = colorDefault;
        uint32_t back = colorDefault;
        uint8_t attr = 0;
        bool operator==(const Pen&) const = default;
    };

    // Limits of Unicode mode, where the page follows the window.
    static constexpr int kMaxUnicodeCols = 999;
    static constexpr int kMaxUnicodeCells = 2000000;
    // Most characters with combining marks a buffer keeps apart; later marks are dropped.
    static constexpr std::size_t kMaxClusters = 4096;

    // Saved cursor of ESC 7 / ESC [ s. The row is a page row so that a page that moved
    // meanwhile still restores to a cell of the page.
    struct SavedCursor {
        bool saved = false;
        int column = 0;
        int pageRow = 0;
        uint8_t fore = 7;  // colours as chosen, before reverse
        uint8_t back = 0;
        uint8_t attr = 0;
    };

    // A buffer of 200 rows of 80 columns with a page of 25 rows. Throws
    // std::runtime_error("Buffer allocation failed") when memory cannot be had.
    Buffer();
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // --- Binding -------------------------------------------------------------------------
    void setClient(BufferClient* client) { client_ = client; }
    BufferClient* client() const { return client_; }
    // Where replies go (the port's dispatcher); null drops them.
    void setLineOutput(LineOutput* out) { output_ = out; }
    LineOutput* lineOutput() const { return output_; }
    // The emulator that bProcessChar passes bytes through; null writes them unchanged.
    // Called by Emulation::bind, not by the window.
    void setEmulator(Emulation* emulator) { emulator_ = emulator; }
    Emulation* emulator() const { return emulator_; }

    // --- Shape and colours ---------------------------------------------------------------
    // Reallocates every plane and tab table: 1..133 columns, at least pageHeight rows,
    // fewer than 65536 cells. Returns 0, or kErrBufferSize leaving the old buffer in place.
    int bNewBuffer(int rows, int cols, int pageHeight);
    int Rows() const { return rows_; }
    int Cols() const { return cols_; }
    int PageHeight() const { return pageHeight_; }

    // Current and default colours (palette indices).
    void bSetColors(int fore, int back);
    void bSetHighlightColors(int fore, int back);
    // Colours and attribute for the following output, as chosen (before reverse). With
    // atReverse the cells are written with foreground and background exchanged.
    void bSetAttr(int fore, int back, uint8_t attr);
    int defaultFore() const { return defFore_; }
    int defaultBack() const { return defBack_; }
    // Colour byte written now (after reverse) and the one chosen (before reverse).
    uint8_t currentColor() const { return curColor_; }
    uint8_t plainColor() const { return makeColor(plainFore_, plainBack_); }
    uint8_t currentAttr() const { return curAttr_; }
    uint8_t highlightColor() const { return highlight_; }

    // --- Character input -----------------------------------------------------------------
    // One byte through the bound emulator (or bWriteChar without one).
    void bProcessChar(uint8_t ch);
    // A block of received bytes, same result as bProcessChar for each.
    void processBlock(const uint8_t* data, std::size_t len);
    // Writes one byte: BS, LF and CR move the cursor, every other byte is a glyph.
    void bWriteChar(uint8_t ch);
    // Writes text as bWriteChar would, byte by byte, but with runs of glyphs copied at once.
    void writeText(const uint8_t* data, std::size_t len);
    // Writes bytes that are all glyphs (no BS, LF or CR): the fast path for text.
    void writeGlyphs(const uint8_t* data, std::size_t len);
    // Moves the cursor one row down, scrolling the region or moving the page as needed.
    void newLine();

    // --- Cursor --------------------------------------------------------------------------
    int column() const { return col_; }
    int row() const { return row_; }              // buffer row
    int pageRow() const { return row_ - viewRow_; } // 0-based row on the page
    int ViewRow() const { return viewRow_; }
    int TopMargin() const { return topMargin_; }
    int BottomMargin() const { return bottomMargin_; }
    bool inRegion() const;

    // Cursor to a 0-based page row and column, clamped to the page.
    void moveTo(int pageRow, int column);
    void setColumn(int column);
    // A horizontal tab: on to the next tab stop. A capture gets the spaces it moved over.
    void horizontalTab();
    // Moves up/down by n rows: inside the scrolling region not past its margins, never off
    // the page.
    void cursorUp(int n);
    void cursorDown(int n);
    // Moves right by n columns; a move that would reach or pass Cols does not happen.
    void cursorRight(int n);
    void cursorLeft(int n);
    // Sets TopMargin/BottomMargin (1-based page rows) and homes the cursor. Values are
    // clamped to the page; a top below the bottom is refused (false, nothing changes).
    bool setMargins(int top, int bottom);

    void saveCursor(const SavedCursor& state) { saved_ = state; saved_.saved = true; }
    const SavedCursor& savedCursor() const { return saved_; }
    void clearSavedCursor() { saved_.saved = false; }

    // --- Editing -------------------------------------------------------------------------
    // Column 0, the old page kept in the scrollback, a blank page in the given colours.
    void bClearScreen() { clearScreen(curColor_); }
    void clearScreen(uint8_t color);
    // Erase in display: 0 cursor to end of page, 1 start of page to cursor, 2 clear screen.
    void eraseInDisplay(int mode, uint8_t color);
    // Erase in line: 0 cursor to end of row, 1 start of row to cursor, 2 whole row.
    void eraseInLine(int mode, uint8_t color);
    // n cells from the cursor become blanks (the row's end stops it).
    void eraseChars(int n);
    // n blanks inserted at the cursor; cells pushed past the end are lost.
    void insertBlanks(int n);
    // n cells deleted at the cursor; blanks enter at the end of the row.
    void deleteChars(int n);
    // n lines inserted / deleted at the cursor row, within the scrolling region.
    void insertLines(int n);
    void deleteLines(int n);

    // --- Unicode mode (the xterm emulation) -----------------------------------------------
    // In Unicode mode every cell also keeps its character as a code point, whether it is
    // half of a two-cell character, and its colours as chosen (Pen). The byte planes
    // follow along with a stand-in (the character if below 256, else '?'; the nearest
    // palette colours), so what reads them keeps working. The page may be larger than
    // the byte planes' limits allow (kMaxUnicodeCols, kMaxUnicodeCells), and the window
    // makes it follow its own size. Switching on copies the byte planes into the
    // Unicode planes; switching off drops them.
    void setUnicode(bool on);
    bool unicode() const { return unicode_; }
    void setPen(const Pen& pen);
    const Pen& pen() const { return pen_; }
    // Writes n cells at the cursor with the pen: codes (as above) or ASCII bytes. The
    // cells must fit in the row; the cursor does not move. Half of a two-cell character
    // that is overwritten becomes a blank.
    void putCells(const uint32_t* codes, int n);
    void putAscii(const uint8_t* text, int n);
    // Adds a combining mark to the character of a cell (buffer row r, column c).
    void combineAt(int r, int c, char32_t mark);
    // The code points of a cell's character (nothing for the right half of a wide one).
    void cellCodePoints(int r, int c, std::u32string& out) const;
    uint32_t codeAt(int r, int c) const { return codes_[physOffset(r) + c]; }
    uint32_t foreAt(int r, int c) const { return fores_[physOffset(r) + c]; }
    uint32_t backAt(int r, int c) const { return backs_[physOffset(r) + c]; }
    const uint32_t* codesRow(int r) const { return codes_.data() + physOffset(r); }
    const uint32_t* foresRow(int r) const { return fores_.data() + physOffset(r); }
    const uint32_t* backsRow(int r) const { return backs_.data() + physOffset(r); }
    // Text of buffer row r as UTF-8, trailing blanks removed.
    std::string rowUtf8(int r) const;
    // Page rows [top, bottom] (0-based) become blanks in the pen's colours.
    void erasePageRows(int top, int bottom);
    // Cells [c0, c1) of the cursor row become blanks in the pen's colours.
    void eraseInRow(int c0, int c1);
    // The scrolling region moves up (n > 0) or down (n < 0) by |n| lines; the cursor
    // stays. A region at the page's top sends its lines into the scrollback, except on
    // the alternate screen.
    void scrollRegion(int n);
    // Throws the scrollback away; the page stays as it is.
    void eraseScrollback();
    // The alternate screen: the page is kept aside and a blank page (no scrollback)
    // takes its place until leaving puts it back.
    void setAltScreen(bool on);
    bool altScreen() const { return altScreen_; }
    // Reshapes the buffer keeping its text: rows that leave the page at the top go to
    // the scrollback, rows above it come back when the page grows, columns are cut or
    // added at the right. Returns 0 or kErrBufferSize (nothing changes).
    int bResize(int rows, int cols, int pageHeight);
    // Caret shown (DECTCEM) and screen-wide reverse video (DECSCNM), for the window.
    void setCursorVisible(bool on);
    bool cursorVisible() const { return cursorVisible_; }
    void setReverseVideo(bool on);
    bool reverseVideo() const { return reverseVideo_; }
    // The palette index nearest to a Unicode colour (fallback for the default colour),
    // and its RGB value.
    static int paletteIndexOf(uint32_t color, int fallback);
    static uint32_t rgbOf(uint32_t color, int fallback);
    // Size of a character cell in pixels, for window size reports.
    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }
    // The remote side's title (OSC 0/2) and bell, passed on to the window.
    void setTitle(const std::string& title);
    void bell();

    // --- Tab stops -----------------------------------------------------------------------
    int bGetNextTabStop(int col, int count) const;
    int bGetPrevTabStop(int col, int count) const;
    void bSetHorizontalTabStop(int value);
    void bClearHorizontalTabStop(int value);
    // Clears every horizontal stop and sets one every eighth column up to upTo columns.
    void resetHorizontalTabStops(int upTo);
    void bSetVerticalTabStop(int value);
    void bClearVerticalTabStop(int value);
    void clearVerticalTabStops();
    // Next/previous vertical stop from the cursor's 1-based page row, count stops on.
    int nextVerticalTabStop(int pageRow1, int count) const;
    const std::vector<uint16_t>& horizontalTabs() const { return hTabs_; }
    const std::vector<uint16_t>& verticalTabs() const { return vTabs_; }

    // --- Replies and reports -------------------------------------------------------------
    // Sends bytes to the line at once (emulator replies); dropped without a line.
    void reply(const char* data, int len);
    // A cursor position report from the remote side, for the window.
    void reportCursorPos(int column, int row);

    // --- Planes --------------------------------------------------------------------------
    // Pointers to the Cols cells of buffer row r (0 <= r < Rows).
    const uint8_t* charsRow(int r) const { return chars_.data() + physOffset(r); }
    const uint8_t* colorsRow(int r) const { return colors_.data() + physOffset(r); }
    const uint8_t* storedColorsRow(int r) const { return stored_.data() + physOffset(r); }
    const uint8_t* attrsRow(int r) const { return attrs_.data() + physOffset(r); }
    uint8_t charAt(int r, int c) const { return chars_[physOffset(r) + c]; }
    uint8_t colorAt(int r, int c) const { return colors_[physOffset(r) + c]; }
    uint8_t storedColorAt(int r, int c) const { return stored_[physOffset(r) + c]; }
    uint8_t attrAt(int r, int c) const { return attrs_[physOffset(r) + c]; }
    // Text of buffer row r without trailing spaces.
    std::string rowText(int r) const;
    // Length of the cursor row without trailing spaces.
    int bCurLineLength() const;
    // Highest buffer row written so far (the vertical scroll range).
    int highestRow() const { return highestRow_; }

    // --- Display (the part of the buffer the window shows) -------------------------------
    // Rows and columns the window shows; the display follows the cursor within them.
    // 0 (the start value) means as many as the page has.
    void setDisplaySize(int rows, int cols);
    int displayRows() const { return dispRows_; }
    int displayCols() const { return dispCols_; }
    int displayTop() const { return dispTop_; }
    int ViewCol() const { return viewCol_; }
    // Scrollback viewing: while on, output does not move the display and the status
    // reports row and column 0; leaving restores the display as it was.
    void bSetScrollMode(bool scrollback);
    bool scrollbackMode() const { return scrollback_; }
    // In scrollback mode: the display top of the live page, where the view returns.
    int liveDisplayTop() const { return savedDispTop_; }
    // Moves the display by rows and columns, within the written part of the buffer.
    void bScroll(int dRows, int dCols);
    void bGotoTop();
    void bGotoBottom();
    // Makes the display show the cursor and posts the cursor status.
    void bMoveCaret();
    // Character cell size in pixels, for converting mouse positions.
    void bUpdateFont(int cellWidth, int cellHeight);
    int bConvertToRow(int y) const;
    int bConvertToCol(int x) const;

    // --- Painting notifications ----------------------------------------------------------
    // Reports what changed since the last call (invalidateRect or viewChanged) and the
    // cursor status when it moved. The window calls it after each block of input.
    void bNeedPaint();
    // Reports the whole display as changed.
    void bForcePaint();
    void bInvalidateChar(int r, int c);
    void bUpdateScrollThumb();
    // Sends the cursor status now, even when it has not changed since the last report.
    void bPostStatusMsg();

    // --- Blinking ------------------------------------------------------------------------
    // Off: blinking cells on the display show their background as foreground; on: their
    // stored colours come back. Only changed cells are reported.
    void bSetBlinkPhase(bool on);
    bool blinkOn() const { return blinkOn_; }
    // True when some cell of the buffer has the blink attribute.
    bool anyBlinking() const;

    // --- Marking -------------------------------------------------------------------------
    void setPersistentMark(bool persistent) { persistentMark_ = persistent; }
    bool persistentMark() const { return persistentMark_; }
    void bStartMark(int r, int c);
    // Moves the loose end of the marked region (dragging).
    void bUpdateMarks(int r, int c);
    // Puts the ends of the region in reading order.
    void bFixMarking();
    void bResetMarking();
    bool hasMark() const { return marking_; }
    bool isMarked(int r, int c) const;
    // Marked text: first row from the start column, whole middle rows, last row to the end
    // column, each row ended by CR LF.
    std::string markedText() const;

    // --- Capture -------------------------------------------------------------------------
    // The capture file holds text lines: each line feed ends a line with LF (or CR LF
    // when crlf is set), carriage returns are left out (a CR LF from the line, or the
    // CR CR LF a pseudo-terminal makes of it, gives one line break), backspaces stay.
    void setCaptureLineEnds(bool crlf) { captureCrLf_ = crlf; }
    bool captureLineEndsCrLf() const { return captureCrLf_; }
    // Starts (On) or stops capture. An empty name means "CAPTURE.CAP"; Append continues an
    // existing file. Returns 0 or a negative code (negated errno, -101 when the disk is
    // full); a failed start leaves capture off.
    int bSetCapture(bool on, bool append, const std::string& fileName);
    bool capturing() const { return captureFd_ >= 0; }
    const std::string& captureName() const { return captureName_; }
    void bAddToCapture(uint8_t ch);
    // Writes the buffered capture bytes; returns 0 or the error (capture is then off).
    int bFlushCapture();

private:
    int physOffset(int r) const
    {
        int p = r + base_;
        if (p >= rows_)
            p -= rows_;
        return p * cols_;
    }
    uint8_t* chars(int r) { return chars_.data() + physOffset(r); }
    uint8_t* colors(int r) { return colors_.data() + physOffset(r); }
    uint8_t* stored(int r) { return stored_.data() + physOffset(r); }
    uint8_t* attrs(int r) { return attrs_.data() + physOffset(r); }

    // Cells [c0, c1) of buffer row r become spaces in color with attribute attr.
    void blank(int r, int c0, int c1, uint8_t color, uint8_t attr);
    void copyRow(int from, int to);
    // Page rows [top, bottom] move up (n > 0) or down (n < 0) by |n| rows; rows that
    // enter become blank in the current colours.
    void shiftRows(int top, int bottom, int n);
    // Scrolls the region one line up with the cursor on its bottom row.
    void scrollRegionUp();
    // Turns the ring by n rows: the n oldest rows are lost, n blank rows enter at the end.
    void rotate(int n);
    void touch(int r, int c0, int c1);
    void touchRows(int r0, int r1) { touch(r0, 0, cols_ - 1); touch(r1, 0, cols_ - 1); }
    void viewMoved() { viewDirty_ = true; }
    void followCursor();
    // Reports the cursor status; unless always, only when it changed.
    void postStatus(bool always);
    void dropMarkOnOutput();
    void captureBytes(const uint8_t* data, std::size_t len);
    // A BS, LF or CR written to the screen, as the capture file keeps it.
    void captureMovement(uint8_t ch);
    int writeCapture(const char* data, std::size_t len);
    void failCapture(int code);
    void sortTabs(std::vector<uint16_t>& tabs);
    void addTabStop(std::vector<uint16_t>& tabs, int value);
    void removeTabStop(std::vector<uint16_t>& tabs, int value);
    void resetState();
    void setByteStandIns(int off, int n);
    // Cells [c0, c1) of row r are about to be overwritten: the other halves of two-cell
    // characters they cut apart become blanks.
    void splitWideAt(int r, int c0, int c1);
    // Halves of two-cell characters in row r that lost their other half become blanks.
    void repairWide(int r);
    void blankCode(int off);
    void captureCodes(const uint32_t* codes, int n);
    void appendUtf8(uint32_t code, std::string& out) const;

    BufferClient* client_ = nullptr;
    LineOutput* output_ = nullptr;
    Emulation* emulator_ = nullptr;

    int rows_ = 0;
    int cols_ = 0;
    int pageHeight_ = 0;
    int base_ = 0;
    std::vector<uint8_t> chars_;
    std::vector<uint8_t> colors_;
    std::vector<uint8_t> stored_;
    std::vector<uint8_t> attrs_;
    // Unicode mode.
    bool unicode_ = false;
    std::vector<uint32_t> codes_;
    std::vector<uint32_t> fores_;
    std::vector<uint32_t> backs_;
    Pen pen_;
    std::vector<std::u32string> clusters_;
    bool altScreen_ = false;
    struct SavedPage {
        int rows = 0, cols = 0;
        std::vector<uint8_t> chars, colors, stored, attrs;
        std::vector<uint32_t> codes, fores, backs;
    } altSaved_;
    bool cursorVisible_ = true;
    bool reverseVideo_ = false;

    int col_ = 0;
    int row_ = 0;
    int viewRow_ = 0;
    int highestRow_ = 0;
    int topMargin_ = 1;
    int bottomMargin_ = 25;

    int defFore_ = 7;
    int defBack_ = 0;
    int plainFore_ = 7;
    int plainBack_ = 0;
    uint8_t curColor_ = makeColor(7, 0);
    uint8_t curAttr_ = 0;
    uint8_t highlight_ = makeColor(0, 7);

    std::vector<uint16_t> hTabs_;
    std::vector<uint16_t> vTabs_;
    SavedCursor saved_;

    // Display.
    int dispRowsWanted_ = 0;
    int dispColsWanted_ = 0;
    int dispRows_ = 25;
    int dispCols_ = 80;
    int dispTop_ = 0;
    int viewCol_ = 0;
    bool scrollback_ = false;
    int savedDispTop_ = 0;
    int savedViewCol_ = 0;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    bool blinkOn_ = true;

    // Changes not yet reported.
    CellRect dirty_;
    bool viewDirty_ = false;
    int lastStatusRow_ = -1;
    int lastStatusCol_ = -1;
    int lastStatusView_ = -1;
    int lastStatusViewCol_ = -1;

    // Marking.
    bool marking_ = false;
    bool persistentMark_ = true;
    int markStartRow_ = 0;
    int markStartCol_ = 0;
    int markEndRow_ = 0;
    int markEndCol_ = 0;

    // Capture.
    int captureFd_ = -1;
    std::string captureName_;
    std::vector<char> captureBuf_;
    std::size_t captureLen_ = 0;
    bool captureCrLf_ = false;
};

} // namespace zelvo::terminal
