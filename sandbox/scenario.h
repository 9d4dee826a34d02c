#pragma once

#include <QString>

namespace sandbox {

/// What the sandbox does with a sale or a request, chosen by the scanned token
/// or injected through the control API.
enum class Behaviour {
    Normal,        // the operation goes through
    SettleAfter,   // a sale settles to SUCCESS after `polls` status polls
    SettleAtOnce,  // a sale answers SUCCESS in its own answer
    Decline,       // a sale ends in FAILED at the first poll
    DeclineAtOnce, // a sale answers FAILED in its own answer
    ProviderError, // the request is refused with an error code and message
    NeverSettle,   // a sale stays PENDING
    Lost,          // carried out, then the connection closes without an answer
    Slow,          // carried out, answered after a delay
    Trickle,       // carried out, answered a byte at a time
    NotJson,       // carried out, answered with an HTML page
    JsonArray,     // carried out, answered with a JSON array
    EmptyBody,     // carried out, answered with an empty body
    WithoutId,     // carried out, answered without "payment_id"
    Huge,          // carried out, answered with 5 MiB of JSON
    ServerError,   // refused with HTTP 500 and a plain-text body
};

struct Scenario {
    Behaviour behaviour = Behaviour::Normal;
    int polls = 0;
};

/// The sale scenario of a scanned token; unknown tokens settle after `defaultPolls`.
Scenario scenarioForToken(const QString& token, int defaultPolls);
/// A fault by its control-API name ("lost", "slow", ...); false when unknown.
bool faultFromName(const QString& name, Behaviour* behaviour);
QString behaviourName(Behaviour behaviour);

} // namespace sandbox
