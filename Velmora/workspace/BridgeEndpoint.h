#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

namespace velmora::workspace {

class ScriptBridge;

// The one object published to the page's web channel, and so the only thing of the
// application that script can reach; only the bridge's own script world holds the channel.
// It forwards to the bridge, which decides everything.
class BridgeEndpoint : public QObject
{
    Q_OBJECT
public:
    explicit BridgeEndpoint(ScriptBridge &bridge);

    // One message posted by the page. The reply, when it is ready at once, is the result
    // ({"value": v}, {"error": text} or {} for no value); otherwise the result is
    // {"pending": true} and the reply follows through replied().
    Q_INVOKABLE QVariantMap post(const QString &id, const QString &name, const QString &body, bool fromAnotherFrame);
    // A script the application ran in the page settled (value: JSON text of [value]).
    Q_INVOKABLE void settle(const QString &token, bool ok, const QString &value);

signals:
    void replied(const QString &id, const QVariantMap &reply);

private:
    QPointer<ScriptBridge> m_bridge;
};

} // namespace velmora::workspace
