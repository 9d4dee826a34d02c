#pragma once

#include "delivery.h"
#include "httprequest.h"
#include "sandboxoptions.h"
#include "sandboxstate.h"

#include <QStringList>

namespace sandbox {

/// Where the control API is served from, as a browser on the same site names it.
struct SameSite {
    QString scheme;    // "http" or "https"
    QStringList hosts; // lower case, IPv6 without brackets
    int port = 0;
};

/// Whether `target` is under "/_sandbox".
bool isControlPath(const QString& target);
/// True when the Host header names one of the site's hosts with its port, and the
/// Origin, when sent, is that same scheme, host and port: a page of another site
/// cannot drive the sandbox from a browser. Otherwise false and the reason.
bool isSameSiteControlRequest(const HttpRequest& request, const SameSite& site, QString* reason);
/// The answer to a control request from another site.
Delivery controlRefusal(const QString& reason);
/// A request with more than one Host or Origin header, refused whatever it asks.
Delivery ambiguousRequestRefusal();

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
    QJsonObject referenceJson() const;

    const SandboxOptions& m_options;
    SandboxState& m_state;
};

} // namespace sandbox
