#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace velmora::platform {

// The application's icon in the desktop's status area (a StatusNotifierItem where the desktop
// hosts them, else an XEmbed tray icon on X11), with a menu of two entries: open and quit.
// Where the desktop has no status area nothing shows, whatever setVisible() is told.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    /// The titles are the menu entries' texts (and accessible names); toolTip names the icon.
    TrayIcon(QIcon icon, QString toolTip, QString openTitle, QString quitTitle, QObject *parent = nullptr);
    ~TrayIcon() override;

    /// True when the desktop has a status area now.
    virtual bool isAvailable() const;
    /// Shows or hides the icon; made when it is first shown.
    virtual void setVisible(bool visible);
    /// True while the icon is meant to show.
    virtual bool isVisible() const;

    /// The menu of the icon, once it is made (for tests and accessibility checks).
    QMenu *menu() const { return m_menu; }

signals:
    /// The open entry, or a click on the icon.
    void openRequested();
    /// The quit entry.
    void quitRequested();

private:
    void make();

    QIcon m_icon;
    QString m_toolTip;
    QString m_openTitle;
    QString m_quitTitle;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_menu = nullptr;
};

} // namespace velmora::platform
