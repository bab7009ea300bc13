#pragma once

#include <QTimer>
#include <QWidget>

namespace velmora::updates {

// A small indeterminate progress indicator: spokes that turn while the widget is visible.
class ActivityIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit ActivityIndicator(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};

} // namespace velmora::updates
