#pragma once

#include "delivery.h"
#include "httprequest.h"
#include "ledger.h"
#include "sandboxoptions.h"
#include "scenario.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>

namespace sandbox {

/// The provider's merchant API and the sandbox's control API, without the network:
/// a request goes in, the reply and its way back on the wire come out.
/// Safe to call from several connection threads.
class MerchantApi {
public:
    explicit MerchantApi(const SandboxOptions& options);

    Delivery handle(const HttpRequest& request);
    void noteConnection();

    /// The ledger as the control API lists it.
    QJsonObject ledgerJson() const;
    /// Connections accepted and requests received per "METHOD path".
    QJsonObject statsJson() const;
    /// Queues `count` faults for the next requests of `operation`
    /// ("payment", "status", "reversal", "partial", "fiscal" or "any").
    bool injectFault(const QString& operation, Behaviour behaviour, int count = 1);
    /// The last merchant request received, as it arrived.
    HttpRequest lastRequest() const;

private:
    struct Error {
        int httpStatus;
        int code;
        QString message;
    };
    struct Outcome {
        int httpStatus = 200;
        QJsonObject answer;
        Behaviour shape = Behaviour::Normal;
    };

    Delivery handleControl(const HttpRequest& request, const QString& path);
    Delivery handleMerchant(const HttpRequest& request, const QString& operation);
    bool checkHeaders(const HttpRequest& request, Error* error) const;
    static Outcome refusal(const Error& error);
    Outcome payment(const QJsonObject& body);
    Outcome status(const QJsonObject& body);
    Outcome reversal(const QJsonObject& body);
    Outcome partialReversal(const QJsonObject& body);
    Outcome fiscal(const QJsonObject& body);
    Delivery shaped(const Outcome& outcome) const;
    static Delivery errorReply(const Error& error);
    static Delivery json(int status, const QJsonObject& object);
    Behaviour takeFault(const QString& operation);
    bool queueFault(const QString& operation, Behaviour behaviour, int count);
    QJsonObject ledgerUnlocked() const;
    QJsonObject statsUnlocked() const;

    SandboxOptions m_options;
    mutable QMutex m_mutex;
    Ledger m_ledger;
    QMap<QString, QList<Behaviour>> m_faults;
    QMap<QString, int> m_requests;
    int m_connections = 0;
    HttpRequest m_lastRequest;
};

} // namespace sandbox
