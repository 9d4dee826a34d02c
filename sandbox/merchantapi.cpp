#include "merchantapi.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include <cmath>

namespace sandbox {

namespace {

enum ErrorCode {
    BadSignature = 1001,
    StaleTimestamp = 1002,
    BadHeaders = 1003,
    NotAnObject = 1004,
    MissingMember = 1005,
    WrongType = 1006,
    UnknownService = 1007,
    UnknownCashbox = 1008,
    PaymentNotFound = 1009,
    InvalidAmount = 1010,
    RefundTooLarge = 1011,
    WrongState = 1012,
    EmptyValue = 1013,
    ProviderRefusal = 2001,
};

enum class JsonKind { Integer, String };

// Reads the members of a request body, stopping at the first fault.
class BodyCheck {
public:
    explicit BodyCheck(const QJsonObject& body) : m_body(body) {}

    bool require(const char* name, JsonKind kind)
    {
        if (m_failed) {
            return false;
        }
        const QJsonValue value = m_body.value(QLatin1String(name));
        if (value.isUndefined()) {
            return fail(400, MissingMember, QString("missing member \"%1\"").arg(name));
        }
        const bool integral = value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
        if ((kind == JsonKind::Integer && !integral) ||
            (kind == JsonKind::String && !value.isString())) {
            return fail(400, WrongType,
                        QString("member \"%1\" must be %2")
                            .arg(name, kind == JsonKind::Integer ? "an integer" : "a string"));
        }
        if (kind == JsonKind::String && value.toString().isEmpty()) {
            return fail(400, EmptyValue, QString("member \"%1\" is empty").arg(name));
        }
        return true;
    }

    bool fail(int httpStatus, int code, const QString& message)
    {
        if (!m_failed) {
            m_failed = true;
            m_error = {httpStatus, code, message};
        }
        return false;
    }

    bool failed() const { return m_failed; }
    int httpStatus() const { return m_error.httpStatus; }
    int code() const { return m_error.code; }
    QString message() const { return m_error.message; }
    qint64 integer(const char* name) const { return qint64(m_body.value(name).toDouble()); }
    QString string(const char* name) const { return m_body.value(name).toString(); }

private:
    struct {
        int httpStatus = 0;
        int code = 0;
        QString message;
    } m_error;
    QJsonObject m_body;
    bool m_failed = false;
};

// Reads "payment_id" (and "service_id" when `serviceId` is given) and finds the payment;
// null with the fault recorded in `check` when that fails.
Payment* findPayment(BodyCheck& check, Ledger& ledger, const qint64* serviceId)
{
    if (serviceId) {
        check.require("service_id", JsonKind::Integer);
    }
    check.require("payment_id", JsonKind::String);
    if (serviceId && !check.failed() && check.integer("service_id") != *serviceId) {
        check.fail(400, UnknownService, "unknown service_id");
    }
    Payment* payment = check.failed() ? nullptr : ledger.find(check.string("payment_id"));
    if (!check.failed() && !payment) {
        check.fail(404, PaymentNotFound, "payment not found");
    }
    return check.failed() ? nullptr : payment;
}

QJsonObject answerFor(const Payment& payment)
{
    return QJsonObject{{"error_code", 0},
                       {"payment_id", payment.id},
                       {"payment_status", payment.status},
                       {"client_phone_number", payment.phone},
                       {"amount", payment.amount},
                       {"refunded", payment.refunded}};
}

// A request body as the control API shows it: the customer's one-time token masked.
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

// The operation name of a merchant path, empty when unknown.
QString operationOf(const QString& method, const QString& path)
{
    if (method == "POST" && path == "/payment") {
        return "payment";
    }
    if (method == "GET" && path == "/payment/status") {
        return "status";
    }
    if (method == "POST" && path == "/payment/reversal") {
        return "reversal";
    }
    if (method == "POST" && path == "/partial/reversal") {
        return "partial";
    }
    if (method == "POST" && path == "/payment/fiscal") {
        return "fiscal";
    }
    return {};
}

} // namespace

MerchantApi::MerchantApi(const SandboxOptions& options) : m_options(options) {}

void MerchantApi::noteConnection()
{
    QMutexLocker lock(&m_mutex);
    ++m_connections;
}

Delivery MerchantApi::handle(const HttpRequest& request)
{
    QMutexLocker lock(&m_mutex);
    const QString path = request.target.section('?', 0, 0);
    if (path.startsWith("/_sandbox/")) {
        return handleControl(request, path);
    }
    m_requests[request.method + ' ' + path] += 1;
    m_lastRequest = request;
    QString base = m_options.basePath;
    while (base.endsWith('/')) {
        base.chop(1);
    }
    if (!path.startsWith(base + '/')) {
        return errorReply({404, 404, "unknown path " + path});
    }
    const QString operation = operationOf(request.method, path.mid(base.size()));
    if (operation.isEmpty()) {
        return errorReply({404, 404, QString("no operation %1 %2").arg(request.method, path)});
    }
    return handleMerchant(request, operation);
}

bool MerchantApi::checkHeaders(const HttpRequest& request, Error* error) const
{
    if (request.headers.value("accept") != "application/json") {
        *error = {400, BadHeaders, "header Accept must be application/json"};
        return false;
    }
    if (request.headers.value("content-type").section(';', 0, 0).trimmed() != "application/json") {
        *error = {400, BadHeaders, "header Content-Type must be application/json"};
        return false;
    }
    // "<user id>:<sha1 hex of timestamp + secret>:<timestamp in ms>"
    const QString authorization = request.headers.value("authorization");
    const QString timestamp = authorization.section(':', -1);
    const QString digest = authorization.section(':', -2, -2);
    const QString user = authorization.section(':', 0, -3);
    if (authorization.count(':') < 2 || user != m_options.userId) {
        *error = {401, BadSignature, "header Authorization is missing or names another user"};
        return false;
    }
    bool ok = false;
    const qint64 stamp = timestamp.toLongLong(&ok);
    if (!ok || timestamp.startsWith('+') || timestamp.startsWith('-')) {
        *error = {401, BadSignature, "the timestamp of Authorization is not a number"};
        return false;
    }
    const QByteArray expected =
        QCryptographicHash::hash(timestamp.toUtf8() + m_options.secretKey.toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    if (digest.toUtf8() != expected) {
        *error = {401, BadSignature, "the signature of Authorization does not match"};
        return false;
    }
    if (std::llabs(QDateTime::currentMSecsSinceEpoch() - stamp) > m_options.timestampToleranceMs) {
        *error = {401, StaleTimestamp, "the timestamp of Authorization is out of range"};
        return false;
    }
    return true;
}

Delivery MerchantApi::handleMerchant(const HttpRequest& request, const QString& operation)
{
    Error error{};
    if (!checkHeaders(request, &error)) {
        return errorReply(error);
    }
    QJsonObject body;
    if (operation == "status" && request.body.trimmed().isEmpty()) {
        // Status may also come as query parameters.
        const QUrlQuery query(request.target.section('?', 1));
        for (const auto& item : query.queryItems(QUrl::FullyDecoded)) {
            bool numeric = false;
            const qint64 number = item.second.toLongLong(&numeric);
            body.insert(item.first, item.first == "service_id" && numeric
                                        ? QJsonValue(number)
                                        : QJsonValue(item.second));
        }
    } else {
        const QJsonDocument document = QJsonDocument::fromJson(request.body);
        if (!document.isObject()) {
            return errorReply({400, NotAnObject, "the body is not a JSON object"});
        }
        body = document.object();
    }

    const Behaviour fault = takeFault(operation);
    if (fault == Behaviour::ProviderError) {
        return json(200, {{"error_code", ProviderRefusal},
                          {"error_message", "Недостаточно средств на счете клиента"}});
    }
    if (fault == Behaviour::ServerError) {
        return shaped({500, {}, Behaviour::ServerError});
    }

    Outcome outcome;
    if (operation == "payment") {
        outcome = payment(body);
    } else if (operation == "status") {
        outcome = status(body);
    } else if (operation == "reversal") {
        outcome = reversal(body);
    } else if (operation == "partial") {
        outcome = partialReversal(body);
    } else {
        outcome = fiscal(body);
    }
    if (fault != Behaviour::Normal) {
        outcome.shape = fault;
    }
    return shaped(outcome);
}

MerchantApi::Outcome MerchantApi::refusal(const Error& error)
{
    return {error.httpStatus,
            QJsonObject{{"error_code", error.code}, {"error_message", error.message}},
            Behaviour::Normal};
}

MerchantApi::Outcome MerchantApi::payment(const QJsonObject& body)
{
    BodyCheck check(body);
    check.require("amount", JsonKind::Integer);
    check.require("service_id", JsonKind::Integer);
    check.require("otp_data", JsonKind::String);
    check.require("cashbox_code", JsonKind::String);
    check.require("transaction_id", JsonKind::String);
    if (!check.failed() && check.integer("service_id") != m_options.serviceId) {
        check.fail(400, UnknownService, "unknown service_id");
    }
    if (!check.failed() && check.string("cashbox_code") != m_options.cashboxCode) {
        check.fail(400, UnknownCashbox, "unknown cashbox_code");
    }
    if (!check.failed() && check.integer("amount") <= 0) {
        check.fail(400, InvalidAmount, "amount must be positive");
    }
    if (check.failed()) {
        return refusal({check.httpStatus(), check.code(), check.message()});
    }
    const Scenario scenario =
        scenarioForToken(check.string("otp_data"), m_options.settleAfterPolls);
    if (scenario.behaviour == Behaviour::ProviderError) {
        return refusal({200, ProviderRefusal, "Недостаточно средств на счете клиента"});
    }
    if (scenario.behaviour == Behaviour::ServerError) {
        return {500, {}, Behaviour::ServerError};
    }
    bool created = false;
    Payment& payment = m_ledger.charge(check.string("transaction_id"), check.integer("amount"),
                                       scenario, &created);
    Outcome outcome{200, answerFor(payment), Behaviour::Normal};
    if (payment.status == "FAILED") {
        outcome.answer.insert("error_message", "Клиент отклонил оплату");
    }
    if (created) {
        outcome.shape = scenario.behaviour; // a repeated transaction is answered plainly
    }
    return outcome;
}

MerchantApi::Outcome MerchantApi::status(const QJsonObject& body)
{
    BodyCheck check(body);
    Payment* payment = findPayment(check, m_ledger, &m_options.serviceId);
    if (check.failed()) {
        return refusal({check.httpStatus(), check.code(), check.message()});
    }
    ++payment->polls;
    if (payment->status == "PENDING") {
        const Scenario& scenario = payment->scenario;
        if (scenario.behaviour == Behaviour::Decline) {
            payment->status = "FAILED";
        } else if (scenario.behaviour != Behaviour::NeverSettle &&
                   payment->polls >= scenario.polls) {
            payment->status = "SUCCESS";
        }
    }
    QJsonObject answer = answerFor(*payment);
    if (payment->status == "FAILED") {
        answer.insert("error_message", "Клиент отклонил оплату");
    }
    return {200, answer, Behaviour::Normal};
}

MerchantApi::Outcome MerchantApi::reversal(const QJsonObject& body)
{
    BodyCheck check(body);
    Payment* payment = findPayment(check, m_ledger, &m_options.serviceId);
    // A pending payment may be cancelled too: the till gave up waiting for it.
    if (!check.failed() && payment->status != "SUCCESS" && payment->status != "PENDING" &&
        !(payment->status == "PARTIAL_CANCELLED" && payment->rest() > 0)) {
        check.fail(409, WrongState, "payment in status " + payment->status + " cannot be reversed");
    }
    if (check.failed()) {
        return refusal({check.httpStatus(), check.code(), check.message()});
    }
    payment->refunded = payment->amount;
    payment->status = "REVERSED";
    return {200, answerFor(*payment), Behaviour::Normal};
}

MerchantApi::Outcome MerchantApi::partialReversal(const QJsonObject& body)
{
    BodyCheck check(body);
    Payment* payment = findPayment(check, m_ledger, nullptr);
    check.require("amount", JsonKind::Integer);
    if (!check.failed() && check.integer("amount") <= 0) {
        check.fail(400, InvalidAmount, "amount must be positive");
    }
    if (!check.failed() && payment->status != "SUCCESS" && payment->status != "PARTIAL_CANCELLED") {
        check.fail(409, WrongState, "payment in status " + payment->status + " cannot be refunded");
    }
    if (!check.failed() && check.integer("amount") > payment->rest()) {
        check.fail(409, RefundTooLarge,
                   QString("amount exceeds the refundable rest of %1").arg(payment->rest()));
    }
    if (check.failed()) {
        return refusal({check.httpStatus(), check.code(), check.message()});
    }
    payment->refunded += check.integer("amount");
    payment->status = "PARTIAL_CANCELLED";
    return {200, answerFor(*payment), Behaviour::Normal};
}

MerchantApi::Outcome MerchantApi::fiscal(const QJsonObject& body)
{
    BodyCheck check(body);
    Payment* payment = findPayment(check, m_ledger, nullptr);
    check.require("fiscal_url", JsonKind::String);
    if (!check.failed() && payment->status == "PENDING") {
        check.fail(409, WrongState, "payment is not settled yet");
    }
    if (check.failed()) {
        return refusal({check.httpStatus(), check.code(), check.message()});
    }
    payment->fiscalUrl = check.string("fiscal_url");
    QJsonObject answer = answerFor(*payment);
    answer.insert("payment_status", "SUCCESS"); // the status of the fiscal hand-over
    return {200, answer, Behaviour::Normal};
}

Delivery MerchantApi::shaped(const Outcome& outcome) const
{
    Delivery delivery = json(outcome.httpStatus, outcome.answer);
    switch (outcome.shape) {
    case Behaviour::Lost:
        delivery.mode = Delivery::Mode::Lost;
        break;
    case Behaviour::Slow:
        delivery.mode = Delivery::Mode::Slow;
        delivery.delayMs = m_options.slowDelayMs;
        break;
    case Behaviour::Trickle:
        delivery.mode = Delivery::Mode::Trickle;
        delivery.delayMs = m_options.trickleByteDelayMs;
        break;
    case Behaviour::NotJson:
        delivery.body = "<html><body>Bad gateway</body></html>";
        delivery.contentType = "text/html";
        break;
    case Behaviour::JsonArray:
        delivery.body = QJsonDocument(QJsonArray{outcome.answer}).toJson(QJsonDocument::Compact);
        break;
    case Behaviour::EmptyBody:
        delivery.body.clear();
        break;
    case Behaviour::WithoutId: {
        QJsonObject answer = outcome.answer;
        answer.remove("payment_id");
        delivery.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
        break;
    }
    case Behaviour::Huge: {
        QJsonObject answer = outcome.answer;
        answer.insert("padding", QString(5 * 1024 * 1024, 'x'));
        delivery.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
        break;
    }
    case Behaviour::ServerError:
        delivery.status = 500;
        delivery.body = "Internal Server Error";
        delivery.contentType = "text/plain";
        break;
    default:
        break;
    }
    return delivery;
}

Delivery MerchantApi::errorReply(const Error& error)
{
    return json(error.httpStatus, {{"error_code", error.code}, {"error_message", error.message}});
}

Delivery MerchantApi::json(int status, const QJsonObject& object)
{
    Delivery delivery;
    delivery.status = status;
    delivery.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return delivery;
}

Behaviour MerchantApi::takeFault(const QString& operation)
{
    for (const QString& key : {operation, QString("any")}) {
        auto found = m_faults.find(key);
        if (found != m_faults.end() && !found->isEmpty()) {
            return found->takeFirst();
        }
    }
    return Behaviour::Normal;
}

bool MerchantApi::queueFault(const QString& operation, Behaviour behaviour, int count)
{
    static const QStringList operations = {"payment", "status", "reversal",
                                           "partial", "fiscal", "any"};
    if (!operations.contains(operation) || count < 1) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        m_faults[operation].append(behaviour);
    }
    return true;
}

bool MerchantApi::injectFault(const QString& operation, Behaviour behaviour, int count)
{
    QMutexLocker lock(&m_mutex);
    return queueFault(operation, behaviour, count);
}

QJsonObject MerchantApi::ledgerUnlocked() const
{
    QJsonArray payments;
    for (const Payment& payment : m_ledger.payments()) {
        payments.append(payment.toJson());
    }
    return {{"payments", payments}};
}

QJsonObject MerchantApi::statsUnlocked() const
{
    QJsonObject requests;
    int total = 0;
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it) {
        requests.insert(it.key(), it.value());
        total += it.value();
    }
    return {{"connections", m_connections}, {"requests", requests}, {"received", total}};
}

HttpRequest MerchantApi::lastRequest() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastRequest;
}

QJsonObject MerchantApi::ledgerJson() const
{
    QMutexLocker lock(&m_mutex);
    return ledgerUnlocked();
}

QJsonObject MerchantApi::statsJson() const
{
    QMutexLocker lock(&m_mutex);
    return statsUnlocked();
}

Delivery MerchantApi::handleControl(const HttpRequest& request, const QString& path)
{
    // Called with the lock held; the locking accessors are not used from here.
    const QStringList parts = path.mid(QString("/_sandbox/").size()).split('/');
    if (request.method == "GET" && path == "/_sandbox/ledger") {
        return json(200, ledgerUnlocked());
    }
    if (request.method == "GET" && path == "/_sandbox/stats") {
        return json(200, statsUnlocked());
    }
    if (request.method == "GET" && path == "/_sandbox/requests/last") {
        QJsonObject headers;
        for (auto it = m_lastRequest.headers.cbegin(); it != m_lastRequest.headers.cend(); ++it) {
            // The signature is checked here; it is never handed out again.
            headers.insert(it.key(), it.key() == "authorization"
                                         ? it.value().section(':', 0, 0) + ":***"
                                         : it.value());
        }
        return json(200, {{"method", m_lastRequest.method},
                          {"target", m_lastRequest.target},
                          {"headers", headers},
                          {"body", QString::fromUtf8(maskedBody(m_lastRequest.body))}});
    }
    if (request.method == "POST" && path == "/_sandbox/faults") {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        Behaviour behaviour{};
        if (!faultFromName(body.value("fault").toString(), &behaviour)) {
            return errorReply({400, 400, "unknown fault"});
        }
        const QString operation = body.value("operation").toString("any");
        if (!queueFault(operation, behaviour, body.value("count").toInt(1))) {
            return errorReply({400, 400, "unknown operation or count"});
        }
        return json(200, {{"queued", m_faults[operation].size()}});
    }
    if (request.method == "DELETE" && path == "/_sandbox/faults") {
        m_faults.clear(); // the ledger stays: a script's next step starts without surprises
        return json(200, {{"cleared", true}});
    }
    if (request.method == "POST" && path == "/_sandbox/reset") {
        m_ledger.clear();
        m_faults.clear();
        m_requests.clear();
        m_connections = 0;
        return json(200, {{"reset", true}});
    }
    if (request.method == "POST" && parts.size() == 3 && parts[0] == "payments" &&
        (parts[2] == "approve" || parts[2] == "decline")) {
        Payment* payment = m_ledger.find(parts[1]);
        if (!payment) {
            return errorReply({404, PaymentNotFound, "payment not found"});
        }
        if (payment->status != "PENDING") {
            return errorReply({409, WrongState, "payment is not pending"});
        }
        payment->status = parts[2] == "approve" ? "SUCCESS" : "FAILED";
        return json(200, payment->toJson());
    }
    return errorReply({404, 404, "unknown control request " + request.method + ' ' + path});
}

} // namespace sandbox
