#pragma once

#include "delivery.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sandbox {

struct SandboxOptions;

/// What happens to a merchant request or its answer on the way, whatever the sale.
enum class WireFault {
    None,
    ProviderError,    // refused with error_code 2001; not carried out
    ServerError,      // refused with HTTP 500 and a plain-text body; not carried out
    Failed,           // the provider declines: "FAILED" in the answer; a sale or poll ends so
    Lost,             // carried out, then the connection closes without an answer
    Slow,             // carried out, answered after a delay
    Trickle,          // carried out, answered a byte at a time
    NotJson,          // carried out, answered with an HTML page
    JsonArray,        // carried out, answered with a JSON array
    EmptyBody,        // carried out, answered with an empty body
    WithoutId,        // carried out, answered without "payment_id"
    SuccessWithoutId, // carried out (a pending sale settles), "SUCCESS" without "payment_id"
    Huge,             // carried out, answered with 5 MiB of JSON
    Reset,            // not carried out: the connection is reset before any answer
    EmptyObject,      // carried out, answered with an empty JSON object
    Folded,           // carried out, answered with folded (tab-led) header lines
    Gateway,          // carried out, then a gateway answers 502 with an HTML page
};

/// The names of the control API and of the tokens, in the order of the enumeration.
const QStringList& wireFaultNames();
/// What the fault does, for the dashboard's reference.
QString wireFaultEffect(WireFault fault);
bool wireFaultFromName(const QString& name, WireFault* fault);
QString wireFaultName(WireFault fault);
/// False for the faults that refuse the request before it is carried out.
bool carriesOut(WireFault fault);

/// The reply as the fault sends it: `answer` is what the operation answered.
Delivery shapedReply(int httpStatus, const QJsonObject& answer, WireFault fault,
                     const SandboxOptions& options);
/// A plain JSON reply.
Delivery jsonReply(int httpStatus, const QJsonObject& object);

} // namespace sandbox
