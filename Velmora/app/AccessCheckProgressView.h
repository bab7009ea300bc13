#pragma once

#include <QWidget>

namespace velmora::app {

// The first screen of every launch, shown until the access gate has answered once: a spinner
// with a fixed label under it, in the middle of the window.
class AccessCheckProgressView : public QWidget
{
    Q_OBJECT
public:
    explicit AccessCheckProgressView(QWidget *parent = nullptr);
};

} // namespace velmora::app
