#include "restclient.h"

#include "curlexchange.h"
#include "networklogging.h"
#include "trustedcertificates.h"

#include <QJsonObject>
#include <QJsonParseError>

class RestClientPrivate {
public:
    qint64 timeout = 30000;
    int error = RestClient::NoError;
    bool uploadedButAborted = false;
    int httpStatus = 0;
    tr::Tr errorText;
    QJsonDocument answer;
};

namespace {

tr::Tr textFor(int error, int httpStatus)
{
    switch (error) {
    case RestClient::NoError:
        return {};
    case RestClient::ConnectFailed:
        return tr::Tr("restClientConnectFailed", "Нет связи с сервером платежной системы");
    case RestClient::HostNotFound:
        return tr::Tr("restClientHostNotFound", "Сервер платежной системы не найден");
    case RestClient::Timeout:
        return tr::Tr("restClientTimeout", "Превышено время ожидания ответа сервера");
    case RestClient::TlsFailed:
        return tr::Tr("restClientTlsFailed", "Ошибка защищенного соединения с сервером");
    case RestClient::HttpStatus:
        return tr::Tr("restClientHttpStatus", "Сервер ответил ошибкой HTTP %1")
            .arg(QString::number(httpStatus));
    case RestClient::AnswerTooLarge:
        return tr::Tr("restClientAnswerTooLarge", "Ответ сервера слишком велик");
    case RestClient::InsecureUrl:
        return tr::Tr("restClientInsecureUrl",
                      "Небезопасный адрес сервера: разрешено только https://");
    case RestClient::InvalidUrl:
        return tr::Tr("restClientInvalidUrl", "Некорректный адрес сервера");
    case RestClient::ConnectionLost:
        return tr::Tr("restClientConnectionLost", "Соединение с сервером прервано");
    case RestClient::BadAnswer:
        return tr::Tr("restClientBadAnswer", "Ответ сервера не удалось прочитать");
    default:
        return tr::Tr("restClientFailed", "Ошибка обмена данными с сервером");
    }
}

bool isLoopback(const QUrl& url)
{
    const QString host = url.host().toLower();
    if (host == "localhost" || host == "::1") {
        return true;
    }
    const QStringList parts = host.split('.');
    if (parts.size() != 4 || parts[0] != "127") {
        return false;
    }
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value < 0 || value > 255) {
            return false;
        }
    }
    return true;
}

// A non-2xx answer is the provider's own error answer only when it carries a non-zero
// "error_code"; whatever else it says, it is never a success. A gateway's 5xx page after
// the whole request went out means the provider may have carried it out and its answer
// was lost on the way; any other status (a proxy's 4xx, a redirect) proves nothing was done.
void classifyErrorStatus(RestClientPrivate* d, bool requestSent)
{
    const QJsonObject object = d->answer.object();
    const QJsonValue code = object.value("error_code");
    const bool providerError = d->answer.isObject() && code.toInt(0) != 0;
    if (providerError) {
        return;
    }
    d->error = RestClient::HttpStatus;
    d->answer = QJsonDocument();
    d->uploadedButAborted = requestSent && d->httpStatus >= 500;
}

} // namespace

RestClient::RestClient(QObject* parent) : QObject(parent), d(new RestClientPrivate) {}

RestClient::~RestClient() = default;

void RestClient::setTimeout(qint64 milliseconds)
{
    d->timeout = milliseconds;
}

bool RestClient::send(int operation, const QUrl& url, const QJsonDocument& document,
                      const QHash<QString, QString>& headers)
{
    const qint64 timeout = d->timeout;
    *d = RestClientPrivate();
    d->timeout = timeout;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "https" && scheme != "http")) {
        d->error = InvalidUrl;
    } else if (scheme == "http" && !isLoopback(url)) {
        d->error = InsecureUrl;
    }
    if (d->error != NoError) {
        d->errorText = textFor(d->error, 0);
        qCWarning(strovaNetwork).noquote()
            << "request refused before sending:" << d->errorText.key();
        return false;
    }

    CurlRequest request;
    request.operation = operation;
    request.url = url.toString(QUrl::FullyEncoded).toUtf8();
    request.body = document.isNull() ? QByteArray() : document.toJson(QJsonDocument::Compact);
    request.headers = headers;
    request.timeoutMs = d->timeout;
    request.maxAnswerBytes = MaxAnswerBytes;
    const CurlResult exchange = performExchange(request);

    d->httpStatus = exchange.httpStatus;
    d->error = exchange.error;
    d->uploadedButAborted = exchange.uploadedButAborted;
    if (d->error == NoError) {
        QJsonParseError parseError{};
        d->answer = QJsonDocument::fromJson(exchange.answer, &parseError);
        if (d->httpStatus < 200 || d->httpStatus >= 300) {
            classifyErrorStatus(d.data(), exchange.requestSent);
        }
    }
    if (d->error != NoError) {
        d->errorText = textFor(d->error, d->httpStatus);
        qCWarning(strovaNetwork).noquote()
            << "exchange failed:" << d->errorText.key() << exchange.detail;
    }
    return d->error == NoError;
}

int RestClient::error() const
{
    return d->error;
}
bool RestClient::isUploadedButAborted() const
{
    return d->uploadedButAborted;
}
tr::Tr RestClient::errorText() const
{
    return d->errorText;
}
QJsonDocument RestClient::jsonAnswer() const
{
    return d->answer;
}
int RestClient::httpStatus() const
{
    return d->httpStatus;
}

bool RestClient::addTrustedCaFile(const QString& pemFile)
{
    return trustedcertificates::addFile(pemFile);
}

template <> QSharedPointer<RestClient> MockFactory<RestClient>::defaultCreator()
{
    return QSharedPointer<RestClient>(new RestClient);
}
