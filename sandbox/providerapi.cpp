#include "providerapi.h"

#include <QCryptographicHash>
#include <QDateTime>
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
};

const char* const Declined = "Клиент отклонил оплату";

ProviderApi::Outcome refused(int httpStatus, int code, const QString& message)
{
    return {httpStatus, QJsonObject{{"error_code", code}, {"error_message", message}},
            WireFault::None};
}

enum class JsonKind { Integer, String };

// Reads the members of a request body, stopping at the first fault.
class BodyCheck {
public:
    explicit BodyCheck(const QJsonObject& body) : m_body(body) {}

    bool require(const char* name, JsonKind kind)
    {
        if (failed()) {
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
        if (!failed()) {
            m_refusal = refused(httpStatus, code, message);
        }
        return false;
    }

    bool failed() const { return !m_refusal.answer.isEmpty(); }
    /// The answer to a request that failed a check.
    ProviderApi::Outcome refusal() const { return m_refusal; }
    qint64 integer(const char* name) const { return qint64(m_body.value(name).toDouble()); }
    QString string(const char* name) const { return m_body.value(name).toString(); }

    // Reads "payment_id" (and "service_id" when `serviceId` is given) and finds the
    // payment; null with the fault recorded when that fails.
    Payment* payment(Ledger& ledger, const qint64* serviceId)
    {
        if (serviceId) {
            require("service_id", JsonKind::Integer);
        }
        require("payment_id", JsonKind::String);
        if (serviceId && !failed() && integer("service_id") != *serviceId) {
            fail(400, UnknownService, "unknown service_id");
        }
        Payment* found = failed() ? nullptr : ledger.find(string("payment_id"));
        if (!failed() && !found) {
            fail(404, PaymentNotFound, "payment not found");
        }
        return failed() ? nullptr : found;
    }

private:
    ProviderApi::Outcome m_refusal;
    QJsonObject m_body;
};

QJsonObject answerFor(const Payment& payment)
{
    QJsonObject answer{{"error_code", 0},
                       {"payment_id", payment.id},
                       {"payment_status", payment.status},
                       {"client_phone_number", payment.phone},
                       {"amount", payment.amount},
                       {"refunded", payment.refunded}};
    if (payment.status == "FAILED") {
        answer.insert("error_message", Declined);
    }
    return answer;
}

} // namespace

const QList<ProviderApi::Route>& ProviderApi::routes()
{
    // clang-format off
    static const QList<Route> table = {
        {Operation::Payment,  "POST", "/payment",          "payment",  &ProviderApi::payment},
        {Operation::Status,   "GET",  "/payment/status",   "status",   &ProviderApi::status},
        {Operation::Reversal, "POST", "/payment/reversal", "reversal", &ProviderApi::reversal},
        {Operation::Partial,  "POST", "/partial/reversal", "partial",  &ProviderApi::partialReversal},
        {Operation::Fiscal,   "POST", "/payment/fiscal",   "fiscal",   &ProviderApi::fiscal},
    };
    // clang-format on
    return table;
}

QString operationName(Operation operation)
{
    for (const auto& route : ProviderApi::routes()) {
        if (route.operation == operation) {
            return route.name;
        }
    }
    return {};
}

std::optional<Operation> operationFromName(const QString& name)
{
    for (const auto& route : ProviderApi::routes()) {
        if (name == route.name) {
            return route.operation;
        }
    }
    return std::nullopt;
}

std::optional<Operation> operationAt(const QString& method, const QString& path)
{
    for (const auto& route : ProviderApi::routes()) {
        if (method == route.verb && path == route.path) {
            return route.operation;
        }
    }
    return std::nullopt;
}

ProviderApi::ProviderApi(const SandboxOptions& options, Ledger& ledger, FaultQueue& faults)
    : m_options(options), m_ledger(ledger), m_faults(faults)
{
}

ProviderReply ProviderApi::handle(Operation operation, const HttpRequest& request)
{
    Outcome outcome;
    bool wellFormed = false;
    const QJsonObject body = requestBody(operation, request, &wellFormed);
    if (!checkHeaders(request, &outcome)) {
        // refused as it stands
    } else if (!wellFormed) {
        outcome = refused(400, NotAnObject, "the body is not a JSON object");
    } else if (const WireFault fault = m_faults.take(operation); !carriesOut(fault)) {
        outcome = {200, {}, fault};
    } else {
        for (const Route& route : routes()) {
            if (route.operation == operation) {
                outcome = (this->*route.handler)(body, fault);
            }
        }
        if (fault != WireFault::None && !outcome.faultDone) {
            outcome.fault = fault;
        }
    }
    ProviderReply reply;
    reply.delivery = shapedReply(outcome.httpStatus, outcome.answer, outcome.fault, m_options);
    reply.paymentId =
        outcome.answer.value("payment_id").toString(body.value("payment_id").toString());
    reply.fault = outcome.fault;
    reply.errorCode = outcome.fault == WireFault::ProviderError
                          ? 2001
                          : outcome.answer.value("error_code").toInt();
    return reply;
}

QJsonObject ProviderApi::requestBody(Operation operation, const HttpRequest& request, bool* ok)
{
    *ok = true;
    QJsonObject body;
    if (operation == Operation::Status && request.body.trimmed().isEmpty()) {
        // Status may also come as query parameters.
        const QUrlQuery query(request.target.section('?', 1));
        for (const auto& item : query.queryItems(QUrl::FullyDecoded)) {
            bool numeric = false;
            const qint64 number = item.second.toLongLong(&numeric);
            body.insert(item.first, item.first == "service_id" && numeric
                                        ? QJsonValue(number)
                                        : QJsonValue(item.second));
        }
        return body;
    }
    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    *ok = document.isObject();
    return document.object();
}

bool ProviderApi::checkHeaders(const HttpRequest& request, Outcome* refusal) const
{
    if (request.headers.value("accept") != "application/json") {
        *refusal = refused(400, BadHeaders, "header Accept must be application/json");
        return false;
    }
    if (request.headers.value("content-type").section(';', 0, 0).trimmed() != "application/json") {
        *refusal = refused(400, BadHeaders, "header Content-Type must be application/json");
        return false;
    }
    // "<user id>:<sha1 hex of timestamp + secret>:<timestamp in ms>"
    const QString authorization = request.headers.value("authorization");
    const QString timestamp = authorization.section(':', -1);
    const QString digest = authorization.section(':', -2, -2);
    const QString user = authorization.section(':', 0, -3);
    if (authorization.count(':') < 2 || user != m_options.userId) {
        *refusal =
            refused(401, BadSignature, "header Authorization is missing or names another user");
        return false;
    }
    bool ok = false;
    const qint64 stamp = timestamp.toLongLong(&ok);
    if (!ok || timestamp.startsWith('+') || timestamp.startsWith('-')) {
        *refusal = refused(401, BadSignature, "the timestamp of Authorization is not a number");
        return false;
    }
    const QByteArray expected =
        QCryptographicHash::hash(timestamp.toUtf8() + m_options.secretKey.toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    if (digest.toUtf8() != expected) {
        *refusal = refused(401, BadSignature, "the signature of Authorization does not match");
        return false;
    }
    if (std::llabs(QDateTime::currentMSecsSinceEpoch() - stamp) > m_options.timestampToleranceMs) {
        *refusal = refused(401, StaleTimestamp, "the timestamp of Authorization is out of range");
        return false;
    }
    return true;
}

ProviderApi::Outcome ProviderApi::payment(const QJsonObject& body, WireFault fault)
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
        return check.refusal();
    }
    Scenario scenario = scenarioForToken(check.string("otp_data"), m_options.settleAfterPolls);
    if (!carriesOut(scenario.fault)) {
        return {200, {}, scenario.fault};
    }
    if (fault == WireFault::Failed) {
        scenario.sale = SaleScenario::DeclineAtOnce; // the provider declines it at once
    } else if (fault == WireFault::SuccessWithoutId) {
        scenario.sale = SaleScenario::SettleAtOnce;
    }
    bool created = false;
    Payment& payment = m_ledger.charge(check.string("transaction_id"), check.integer("amount"),
                                       scenario, &created);
    // A repeated transaction is answered plainly, and counted: a till must never send one.
    if (!created) {
        ++payment.repeats;
    } else {
        payment.currency = m_options.currency;
    }
    return {200, answerFor(payment), created ? scenario.fault : WireFault::None};
}

ProviderApi::Outcome ProviderApi::status(const QJsonObject& body, WireFault fault)
{
    BodyCheck check(body);
    Payment* payment = check.payment(m_ledger, &m_options.serviceId);
    if (check.failed()) {
        return check.refusal();
    }
    ++payment->polls;
    if (fault == WireFault::Failed) {
        // The customer declines a payment still pending; any other is answered as it is,
        // so that the answer never contradicts the ledger.
        Outcome outcome;
        if (payment->status == "PENDING") {
            payment->status = "FAILED";
            outcome.fault = WireFault::Failed;
        }
        outcome.answer = answerFor(*payment);
        outcome.faultDone = true;
        return outcome;
    }
    if (payment->status == "PENDING") {
        const Scenario& scenario = payment->scenario;
        if (scenario.sale == SaleScenario::Decline) {
            payment->status = "FAILED";
        } else if (fault == WireFault::SuccessWithoutId ||
                   (scenario.sale == SaleScenario::SettleAfter &&
                    payment->polls >= scenario.polls)) {
            payment->settle();
        }
    }
    return {200, answerFor(*payment), WireFault::None};
}

ProviderApi::Outcome ProviderApi::reversal(const QJsonObject& body, WireFault fault)
{
    BodyCheck check(body);
    Payment* payment = check.payment(m_ledger, &m_options.serviceId);
    if (!check.failed() && payment->status == "PENDING" &&
        payment->scenario.sale == SaleScenario::SettleOnReversal) {
        // The customer confirms in the wallet just as the till gives up: the
        // reversal meets a payment that has been charged, and must still return it.
        payment->settle();
    }
    // A pending payment may be cancelled too: the till gave up waiting for it.
    if (!check.failed() && payment->status != "SUCCESS" && payment->status != "PENDING" &&
        !(payment->status == "PARTIAL_CANCELLED" && payment->rest() > 0)) {
        check.fail(409, WrongState, "payment in status " + payment->status + " cannot be reversed");
    }
    if (check.failed()) {
        return check.refusal();
    }
    if (fault != WireFault::Failed) {
        payment->refunded = payment->amount;
        payment->status = "REVERSED";
    }
    return {200, answerFor(*payment), WireFault::None};
}

ProviderApi::Outcome ProviderApi::partialReversal(const QJsonObject& body, WireFault fault)
{
    BodyCheck check(body);
    Payment* payment = check.payment(m_ledger, nullptr);
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
        return check.refusal();
    }
    if (fault != WireFault::Failed) {
        payment->refunded += check.integer("amount");
        payment->status = "PARTIAL_CANCELLED";
    }
    return {200, answerFor(*payment), WireFault::None};
}

ProviderApi::Outcome ProviderApi::fiscal(const QJsonObject& body, WireFault fault)
{
    BodyCheck check(body);
    Payment* payment = check.payment(m_ledger, nullptr);
    check.require("fiscal_url", JsonKind::String);
    if (!check.failed() && payment->status == "PENDING") {
        check.fail(409, WrongState, "payment is not settled yet");
    }
    if (check.failed()) {
        return check.refusal();
    }
    if (fault != WireFault::Failed) {
        payment->fiscalUrl = check.string("fiscal_url");
    }
    QJsonObject answer = answerFor(*payment);
    answer.insert("payment_status", "SUCCESS"); // the status of the fiscal hand-over
    answer.remove("error_message");
    return {200, answer, WireFault::None};
}

} // namespace sandbox
