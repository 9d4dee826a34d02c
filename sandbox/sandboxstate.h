#pragma once

#include "faultqueue.h"
#include "httprequest.h"
#include "ledger.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>

namespace sandbox {

/// One merchant request as the dashboard lists it; the signature and the token masked.
struct RequestRecord {
    qint64 sequence = 0; // 1 for the first request since the start or the last reset
    QDateTime time;
    QString method;
    QString path;
    int httpStatus = 0; // 0: the connection closed without an answer
    int errorCode = 0;
    QString paymentId;
    QString fault;
    QString authorization; // user id only
    QString body;          // "otp_data" masked
    QString response;      // the answer's body as sent; empty when none went out
    qint64 durationMs = 0; // from the request read to the answer's last byte, as planned

    QJsonObject toJson() const;
};

/// Everything the sandbox keeps between requests. Not locked: MerchantApi
/// serialises access to it.
struct SandboxState {
    static constexpr int RecentRequests = 50;
    static constexpr int TimelineRequests = 100; // kept per payment
    static constexpr int BodyChars = 2048;       // of a body the request log keeps

    Ledger ledger;
    FaultQueue faults;
    QMap<QString, int> requestCounts; // "METHOD path" -> requests received
    int connections = 0;
    HttpRequest lastRequest;
    QList<RequestRecord> recent; // oldest first
    /// Each payment's requests, oldest first, without their bodies.
    QHash<QString, QList<RequestRecord>> timelines;
    qint64 sequence = 0;

    /// `handledMs`: how long the sandbox took to decide the answer.
    void record(const HttpRequest& request, const QString& path, const Delivery& delivery,
                const QString& fault, qint64 handledMs = 0);
    QJsonObject ledgerJson() const;
    QJsonObject statsJson() const;
    /// The payment and every request about it; empty when there is no such payment.
    QJsonObject timelineJson(const QString& paymentId);
    void reset();
};

/// `authorization` with its signature and timestamp masked.
QString maskedAuthorization(const QString& authorization);
/// A request body with the customer's one-time token masked.
QByteArray maskedBody(const QByteArray& body);

} // namespace sandbox
