#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class BasicPaymentProcessing;

namespace till {

/// While an operation waits for the provider: a one-line progress display on stderr
/// (when it is a terminal) and the Ctrl-C handling. The first Ctrl-C asks the plug-in
/// to stop waiting (its answer, the close-out's, is then printed); a second one exits
/// with status 130 at once, naming the payment (or the transaction) that the journal
/// holds for the operation begun at `since`.
class WaitProgress {
public:
    WaitProgress(const QString& operation, qint64 limitMs, BasicPaymentProcessing* processing,
                 const QDateTime& since);
    ~WaitProgress();
    WaitProgress(const WaitProgress&) = delete;
    WaitProgress& operator=(const WaitProgress&) = delete;

private:
    /// Remembers what the journal names for the message of a forced exit.
    static void noteReference(const QString& reference);

    void showProgress();
    void watchInterrupts();

    QString m_operation;
    qint64 m_limitMs;
    bool m_terminal;
    BasicPaymentProcessing* m_processing;
    QDateTime m_since;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_progressThread;
    std::thread m_interruptThread;
};

} // namespace till
