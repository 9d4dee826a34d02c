#include "scenario.h"

#include <QHash>

namespace sandbox {

namespace {

const QHash<QString, SaleScenario>& saleNames()
{
    static const QHash<QString, SaleScenario> table = {
        {"instant", SaleScenario::SettleAtOnce},
        {"decline", SaleScenario::Decline},
        {"failed", SaleScenario::DeclineAtOnce},
        {"pending", SaleScenario::NeverSettle},
        {"settle-on-reversal", SaleScenario::SettleOnReversal},
    };
    return table;
}

bool named(const QString& token, const QString& name)
{
    return token == name || token.startsWith(name + '-');
}

} // namespace

Scenario scenarioForToken(const QString& token, int defaultPolls)
{
    // Tokens read "<scenario>" or "<scenario>-<anything>", e.g. "decline-42";
    // "settle-<n>" settles after n polls.
    const QString lower = token.toLower();
    if (lower.startsWith("settle-")) {
        bool ok = false;
        const int polls = lower.mid(7).section('-', 0, 0).toInt(&ok);
        if (ok && polls >= 0) {
            return {SaleScenario::SettleAfter, polls, WireFault::None};
        }
    }
    for (auto it = saleNames().cbegin(); it != saleNames().cend(); ++it) {
        if (named(lower, it.key())) {
            return {it.value(), 0, WireFault::None};
        }
    }
    // A wire fault on the payment's own answer; the sale settles at the first poll.
    for (const QString& name : wireFaultNames()) {
        WireFault fault{};
        if (named(lower, name) && wireFaultFromName(name, &fault)) {
            return {SaleScenario::SettleAfter, 1, fault};
        }
    }
    return {SaleScenario::SettleAfter, defaultPolls, WireFault::None};
}

QString scenarioName(const Scenario& scenario)
{
    if (scenario.fault != WireFault::None) {
        return wireFaultName(scenario.fault);
    }
    if (scenario.sale == SaleScenario::SettleAfter) {
        return "settle";
    }
    return saleNames().key(scenario.sale);
}

} // namespace sandbox
