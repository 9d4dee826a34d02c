#include "scenario.h"

namespace sandbox {

namespace {

struct SaleEntry {
    const char* token;
    SaleScenario sale;
    const char* effect;
};

// The dashboard's reference is made from this table.
constexpr SaleEntry Sales[] = {
    {"instant", SaleScenario::SettleAtOnce, "SUCCESS in the payment's own answer"},
    {"decline", SaleScenario::Decline, "FAILED at the first status poll"},
    {"failed", SaleScenario::DeclineAtOnce, "FAILED in the payment's own answer"},
    {"pending", SaleScenario::NeverSettle,
     "stays PENDING until approved or declined on the dashboard"},
    {"settle-on-reversal", SaleScenario::SettleOnReversal,
     "stays PENDING until a reversal arrives, and settles just then"},
};

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
    for (const SaleEntry& entry : Sales) {
        if (named(lower, entry.token)) {
            return {entry.sale, 0, WireFault::None};
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
    for (const SaleEntry& entry : Sales) {
        if (entry.sale == scenario.sale) {
            return entry.token;
        }
    }
    return QString();
}

QList<TokenReference> tokenReference(int defaultPolls)
{
    QList<TokenReference> list{
        {"settle-<n>", "SUCCESS after n status polls"},
    };
    for (const SaleEntry& entry : Sales) {
        list.append(TokenReference{entry.token, entry.effect});
    }
    list.append(TokenReference{"<fault>", "a fault's name, e.g. \"lost\": the payment's own "
                                          "answer meets that fault; the sale settles at the "
                                          "first poll"});
    list.append(TokenReference{
        "anything else",
        QString("SUCCESS after %1 status polls (--settle-after)").arg(defaultPolls)});
    return list;
}

} // namespace sandbox
