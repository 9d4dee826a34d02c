#pragma once

#include "journalentry.h"
#include "settings.h"
#include "tr.h"
#include "waitclock.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QVector>

#include <memory>

class Config;
struct PaymentProcessingRequest;

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

/// Client of the provider's merchant REST API: settings, signed transport,
/// the provider operations and the blocking wait for their final status.
class Interface {
public:
    /// Provider methods; the numbers are their values. The fixed underlying type makes
    /// any int a valid value: one outside 0 to 4 names no method.
    enum Method : int {
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

    /// What the journal's recovery did to one open entry.
    struct RecoveredEntry {
        JournalEntry before;
        JournalEntry after; ///< still open when it could not be finished this time
        QString note;       ///< why it was left open, when it was
    };

    static constexpr const char* ConfigPath = settings::ConfigPath;
    static constexpr const char* DefaultHost = settings::DefaultHost;
    static constexpr const char* DefaultPath = settings::DefaultPath;

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

    /// Called from another thread: ends the running operation's wait for a final status
    /// within moments, without another status request. False when nothing is running.
    bool interruptWait();

    /// Finishes the journal's open entries whose process is gone, within
    /// settings::RecoveryLimitMs for all of them. False, with the reason, when the
    /// journal cannot be read; the first money operation after loading runs it too.
    bool recoverJournal(QVector<RecoveredEntry>* recovered, QString* error) const;

protected:
    qint64 timeout = settings::DefaultTimeoutMs;
    qint64 payDuration = settings::DefaultPayDurationMs;
    qint64 frequency = settings::DefaultFrequencyMs;
    qint64 reverseUnknown = settings::DefaultReverseUnknown;
    QString merchantId;
    qint64 merchantServiceId = 0;
    QString merchantServiceUserId;
    QString merchantSecretKey;
    QString journalPath;
    qint64 journalDays = settings::DefaultJournalDays;
    Log4Qt::Logger* logger = nullptr;

private:
    /// How a wait for a final status ended.
    enum class WaitEnd { Final, TimedOut, Interrupted };
    struct Wait {
        RequestResult result;
        WaitEnd end = WaitEnd::Final;
    };

    /// The whole wait: a first answer that settles it, else polls, then the classification.
    Wait awaitStatus(const QString& status, const RequestResult& first, qint64 limitMs) const;
    /// Polls the payment of `first` until `status`, "FAILED", the limit or an interrupt.
    Wait pollUntil(const QString& status, const RequestResult& first, qint64 limitMs) const;
    /// Turns the answer that ended a wait into the operation's result.
    RequestResult classify(const QString& status, Wait wait) const;
    /// A full reversal of a sale whose wait ended without a final status.
    RequestResult closeOutSale(const RequestResult& open) const;
    /// A full reversal of `paymentId`, polled with that id when its answer is lost.
    /// The answer is noted in `row` when one is given.
    Wait reverseWhole(const QString& paymentId, qint64 limitMs, JournalEntry* row) const;
    void warnAboutTestOnlyTimings() const;
    void readJournalSettings(::Config* config);

    /// Recovers the journal at the first money operation, then writes `row` before its
    /// request leaves. False, with `refusal` set, when the operation must not be sent.
    bool beginTracked(JournalEntry* row, RequestResult* refusal) const;
    /// One open entry of a process that is gone, finished as far as the time allows.
    JournalEntry recoverEntry(const JournalEntry& open, WaitClock::TimePoint deadline,
                              QString* note) const;

    std::shared_ptr<class WaitGate> waitGate;
    std::shared_ptr<class OperationJournal> journal;
};

} // namespace oxlenpay
