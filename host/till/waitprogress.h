#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace till {

/// While an operation waits for the provider: a one-line progress display on
/// stderr (when it is a terminal) and a Ctrl-C guard. The first Ctrl-C explains
/// that the outcome would be unknown; a second one exits with status 130.
class WaitProgress {
public:
    WaitProgress(const QString& operation, qint64 limitMs);
    ~WaitProgress();
    WaitProgress(const WaitProgress&) = delete;
    WaitProgress& operator=(const WaitProgress&) = delete;

private:
    void run();

    QString m_operation;
    qint64 m_limitMs;
    bool m_terminal;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace till
