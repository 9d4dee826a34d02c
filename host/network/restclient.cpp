#include "restclient.h"

// Placeholder transport: reports every exchange as failed, never as sent.
class RestClientPrivate {};

RestClient::RestClient(QObject* parent) : QObject(parent), d(new RestClientPrivate) {}
RestClient::~RestClient() = default;
void RestClient::setTimeout(qint64) {}
bool RestClient::send(int, const QUrl&, const QJsonDocument&, const QHash<QString, QString>&)
{
    return false;
}
int RestClient::error() const { return 1; }
bool RestClient::isUploadedButAborted() const { return false; }
tr::Tr RestClient::errorText() const
{
    return tr::Tr("restClientUnavailable", "Сетевой модуль недоступен");
}
QJsonDocument RestClient::jsonAnswer() const { return {}; }
int RestClient::httpStatus() const { return 0; }
void RestClient::addTrustedCaFile(const QString&) {}

template <> QSharedPointer<RestClient> MockFactory<RestClient>::defaultCreator()
{
    return QSharedPointer<RestClient>(new RestClient);
}
