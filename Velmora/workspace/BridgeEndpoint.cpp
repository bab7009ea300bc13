#include "workspace/BridgeEndpoint.h"

#include "workspace/BridgeRules.h"
#include "workspace/ScriptBridge.h"
#include "workspace/Texts.h"

namespace velmora::workspace {

BridgeEndpoint::BridgeEndpoint(ScriptBridge &bridge) : QObject(&bridge), m_bridge(&bridge) {}

QVariantMap BridgeEndpoint::post(const QString &id, const QString &name, const QString &body, bool fromAnotherFrame)
{
    if (!m_bridge)
        return BridgeReply::failure(bridgeRefusedMessage).toMessage();
    return m_bridge->receive(id, name, body, fromAnotherFrame);
}

void BridgeEndpoint::settle(const QString &token, bool ok, const QString &value)
{
    if (m_bridge)
        m_bridge->receiveSettlement(token, ok, value);
}

} // namespace velmora::workspace
