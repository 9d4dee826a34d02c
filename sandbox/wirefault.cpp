#include "wirefault.h"

#include "sandboxoptions.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <iterator>

namespace sandbox {

namespace {

struct FaultEntry {
    const char* name;
    const char* effect;
};

// In the order of the enumeration. The dashboard's reference is made from this table.
constexpr FaultEntry Faults[] = {
    {"none", "no fault"},
    {"error", "refused with error_code 2001 and HTTP 200; not carried out"},
    {"http-500", "refused with HTTP 500 and a plain-text body; not carried out"},
    {"failed", "the provider declines: \"FAILED\" in the answer; a sale or poll ends so"},
    {"lost", "carried out, then the connection closes without an answer"},
    {"slow", "carried out, answered after the slow delay (--slow-ms)"},
    {"trickle", "carried out, answered a byte at a time"},
    {"not-json", "carried out, answered with an HTML page"},
    {"array", "carried out, answered with a JSON array"},
    {"empty", "carried out, answered with an empty body"},
    {"no-id", "carried out, answered without \"payment_id\""},
    {"success-no-id", "carried out (a pending sale settles), \"SUCCESS\" without \"payment_id\""},
    {"huge", "carried out, answered with 5 MiB of JSON"},
    {"reset", "not carried out: the connection is reset before any answer"},
    {"empty-object", "carried out, answered with an empty JSON object"},
    {"folded", "carried out, answered with folded (tab-led) header lines"},
    {"gateway", "carried out, then a gateway answers 502 with an HTML page"},
};
static_assert(std::size(Faults) == std::size_t(WireFault::Gateway) + 1, "one entry per wire fault");

} // namespace

const QStringList& wireFaultNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const FaultEntry& entry : Faults) {
            list.append(entry.name);
        }
        return list;
    }();
    return names;
}

QString wireFaultEffect(WireFault fault)
{
    return QString::fromUtf8(Faults[std::size_t(fault)].effect);
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
