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

#include <functional>
#include <memory>

class Config;
struct PaymentProcessingRequest;

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

struct LastOperation;
struct StatusWait;

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

    /// How an operation ended for its host: read from the result it was given and its
    /// journal row's state, for the till.
    enum class Settlement {
        Approved, ///< carried out and confirmed
        Declined, ///< not carried out: refused, failed, or never sent
        Reversed, ///< a sale that was carried out and has been returned whole
        Unknown,  ///< the provider may have acted, and no final answer says what it did
        /// A sale of unknown outcome whose reversal could not be finished: recovery
        /// goes on reversing it.
        ReversalOwed,
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

    /// Works on every journal row that is not settled and whose till is gone, until
    /// nothing changes any more or settings::RecoveryLimitMs has passed. False, with the
    /// reason, when the journal cannot be read. Waits run the same work in their idle time.
    bool recoverJournal(QVector<RecoveredEntry>* recovered, QString* error) const;

    /// The calling thread's last operation, or the one running now: what its host was told
    /// and what its journal row says.
    LastOperation lastOperation() const;

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
    /// The whole wait: a first answer that settles it, else polls, then the classification.
    /// `closeOutFollows`: an open end is reported by the close-out, so it is logged as info.
    StatusWait awaitStatus(const QString& status, const RequestResult& first, qint64 limitMs,
                           bool closeOutFollows = false) const;
    /// An operation's own wait, through the virtual waitForStatus.
    StatusWait ownWait(const QString& status, const RequestResult& first,
                       bool closeOutFollows = false) const;
    /// Polls the payment of `first` until `status`, "FAILED", the limit or an interrupt.
    StatusWait pollUntil(const QString& status, const RequestResult& first, qint64 limitMs) const;
    /// Turns the answer that ended a wait into the operation's result.
    RequestResult classify(const QString& status, StatusWait wait, bool closeOutFollows) const;
    /// Why a sale is closed out: its wait timed out or was interrupted, or its confirmed
    /// approval could not be recorded.
    enum class CloseOut { TimedOut, Interrupted, NotRecorded };
    /// A full reversal of a sale that the host must not hear approved.
    /// `reversal` receives how the reversal's own wait ended.
    RequestResult closeOutSale(const RequestResult& open, CloseOut why, StatusWait* reversal) const;
    /// The operation's own answer came: `row` is written as waiting when it is to be polled.
    /// A final first answer is written once, with the row's closing state.
    void noteAnswer(JournalEntry* row, const RequestResult& answer) const;
    /// Sets `row`'s state from how `wait` ended; true when the sale is to be closed out.
    /// `reversalSent`: `wait` is the close-out's reversal of the sale.
    bool settleRow(JournalEntry* row, const StatusWait& wait, bool reversalSent) const;
    /// The closing write failed: true when the sale is to be closed out.
    bool closeOutUnrecorded(const JournalEntry& row, JournalEntry::State before) const;
    /// A full reversal of `paymentId`, polled with that id when its answer is lost.
    /// The answer is noted in `row` when one is given. `own`: the operation's own wait.
    StatusWait reverseWhole(const QString& paymentId, qint64 limitMs, JournalEntry* row,
                            bool own) const;
    /// The row's closing write, and what the till hears.
    void finish(JournalEntry* row, const RequestResult& result) const;
    void warnAboutTestOnlyTimings() const;
    void readJournalSettings(::Config* config);

    /// Writes `row` before its request leaves. False, with `refusal` set, when the
    /// operation must not be sent.
    bool beginTracked(JournalEntry* row, RequestResult* refusal) const;
    /// Recovery in the idle time of a wait, before the poll due at `until`.
    void recoverWhileIdle(WaitClock::TimePoint until) const;
    /// Recovery's way to the provider: an exchange with a time-out of its own.
    std::function<RequestResult(Method, const QJsonObject&, qint64)> recoveryExchange() const;

    std::shared_ptr<class WaitGate> waitGate;
    std::shared_ptr<class OperationJournal> journal;
    std::shared_ptr<class LastOperations> lastOperations;
    std::shared_ptr<class Transport> transport;
    std::shared_ptr<class Recovery> recovery;
    std::shared_ptr<class StatusWaitHandOver> ownWaits;
};

} // namespace oxlenpay
