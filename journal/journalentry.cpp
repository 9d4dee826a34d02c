#include "journalentry.h"

#include <array>
#include <utility>

namespace oxlenpay {

namespace {

// The names are stored in the database: never rename one.
constexpr std::array<std::pair<JournalEntry::Operation, const char*>, 4> OperationNames{{
    {JournalEntry::Operation::Sale, "sale"},
    {JournalEntry::Operation::Reversal, "reversal"},
    {JournalEntry::Operation::PartialReversal, "partialReversal"},
    {JournalEntry::Operation::Fiscal, "fiscal"},
}};

constexpr std::array<std::pair<JournalEntry::State, const char*>, 8> StateNames{{
    {JournalEntry::State::Sending, "sending"},
    {JournalEntry::State::Waiting, "waiting"},
    {JournalEntry::State::Done, "done"},
    {JournalEntry::State::Declined, "declined"},
    {JournalEntry::State::Reversed, "reversed"},
    {JournalEntry::State::Unknown, "unknown"},
    {JournalEntry::State::Attention, "attention"},
    {JournalEntry::State::Resolved, "resolved"},
}};

template <typename Table, typename Value> QString nameOf(const Table& table, Value value)
{
    for (const auto& [candidate, name] : table) {
        if (candidate == value) {
            return name;
        }
    }
    return QString();
}

template <typename Table, typename Value>
bool valueOf(const Table& table, const QString& name, Value* value)
{
    for (const auto& [candidate, candidateName] : table) {
        if (name == QLatin1String(candidateName)) {
            *value = candidate;
            return true;
        }
    }
    return false;
}

} // namespace

QVector<JournalEntry::Operation> JournalEntry::allOperations()
{
    QVector<Operation> all;
    for (const auto& [operation, name] : OperationNames) {
        all << operation;
    }
    return all;
}

QVector<JournalEntry::State> JournalEntry::allStates()
{
    QVector<State> all;
    for (const auto& [state, name] : StateNames) {
        all << state;
    }
    return all;
}

QString JournalEntry::operationName(Operation operation)
{
    return nameOf(OperationNames, operation);
}

QString JournalEntry::stateName(State state)
{
    return nameOf(StateNames, state);
}

bool JournalEntry::operationFromName(const QString& name, Operation* operation)
{
    return valueOf(OperationNames, name, operation);
}

bool JournalEntry::stateFromName(const QString& name, State* state)
{
    return valueOf(StateNames, name, state);
}

} // namespace oxlenpay
