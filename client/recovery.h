#pragma once

#include "interface.h"
#include "waitclock.h"

#include <QHash>
#include <QJsonObject>
#include <QVector>
#include <mutex>

#include <functional>
#include <memory>

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

class OperationJournal;
class WaitGate;

/// Recovery of the payment journal: rows whose outcome is not settled are looked up at the
/// provider and finished, so no customer stays charged for nothing. It runs in the idle time
/// of waits and in the till's `recover`, never between an operation's start and its own
/// request. Its own state is under its own lock: a host may run a recovery on one thread
/// while a payment waits on another.
class Recovery {
public:
    /// The settings a recovery works with, as the client read them.
    struct Settings {
        qint64 merchantServiceId = 0;
        qint64 timeoutMs = 0;
        qint64 frequencyMs = 0;
        bool reverseUnknown = true;
    };
    /// One exchange with the provider, given up after `timeoutMs`.
    using Exchange = std::function<Interface::RequestResult(
        Interface::Method method, const QJsonObject& body, qint64 timeoutMs)>;

    Recovery(Log4Qt::Logger* logger, std::shared_ptr<OperationJournal> journal,
             std::shared_ptr<WaitGate> waitGate);

    /// Every row that is not settled and whose till is gone, until nothing changes any more
    /// or settings::RecoveryLimitMs has passed. False, with the reason, when the journal
    /// cannot be read.
    bool run(const Settings& settings, const Exchange& exchange,
             QVector<Interface::RecoveredEntry>* recovered, QString* error);
    /// The same work in a wait's idle time, before the poll due at `until`.
    void whileIdle(const Settings& settings, const Exchange& exchange, WaitClock::TimePoint until);

private:
    /// One look at every row recovery may work on, ending by `deadline`; no exchange
    /// takes longer than `exchangeCapMs`. Rows tried since `retryAfter` are skipped.
    bool pass(const Settings& settings, const Exchange& exchange, WaitClock::TimePoint deadline,
              qint64 exchangeCapMs, QVector<Interface::RecoveredEntry>* items,
              WaitClock::TimePoint retryAfter = WaitClock::TimePoint());
    /// One claimed row: its status, then the action it needs, as far as the time allows.
    JournalEntry recoverEntry(const Settings& settings, const Exchange& exchange,
                              const JournalEntry& claimed, WaitClock::TimePoint deadline,
                              qint64 exchangeCapMs, QString* note) const;
    /// Idle-time recovery tried the row `id` after `since`.
    bool triedSince(const QString& id, WaitClock::TimePoint since);
    void markTried(const QString& id);

    Log4Qt::Logger* m_logger;
    std::shared_ptr<OperationJournal> m_journal;
    std::shared_ptr<WaitGate> m_waitGate;
    std::mutex m_mutex; // guards m_tried
    /// When idle-time recovery last tried each row, so a wait does not ask again at every poll.
    QHash<QString, WaitClock::TimePoint> m_tried;
};

} // namespace oxlenpay
