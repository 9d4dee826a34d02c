#pragma once

#include "modelprovider.h"
#include "simulatedrestclient.h"

#include "interface.h"
#include "journal.h"

#include <QRandomGenerator>
#include <QSet>
#include <QStringList>

#include <memory>

namespace simulate {

/// One seeded schedule: a cashier's operations against the model provider through the
/// real client and journal, in virtual time, with lost, slow, 5xx, declined and garbled
/// answers, crashes at any exchange, failing journal writes and a second till that
/// recovers the same journal at the same time. Afterwards a fault-free recovery runs and
/// the invariants are checked. The same seed always gives the same schedule.
class Simulation {
public:
    /// `directory`: where the configuration and the journal live (a tmpfs is quickest).
    Simulation(quint32 seed, const QString& directory, bool trace);
    ~Simulation();

    /// The violated invariants, each with what broke it; empty when all held.
    QStringList run();

private:
    class Till;
    enum class Actor { Till, OtherTill };

    Exchange exchange(const QUrl& url, const QJsonObject& body, qint64 timeoutMs);
    Exchange faulty(const QString& path, const QJsonObject& body, qint64 timeoutMs);
    void startTill();
    void crashTill();
    void operate();
    void sale();
    void partialRefund();
    void cancel();
    void fiscal();
    void recover(Till& till, const char* who);
    void checkRows(bool finalCheck);
    void checkLedger();
    void violate(const QString& what);
    void trace(const QString& line) const;
    qint64 elapsedMs() const;
    int roll(int below) { return int(m_random.bounded(quint32(below))); }

    quint32 m_seed;
    QString m_directory;
    bool m_trace;
    QRandomGenerator m_random;
    ModelProvider m_provider;
    std::unique_ptr<Till> m_till;
    std::unique_ptr<Till> m_other;
    oxlenpay::Journal m_reader;
    Actor m_actor = Actor::Till;
    bool m_faults = true;
    bool m_otherBusy = false;
    int m_reverseUnknown = 1;

    // The operation under way: when it began, whether its own request left yet, and
    // the transaction ids it sent.
    bool m_inSale = false;
    bool m_ownRequestSent = false;
    QStringList m_transactions;

    // What the cashier was told, by payment id.
    struct Sold {
        QString paymentId;
        qint64 amount = 0;
        qint64 refundsAsked = 0; // approved or of unknown outcome: never asked again
        bool cancelAsked = false;
    };
    QVector<Sold> m_approved;
    QSet<QString> m_cancelAsked;
    QSet<QString> m_unsettledRows;
    QStringList m_violations;
};

} // namespace simulate
