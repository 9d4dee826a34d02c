// The provider operations of oxlenpay::Interface: one exchange, then the wait
// for the operation's final status.
#include "interface.h"

#include "paymentprocessingrequest.h"
#include "restclient.h"

#include <log4qt/logger.h>

#include <QJsonDocument>

#include <chrono>
#include <ctime>

namespace oxlenpay {

namespace {

using Clock = std::chrono::steady_clock;

const char* const UploadedButAborted = "Данные переданы на сервер, но ответ не был получен";
const char* const IncorrectAnswer = "Некорректный ответ от сервера";

// One sleep until `deadline`; a signal that cuts it short is not made up for.
void sleepUntil(Clock::time_point deadline)
{
    const auto remaining = deadline - Clock::now();
    if (remaining <= Clock::duration::zero()) {
        return;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    timespec pause{time_t(ns / 1000000000), long(ns % 1000000000)};
    nanosleep(&pause, nullptr);
}

} // namespace

Interface::RequestResult Interface::sendRequest(Method method, const QJsonObject& body) const
{
    QSharedPointer<RestClient> client = MockFactory<RestClient>::creator();
    client->setTimeout(timeout);
    const int operation = method == PaymentStatus ? 2 : 4;
    client->send(operation, getUrl(method), QJsonDocument(body), getHeaders());

    RequestResult result;
    result.success = true;
    if (client->error() != 0) {
        if (client->isUploadedButAborted()) {
            logger->warn(UploadedButAborted);
            // Only a payment's lost answer is a failure: the others are followed by status polls.
            if (method == Payment) {
                result.success = false;
                result.message = tr::Tr("requestUploadedButAborted", UploadedButAborted);
            }
            return result;
        }
        result.success = false;
        result.message = client->errorText();
        return result;
    }

    const QJsonDocument answer = client->jsonAnswer();
    if (!answer.isObject() || answer.object().isEmpty()) {
        result.success = false;
        result.message = tr::Tr("requestIncorrectAnswer", IncorrectAnswer);
        logger->error("Некорректный ответ от сервера (нет данных)");
        return result;
    }
    result.data = answer.object();
    const int errorCode = result.data.value("error_code").toInt(0);
    if (errorCode != 0) {
        const QString errorMessage = result.data.value("error_message").toString();
        result.success = false;
        result.errorCode = errorCode;
        result.message = tr::Tr("undefined", errorMessage);
        logger->error("Сервер вернул сообщение об ошибке: %1", errorMessage);
    }
    return result;
}

Interface::RequestResult Interface::payment(const PaymentProcessingRequest& request)
{
    const QJsonObject body{{"amount", request.sum},
                           {"service_id", merchantServiceId},
                           {"otp_data", request.token},
                           {"cashbox_code", merchantId},
                           {"transaction_id", getUuid()}};
    return waitForStatus("SUCCESS", sendRequest(Payment, body));
}

Interface::RequestResult Interface::waitForStatus(const QString& status,
                                                  const RequestResult& result) const
{
    logger->info("Ожидание статуса '%1'", status);
    if (!result.success) {
        return result;
    }
    RequestResult current = result;
    bool timedOut = false;
    if (current.getPaymentStatus() != status) {
        const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", result.getRrn()}};
        const auto start = Clock::now();
        auto next = start;
        for (;;) {
            sleepUntil(next);
            // The next deadline is taken before sending, so polls keep their period.
            next = Clock::now() + std::chrono::milliseconds(frequency);
            current = sendRequest(PaymentStatus, body);
            const QString reported = current.getPaymentStatus();
            if (reported == status) {
                return current;
            }
            if (reported == "FAILED") {
                // A declined operation is a failure; the answer still reaches the host.
                const QString providerText = current.data.value("error_message").toString();
                current.success = false;
                current.errorCode = current.data.value("error_code").toInt(0);
                current.message =
                    providerText.isEmpty()
                        ? tr::Tr("requestStatusFailed", "Операция отклонена платежной системой")
                        : tr::Tr("undefined", providerText);
                logger->error(current.message.ru());
                return current;
            }
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            if (elapsed.count() >= payDuration) {
                timedOut = true;
                break;
            }
        }
    }
    if (current.getRrn().isEmpty()) {
        current.success = false;
        if (current.message.isEmpty()) {
            current.message = tr::Tr("requestIncorrectAnswer", IncorrectAnswer);
        }
        logger->error(current.message.ru());
    } else if (timedOut && current.success) {
        // Still pending when the time ran out: the outcome is not known, so not a success.
        current.success = false;
        current.message =
            tr::Tr("requestStatusTimeout", "Истекло время ожидания подтверждения операции");
        logger->error(current.message.ru());
    }
    return current;
}

Interface::RequestResult Interface::sendAndWait(Method method, const QJsonObject& body,
                                                const QString& awaited,
                                                const QString& paymentId) const
{
    RequestResult first = sendRequest(method, body);
    // When the operation's own answer was lost, the status polls still follow the
    // payment it is about. Only the polls see this: a result handed back unpolled
    // is never the one changed here.
    if (first.success && first.getRrn().isEmpty() && first.getPaymentStatus() != awaited) {
        first.data.insert("payment_id", paymentId);
    }
    return waitForStatus(awaited, first);
}

Interface::RequestResult Interface::reversal(const PaymentProcessingRequest& request) const
{
    logger->info("Полный возврат");
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", request.rrn}};
    return sendAndWait(Reversal, body, "REVERSED", request.rrn);
}

Interface::RequestResult Interface::partialReversal(const PaymentProcessingRequest& request) const
{
    logger->info("Частичный возврат");
    const QJsonObject body{{"payment_id", request.rrn}, {"amount", request.sum}};
    return sendAndWait(PartialReversal, body, "PARTIAL_CANCELLED", request.rrn);
}

bool Interface::sendOfdData(const QString& paymentId, const QString& fiscalUrl) const
{
    const QJsonObject body{{"payment_id", paymentId}, {"fiscal_url", fiscalUrl}};
    return sendAndWait(Fiscal, body, "SUCCESS", paymentId).success;
}

} // namespace oxlenpay
