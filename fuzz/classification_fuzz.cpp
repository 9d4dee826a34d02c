// The client's classification of the provider's answers: a sale made through
// oxlenpay::Interface with every exchange answered from the input, in virtual
// time. An input is lines, one exchange each: a JSON answer, or "!lost" (sent,
// no answer) or "!fail" (refused before sending). Invariant: the sale is a
// success only if an answer reported "SUCCESS" for the sale's own payment (named,
// or the polled one left unnamed), and then the host gets that payment's id.
#include "interface.h"
#include "paymentprocessingrequest.h"
#include "restclient.h"
#include "virtualclock.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

QList<QByteArray> script;
int nextReply = 0;
QList<QJsonObject> seen; // the JSON answers the client received

class ScriptedClient : public RestClient {
public:
    void setTimeout(qint64) override {}
    bool send(int, const QUrl&, const QJsonDocument&, const QHash<QString, QString>&) override
    {
        m_line = script.value(nextReply++, "!lost");
        if (!m_line.startsWith('!')) {
            m_answer = QJsonDocument::fromJson(m_line);
            if (m_answer.isObject()) {
                seen.append(m_answer.object());
            }
        }
        return error() == 0;
    }
    int error() const override { return m_line.startsWith('!') ? ConnectionLost : NoError; }
    bool isUploadedButAborted() const override { return m_line == "!lost"; }
    tr::Tr errorText() const override { return tr::Tr("restClientConnectionLost", "lost"); }
    QJsonDocument jsonAnswer() const override { return m_answer; }

private:
    QByteArray m_line;
    QJsonDocument m_answer;
};

oxlenpay::Interface* configuredClient()
{
    QLoggingCategory::setFilterRules("oxlenpay.*=false\nstrova.*=false");
    static QTemporaryDir root;
    const QString conf = root.filePath("pomerin/cash/paysystems/oxlenpay/oxlenpay.conf");
    QDir().mkpath(QFileInfo(conf).absolutePath());
    QFile file(conf);
    file.open(QIODevice::WriteOnly);
    file.write("[OxlenPay]\nhost = https://provider.example\nmerchantId = till-01\n"
               "merchantServiceId = 5001\nmerchantServiceUserId = u\nmerchantSecretKey = k\n"
               "frequency = 1000\npayDuration = 5000\ntimeout = 1000\njournal =\n");
    file.close();
    qputenv("STROVA_ROOT", root.path().toUtf8());
    MockFactory<RestClient>::creator = [] {
        return QSharedPointer<RestClient>(new ScriptedClient);
    };
    auto* client = new oxlenpay::Interface;
    client->init();
    return client;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static oxlenpay::Interface* client = configuredClient();
    testsupport::VirtualClock clock;
    script = QByteArray(reinterpret_cast<const char*>(data), int(size)).split('\n');
    nextReply = 0;
    seen.clear();

    PaymentProcessingRequest sale;
    sale.type = PaymentProcessingRequest::Sale;
    sale.sum = 1500;
    sale.token = "fuzz";
    const auto result = client->payment(sale);
    if (!result.success) {
        return 0;
    }
    // The sale's payment is the one its own answer named.
    const QString paymentId =
        seen.isEmpty() ? QString() : seen.first().value("payment_id").toString();
    bool confirmed = false;
    for (const QJsonObject& answer : seen) {
        const QString id = answer.value("payment_id").toString();
        confirmed |= answer.value("payment_status").toString() == "SUCCESS" &&
                     (id == paymentId || (id.isEmpty() && &answer != &seen.first()));
    }
    if (paymentId.isEmpty() || !confirmed || result.getRrn() != paymentId) {
        std::abort(); // a success the provider never confirmed for this payment
    }
    return 0;
}
