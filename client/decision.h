#pragma once

#include "journalentry.h"
#include "providerreply.h"

namespace oxlenpay {

/// What a journal row becomes, and what to do next, once something new is known about its
/// operation. Every journal state the client writes is decided here and nowhere else:
/// docs/settlement.md is the same table in words, row for row.
namespace decision {

using Operation = JournalEntry::Operation;
using State = JournalEntry::State;
using Status = ProviderReply::Status;

/// What was learned.
enum class Evidence {
    Answered,          ///< an answer about this payment, with its status
    Unnamed,           ///< an answer that names no payment, with its status
    OtherPayment,      ///< an answer about another payment: no answer to this request
    Refused,           ///< the provider refused the request (a non-zero error code)
    LostBeforeSending, ///< the request never reached the provider
    LostAfterUpload,   ///< the request was sent and its answer lost
    IncorrectAnswer,   ///< nothing readable came back
    WaitTimedOut,      ///< no final status before the wait's limit
    WaitInterrupted,   ///< the wait was ended from outside
    WriteFailed,       ///< the closing journal write could not be made durable
    WriterGone,        ///< the till that worked on the row is gone: recovery takes it over
};

/// Facts about the row beside the evidence.
struct Facts {
    Status status = Status::None; ///< of Answered and Unnamed
    bool hasPaymentId = false;    ///< the row knows the provider's payment id
    bool reversalSent = false;    ///< a full reversal of this sale has been sent just now
    bool reverseUnknown = true;   ///< the setting: reverse a sale of unknown outcome
    /// With this refusal the row has at least RefusalsForAttention refusals, the first of
    /// them at least RefusalSpanMs ago.
    bool refusalsDue = false;
    bool hourSinceRequest = false; ///< the row's request is at least an hour old
};

enum class Action {
    None,       ///< nothing more to do
    Poll,       ///< ask for the payment's status
    Reverse,    ///< send a full reversal of the payment
    RetryLater, ///< look again at a later recovery
    TellPerson, ///< no automatic step can know: a person settles it
};

struct Outcome {
    State state;
    Action action;
    bool operator==(const Outcome& other) const
    {
        return state == other.state && action == other.action;
    }
};

constexpr int RefusalsForAttention = 5;
constexpr qint64 RefusalSpanMs = 3600 * 1000;
/// How long after a cancel's request a status showing the payment still charged means
/// the cancel did not happen.
constexpr qint64 CancelSettleMs = 3600 * 1000;

Outcome next(Operation operation, State state, Evidence evidence, const Facts& facts);

/// What one exchange's reply says about the payment `paymentId` (empty: whichever it names).
Evidence evidenceOf(const ProviderReply& reply, const QString& paymentId);

/// The wait before recovery asks again after the `refusals`-th refusal: 60 s, 300 s,
/// 1,800 s, then every hour.
qint64 refusalBackoffMs(int refusals);

const char* evidenceName(Evidence evidence);
const char* actionName(Action action);

} // namespace decision

} // namespace oxlenpay
