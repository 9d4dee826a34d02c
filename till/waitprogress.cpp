#include "waitprogress.h"

#include "basicpaymentprocessing.h"
#include "tilljournal.h"
#include "tilllog.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace till {

namespace {

std::atomic<int> interrupts{0};
struct sigaction previousAction;
// The signal handler only writes to this pipe; a thread of ours does the rest.
int interruptPipe[2] = {-1, -1};
constexpr char InterruptByte = 'i';
constexpr char QuitByte = 'q';

// Read by the signal handler, so plain bytes behind an atomic flag.
char knownPaymentId[128];
std::atomic<bool> paymentIdKnown{false};

void writeAll(const char* text, size_t size)
{
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, size);
}

void onInterrupt(int)
{
    // Only async-signal-safe calls in here.
    if (interrupts.fetch_add(1) == 0) {
        [[maybe_unused]] ssize_t written = write(interruptPipe[1], &InterruptByte, 1);
        return;
    }
    const char quitting[] = "\nQuitting: the outcome of this operation is unknown.";
    writeAll(quitting, sizeof quitting - 1);
    if (paymentIdKnown.load(std::memory_order_acquire)) {
        const char payment[] = " Payment id: ";
        writeAll(payment, sizeof payment - 1);
        writeAll(knownPaymentId, strnlen(knownPaymentId, sizeof knownPaymentId));
        const char check[] = ". Check its status with the provider before going on.";
        writeAll(check, sizeof check - 1);
    }
    writeAll("\n", 1);
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

void say(const char* text)
{
    std::lock_guard<std::mutex> lock(stderrMutex());
    clearProgressLine();
    std::fputs(text, stderr);
    std::fflush(stderr);
}

} // namespace

void WaitProgress::noteReference(const QString& id)
{
    const QByteArray bytes = id.toUtf8().left(sizeof knownPaymentId - 1);
    paymentIdKnown.store(false, std::memory_order_release);
    std::memset(knownPaymentId, 0, sizeof knownPaymentId);
    std::memcpy(knownPaymentId, bytes.constData(), size_t(bytes.size()));
    paymentIdKnown.store(true, std::memory_order_release);
}

WaitProgress::WaitProgress(const QString& operation, qint64 limitMs,
                           BasicPaymentProcessing* processing, const QDateTime& since)
    : m_operation(operation), m_limitMs(limitMs), m_terminal(isatty(STDERR_FILENO) == 1),
      m_processing(processing), m_since(since)
{
    interrupts = 0;
    paymentIdKnown = false;
    // Made once and never closed: a signal handler that runs late must never write to a
    // descriptor that was closed and handed to something else.
    if (interruptPipe[0] < 0 && pipe2(interruptPipe, O_CLOEXEC) != 0) {
        interruptPipe[0] = interruptPipe[1] = -1;
    }
    if (interruptPipe[0] >= 0) {
        // Forget a byte a late handler left from an earlier wait.
        const int flags = fcntl(interruptPipe[0], F_GETFL);
        fcntl(interruptPipe[0], F_SETFL, flags | O_NONBLOCK);
        char stale = 0;
        while (read(interruptPipe[0], &stale, 1) == 1) {
        }
        fcntl(interruptPipe[0], F_SETFL, flags);
        m_interruptThread = std::thread([this] { watchInterrupts(); });
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousAction);
    if (m_terminal) {
        setBeforeLogLine(clearProgressLine);
        m_progressThread = std::thread([this] { showProgress(); });
    }
}

WaitProgress::~WaitProgress()
{
    sigaction(SIGINT, &previousAction, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
    if (m_progressThread.joinable()) {
        m_progressThread.join();
    }
    if (m_interruptThread.joinable()) {
        [[maybe_unused]] ssize_t written = write(interruptPipe[1], &QuitByte, 1);
        m_interruptThread.join();
    }
    {
        std::lock_guard<std::mutex> lock(stderrMutex());
        clearProgressLine();
        setBeforeLogLine(nullptr);
        std::fflush(stderr);
    }
}

void WaitProgress::watchInterrupts()
{
    char byte = 0;
    while (read(interruptPipe[0], &byte, 1) == 1 && byte == InterruptByte) {
        const QString reference = operationReference(dynamic_cast<QObject*>(m_processing));
        if (!reference.isEmpty()) {
            noteReference(reference);
        }
        if (m_processing && m_processing->interruptPayment()) {
            say("\nCtrl-C: the plug-in stops waiting now; a sale left open is cancelled with the "
                "provider. Its answer follows.\nPress Ctrl-C again to quit at once (the outcome "
                "would then be unknown).\n");
        } else {
            say("\nCtrl-C: the plug-in is not waiting and cannot be interrupted now.\nPress "
                "Ctrl-C again to quit at once (the outcome would then be unknown).\n");
        }
    }
}

void WaitProgress::showProgress()
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
