#pragma once

#include "platform/UrlOpener.h"

#include <QDialog>
#include <QIcon>
#include <QUrl>

class QLabel;
class QPushButton;

namespace velmora::app {

// "Velmora 정보": the application's icon, name and version, what it does in one line, its
// licence and its home page, and a button that closes the box. A fixed size, wide enough for
// its title in a window manager's title bar; Escape and Ctrl+W close it.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    // The narrowest the box gets: its title and the window manager's buttons need the room.
    static constexpr int minimumWidth = 360;

    AboutBox(const QIcon &icon, const QString &version, QWidget *parent = nullptr);
    // homePage: the address the link opens, with opener.
    AboutBox(const QIcon &icon, const QString &version, const QUrl &homePage, platform::UrlOpener &opener,
             QWidget *parent = nullptr);

    // The home page of a build: the site of its release page.
    static QUrl homePageOf(const QUrl &releasePage);

    QLabel *nameLabel() const { return m_name; }
    QLabel *versionLabel() const { return m_version; }
    QLabel *descriptionLabel() const { return m_description; }
    QLabel *licenceLabel() const { return m_licence; }
    QPushButton *homePageLink() const { return m_homePage; }
    QPushButton *closeButton() const { return m_close; }

private:
    QLabel *m_name;
    QLabel *m_version;
    QLabel *m_description;
    QLabel *m_licence;
    QPushButton *m_homePage;
    QPushButton *m_close;
};

} // namespace velmora::app
