#include "scenario.h"

#include <QHash>

namespace sandbox {

namespace {

const QHash<QString, Behaviour>& named()
{
    static const QHash<QString, Behaviour> table = {
        {"instant", Behaviour::SettleAtOnce},
        {"decline", Behaviour::Decline},
        {"failed", Behaviour::DeclineAtOnce},
        {"error", Behaviour::ProviderError},
        {"pending", Behaviour::NeverSettle},
        {"lost", Behaviour::Lost},
        {"slow", Behaviour::Slow},
        {"trickle", Behaviour::Trickle},
        {"not-json", Behaviour::NotJson},
        {"array", Behaviour::JsonArray},
        {"empty", Behaviour::EmptyBody},
        {"no-id", Behaviour::WithoutId},
        {"huge", Behaviour::Huge},
        {"http-500", Behaviour::ServerError},
    };
    return table;
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
            return {Behaviour::SettleAfter, polls};
        }
    }
    for (auto it = named().cbegin(); it != named().cend(); ++it) {
        if (lower == it.key() || lower.startsWith(it.key() + '-')) {
            return {it.value(), 0};
        }
    }
    return {Behaviour::SettleAfter, defaultPolls};
}

bool faultFromName(const QString& name, Behaviour* behaviour)
{
    auto found = named().constFind(name);
    if (found == named().cend() || found.value() == Behaviour::Decline ||
        found.value() == Behaviour::DeclineAtOnce || found.value() == Behaviour::NeverSettle ||
        found.value() == Behaviour::SettleAtOnce) {
        return false;
    }
    *behaviour = found.value();
    return true;
}

QString behaviourName(Behaviour behaviour)
{
    if (behaviour == Behaviour::SettleAfter) {
        return "settle";
    }
    if (behaviour == Behaviour::Normal) {
        return "normal";
    }
    return named().key(behaviour);
}

} // namespace sandbox
