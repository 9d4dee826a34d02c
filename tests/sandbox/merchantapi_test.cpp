#include "faultqueue.h"
#include "merchantapi.h"
#include "sandboxserver.h"
#include "sandboxstate.h"
#include "scenario.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace sandbox;

const QString Base = "/api/quindo-pay/merchant";

class MerchantApiTest : public ::testing::Test {
protected:
    MerchantApiTest() : api(options()) {}

    static SandboxOptions options()
    {
        SandboxOptions o;
        o.settleAfterPolls = 2;
        return o;
    }

    QHash<QString, QString> headers(qint64 stamp = QDateTime::currentMSecsSinceEpoch(),
                                    const QString& secret = "sandbox-secret") const
    {
        const QString timestamp = QString::number(stamp);
        const QString digest =
            QCryptographicHash::hash((timestamp + secret).toUtf8(), QCryptographicHash::Sha1)
                .toHex();
        return {{"accept", "application/json"},
                {"content-type", "application/json"},
                {"authorization", "merchant-user:" + digest + ':' + timestamp}};
    }

    QJsonObject call(const QString& method, const QString& path, const QJsonObject& body,
                     int* status = nullptr, QHash<QString, QString> h = {})
    {
        const Delivery reply = api.handle({method, Base + path, h.isEmpty() ? headers() : h,
                                           QJsonDocument(body).toJson(QJsonDocument::Compact)});
        if (status) {
            *status = reply.status;
        }
        return QJsonDocument::fromJson(reply.body).object();
    }

    QJsonObject sale(const QString& token, const QString& transaction, int amount = 1500)
    {
        return call("POST", "/payment",
                    {{"amount", amount},
                     {"service_id", 5001},
                     {"otp_data", token},
                     {"cashbox_code", "till-01"},
                     {"transaction_id", transaction}});
    }

    QJsonObject poll(const QString& id)
    {
        return call("GET", "/payment/status", {{"service_id", 5001}, {"payment_id", id}});
    }

    QString settledSale(int amount = 1500)
    {
        const QString id =
            sale("instant", QString("t-%1").arg(++counter), amount).value("payment_id").toString();
        EXPECT_EQ(poll(id).value("payment_status").toString(), "SUCCESS");
        return id;
    }

    MerchantApi api;
    int counter = 0;
};

TEST_F(MerchantApiTest, RefusesBadlySignedOrShapedRequests)
{
    const QJsonObject body{{"amount", 1500},
                           {"service_id", 5001},
                           {"otp_data", "t"},
                           {"cashbox_code", "till-01"},
                           {"transaction_id", "x"}};
    struct Case {
        const char* what;
        QHash<QString, QString> headers;
        QJsonObject body;
        int code;
    };
    auto withHeader = [&](const QString& name, const QString& value) {
        auto h = headers();
        h[name] = value;
        return h;
    };
    QJsonObject missing = body;
    missing.remove("otp_data");
    QJsonObject wrongType = body;
    wrongType["amount"] = "1500";
    QJsonObject fraction = body;
    fraction["amount"] = 15.5;
    QJsonObject service = body;
    service["service_id"] = 1;
    QJsonObject cashbox = body;
    cashbox["cashbox_code"] = "other";
    QJsonObject zero = body;
    zero["amount"] = 0;
    const Case cases[] = {
        {"wrong secret", headers(QDateTime::currentMSecsSinceEpoch(), "guess"), body, 1001},
        {"other user", withHeader("authorization", "someone:ab:1"), body, 1001},
        {"no authorization", withHeader("authorization", ""), body, 1001},
        {"stale", headers(QDateTime::currentMSecsSinceEpoch() - 6 * 60 * 1000), body, 1002},
        {"future", headers(QDateTime::currentMSecsSinceEpoch() + 6 * 60 * 1000), body, 1002},
        {"accept", withHeader("accept", "*/*"), body, 1003},
        {"content type", withHeader("content-type", "text/plain"), body, 1003},
        {"missing member", headers(), missing, 1005},
        {"string amount", headers(), wrongType, 1006},
        {"fractional amount", headers(), fraction, 1006},
        {"service", headers(), service, 1007},
        {"cashbox", headers(), cashbox, 1008},
        {"zero amount", headers(), zero, 1010},
    };
    for (const Case& c : cases) {
        int status = 0;
        const QJsonObject answer = call("POST", "/payment", c.body, &status, c.headers);
        EXPECT_EQ(answer.value("error_code").toInt(), c.code) << c.what;
        EXPECT_FALSE(answer.value("error_message").toString().isEmpty()) << c.what;
        EXPECT_GE(status, 400) << c.what;
    }
    EXPECT_TRUE(api.ledgerJson().value("payments").toArray().isEmpty());

    const Delivery notJson = api.handle({"POST", Base + "/payment", headers(), "nope"});
    EXPECT_EQ(QJsonDocument::fromJson(notJson.body).object().value("error_code").toInt(), 1004);
    const Delivery unknown = api.handle({"POST", Base + "/refund", headers(), "{}"});
    EXPECT_EQ(unknown.status, 404);
}

TEST_F(MerchantApiTest, SaleSettlesAfterPollsAndRepeatsChargeOnce)
{
    const QJsonObject first = sale("shop-token", "tx-1");
    EXPECT_EQ(first.value("error_code").toInt(-1), 0);
    EXPECT_EQ(first.value("payment_status").toString(), "PENDING");
    EXPECT_FALSE(first.value("client_phone_number").toString().isEmpty());
    const QString id = first.value("payment_id").toString();

    const QJsonObject again = sale("shop-token", "tx-1");
    EXPECT_EQ(again.value("payment_id").toString(), id);
    EXPECT_EQ(api.ledgerJson().value("payments").toArray().size(), 1);

    EXPECT_EQ(poll(id).value("payment_status").toString(), "PENDING");
    EXPECT_EQ(poll(id).value("payment_status").toString(), "SUCCESS");
    EXPECT_EQ(poll("nope").value("error_code").toInt(), 1009);
}

TEST_F(MerchantApiTest, TokenScenarios)
{
    EXPECT_EQ(sale("instant", "a").value("payment_status").toString(), "SUCCESS");
    EXPECT_EQ(sale("error", "b").value("error_code").toInt(), 2001);

    const QString declined = sale("decline-1", "c").value("payment_id").toString();
    const QJsonObject failed = poll(declined);
    EXPECT_EQ(failed.value("payment_status").toString(), "FAILED");
    EXPECT_FALSE(failed.value("error_message").toString().isEmpty());

    const QString pending = sale("pending", "d").value("payment_id").toString();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(poll(pending).value("payment_status").toString(), "PENDING");
    }

    const QString three = sale("settle-3", "e").value("payment_id").toString();
    poll(three);
    poll(three);
    EXPECT_EQ(poll(three).value("payment_status").toString(), "SUCCESS");

    EXPECT_EQ(scenarioForToken("lost", 2).fault, WireFault::Lost);
    EXPECT_EQ(scenarioForToken("no-id-7", 2).fault, WireFault::WithoutId);
    EXPECT_EQ(scenarioForToken("anything", 4).polls, 4);
    EXPECT_EQ(scenarioForToken("LOSTANDFOUND", 2).sale, SaleScenario::SettleAfter);
}

TEST_F(MerchantApiTest, ReversalsMoveTheLedgerAndRefuseOverRefund)
{
    const QString id = settledSale(1500);
    int status = 0;
    QJsonObject over =
        call("POST", "/partial/reversal", {{"payment_id", id}, {"amount", 1501}}, &status);
    EXPECT_EQ(over.value("error_code").toInt(), 1011);
    EXPECT_EQ(status, 409);

    QJsonObject part = call("POST", "/partial/reversal", {{"payment_id", id}, {"amount", 500}});
    EXPECT_EQ(part.value("payment_status").toString(), "PARTIAL_CANCELLED");
    EXPECT_EQ(part.value("refunded").toInt(), 500);
    over = call("POST", "/partial/reversal", {{"payment_id", id}, {"amount", 1001}});
    EXPECT_EQ(over.value("error_code").toInt(), 1011);

    const QJsonObject rest =
        call("POST", "/payment/reversal", {{"service_id", 5001}, {"payment_id", id}});
    EXPECT_EQ(rest.value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(rest.value("refunded").toInt(), 1500);
    EXPECT_EQ(call("POST", "/payment/reversal", {{"service_id", 5001}, {"payment_id", id}})
                  .value("error_code")
                  .toInt(),
              1012);

    // A till that gave up waiting cancels the payment: it can no longer settle.
    const QString pending = sale("pending", "p").value("payment_id").toString();
    const QJsonObject cancelled =
        call("POST", "/payment/reversal", {{"service_id", 5001}, {"payment_id", pending}});
    EXPECT_EQ(cancelled.value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(poll(pending).value("payment_status").toString(), "REVERSED");

    const QJsonObject declined = sale("failed", "f");
    EXPECT_EQ(declined.value("payment_status").toString(), "FAILED");
    EXPECT_EQ(declined.value("error_message").toString(), "Клиент отклонил оплату");
    EXPECT_EQ(call("POST", "/payment/reversal",
                   {{"service_id", 5001}, {"payment_id", declined.value("payment_id")}})
                  .value("error_code")
                  .toInt(),
              1012);
}

TEST_F(MerchantApiTest, FiscalLinkIsStored)
{
    const QString id = settledSale();
    const QJsonObject answer =
        call("POST", "/payment/fiscal", {{"payment_id", id}, {"fiscal_url", "https://ofd/r?1"}});
    EXPECT_EQ(answer.value("payment_status").toString(), "SUCCESS");
    const QJsonObject entry = api.ledgerJson().value("payments").toArray().first().toObject();
    EXPECT_EQ(entry.value("fiscal_url").toString(), "https://ofd/r?1");
    EXPECT_EQ(call("POST", "/payment/fiscal", {{"payment_id", id}, {"fiscal_url", 5}})
                  .value("error_code")
                  .toInt(),
              1006);
}

TEST_F(MerchantApiTest, StatusAcceptsQueryParameters)
{
    const QString id = settledSale();
    const Delivery reply = api.handle(
        {"GET", Base + "/payment/status?service_id=5001&payment_id=" + id, headers(), {}});
    EXPECT_EQ(QJsonDocument::fromJson(reply.body).object().value("payment_status").toString(),
              "SUCCESS");
}

TEST_F(MerchantApiTest, InjectedFaultsHitTheNextRequestOfTheirOperation)
{
    const QString id = settledSale();
    ASSERT_TRUE(api.injectFault("reversal", WireFault::Lost));
    EXPECT_FALSE(api.injectFault("nonsense", WireFault::Lost));

    const Delivery untouched =
        api.handle({"GET", Base + "/payment/status", headers(),
                    QJsonDocument(QJsonObject{{"service_id", 5001}, {"payment_id", id}}).toJson()});
    EXPECT_EQ(untouched.mode, Delivery::Mode::Normal);

    const Delivery lost =
        api.handle({"POST", Base + "/payment/reversal", headers(),
                    QJsonDocument(QJsonObject{{"service_id", 5001}, {"payment_id", id}}).toJson()});
    EXPECT_EQ(lost.mode, Delivery::Mode::Lost);
    EXPECT_EQ(poll(id).value("payment_status").toString(), "REVERSED")
        << "a lost answer still carried the reversal out";
    // The dashboard marks it: the till never heard the reversal happened. A lost poll, which
    // moves nothing, marks nothing.
    const auto ledgerRow = [&](const QString& paymentId) {
        const Delivery ledger = api.handle({"GET", "/_sandbox/ledger", {}, {}});
        for (const QJsonValue& row :
             QJsonDocument::fromJson(ledger.body).object().value("payments").toArray()) {
            if (row.toObject().value("payment_id").toString() == paymentId) {
                return row.toObject();
            }
        }
        return QJsonObject();
    };
    EXPECT_TRUE(ledgerRow(id).value("answer_lost").toBool());
    EXPECT_EQ(ledgerRow(id).value("currency").toInt(), 398);
    const QString other = settledSale();
    ASSERT_TRUE(api.injectFault("status", WireFault::Lost));
    poll(other);
    EXPECT_FALSE(ledgerRow(other).value("answer_lost").toBool());

    const Delivery control =
        api.handle({"POST", "/_sandbox/faults", {}, R"({"operation":"status","fault":"no-id"})"});
    EXPECT_EQ(control.status, 200);
    EXPECT_FALSE(poll(id).contains("payment_id"));
    EXPECT_TRUE(poll(id).contains("payment_id"));
}

TEST_F(MerchantApiTest, AFailedPollDeclinesOnlyAPendingPaymentAndSaysSoInTheLedger)
{
    const QString settled = settledSale();
    const QString pending = sale("pending", "t-pending").value("payment_id").toString();
    for (const QString& id : {settled, pending}) {
        ASSERT_TRUE(api.injectFault("status", WireFault::Failed));
        const QString expected = id == settled ? "SUCCESS" : "FAILED";
        EXPECT_EQ(poll(id).value("payment_status").toString(), expected);
        EXPECT_EQ(poll(id).value("payment_status").toString(), expected) << "as the ledger says";
    }
}

TEST(SandboxState, TokensAreMaskedInTheRequestLogWhateverTheBody)
{
    const QList<QPair<QByteArray, QByteArray>> cases = {
        {R"({"amount":1,"otp_data":"tok-1"})", R"({"amount":1,"otp_data":"***"})"},
        {R"([{"otp_data":"tok-1","api_key":"k"}])", R"([{"otp_data":"***","api_key":"***"}])"},
        {R"({"otp_data":"tok-1", "amount":)", R"({"otp_data":"***", "amount":)"},
        {R"({"otp_data":"tok-1)", R"({"otp_data":"***")"},
    };
    for (const auto& [body, shown] : cases) {
        EXPECT_EQ(sandbox::maskedBody(body), shown) << body.toStdString();
    }
}

TEST_F(MerchantApiTest, ControlApiApprovesAndDeclinesPendingPayments)
{
    const QString a = sale("pending", "a").value("payment_id").toString();
    const QString b = sale("pending", "b").value("payment_id").toString();
    EXPECT_EQ(api.handle({"POST", "/_sandbox/payments/" + a + "/approve", {}, {}}).status, 200);
    EXPECT_EQ(api.handle({"POST", "/_sandbox/payments/" + b + "/decline", {}, {}}).status, 200);
    EXPECT_EQ(api.handle({"POST", "/_sandbox/payments/" + b + "/approve", {}, {}}).status, 409);
    EXPECT_EQ(poll(a).value("payment_status").toString(), "SUCCESS");
    EXPECT_EQ(poll(b).value("payment_status").toString(), "FAILED");

    sale("secret-token-x", "c");
    const Delivery last = api.handle({"GET", "/_sandbox/requests/last", {}, {}});
    const QJsonObject seen = QJsonDocument::fromJson(last.body).object();
    EXPECT_TRUE(seen.value("headers").toObject().value("authorization").toString().endsWith(":***"))
        << "the signature is never handed out";
    EXPECT_TRUE(seen.value("body").toString().contains("\"otp_data\":\"***\""))
        << "nor the customer's token";
    EXPECT_FALSE(last.body.contains("secret-token-x"));
}

TEST(FaultQueueTest, AfterAndCountChooseWhichRequestsMeetAFault)
{
    struct Case {
        const char* name;
        QList<std::tuple<std::optional<Operation>, WireFault, int, int>> queued; // count, after
        QList<Operation> requests;
        QList<WireFault> met;
    };
    const auto S = Operation::Status, P = Operation::Payment;
    const auto none = WireFault::None, lost = WireFault::Lost, slow = WireFault::Slow;
    // clang-format off
    const Case cases[] = {
        {"the next one", {{S, lost, 1, 0}}, {S, S}, {lost, none}},
        {"the third one", {{S, lost, 1, 2}}, {S, S, S, S}, {none, none, lost, none}},
        {"two after one", {{S, lost, 2, 1}}, {S, S, S, S}, {none, lost, lost, none}},
        {"every one", {{S, lost, FaultQueue::Always, 0}}, {S, S, S}, {lost, lost, lost}},
        {"other operations pass", {{S, lost, 1, 0}}, {P, S}, {none, lost}},
        {"any operation", {{std::nullopt, slow, 2, 0}}, {P, S, S}, {slow, slow, none}},
        {"the earlier queued wins", {{S, lost, 1, 0}, {S, slow, 1, 0}}, {S, S}, {lost, slow}},
        {"a waiting fault counts the requests another met", {{S, lost, 1, 0}, {S, slow, 1, 1}},
         {S, S, S}, {lost, slow, none}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultQueue queue;
        for (const auto& [operation, fault, count, after] : c.queued) {
            ASSERT_TRUE(queue.add(operation, fault, count, after));
        }
        QList<WireFault> met;
        for (Operation request : c.requests) {
            met.append(queue.take(request));
        }
        EXPECT_EQ(met, c.met);
    }
    FaultQueue queue;
    EXPECT_FALSE(queue.add(S, lost, 0, 0));
    EXPECT_FALSE(queue.add(S, lost, -2, 0));
    EXPECT_FALSE(queue.add(S, lost, 1, -1));
    EXPECT_FALSE(queue.add(S, none, 1, 0));
}

TEST_F(MerchantApiTest, ControlApiServesTheDashboardAndWhatItShows)
{
    for (const char* file : {"/_sandbox/", "/_sandbox/dashboard.js", "/_sandbox/dashboard.css"}) {
        const Delivery page = api.handle({"GET", file, {}, {}});
        EXPECT_EQ(page.status, 200) << file;
        EXPECT_FALSE(page.body.isEmpty()) << file;
        EXPECT_FALSE(page.contentType.startsWith("application/json")) << file;
        EXPECT_TRUE(page.noFraming) << file << ": no other site shows it in a frame";
    }
    EXPECT_TRUE(api.handle({"GET", "/_sandbox/", {}, {}}).body.contains("/_sandbox/dashboard.js"));

    api.handle({"POST",
                "/_sandbox/faults",
                {},
                R"({"operation":"fiscal","fault":"lost","count":-1,"after":1})"});
    const auto json = [&](const char* path) {
        return QJsonDocument::fromJson(api.handle({"GET", path, {}, {}}).body).object();
    };
    EXPECT_EQ(
        json("/_sandbox/faults").value("faults").toArray().first().toObject(),
        (QJsonObject{{"operation", "fiscal"}, {"fault", "lost"}, {"count", -1}, {"after", 1}}));
    EXPECT_EQ(json("/_sandbox/config").value("secretKey").toString(), "sandbox-secret");

    sale("secret-token-y", "r1");
    sale("error", "r2");
    const QJsonArray requests = json("/_sandbox/requests").value("requests").toArray();
    ASSERT_EQ(requests.size(), 2);
    const QJsonObject newest = requests.first().toObject();
    EXPECT_EQ(newest.value("error_code").toInt(), 2001);
    EXPECT_EQ(newest.value("fault").toString(), "error");
    const QJsonObject first = requests.last().toObject();
    EXPECT_EQ(first.value("http_status").toInt(), 200);
    EXPECT_FALSE(first.value("payment_id").toString().isEmpty());
    EXPECT_TRUE(first.value("authorization").toString().endsWith(":***"));
    EXPECT_FALSE(QJsonDocument(requests).toJson().contains("secret-token-y"));
}

TEST_F(MerchantApiTest, TimelineReferenceAndTheRestOfClosedPayments)
{
    const auto json = [&](const QString& path) -> const QJsonObject {
        return QJsonDocument::fromJson(api.handle({"GET", path, {}, {}}).body).object();
    };
    const auto timeline = [&](const QString& id) -> const QJsonObject {
        return json("/_sandbox/payments/" + id + "/timeline");
    };
    const QString declined = sale("decline", "tl-1").value("payment_id").toString();
    poll(declined);
    sale("decline", "tl-1"); // the same transaction finds the same payment
    const QString reversed = settledSale();
    call("POST", "/payment/reversal", {{"service_id", 5001}, {"payment_id", reversed}});

    QStringList steps;
    for (const QJsonValue& entry : timeline(declined).value("requests").toArray()) {
        steps << entry["method"].toString() + ' ' + entry["path"].toString().mid(Base.size());
        EXPECT_TRUE(entry["body"].toString().isEmpty());
    }
    EXPECT_EQ(steps, (QStringList{"POST /payment", "GET /payment/status", "POST /payment"}));
    for (const QString& closed : {declined, reversed}) {
        EXPECT_EQ(timeline(closed)["payment"]["rest"].toInt(-1), 0);
    }
    EXPECT_EQ(api.handle({"GET", "/_sandbox/payments/1/timeline", {}, {}}).status, 404);
    // The request log carries the answer too.
    EXPECT_TRUE(
        json("/_sandbox/requests")["requests"][0]["response"].toString().contains("REVERSED"));

    // Every token the reference names is one the sandbox acts on.
    QStringList tokens;
    for (const QJsonValue& entry : json("/_sandbox/reference")["tokens"].toArray()) {
        tokens << entry["token"].toString();
    }
    EXPECT_TRUE(tokens.contains("settle-<n>") && tokens.contains("<fault>"));
    for (const QString& token : tokens.filter(QRegularExpression("^[a-z-]+$"))) {
        EXPECT_NE(scenarioName(scenarioForToken(token, 2)), "settle") << token.toStdString();
    }
}

TEST(ControlApiSite, RequestsFromAnotherSiteAreRefused)
{
    const SameSite site{"https", {"localhost", "127.0.0.1", "::1"}, 8443};
    struct Case {
        const char* host;
        const char* origin; // nullptr: no Origin header
        bool allowed;
    };
    // clang-format off
    const Case cases[] = {
        {"127.0.0.1:8443", nullptr, true},
        {"localhost:8443", "https://localhost:8443", true},
        {"LOCALHOST:8443", "https://localhost:8443", true},
        {"[::1]:8443", "https://[::1]:8443", true},
        {"127.0.0.1:8443", "https://evil.example", false},
        {"127.0.0.1:8443", "http://127.0.0.1:8443", false},  // another scheme
        {"127.0.0.1:8443", "https://localhost:8443", false}, // another host than the Host
        {"127.0.0.1:8443", "null", false},
        {"evil.example:8443", nullptr, false},               // a rebound name
        {"127.0.0.1:9999", nullptr, false},
        {"127.0.0.1", nullptr, false},                       // the default port, not ours
        {"", nullptr, false},
        {"user@127.0.0.1:8443", nullptr, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " / " + (c.origin ? c.origin : "-"));
        HttpRequest request{"POST", "/_sandbox/faults", {}, {}};
        if (*c.host) {
            request.headers.insert("host", c.host);
        }
        if (c.origin) {
            request.headers.insert("origin", c.origin);
        }
        QString reason;
        EXPECT_EQ(isSameSiteControlRequest(request, site, &reason), c.allowed);
        EXPECT_EQ(reason.isEmpty(), c.allowed);
    }
    EXPECT_TRUE(isControlPath("/_sandbox/faults?x=1"));
    EXPECT_FALSE(isControlPath("/_sandboxes"));
}

// One raw request to a plain-HTTP sandbox on loopback: what comes back.
QByteArray rawExchange(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.constData(), size_t(request.size()), 0) == request.size()) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, int(got));
        }
    }
    ::close(fd);
    return answer;
}

TEST(SandboxServerTest, TwoHostsOrTwoOriginsAreRefusedAndTheDashboardIsNeverFramed)
{
    sandbox::SandboxOptions options;
    options.logRequests = false;
    sandbox::SandboxServer server(options);
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n";
    const QByteArray page = rawExchange(server.port(), "GET /_sandbox/ HTTP/1.1\r\n" + host +
                                                           "Connection: close\r\n\r\n");
    EXPECT_TRUE(page.startsWith("HTTP/1.1 200")) << page.left(80).toStdString();
    EXPECT_TRUE(page.contains("X-Frame-Options: DENY\r\n"));
    EXPECT_TRUE(page.contains("Content-Security-Policy: frame-ancestors 'none'\r\n"));
    for (const QByteArray& doubled :
         {host + "Host: evil.example\r\n",
          host + "Origin: http://127.0.0.1\r\nOrigin: http://evil.example\r\n"}) {
        const QByteArray refused =
            rawExchange(server.port(), "GET /_sandbox/ledger HTTP/1.1\r\n" + doubled +
                                           "Connection: close\r\n\r\n");
        EXPECT_TRUE(refused.startsWith("HTTP/1.1 400")) << refused.left(80).toStdString();
        EXPECT_TRUE(refused.contains("more than one Host or Origin header"));
    }
}

// The sandbox README's table of faults names every fault the sandbox accepts, and no other.
TEST(SandboxReadme, TheFaultTableIsTheSandboxsOwnList)
{
    QFile readme(QStringLiteral(OXLENPAY_SOURCE_DIR) + "/sandbox/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const QString table = text.mid(text.indexOf("### Faults")).section("\n\n", 1, 1);
    static const QRegularExpression row("^\\| `([a-z0-9-]+)` \\|",
                                        QRegularExpression::MultilineOption);
    QStringList listed;
    for (auto match = row.globalMatch(table); match.hasNext();) {
        listed << match.next().captured(1);
    }
    QStringList accepted = sandbox::wireFaultNames().mid(1); // "none" is no fault
    listed.sort();
    accepted.sort();
    EXPECT_EQ(listed, accepted);
}

} // namespace
