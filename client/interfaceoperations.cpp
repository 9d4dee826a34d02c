// The provider operations of oxlenpay::Interface: one exchange, then the wait
// for the operation's final status.
#include "interface.h"

#include "decision.h"
#include "lastoperation.h"
#include "operationjournal.h"
#include "paymentprocessingrequest.h"
#include "restclient.h"
#include "restoperation.h"
#include "waitgate.h"

#include <log4qt/logger.h>

#include <QJsonDocument>

namespace oxlenpay {

namespace {

const char* const UploadedButAborted = "Данные переданы на сервер, но ответ не был получен";
const char* const IncorrectAnswer = "Некорректный ответ от сервера";
const char* const Failed = "FAILED";

const char* const FiscalNotConfirmed = "Передача фискальной ссылки не подтверждена";

// An answer that names another payment than the one asked about: no answer to this request.
Interface::RequestResult aboutAnotherPayment(const QString& paymentId)
{
    Interface::RequestResult result;
    result.settlement = Interface::Settlement::Unknown;
    result.setMessage("requestIncorrectAnswer", IncorrectAnswer);
    result.data.insert("payment_id", paymentId);
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

qint64 millisecondsSince(WaitClock::TimePoint start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(WaitClock::now() - start).count();
}

} // namespace

Interface::RequestResult Interface::sendRequest(Method method, const QJsonObject& body) const
{
    RequestResult result;
    const QUrl url = getUrl(method);
    if (url.isEmpty()) {
        result.setMessage("requestInvalidPath", "Путь в настройках платежной системы указывает "
                                                "на другой сервер: запрос не отправлен");
        logger->error(result.message.ru());
        return result;
    }
    QSharedPointer<RestClient> client = MockFactory<RestClient>::creator();
    client->setTimeout(exchangeLimitMs >= 0 ? qMin(timeout, exchangeLimitMs) : timeout);
    const RestOperation operation =
        method == PaymentStatus ? RestOperation::Get : RestOperation::Post;
    client->send(restOperationCode(operation), url, QJsonDocument(body), getHeaders());

    result.success = true;
    result.settlement = Settlement::Approved;
    if (client->error() != 0) {
        if (client->isUploadedButAborted()) {
            logger->warn(UploadedButAborted);
            // Only a payment's lost answer fails here; the callers of the others decide.
            result.settlement = Settlement::Unknown;
            if (method == Payment) {
                result.success = false;
                result.setMessage("requestUploadedButAborted", UploadedButAborted);
            }
            return result;
        }
        result.success = false;
        result.settlement = Settlement::Declined;
        result.message = client->errorText(); // the host's REST client chose its key and text
        result.messageKey = "transportFailed";
        return result;
    }

    const QJsonDocument answer = client->jsonAnswer();
    if (!answer.isObject() || answer.object().isEmpty()) {
        // The request reached the provider and nothing readable came back.
        result.success = false;
        result.settlement = Settlement::Unknown;
        result.setMessage("requestIncorrectAnswer", IncorrectAnswer);
        logger->error("Некорректный ответ от сервера (нет данных)");
        return result;
    }
    result.data = answer.object();
    const int errorCode = result.data.value("error_code").toInt(0);
    if (errorCode != 0) {
        const QString errorMessage = result.data.value("error_message").toString();
        result.success = false;
        result.settlement = Settlement::Declined;
        result.errorCode = errorCode;
        result.setMessage("undefined", errorMessage);
        logger->error("Сервер вернул сообщение об ошибке: %1", errorMessage);
    }
    return result;
}

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
    const Wait wait = awaitStatus("SUCCESS", first, payDuration, reverseUnknown != 0);
    RequestResult result = wait.result;
    const JournalEntry::State open = row.state;
    if (settleRow(&row, wait, false)) {
        Wait reversal;
        result = closeOutSale(wait.result,
                              wait.end == WaitEnd::Interrupted ? CloseOut::Interrupted
                                                               : CloseOut::TimedOut,
                              &reversal);
        settleRow(&row, reversal, true);
    }
    bool recorded = journal->finish(&row, result);
    if (!recorded && result.success && closeOutUnrecorded(row, open)) {
        // Approved money that the journal cannot account for would be reversed by the next
        // recovery after the goods have gone: give it back now instead, and say so.
        journal->dropUnrecorded(row.id); // approved money is never written as done now
        Wait reversal;
        result = closeOutSale(result, CloseOut::NotRecorded, &reversal);
        row.state = open;
        settleRow(&row, reversal, true);
        recorded = journal->finish(&row, result);
    }
    lastOperations->end(row, result.settlement, recorded);
    return result;
}

bool Interface::beginTracked(JournalEntry* row, RequestResult* refusal) const
{
    if (!journal->isEnabled()) {
        return true;
    }
    if (!journal->ready(refusal) || !journal->start(row, refusal)) {
        // Nothing was sent: the host is told so, and the till hears it the same way.
        lastOperations->begin(*row, false);
        lastOperations->end(*row, Settlement::Declined, false);
        return false;
    }
    return true;
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

bool Interface::settleRow(JournalEntry* row, const Wait& wait, bool reversalSent) const
{
    Learned learned{decision::Evidence::WaitTimedOut, decision::Status::None};
    if (wait.end == WaitEnd::Interrupted) {
        learned.evidence = decision::Evidence::WaitInterrupted;
    } else if (wait.end == WaitEnd::Final) {
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
    return awaitStatus(status, result, payDuration).result;
}

Interface::Wait Interface::awaitStatus(const QString& status, const RequestResult& first,
                                       qint64 limitMs, bool closeOutFollows) const
{
    logger->info("Ожидание статуса '%1'", status);
    Wait wait{first, WaitEnd::Final, first};
    if (!first.success) {
        return wait;
    }
    const QString reported = first.getPaymentStatus();
    if (reported != status && reported != Failed && !first.getRrn().isEmpty()) {
        wait = pollUntil(status, first, limitMs);
    }
    wait.result = classify(status, wait, closeOutFollows);
    return wait;
}

Interface::Wait Interface::pollUntil(const QString& status, const RequestResult& first,
                                     qint64 limitMs) const
{
    const QString paymentId = first.getRrn();
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", paymentId}};
    const std::chrono::milliseconds period(qMax<qint64>(frequency, 0));
    Wait wait{first, WaitEnd::TimedOut, first};
    const auto start = WaitClock::now();
    auto next = start;
    for (;;) {
        journal->keepInPlace(); // a vanished journal is made anew within one poll
        recoverWhileIdle(next);
        if (!waitGate->sleepUntil(next)) {
            wait.end = WaitEnd::Interrupted;
            return wait;
        }
        // The next deadline is taken before sending, so polls keep their period.
        next = WaitClock::now() + period;
        wait.result = withPolledId(sendRequest(PaymentStatus, body), paymentId);
        wait.answer = wait.result;
        const QString reported = wait.result.getPaymentStatus();
        if ((reported == status && wait.result.success) || reported == Failed) {
            wait.end = WaitEnd::Final;
            return wait;
        }
        if (millisecondsSince(start) >= limitMs) {
            wait.end = WaitEnd::TimedOut;
            return wait;
        }
    }
}

Interface::RequestResult Interface::classify(const QString& status, Wait wait,
                                             bool closeOutFollows) const
{
    RequestResult& result = wait.result;
    if (result.getPaymentStatus() == Failed) {
        // A declined operation is a failure; the answer still reaches the host.
        const QString providerText = result.data.value("error_message").toString();
        result.success = false;
        result.settlement = Settlement::Declined;
        result.errorCode = result.data.value("error_code").toInt(0);
        if (providerText.isEmpty()) {
            result.setMessage("requestStatusFailed", "Операция отклонена платежной системой");
        } else {
            result.setMessage("undefined", providerText);
        }
    } else if (wait.end == WaitEnd::Interrupted) {
        result.success = false;
        result.settlement = Settlement::Unknown;
        result.setMessage("waitInterruptedOutcomeUnknown",
                          QString("Ожидание прервано: результат операции по платежу %1 "
                                  "неизвестен, проверьте его в платежной системе, прежде чем "
                                  "повторять операцию")
                              .arg(result.getRrn()));
    } else if (result.getRrn().isEmpty()) {
        // Nothing to poll, or nothing to hand the host: the provider may hold a payment
        // that cannot be named.
        result.success = false;
        result.settlement = Settlement::Unknown;
        if (result.message.isEmpty()) {
            result.setMessage("requestIncorrectAnswer", IncorrectAnswer);
        }
    } else if (wait.end == WaitEnd::TimedOut) {
        // Still pending, or no longer answering, when the time ran out: the outcome is not
        // known, so not a success, and not a decline either. A last poll that failed keeps
        // its own message: the cashier learns the real reason.
        result.success = false;
        result.settlement = Settlement::Unknown;
        if (result.message.isEmpty()) {
            result.setMessage("requestStatusTimeout",
                              "Истекло время ожидания подтверждения операции");
        }
    } else if (result.success && result.getPaymentStatus() == status) {
        result.settlement = Settlement::Approved;
        return result;
    } else {
        result.success = false;
        result.settlement = Settlement::Unknown;
        if (result.message.isEmpty()) {
            result.setMessage("requestIncorrectAnswer", IncorrectAnswer);
        }
    }
    if (closeOutFollows && wait.end != WaitEnd::Final && !result.getRrn().isEmpty()) {
        // Not the end of the story: the close-out that follows says how the sale ended.
        logger->info("%1", result.message.ru());
    } else if (!result.success) {
        logger->error(result.message.ru());
    }
    return result;
}

Interface::RequestResult Interface::closeOutSale(const RequestResult& open, CloseOut why,
                                                 Wait* reversal) const
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
    const Wait reversed =
        reverseWhole(paymentId, qMin<qint64>(payDuration, settings::CloseOutLimitMs), nullptr);
    *reversal = reversed;

    RequestResult result = open;
    result.success = false;
    result.errorCode = 0;
    if (reversed.result.success && reversed.result.getPaymentStatus() == "REVERSED") {
        result.settlement = Settlement::Reversed;
        switch (why) {
        case CloseOut::TimedOut:
            result.setMessage("paymentReversed", "Оплата не была подтверждена вовремя и "
                                                 "отменена, деньги клиенту возвращены");
            break;
        case CloseOut::Interrupted:
            result.setMessage("paymentInterruptedReversed",
                              "Ожидание оплаты прервано, оплата отменена, деньги клиенту "
                              "возвращены");
            break;
        case CloseOut::NotRecorded:
            result.setMessage("paymentNotRecordedReversed",
                              "Оплата отменена, деньги клиенту возвращены: журнал платежей не "
                              "удалось записать");
            break;
        }
        logger->info("Оплата %1 отменена", paymentId);
    } else {
        // Recovery goes on reversing it: the customer must not leave with the goods.
        result.settlement = Settlement::ReversalOwed;
        result.setMessage("paymentCloseOutFailed",
                          QString("Оплата %1 не подтверждена, ее отмена не завершена: платеж "
                                  "будет отменен, товар не выдавайте")
                              .arg(paymentId));
        logger->error(result.message.ru());
    }
    return result;
}

Interface::Wait Interface::reverseWhole(const QString& paymentId, qint64 limitMs,
                                        JournalEntry* row) const
{
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", paymentId}};
    journal->keepInPlace(); // the row is in its place before money moves
    RequestResult first = sendRequest(Reversal, body);
    // "REVERSED" is the payment's own status, so a lost answer is settled by polling the payment.
    if (first.success && first.getRrn().isEmpty() && first.getPaymentStatus() != "REVERSED") {
        first.data.insert("payment_id", paymentId);
    } else if (first.success && first.getRrn() != paymentId && !first.getRrn().isEmpty()) {
        first = aboutAnotherPayment(paymentId);
        logger->error(first.message.ru());
    }
    if (row) {
        noteAnswer(row, first);
    }
    return awaitStatus("REVERSED", first, limitMs);
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
    const Wait wait = reverseWhole(request.rrn, payDuration, &row);
    result = wait.result;
    settleRow(&row, wait, false);
    lastOperations->end(row, result.settlement, journal->finish(&row, result));
    return result;
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
        settleRow(&row, Wait{first, WaitEnd::Final, first}, false);
        lastOperations->end(row, first.settlement, journal->finish(&row, first));
        return first;
    }
    if (first.success && first.getRrn().isEmpty() &&
        first.getPaymentStatus() != "PARTIAL_CANCELLED") {
        settleRow(&row, Wait{first, WaitEnd::Final, first}, false);
        first.success = false;
        first.settlement = Settlement::Unknown;
        first.data.insert("payment_id", request.rrn);
        first.setMessage("partialReversalOutcomeUnknown",
                         QString("Результат частичного возврата по платежу %1 неизвестен: "
                                 "проверьте его в платежной системе, прежде чем повторять "
                                 "возврат")
                             .arg(request.rrn));
        logger->error(first.message.ru());
        lastOperations->end(row, first.settlement, journal->finish(&row, first));
        return first;
    }
    noteAnswer(&row, first);
    const Wait wait = awaitStatus("PARTIAL_CANCELLED", first, payDuration);
    result = wait.result;
    settleRow(&row, wait, false);
    lastOperations->end(row, result.settlement, journal->finish(&row, result));
    return result;
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
    const RequestResult first = sendRequest(Fiscal, body);
    // A settled sale's status is "SUCCESS" too, so only the fiscal answer itself confirms
    // the link; without it the host queues the message again.
    if (first.success && first.getRrn().isEmpty() && first.getPaymentStatus() != "SUCCESS") {
        logger->error("Передача фискальной ссылки по платежу %1 не подтверждена", paymentId);
        result.setMessage("fiscalNotConfirmed", FiscalNotConfirmed);
        result.settlement = Settlement::Declined;
        settleRow(&row, Wait{first, WaitEnd::Final, first}, false);
    } else {
        noteAnswer(&row, first);
        const Wait wait = awaitStatus("SUCCESS", first, payDuration);
        result = wait.result;
        settleRow(&row, wait, false);
        if (!result.success && result.message.isEmpty()) {
            result.setMessage("fiscalNotConfirmed", FiscalNotConfirmed);
        }
    }
    const bool recorded = journal->finish(&row, result);
    lastOperations->end(row, result.success ? Settlement::Approved : Settlement::Declined,
                        recorded);
    return result.success;
}

} // namespace oxlenpay
