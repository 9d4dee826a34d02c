#include "tillsettings.h"

#include "config.h"
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
    v[shortKey(s::MerchantServiceId)] = config.getString(s::MerchantServiceId);
    v[shortKey(s::MerchantServiceUserId)] = config.getString(s::MerchantServiceUserId);
    // Only whether the key is there and how long it is: enough to spot a truncated one.
    const QString secret = config.getString(s::MerchantSecretKey);
    v[shortKey(s::MerchantSecretKey)] = secret.isEmpty()
                                            ? QString("(not set)")
                                            : QString("(set, %1 characters)").arg(secret.size());
    v[shortKey(s::Timeout)] = config.getInt(s::Timeout, s::DefaultTimeoutMs);
    v[shortKey(s::Frequency)] = config.getInt(s::Frequency, s::DefaultFrequencyMs);
    v[shortKey(s::PayDuration)] = config.getInt(s::PayDuration, s::DefaultPayDurationMs);
    v[shortKey(s::PaymentProvider)] = config.getInt(s::PaymentProvider, s::DefaultPaymentProvider);
    v[shortKey(s::ReverseUnknown)] = config.getInt(s::ReverseUnknown, s::DefaultReverseUnknown);
    const QString journal = config.getString(s::Journal, s::DefaultJournal).trimmed();
    v[shortKey(s::Journal)] = journal.isEmpty() ? QString("(off)") : journal;
    v[shortKey(s::JournalDays)] = config.getInt(s::JournalDays, s::DefaultJournalDays);
    return settings;
}

QString EffectiveSettings::text() const
{
    QString text =
        "Settings\n" +
        receiptLine("File", configReadable ? configPath : configPath + " (not readable)");
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QJsonValue value = it.value();
        text += receiptLine(it.key(),
                            value.isDouble() ? QString::number(value.toInt()) : value.toString());
    }
    return text;
}

} // namespace till
