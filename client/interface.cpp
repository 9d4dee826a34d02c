#include "interface.h"

#include "config.h"
#include "journalplace.h"
#include "lastoperation.h"
#include "operationjournal.h"
#include "recovery.h"
#include "singleton.h"
#include "statuswait.h"
#include "transport.h"
#include "waitgate.h"

#include <log4qt/logger.h>
#include <log4qt/logmanager.h>

#include <QDateTime>
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

bool Interface::RequestResult::operator==(const RequestResult& other) const
{
    return this == &other || (success == other.success && errorCode == other.errorCode &&
                              message == other.message && data == other.data);
}

Interface::Interface()
    : logger(Log4Qt::LogManager::logger("oxlenpay", QString())),
      waitGate(std::make_shared<WaitGate>()), journal(std::make_shared<OperationJournal>(logger)),
      lastOperations(std::make_shared<LastOperations>()),
      transport(std::make_shared<Transport>(logger)),
      recovery(std::make_shared<Recovery>(logger, journal, waitGate)),
      ownWaits(std::make_shared<StatusWaitHandOver>())
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
        config->getString(settings::Journal, settings::JournalNotConfigured).trimmed();
    // A configured path is used as written; without one the journal is found, or made, at
    // the first of the places every till and `recover` look at.
    const JournalPlace place = JournalPlace::ofHost(configured);
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
    if (place.isOff()) {
        logger->warn(QString("Журнал платежей отключен (%1 пуст): после сбоя кассы незавершенные "
                             "операции не будут найдены и завершены")
                         .arg(settings::Journal)
                         .toUtf8()
                         .constData());
    }
    journal->configure(place, int(journalDays));
    journalPath = journal->path();
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

QUrl Interface::getUrl(Method method) const
{
    // Read at every request, so that the host's changed settings apply at once.
    Config* config = configuration();
    return transport->url(method, config->getString(settings::Host, settings::DefaultHost),
                          config->getString(settings::Path, settings::DefaultPath));
}

QHash<QString, QString> Interface::getHeaders() const
{
    return Transport::headers(merchantServiceUserId, merchantSecretKey);
}

Interface::RequestResult Interface::sendRequest(Method method, const QJsonObject& body) const
{
    return transport->send(method, getUrl(method), getHeaders(), body, timeout);
}

std::function<Interface::RequestResult(Interface::Method, const QJsonObject&, qint64)>
Interface::recoveryExchange() const
{
    // Recovery cuts each exchange's time-out to the time it has left, so it sends through
    // the transport itself; the URL and headers still come from the virtual getters.
    return [this](Method method, const QJsonObject& body, qint64 timeoutMs) {
        return transport->send(method, getUrl(method), getHeaders(), body, timeoutMs);
    };
}

namespace {

Recovery::Settings recoverySettings(qint64 merchantServiceId, qint64 timeout, qint64 frequency,
                                    qint64 reverseUnknown)
{
    Recovery::Settings settings;
    settings.merchantServiceId = merchantServiceId;
    settings.timeoutMs = timeout;
    settings.frequencyMs = frequency;
    settings.reverseUnknown = reverseUnknown != 0;
    return settings;
}

} // namespace

bool Interface::recoverJournal(QVector<RecoveredEntry>* recovered, QString* error) const
{
    if (!Transport::usableInHeader(merchantServiceUserId)) {
        recovered->clear();
        *error = "merchantServiceUserId holds a control character: nothing is sent";
        return false;
    }
    const Recovery::Settings settings =
        recoverySettings(merchantServiceId, timeout, frequency, reverseUnknown);
    if (!recovery->run(settings, recoveryExchange(), recovered, error)) {
        return false;
    }
    // Two journals are a mistake check-config names; the rows of both are still owed.
    for (const QString& other : journal->otherJournals()) {
        auto elsewhere = std::make_shared<OperationJournal>(logger);
        elsewhere->configure(JournalPlace(other, QString()), journal->keepDays());
        QVector<RecoveredEntry> more;
        if (!Recovery(logger, elsewhere, waitGate)
                 .run(settings, recoveryExchange(), &more, error)) {
            return false;
        }
        *recovered += more;
    }
    return true;
}

void Interface::recoverWhileIdle(WaitClock::TimePoint until) const
{
    if (!Transport::usableInHeader(merchantServiceUserId)) {
        return; // no operation is sent either
    }
    recovery->whileIdle(recoverySettings(merchantServiceId, timeout, frequency, reverseUnknown),
                        recoveryExchange(), until);
}

QString Interface::getUuid() const
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace oxlenpay
