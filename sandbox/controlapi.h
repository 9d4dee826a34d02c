#pragma once

#include "delivery.h"
#include "httprequest.h"
#include "sandboxoptions.h"
#include "sandboxstate.h"

namespace sandbox {

/// The sandbox's own API under "/_sandbox/": the dashboard, the ledger, the
/// request log, queued faults and the customer's side of a payment.
/// Not locked: its owner serialises access.
class ControlApi {
public:
    ControlApi(const SandboxOptions& options, SandboxState& state);

    Delivery handle(const HttpRequest& request, const QString& path);

private:
    Delivery dashboardFile(const QString& name) const;
    Delivery lastRequest() const;
    Delivery queueFault(const QByteArray& body);
    Delivery settle(const QString& paymentId, bool approve);
    QJsonObject configJson() const;

    const SandboxOptions& m_options;
    SandboxState& m_state;
};

} // namespace sandbox
