#pragma once

#include "delivery.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sandbox {

struct SandboxOptions;

/// What happens to a merchant request or its answer on the way, whatever the sale.
/// What each one does is in the table of wirefault.cpp, which the dashboard shows.
enum class WireFault {
    None,
    ProviderError,
    ServerError,
    Failed,
    Lost,
    Slow,
    Trickle,
    NotJson,
    JsonArray,
    EmptyBody,
    WithoutId,
    SuccessWithoutId,
    Huge,
    Reset,
    EmptyObject,
    Folded,
    Gateway,
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
