#pragma once

#include <QColor>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace velmora::access {

class FullDiskAccessAssistant;
class FullDiskAccessGate;

// What the access screen's controls show for one state of the gate.
struct AccessScreenLook
{
    bool openSettingsEnabled = true;
    QString recheckTitle;
    bool recheckEnabled = true;
    bool restartEnabled = true;
    QString hint;

    bool operator==(const AccessScreenLook &) const = default;
};

// The controls follow the gate: a running check blocks a second one and the relaunch, a
// requested relaunch blocks everything, and a failed relaunch replaces the hint for good.
AccessScreenLook accessScreenLook(bool isChecking, bool isRestarting, const QString &message);

// The full-window screen shown while Full Disk Access is missing: why it is needed, a button
// that opens the system's settings with the assistant beside them, a recheck and a relaunch.
// Always drawn light, whatever the desktop theme. It keeps no state: everything comes from
// the gate and from the values it is given.
class StartupAccessView : public QWidget
{
    Q_OBJECT
public:
    /// access: the gate it follows and relaunches; recheck: runs the startup sequence again;
    /// appURL: the application bundle, for its icon; ink: colour of the titles.
    StartupAccessView(FullDiskAccessGate &access, std::function<void()> recheck, const QUrl &appURL, const QColor &ink,
                      QWidget *parent = nullptr);

    /// Where the open-settings button finds the assistant it presents, asked on each press; by default
    /// the shared one.
    void setAssistant(std::function<FullDiskAccessAssistant &()> assistant) { m_assistant = std::move(assistant); }

    /// The screen's background, sRGB 0.95, 0.97, 0.94.
    static QColor backgroundColor();

private:
    void render();
    void openSettings();

    FullDiskAccessGate &m_access;
    std::function<void()> m_recheck;
    QColor m_ink;
    std::function<FullDiskAccessAssistant &()> m_assistant;

    QPushButton *m_openSettingsButton;
    QPushButton *m_recheckButton;
    QLabel *m_hint;
    QPushButton *m_restartButton;
};

} // namespace velmora::access
