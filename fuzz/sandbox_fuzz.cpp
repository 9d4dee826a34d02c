// The sandbox's request handling on arbitrary requests. An input is a request line
// ("METHOD target"), header lines, an empty line and the body. Invariants: no
// crash; every reply has a status from 200 to 599 and a JSON body when it says
// so; the ledger never holds a refund beyond a payment's amount.
#include "merchantapi.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static sandbox::MerchantApi* api = [] {
        sandbox::SandboxOptions options;
        options.slowDelayMs = 0;
        options.timestampToleranceMs = qint64(1)
                                       << 62; // fuzzed stamps pass, signatures still count
        return new sandbox::MerchantApi(options);
    }();
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    const int blank = input.indexOf("\n\n");
    const QList<QByteArray> head = input.left(blank < 0 ? input.size() : blank).split('\n');
    sandbox::HttpRequest request;
    const QString line = QString::fromUtf8(head.value(0));
    request.method = line.section(' ', 0, 0);
    request.target = line.section(' ', 1);
    for (int i = 1; i < head.size(); ++i) {
        const int colon = head[i].indexOf(':');
        if (colon > 0) {
            request.headers.insert(QString::fromUtf8(head[i].left(colon)).toLower(),
                                   QString::fromUtf8(head[i].mid(colon + 1).trimmed()));
        }
    }
    request.body = blank < 0 ? QByteArray() : input.mid(blank + 2);

    const sandbox::Delivery reply = api->handle(request);
    if (reply.status < 200 || reply.status > 599) {
        std::abort();
    }
    if (reply.contentType == "application/json" && !reply.body.isEmpty() &&
        QJsonDocument::fromJson(reply.body).isNull()) {
        std::abort(); // says JSON, is not
    }
    for (const QJsonValue& payment : api->ledgerJson().value("payments").toArray()) {
        const QJsonObject p = payment.toObject();
        if (p.value("refunded").toDouble() > p.value("amount").toDouble() ||
            p.value("refunded").toDouble() < 0) {
            std::abort();
        }
    }
    return 0;
}
