#pragma once

#include <QWidget>

namespace velmora::widgets {
class BusySpinner;
class ElidedLabel;
} // namespace velmora::widgets

namespace velmora::app {

// The screen shown while the backend starts: a small spinner over one line of status text.
class StartupProgressView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
public:
    explicit StartupProgressView(const QString &status = {}, QWidget *parent = nullptr);

    /// The line under the spinner; kept to one line, cut with an ellipsis when too long.
    QString status() const;
    void setStatus(const QString &status);

signals:
    void statusChanged();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColours();

    widgets::BusySpinner *m_spinner;
    widgets::ElidedLabel *m_status;
};

} // namespace velmora::app
