// Answers no provider should send, met on a thread's first exchange and on a later
// one over a kept-alive connection: each must end as a failure with its message,
// never as a crash. Also built with AddressSanitizer (network_asan_tests).
#include "rawhttpserver.h"
#include "restclient.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <thread>

namespace {

using Then = RawHttpServer::Reply::Then;

const QByteArray Good = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                        "Content-Length: 2\r\n\r\n{}";

struct Malformed {
    const char* name;
    RawHttpServer::Reply reply;
    int error; // RestClient::Error
};

QByteArray repeated(const QByteArray& line, int times)
{
    QByteArray all;
    all.reserve(line.size() * times);
    for (int i = 0; i < times; ++i) {
        all += line;
    }
    return all;
}

const QList<Malformed>& cases()
{
    // clang-format off
    static const QList<Malformed> all = {
        {"folded headers",
         {"HTTP/1.1 200 OK\n\tAccess-Control-Allow-Origin: *\n\tConnection: Keep-Alive\n"
          "\tContent-Type: text/html; charset=utf-8\nDate: Wed, 10 May 2023 14:58:08 GMT\n\n{}",
          Then::Close}, RestClient::BadAnswer},
        {"a garbage status line", {"HTTQ/1.1 200 OK\r\n\r\n{}", Then::Close}, RestClient::BadAnswer},
        {"HTTP/0.9: a body without a status line", {"{\"payment_id\":\"1\"}", Then::Close},
         RestClient::BadAnswer},
        {"an HTTP/2 preface", {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", Then::Close},
         RestClient::BadAnswer},
        {"endless headers", {"HTTP/1.1 200 OK\r\n" + repeated("X-Filler: abcdefghij\r\n", 120000),
         Then::Close}, RestClient::ConnectionLost},
        {"one huge header", {"HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(300000, 'x') + "\r\n\r\n",
         Then::Close}, RestClient::BadAnswer},
        {"a Content-Length that lies", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{}",
         Then::Close}, RestClient::ConnectionLost},
        {"a broken chunk", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n",
         Then::Close}, RestClient::ConnectionLost},
        {"a reset in the middle of the body",
         {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"payment_id\":", Then::Reset},
         RestClient::ConnectionLost},
        {"nothing at all", {"", Then::Close}, RestClient::ConnectionLost},
        {"a status line without a status (found by fuzzing)",
         {"HTTP/21ing: shunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", Then::Close},
         RestClient::BadAnswer},
    };
    // clang-format on
    return all;
}

struct Outcome {
    int error = -1;
    bool uploadedButAborted = false;
    QString key;
};

Outcome exchange(const RawHttpServer& server)
{
    RestClient client;
    client.setTimeout(5000);
    client.send(2, QUrl(server.url("/payment/status")), QJsonDocument(QJsonObject{{"a", 1}}), {});
    return {client.error(), client.isUploadedButAborted(), client.errorText().key()};
}

class MalformedAnswer : public ::testing::TestWithParam<bool> {};

TEST_P(MalformedAnswer, EndsAsAFailureWithItsMessage)
{
    const bool later = GetParam();
    for (const Malformed& c : cases()) {
        SCOPED_TRACE(std::string(c.name) + (later ? ", on a later exchange" : ", first exchange"));
        RawHttpServer server;
        Outcome outcome;
        // A thread of its own: its first exchange is the thread's first.
        std::thread([&] {
            if (later) {
                server.script({{Good}, c.reply});
                ASSERT_EQ(exchange(server).error, 0);
            } else {
                server.script({c.reply});
            }
            outcome = exchange(server);
        }).join();
        EXPECT_EQ(outcome.error, c.error) << outcome.key.toStdString();
        EXPECT_TRUE(outcome.key.startsWith("restClient")) << outcome.key.toStdString();
        EXPECT_TRUE(outcome.uploadedButAborted) << "the request had gone out whole";
        // (A kept-alive connection that closes without a word makes libcurl send an
        // idempotent request once more on a new one.)
        if (later && !c.reply.bytes.isEmpty()) {
            EXPECT_EQ(server.connections(), 1) << "the second exchange reused the connection";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FirstAndLater, MalformedAnswer, ::testing::Bool());

// Plain http goes only to this machine, and never by way of a proxy: the signature and the
// token would leave it.
TEST(Proxy, LoopbackHttpNeverGoesThroughOne)
{
    RawHttpServer server;
    server.script({{Good, Then::Close}});
    for (const char* variable : {"http_proxy", "ALL_PROXY"}) {
        qputenv(variable, "http://127.0.0.1:9"); // nothing listens there
    }
    RestClient client;
    client.setTimeout(5000);
    client.send(2, QUrl(server.url("/payment/status")), QJsonDocument(QJsonObject{{"a", 1}}), {});
    qunsetenv("http_proxy");
    qunsetenv("ALL_PROXY");
    EXPECT_EQ(client.error(), 0) << client.errorText().key().toStdString();
    EXPECT_EQ(server.requests(), 1);
}

// A status other than 2xx is never a success, whatever its body says; only the provider's
// own error object is an answer, and only a 5xx after the whole request may hide one.
TEST(ErrorStatus, IsAnErrorAnswerALostAnswerOrAFailure)
{
    auto reply = [](const QByteArray& status, const QByteArray& type, const QByteArray& body) {
        return RawHttpServer::Reply{"HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                                        "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                        "\r\n\r\n" + body,
                                    Then::Close};
    };
    const QByteArray success = R"({"error_code":0,"payment_status":"SUCCESS","payment_id":"p"})";
    const QByteArray refusal = R"({"error_code":1001,"error_message":"bad signature"})";
    struct Case {
        const char* name;
        RawHttpServer::Reply reply;
        int error;
        bool uploadedButAborted;
    };
    // clang-format off
    const QList<Case> cases = {
        {"the provider's error object on a 401", reply("401 Unauthorized", "application/json", refusal), 0, false},
        {"the provider's error object on a 500", reply("500 Internal", "application/json", refusal), 0, false},
        {"a gateway's 502 page", reply("502 Bad Gateway", "text/html", "<html>Bad gateway</html>"), RestClient::HttpStatus, true},
        {"a gateway's 504 without a body", reply("504 Gateway Timeout", "text/html", ""), RestClient::HttpStatus, true},
        {"a 500 carrying a success", reply("500 Internal", "application/json", success), RestClient::HttpStatus, true},
        {"a redirect carrying a success", reply("302 Found", "application/json", success), RestClient::HttpStatus, false},
        {"a proxy's 403 page", reply("403 Forbidden", "text/html", "<html>denied</html>"), RestClient::HttpStatus, false},
        {"a 404 with error_code 0", reply("404 Not Found", "application/json", R"({"error_code":0})"), RestClient::HttpStatus, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawHttpServer server;
        server.script({c.reply});
        RestClient client;
        client.setTimeout(5000);
        client.send(4, QUrl(server.url("/payment")), QJsonDocument(QJsonObject{{"a", 1}}), {});
        EXPECT_EQ(client.error(), c.error);
        EXPECT_EQ(client.isUploadedButAborted(), c.uploadedButAborted);
        EXPECT_EQ(client.jsonAnswer().isNull(), c.error != 0);
    }
}

} // namespace
