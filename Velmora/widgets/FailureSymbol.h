#pragma once

#include <QWidget>

namespace velmora::widgets {

// A sound waveform with an exclamation badge, drawn in the text colour: the failure screen's
// sign that the backend did not come up. Sized like a symbol set in a 40-pixel font.
class FailureSymbol : public QWidget
{
    Q_OBJECT
public:
    explicit FailureSymbol(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {56, 44}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace velmora::widgets
