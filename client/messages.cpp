#include "messages.h"

namespace oxlenpay {

namespace messages {

namespace {

struct Text {
    const char* key;
    const char* russian;
};

constexpr Text Texts[] = {
    {"requestInvalidPath",
     "Путь в настройках платежной системы указывает на другой сервер: запрос не отправлен"},
    {"requestUploadedButAborted", "Данные переданы на сервер, но ответ не был получен"},
    {"requestIncorrectAnswer", "Некорректный ответ от сервера"},
    {"requestStatusFailed", "Операция отклонена платежной системой"},
    {"requestStatusTimeout", "Истекло время ожидания подтверждения операции"},
    {"waitInterruptedOutcomeUnknown",
     "Ожидание прервано: результат операции по платежу %1 неизвестен, проверьте его в "
     "платежной системе, прежде чем повторять операцию"},
    {"paymentReversed",
     "Оплата не была подтверждена вовремя и отменена, деньги клиенту возвращены"},
    {"paymentInterruptedReversed",
     "Ожидание оплаты прервано, оплата отменена, деньги клиенту возвращены"},
    {"paymentNotRecordedReversed",
     "Оплата отменена, деньги клиенту возвращены: журнал платежей не удалось записать"},
    {"paymentCloseOutFailed", "Результат оплаты %1 неизвестен, товар не выдавайте: платеж "
                              "будет проверен и отменен автоматически"},
    {"paymentCloseOutFailedNoJournal", "Результат оплаты %1 неизвестен, товар не выдавайте: "
                                       "проверьте платеж в платежной системе"},
    {"partialReversalOutcomeUnknown",
     "Результат частичного возврата по платежу %1 неизвестен: проверьте его в платежной "
     "системе, прежде чем повторять возврат"},
    {"fiscalNotConfirmed", "Передача фискальной ссылки не подтверждена"},
    {"settingsInvalidHeader", "Идентификатор пользователя в настройках платежной системы "
                              "содержит управляющие символы: операция не отправлена"},
    {"journalUnavailable",
     "Журнал платежей недоступен: операция не отправлена, обратитесь в поддержку"},
};

tr::Tr filled(const Text& text, const QString& paymentId)
{
    QString russian = QString::fromUtf8(text.russian);
    if (russian.contains(QLatin1String("%1"))) {
        russian = russian.arg(paymentId);
    }
    return tr::Tr(QString::fromLatin1(text.key), russian);
}

} // namespace

tr::Tr text(const char* key, const QString& paymentId)
{
    for (const Text& known : Texts) {
        if (qstrcmp(known.key, key) == 0) {
            return filled(known, paymentId);
        }
    }
    Q_ASSERT_X(false, "messages::text", key);
    return tr::Tr(QString::fromLatin1(key), QString());
}

void set(Interface::RequestResult* result, const char* key, const QString& paymentId)
{
    result->message = text(key, paymentId);
}

void setProviderText(Interface::RequestResult* result, const QString& providerText)
{
    result->message = tr::Tr(QStringLiteral("undefined"), providerText);
}

QString capped(const QString& providerText)
{
    const QByteArray utf8 = providerText.toUtf8();
    if (utf8.size() <= MaxProviderTextBytes) {
        return providerText;
    }
    int end = MaxProviderTextBytes;
    while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80) {
        --end; // back to the first byte of the code point that would be cut
    }
    return QString::fromUtf8(utf8.left(end)) + QStringLiteral(" […]");
}

QStringList keys()
{
    QStringList all;
    for (const Text& known : Texts) {
        all << QString::fromLatin1(known.key);
    }
    return all;
}

QString keyOf(const Interface::RequestResult& result)
{
    if (result.message.isEmpty()) {
        return QString();
    }
    if (result.message ==
        tr::Tr(QStringLiteral("undefined"), result.data.value("error_message").toString())) {
        return QStringLiteral("undefined");
    }
    const QString paymentId = result.getRrn();
    for (const Text& known : Texts) {
        if (result.message == filled(known, paymentId)) {
            return QString::fromLatin1(known.key);
        }
    }
    return QStringLiteral("transportFailed");
}

} // namespace messages

} // namespace oxlenpay
