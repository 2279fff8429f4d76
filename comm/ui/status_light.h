#pragma once
// A small painted indicator light of the status bar.

#include <QColor>
#include <QPixmap>
#include <QWidget>

namespace zelvo::comm {

class StatusLight : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Lit READ Lit WRITE setLit)
    Q_PROPERTY(QColor LitColor READ LitColor WRITE setLitColor)
    Q_PROPERTY(QColor NotLitColor READ NotLitColor WRITE setNotLitColor)
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE setGlyph)

public:
    explicit StatusLight(QWidget* parent = nullptr);

    bool Lit() const { return lit_; }
    void setLit(bool on);
    QColor LitColor() const { return litColor_; }
    void setLitColor(const QColor& c);
    QColor NotLitColor() const { return notLitColor_; }
    void setNotLitColor(const QColor& c);
    // With a glyph, its left half is drawn while lit and its right half while not lit;
    // a glyph of one square image is drawn as it is in both states.
    QPixmap Glyph() const { return glyph_; }
    void setGlyph(const QPixmap& p);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {8, 8}; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool lit_ = false;
    QColor litColor_{0xFF, 0x00, 0x00};    // red
    QColor notLitColor_{0x00, 0x80, 0x00}; // dark green
    QPixmap glyph_;
};

} // namespace zelvo::comm
