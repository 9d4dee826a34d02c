#pragma once

#include "wirefault.h"

#include <QString>

namespace sandbox {

/// What the customer does with a sale in the wallet, chosen by the scanned token.
enum class SaleScenario {
    SettleAfter,      // SUCCESS after `polls` status polls
    SettleAtOnce,     // SUCCESS in the payment's own answer
    Decline,          // FAILED at the first poll
    DeclineAtOnce,    // FAILED in the payment's own answer
    NeverSettle,      // stays PENDING
    SettleOnReversal, // stays PENDING until a reversal arrives, and settles just then
};

/// A sale's scenario, and the wire fault its own answer meets (tokens such as "lost").
struct Scenario {
    SaleScenario sale = SaleScenario::SettleAfter;
    int polls = 0;
    WireFault fault = WireFault::None;
};

/// The scenario of a scanned token; unknown tokens settle after `defaultPolls`.
Scenario scenarioForToken(const QString& token, int defaultPolls);
/// The name the ledger shows: the wire fault's when there is one, else the sale's.
QString scenarioName(const Scenario& scenario);

} // namespace sandbox
