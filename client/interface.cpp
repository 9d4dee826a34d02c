#include "interface.h"

#include "config.h"
#include "lastoperation.h"
#include "operationjournal.h"
#include "singleton.h"
#include "waitgate.h"

#include <log4qt/logger.h>
#include <log4qt/logmanager.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QMutex>
#include <QStringList>
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

void Interface::RequestResult::setMessage(const char* key, const QString& text)
{
    message = tr::Tr(QString::fromLatin1(key), text);
    messageKey = QString::fromLatin1(key);
}

bool Interface::RequestResult::operator==(const RequestResult& other) const
{
    return this == &other || (success == other.success && errorCode == other.errorCode &&
                              message == other.message && data == other.data);
}

Interface::Interface()
    : logger(Log4Qt::LogManager::logger("oxlenpay", QString())),
      waitGate(std::make_shared<WaitGate>()), journal(std::make_shared<OperationJournal>(logger)),
      lastOperations(std::make_shared<LastOperations>()), urlCache(std::make_shared<UrlCache>())
{
}

Interface::~Interface() = default;

void Interface::init()
{
    Config* config = configuration();
    config->loadFile(settings::ConfigPath, QString());
    timeout = config->getInt(settings::Timeout, settings::DefaultTimeoutMs);
    payDuration = config->getInt(settings::PayDuration, settings::DefaultPayDurationMs);
    frequency = config->getInt(settings::Frequency, settings::DefaultFrequencyMs);
    reverseUnknown = config->getInt(settings::ReverseUnknown, settings::DefaultReverseUnknown);
    merchantId = config->getString(settings::MerchantId);
    merchantServiceId = config->getString(settings::MerchantServiceId).toLongLong(nullptr, 10);
    merchantServiceUserId = config->getString(settings::MerchantServiceUserId);
    merchantSecretKey = config->getString(settings::MerchantSecretKey);
    warnAboutTestOnlyTimings();
    readJournalSettings(config);
    if (frequency < 0) {
        frequency = 0; // a negative period means back-to-back polls, never a busy loop below zero
    }
}

void Interface::warnAboutTestOnlyTimings() const
{
    QStringList odd;
    if (frequency < settings::SmallestRealFrequencyMs) {
        odd << QString("%1 = %2").arg(settings::Frequency).arg(frequency);
    }
    if (payDuration < frequency) {
        odd << QString("%1 = %2").arg(settings::PayDuration).arg(payDuration);
    }
    if (!odd.isEmpty()) {
        logger->warn(QString("Настройки годятся только для тестов: %1")
                         .arg(odd.join(", "))
                         .toUtf8()
                         .constData());
    }
}

void Interface::readJournalSettings(Config* config)
{
    const QString configured =
        config->getString(settings::Journal, settings::DefaultJournal).trimmed();
    journalPath = configured; // as written: the host's configuration names the real place
    journalDays = config->getInt(settings::JournalDays, settings::DefaultJournalDays);
    if (journalDays < 1) {
        logger->warn(QString("%1 = %2 не годится: записи журнала хранятся %3 дн.")
                         .arg(settings::JournalDays)
                         .arg(journalDays)
                         .arg(settings::DefaultJournalDays)
                         .toUtf8()
                         .constData());
        journalDays = settings::DefaultJournalDays;
    }
    if (journalPath.isEmpty()) {
        logger->warn(QString("Журнал платежей отключен (%1 пуст): после сбоя кассы незавершенные "
                             "операции не будут найдены и завершены")
                         .arg(settings::Journal)
                         .toUtf8()
                         .constData());
    }
    journal->configure(journalPath, int(journalDays));
}

bool Interface::interruptWait()
{
    return waitGate->interrupt();
}

QString Interface::getMerchantServiceId() const
{
    return QString::number(merchantServiceId);
}

int Interface::getPaymentProvider() const
{
    return configuration()->getInt(settings::PaymentProvider, settings::DefaultPaymentProvider);
}

namespace {

// The base URL the settings name; false when the path names a host of its own.
bool composeBaseUrl(const QString& hostText, const QString& pathText, QUrl* out)
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

} // namespace

// The URLs of the last settings read: composing them anew cost a tenth of a status poll.
struct Interface::UrlCache {
    QMutex mutex;
    QString hostText, pathText;
    bool filled = false;
    QUrl urls[Fiscal + 2]; // one per method, and an unknown method's
};

QUrl Interface::getUrl(Method method) const
{
    static const char* const suffixes[] = {"/payment",          "/payment/status",
                                           "/payment/reversal", "/partial/reversal",
                                           "/payment/fiscal",   ""};
    const int index = method >= Payment && method <= Fiscal ? int(method) : Fiscal + 1;

    // Read at every request, so that the host's changed settings apply at once.
    Config* config = configuration();
    const QString hostText = config->getString(settings::Host, settings::DefaultHost);
    const QString pathText = config->getString(settings::Path, settings::DefaultPath);
    QMutexLocker lock(&urlCache->mutex);
    if (!urlCache->filled || hostText != urlCache->hostText || pathText != urlCache->pathText) {
        QUrl base;
        const bool composed = composeBaseUrl(hostText, pathText, &base);
        for (int i = 0; i <= Fiscal + 1; ++i) {
            QUrl url;
            if (composed) {
                url = base;
                url.setPath(base.path(QUrl::FullyDecoded) + suffixes[i], QUrl::DecodedMode);
                url = url.adjusted(QUrl::StripTrailingSlash);
            }
            urlCache->urls[i] = url;
        }
        urlCache->hostText = hostText;
        urlCache->pathText = pathText;
        urlCache->filled = true;
    }
    return urlCache->urls[index];
}

QHash<QString, QString> Interface::getHeaders() const
{
    const QString timestamp = QString::number(WaitClock::wallMs());
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
