#include "controlapi.h"

#include "providerapi.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

// The dashboard's files are a resource of this static library: register them
// from here, outside any namespace, so the linker keeps them.
static void registerDashboard()
{
    Q_INIT_RESOURCE(dashboard);
}

namespace sandbox {

namespace {

Delivery refusal(int httpStatus, int code, const QString& message)
{
    Delivery delivery = jsonReply(httpStatus, {{"error_code", code}, {"error_message", message}});
    delivery.errorCode = code;
    return delivery;
}

struct Authority {
    QString host;
    int port = -1;
};

// "host", "host:port" or "[v6]:port"; the port defaults to the scheme's.
Authority authorityOf(const QString& text, const QString& scheme)
{
    const QUrl url(scheme + "://" + text, QUrl::StrictMode);
    if (!url.isValid() || text.isEmpty() || !url.path().isEmpty() || !url.userInfo().isEmpty()) {
        return {};
    }
    return {url.host().toLower(), url.port(scheme == "https" ? 443 : 80)};
}

} // namespace

bool isControlPath(const QString& target)
{
    const QString path = target.section('?', 0, 0);
    return path == "/_sandbox" || path.startsWith("/_sandbox/");
}

bool isSameSiteControlRequest(const HttpRequest& request, const SameSite& site, QString* reason)
{
    const QString hostHeader = request.headers.value("host");
    const Authority host = authorityOf(hostHeader, site.scheme);
    if (host.host.isEmpty() || host.port != site.port || !site.hosts.contains(host.host)) {
        *reason = QString("Host \"%1\" is not this sandbox").arg(hostHeader.left(200));
        return false;
    }
    if (!request.headers.contains("origin")) {
        return true; // not from a browser's page, or a plain navigation
    }
    const QString origin = request.headers.value("origin");
    const QUrl url(origin, QUrl::StrictMode);
    const Authority from = authorityOf(url.authority(QUrl::FullyEncoded), site.scheme);
    if (url.scheme() != site.scheme || from.host != host.host || from.port != host.port ||
        !url.path().isEmpty()) {
        *reason = QString("Origin \"%1\" is another site").arg(origin.left(200));
        return false;
    }
    return true;
}

Delivery controlRefusal(const QString& reason)
{
    return refusal(403, 403, "control request refused: " + reason);
}

Delivery ambiguousRequestRefusal()
{
    return refusal(400, 400, "more than one Host or Origin header");
}

ControlApi::ControlApi(const SandboxOptions& options, SandboxState& state)
    : m_options(options), m_state(state)
{
    registerDashboard();
}

Delivery ControlApi::handle(const HttpRequest& request, const QString& path)
{
    const QString route = path.mid(QString("/_sandbox").size());
    const QStringList parts = route.mid(1).split('/');
    const QString& method = request.method;
    if (method == "GET" && (route.isEmpty() || route == "/" || route == "/index.html")) {
        return dashboardFile("index.html");
    }
    if (method == "GET" && (route == "/dashboard.css" || route == "/dashboard.js")) {
        return dashboardFile(route.mid(1));
    }
    if (method == "GET" && route == "/ledger") {
        return jsonReply(200, m_state.ledgerJson());
    }
    if (method == "GET" && route == "/stats") {
        return jsonReply(200, m_state.statsJson());
    }
    if (method == "GET" && route == "/config") {
        return jsonReply(200, configJson());
    }
    if (method == "GET" && route == "/requests") {
        QJsonArray list;
        for (auto it = m_state.recent.crbegin(); it != m_state.recent.crend(); ++it) {
            list.append(it->toJson());
        }
        return jsonReply(200, {{"requests", list}});
    }
    if (method == "GET" && route == "/requests/last") {
        return lastRequest();
    }
    if (method == "GET" && route == "/reference") {
        return jsonReply(200, referenceJson());
    }
    if (method == "GET" && parts.size() == 3 && parts[0] == "payments" && parts[2] == "timeline") {
        const QJsonObject timeline = m_state.timelineJson(parts[1]);
        return timeline.isEmpty() ? refusal(404, 1009, "payment not found")
                                  : jsonReply(200, timeline);
    }
    if (method == "GET" && route == "/faults") {
        return jsonReply(200, {{"faults", m_state.faults.toJson()}});
    }
    if (method == "POST" && route == "/faults") {
        return queueFault(request.body);
    }
    if (method == "DELETE" && route == "/faults") {
        m_state.faults.clear(); // the ledger stays: a script's next step starts without surprises
        return jsonReply(200, {{"cleared", true}});
    }
    if (method == "POST" && route == "/reset") {
        m_state.reset();
        return jsonReply(200, {{"reset", true}});
    }
    if (method == "POST" && parts.size() == 3 && parts[0] == "payments" &&
        (parts[2] == "approve" || parts[2] == "decline")) {
        return settle(parts[1], parts[2] == "approve");
    }
    return refusal(404, 404, "unknown control request " + method + ' ' + path);
}

Delivery ControlApi::dashboardFile(const QString& name) const
{
    QFile file(":/sandbox/dashboard/" + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return refusal(404, 404, "no dashboard file " + name);
    }
    Delivery delivery;
    delivery.body = file.readAll();
    delivery.noFraming = true;
    delivery.contentType = name.endsWith(".html")  ? "text/html; charset=utf-8"
                           : name.endsWith(".css") ? "text/css; charset=utf-8"
                                                   : "text/javascript; charset=utf-8";
    return delivery;
}

Delivery ControlApi::lastRequest() const
{
    const HttpRequest& last = m_state.lastRequest;
    QJsonObject headers;
    for (auto it = last.headers.cbegin(); it != last.headers.cend(); ++it) {
        headers.insert(it.key(),
                       it.key() == "authorization" ? maskedAuthorization(it.value()) : it.value());
    }
    return jsonReply(200, {{"method", last.method},
                           {"target", last.target},
                           {"headers", headers},
                           {"body", QString::fromUtf8(maskedBody(last.body))}});
}

Delivery ControlApi::queueFault(const QByteArray& body)
{
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    WireFault fault{};
    if (!wireFaultFromName(request.value("fault").toString(), &fault)) {
        return refusal(400, 400, "unknown fault");
    }
    const QString name = request.value("operation").toString("any");
    const std::optional<Operation> operation = operationFromName(name);
    if ((!operation && name != "any") ||
        !m_state.faults.add(operation, fault, request.value("count").toInt(1),
                            request.value("after").toInt(0))) {
        return refusal(400, 400, "unknown operation, or count or after out of range");
    }
    return jsonReply(200, {{"queued", m_state.faults.pending(operation)}});
}

Delivery ControlApi::settle(const QString& paymentId, bool approve)
{
    Payment* payment = m_state.ledger.find(paymentId);
    if (!payment) {
        return refusal(404, 1009, "payment not found");
    }
    if (payment->status != "PENDING") {
        return refusal(409, 1012, "payment is not pending");
    }
    if (approve) {
        payment->settle();
    } else {
        payment->status = "FAILED";
    }
    return jsonReply(200, payment->toJson());
}

QJsonObject ControlApi::referenceJson() const
{
    QJsonArray tokens, faults;
    for (const TokenReference& entry : tokenReference(m_options.settleAfterPolls)) {
        tokens.append(QJsonObject{{"token", entry.token}, {"effect", entry.effect}});
    }
    for (const QString& name : wireFaultNames().mid(1)) {
        WireFault fault{};
        wireFaultFromName(name, &fault);
        faults.append(QJsonObject{{"fault", name},
                                  {"effect", wireFaultEffect(fault)},
                                  {"carried_out", carriesOut(fault)}});
    }
    return {{"tokens", tokens}, {"faults", faults}};
}

QJsonObject ControlApi::configJson() const
{
    QJsonArray operations{"any"};
    for (const auto& route : ProviderApi::routes()) {
        operations.append(route.name);
    }
    return {{"basePath", m_options.basePath},
            {"serviceId", m_options.serviceId},
            {"cashboxCode", m_options.cashboxCode},
            {"userId", m_options.userId},
            {"secretKey", m_options.secretKey},
            {"settleAfter", m_options.settleAfterPolls},
            {"operations", operations},
            {"faults", QJsonArray::fromStringList(wireFaultNames().mid(1))}};
}

} // namespace sandbox
