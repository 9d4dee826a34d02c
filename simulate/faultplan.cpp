#include "faultplan.h"

#include <QStringList>

namespace simulate {

namespace {

constexpr int Kinds = int(Fault::Count);

} // namespace

const char* faultName(Fault fault)
{
    static const char* const names[Kinds] = {
        "connect-failed", "refused",   "declined",   "lost-after-upload", "slow",
        "gateway-5xx",    "garbled",   "empty",      "no-payment-id",     "other-payment",
        "status-lag",     "crash",     "disk-error", "held-lock",         "folder-vanishes",
        "clock-jump",     "interrupt", "other-till", "older-writer"};
    return names[int(fault)];
}

FaultPlan::FaultPlan(quint32 seed) : m_seed(seed)
{
    QRandomGenerator swarm(seed * 2654435761u + 17u);
    for (int kind = 0; kind < Kinds; ++kind) {
        const bool off = swarm.bounded(3u) == 0;
        const double rate = 0.01 + 0.49 * swarm.generateDouble();
        m_rates[kind] = off ? 0.0 : rate;
        m_streams.append(QRandomGenerator(seed * 40503u + quint32(kind) * 7919u + 1u));
    }
}

void FaultPlan::restrictTo(const QSet<int>& numbers)
{
    m_only = numbers;
    m_restricted = true;
}

FaultPlan::Decision FaultPlan::draw(Fault kind, const QString& what, double scale)
{
    const int k = int(kind);
    QRandomGenerator& stream = m_streams[k];
    Decision decision;
    decision.number = m_drawn[k]++ * Kinds + k + 1;
    const double value = stream.generateDouble();
    decision.extra = stream.generate();
    decision.fires = m_enabled && value < m_rates[k] * scale &&
                     (!m_restricted || m_only.contains(decision.number));
    if (decision.fires) {
        m_fired.append({decision.number, kind, what});
    }
    return decision;
}

QString FaultPlan::describeRates() const
{
    QStringList on;
    for (int kind = 0; kind < Kinds; ++kind) {
        if (m_rates[kind] > 0) {
            on << QString("%1 %2%").arg(faultName(Fault(kind))).arg(int(m_rates[kind] * 100));
        }
    }
    return on.join(", ");
}

} // namespace simulate
