#include "createanswer.h"

namespace oxlenpay {

PaymentProcessingAnswer createAnswer(const Interface::RequestResult& result,
                                     const QMap<QString, QVariant>& additionalInfo)
{
    PaymentProcessingAnswer answer;
    answer.setSuccess(result.success);
    answer.setMessage(result.message);
    answer.setCode(result.errorCode);
    answer.setPaymentMethod(PaymentMethodWallet);
    answer.setAdditionalInfo(additionalInfo);
    return answer;
}

} // namespace oxlenpay
