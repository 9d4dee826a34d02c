#pragma once

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
/// with status 130 at once, naming the payment when one is known.
class WaitProgress {
public:
    WaitProgress(const QString& operation, qint64 limitMs, BasicPaymentProcessing* processing);
    ~WaitProgress();
    WaitProgress(const WaitProgress&) = delete;
    WaitProgress& operator=(const WaitProgress&) = delete;

    /// Remembers the payment a plug-in log line named, for the message of a forced exit.
    static void notePaymentId(const QString& id);

private:
    void showProgress();
    void watchInterrupts();

    QString m_operation;
    qint64 m_limitMs;
    bool m_terminal;
    BasicPaymentProcessing* m_processing;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_progressThread;
    std::thread m_interruptThread;
};

} // namespace till
