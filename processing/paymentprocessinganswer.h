#pragma once

#include "hostenums.h"
#include "tr.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

/// The value record every processing operation returns.
///
/// A default-constructed answer is a failure: status Error, code 0, empty message.
class PaymentProcessingAnswer {
public:
    enum Status : qint32 {
        Success = 0,
        Error = 1,
    };

    PaymentProcessingAnswer();
    PaymentProcessingAnswer(const PaymentProcessingAnswer& other);
    PaymentProcessingAnswer(PaymentProcessingAnswer&& other) noexcept;
    PaymentProcessingAnswer& operator=(const PaymentProcessingAnswer& other);
    PaymentProcessingAnswer& operator=(PaymentProcessingAnswer&& other) noexcept;
    ~PaymentProcessingAnswer();

    /// Compares every member but qrCode and terminalId; a NaN amount never compares equal.
    bool operator==(const PaymentProcessingAnswer& other) const;
    bool operator!=(const PaymentProcessingAnswer& other) const { return !(*this == other); }

    void setCode(int code);
    int getCode() const;
    void setMessage(const tr::Tr& message);
    tr::Tr getMessage() const;
    void setStatus(Status status);
    Status getStatus() const;
    void setSuccess(bool success);
    bool isSuccess() const;
    void setPrintImages(const QStringList& images);
    QStringList getPrintImages() const;
    void setTerminalNumber(int number);
    int getTerminalNumber() const;
    void setCardType(const QString& type);
    QString getCardType() const;
    void setCardNumber(const QString& number);
    QString getCardNumber() const;
    void setAuthorizationCode(const QString& code);
    QString getAuthorizationCode() const;
    void setRRN(const QString& rrn);
    QString getRRN() const;
    void setSum(double sum);
    double getSum() const;
    void setPosName(const QString& name);
    QString getPosName() const;
    void setBalance(double balance);
    double getBalance() const;
    void setDiscCardNumber(const QString& number);
    QString getDiscCardNumber() const;
    void setLoyaltyCards(const QStringList& cards);
    QStringList getLoyaltyCards() const;
    void setHashedCardNumber(const QString& number);
    QString getHashedCardNumber() const;
    void setCardMark(const CardMark& mark);
    CardMark getCardMark() const;
    void setQrCode(const QString& code);
    QString getQrCode() const;
    void setPaymentMethod(EPaymentMethod method);
    EPaymentMethod getPaymentMethod() const;
    void setAdditionalInfo(const QMap<QString, QVariant>& info);
    QMap<QString, QVariant> getAdditionalInfo() const;
    void setTerminalId(const QString& id);
    QString getTerminalId() const;
    void setAdditionalData(const QString& data);
    QString getAdditionalData() const;

private:
    int code = 0;
    tr::Tr message;
    Status status = Error;
    QStringList printImages;
    int terminalNumber = 0;
    QString cardType;
    QString cardNumber;
    QString authorizationCode;
    QString rrn;
    double sum = 0.0;
    QString posName;
    double balance = 0.0;
    QString discCardNumber;
    QStringList loyaltyCards;
    QString hashedCardNumber;
    CardMark cardMark = CardMarkUnknown;
    QString qrCode;
    EPaymentMethod paymentMethod = PaymentMethodUnknown;
    QMap<QString, QVariant> additionalInfo;
    QString terminalId;
    QString additionalData;
};
