#include "interface.h"

#include "config.h"
#include "singleton.h"

#include <log4qt/logger.h>
#include <log4qt/logmanager.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QUuid>

namespace oxlenpay {

namespace {

Config* configuration()
{
    if (!Singleton<Config>::instance) {
        Singleton<Config>::instance = new Config; // owned by the process, never deleted
    }
    return Singleton<Config>::instance;
}

} // namespace

QString Interface::RequestResult::getPaymentStatus() const
{
    return data.value("payment_status").toString();
}

QString Interface::RequestResult::getRrn() const
{
    return data.value("payment_id").toString();
}

QString Interface::RequestResult::getPhone() const
{
    return data.value("client_phone_number").toString();
}

bool Interface::RequestResult::operator==(const RequestResult& other) const
{
    return this == &other || (success == other.success && errorCode == other.errorCode &&
                              message == other.message && data == other.data);
}

Interface::Interface() : logger(Log4Qt::LogManager::logger("oxlenpay", QString())) {}

Interface::~Interface() = default;

void Interface::init()
{
    Config* config = configuration();
    config->loadFile(ConfigPath, QString());
    timeout = config->getInt("OxlenPay:timeout", 10000);
    payDuration = config->getInt("OxlenPay:payDuration", 300000);
    frequency = config->getInt("OxlenPay:frequency", 10000);
    merchantId = config->getString("OxlenPay:merchantId");
    merchantServiceId = config->getString("OxlenPay:merchantServiceId").toLongLong(nullptr, 10);
    merchantServiceUserId = config->getString("OxlenPay:merchantServiceUserId");
    merchantSecretKey = config->getString("OxlenPay:merchantSecretKey");
}

QString Interface::getMerchantServiceId() const
{
    return QString::number(merchantServiceId);
}

int Interface::getPaymentProvider() const
{
    return configuration()->getInt("OxlenPay:paymentProvider", 161);
}

QUrl Interface::getUrl(Method method) const
{
    static const char* const suffixes[] = {"/payment", "/payment/status", "/payment/reversal",
                                           "/partial/reversal", "/payment/fiscal"};
    const QString suffix = method >= Payment && method <= Fiscal ? suffixes[method] : "";

    Config* config = configuration();
    QUrl base = QUrl(config->getString("OxlenPay:host", DefaultHost), QUrl::TolerantMode)
                    .adjusted(QUrl::StripTrailingSlash);
    const QUrl path(config->getString("OxlenPay:path", DefaultPath), QUrl::TolerantMode);
    base = base.resolved(path).adjusted(QUrl::StripTrailingSlash);
    QString basePath = base.path(QUrl::FullyDecoded);
    if (basePath.endsWith('/')) {
        basePath.chop(1); // a bare "/" survives the stripping above
    }
    base.setPath(basePath + suffix, QUrl::DecodedMode);
    return base.adjusted(QUrl::StripTrailingSlash);
}

QHash<QString, QString> Interface::getHeaders() const
{
    const QString timestamp = QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(timestamp.toUtf8() + merchantSecretKey.toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex());
    // The multi-argument arg() fills each place once, whatever the user id holds.
    return {{"Accept", "application/json"},
            {"Content-Type", "application/json"},
            {"Authorization", QString("%1:%2:%3").arg(merchantServiceUserId, digest, timestamp)}};
}

QString Interface::getUuid() const
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace oxlenpay
