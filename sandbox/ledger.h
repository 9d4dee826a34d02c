#pragma once

#include "scenario.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace sandbox {

/// One wallet payment as the provider keeps it.
struct Payment {
    QString id;
    QString transactionId;
    qint64 amount = 0;
    qint64 refunded = 0;
    QString status; // PENDING, SUCCESS, FAILED, PARTIAL_CANCELLED, REVERSED
    QString phone;
    Scenario scenario;
    int polls = 0;
    int repeats = 0; // payment requests that named this transaction again
    QString fiscalUrl;
    QDateTime created;
    bool charged = false; // the customer's money was taken at some point
    int currency = 398;
    /// A request that created or changed the payment was carried out and got no answer
    /// (lost, or a 5xx after the fact): the till never heard what happened to it.
    bool answerLost = false;

    /// What could still be refunded: nothing once the sale failed or was reversed.
    qint64 rest() const
    {
        return status == "FAILED" || status == "REVERSED" ? 0 : amount - refunded;
    }
    /// The customer confirmed: SUCCESS, and the money is taken.
    void settle()
    {
        status = "SUCCESS";
        charged = true;
    }
    QJsonObject toJson() const;
};

/// The sandbox's book of payments. Not locked: its owner serialises access.
class Ledger {
public:
    /// A new payment, or the one made before for the same transaction id.
    Payment& charge(const QString& transactionId, qint64 amount, const Scenario& scenario,
                    bool* created);
    Payment* find(const QString& id);
    QList<Payment> payments() const { return m_payments; }
    void clear();

private:
    QList<Payment> m_payments;
    // Positions in m_payments, so a long-lived sandbox answers as fast as a fresh one.
    QHash<QString, int> m_byId;
    QHash<QString, int> m_byTransaction;
    qint64 m_nextId = 100000000001;
};

} // namespace sandbox
