#pragma once

#include <QString>

class QWidget;

namespace velmora::platform {

// A modal alert: the application's windows take no input until the user dismisses it with its
// one default button.
class Alert
{
public:
    virtual ~Alert() = default;

    // Shows message, with informativeText below it, over window (nullptr: centred on the
    // screen), and returns at once.
    virtual void show(const QString &message, const QString &informativeText, QWidget *window = nullptr);

    static Alert &system();
};

} // namespace velmora::platform
