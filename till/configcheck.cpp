#include "configcheck.h"

#include "journal.h"
#include "journalplace.h"
#include "settings.h"
#include "transport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <numeric>

#include <sys/stat.h>
#include <unistd.h>

namespace till {

namespace {

const char* const Section = "OxlenPay";

struct Range {
    qint64 low;
    qint64 high;
    /// What the plug-in does with a value outside the range, which it takes all the same;
    /// %1 is the value. Empty: it refuses it, a mistake.
    const char* outside;
};

// The plug-in's keys; the integer ones with the range that makes sense on a till.
const QHash<QString, Range>& integerKeys()
{
    static const QHash<QString, Range> keys = {
        {"merchantServiceId", {1, std::numeric_limits<qint64>::max(), ""}},
        {"timeout", {1000, 120000, "the plug-in uses it: each exchange waits at most %1 ms"}},
        {"frequency",
         {500, 60000,
          "the plug-in uses it: a status poll every %1 ms (below 500: fit only for "
          "tests, it warns at start; below 0: polls back to back)"}},
        {"payDuration",
         {10000, 1800000, "the plug-in uses it: the customer has %1 ms to confirm in the wallet"}},
        {"paymentProvider", {0, std::numeric_limits<int>::max(), ""}},
        {"reverseUnknown",
         {0, 1, "the plug-in reads any value but 0 as 1: a sale of unknown outcome is reversed"}},
        {"journalDays",
         {1, 3650,
          "the plug-in takes it: settled entries are kept that many days (below 1: 7 "
          "days, and it warns)"}},
    };
    return keys;
}

const QStringList TextKeys = {
    "host", "path", "merchantId", "merchantServiceUserId", "merchantSecretKey", "journal"};
const QStringList RequiredKeys = {"merchantId", "merchantServiceId", "merchantServiceUserId",
                                  "merchantSecretKey"};

int editDistance(const QString& a, const QString& b)
{
    QVector<int> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                               diagonal + (a[i - 1].toLower() == b[j - 1].toLower() ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

QStringList knownKeys()
{
    return TextKeys + integerKeys().keys();
}

QString closestKey(const QString& key)
{
    QString best;
    int bestDistance = 4; // further than this is no misspelling
    for (const QString& known : knownKeys()) {
        const int distance = editDistance(key, known);
        if (distance < bestDistance) {
            best = known;
            bestDistance = distance;
        }
    }
    return best;
}

bool isLoopback(const QString& host)
{
    return host == "localhost" || host == "::1" || host.startsWith("127.");
}

/// What is wrong with one value: a mistake, or a warning when the plug-in takes it all the
/// same; an empty text when nothing is.
ConfigFinding checkValue(const QString& key, const QString& value)
{
    const auto integer = integerKeys().constFind(key);
    if (integer != integerKeys().cend()) {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok, 10);
        if (!ok) {
            return {0, QString("%1 = %2 is not a whole number: the default is used instead")
                           .arg(key, value)};
        }
        if (number < integer->low || number > integer->high) {
            const QString text = QString("%1 = %2 is outside %3 to %4")
                                     .arg(key, value)
                                     .arg(integer->low)
                                     .arg(integer->high);
            if (*integer->outside == '\0') {
                return {0, text};
            }
            return {0, text + ": " + QString(integer->outside).arg(number), true};
        }
        return {};
    }
    QUrl unused;
    if (key == "path" && !oxlenpay::Transport::baseUrl(QString(), value, &unused)) {
        return {0, QString("path = %1 names a host of its own: the plug-in refuses it; give only "
                           "the path, such as /api/quindo-pay/merchant")
                       .arg(value)};
    }
    if (key == "merchantServiceUserId" && !oxlenpay::Transport::usableInHeader(value)) {
        return {0, "merchantServiceUserId holds a control character: the plug-in sends nothing "
                   "with it, since it would end the Authorization header"};
    }
    if (key == "merchantSecretKey" && value == "change-me") {
        return {0, "merchantSecretKey is still the example's placeholder: write the key the "
                   "provider issued"};
    }
    if (key == "host") {
        const QUrl url(value, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty()) {
            return {0, QString("host = %1 is not a URL such as https://api.example").arg(value)};
        }
        if (url.scheme() != "https" && !(url.scheme() == "http" && isLoopback(url.host()))) {
            return {0, QString("host = %1 is not https: the plug-in refuses it").arg(value)};
        }
    }
    if (value.isEmpty() && RequiredKeys.contains(key)) {
        return {0, QString("%1 is empty").arg(key)};
    }
    return {};
}

} // namespace

QVector<ConfigFinding> checkConfig(const QByteArray& content)
{
    QVector<ConfigFinding> findings;
    QString section;
    QHash<QString, int> seen;
    QHash<QString, QString> values;
    const QList<QByteArray> lines = content.split('\n');
    for (int number = 1; number <= lines.size(); ++number) {
        const QString line = QString::fromUtf8(lines[number - 1]).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith('[')) {
            section = line.mid(1, line.indexOf(']') - 1).trimmed();
            if (section != Section && section.compare(Section, Qt::CaseInsensitive) == 0) {
                findings.append({number, QString("section [%1] is not [%2]: section names are "
                                                 "case-sensitive, none of its keys is read")
                                             .arg(section, Section)});
            }
            continue;
        }
        const int equals = line.indexOf('=');
        if (equals < 0) {
            findings.append({number, QString("\"%1\" is not a \"key = value\" line").arg(line)});
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (section.compare(Section, Qt::CaseInsensitive) != 0) {
            findings.append(
                {number, QString("%1 is outside [%2] and is not read").arg(key, Section)});
            continue;
        }
        if (section != Section) {
            continue; // reported with its section
        }
        if (!knownKeys().contains(key)) {
            const QString closest = closestKey(key);
            findings.append(
                {number, closest.isEmpty()
                             ? QString("unknown key %1").arg(key)
                             : QString("unknown key %1 (did you mean %2?)").arg(key, closest)});
            continue;
        }
        if (seen.contains(key)) {
            findings.append({number,
                             QString("%1 is set again (first on line %2): the last one wins")
                                 .arg(key)
                                 .arg(seen.value(key)),
                             true});
        }
        seen.insert(key, number);
        values.insert(key, value);
        ConfigFinding finding = checkValue(key, value);
        if (!finding.text.isEmpty()) {
            finding.line = number;
            findings.append(finding);
        }
    }
    // An absolute path replaces whatever path the host carries.
    const QUrl host(values.value("host"), QUrl::StrictMode);
    const QString hostPath = host.path();
    const QString path = values.value("path", oxlenpay::settings::DefaultPath);
    QUrl base;
    if (host.isValid() && !hostPath.isEmpty() && hostPath != "/" &&
        oxlenpay::Transport::baseUrl(values.value("host"), path, &base) &&
        !base.path().startsWith(hostPath.chopped(hostPath.endsWith('/') ? 1 : 0))) {
        findings.append({seen.value("host"),
                         QString("host = %1 carries the path %2, which path (%3) replaces: "
                                 "requests go to %4; put the whole path in path")
                             .arg(values.value("host"), hostPath, path, base.toString()),
                         true});
    }
    for (const QString& key : RequiredKeys) {
        if (!seen.contains(key)) {
            findings.append({0, QString("%1 is missing from [%2]").arg(key, Section)});
        }
    }
    return findings;
}

namespace {

// Whether systemd starts the recover timer for some user.
bool recoverTimerEnabled()
{
    for (const QString& wants : QDir("/etc/systemd/system").entryList({"*.wants"}, QDir::Dirs)) {
        if (!QDir("/etc/systemd/system/" + wants)
                 .entryList({"oxlenpay-recover@*.timer"}, QDir::Files | QDir::System)
                 .isEmpty()) {
            return true;
        }
    }
    return false;
}

// Where the journal will be, found as the plug-in finds it.
void checkJournalPlace(const oxlenpay::JournalPlace& place, QVector<ConfigFinding>* findings)
{
    if (place.isOff()) {
        return;
    }
    const QStringList existing = place.existing();
    if (existing.size() > 1) {
        findings->append({0, QString("two payment journals exist, %1: every till must use one; "
                                     "`oxlenpay-till recover` works on each, then keep one")
                                 .arg(existing.join(" and "))});
    }
    QString problem;
    const QString journal = place.inUse(&problem);
    if (journal.isEmpty()) {
        findings->append({0, QString("every sale would be refused: %1").arg(problem)});
        return;
    }
    const bool madeBySale = !QFileInfo::exists(journal);
    findings->append({0,
                      QString("journal in use: %1%2")
                          .arg(journal, madeBySale ? " (made by the first sale)" : ""),
                      false, true});
    if (!place.isConfigured() && journal != place.candidates().first()) {
        findings->append({0,
                          QString("the journal is at %1, not beside the configuration: a till, "
                                  "`recover` or cron line run by another user or with another "
                                  "$HOME would not find it; make %2 writable for the host's "
                                  "user, or name the journal with a `journal` line")
                              .arg(journal, QFileInfo(place.candidates().first()).absolutePath()),
                          true});
    }
    const QFileInfo file(journal);
    const QString folder = file.absolutePath();
    // The recover timer's unit may write only beside the configuration and in the user's
    // state folder.
    const QString home = qEnvironmentVariable("HOME");
    const QStringList unitWrites = {QFileInfo(oxlenpay::settings::ConfigPath).absolutePath(),
                                    home + "/.local/state/oxlenpay"};
    if (place.isConfigured() && !unitWrites.contains(folder) && recoverTimerEnabled()) {
        findings->append({0,
                          QString("journal %1: the recover timer may write only in %2; give it "
                                  "this folder with a drop-in (README, \"Recovery on a timer\")")
                              .arg(journal, unitWrites.join(" and ")),
                          true});
    }
    if (!QFileInfo(folder).isDir()) {
        // Without a journal line inUse() chose this place because a sale can make its folder.
        if (place.isConfigured()) {
            findings->append({0, QString("journal %1: its folder %2 does not exist: every sale "
                                         "would be refused; create it owned by the host's "
                                         "user, mode 0750")
                                     .arg(journal, folder)});
        }
    } else if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        findings->append(
            {0,
             QString("journal %1: this user cannot write to its folder %2").arg(journal, folder)});
    } else if (file.exists() && !oxlenpay::Journal::isUsable(journal, &problem)) {
        findings->append({0, QString("journal %1 cannot be used: %2").arg(journal, problem)});
    }
}

} // namespace

QVector<ConfigFinding> checkConfigFile(const QString& path, const QByteArray& content)
{
    QVector<ConfigFinding> findings = checkConfig(content);
    // The values the plug-in takes: the last of each key in [OxlenPay], else the default.
    QString journal = oxlenpay::settings::JournalNotConfigured;
    bool hasSecret = false;
    QString section;
    for (const QByteArray& raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith('[')) {
            section = line.mid(1, line.indexOf(']') - 1).trimmed();
        } else if (section == Section && line.contains('=')) {
            const QString key = line.left(line.indexOf('=')).trimmed();
            const QString value = line.mid(line.indexOf('=') + 1).trimmed();
            journal = key == "journal" ? value : journal;
            hasSecret = key == "merchantSecretKey" ? !value.isEmpty() : hasSecret;
        }
    }
    checkJournalPlace(oxlenpay::JournalPlace::ofHost(journal), &findings);
    struct stat info {};
    if (hasSecret && ::stat(QFile::encodeName(path).constData(), &info) == 0 &&
        (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        findings.append({0,
                         QString("the file holds the secret and is readable by other users "
                                 "(mode %1): chmod 0600 it")
                             .arg(info.st_mode & 0777, 4, 8, QChar('0')),
                         true});
    }
    if (hasSecret && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        findings.append({0,
                         QString("the file holds the secret and other users can change it "
                                 "(mode %1): chmod 0600 it")
                             .arg(info.st_mode & 0777, 4, 8, QChar('0')),
                         true});
    }
    return findings;
}

} // namespace till
