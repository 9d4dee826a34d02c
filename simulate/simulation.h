#pragma once

#include "channel.h"
#include "faultplan.h"
#include "journal.h"
#include "journalentry.h"
#include "modelprovider.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <sys/types.h>

struct sqlite3;

namespace simulate {

/// One seeded schedule: a cashier's operations through the plug-in's front, in till
/// processes forked for it, against the model provider, in virtual time, under the
/// faults its FaultPlan draws. Crashes are SIGKILLs of a stopped till. Afterwards up to
/// ten fault-free recoveries run and the customer's invariant is checked: the money the
/// provider holds is what the host was told, and every row ends settled or where only a
/// person can settle it. The same seed always gives the same schedule and output.
class Simulation {
public:
    struct Options {
        bool trace = false;
        bool traceJson = false;
        bool restricted = false;
        QSet<int> onlyFaults;
    };
    struct Violation {
        QString kind; ///< a short name, the same for every seed
        QString what;
    };

    /// `root`: the configuration's root; the journal lives in "<root>/journal/".
    Simulation(quint32 seed, const QString& root, const Options& options);
    ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    QVector<Violation> run();
    const FaultPlan& plan() const { return m_plan; }
    /// The trace (with the tills' log lines, in order) and the JSON trace, when asked for.
    const QString& traceText() const { return m_traceText; }
    const QString& traceJson() const { return m_traceJson; }

    static QString journalPathIn(const QString& root) { return root + "/journal/journal.sqlite"; }

private:
    struct TillProcess {
        pid_t pid = -1;
        Channel channel;
        QString name;
        // The command under way, for attributing the provider's actions.
        QString operation; ///< sale, refund, cancel, fiscal, recover
        QString operationId;
        QString paymentId;
        bool ownRequestSent = false;
    };
    /// What the host was told of one operation.
    struct Operation {
        QString id;
        QString kind; ///< sale, refund, cancel, fiscal
        QString paymentId;
        qint64 amount = 0;
        QString told; ///< approved, declined, unknown, or "none" when the till died first
        /// A cancel's amounts the journal could know when the cancel began (-1: unknown):
        /// the sale less the refunds done as the journal shows them, the same with the
        /// refunds the host was told approved (a row not yet written counts for the till
        /// that keeps it), and, once the purge may have taken the sale's settled row away,
        /// the host's sum if positive. The first is the one a violation names.
        QVector<qint64> journalKnew;
    };
    struct Sold {
        QString paymentId;
        qint64 amount = 0;
        qint64 refundsAsked = 0; ///< approved or of unknown outcome
        bool cancelAsked = false;
    };

    // Tills and their commands.
    void spawn(TillProcess* till);
    void closeChannel(TillProcess* till);
    void quit(TillProcess* till);
    void crash(TillProcess* till, const QString& where);
    QJsonObject command(TillProcess* till, QJsonObject command);
    QJsonObject stamped(QJsonObject message) const;
    /// `message` stamped with the time, and with how many of the till's next crash points
    /// would fire nothing: the till passes those without asking.
    QJsonObject toTill(const TillProcess& till, QJsonObject message) const;
    /// Draws for the waits the till passed before `message`, as atWait would have, and
    /// moves virtual time to the till's.
    void drawForPassedWaits(TillProcess* till, const QJsonObject& message);
    static bool isMoney(const TillProcess& till);
    /// Draws for the points the till passed before `message`, as atPoint would have.
    void drawForPassedPoints(TillProcess* till, const QJsonObject& message);
    /// Traces the till's log lines that came with `message`.
    void traceLog(const TillProcess& till, const QJsonObject& message);
    QJsonObject exchange(TillProcess* till, const QJsonObject& request, bool* crashed);
    QJsonObject atPoint(TillProcess* till, const QString& where, bool* crashed);
    QJsonObject atWait(TillProcess* till, qint64 untilMs);
    void otherTillRecovers();

    // The cashier.
    void operate();
    void sale();
    void refund();
    void cancel();
    void fiscal();
    void recover(TillProcess* till, const QString& who);
    QString nextId();
    void record(const QString& id, const QString& kind, const QString& paymentId, qint64 amount,
                const QJsonObject& done);

    // The world around the tills.
    void advanceTo(qint64 nowMs);
    void holdWriteLock(qint64 forMs);
    void releaseWriteLock();
    void vanishFolder(bool replace);
    void startOlderWriter();
    void endOlderWriter();
    void stopOlderWriter();

    // The checks.
    bool readRows(QVector<oxlenpay::JournalEntry>* rows);
    void reconcile();
    /// What the journal could know of a cancel's amount: with the sale's row, and (when
    /// the purge may take that row first) without it.
    QVector<qint64> cancelAmountKnown(const QString& paymentId, qint64 saleAmount, qint64 sum);
    /// Whether rows of a vanished journal are still missing from its path.
    bool vanishPending();
    void checkRows();
    bool allowedAttention(const oxlenpay::JournalEntry& row) const;
    /// The kind of violation a row left unsettled stands for.
    QString unsettledKind(const oxlenpay::JournalEntry& row) const;
    void finalChecks(const QVector<oxlenpay::JournalEntry>& rows);
    void violate(const QString& kind, const QString& what);
    /// `atMs`: the virtual time the event happened at, when not now.
    void trace(const QString& actor, const QString& event, const QJsonObject& details = {},
               qint64 atMs = -1);

    quint32 m_seed;
    QString m_root;
    QString m_journal;
    Options m_options;
    FaultPlan m_plan;
    QRandomGenerator m_schedule;
    ModelProvider m_provider;
    TillProcess m_till;
    TillProcess m_other;
    bool m_otherBusy = false;
    bool m_otherAtPoint = false; ///< the other till runs at a journal statement of the first
    int m_reverseUnknown = 1;
    int m_step = 0;
    int m_ids = 0;
    qint64 m_nowMs = 0;
    qint64 m_jumpMs = 0;

    oxlenpay::Journal m_reader; ///< read-only, closed before every fork
    int m_spawned = 0;
    sqlite3* m_lock = nullptr;
    qint64 m_lockUntilMs = 0;
    bool m_vanished = false;     ///< since the last look at the journal
    bool m_vanishedEver = false; ///< in this schedule
    /// The unsettled rows a vanished file held, until a till has made them anew at the path.
    /// No crash is drawn meanwhile: a power cut before a till could look at its journal's
    /// place loses rows that only a deleted file held, which no software can keep.
    QSet<QString> m_vanishKeep;
    bool m_vanishPending = false; ///< no journal made anew at the path since it vanished

    struct OlderWriter {
        bool running = false;
        pid_t pid = -1;
        QString rowId;
        QString paymentId;
        qint64 amount = 0;
        qint64 exitAtMs = 0;
    } m_older;

    QVector<Operation> m_operations;
    QVector<Sold> m_sold;
    QSet<QString> m_unsettledRows;
    QHash<QString, oxlenpay::JournalEntry> m_seen; ///< every row as last read
    QSet<QString> m_misread;
    QSet<QString> m_settledByOther; ///< payments settled by the other till during this command ///<
                                    ///< payments the cashier was shown a wrong outcome for
    QVector<Violation> m_violations;
    QString m_traceText;
    QString m_traceJson;
};

} // namespace simulate
