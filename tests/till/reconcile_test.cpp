// The README's table of how a journal row stands against its payment's status, cell by cell
// against the reconciliation's own judgement, and the rows of a payment that change it.
#include "journalreconcile.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using oxlenpay::JournalEntry;
using Operation = JournalEntry::Operation;
using State = JournalEntry::State;
using Kind = till::Verdict::Kind;

JournalEntry row(Operation operation, State state)
{
    JournalEntry entry;
    entry.operation = operation;
    entry.state = state;
    entry.amount = 6000;
    entry.paymentId = "pay-1";
    return entry;
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Agrees:
        return "agree";
    case Kind::CannotTell:
        return "cannot tell";
    case Kind::Disagrees:
        return "disagree";
    case Kind::Unanswered:
        break;
    }
    return "unanswered";
}

TEST(Reconcile, TheReadmesTableIsWhatReconcileDecides)
{
    QFile readme(QStringLiteral(OXLENPAY_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const int start = text.indexOf("| journal row | PENDING |");
    ASSERT_GE(start, 0);
    const QStringList lines = text.mid(start).section("\n\n", 0, 0).split('\n');
    const QStringList statuses = lines[0].split('|', Qt::SkipEmptyParts).mid(1);
    ASSERT_EQ(statuses.size(), 6);
    const QHash<QString, Operation> operations = {{"sale", Operation::Sale},
                                                  {"refund", Operation::PartialReversal},
                                                  {"cancel", Operation::Reversal}};
    const QHash<QString, State> settled = {
        {"done", State::Done}, {"declined", State::Declined}, {"reversed", State::Reversed}};
    int checked = 0;
    for (const QString& line : lines.mid(2)) {
        const QStringList cells = line.split('|', Qt::SkipEmptyParts);
        ASSERT_EQ(cells.size(), 7) << line.toStdString();
        const QString label = cells[0].trimmed();
        QVector<JournalEntry> rows;
        if (label.startsWith("any row")) {
            for (Operation operation : operations) {
                for (State state : {State::Sending, State::Waiting, State::Unknown,
                                    State::Attention, State::Resolved}) {
                    rows << row(operation, state);
                }
            }
        } else {
            rows << row(operations.value(label.section(' ', 0, 0)),
                        settled.value(label.section(' ', 1, 1)));
        }
        for (const JournalEntry& entry : rows) {
            for (int c = 0; c < statuses.size(); ++c) {
                const QString status = c == 5 ? QString() : statuses[c].trimmed();
                EXPECT_EQ(kindName(till::judge(entry, {entry}, status).kind),
                          cells[c + 1].trimmed())
                    << label.toStdString() << " ("
                    << JournalEntry::stateName(entry.state).toStdString() << ") against "
                    << statuses[c].trimmed().toStdString();
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 7 * 6 + 15 * 6);
}

TEST(Reconcile, ThePaymentsOtherRowsAndUnreadableAnswers)
{
    const JournalEntry sale = row(Operation::Sale, State::Done);
    struct Case {
        const char* name;
        QVector<JournalEntry> others;
        QString status;
        Kind kind;
    };
    const QList<Case> cases = {
        {"cancelled by this journal",
         {row(Operation::Reversal, State::Done)},
         "REVERSED",
         Kind::Agrees},
        {"a cancel still open",
         {row(Operation::Reversal, State::Unknown)},
         "REVERSED",
         Kind::CannotTell},
        {"behind the journal's back",
         {row(Operation::Reversal, State::Declined)},
         "REVERSED",
         Kind::Disagrees},
        {"a refund done",
         {row(Operation::PartialReversal, State::Done)},
         "PARTIAL_CANCELLED",
         Kind::Agrees},
        {"a status nobody knows", {}, "ON_HOLD", Kind::Unanswered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(till::judge(sale, QVector<JournalEntry>{sale} + c.others, c.status).kind, c.kind);
    }
    const till::Verdict reversed = till::judge(sale, {sale}, "REVERSED");
    EXPECT_EQ(reversed.reason, "journal: sale 60.00 done; provider: REVERSED");
    EXPECT_EQ(till::judge(row(Operation::Reversal, State::Done), {}, "SUCCESS").reason,
              "journal: cancel done; provider: SUCCESS");
    JournalEntry lost = row(Operation::Sale, State::Attention);
    lost.paymentId.clear();
    EXPECT_EQ(till::judge(lost, {}, "SUCCESS").kind, Kind::Unanswered) << "nothing to ask about";
}

} // namespace
