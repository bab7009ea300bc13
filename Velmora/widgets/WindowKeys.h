#pragma once

class QWidget;

namespace velmora::widgets {

// Escape and the desktop's close-window keys (Ctrl+W) close window, as they close a dialog.
void closeWithKeyboard(QWidget *window);

// Screen readers present window as a dialog, whatever widget class draws it.
void presentAsDialog(QWidget *window);

} // namespace velmora::widgets
