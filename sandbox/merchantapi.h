#pragma once

#include "controlapi.h"
#include "delivery.h"
#include "httprequest.h"
#include "providerapi.h"
#include "sandboxoptions.h"
#include "sandboxstate.h"

#include <QJsonObject>
#include <QMutex>

namespace sandbox {

/// The sandbox without the network: a request goes in, the reply and its way back
/// on the wire come out. Routes to the provider's merchant API under the base path
/// and to the control API under "/_sandbox/". Safe to call from several
/// connection threads.
class MerchantApi {
public:
    explicit MerchantApi(const SandboxOptions& options);

    Delivery handle(const HttpRequest& request);
    void noteConnection();

    /// The ledger as the control API lists it.
    QJsonObject ledgerJson() const;
    /// Connections accepted and requests received per "METHOD path".
    QJsonObject statsJson() const;
    /// Queues `fault` for `operation` ("payment", "status", "reversal", "partial",
    /// "fiscal" or "any"): `after` requests pass, then `count` meet it (-1: all).
    bool injectFault(const QString& operation, WireFault fault, int count = 1, int after = 0);
    /// The last merchant request received, as it arrived.
    HttpRequest lastRequest() const;

private:
    Delivery handleMerchant(const HttpRequest& request, const QString& path);

    SandboxOptions m_options;
    mutable QMutex m_mutex;
    SandboxState m_state;
    ProviderApi m_provider;
    ControlApi m_control;
};

} // namespace sandbox
