#include "oxlenpay.h"

#include "createanswer.h"
#include "lastoperation.h"

#include <log4qt/logger.h>
#include <log4qt/logmanager.h>

namespace oxlenpay {

OxlenPay::OxlenPay()
    : QObject(nullptr), interface(new Interface),
      logger(Log4Qt::LogManager::logger("oxlenpay", QString()))
{
    interface->init(); // a faulty configuration shows up in the operations, not here
    declareCapabilities();
}

OxlenPay::OxlenPay(utils::ForMock)
    : QObject(nullptr), logger(Log4Qt::LogManager::logger("oxlenpay", QString()))
{
    declareCapabilities();
}

OxlenPay::~OxlenPay() = default;

void OxlenPay::declareCapabilities()
{
    setOption(EPaymentProcessingOption::Option(0x4010), true);
    setOption(EPaymentProcessingOption::Option(0x20), true);
    supportedPaymentTypes.insert(PaymentProcessingRequest::Sale);
    supportedPaymentTypes.insert(PaymentProcessingRequest::Refund);
    supportedCancelTypes.insert(PaymentProcessingRequest::Sale);
}

namespace {

tr::Tr noClientText()
{
    return tr::Tr("oxlenPayNoClient", "Платежный модуль не настроен");
}

} // namespace

bool OxlenPay::hasClient() const
{
    if (!interface) {
        logger->error(noClientText().ru());
        return false;
    }
    return true;
}

PaymentProcessingAnswer OxlenPay::noClientAnswer() const
{
    PaymentProcessingAnswer answer;
    answer.setMessage(noClientText());
    return answer;
}

PaymentProcessingAnswer OxlenPay::reversalAnswer(const Interface::RequestResult& result,
                                                 const PaymentProcessingRequest& request) const
{
    return createAnswer(result, {{"rrn", result.getRrn()}, {"valutCode", request.currencyCode}});
}

bool OxlenPay::interruptPayment()
{
    return interface && interface->interruptWait();
}

QVariantMap OxlenPay::recoverJournal()
{
    if (!hasClient()) {
        return {{"error", noClientText().ru()}};
    }
    QVector<Interface::RecoveredEntry> recovered;
    QString error;
    if (!interface->recoverJournal(&recovered, &error)) {
        return {{"error", error}};
    }
    QVariantList entries;
    for (const Interface::RecoveredEntry& item : recovered) {
        entries.append(QVariantMap{
            {"id", item.before.id},
            {"operation", JournalEntry::operationName(item.before.operation)},
            {"paymentId", item.after.paymentId},
            {"amount", item.before.amount},
            {"currency", item.before.currency},
            {"before", JournalEntry::stateName(item.before.state)},
            {"after", JournalEntry::stateName(item.after.state)},
            {"key", item.after.messageKey},
            {"note", item.note},
        });
    }
    return {{"entries", entries}};
}

QVariantMap OxlenPay::lastOperation()
{
    if (!interface) {
        return {};
    }
    const LastOperation last = interface->lastOperation();
    if (!last.known) {
        return {};
    }
    return {
        {"operation", JournalEntry::operationName(last.operation)},
        {"settlement", LastOperation::settlementName(last.settlement)},
        {"journalState", last.journaled ? JournalEntry::stateName(last.journalState) : QString()},
        {"journalRecorded", last.journalRecorded},
        {"transactionId", last.transactionId},
        {"paymentId", last.paymentId},
        {"running", last.running},
    };
}

PaymentProcessingAnswer OxlenPay::payment(const PaymentProcessingRequest& request)
{
    logger->info("Оплата на сумму %1", QString::number(request.sum * 0.01, 'f', 2));
    PaymentProcessingAnswer answer;
    if (request.type != PaymentProcessingRequest::Sale) {
        answer = reversal(request);
        return answer;
    }
    if (!hasClient()) {
        return noClientAnswer();
    }
    const Interface::RequestResult result = interface->payment(request);
    QMap<QString, QVariant> info;
    info.insert("phone", result.getPhone());
    info.insert("rrn", result.getRrn());
    info.insert("valutCode", request.currencyCode);
    info.insert("paymentProvider", interface->getPaymentProvider());
    answer = createAnswer(result, info);
    answer.setTerminalId(interface->getMerchantServiceId());
    if (result.success) {
        answer.setRRN(result.getRrn());
    }
    return answer;
}

PaymentProcessingAnswer OxlenPay::cancel(const PaymentProcessingRequest& request)
{
    logger->info("Отмена операции: %1", request.rrn);
    if (!hasClient()) {
        return noClientAnswer();
    }
    return reversalAnswer(interface->reversal(request), request);
}

PaymentProcessingAnswer OxlenPay::reversal(const PaymentProcessingRequest& request)
{
    logger->info("Отмена операции: %1", request.rrn);
    if (!hasClient()) {
        return noClientAnswer();
    }
    return reversalAnswer(request.sum == request.originalSum ? interface->reversal(request)
                                                             : interface->partialReversal(request),
                          request);
}

bool OxlenPay::sendEnqueuedMessage(const QMap<QString, QVariant>& message)
{
    logger->info("Отправка сообщения из очереди");
    if (message.value("messagetype").toString() != "sendofddata") {
        logger->error("Неизвестный тип сообщения");
        return false;
    }
    if (!hasClient()) {
        return false;
    }
    const QMap<QString, QVariant> payload = message.value("payload").toMap();
    const QString rrn = payload.value("rrn").toString();
    const QString qr = payload.value("fiscalData").toMap().value("qr").toString();
    return interface->sendOfdData(rrn, qr);
}

QMap<EPaymentProcessingInfo::MessageType, tr::Tr> OxlenPay::getMessageInfo() const
{
    QMap<EPaymentProcessingInfo::MessageType, tr::Tr> texts;
    texts.insert(EPaymentProcessingInfo::DialogTitle,
                 tr::Tr("oxlenPayScanTitle", "Ввод токена Oxlen Pay"));
    texts.insert(EPaymentProcessingInfo::DialogMessage,
                 tr::Tr("oxlenPayScanMessage", "Отсканируйте токен Oxlen Pay"));
    texts.insert(
        EPaymentProcessingInfo::DialogError,
        tr::Tr("oxlenPayScanError", "Ошибка считывания токена Oxlen Pay,\nповторите сканирование"));
    return texts;
}

QString OxlenPay::getDialogImagePath() const
{
    return QStringLiteral(":/oxlenpay/scan_token.png");
}

} // namespace oxlenpay
