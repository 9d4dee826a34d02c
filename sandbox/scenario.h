#pragma once

#include "wirefault.h"

#include <QList>
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

/// A token, or a family of tokens, and what the sandbox does with it.
struct TokenReference {
    QString token;
    QString effect;
};

/// The scenario of a scanned token; unknown tokens settle after `defaultPolls`.
Scenario scenarioForToken(const QString& token, int defaultPolls);
/// The name the ledger shows: the wire fault's when there is one, else the sale's.
QString scenarioName(const Scenario& scenario);
/// Every token the sandbox knows, in the order it tries them; any token may be
/// followed by "-<anything>", e.g. "decline-42".
QList<TokenReference> tokenReference(int defaultPolls);

} // namespace sandbox
