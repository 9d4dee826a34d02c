#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace simulate {

/// The provider as the simulation models it: a ledger of payments and what was done to
/// each. Deliberately permissive where a careless client could do harm (a second full
/// reversal, refunds beyond the amount are carried out and counted), so that the
/// invariants can see such harm.
class ModelProvider {
public:
    /// How the customer's wallet settles a payment: confirmed at the first answer or at
    /// the Nth status request, declined at the Nth, or never.
    struct Customer {
        enum class Does { Confirm, Decline, Nothing } does = Does::Confirm;
        int atPoll = 0; // 0: in the payment's own answer
    };

    struct Payment {
        QString id;
        QString transactionId;
        qint64 amount = 0;
        QString status; // PENDING, SUCCESS, FAILED, REVERSED
        Customer customer;
        int polls = 0;
        int reversals = 0; // full reversals carried out
        qint64 refunded = 0;
        int partials = 0; // partial refunds carried out
        bool charged = false;
        QString fiscalUrl;
    };

    /// What one request does to the ledger: the answer it would get, and whether it was
    /// carried out (a refused or failed request changes nothing).
    struct Reply {
        QJsonObject answer;
        bool carriedOut = false;
    };

    void setNextCustomer(const Customer& customer) { m_nextCustomer = customer; }
    /// `failed`: the provider declines: "FAILED" in the answer, the operation not done.
    Reply handle(const QString& path, const QJsonObject& body, bool failed);

    const QVector<Payment>& payments() const { return m_payments; }
    const Payment* byTransaction(const QString& transactionId) const;
    const Payment* byId(const QString& id) const;
    /// The customer's money held: charged and not wholly given back.
    static bool holdsMoney(const Payment& payment);

private:
    Payment* find(const QString& id);
    static QJsonObject answer(const Payment& payment);
    static QJsonObject refusal(int code, const QString& text);

    QVector<Payment> m_payments;
    QHash<QString, int> m_index;
    Customer m_nextCustomer;
};

} // namespace simulate
