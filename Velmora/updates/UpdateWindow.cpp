#include "updates/UpdateWindow.h"

#include "updates/Texts.h"
#include "updates/UpdateAppearance.h"
#include "updates/UpdateCheckView.h"
#include "widgets/WindowKeys.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace velmora::updates {

UpdateWindow::UpdateWindow(UpdateController &updates, QSize contentSize)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("update-window"));
    setWindowTitle(updateWindowTitle);
    // Closing only hides the window; the next request shows it again with current state.
    setAttribute(Qt::WA_DeleteOnClose, false);
    widgets::presentAsDialog(this);
    widgets::closeWithKeyboard(this);
    QPalette light = palette();
    light.setColor(QPalette::Window, appearance::windowBackground());
    light.setColor(QPalette::WindowText, appearance::label());
    setPalette(light);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(new UpdateCheckView(updates, appearance::accent(), this), 0, Qt::AlignHCenter);
    layout->addStretch(1);

    setContentSize(contentSize);
    // Centred once, when made; later requests keep the place the user gave it.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), contentSize);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void UpdateWindow::present()
{
    show();
    raise();
    activateWindow();
}

} // namespace velmora::updates
