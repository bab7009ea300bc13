#pragma once

#include <QMainWindow>
#include <QSize>
#include <QTimer>

class QAction;
class QMenu;

namespace velmora::window {
class WindowLifecycleView;
}

namespace velmora::app {

// Velmora's one window: titled "Velmora", with the application menu (About, the update
// check, quit) and the root view as its content, the close guard placed behind it. It opens
// at its last size and position, or at 1480 x 900; the root view's minimum keeps it from
// becoming smaller than 1100 x 720.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr QSize defaultSize{1480, 900};

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    /// Places content (the root view) in the window with lifecycle behind it; once.
    void setContent(QWidget *content, window::WindowLifecycleView *lifecycle);
    QWidget *content() const { return m_content; }
    window::WindowLifecycleView *lifecycleView() const { return m_lifecycle; }

    QMenu *applicationMenu() const { return m_applicationMenu; }
    QAction *aboutAction() const { return m_about; }
    QAction *checkForUpdatesAction() const { return m_checkForUpdates; }
    QAction *quitAction() const { return m_quit; }

    /// Takes the size and position saved by an earlier run, or the default size when there
    /// is none (or it cannot be used). keepFromNowOn: save every later move and resize.
    void restorePlacement(bool keepFromNowOn = true);
    /// Saves the current size and position for the next run.
    void savePlacement() const;

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placementChanged();

    QWidget *m_content = nullptr;
    window::WindowLifecycleView *m_lifecycle = nullptr;
    QMenu *m_applicationMenu;
    QAction *m_about;
    QAction *m_checkForUpdates;
    QAction *m_quit;
    bool m_keepsPlacement = false;
    // Moves and resizes come in bursts while the user drags; one save after the burst.
    QTimer m_saveTimer;
};

} // namespace velmora::app
