#include "tillsettings.h"

#include "config.h"
#include "journalplace.h"
#include "settings.h"
#include "tilloutcome.h"

#include <QFileInfo>

namespace till {

namespace {

namespace s = oxlenpay::settings;

QString shortKey(const char* key)
{
    return QString(key).section(':', 1);
}

} // namespace

QString tillVersion()
{
    return QStringLiteral(OXLENPAY_VERSION);
}

EffectiveSettings EffectiveSettings::read(const Config& config, const QString& configPath)
{
    EffectiveSettings settings;
    settings.configPath = configPath;
    settings.configReadable = QFileInfo(configPath).isReadable();

    QJsonObject& v = settings.values;
    v[shortKey(s::Host)] = config.getString(s::Host, s::DefaultHost);
    v[shortKey(s::Path)] = config.getString(s::Path, s::DefaultPath);
    v[shortKey(s::MerchantId)] = config.getString(s::MerchantId);
    // The service id as the plug-in reads it: the whole text as a number, else 0.
    const QString serviceId = config.getString(s::MerchantServiceId);
    bool serviceIdOk = false;
    const qint64 serviceNumber = serviceId.toLongLong(&serviceIdOk, 10);
    v[shortKey(s::MerchantServiceId)] = QString::number(serviceIdOk ? serviceNumber : 0);
    if (!serviceIdOk) {
        settings.note(s::MerchantServiceId, serviceId, "not a number: 0 is sent");
    }
    v[shortKey(s::MerchantServiceUserId)] = config.getString(s::MerchantServiceUserId);
    // Only whether the key is there and how long it is: enough to spot a truncated one.
    const QString secret = config.getString(s::MerchantSecretKey);
    v[shortKey(s::MerchantSecretKey)] = secret.isEmpty()
                                            ? QString("(not set)")
                                            : QString("(set, %1 characters)").arg(secret.size());
    const QString path = v[shortKey(s::Path)].toString();
    if (path.contains("://") || path.trimmed().startsWith("//")) {
        settings.note(s::Path, path, "names a host of its own: every request is refused");
    }
    auto integer = [&](const char* key, int defaultValue) {
        const int used = config.getInt(key, defaultValue);
        const QString written = config.getString(key, QString()).trimmed();
        bool ok = false;
        written.toInt(&ok, 10);
        if (!written.isEmpty() && !ok) {
            settings.note(key, written, "not a whole number: the default is used");
        }
        return used;
    };
    v[shortKey(s::Timeout)] = integer(s::Timeout, s::DefaultTimeoutMs);
    const int frequency = integer(s::Frequency, s::DefaultFrequencyMs);
    v[shortKey(s::Frequency)] = qMax(frequency, 0);
    if (frequency < 0) {
        settings.note(s::Frequency, QString::number(frequency), "below 0: polls back to back");
    }
    v[shortKey(s::PayDuration)] = integer(s::PayDuration, s::DefaultPayDurationMs);
    v[shortKey(s::PaymentProvider)] = integer(s::PaymentProvider, s::DefaultPaymentProvider);
    v[shortKey(s::ReverseUnknown)] = integer(s::ReverseUnknown, s::DefaultReverseUnknown);
    const oxlenpay::JournalPlace place = oxlenpay::JournalPlace::ofHost(
        config.getString(s::Journal, s::JournalNotConfigured).trimmed());
    QString problem;
    const QString journal = place.inUse(&problem);
    v[shortKey(s::Journal)] = place.isOff()       ? QString("(off)")
                              : journal.isEmpty() ? QString("(no place: %1)").arg(problem)
                                                  : journal;
    const int days = integer(s::JournalDays, s::DefaultJournalDays);
    v[shortKey(s::JournalDays)] = days < 1 ? s::DefaultJournalDays : days;
    if (days < 1) {
        settings.note(s::JournalDays, QString::number(days), "below 1: the default is used");
    }
    return settings;
}

QString EffectiveSettings::text() const
{
    QString text =
        "Settings\n" +
        receiptLine("File", configReadable ? configPath : configPath + " (not readable)");
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QJsonValue value = it.value();
        QString shown = value.isDouble() ? QString::number(value.toInt()) : value.toString();
        if (notes.contains(it.key())) {
            shown += "  (" + notes.value(it.key()).toString() + ")";
        }
        text += receiptLine(it.key(), shown);
    }
    return text;
}

void EffectiveSettings::note(const char* key, const QString& written, const QString& why)
{
    notes[shortKey(key)] = QString("written \"%1\": %2").arg(written, why);
}

} // namespace till
