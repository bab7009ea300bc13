#pragma once

#include "platform/UrlOpener.h"

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;

namespace velmora::app {

// The screen shown when the backend could not be started (or went away, or the page could not
// be shown): a heading, the error text, a retry button and, once a log file exists, a button
// that opens the log in the user's default application.
class StartupFailureView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(QUrl logURL READ logURL WRITE setLogURL NOTIFY logURLChanged)
public:
    explicit StartupFailureView(platform::UrlOpener &opener = platform::UrlOpener::system(), QWidget *parent = nullptr);

    /// The heading; failureTitle unless set.
    QString title() const;
    void setTitle(const QString &title);
    /// The Korean sentence of the failed start, shown selectable and centred.
    QString error() const { return m_error; }
    void setError(const QString &error);
    /// The backend's log file; the log button shows only while this is set.
    QUrl logURL() const { return m_logURL; }
    void setLogURL(const QUrl &logURL);
    /// A second way out beside retry, shown below it while its title is not empty.
    void setAlternative(const QString &title);

signals:
    void errorChanged();
    void logURLChanged();
    /// The user asked for a new start attempt.
    void retryRequested();
    /// The user chose the alternative (setAlternative).
    void alternativeRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void openLog();

    platform::UrlOpener &m_opener;
    QString m_error;
    QUrl m_logURL;
    QLabel *m_heading;
    QLabel *m_errorLabel;
    QPushButton *m_alternativeButton;
    QPushButton *m_openLogButton;
};

} // namespace velmora::app
