#include "sandboxstate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace sandbox {

QString maskedAuthorization(const QString& authorization)
{
    // The signature is checked here; it is never handed out again.
    return authorization.isEmpty() ? QString() : authorization.section(':', 0, 0) + ":***";
}

namespace {

// A field whose value would let a reader of the log pay or sign: the customer's one-time
// token and anything named like a token, secret, password or key.
bool tokenLike(const QString& name)
{
    static const QRegularExpression words("otp|token|secret|password|key",
                                          QRegularExpression::CaseInsensitiveOption);
    return words.match(name).hasMatch();
}

} // namespace

QByteArray maskedBody(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (document.isObject()) {
        QJsonObject object = document.object();
        bool masked = false;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (tokenLike(it.key())) {
                it.value() = "***";
                masked = true;
            }
        }
        return masked ? QJsonDocument(object).toJson(QJsonDocument::Compact) : body;
    }
    // Not an object (an array, cut short, or no JSON at all): its text is masked field by
    // field, a quoted value to its closing quote or to the end of what came.
    static const QRegularExpression field(
        R"re(("([^"\\]*)"\s*:\s*)("(?:[^"\\]|\\.)*"?|[^,}\]\s]*))re");
    QString text = QString::fromUtf8(body);
    QString out;
    int from = 0;
    auto matches = field.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        out += text.mid(from, match.capturedStart(3) - from);
        out += tokenLike(match.captured(2)) ? QStringLiteral("\"***\"") : match.captured(3);
        from = match.capturedEnd(3);
    }
    out += text.mid(from);
    return out.toUtf8();
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
            {"response", response},
            {"duration_ms", durationMs}};
}

void SandboxState::record(const HttpRequest& request, const QString& path, const Delivery& delivery,
                          const QString& fault, qint64 handledMs)
{
    RequestRecord entry;
    // What the client waits: the handling, and the delay a slow or trickled answer adds.
    const qint64 answerBytes = delivery.raw.isEmpty() ? delivery.body.size() : delivery.raw.size();
    entry.durationMs = handledMs + (delivery.mode == Delivery::Mode::Slow ? delivery.delayMs
                                    : delivery.mode == Delivery::Mode::Trickle
                                        ? qint64(delivery.delayMs) * answerBytes
                                        : 0);
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
