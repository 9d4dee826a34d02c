#include "transport.h"

#include "messages.h"
#include "restclient.h"
#include "restoperation.h"
#include "waitclock.h"

#include <log4qt/logger.h>

#include <QCryptographicHash>
#include <QJsonDocument>

#include <algorithm>

namespace oxlenpay {

Transport::Transport(Log4Qt::Logger* logger) : m_logger(logger) {}

bool Transport::baseUrl(const QString& hostText, const QString& pathText, QUrl* out)
{
    QUrl base = QUrl(hostText, QUrl::TolerantMode).adjusted(QUrl::StripTrailingSlash);
    if (pathText.contains("://") || pathText.trimmed().startsWith("//")) {
        return false; // a path that names a host of its own would send the requests there
    }
    const QUrl path(pathText, QUrl::TolerantMode);
    base = base.resolved(path).adjusted(QUrl::StripTrailingSlash);
    QString basePath = base.path(QUrl::FullyDecoded);
    if (basePath.endsWith('/')) {
        basePath.chop(1); // a bare "/" survives the stripping above
    }
    base.setPath(basePath, QUrl::DecodedMode);
    *out = base;
    return true;
}

bool Transport::usableInHeader(const QString& value)
{
    return std::none_of(value.begin(), value.end(), [](QChar c) {
        const ushort code = c.unicode();
        return code < 0x20 || (code >= 0x7F && code <= 0x9F);
    });
}

bool Transport::usablePaymentId(const QString& id)
{
    return usableInHeader(id) && std::none_of(id.begin(), id.end(), [](QChar c) {
               const ushort code = c.unicode();
               return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
           });
}

QUrl Transport::url(Interface::Method method, const QString& hostText,
                    const QString& pathText) const
{
    static const char* const suffixes[] = {"/payment",          "/payment/status",
                                           "/payment/reversal", "/partial/reversal",
                                           "/payment/fiscal",   ""};
    const int index = method >= Interface::Payment && method <= Interface::Fiscal
                          ? int(method)
                          : Interface::Fiscal + 1;
    std::lock_guard<std::mutex> lock(m_urlMutex);
    if (!m_urlsFilled || hostText != m_hostText || pathText != m_pathText) {
        QUrl base;
        const bool composed = baseUrl(hostText, pathText, &base);
        for (int i = 0; i <= Interface::Fiscal + 1; ++i) {
            QUrl composedUrl;
            if (composed) {
                composedUrl = base;
                composedUrl.setPath(base.path(QUrl::FullyDecoded) + suffixes[i], QUrl::DecodedMode);
                composedUrl = composedUrl.adjusted(QUrl::StripTrailingSlash);
            }
            m_urls[i] = composedUrl;
        }
        m_hostText = hostText;
        m_pathText = pathText;
        m_urlsFilled = true;
    }
    return m_urls[index];
}

QHash<QString, QString> Transport::headers(const QString& userId, const QString& secretKey)
{
    const QString timestamp = QString::number(WaitClock::wallMs());
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(timestamp.toUtf8() + secretKey.toUtf8(), QCryptographicHash::Sha1)
            .toHex());
    // The multi-argument arg() fills each place once, whatever the user id holds.
    return {{"Accept", "application/json"},
            {"Content-Type", "application/json"},
            {"Authorization", QString("%1:%2:%3").arg(userId, digest, timestamp)}};
}

Interface::RequestResult Transport::send(Interface::Method method, const QUrl& url,
                                         const QHash<QString, QString>& headers,
                                         const QJsonObject& body, qint64 timeoutMs) const
{
    Interface::RequestResult result;
    if (url.isEmpty()) {
        messages::set(&result, "requestInvalidPath");
        m_logger->error(result.message.ru());
        return result;
    }
    QSharedPointer<RestClient> client = MockFactory<RestClient>::creator();
    client->setTimeout(timeoutMs);
    const RestOperation operation =
        method == Interface::PaymentStatus ? RestOperation::Get : RestOperation::Post;
    client->send(restOperationCode(operation), url, QJsonDocument(body), headers);

    result.success = true;
    if (client->error() != 0) {
        if (client->isUploadedButAborted()) {
            const tr::Tr lost = messages::text("requestUploadedButAborted");
            m_logger->warn(lost.ru().toUtf8().constData());
            // Only a payment's lost answer fails here; the callers of the others decide.
            if (method == Interface::Payment) {
                result.success = false;
                result.message = lost;
            }
            return result;
        }
        result.success = false;
        result.message = client->errorText(); // the host's REST client chose its key and text
        return result;
    }

    const QJsonDocument answer = client->jsonAnswer();
    if (!answer.isObject() || answer.object().isEmpty()) {
        // The request reached the provider and nothing readable came back.
        result.success = false;
        messages::set(&result, "requestIncorrectAnswer");
        m_logger->error("Некорректный ответ от сервера (нет данных)");
        return result;
    }
    result.data = answer.object();
    const QJsonValue paymentId = result.data.value("payment_id");
    if (paymentId.isString() && !usablePaymentId(paymentId.toString())) {
        Interface::RequestResult unreadable;
        messages::set(&unreadable, "requestIncorrectAnswer");
        m_logger->error("Некорректный ответ от сервера (управляющие символы в идентификаторе "
                        "платежа)");
        return unreadable;
    }
    const int errorCode = result.data.value("error_code").toInt(0);
    if (errorCode != 0) {
        const QString errorMessage = result.data.value("error_message").toString();
        result.success = false;
        result.errorCode = errorCode;
        messages::setProviderText(&result, errorMessage);
        m_logger->error("Сервер вернул сообщение об ошибке: %1", errorMessage);
    }
    return result;
}

} // namespace oxlenpay
