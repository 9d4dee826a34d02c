#include "clientfixture.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>

#include <thread>

namespace {

using namespace testsupport;
using oxlenpay::Interface;

class UrlTest : public ClientFixture {
protected:
    QString url(const QByteArray& host, const QByteArray& path,
                Interface::Method method = Interface::Payment)
    {
        QByteArray ini = "[OxlenPay]\n";
        if (!host.isNull()) {
            ini += "host = " + host + "\n";
        }
        if (!path.isNull()) {
            ini += "path = " + path + "\n";
        }
        writeConfig(ini);
        client.init();
        return client.getUrl(method).toString();
    }
};

TEST_F(UrlTest, MethodsAndDefaults)
{
    const QString base = "https://api.oxlenpay.example/api/quindo-pay/merchant";
    EXPECT_EQ(url({}, {}, Interface::Payment), base + "/payment");
    EXPECT_EQ(url({}, {}, Interface::PaymentStatus), base + "/payment/status");
    EXPECT_EQ(url({}, {}, Interface::Reversal), base + "/payment/reversal");
    EXPECT_EQ(url({}, {}, Interface::PartialReversal), base + "/partial/reversal");
    EXPECT_EQ(url({}, {}, Interface::Fiscal), base + "/payment/fiscal");
    EXPECT_EQ(url({}, {}, Interface::Method(5)), base);
    EXPECT_EQ(url({}, {}, Interface::Method(-1)), base);
}

TEST_F(UrlTest, HostsAndPathsWithAndWithoutSlashes)
{
    EXPECT_EQ(url("https://pay.test", "/api/v1"), "https://pay.test/api/v1/payment");
    EXPECT_EQ(url("https://pay.test/", "/api/v1/"), "https://pay.test/api/v1/payment");
    EXPECT_EQ(url("https://pay.test:8443", "api/v1"), "https://pay.test:8443/api/v1/payment");
    // An absolute path replaces the host's own path; a relative one is merged as RFC 3986 does.
    EXPECT_EQ(url("https://pay.test/gateway", "/api"), "https://pay.test/api/payment");
    EXPECT_EQ(url("https://pay.test/gateway/", "api"), "https://pay.test/api/payment")
        << "the host's trailing slash is stripped before the merge";
    EXPECT_EQ(url("https://pay.test/a/b", "c"), "https://pay.test/a/c/payment");
    EXPECT_EQ(url("https://pay.test", ""), "https://pay.test/payment");
    EXPECT_EQ(url("https://pay.test", "/"), "https://pay.test/payment");
    EXPECT_EQ(url("https://pay.test", "/with space"), "https://pay.test/with space/payment");
    EXPECT_EQ(client.getUrl(Interface::Payment).toEncoded(),
              "https://pay.test/with%20space/payment");
    EXPECT_EQ(url("http://127.0.0.1:9000", "/api/quindo-pay/merchant", Interface::Method(9)),
              "http://127.0.0.1:9000/api/quindo-pay/merchant");
    // A path that names a host of its own would take the requests elsewhere: none is made,
    // and nothing is sent.
    EXPECT_EQ(url("https://pay.test", "//evil.example/api"), "");
    EXPECT_EQ(url("https://pay.test", "https://evil.example/api"), "");
    ScriptedTransport transport;
    const auto refused = client.sendRequest(Interface::Payment, {});
    EXPECT_EQ(refused.message.key(), "requestInvalidPath");
    expectRussian(refused.message, QString());
    EXPECT_TRUE(transport.sent().isEmpty());
}

TEST_F(ClientFixture, HeadersAreSignedWithAFreshTimestamp)
{
    makeClient();
    const auto first = client.getHeaders();
    ASSERT_EQ(first.size(), 3);
    EXPECT_EQ(first.value("Accept"), "application/json");
    EXPECT_EQ(first.value("Content-Type"), "application/json");
    const QStringList parts = first.value("Authorization").split(':');
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0], "merchant-user");
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{40}$").match(parts[1]).hasMatch());
    const QByteArray expected =
        QCryptographicHash::hash(parts[2].toUtf8() + "sandbox-secret", QCryptographicHash::Sha1)
            .toHex();
    EXPECT_EQ(parts[1].toUtf8(), expected);
    const qint64 stamp = parts[2].toLongLong();
    EXPECT_LE(std::llabs(stamp - QDateTime::currentMSecsSinceEpoch()), 1000);

    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_NE(client.getHeaders().value("Authorization"), first.value("Authorization"));
}

TEST_F(ClientFixture, UuidsAreFreshVersionFour)
{
    const QString a = client.getUuid();
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                   "[0-9a-f]{12}$")
                    .match(a)
                    .hasMatch())
        << a.toStdString();
    EXPECT_NE(a, client.getUuid());
}

class ClassificationTest : public ClientFixture {
protected:
    void SetUp() override
    {
        ClientFixture::SetUp();
        makeClient();
    }
    Interface::RequestResult send(const ScriptedReply& reply,
                                  Interface::Method method = Interface::Payment)
    {
        transport.script({reply});
        return client.sendRequest(method, {{"x", 1}});
    }
    QStringList lines() { return log.of("oxlenpay"); }
};

TEST_F(ClassificationTest, MethodCodesAndOneClientPerRequest)
{
    for (int m = 0; m <= 5; ++m) {
        send(ScriptedReply::json(answer("SUCCESS")), Interface::Method(m));
        EXPECT_EQ(transport.sent().last().operation, m == Interface::PaymentStatus ? 2 : 4);
    }
    EXPECT_EQ(transport.sent().size(), 6);
    EXPECT_EQ(transport.sent().last().body, QJsonObject({{"x", 1}}));
    EXPECT_EQ(transport.sent().last().headers.size(), 3);
}

TEST_F(ClassificationTest, LostAnswerFailsOnlyAPayment)
{
    const auto payment = send(ScriptedReply::lost(), Interface::Payment);
    EXPECT_FALSE(payment.success);
    EXPECT_EQ(payment.message, tr::Tr("requestUploadedButAborted",
                                      "Данные переданы на сервер, но ответ не был получен"));
    EXPECT_TRUE(payment.data.isEmpty());
    for (auto method : {Interface::PaymentStatus, Interface::Reversal, Interface::PartialReversal,
                        Interface::Fiscal}) {
        const auto other = send(ScriptedReply::lost(), method);
        EXPECT_TRUE(other.success);
        EXPECT_TRUE(other.message.isEmpty());
        EXPECT_TRUE(other.data.isEmpty());
    }
    const QString warning = "WARN Данные переданы на сервер, но ответ не был получен";
    EXPECT_EQ(lines(), QStringList({warning, warning, warning, warning, warning}));
}

TEST_F(ClassificationTest, PlainFailureCarriesTheTransportText)
{
    const tr::Tr text("restClientConnectFailed", "Нет связи с сервером платежной системы");
    const auto result = send(ScriptedReply::failure(text));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorCode, 0);
    EXPECT_EQ(result.message, text);
    EXPECT_TRUE(result.data.isEmpty());
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(ClassificationTest, AnswersWithoutAnObjectAreIncorrect)
{
    const QList<QJsonDocument> documents = {QJsonDocument(), QJsonDocument(QJsonObject{}),
                                            QJsonDocument(QJsonArray{answer("SUCCESS")})};
    for (const QJsonDocument& document : documents) {
        const auto result = send(ScriptedReply::document(document));
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.message,
                  tr::Tr("requestIncorrectAnswer", "Некорректный ответ от сервера"));
        EXPECT_TRUE(result.data.isEmpty());
    }
    const QString error = "ERROR Некорректный ответ от сервера (нет данных)";
    EXPECT_EQ(lines(), QStringList({error, error, error}));
}

TEST_F(ClassificationTest, ProviderErrorCode)
{
    QJsonObject refused = answer("PENDING");
    refused["error_code"] = 2001;
    refused["error_message"] = "Недостаточно средств";
    const auto result = send(ScriptedReply::json(refused));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorCode, 2001);
    EXPECT_EQ(result.message, tr::Tr("undefined", "Недостаточно средств"));
    EXPECT_EQ(result.data, refused);
    EXPECT_EQ(result.getPaymentStatus(), "PENDING");
    EXPECT_EQ(result.getRrn(), "pay-1");
    EXPECT_EQ(lines(),
              QStringList{"ERROR Сервер вернул сообщение об ошибке: Недостаточно средств"});

    QJsonObject withoutText{{"error_code", 7}};
    const auto bare = send(ScriptedReply::json(withoutText));
    EXPECT_EQ(bare.message, tr::Tr("undefined", ""));
    EXPECT_FALSE(bare.message.isEmpty());
}

TEST_F(ClassificationTest, ErrorCodesThatCountAsNone)
{
    for (const QJsonValue& code : {QJsonValue(0), QJsonValue("1003"), QJsonValue(2.5),
                                   QJsonValue(QJsonValue::Null), QJsonValue(true)}) {
        QJsonObject object = answer("SUCCESS");
        object["error_code"] = code;
        const auto result = send(ScriptedReply::json(object));
        EXPECT_TRUE(result.success);
        EXPECT_EQ(result.errorCode, 0);
        EXPECT_TRUE(result.message.isEmpty());
        EXPECT_EQ(result.data, object);
    }
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(ClassificationTest, AccessorsReadOnlyStrings)
{
    QJsonObject object{
        {"payment_id", 12345}, {"payment_status", "SUCCESS"}, {"client_phone_number", 7701}};
    const auto result = send(ScriptedReply::json(object));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.getRrn(), "");
    EXPECT_EQ(result.getPhone(), "");
    EXPECT_EQ(result.getPaymentStatus(), "SUCCESS");
}

TEST(RequestResult, EqualityComparesEveryField)
{
    Interface::RequestResult a;
    a.success = true;
    a.data = {{"payment_id", "1"}};
    Interface::RequestResult b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, a);
    b.errorCode = 1;
    EXPECT_NE(a, b);
    b = a;
    b.message = tr::Tr("k", "t");
    EXPECT_NE(a, b);
    b = a;
    b.data.insert("x", 1);
    EXPECT_NE(a, b);
    b = a;
    b.success = false;
    EXPECT_NE(a, b);
}

} // namespace
