#pragma once

#include "faultqueue.h"
#include "httprequest.h"
#include "ledger.h"
#include "operation.h"
#include "sandboxoptions.h"
#include "wirefault.h"

#include <QJsonObject>

namespace sandbox {

/// What a merchant request got, for the reply and for the request log.
struct ProviderReply {
    Delivery delivery;
    QString paymentId; // the payment the request was about, when known
    int errorCode = 0;
    WireFault fault = WireFault::None; // the fault the request met
};

/// The provider's five merchant operations over the ledger, as a strict provider
/// checks them. Not locked: its owner serialises access.
class ProviderApi {
public:
    ProviderApi(const SandboxOptions& options, Ledger& ledger, FaultQueue& faults);

    /// Checks one request of `operation` and carries it out; a request that passes the
    /// checks meets the next queued fault on the way.
    ProviderReply handle(Operation operation, const HttpRequest& request);

    struct Outcome {
        int httpStatus = 200;
        QJsonObject answer;
        WireFault fault = WireFault::None;
        /// The handler carried the queued fault out itself, or found nothing to apply it to.
        bool faultDone = false;
    };
    using Handler = Outcome (ProviderApi::*)(const QJsonObject& body, WireFault fault);
    struct Route {
        Operation operation;
        const char* verb;
        const char* path;
        const char* name;
        Handler handler;
    };
    static const QList<Route>& routes();

private:
    bool checkHeaders(const HttpRequest& request, Outcome* refusal) const;
    static QJsonObject requestBody(Operation operation, const HttpRequest& request, bool* ok);
    Outcome payment(const QJsonObject& body, WireFault fault);
    Outcome status(const QJsonObject& body, WireFault fault);
    Outcome reversal(const QJsonObject& body, WireFault fault);
    Outcome partialReversal(const QJsonObject& body, WireFault fault);
    Outcome fiscal(const QJsonObject& body, WireFault fault);

    const SandboxOptions& m_options;
    Ledger& m_ledger;
    FaultQueue& m_faults;
};

} // namespace sandbox
