#include "simulatedrestclient.h"

#include <QJsonObject>

namespace simulate {

bool SimulatedRestClient::send(int, const QUrl& url, const QJsonDocument& document,
                               const QHash<QString, QString>&)
{
    m_exchange = m_handler(url, document.object(), m_timeoutMs);
    return m_exchange.error == NoError;
}

} // namespace simulate
