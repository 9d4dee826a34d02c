#include "faultplan.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace simulate {

namespace {

constexpr int Kinds = int(Fault::Count);
constexpr int LookAhead = 4096;

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
    std::fill(std::begin(m_ahead), std::end(m_ahead), Ahead()); // where fires moved
}

FaultPlan::Decision FaultPlan::draw(Fault kind, const QString& what, double scale)
{
    const int k = int(kind);
    QRandomGenerator& stream = m_streams[k];
    Decision decision;
    decision.number = m_drawn[k]++ * Kinds + k + 1;
    const double value = stream.generateDouble();
    decision.extra = stream.generate();
    decision.fires = mayFire(kind, decision.number, value, scale);
    if (decision.fires) {
        m_fired.append({decision.number, kind, what});
    }
    return decision;
}

bool FaultPlan::mayFire(Fault kind, int number, double value, double scale) const
{
    return m_enabled && value < m_rates[int(kind)] * scale &&
           (!m_restricted || m_only.contains(number));
}

int FaultPlan::quietRepeats(const QVector<Draw>& each, int limit) const
{
    if (!m_enabled) {
        return limit;
    }
    int quiet = limit;
    for (const Draw& draw : each) {
        const int k = int(draw.kind);
        if (m_rates[k] <= 0) {
            continue; // off: never fires, whatever it draws
        }
        Ahead& ahead = m_ahead[k];
        if (ahead.scale != draw.scale || ahead.position < m_drawn[k]) {
            // Look ahead on a copy of the stream; the values it will give never change, so
            // the next firing position holds until the stream passes it.
            QRandomGenerator scout = m_streams[k];
            ahead.scale = draw.scale;
            ahead.position = m_drawn[k];
            for (int looked = 0; looked < LookAhead; ++looked, ++ahead.position) {
                const double value = scout.generateDouble();
                scout.generate(); // the decision's extra
                if (mayFire(draw.kind, ahead.position * Kinds + k + 1, value, draw.scale)) {
                    break;
                }
            }
        }
        quiet = qMin(quiet, ahead.position - m_drawn[k]);
    }
    return quiet;
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
