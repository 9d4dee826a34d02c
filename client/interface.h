#pragma once

#include "tr.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QUrl>

struct PaymentProcessingRequest;

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

/// Client of the provider's merchant REST API: settings, signed transport,
/// the provider operations and the blocking wait for their final status.
class Interface {
public:
    /// Provider methods; the numbers are their values.
    enum Method {
        Payment = 0,
        PaymentStatus = 1,
        Reversal = 2,
        PartialReversal = 3,
        Fiscal = 4,
    };

    /// The outcome of one provider exchange or of a whole wait.
    struct RequestResult {
        bool success = false;
        int errorCode = 0;
        tr::Tr message;
        QJsonObject data;

        QString getPaymentStatus() const;
        /// The provider's payment id ("payment_id"); empty unless it is a JSON string.
        QString getRrn() const;
        QString getPhone() const;
        bool operator==(const RequestResult& other) const;
        bool operator!=(const RequestResult& other) const { return !(*this == other); }
    };

    static constexpr const char* ConfigPath = "/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf";
    static constexpr const char* DefaultHost = "https://api.oxlenpay.example";
    static constexpr const char* DefaultPath = "/api/quindo-pay/merchant";

    Interface();
    virtual ~Interface();

    /// Reads the settings; the host, path and provider code are read again at every use.
    virtual void init();
    /// Registers a wallet payment and waits for "SUCCESS".
    virtual RequestResult payment(const PaymentProcessingRequest& request);
    /// Returns the whole payment `request.rrn` and waits for "REVERSED".
    virtual RequestResult reversal(const PaymentProcessingRequest& request) const;
    /// Returns `request.sum` of the payment `request.rrn` and waits for "PARTIAL_CANCELLED".
    virtual RequestResult partialReversal(const PaymentProcessingRequest& request) const;
    /// Hands the fiscal receipt link of a payment to the provider; true once confirmed.
    virtual bool sendOfdData(const QString& paymentId, const QString& fiscalUrl) const;
    /// Polls the status of the payment in `result` until `status`, "FAILED" or the time limit.
    virtual RequestResult waitForStatus(const QString& status, const RequestResult& result) const;
    /// One complete exchange; failures are reported in the result, never thrown.
    virtual RequestResult sendRequest(Method method, const QJsonObject& body) const;
    virtual QHash<QString, QString> getHeaders() const;
    virtual QString getUuid() const;
    virtual QUrl getUrl(Method method) const;

    QString getMerchantServiceId() const;
    int getPaymentProvider() const;

protected:
    qint64 timeout = 10000;
    qint64 payDuration = 300000;
    qint64 frequency = 10000;
    QString merchantId;
    qint64 merchantServiceId = 0;
    QString merchantServiceUserId;
    QString merchantSecretKey;
    Log4Qt::Logger* logger = nullptr;

private:
    RequestResult sendAndWait(Method method, const QJsonObject& body, const QString& awaited,
                              const QString& paymentId) const;
};

} // namespace oxlenpay
