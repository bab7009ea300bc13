#pragma once

#include <QSize>
#include <QWidget>

namespace velmora::updates {

class UpdateController;

// The update window: a titled, closable, fixed-size window around the update view, in a light
// appearance whatever the desktop theme. Closing it only hides it; the controller keeps it and
// shows it again with the current state.
class UpdateWindow : public QWidget
{
    Q_OBJECT
public:
    // Made at contentSize and centred on the primary screen; later showings keep the place the
    // user gave it.
    UpdateWindow(UpdateController &updates, QSize contentSize);

    /// Shows the window, in front and active.
    void present();
    /// The content size follows the controller's state (with or without release notes).
    void setContentSize(QSize size) { setFixedSize(size); }
};

} // namespace velmora::updates
