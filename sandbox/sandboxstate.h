#pragma once

#include "faultqueue.h"
#include "httprequest.h"
#include "ledger.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>

namespace sandbox {

/// One merchant request as the dashboard lists it; the signature and the token masked.
struct RequestRecord {
    QDateTime time;
    QString method;
    QString path;
    int httpStatus = 0; // 0: the connection closed without an answer
    int errorCode = 0;
    QString paymentId;
    QString fault;
    QString authorization; // user id only
    QString body;          // "otp_data" masked

    QJsonObject toJson() const;
};

/// Everything the sandbox keeps between requests. Not locked: MerchantApi
/// serialises access to it.
struct SandboxState {
    static constexpr int RecentRequests = 50;

    Ledger ledger;
    FaultQueue faults;
    QMap<QString, int> requestCounts; // "METHOD path" -> requests received
    int connections = 0;
    HttpRequest lastRequest;
    QList<RequestRecord> recent; // oldest first

    void record(const HttpRequest& request, const QString& path, const Delivery& delivery,
                const QString& fault);
    QJsonObject ledgerJson() const;
    QJsonObject statsJson() const;
    void reset();
};

/// `authorization` with its signature and timestamp masked.
QString maskedAuthorization(const QString& authorization);
/// A request body with the customer's one-time token masked.
QByteArray maskedBody(const QByteArray& body);

} // namespace sandbox
