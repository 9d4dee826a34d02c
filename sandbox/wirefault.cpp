#include "wirefault.h"

#include "sandboxoptions.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace sandbox {

const QStringList& wireFaultNames()
{
    static const QStringList names = {
        "none",    "error",    "http-500",     "failed", "lost",    "slow",
        "trickle", "not-json", "array",        "empty",  "no-id",   "success-no-id",
        "huge",    "reset",    "empty-object", "folded", "gateway",
    };
    return names;
}

bool wireFaultFromName(const QString& name, WireFault* fault)
{
    const int index = wireFaultNames().indexOf(name);
    if (index <= 0) {
        return false; // "none" is no fault to queue
    }
    *fault = WireFault(index);
    return true;
}

QString wireFaultName(WireFault fault)
{
    return wireFaultNames().value(int(fault));
}

bool carriesOut(WireFault fault)
{
    return fault != WireFault::ProviderError && fault != WireFault::ServerError &&
           fault != WireFault::Reset;
}

Delivery jsonReply(int httpStatus, const QJsonObject& object)
{
    Delivery delivery;
    delivery.status = httpStatus;
    delivery.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return delivery;
}

Delivery shapedReply(int httpStatus, const QJsonObject& answer, WireFault fault,
                     const SandboxOptions& options)
{
    auto withChanges = [&](const QJsonObject& changes, const QStringList& removed = {}) {
        QJsonObject changed = answer;
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            changed.insert(it.key(), it.value());
        }
        for (const QString& key : removed) {
            changed.remove(key);
        }
        return jsonReply(httpStatus, changed);
    };
    Delivery delivery = jsonReply(httpStatus, answer);
    switch (fault) {
    case WireFault::None:
        break;
    case WireFault::ProviderError:
        delivery = jsonReply(200, {{"error_code", 2001},
                                   {"error_message", "Недостаточно средств на счете клиента"}});
        break;
    case WireFault::ServerError:
        delivery.status = 500;
        delivery.body = "Internal Server Error";
        delivery.contentType = "text/plain";
        break;
    case WireFault::Failed:
        delivery = withChanges(
            {{"payment_status", "FAILED"}, {"error_message", "Клиент отклонил оплату"}});
        break;
    case WireFault::Lost:
        delivery.mode = Delivery::Mode::Lost;
        break;
    case WireFault::Slow:
        delivery.mode = Delivery::Mode::Slow;
        delivery.delayMs = options.slowDelayMs;
        break;
    case WireFault::Trickle:
        delivery.mode = Delivery::Mode::Trickle;
        delivery.delayMs = options.trickleByteDelayMs;
        break;
    case WireFault::NotJson:
        delivery.body = "<html><body>Bad gateway</body></html>";
        delivery.contentType = "text/html";
        break;
    case WireFault::JsonArray:
        delivery.body = QJsonDocument(QJsonArray{answer}).toJson(QJsonDocument::Compact);
        break;
    case WireFault::EmptyBody:
        delivery.body.clear();
        break;
    case WireFault::WithoutId:
        delivery = withChanges({}, {"payment_id"});
        break;
    case WireFault::SuccessWithoutId:
        delivery = withChanges({{"error_code", 0}, {"payment_status", "SUCCESS"}},
                               {"payment_id", "error_message"});
        delivery.status = 200;
        break;
    case WireFault::Reset:
        delivery.mode = Delivery::Mode::Reset;
        break;
    case WireFault::EmptyObject:
        delivery.body = "{}";
        break;
    case WireFault::Folded:
        delivery.raw =
            "HTTP/1.1 200 OK\n\tAccess-Control-Allow-Origin: *\n\tConnection: Keep-Alive\n"
            "\tContent-Type: text/html; charset=utf-8\n"
            "Date: Wed, 10 May 2023 14:58:08 GMT\n\n" +
            delivery.body;
        break;
    case WireFault::Gateway:
        delivery.status = 502;
        delivery.body = "<html><head><title>502 Bad Gateway</title></head><body><center><h1>502 "
                        "Bad Gateway</h1></center></body></html>";
        delivery.contentType = "text/html";
        break;
    case WireFault::Huge:
        delivery = withChanges({{"padding", QString(5 * 1024 * 1024, 'x')}});
        break;
    }
    return delivery;
}

} // namespace sandbox
