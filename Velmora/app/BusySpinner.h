#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace velmora::app {

// An indeterminate progress spinner: spokes that fade around a circle. It only animates while
// it is visible, so a hidden startup screen costs nothing.
class BusySpinner : public QWidget
{
    Q_OBJECT
public:
    // The platform's two control sizes of a spinner: 16 and 32 logical pixels.
    enum class Size { Small, Regular };

    explicit BusySpinner(Size size = Size::Regular, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int m_side;
    int m_step = 0;
    QBasicTimer m_timer;
};

} // namespace velmora::app
