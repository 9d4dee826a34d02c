#include "waitprogress.h"

#include "tilllog.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace till {

namespace {

std::atomic<int> interrupts{0};
struct sigaction previousAction;

void onInterrupt(int)
{
    // Only async-signal-safe calls in here.
    if (interrupts.fetch_add(1) == 0) {
        const char text[] =
            "\nInterrupting now would leave the outcome of this operation unknown: the provider "
            "may still complete it.\nWait for the answer, or press Ctrl-C again to quit anyway "
            "and then check the payment's status with the provider (for the sandbox: GET "
            "/_sandbox/ledger) before handing goods over or retrying.\n";
        [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, sizeof text - 1);
        return;
    }
    _exit(130);
}

bool progressShown = false;

void clearProgressLine()
{
    if (progressShown) {
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

} // namespace

WaitProgress::WaitProgress(const QString& operation, qint64 limitMs)
    : m_operation(operation), m_limitMs(limitMs), m_terminal(isatty(STDERR_FILENO) == 1)
{
    interrupts = 0;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousAction);
    if (m_terminal) {
        setBeforeLogLine(clearProgressLine);
        m_thread = std::thread([this] { run(); });
    }
}

WaitProgress::~WaitProgress()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(stderrMutex());
        clearProgressLine();
        setBeforeLogLine(nullptr);
        std::fflush(stderr);
    }
    sigaction(SIGINT, &previousAction, nullptr);
}

void WaitProgress::run()
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_changed.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_done; })) {
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        std::lock_guard<std::mutex> out(stderrMutex());
        std::fprintf(stderr, "\r\033[K%s: waiting for the provider, %lld s of %lld s",
                     m_operation.toUtf8().constData(), static_cast<long long>(waited),
                     static_cast<long long>(m_limitMs / 1000));
        std::fflush(stderr);
        progressShown = true;
    }
}

} // namespace till
