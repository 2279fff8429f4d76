#pragma once
// The hex view: the bytes the terminal received, as a hex dump (offset, sixteen bytes in
// hex, the same bytes as characters). It keeps recording while hidden, so switching to
// it at any time shows what arrived, up to the history's capacity.
//
// It follows the newest bytes while scrolled to the end and stays put while the user
// reads further up. Page Up/Down, the arrows with Ctrl and Ctrl+Home/End scroll it;
// every other key goes to the key target (the terminal window), so typing into the line
// goes on while the dump is shown.

#include "terminal/byte_history.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QTimer>

namespace zelvo::terminal {

class HexView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit HexView(QWidget* parent = nullptr);

    // Records received bytes (shown at the next repaint when visible).
    void append(const uint8_t* bytes, std::size_t len);
    const ByteHistory& history() const { return history_; }

    // Widget that receives the keys the view does not use.
    void setKeyTarget(QWidget* target) { keyTarget_ = target; }
    // Text and background colours (0xRRGGBB).
    void setColors(QRgb text, QRgb background);
    // True while the view shows the newest row at its bottom.
    bool following() const { return follow_; }
    // Index of the history row at the top of the view.
    std::size_t topRow() const;
    int visibleRows() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollBar();
    void scheduleUpdate();
    void fontChanged();

    ByteHistory history_;
    QPointer<QWidget> keyTarget_;
    QRgb text_ = 0xC0C0C0;
    QRgb background_ = 0x000000;
    int cellW_ = 8;
    int cellH_ = 16;
    int ascent_ = 12;
    bool follow_ = true;
    uint64_t topOffset_ = 0; // offset of the top row while not following
    bool settingScroll_ = false;
    QTimer repaint_;
};

} // namespace zelvo::terminal
