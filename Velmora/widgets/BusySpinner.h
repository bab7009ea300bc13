#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QWidget>

namespace velmora::widgets {

// How a spinner is drawn; each screen that shows one keeps its own look.
struct SpinnerLook
{
    int side; // width and height, in logical pixels
    int spokes;
    qreal innerRadius; // where a spoke starts and ends, from the centre
    qreal outerRadius;
    qreal penWidth;
    qreal darkestAlpha; // the spoke at the current step
    qreal fadePerSpoke; // how much lighter each spoke behind it is
    QColor colour;      // invalid: the palette's window text
    int stepIntervalMs;

    // The platform's two control sizes, 16 and 32 logical pixels: twelve spokes in the
    // palette's window text.
    static SpinnerLook smallControl();
    static SpinnerLook regularControl();
};

// An indeterminate progress spinner: spokes that fade around a circle. It only animates while
// it is visible, so a hidden screen costs nothing.
class BusySpinner : public QWidget
{
    Q_OBJECT
public:
    explicit BusySpinner(const SpinnerLook &look, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    SpinnerLook m_look;
    int m_step = 0;
    QBasicTimer m_timer;
};

} // namespace velmora::widgets
