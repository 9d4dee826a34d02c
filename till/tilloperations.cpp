#include "tilloperations.h"

#include "picturesize.h"

#include "amount.h"
#include "config.h"
#include "settings.h"
#include "tilljournal.h"
#include "waitprogress.h"

#include <QElapsedTimer>

#include <QJsonArray>
#include <QObject>
#include <cstdio>

namespace till {

namespace {

QJsonObject messageJson(const tr::Tr& message)
{
    return {{"key", message.key()}, {"text", message.ru()}};
}

QString line(const QString& label, const QString& value)
{
    return receiptLine(label, value);
}

const char* typeName(int type)
{
    switch (type) {
    case PaymentProcessingRequest::Sale:
        return "sale";
    case PaymentProcessingRequest::Cancel:
        return "cancel";
    case PaymentProcessingRequest::Refund:
        return "refund";
    case PaymentProcessingRequest::Balance:
        return "balance";
    default:
        return "undefined";
    }
}

PaymentProcessingRequest moneyRequest(PaymentProcessingRequest::Type type, qint32 amount,
                                      qint32 currency)
{
    PaymentProcessingRequest request;
    request.type = type;
    request.sum = amount;
    request.currencyCode = currency;
    return request;
}

} // namespace

qint64 TillOperations::waitLimitMs() const
{
    using namespace oxlenpay::settings;
    return Singleton<Config>::instance
               ? Singleton<Config>::instance->getInt(PayDuration, DefaultPayDurationMs)
               : DefaultPayDurationMs;
}

Outcome TillOperations::waitFor(
    const QString& operation, const PaymentProcessingRequest& request,
    PaymentProcessingAnswer (BasicPaymentProcessing::*call)(const PaymentProcessingRequest&))
{
    const QDateTime since = QDateTime::currentDateTimeUtc();
    QElapsedTimer took;
    took.start();
    Outcome outcome;
    {
        WaitProgress progress(operation, waitLimitMs(), m_processing, since);
        outcome = Outcome::ofAnswer(operation, (m_processing->*call)(request));
    }
    outcome.amountAsked = request.sum;
    outcome.currency = request.currencyCode;
    outcome.paymentId = request.rrn;
    settleFromPlugin(dynamic_cast<QObject*>(m_processing), &outcome);
    if (outcome.success() && !outcome.journalRecorded && !outcome.journalState.isEmpty()) {
        // The money moved and the host was told so; only its record is missing.
        std::fprintf(stderr,
                     "warning: the %s was carried out, but the payment journal could not record "
                     "it: check the journal's disk\n",
                     qPrintable(operation));
    }
    // One line that ties the operation's ids to its outcome, for whoever reads the logs later.
    QMessageLogger(nullptr, 0, nullptr, "oxlenpay-till").info().noquote()
        << QString("%1 ended %2: transaction %3, payment %4, %5 ms")
               .arg(operation, outcome.stateName(),
                    outcome.transactionId.isEmpty() ? "-" : outcome.transactionId,
                    outcome.knownPaymentId().isEmpty() ? "-" : outcome.knownPaymentId())
               .arg(took.elapsed());
    return outcome;
}

Outcome TillOperations::sale(qint32 amount, const QString& token, qint32 currency)
{
    PaymentProcessingRequest request =
        moneyRequest(PaymentProcessingRequest::Sale, amount, currency);
    request.token = token;
    return waitFor("sale", request, &BasicPaymentProcessing::payment);
}

Outcome TillOperations::refund(const QString& rrn, qint32 amount, qint32 original, qint32 currency)
{
    PaymentProcessingRequest request =
        moneyRequest(PaymentProcessingRequest::Refund, amount, currency);
    request.rrn = rrn;
    request.originalSum = original;
    return waitFor("refund", request, &BasicPaymentProcessing::payment);
}

Outcome TillOperations::cancel(const QString& rrn, qint32 amount, qint32 currency)
{
    PaymentProcessingRequest request =
        moneyRequest(PaymentProcessingRequest::Sale, amount, currency);
    request.rrn = rrn;
    request.originalSum = amount;
    return waitFor("cancel", request, &BasicPaymentProcessing::cancel);
}

Outcome TillOperations::fiscal(const QString& rrn, const QString& qr)
{
    const QVariantMap message{
        {"messagetype", "sendofddata"},
        {"payload", QVariantMap{{"rrn", rrn}, {"fiscalData", QVariantMap{{"qr", qr}}}}}};
    WaitProgress progress("fiscal", waitLimitMs(), m_processing, QDateTime::currentDateTimeUtc());
    return Outcome::ofFiscal(m_processing->sendEnqueuedMessage(message), rrn, qr);
}

Outcome TillOperations::info()
{
    BasicPaymentProcessing& p = *m_processing;
    Outcome outcome;
    outcome.operation = "info";
    outcome.state = ResultState::Approved;
    QString text = QString("==== PLUG-IN ").leftJustified(40, '=') + '\n';

    const auto texts = p.getMessageInfo();
    const QString imagePath = p.getDialogImagePath();
    QString pictureProblem;
    const PngPicture picture = readPngPicture(imagePath, &pictureProblem);
    const QString title = texts.value(EPaymentProcessingInfo::DialogTitle).ru();
    const QString prompt = texts.value(EPaymentProcessingInfo::DialogMessage).ru();
    const QString readError = texts.value(EPaymentProcessingInfo::DialogError).ru();
    text += "Scan dialog\n" + line("Title", title) + line("Prompt", prompt) +
            line("Read error", QString(readError).replace('\n', " / ")) +
            line("Picture", picture.size.isValid()
                                ? QString("%1 (%2 x %3)")
                                      .arg(imagePath)
                                      .arg(picture.size.width())
                                      .arg(picture.size.height())
                                : QString("%1 (%2)").arg(imagePath, pictureProblem)) +
            line("Scan mask", p.getDialogScanMask());

    QJsonArray paymentTypes, cancelTypes;
    for (int type = 0; type <= 4; ++type) {
        const auto t = PaymentProcessingRequest::Type(type);
        if (p.isPaymentEnable(t)) {
            paymentTypes.append(typeName(type));
        }
        if (p.isCancelEnable(t)) {
            cancelTypes.append(typeName(type));
        }
    }
    auto joined = [](const QJsonArray& list) {
        QStringList names;
        for (const QJsonValue& v : list) {
            names << v.toString();
        }
        return names.join(", ");
    };
    text +=
        "Requests\n" + line("Payment", joined(paymentTypes)) + line("Cancel", joined(cancelTypes));

    QJsonObject options;
    const QList<QPair<QString, int>> legacy = {
        {"0x0010", 0x10}, {"0x0020", 0x20}, {"0x4000", 0x4000}, {"0x4010", 0x4010}};
    QStringList set;
    for (const auto& option : legacy) {
        const bool on = p.checkOption(EPaymentProcessingOption::Option(option.second));
        options.insert(option.first, on);
        if (on) {
            set << option.first;
        }
    }
    text += "Options\n" + line("Legacy set", set.join(", "));

    QJsonObject operations;
    const QList<QPair<QString, std::function<PaymentProcessingAnswer()>>> defaults = {
        {"change", [&] { return p.change(PaymentProcessingRequest()); }},
        {"checkTotals", [&] { return p.checkTotals(0); }},
        {"checkTotalsByMerchantId", [&] { return p.checkTotalsByMerchantId(QString()); }},
        {"printCopy", [&] { return p.printCopy(0); }},
        {"printReport", [&] { return p.printReport(); }},
        {"printReportByMerchantId", [&] { return p.printReportByMerchantId(QString()); }},
        {"printShortReport", [&] { return p.printShortReport(); }},
        {"balance", [&] { return p.balance(QString()); }},
        {"discountCard", [&] { return p.discountCard(); }},
        {"loyaltyCards", [&] { return p.loyaltyCards(QString()); }},
        {"testConnection", [&] { return p.testConnection(); }},
        {"demandPinCode", [&] { return p.demandPinCode(); }},
        {"demandQRCode", [&] { return p.demandQRCode(PaymentProcessingRequest()); }},
        {"getPaymentByQRCodeStatus", [&] { return p.getPaymentByQRCodeStatus(QString()); }},
        {"paymentByQRCodeOnPinPad",
         [&] { return p.paymentByQRCodeOnPinPad(PaymentProcessingRequest()); }},
        {"cancelByQRCodeOnPinPad",
         [&] { return p.cancelByQRCodeOnPinPad(PaymentProcessingRequest()); }},
        {"getHashedCardNumber", [&] { return p.getHashedCardNumber(); }},
    };
    text += "Other operations\n";
    for (const auto& op : defaults) {
        const PaymentProcessingAnswer answer = op.second();
        operations.insert(op.first, QJsonObject{{"available", answer.isSuccess()},
                                                {"message", messageJson(answer.getMessage())}});
        text += line(op.first, answer.isSuccess() ? "available" : answer.getMessage().ru());
    }
    operations.insert("isCheckTotalsEnable", p.isCheckTotalsEnable());
    operations.insert("isUsePaymentAsDiscount", p.isUsePaymentAsDiscount());
    text += line("Totals", p.isCheckTotalsEnable() ? "enabled" : "not enabled");

    outcome.customJson = {
        {"operation", "info"},
        {"success", true},
        {"dialog", QJsonObject{{"title", title},
                               {"message", prompt},
                               {"error", readError},
                               {"scanMask", p.getDialogScanMask()},
                               {"image", QJsonObject{{"path", imagePath},
                                                     {"width", picture.size.width()},
                                                     {"height", picture.size.height()},
                                                     {"alpha", picture.alpha}}}}},
        {"paymentTypes", paymentTypes},
        {"cancelTypes", cancelTypes},
        {"options", options},
        {"operations", operations}};
    outcome.customReceipt = text;
    return outcome;
}

} // namespace till
