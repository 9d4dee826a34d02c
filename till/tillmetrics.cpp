#include "tillmetrics.h"

#include "journal.h"
#include "tilljournal.h"

#include <QFileDevice>
#include <QSaveFile>

namespace till {

namespace {

using oxlenpay::Journal;
using oxlenpay::JournalEntry;

/// One family: its HELP and TYPE lines, then its samples.
class Family {
public:
    Family(QString* text, const char* name, const char* help) : m_text(text), m_name(name)
    {
        *m_text += QString("# HELP %1 %2\n# TYPE %1 gauge\n").arg(m_name, help);
    }
    void sample(qint64 value, const QString& labels = QString())
    {
        *m_text += m_name + (labels.isEmpty() ? QString() : '{' + labels + '}') + ' ' +
                   QString::number(value) + '\n';
    }

private:
    QString* m_text;
    QString m_name;
};

/// Label values are our own names, plain words: nothing to escape.
QString label(const char* name, const QString& value)
{
    return QString("%1=\"%2\"").arg(name, value);
}

} // namespace

QString metricsText(const QDateTime& now)
{
    QString text;
    Journal journal;
    QString path, error;
    QVector<JournalEntry> entries;
    Journal::Run recover, reconcile;
    const bool readable = !journalPath().isEmpty() &&
                          openJournal(&journal, Journal::OpenMode::ReadOnly, &path, &error) &&
                          journal.entries(&entries, false) &&
                          journal.lastRun("recover", &recover) &&
                          journal.lastRun("reconcile", &reconcile);
    Family(&text, "oxlenpay_journal_readable",
           "Whether the payment journal could be opened and read (1) or not (0).")
        .sample(readable ? 1 : 0);
    if (!readable) {
        return text;
    }
    QMap<QString, int> unsettled;
    QMap<QString, int> today;
    for (const JournalEntry::State state : JournalEntry::allStates()) {
        JournalEntry row;
        row.state = state;
        if (!row.isSettled()) {
            unsettled[JournalEntry::stateName(state)] = 0;
        }
        for (const JournalEntry::Operation operation : JournalEntry::allOperations()) {
            today[JournalEntry::operationName(operation) + '\t' + JournalEntry::stateName(state)] =
                0;
        }
    }
    const QDateTime startOfDay = now.toLocalTime().date().startOfDay();
    qint64 oldestMs = 0;
    for (const JournalEntry& row : entries) {
        if (!row.isSettled()) {
            ++unsettled[JournalEntry::stateName(row.state)];
            oldestMs = std::max(oldestMs, row.created.msecsTo(now));
        }
        if (row.created >= startOfDay) {
            ++today[JournalEntry::operationName(row.operation) + '\t' +
                    JournalEntry::stateName(row.state)];
        }
    }
    Family unsettledFamily(&text, "oxlenpay_unsettled_operations",
                           "Journal operations not settled, by state.");
    for (auto it = unsettled.cbegin(); it != unsettled.cend(); ++it) {
        unsettledFamily.sample(it.value(), label("state", it.key()));
    }
    Family(&text, "oxlenpay_oldest_unsettled_age_seconds",
           "Age of the oldest operation not settled; 0 when every one is settled.")
        .sample(oldestMs / 1000);
    Family(&text, "oxlenpay_last_recover_timestamp_seconds",
           "When the last recover ended, in seconds since the epoch; 0 when none ran.")
        .sample(recover.finished.isValid() ? recover.finished.toSecsSinceEpoch() : 0);
    Family(&text, "oxlenpay_last_recover_exit_code",
           "The exit status of the last recover: 0 all settled, 4 some left, 5 journal I/O.")
        .sample(recover.exitCode);
    Family todayFamily(&text, "oxlenpay_operations_today",
                       "Journal operations created since local midnight, by operation and state.");
    for (auto it = today.cbegin(); it != today.cend(); ++it) {
        const QStringList key = it.key().split('\t');
        todayFamily.sample(it.value(), label("operation", key[0]) + ',' + label("state", key[1]));
    }
    Family(&text, "oxlenpay_last_reconcile_disagreements",
           "Rows the provider's status contradicted at the last journal reconcile.")
        .sample(reconcile.figure);
    return text;
}

bool writeMetrics(const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QString("cannot write the metrics file %1: %2").arg(path, file.errorString());
        return false;
    }
    // The collector runs as another user: the figures are no secret, the file is readable.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    file.write(metricsText().toUtf8());
    if (!file.commit()) {
        *error = QString("cannot write the metrics file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace till
