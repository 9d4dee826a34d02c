#pragma once

#include "interface.h"
#include "paymentprocessinganswer.h"

#include <QMap>
#include <QString>
#include <QVariant>

namespace oxlenpay {

/// The host answer for a provider result: outcome, message, code, wallet payment method
/// and the given additional information.
PaymentProcessingAnswer createAnswer(const Interface::RequestResult& result,
                                     const QMap<QString, QVariant>& additionalInfo);

} // namespace oxlenpay
