#pragma once

#include <QColor>
#include <QPushButton>
#include <QSize>

class QPainter;

namespace velmora::access {

// The button look of the access screen and the guide: a filled green button for a screen's
// main action, a white one with a thin grey border for the secondary action. Only the pressed
// state changes it; it shows no enabled or disabled state of its own.
struct GuideButtonStyle
{
    bool prominent = false;

    static constexpr int height = 35;
    static constexpr int horizontalMargin = 16;
    static constexpr qreal cornerRadius = 9;
    static constexpr qreal pressedOpacity = 0.75;

    QColor textColour() const;
    QColor background() const;
    // Transparent for the prominent look.
    QColor border() const;
    static QFont font();
    // The size for a label: the text's width plus the margins, by the fixed height.
    QSize sizeFor(const QString &title) const;
    // Draws the whole button into rect.
    void draw(QPainter &painter, const QRectF &rect, const QString &title, bool pressed) const;
};

// A push button drawn in GuideButtonStyle; its title is its accessible name.
class GuideButton : public QPushButton
{
    Q_OBJECT
public:
    GuideButton(const QString &title, bool prominent, QWidget *parent = nullptr);

    bool isProminent() const { return m_style.prominent; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    GuideButtonStyle m_style;
};

} // namespace velmora::access
