#pragma once

#include "tilloutcome.h"

namespace till {

/// `status --rrn ID`: one signed status request for the payment, through the provider
/// client as the plug-in builds it; nothing is changed or written. The outcome is approved
/// when the provider answered, declined on its error, unknown when no answer came.
Outcome paymentStatus(const QString& paymentId);

} // namespace till
