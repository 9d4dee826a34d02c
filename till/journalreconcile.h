#pragma once

#include "journal.h"
#include "tilloutcome.h"

#include <functional>

namespace till {

/// How a journal row stands against the provider's status of its payment.
struct Verdict {
    enum class Kind { Agrees, CannotTell, Disagrees, Unanswered };
    Kind kind = Kind::Unanswered;
    QString reason; ///< for a disagreement: what the journal says and what the provider says
};

/// `row` against `status`, the provider's "payment_status" of its payment (empty: none came).
/// `ofPayment` are all the journal's rows of that payment: a sale done and later cancelled
/// agrees with REVERSED. Only what every provider answers is read, never extra members.
Verdict judge(const oxlenpay::JournalEntry& row, const QVector<oxlenpay::JournalEntry>& ofPayment,
              const QString& status);

/// The provider's "payment_status" of one payment; empty when no readable answer came.
using StatusLookup = std::function<QString(const QString& paymentId)>;

/// `journal reconcile`: asks the provider the status of every payment with a sale, refund
/// or cancel created in the filter's span (today when it names none), one request at a time
/// within `budgetMs`, and lists each disagreement with its reason. Keeps each row's last
/// reconciliation and the run's figures in the journal; never writes a row or moves money.
/// The outcome is approved when all agree, declined on a disagreement, unknown when only
/// answers are missing. False, with the reason, when the journal cannot be read.
bool reconcileJournal(oxlenpay::Journal::Filter filter, const StatusLookup& lookup, qint64 budgetMs,
                      Outcome* outcome, QString* error);

} // namespace till
