#include "sandboxstate.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace sandbox {

QString maskedAuthorization(const QString& authorization)
{
    // The signature is checked here; it is never handed out again.
    return authorization.isEmpty() ? QString() : authorization.section(':', 0, 0) + ":***";
}

QByteArray maskedBody(const QByteArray& body)
{
    QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject() || !document.object().contains("otp_data")) {
        return body;
    }
    QJsonObject object = document.object();
    object.insert("otp_data", "***");
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject RequestRecord::toJson() const
{
    return {{"sequence", sequence},
            {"time", time.toString(Qt::ISODateWithMs)},
            {"method", method},
            {"path", path},
            {"http_status", httpStatus},
            {"error_code", errorCode},
            {"payment_id", paymentId},
            {"fault", fault},
            {"authorization", authorization},
            {"body", body},
            {"response", response}};
}

void SandboxState::record(const HttpRequest& request, const QString& path, const Delivery& delivery,
                          const QString& fault)
{
    RequestRecord entry;
    entry.sequence = ++sequence;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.method = request.method;
    entry.path = path;
    entry.httpStatus = delivery.mode == Delivery::Mode::Lost ? 0 : delivery.status;
    entry.errorCode = delivery.errorCode;
    entry.paymentId = delivery.paymentId;
    entry.fault = fault;
    entry.authorization = maskedAuthorization(request.headers.value("authorization"));
    const auto clipped = [](const QByteArray& text) {
        return QString::fromUtf8(text.left(BodyChars)) + (text.size() > BodyChars ? "…" : "");
    };
    entry.body = clipped(maskedBody(request.body));
    const bool answered =
        delivery.mode != Delivery::Mode::Lost && delivery.mode != Delivery::Mode::Reset;
    if (answered) {
        entry.response = clipped(delivery.raw.isEmpty() ? delivery.body : delivery.raw);
    }
    if (!entry.paymentId.isEmpty() && ledger.find(entry.paymentId)) {
        QList<RequestRecord>& timeline = timelines[entry.paymentId];
        RequestRecord brief = entry;
        brief.body.clear();
        brief.response.clear();
        timeline.append(brief);
        if (timeline.size() > TimelineRequests) {
            timeline.removeFirst();
        }
    }
    recent.append(entry);
    while (recent.size() > RecentRequests) {
        recent.removeFirst();
    }
}

QJsonObject SandboxState::ledgerJson() const
{
    QJsonArray payments;
    for (const Payment& payment : ledger.payments()) {
        payments.append(payment.toJson());
    }
    return {{"payments", payments}};
}

QJsonObject SandboxState::statsJson() const
{
    QJsonObject requests;
    int total = 0;
    for (auto it = requestCounts.cbegin(); it != requestCounts.cend(); ++it) {
        requests.insert(it.key(), it.value());
        total += it.value();
    }
    return {{"connections", connections}, {"requests", requests}, {"received", total}};
}

QJsonObject SandboxState::timelineJson(const QString& paymentId)
{
    const Payment* payment = ledger.find(paymentId);
    if (!payment) {
        return {};
    }
    QJsonArray requests;
    for (const RequestRecord& entry : timelines.value(paymentId)) {
        requests.append(entry.toJson());
    }
    return {{"payment", payment->toJson()}, {"requests", requests}};
}

void SandboxState::reset()
{
    timelines.clear();
    sequence = 0;
    ledger.clear();
    faults.clear();
    requestCounts.clear();
    connections = 0;
    recent.clear();
}

} // namespace sandbox
