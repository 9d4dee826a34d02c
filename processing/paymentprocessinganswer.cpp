#include "paymentprocessinganswer.h"

#include <utility>

namespace {

bool sameAdditionalInfo(const QMap<QString, QVariant>& a, const QMap<QString, QVariant>& b)
{
    // Walk both maps in key order; no shortcut on shared data, so a NaN value
    // is treated the same whether or not the maps share storage.
    if (a.size() != b.size()) {
        return false;
    }
    for (auto left = a.cbegin(), right = b.cbegin(); left != a.cend(); ++left, ++right) {
        if (left.key() != right.key() || left.value() != right.value()) {
            return false;
        }
    }
    return true;
}

} // namespace

PaymentProcessingAnswer::PaymentProcessingAnswer() = default;
PaymentProcessingAnswer::PaymentProcessingAnswer(const PaymentProcessingAnswer& other) = default;
PaymentProcessingAnswer::PaymentProcessingAnswer(PaymentProcessingAnswer&& other) noexcept
    : code(other.code), message(other.message), status(other.status),
      printImages(std::move(other.printImages)), terminalNumber(other.terminalNumber),
      cardType(std::move(other.cardType)), cardNumber(std::move(other.cardNumber)),
      authorizationCode(std::move(other.authorizationCode)), rrn(std::move(other.rrn)),
      sum(other.sum), posName(std::move(other.posName)), balance(other.balance),
      discCardNumber(std::move(other.discCardNumber)), loyaltyCards(std::move(other.loyaltyCards)),
      hashedCardNumber(std::move(other.hashedCardNumber)), cardMark(other.cardMark),
      qrCode(std::move(other.qrCode)), paymentMethod(other.paymentMethod),
      additionalInfo(std::move(other.additionalInfo)), terminalId(std::move(other.terminalId)),
      additionalData(std::move(other.additionalData))
{
}
PaymentProcessingAnswer&
PaymentProcessingAnswer::operator=(const PaymentProcessingAnswer& other) = default;
PaymentProcessingAnswer::~PaymentProcessingAnswer() = default;

PaymentProcessingAnswer&
PaymentProcessingAnswer::operator=(PaymentProcessingAnswer&& other) noexcept
{
    if (this == &other) {
        return *this;
    }
    code = other.code;
    message = other.message; // tr::Tr has copy assignment only
    status = other.status;
    printImages.swap(other.printImages);
    terminalNumber = other.terminalNumber;
    cardType.swap(other.cardType);
    cardNumber.swap(other.cardNumber);
    authorizationCode.swap(other.authorizationCode);
    rrn.swap(other.rrn);
    sum = other.sum;
    posName.swap(other.posName);
    balance = other.balance;
    discCardNumber.swap(other.discCardNumber);
    loyaltyCards.swap(other.loyaltyCards);
    hashedCardNumber.swap(other.hashedCardNumber);
    cardMark = other.cardMark;
    qrCode.swap(other.qrCode);
    paymentMethod = other.paymentMethod;
    additionalInfo.swap(other.additionalInfo);
    terminalId.swap(other.terminalId);
    additionalData.swap(other.additionalData);
    return *this;
}

bool PaymentProcessingAnswer::operator==(const PaymentProcessingAnswer& other) const
{
    // Order matters only for speed; qrCode and terminalId are deliberately left out.
    return code == other.code && message == other.message && status == other.status &&
           printImages == other.printImages && terminalNumber == other.terminalNumber &&
           cardType == other.cardType && cardNumber == other.cardNumber &&
           authorizationCode == other.authorizationCode && rrn == other.rrn && sum == other.sum &&
           posName == other.posName && balance == other.balance &&
           discCardNumber == other.discCardNumber && loyaltyCards == other.loyaltyCards &&
           hashedCardNumber == other.hashedCardNumber && cardMark == other.cardMark &&
           paymentMethod == other.paymentMethod &&
           sameAdditionalInfo(additionalInfo, other.additionalInfo) &&
           additionalData == other.additionalData;
}

void PaymentProcessingAnswer::setCode(int value)
{
    code = value;
}
int PaymentProcessingAnswer::getCode() const
{
    return code;
}
void PaymentProcessingAnswer::setMessage(const tr::Tr& value)
{
    message = value;
}
tr::Tr PaymentProcessingAnswer::getMessage() const
{
    return message;
}
void PaymentProcessingAnswer::setStatus(Status value)
{
    status = value;
}
PaymentProcessingAnswer::Status PaymentProcessingAnswer::getStatus() const
{
    return status;
}
void PaymentProcessingAnswer::setSuccess(bool success)
{
    status = success ? Success : Error;
}
bool PaymentProcessingAnswer::isSuccess() const
{
    return status == Success;
}
void PaymentProcessingAnswer::setPrintImages(const QStringList& value)
{
    printImages = value;
}
QStringList PaymentProcessingAnswer::getPrintImages() const
{
    return printImages;
}
void PaymentProcessingAnswer::setTerminalNumber(int value)
{
    terminalNumber = value;
}
int PaymentProcessingAnswer::getTerminalNumber() const
{
    return terminalNumber;
}
void PaymentProcessingAnswer::setCardType(const QString& value)
{
    cardType = value;
}
QString PaymentProcessingAnswer::getCardType() const
{
    return cardType;
}
void PaymentProcessingAnswer::setCardNumber(const QString& value)
{
    cardNumber = value;
}
QString PaymentProcessingAnswer::getCardNumber() const
{
    return cardNumber;
}
void PaymentProcessingAnswer::setAuthorizationCode(const QString& value)
{
    authorizationCode = value;
}
QString PaymentProcessingAnswer::getAuthorizationCode() const
{
    return authorizationCode;
}
void PaymentProcessingAnswer::setRRN(const QString& value)
{
    rrn = value;
}
QString PaymentProcessingAnswer::getRRN() const
{
    return rrn;
}
void PaymentProcessingAnswer::setSum(double value)
{
    sum = value;
}
double PaymentProcessingAnswer::getSum() const
{
    return sum;
}
void PaymentProcessingAnswer::setPosName(const QString& value)
{
    posName = value;
}
QString PaymentProcessingAnswer::getPosName() const
{
    return posName;
}
void PaymentProcessingAnswer::setBalance(double value)
{
    balance = value;
}
double PaymentProcessingAnswer::getBalance() const
{
    return balance;
}
void PaymentProcessingAnswer::setDiscCardNumber(const QString& value)
{
    discCardNumber = value;
}
QString PaymentProcessingAnswer::getDiscCardNumber() const
{
    return discCardNumber;
}
void PaymentProcessingAnswer::setLoyaltyCards(const QStringList& value)
{
    loyaltyCards = value;
}
QStringList PaymentProcessingAnswer::getLoyaltyCards() const
{
    return loyaltyCards;
}
void PaymentProcessingAnswer::setHashedCardNumber(const QString& value)
{
    hashedCardNumber = value;
}
QString PaymentProcessingAnswer::getHashedCardNumber() const
{
    return hashedCardNumber;
}
void PaymentProcessingAnswer::setCardMark(const CardMark& value)
{
    cardMark = value;
}
CardMark PaymentProcessingAnswer::getCardMark() const
{
    return cardMark;
}
void PaymentProcessingAnswer::setQrCode(const QString& value)
{
    qrCode = value;
}
QString PaymentProcessingAnswer::getQrCode() const
{
    return qrCode;
}
void PaymentProcessingAnswer::setPaymentMethod(EPaymentMethod value)
{
    paymentMethod = value;
}
EPaymentMethod PaymentProcessingAnswer::getPaymentMethod() const
{
    return paymentMethod;
}
void PaymentProcessingAnswer::setAdditionalInfo(const QMap<QString, QVariant>& value)
{
    additionalInfo = value;
}
QMap<QString, QVariant> PaymentProcessingAnswer::getAdditionalInfo() const
{
    return additionalInfo;
}
void PaymentProcessingAnswer::setTerminalId(const QString& value)
{
    terminalId = value;
}
QString PaymentProcessingAnswer::getTerminalId() const
{
    return terminalId;
}
void PaymentProcessingAnswer::setAdditionalData(const QString& value)
{
    additionalData = value;
}
QString PaymentProcessingAnswer::getAdditionalData() const
{
    return additionalData;
}
