// Compiled only for the binary-interface description: the compiler's class dump
// and the debug information of this object describe the classes a host relies on.
#include "abstractpaymentprocessing.h"
#include "basicpaymentprocessing.h"
#include "interface.h"
#include "oxlenpay.h"
#include "paymentprocessinganswer.h"
#include "tr.h"

// Names every class in a signature, so the debug information describes each in full.
void abiProbe(const AbstractPaymentProcessing*, const BasicPaymentProcessing*,
              const oxlenpay::Interface*, const PaymentProcessingAnswer*, const tr::Tr*,
              const oxlenpay::OxlenPay*)
{
}
