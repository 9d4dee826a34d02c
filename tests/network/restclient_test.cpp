#include "curlexchange.h"
#include "restclient.h"
#include "sandboxfixture.h"

#include <QJsonArray>
#include <QJsonObject>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using sandbox::WireFault;
using testsupport::RunningSandbox;

constexpr int Get = 2;
constexpr int Post = 4;

QJsonObject sale(const QString& token, const QString& transaction)
{
    return {{"amount", 1500},
            {"service_id", 5001},
            {"otp_data", token},
            {"cashbox_code", "till-01"},
            {"transaction_id", transaction}};
}

class RestClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sandbox = new RunningSandbox(); }
    static void TearDownTestSuite() { delete sandbox; }
    void SetUp() override { sandbox->api().handle({"POST", "/_sandbox/reset", {}, {}}); }

    QUrl url(const QString& suffix) const { return QUrl(sandbox->baseUrl() + suffix); }

    // One exchange with a fresh client, as the provider client makes it.
    std::unique_ptr<RestClient> exchange(int operation, const QString& suffix,
                                         const QJsonObject& body, qint64 timeout = 5000)
    {
        auto client = std::make_unique<RestClient>();
        client->setTimeout(timeout);
        client->send(operation, url(suffix), QJsonDocument(body), sandbox->signedHeaders());
        return client;
    }

    static RunningSandbox* sandbox;
};

RunningSandbox* RestClientTest::sandbox = nullptr;

TEST_F(RestClientTest, PostAndGetCarryTheirBodiesIntact)
{
    auto post = exchange(Post, "/payment", sale("settle-1", "t-1"));
    ASSERT_EQ(post->error(), 0) << post->errorText().ru().toStdString();
    EXPECT_EQ(post->httpStatus(), 200);
    const QString paymentId = post->jsonAnswer().object().value("payment_id").toString();
    EXPECT_FALSE(paymentId.isEmpty());
    sandbox::HttpRequest received = sandbox->api().lastRequest();
    EXPECT_EQ(received.method, "POST");
    EXPECT_EQ(QJsonDocument::fromJson(received.body).object(), sale("settle-1", "t-1"));
    EXPECT_FALSE(received.body.contains('\n')) << "compact JSON";
    EXPECT_EQ(received.headers.value("content-length").toInt(), received.body.size());

    const QJsonObject status{{"service_id", 5001}, {"payment_id", paymentId}};
    auto get = exchange(Get, "/payment/status", status);
    ASSERT_EQ(get->error(), 0);
    received = sandbox->api().lastRequest();
    EXPECT_EQ(received.method, "GET");
    EXPECT_EQ(QJsonDocument::fromJson(received.body).object(), status);
    EXPECT_EQ(received.headers.value("content-type"), "application/json");
    EXPECT_EQ(get->jsonAnswer().object().value("payment_status").toString(), "SUCCESS");
}

TEST_F(RestClientTest, LostAnswerAfterTheBodyIsReportedAndNeverResent)
{
    sandbox->api().injectFault("payment", WireFault::Lost);
    auto client = exchange(Post, "/payment", sale("settle-1", "t-lost"));
    EXPECT_NE(client->error(), 0);
    EXPECT_TRUE(client->isUploadedButAborted());
    EXPECT_EQ(client->errorText().key(), "restClientConnectionLost");
    EXPECT_EQ(sandbox->received("POST /api/quindo-pay/merchant/payment"), 1);
    EXPECT_EQ(sandbox->api().ledgerJson().value("payments").toArray().size(), 1);
}

TEST_F(RestClientTest, AnswersThatAreNotJsonObjects)
{
    for (WireFault fault : {WireFault::NotJson, WireFault::JsonArray, WireFault::EmptyBody}) {
        sandbox->api().injectFault("any", fault);
        auto client = exchange(Post, "/payment", sale("settle-1", "t-shape"));
        EXPECT_EQ(client->error(), 0) << "an answer came";
        EXPECT_FALSE(client->jsonAnswer().isObject());
        EXPECT_EQ(client->jsonAnswer().isArray(), fault == WireFault::JsonArray);
    }
}

TEST_F(RestClientTest, ErrorStatusWithJsonIsAnAnswerWithoutIsAFailure)
{
    // A bad signature: HTTP 401 with the provider's JSON error.
    auto client = std::make_unique<RestClient>();
    auto headers = sandbox->signedHeaders();
    headers["Authorization"] = "merchant-user:0000:1";
    client->send(Post, url("/payment"), QJsonDocument(sale("x", "t")), headers);
    EXPECT_EQ(client->error(), 0);
    EXPECT_EQ(client->httpStatus(), 401);
    EXPECT_EQ(client->jsonAnswer().object().value("error_code").toInt(), 1001);

    // A gateway's page after the provider carried the payment out: its answer was lost.
    sandbox->api().injectFault("payment", WireFault::Gateway);
    auto gateway = exchange(Post, "/payment", sale("settle-1", "t2"));
    EXPECT_EQ(gateway->error(), RestClient::HttpStatus);
    EXPECT_TRUE(gateway->isUploadedButAborted());
    EXPECT_TRUE(gateway->errorText().ru().contains("502"));
    EXPECT_TRUE(gateway->jsonAnswer().isNull());
}

TEST_F(RestClientTest, OversizedAnswerIsRefused)
{
    sandbox->api().injectFault("payment", WireFault::Huge);
    auto client = exchange(Post, "/payment", sale("settle-1", "t-huge"));
    EXPECT_EQ(client->error(), RestClient::AnswerTooLarge);
    EXPECT_EQ(client->errorText().key(), "restClientAnswerTooLarge");
    EXPECT_TRUE(client->isUploadedButAborted()) << "the payment was carried out";
    EXPECT_TRUE(client->jsonAnswer().isNull());
}

TEST_F(RestClientTest, TimeoutBoundsTheWholeExchange)
{
    using namespace std::chrono;
    for (WireFault fault : {WireFault::Slow, WireFault::Trickle}) {
        sandbox->api().injectFault("payment", fault);
        const auto start = steady_clock::now();
        auto client = exchange(Post, "/payment", sale("settle-1", "t-slow"), 400);
        const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - start).count();
        EXPECT_EQ(client->error(), RestClient::Timeout);
        EXPECT_EQ(client->errorText().key(), "restClientTimeout");
        EXPECT_GE(elapsed, 350);
        EXPECT_LT(elapsed, 1200);
        // Sent whole, then no complete answer: whether a slow answer never began or a
        // trickle was cut off, the server may have carried the request out.
        EXPECT_TRUE(client->isUploadedButAborted());
    }
}

TEST_F(RestClientTest, TrickledAnswerWithinTheTimeoutArrives)
{
    sandbox->api().injectFault("payment", WireFault::Trickle);
    auto client = exchange(Post, "/payment", sale("settle-1", "t-trickle"), 20000);
    ASSERT_EQ(client->error(), 0);
    EXPECT_EQ(client->jsonAnswer().object().value("payment_status").toString(), "PENDING");
}

TEST_F(RestClientTest, StatusPollsReuseTheConnectionPostsDoNot)
{
    auto post = exchange(Post, "/payment", sale("pending", "t-reuse"));
    const QString id = post->jsonAnswer().object().value("payment_id").toString();
    const QJsonObject status{{"service_id", 5001}, {"payment_id", id}};
    exchange(Get, "/payment/status", status);
    const int afterFirstGet = sandbox->connections();
    exchange(Get, "/payment/status", status);
    exchange(Get, "/payment/status", status);
    EXPECT_EQ(sandbox->connections(), afterFirstGet);

    exchange(Post, "/payment", sale("pending", "t-reuse-2"));
    exchange(Post, "/payment", sale("pending", "t-reuse-3"));
    EXPECT_EQ(sandbox->connections(), afterFirstGet + 2);
}

TEST_F(RestClientTest, RefusedPortAndUntrustedCertificate)
{
    auto refused = std::make_unique<RestClient>();
    refused->setTimeout(2000);
    refused->send(Post, QUrl("https://127.0.0.1:1/payment"), QJsonDocument(QJsonObject{}), {});
    EXPECT_EQ(refused->error(), RestClient::ConnectFailed);
    EXPECT_FALSE(refused->isUploadedButAborted());
    EXPECT_EQ(refused->errorText().key(), "restClientConnectFailed");

    RunningSandbox untrusted(RunningSandbox::defaultOptions(), false);
    auto client = std::make_unique<RestClient>();
    client->setTimeout(2000);
    client->send(Post, QUrl(untrusted.baseUrl() + "/payment"), QJsonDocument(sale("a", "b")),
                 untrusted.signedHeaders());
    EXPECT_EQ(client->error(), RestClient::TlsFailed);
    EXPECT_EQ(client->errorText().key(), "restClientTlsFailed");
    EXPECT_EQ(untrusted.received("POST /api/quindo-pay/merchant/payment"), 0);
}

TEST_F(RestClientTest, PlainHttpOnlyForLoopback)
{
    RestClient remote;
    remote.send(Post, QUrl("http://pay.example.com/payment"), QJsonDocument(QJsonObject{}), {});
    EXPECT_EQ(remote.error(), RestClient::InsecureUrl);
    EXPECT_EQ(remote.errorText().key(), "restClientInsecureUrl");

    RestClient lookalike;
    lookalike.send(Post, QUrl("http://127.0.0.1.example.com/x"), QJsonDocument(), {});
    EXPECT_EQ(lookalike.error(), RestClient::InsecureUrl);

    RestClient scheme;
    scheme.send(Post, QUrl("ftp://127.0.0.1/x"), QJsonDocument(), {});
    EXPECT_EQ(scheme.error(), RestClient::InvalidUrl);

    auto options = RunningSandbox::defaultOptions();
    options.tls = sandbox::SandboxOptions::Tls::None;
    RunningSandbox plain(options);
    RestClient local;
    local.setTimeout(5000);
    local.send(Post, QUrl(plain.baseUrl() + "/payment"), QJsonDocument(sale("settle-1", "p")),
               plain.signedHeaders());
    EXPECT_EQ(local.error(), 0);
    EXPECT_EQ(local.jsonAnswer().object().value("error_code").toInt(-1), 0);
}

TEST(RestClientErrors, EveryFailureHasItsOwnKeyAndNoSecret)
{
    // Host lookups are not made in tests (no name server is ours to ask): the
    // mapping of libcurl's result is checked here instead.
    EXPECT_EQ(curlErrorKind(CURLE_COULDNT_RESOLVE_HOST), RestClient::HostNotFound);
    EXPECT_EQ(curlErrorKind(CURLE_COULDNT_CONNECT), RestClient::ConnectFailed);
    EXPECT_EQ(curlErrorKind(CURLE_OPERATION_TIMEDOUT), RestClient::Timeout);
    EXPECT_EQ(curlErrorKind(CURLE_PEER_FAILED_VERIFICATION), RestClient::TlsFailed);
    EXPECT_EQ(curlErrorKind(CURLE_GOT_NOTHING), RestClient::ConnectionLost);
    EXPECT_EQ(curlErrorKind(CURLE_RECV_ERROR), RestClient::ConnectionLost);
}

TEST(RestClientFactory, DefaultCreatorMakesARealClient)
{
    QSharedPointer<RestClient> client = MockFactory<RestClient>::creator();
    ASSERT_FALSE(client.isNull());
    EXPECT_NE(client, MockFactory<RestClient>::creator());
}

} // namespace
