#include "decision.h"

namespace oxlenpay {
namespace decision {

namespace {

bool isOwn(State state)
{
    return state == State::Sending || state == State::Waiting;
}

bool isFinal(State state)
{
    return state == State::Done || state == State::Declined || state == State::Reversed ||
           state == State::Resolved;
}

// Refused, or never sent: the operation's own request moved nothing; a poll that failed is
// only one poll, and the wait goes on.
Outcome notSentOrPollAgain(State state)
{
    return state == State::Sending ? Outcome{State::Declined, Action::None}
                                   : Outcome{State::Waiting, Action::Poll};
}

// A refusal during recovery keeps money owed in recovery's hands until refusals have gone
// on long enough that a person must look.
Outcome refusedInRecovery(State state, const Facts& facts)
{
    if (facts.refusalsDue || state == State::Attention) {
        return {State::Attention, Action::TellPerson};
    }
    return {State::Unknown, Action::RetryLater};
}

Outcome sale(State state, Evidence evidence, const Facts& facts)
{
    if (isOwn(state)) {
        if (facts.reversalSent) {
            // The close-out's reversal: only "REVERSED" settles it; anything else leaves
            // the reversal owed, and recovery goes on with it.
            if ((evidence == Evidence::Answered || evidence == Evidence::Unnamed) &&
                facts.status == Status::Reversed) {
                return {State::Reversed, Action::None};
            }
            return {State::Unknown, Action::RetryLater};
        }
        switch (evidence) {
        case Evidence::Answered:
        case Evidence::Unnamed:
            if (facts.status == Status::Failed) {
                return {State::Declined, Action::None};
            }
            if (!facts.hasPaymentId) {
                return {State::Attention, Action::TellPerson};
            }
            if (evidence == Evidence::Answered && facts.status == Status::Success) {
                return {State::Done, Action::None};
            }
            return {State::Waiting, Action::Poll};
        case Evidence::Refused:
        case Evidence::LostBeforeSending:
            return notSentOrPollAgain(state);
        case Evidence::OtherPayment:
        case Evidence::LostAfterUpload:
        case Evidence::IncorrectAnswer:
            return facts.hasPaymentId ? Outcome{State::Waiting, Action::Poll}
                                      : Outcome{State::Attention, Action::TellPerson};
        case Evidence::WaitTimedOut:
        case Evidence::WaitInterrupted:
            if (!facts.hasPaymentId || !facts.reverseUnknown) {
                return {State::Attention, Action::TellPerson};
            }
            return {State::Waiting, Action::Reverse};
        case Evidence::WriteFailed:
            return {State::Waiting, Action::Reverse};
        case Evidence::WriterGone:
            return facts.hasPaymentId ? Outcome{State::Unknown, Action::Poll}
                                      : Outcome{State::Attention, Action::TellPerson};
        }
    }
    if (!facts.hasPaymentId) {
        return {State::Attention, Action::TellPerson};
    }
    if (evidence == Evidence::Unnamed && facts.reversalSent && facts.status == Status::Reversed) {
        return {State::Reversed, Action::None}; // the answer to our own reversal
    }
    switch (evidence) {
    case Evidence::Answered:
        switch (facts.status) {
        case Status::Reversed:
            return {State::Reversed, Action::None};
        case Status::Failed:
            // After our own reversal, "FAILED" may speak of the reversal: the next status says.
            return facts.reversalSent ? Outcome{state, Action::RetryLater}
                                      : Outcome{State::Declined, Action::None};
        case Status::Success:
        case Status::Pending:
        case Status::PartialCancelled:
            // Charged, or still may be, and the host never heard it approved.
            if (state == State::Attention) {
                return {State::Attention, Action::TellPerson};
            }
            return facts.reversalSent ? Outcome{State::Unknown, Action::RetryLater}
                                      : Outcome{State::Unknown, Action::Reverse};
        case Status::None:
        case Status::Other:
            return {state, Action::RetryLater};
        }
        break;
    case Evidence::Refused:
        return refusedInRecovery(state, facts);
    default:
        break;
    }
    return {state, Action::RetryLater};
}

Outcome reversal(State state, Evidence evidence, const Facts& facts)
{
    if (!facts.hasPaymentId) {
        return {State::Attention, Action::TellPerson};
    }
    if (isOwn(state)) {
        switch (evidence) {
        case Evidence::Answered:
        case Evidence::Unnamed:
            if (facts.status == Status::Reversed) {
                return evidence == Evidence::Answered ? Outcome{State::Done, Action::None}
                                                      : Outcome{State::Unknown, Action::RetryLater};
            }
            if (facts.status == Status::Failed) {
                return {State::Declined, Action::None};
            }
            return {State::Waiting, Action::Poll};
        case Evidence::Refused:
        case Evidence::LostBeforeSending:
            return notSentOrPollAgain(state);
        case Evidence::LostAfterUpload:
            return {State::Waiting, Action::Poll};
        case Evidence::WriteFailed:
            return {state, Action::None};
        case Evidence::WriterGone:
            return {State::Unknown, Action::Poll};
        default:
            // The provider's status may still lag behind the cancel: a cashier told
            // "declined" might hand back cash and pay the customer twice.
            return {State::Unknown, Action::RetryLater};
        }
    }
    switch (evidence) {
    case Evidence::Answered:
        switch (facts.status) {
        case Status::Reversed:
            return {State::Done, Action::None};
        case Status::Failed:
            return {State::Declined, Action::None};
        case Status::Success:
        case Status::PartialCancelled:
            if (facts.hourSinceRequest) {
                return {State::Declined, Action::None}; // still charged long after the cancel
            }
            return {state, Action::RetryLater};
        default:
            return {state, Action::RetryLater};
        }
    case Evidence::Refused:
        return refusedInRecovery(state, facts);
    default:
        return {state, Action::RetryLater};
    }
}

Outcome partialReversal(State state, Evidence evidence, const Facts& facts)
{
    // A payment's status cannot tell one partial refund from another: only the refund's
    // own answer, or a person, settles it.
    const bool answer = evidence == Evidence::Answered || evidence == Evidence::Unnamed;
    if (answer && facts.status == Status::Failed) {
        return {State::Declined, Action::None};
    }
    if (!isOwn(state)) {
        return {State::Attention, Action::TellPerson};
    }
    switch (evidence) {
    case Evidence::Answered:
        if (facts.status == Status::PartialCancelled) {
            return {State::Done, Action::None};
        }
        return {State::Waiting, Action::Poll};
    case Evidence::Refused:
    case Evidence::LostBeforeSending:
        return notSentOrPollAgain(state);
    case Evidence::WriteFailed:
        return {state, Action::None};
    default:
        return {State::Attention, Action::TellPerson};
    }
}

Outcome fiscal(State state, Evidence evidence, const Facts& facts)
{
    // A receipt link moves no money: unless confirmed it is declined, and the host sends
    // it again.
    if (isOwn(state) && evidence == Evidence::Answered) {
        if (facts.status == Status::Success) {
            return {State::Done, Action::None};
        }
        if (facts.status != Status::Failed) {
            return {State::Waiting, Action::Poll};
        }
    }
    if (isOwn(state) && evidence == Evidence::WriteFailed) {
        return {state, Action::None};
    }
    return {State::Declined, Action::None};
}

} // namespace

Outcome next(Operation operation, State state, Evidence evidence, const Facts& facts)
{
    if (isFinal(state)) {
        return {state, Action::None};
    }
    switch (operation) {
    case Operation::Sale:
        return sale(state, evidence, facts);
    case Operation::Reversal:
        return reversal(state, evidence, facts);
    case Operation::PartialReversal:
        return partialReversal(state, evidence, facts);
    case Operation::Fiscal:
        return fiscal(state, evidence, facts);
    }
    return {state, Action::TellPerson};
}

Evidence evidenceOf(const ProviderReply& reply, const QString& paymentId)
{
    switch (reply.transport) {
    case ProviderReply::Transport::LostBeforeSending:
        return Evidence::LostBeforeSending;
    case ProviderReply::Transport::LostAfterUpload:
        return Evidence::LostAfterUpload;
    case ProviderReply::Transport::Unreadable:
        return Evidence::IncorrectAnswer;
    case ProviderReply::Transport::Answered:
        break;
    }
    if (reply.refused()) {
        return Evidence::Refused;
    }
    if (reply.paymentId.isEmpty()) {
        return Evidence::Unnamed;
    }
    if (!paymentId.isEmpty() && reply.paymentId != paymentId) {
        return Evidence::OtherPayment;
    }
    return Evidence::Answered;
}

qint64 refusalBackoffMs(int refusals)
{
    static const qint64 steps[] = {60, 300, 1800, 3600};
    const int index = qBound(0, refusals - 1, int(sizeof steps / sizeof *steps) - 1);
    return steps[index] * 1000;
}

const char* evidenceName(Evidence evidence)
{
    switch (evidence) {
    case Evidence::Answered:
        return "answered";
    case Evidence::Unnamed:
        return "unnamed";
    case Evidence::OtherPayment:
        return "other-payment";
    case Evidence::Refused:
        return "refused";
    case Evidence::LostBeforeSending:
        return "lost-before-sending";
    case Evidence::LostAfterUpload:
        return "lost-after-upload";
    case Evidence::IncorrectAnswer:
        return "incorrect-answer";
    case Evidence::WaitTimedOut:
        return "timed-out";
    case Evidence::WaitInterrupted:
        return "interrupted";
    case Evidence::WriteFailed:
        return "write-failed";
    case Evidence::WriterGone:
        return "writer-gone";
    }
    return "";
}

const char* actionName(Action action)
{
    switch (action) {
    case Action::None:
        return "none";
    case Action::Poll:
        return "poll";
    case Action::Reverse:
        return "reverse";
    case Action::RetryLater:
        return "retry-later";
    case Action::TellPerson:
        return "tell-person";
    }
    return "";
}

} // namespace decision
} // namespace oxlenpay
