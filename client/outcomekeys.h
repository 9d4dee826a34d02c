#pragma once

#include <QString>

namespace oxlenpay {

/// Message keys of answers whose outcome the provider may still hold: the request
/// reached it and no readable answer settled it. The journal closes them as unknown
/// and the till tells the cashier to check the payment.
inline bool isUnknownOutcomeKey(const QString& key)
{
    return key == "requestOutcomeUnknown" || key == "requestUploadedButAborted" ||
           key == "requestStatusTimeout" || key == "requestIncorrectAnswer";
}

} // namespace oxlenpay
