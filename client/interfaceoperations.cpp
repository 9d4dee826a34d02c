// The provider operations of oxlenpay::Interface: one exchange, then the operation's own
// wait for its final status, through the virtual waitForStatus.
#include "interface.h"

#include "decision.h"
#include "lastoperation.h"
#include "messages.h"
#include "operationjournal.h"
#include "paymentprocessingrequest.h"
#include "statuswait.h"
#include "transport.h"
#include "waitgate.h"

#include <log4qt/logger.h>

namespace oxlenpay {

namespace {

using Status = ProviderReply::Status;

// An answer that names another payment than the one asked about: no answer to this request.
Interface::RequestResult aboutAnotherPayment(const QString& paymentId)
{
    Interface::RequestResult result;
    result.data.insert("payment_id", paymentId);
    messages::set(&result, "requestIncorrectAnswer");
    return result;
}

// A poll's result always names the payment it was about, so the host never loses the
// id of a payment that may have been charged. An answer about another payment is no answer.
Interface::RequestResult withPolledId(Interface::RequestResult result, const QString& paymentId)
{
    const QString reported = result.getRrn();
    if (reported.isEmpty()) {
        result.data.insert("payment_id", paymentId);
    } else if (reported != paymentId) {
        result = aboutAnotherPayment(paymentId);
    }
    return result;
}

struct Learned {
    decision::Evidence evidence;
    decision::Status status;
};

// What one exchange says about the payment `paymentId` (empty: whichever it names).
Learned learnedFrom(const Interface::RequestResult& answer, const QString& paymentId)
{
    const ProviderReply reply = ProviderReply::of(answer);
    return {decision::evidenceOf(reply, paymentId), reply.status};
}

Status statusOf(const Interface::RequestResult& result)
{
    return ProviderReply::statusOf(result.getPaymentStatus());
}

qint64 millisecondsSince(WaitClock::TimePoint start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(WaitClock::now() - start).count();
}

} // namespace

Interface::RequestResult Interface::payment(const PaymentProcessingRequest& request)
{
    WaitGate::Running running(*waitGate);
    const QString transactionId = getUuid();
    JournalEntry row = OperationJournal::entry(JournalEntry::Operation::Sale, transactionId,
                                               request.sum, request.currencyCode, QString());
    RequestResult refusal;
    if (!beginTracked(&row, &refusal)) {
        return refusal;
    }
    lastOperations->begin(row, journal->isEnabled());
    const QJsonObject body{{"amount", request.sum},
                           {"service_id", merchantServiceId},
                           {"otp_data", request.token},
                           {"cashbox_code", merchantId},
                           {"transaction_id", transactionId}};
    journal->keepInPlace(); // the row is in its place before money moves
    const RequestResult first = sendRequest(Payment, body);
    noteAnswer(&row, first);
    const StatusWait wait =
        ownWait(ProviderReply::statusName(Status::Success), first, reverseUnknown != 0);
    RequestResult result = wait.result;
    const JournalEntry::State open = row.state;
    if (settleRow(&row, wait, false)) {
        StatusWait reversal;
        result = closeOutSale(wait.result,
                              wait.end == StatusWait::End::Interrupted ? CloseOut::Interrupted
                                                                       : CloseOut::TimedOut,
                              &reversal);
        settleRow(&row, reversal, true);
    }
    bool recorded = journal->finish(&row, result);
    if (!recorded && result.success && closeOutUnrecorded(row, open)) {
        // Approved money that the journal cannot account for would be reversed by the next
        // recovery after the goods have gone: give it back now instead, and say so.
        journal->dropUnrecorded(row.id); // approved money is never written as done now
        StatusWait reversal;
        result = closeOutSale(result, CloseOut::NotRecorded, &reversal);
        row.state = open;
        settleRow(&row, reversal, true);
        recorded = journal->finish(&row, result);
    }
    lastOperations->end(row, result, recorded);
    return result;
}

bool Interface::beginTracked(JournalEntry* row, RequestResult* refusal) const
{
    if (!Transport::usableInHeader(merchantServiceUserId)) {
        messages::set(refusal, "settingsInvalidHeader");
        logger->error(refusal->message.ru());
        lastOperations->notSent(*row);
        return false;
    }
    if (!journal->isEnabled()) {
        return true;
    }
    if (!journal->ready(refusal) || !journal->start(row, refusal)) {
        lastOperations->notSent(*row); // the till hears it the way the host does
        return false;
    }
    return true;
}

void Interface::finish(JournalEntry* row, const RequestResult& result) const
{
    lastOperations->end(*row, result, journal->finish(row, result));
}

LastOperation Interface::lastOperation() const
{
    return lastOperations->current();
}

void Interface::noteAnswer(JournalEntry* row, const RequestResult& answer) const
{
    const Learned learned = learnedFrom(answer, row->paymentId);
    decision::Facts facts;
    facts.status = learned.status;
    facts.hasPaymentId = !row->paymentId.isEmpty() || !answer.getRrn().isEmpty();
    facts.reverseUnknown = reverseUnknown != 0;
    const decision::Outcome outcome =
        decision::next(row->operation, row->state, learned.evidence, facts);
    if (outcome.action == decision::Action::Poll) {
        journal->answered(row, answer);
        lastOperations->update(*row);
    }
}

bool Interface::settleRow(JournalEntry* row, const StatusWait& wait, bool reversalSent) const
{
    Learned learned{decision::Evidence::WaitTimedOut, decision::Status::None};
    if (wait.end == StatusWait::End::Interrupted) {
        learned.evidence = decision::Evidence::WaitInterrupted;
    } else if (wait.end == StatusWait::End::Final) {
        learned = learnedFrom(wait.answer, row->paymentId);
    }
    decision::Facts facts;
    facts.status = learned.status;
    facts.hasPaymentId = !row->paymentId.isEmpty() || !wait.result.getRrn().isEmpty();
    facts.reversalSent = reversalSent;
    facts.reverseUnknown = reverseUnknown != 0;
    const decision::Outcome outcome =
        decision::next(row->operation, row->state, learned.evidence, facts);
    row->state = outcome.state;
    return outcome.action == decision::Action::Reverse;
}

bool Interface::closeOutUnrecorded(const JournalEntry& row, JournalEntry::State before) const
{
    decision::Facts facts;
    facts.hasPaymentId = !row.paymentId.isEmpty();
    facts.reverseUnknown = reverseUnknown != 0;
    return decision::next(row.operation, before, decision::Evidence::WriteFailed, facts).action ==
           decision::Action::Reverse;
}

Interface::RequestResult Interface::waitForStatus(const QString& status,
                                                  const RequestResult& result) const
{
    const StatusWait wait = awaitStatus(status, result, payDuration, ownWaits->closeOutFollows());
    ownWaits->leave(wait);
    return wait.result;
}

StatusWait Interface::ownWait(const QString& status, const RequestResult& first,
                              bool closeOutFollows) const
{
    ownWaits->expect(closeOutFollows);
    return ownWaits->take(waitForStatus(status, first));
}

StatusWait Interface::awaitStatus(const QString& status, const RequestResult& first, qint64 limitMs,
                                  bool closeOutFollows) const
{
    logger->info("Ожидание статуса '%1'", status);
    StatusWait wait{first, StatusWait::End::Final, first};
    if (!first.success) {
        return wait;
    }
    const Status reported = statusOf(first);
    if (reported != ProviderReply::statusOf(status) && reported != Status::Failed &&
        !first.getRrn().isEmpty()) {
        wait = pollUntil(status, first, limitMs);
    }
    wait.result = classify(status, wait, closeOutFollows);
    return wait;
}

StatusWait Interface::pollUntil(const QString& status, const RequestResult& first,
                                qint64 limitMs) const
{
    const Status wanted = ProviderReply::statusOf(status);
    const QString paymentId = first.getRrn();
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", paymentId}};
    const std::chrono::milliseconds period(qMax<qint64>(frequency, 0));
    StatusWait wait{first, StatusWait::End::TimedOut, first};
    const auto start = WaitClock::now();
    auto next = start;
    for (;;) {
        journal->keepInPlace(); // a vanished journal is made anew within one poll
        recoverWhileIdle(next);
        if (!waitGate->sleepUntil(next)) {
            wait.end = StatusWait::End::Interrupted;
            return wait;
        }
        // The next deadline is taken before sending, so polls keep their period.
        next = WaitClock::now() + period;
        const RequestResult polled = sendRequest(PaymentStatus, body);
        wait.answerLost =
            ProviderReply::of(polled).transport == ProviderReply::Transport::LostAfterUpload;
        wait.result = withPolledId(polled, paymentId);
        wait.answer = wait.result;
        const Status reported = statusOf(wait.result);
        if ((reported == wanted && wait.result.success) || reported == Status::Failed) {
            wait.end = StatusWait::End::Final;
            return wait;
        }
        if (millisecondsSince(start) >= limitMs) {
            wait.end = StatusWait::End::TimedOut;
            return wait;
        }
    }
}

Interface::RequestResult Interface::classify(const QString& status, StatusWait wait,
                                             bool closeOutFollows) const
{
    RequestResult& result = wait.result;
    if (statusOf(result) == Status::Failed) {
        // A declined operation is a failure; the answer still reaches the host.
        const QString providerText = result.data.value("error_message").toString();
        result.success = false;
        result.errorCode = result.data.value("error_code").toInt(0);
        if (providerText.isEmpty()) {
            messages::set(&result, "requestStatusFailed");
        } else {
            messages::setProviderText(&result, providerText);
        }
    } else if (wait.end == StatusWait::End::Interrupted) {
        result.success = false;
        messages::set(&result, "waitInterruptedOutcomeUnknown", result.getRrn());
    } else if (result.getRrn().isEmpty()) {
        // Nothing to poll, or nothing to hand the host: the provider may hold a payment
        // that cannot be named.
        result.success = false;
        if (result.message.isEmpty()) {
            messages::set(&result, "requestIncorrectAnswer");
        }
    } else if (wait.end == StatusWait::End::TimedOut) {
        // Still pending, or no longer answering, when the time ran out: the outcome is not
        // known, so not a success, and not a decline either. A last poll that failed keeps
        // its own message: the cashier learns the real reason. One whose answer was lost
        // after it went out is an incorrect answer, unless the close-out tells the rest.
        result.success = false;
        if (result.message.isEmpty()) {
            messages::set(&result, wait.answerLost && !closeOutFollows ? "requestIncorrectAnswer"
                                                                       : "requestStatusTimeout");
        }
    } else if (result.success && statusOf(result) == ProviderReply::statusOf(status)) {
        return result;
    } else {
        result.success = false;
        if (result.message.isEmpty()) {
            messages::set(&result, "requestIncorrectAnswer");
        }
    }
    if (closeOutFollows && wait.end != StatusWait::End::Final && !result.getRrn().isEmpty()) {
        // Not the end of the story: the close-out that follows says how the sale ended.
        logger->info("%1", result.message.ru());
    } else if (!result.success) {
        logger->error(result.message.ru());
    }
    return result;
}

Interface::RequestResult Interface::closeOutSale(const RequestResult& open, CloseOut why,
                                                 StatusWait* reversal) const
{
    const QString paymentId = open.getRrn();
    if (why == CloseOut::NotRecorded) {
        logger->error(QString("Оплата %1 подтверждена, но не записана в журнал платежей: "
                              "отправляется ее полная отмена")
                          .arg(paymentId));
    } else {
        logger->info("Оплата %1 не подтверждена: отправляется ее полная отмена", paymentId);
    }
    waitGate->rearm(); // the interrupt that ended the sale's wait was for that wait only
    const StatusWait reversed = reverseWhole(
        paymentId, qMin<qint64>(payDuration, settings::CloseOutLimitMs), nullptr, false);
    *reversal = reversed;

    RequestResult result = open;
    result.success = false;
    result.errorCode = 0;
    if (reversed.result.success && statusOf(reversed.result) == Status::Reversed) {
        switch (why) {
        case CloseOut::TimedOut:
            messages::set(&result, "paymentReversed");
            break;
        case CloseOut::Interrupted:
            messages::set(&result, "paymentInterruptedReversed");
            break;
        case CloseOut::NotRecorded:
            messages::set(&result, "paymentNotRecordedReversed");
            break;
        }
        logger->info("Оплата %1 отменена", paymentId);
    } else {
        // The outcome is open: the customer must not leave with the goods. Only a journal
        // lets recovery go on reversing it; without one a person checks the payment.
        messages::set(&result,
                      journal->isEnabled() ? "paymentCloseOutFailed"
                                           : "paymentCloseOutFailedNoJournal",
                      paymentId);
        logger->error(result.message.ru());
    }
    return result;
}

StatusWait Interface::reverseWhole(const QString& paymentId, qint64 limitMs, JournalEntry* row,
                                   bool own) const
{
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", paymentId}};
    journal->keepInPlace(); // the row is in its place before money moves
    RequestResult first = sendRequest(Reversal, body);
    // "REVERSED" is the payment's own status, so a lost answer is settled by polling the payment.
    if (first.success && first.getRrn().isEmpty() && statusOf(first) != Status::Reversed) {
        first.data.insert("payment_id", paymentId);
    } else if (first.success && first.getRrn() != paymentId && !first.getRrn().isEmpty()) {
        first = aboutAnotherPayment(paymentId);
        logger->error(first.message.ru());
    }
    if (row) {
        noteAnswer(row, first);
    }
    const QString reversed = ProviderReply::statusName(Status::Reversed);
    return own ? ownWait(reversed, first) : awaitStatus(reversed, first, limitMs);
}

Interface::RequestResult Interface::reversal(const PaymentProcessingRequest& request) const
{
    WaitGate::Running running(*waitGate);
    logger->info("Полный возврат");
    JournalEntry row = OperationJournal::entry(JournalEntry::Operation::Reversal, getUuid(),
                                               request.sum, request.currencyCode, request.rrn);
    RequestResult result;
    if (!beginTracked(&row, &result)) {
        return result;
    }
    lastOperations->begin(row, journal->isEnabled());
    const StatusWait wait = reverseWhole(request.rrn, payDuration, &row, true);
    settleRow(&row, wait, false);
    finish(&row, wait.result);
    return wait.result;
}

Interface::RequestResult Interface::partialReversal(const PaymentProcessingRequest& request) const
{
    WaitGate::Running running(*waitGate);
    logger->info("Частичный возврат");
    JournalEntry row = OperationJournal::entry(JournalEntry::Operation::PartialReversal, getUuid(),
                                               request.sum, request.currencyCode, request.rrn);
    RequestResult result;
    if (!beginTracked(&row, &result)) {
        return result;
    }
    lastOperations->begin(row, journal->isEnabled());
    const QJsonObject body{{"payment_id", request.rrn}, {"amount", request.sum}};
    journal->keepInPlace(); // the row is in its place before money moves
    RequestResult first = sendRequest(PartialReversal, body);
    // The payment's status cannot tell this refund from an earlier one: without the
    // refund's own answer its outcome is unknown.
    if (first.success && !first.getRrn().isEmpty() && first.getRrn() != request.rrn) {
        first = aboutAnotherPayment(request.rrn);
        logger->error(first.message.ru());
        settleRow(&row, StatusWait{first, StatusWait::End::Final, first}, false);
        finish(&row, first);
        return first;
    }
    if (first.success && first.getRrn().isEmpty() && statusOf(first) != Status::PartialCancelled) {
        settleRow(&row, StatusWait{first, StatusWait::End::Final, first}, false);
        first.success = false;
        first.data.insert("payment_id", request.rrn);
        messages::set(&first, "partialReversalOutcomeUnknown", request.rrn);
        logger->error(first.message.ru());
        finish(&row, first);
        return first;
    }
    noteAnswer(&row, first);
    const StatusWait wait = ownWait(ProviderReply::statusName(Status::PartialCancelled), first);
    settleRow(&row, wait, false);
    finish(&row, wait.result);
    return wait.result;
}

bool Interface::sendOfdData(const QString& paymentId, const QString& fiscalUrl) const
{
    WaitGate::Running running(*waitGate);
    JournalEntry row =
        OperationJournal::entry(JournalEntry::Operation::Fiscal, getUuid(), 0, 0, paymentId);
    RequestResult result;
    if (!beginTracked(&row, &result)) {
        return false;
    }
    lastOperations->begin(row, journal->isEnabled());
    const QJsonObject body{{"payment_id", paymentId}, {"fiscal_url", fiscalUrl}};
    journal->keepInPlace(); // the row is in its place before money moves
    RequestResult first = sendRequest(Fiscal, body);
    // A settled sale's status is "SUCCESS" too, so only the fiscal answer itself confirms
    // the link; without it the host queues the message again. An answer about another
    // payment confirms nothing.
    if (first.success && !first.getRrn().isEmpty() && first.getRrn() != paymentId) {
        first = aboutAnotherPayment(paymentId);
        logger->error(first.message.ru());
        messages::set(&result, "fiscalNotConfirmed");
        settleRow(&row, StatusWait{first, StatusWait::End::Final, first}, false);
    } else if (first.success && first.getRrn().isEmpty() && statusOf(first) != Status::Success) {
        logger->error("Передача фискальной ссылки по платежу %1 не подтверждена", paymentId);
        messages::set(&result, "fiscalNotConfirmed");
        settleRow(&row, StatusWait{first, StatusWait::End::Final, first}, false);
    } else {
        noteAnswer(&row, first);
        const StatusWait wait = ownWait(ProviderReply::statusName(Status::Success), first);
        result = wait.result;
        settleRow(&row, wait, false);
        if (!result.success && result.message.isEmpty()) {
            messages::set(&result, "fiscalNotConfirmed");
        }
    }
    finish(&row, result);
    return result.success;
}

} // namespace oxlenpay
