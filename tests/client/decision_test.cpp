// The decision function against docs/settlement.md, row for row: every combination the
// function can be asked about must be matched by a row of the document, must get that
// row's answer, and every row must be the first match of some combination.
#include "decision.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace oxlenpay {
namespace {

using namespace decision;

struct Case {
    Operation operation;
    State state;
    Evidence evidence;
    Facts facts;
};

struct Row {
    int line = 0;
    std::function<bool(const Case&)> matches;
    bool keepsState = false;
    State state = State::Sending;
    Action action = Action::None;
    int reached = 0;
};

const Operation Operations[] = {Operation::Sale, Operation::Reversal, Operation::PartialReversal,
                                Operation::Fiscal};
const State States[] = {State::Sending,  State::Waiting, State::Done,      State::Declined,
                        State::Reversed, State::Unknown, State::Attention, State::Resolved};
const Status Statuses[] = {Status::None,   Status::Pending,  Status::Success,
                           Status::Failed, Status::Reversed, Status::PartialCancelled,
                           Status::Other};
const Action Actions[] = {Action::None, Action::Poll, Action::Reverse, Action::RetryLater,
                          Action::TellPerson};
constexpr int LastEvidence = int(Evidence::WriterGone);

QString statusWord(Status status)
{
    switch (status) {
    case Status::None:
        return "none";
    case Status::Other:
        return "other";
    case Status::PartialCancelled:
        return "partial-cancelled";
    default:
        return QString(ProviderReply::statusName(status)).toLower();
    }
}

bool withStatus(Evidence evidence)
{
    return evidence == Evidence::Answered || evidence == Evidence::Unnamed;
}

bool factHolds(const QString& word, const Facts& facts, bool* known)
{
    *known = true;
    if (word == "id")
        return facts.hasPaymentId;
    if (word == "no-id")
        return !facts.hasPaymentId;
    if (word == "reversal-sent")
        return facts.reversalSent;
    if (word == "no-reversal")
        return !facts.reversalSent;
    if (word == "keep-unknown")
        return !facts.reverseUnknown;
    if (word == "refusals-due")
        return facts.refusalsDue;
    if (word == "hour-passed")
        return facts.hourSinceRequest;
    *known = false;
    return false;
}

QStringList cells(const QString& line)
{
    QStringList parts = line.split('|');
    parts = parts.mid(1, parts.size() - 2);
    for (QString& part : parts) {
        part = part.trimmed();
    }
    return parts;
}

QStringList words(const QString& cell)
{
    QStringList out;
    for (const QString& word : cell.split(',')) {
        out << word.trimmed();
    }
    return out;
}

// Reads the document's table; a cell it cannot read fails the test with its line.
std::vector<Row> readTable()
{
    QFile file(OXLENPAY_SETTLEMENT_DOC);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << OXLENPAY_SETTLEMENT_DOC;
    std::vector<Row> rows;
    QTextStream in(&file);
    bool inTable = false;
    for (int number = 1; !in.atEnd(); ++number) {
        const QString line = in.readLine();
        if (line.startsWith("## ")) {
            inTable = line == "## The table";
            continue;
        }
        if (!inTable || !line.startsWith('|') || line.startsWith("|---") ||
            line.startsWith("| Operation")) {
            continue;
        }
        const QStringList c = cells(line);
        EXPECT_EQ(c.size(), 7) << "line " << number;
        if (c.size() != 7) {
            continue;
        }
        Row row;
        row.line = number;
        for (const QString& name : words(c[0])) {
            Operation operation;
            EXPECT_TRUE(name == "*" || JournalEntry::operationFromName(name, &operation))
                << "line " << number << ": " << name.toStdString();
        }
        for (const QString& name : words(c[1])) {
            State state;
            EXPECT_TRUE(name == "*" || JournalEntry::stateFromName(name, &state))
                << "line " << number << ": " << name.toStdString();
        }
        const QStringList operations = words(c[0]);
        const QStringList states = words(c[1]);
        const QStringList evidence = words(c[2]);
        const QStringList facts = c[3] == "-" ? QStringList() : words(c[3]);
        row.matches = [=](const Case& k) {
            if (!operations.contains("*") &&
                !operations.contains(JournalEntry::operationName(k.operation))) {
                return false;
            }
            if (!states.contains("*") && !states.contains(JournalEntry::stateName(k.state))) {
                return false;
            }
            const QString name = evidenceName(k.evidence);
            if (!evidence.contains("*") && !evidence.contains(name) &&
                !(withStatus(k.evidence) &&
                  evidence.contains(name + ":" + statusWord(k.facts.status)))) {
                return false;
            }
            for (const QString& fact : facts) {
                bool known = false;
                if (!factHolds(fact, k.facts, &known)) {
                    return false;
                }
            }
            return true;
        };
        for (const QString& fact : facts) {
            bool known = false;
            factHolds(fact, Facts(), &known);
            EXPECT_TRUE(known) << "line " << number << ": " << fact.toStdString();
        }
        row.keepsState = c[4] == "=";
        EXPECT_TRUE(row.keepsState || JournalEntry::stateFromName(c[4], &row.state))
            << "line " << number << ": " << c[4].toStdString();
        bool actionKnown = false;
        for (Action action : Actions) {
            if (c[5] == actionName(action)) {
                row.action = action;
                actionKnown = true;
            }
        }
        EXPECT_TRUE(actionKnown) << "line " << number << ": " << c[5].toStdString();
        EXPECT_FALSE(c[6].isEmpty()) << "line " << number << " gives no reason";
        rows.push_back(row);
    }
    return rows;
}

// Every combination: statuses only where the evidence carries one.
void forEachCase(const std::function<void(const Case&)>& visit)
{
    for (Operation operation : Operations) {
        for (State state : States) {
            for (int e = 0; e <= LastEvidence; ++e) {
                const auto evidence = Evidence(e);
                for (Status status : Statuses) {
                    if (!withStatus(evidence) && status != Status::None) {
                        continue;
                    }
                    for (int bits = 0; bits < 32; ++bits) {
                        Facts facts;
                        facts.status = status;
                        facts.hasPaymentId = bits & 1;
                        facts.reversalSent = bits & 2;
                        facts.reverseUnknown = bits & 4;
                        facts.refusalsDue = bits & 8;
                        facts.hourSinceRequest = bits & 16;
                        visit(Case{operation, state, evidence, facts});
                    }
                }
            }
        }
    }
}

std::string describe(const Case& k)
{
    return QString("%1 %2 %3:%4 id=%5 reversalSent=%6 reverseUnknown=%7 refusalsDue=%8 "
                   "hourPassed=%9")
        .arg(JournalEntry::operationName(k.operation), JournalEntry::stateName(k.state),
             evidenceName(k.evidence), statusWord(k.facts.status))
        .arg(k.facts.hasPaymentId)
        .arg(k.facts.reversalSent)
        .arg(k.facts.reverseUnknown)
        .arg(k.facts.refusalsDue)
        .arg(k.facts.hourSinceRequest)
        .toStdString();
}

TEST(DecisionTable, EveryCombinationIsTheDocumentsRowAndEveryRowIsReached)
{
    std::vector<Row> rows = readTable();
    ASSERT_FALSE(rows.empty());
    int mismatches = 0;
    forEachCase([&](const Case& k) {
        auto row =
            std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.matches(k); });
        if (row == rows.end()) {
            ADD_FAILURE() << "no row of the document for " << describe(k);
            ++mismatches;
            return;
        }
        ++row->reached;
        const Outcome expected{row->keepsState ? k.state : row->state, row->action};
        const Outcome got = next(k.operation, k.state, k.evidence, k.facts);
        if (!(got == expected) && ++mismatches <= 20) {
            ADD_FAILURE() << describe(k) << ": the code gives "
                          << JournalEntry::stateName(got.state).toStdString() << "/"
                          << actionName(got.action) << ", line " << row->line << " says "
                          << JournalEntry::stateName(expected.state).toStdString() << "/"
                          << actionName(expected.action);
        }
    });
    EXPECT_EQ(mismatches, 0);
    for (const Row& row : rows) {
        EXPECT_GT(row.reached, 0) << "line " << row.line << " is never reached: an extra row";
    }
}

TEST(DecisionTable, RefusalsBackOffToHourly)
{
    const qint64 expected[] = {60, 300, 1800, 3600, 3600, 3600};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(refusalBackoffMs(i + 1), expected[i] * 1000) << "refusal " << i + 1;
    }
}

TEST(ProviderReplyStatus, KnownTextsAndOthers)
{
    for (Status status : Statuses) {
        if (status != Status::None && status != Status::Other) {
            EXPECT_EQ(ProviderReply::statusOf(ProviderReply::statusName(status)), status);
        }
    }
    EXPECT_EQ(ProviderReply::statusOf(""), Status::None);
    EXPECT_EQ(ProviderReply::statusOf("success"), Status::Other); // the provider's texts are exact
    EXPECT_EQ(ProviderReply::statusOf("ON_HOLD"), Status::Other);
}

} // namespace
} // namespace oxlenpay
