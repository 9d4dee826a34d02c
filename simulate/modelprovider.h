#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace simulate {

/// The provider as the simulation models it: a ledger of payments, every reversal and
/// refund carried out (and for which operation), and the customer's wallet, which settles
/// a payment on its own timeline whether or not anyone polls.
class ModelProvider {
public:
    /// What the customer does in the wallet, and when (virtual ms; 0: at once).
    struct Customer {
        enum class Does { Confirm, Decline, Nothing } does = Does::Confirm;
        qint64 atMs = 0;
    };

    /// One reversal or partial refund carried out, and the operation that asked for it.
    struct Action {
        bool full = false;
        qint64 amount = 0; ///< what it returned
        QString operationId;
    };

    struct Payment {
        QString id;
        QString transactionId;
        qint64 amount = 0;
        QString status; ///< PENDING, SUCCESS, FAILED, PARTIAL_CANCELLED, REVERSED
        QString shown;  ///< what a status request shows while a change lags behind
        int lagPolls = 0;
        qint64 lagUntilMs = 0; ///< a lag ends after its polls or at this time, whichever first
        Customer customer;
        bool charged = false; ///< the customer paid at some point
        qint64 refunded = 0;  ///< by partial refunds and a full reversal together
        QVector<Action> actions;
        QString fiscalUrl;
    };

    /// What one request did: the provider's answer, and whether it was carried out.
    struct Reply {
        QJsonObject answer;
        bool carriedOut = false;
    };

    /// What the request is, for the ledger: the operation that sent it, a decline to apply
    /// (FAILED, nothing done), and how many polls a status change stays hidden.
    struct Request {
        QString path;
        QJsonObject body;
        QString operationId;
        bool decline = false;
        int lagPolls = 0;
        qint64 nowMs = 0;
        qint64 authorizationMs = 0; ///< the signature's time, on the till's wall clock
        qint64 wallMs = 0;          ///< the provider's own wall clock
    };

    void setNextCustomer(const Customer& customer) { m_nextCustomer = customer; }
    Reply handle(const Request& request);
    /// The customers who act at `nowMs` or before do so.
    void advance(qint64 nowMs);
    /// When a customer next acts on a pending payment; INT64_MAX when none will.
    qint64 nextCustomerMs() const;
    /// A payment an older till registered before this schedule began.
    QString addPending(const QString& transactionId, qint64 amount, const Customer& customer);

    const QVector<Payment>& payments() const { return m_payments; }
    const Payment* byTransaction(const QString& transactionId) const;
    const Payment* byId(const QString& id) const;
    /// The customer's money the provider still holds for a payment.
    static qint64 held(const Payment& payment);

    /// A signature more than this far from the provider's clock is refused (1002).
    static constexpr qint64 SignatureSkewMs = 300000;
    /// A status never lags a change by more than this: a cancel still shown undone an hour
    /// later did not happen.
    static constexpr qint64 StatusLagLimitMs = 600000;

private:
    Payment* find(const QString& id);
    void change(Payment* payment, const QString& status, int lagPolls);
    static QJsonObject answer(const Payment& payment, const QString& status);
    static QJsonObject refusal(int code, const QString& text);

    QVector<Payment> m_payments;
    QHash<QString, int> m_index;
    QHash<QString, int> m_byTransaction;
    Customer m_nextCustomer;
    qint64 m_nowMs = 0;
};

} // namespace simulate
