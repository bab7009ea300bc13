#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

namespace velmora::app {

// "Velmora 정보": the application's icon, name and version, and a button that closes the box.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    AboutBox(const QIcon &icon, const QString &version, QWidget *parent = nullptr);

    QLabel *nameLabel() const { return m_name; }
    QLabel *versionLabel() const { return m_version; }
    QPushButton *closeButton() const { return m_close; }

private:
    QLabel *m_name;
    QLabel *m_version;
    QPushButton *m_close;
};

} // namespace velmora::app
