#include "merchantapi.h"

#include <QElapsedTimer>

namespace sandbox {

MerchantApi::MerchantApi(const SandboxOptions& options)
    : m_options(options), m_provider(m_options, m_state.ledger, m_state.faults),
      m_control(m_options, m_state)
{
}

void MerchantApi::noteConnection()
{
    QMutexLocker lock(&m_mutex);
    ++m_state.connections;
}

Delivery MerchantApi::handle(const HttpRequest& request)
{
    QMutexLocker lock(&m_mutex);
    const QString path = request.target.section('?', 0, 0);
    if (isControlPath(path)) {
        return m_control.handle(request, path);
    }
    m_state.requestCounts[request.method + ' ' + path] += 1;
    m_state.lastRequest = request;
    return handleMerchant(request, path);
}

Delivery MerchantApi::handleMerchant(const HttpRequest& request, const QString& path)
{
    QString base = m_options.basePath;
    while (base.endsWith('/')) {
        base.chop(1);
    }
    const std::optional<Operation> operation =
        path.startsWith(base + '/') ? operationAt(request.method, path.mid(base.size()))
                                    : std::nullopt;
    if (!operation) {
        Delivery unknown = jsonReply(
            404, {{"error_code", 404},
                  {"error_message", path.startsWith(base + '/')
                                        ? QString("no operation %1 %2").arg(request.method, path)
                                        : "unknown path " + path}});
        unknown.errorCode = 404;
        m_state.record(request, path, unknown, QString());
        return unknown;
    }
    QElapsedTimer handling;
    handling.start();
    const ProviderReply reply = m_provider.handle(*operation, request);
    Delivery delivery = reply.delivery;
    delivery.paymentId = reply.paymentId;
    delivery.errorCode = reply.errorCode;
    // A request that moved the payment and whose answer never reached the till: the till
    // cannot know what happened, and the dashboard marks the payment so.
    const bool unanswered = delivery.mode == Delivery::Mode::Lost ||
                            delivery.mode == Delivery::Mode::Reset || delivery.status >= 500;
    if (unanswered && *operation != Operation::Status && carriesOut(reply.fault)) {
        if (Payment* payment = m_state.ledger.find(reply.paymentId)) {
            payment->answerLost = true;
        }
    }
    m_state.record(request, path, delivery,
                   reply.fault == WireFault::None ? QString() : wireFaultName(reply.fault),
                   handling.elapsed());
    return delivery;
}

bool MerchantApi::injectFault(const QString& operation, WireFault fault, int count, int after)
{
    QMutexLocker lock(&m_mutex);
    const std::optional<Operation> known = operationFromName(operation);
    if (!known && operation != "any") {
        return false;
    }
    return m_state.faults.add(known, fault, count, after);
}

HttpRequest MerchantApi::lastRequest() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastRequest;
}

QJsonObject MerchantApi::ledgerJson() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.ledgerJson();
}

QJsonObject MerchantApi::statsJson() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.statsJson();
}

} // namespace sandbox
