#include "journalplace.h"

#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace oxlenpay {

namespace {

constexpr const char* FileName = "journal.sqlite";

bool writableFolder(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

/// Makes every folder from below `existing` down to `folder`, each mode 0700.
bool makeFolders(const QString& existing, const QString& folder)
{
    const QStringList levels =
        QDir(existing).relativeFilePath(folder).split('/', Qt::SkipEmptyParts);
    QString path = existing;
    for (const QString& level : levels) {
        path = QDir(path).filePath(level);
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && !QFileInfo(path).isDir()) {
            return false;
        }
    }
    return QFileInfo(folder).isDir();
}

} // namespace

JournalPlace::JournalPlace(const QString& configured, const QString& configFolder)
{
    if (configured != QLatin1String(settings::JournalNotConfigured)) {
        m_configured = true;
        m_off = configured.isEmpty();
        if (!m_off) {
            m_candidates << configured;
        }
        return;
    }
    m_candidates << QDir(configFolder).filePath(FileName);
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(state)) {
        m_candidates << QDir(state).filePath(QString("oxlenpay/") + FileName);
    }
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home)) {
        m_candidates << QDir(home).filePath(QString(".local/state/oxlenpay/") + FileName);
    }
    m_candidates.removeDuplicates();
}

JournalPlace JournalPlace::ofHost(const QString& configured)
{
    return JournalPlace(configured, QFileInfo(settings::ConfigPath).absolutePath());
}

QStringList JournalPlace::existing() const
{
    QStringList found;
    for (const QString& candidate : m_candidates) {
        if (QFileInfo::exists(candidate)) {
            found << candidate;
        }
    }
    return found;
}

QString JournalPlace::resolve(bool create, QString* problem) const
{
    const QStringList found = existing();
    if (!found.isEmpty()) {
        return found.first();
    }
    if (m_configured) {
        return m_off ? QString() : m_candidates.first(); // as written: its own checks say more
    }
    return create ? firstCreatable(true, problem) : QString();
}

QString JournalPlace::placeForNew(QString* problem) const
{
    if (m_configured) {
        return m_off ? QString() : m_candidates.first();
    }
    return firstCreatable(false, problem);
}

QString JournalPlace::inUse(QString* problem) const
{
    const QString found = resolve(false, problem);
    return found.isEmpty() ? placeForNew(problem) : found;
}

QString JournalPlace::firstCreatable(bool make, QString* problem) const
{
    QStringList reasons;
    for (int i = 0; i < m_candidates.size(); ++i) {
        const QString& candidate = m_candidates[i];
        const QString folder = QFileInfo(candidate).absolutePath();
        if (QFileInfo(folder).isDir()) {
            if (writableFolder(folder)) {
                return candidate;
            }
            reasons << QString("%1 cannot be written").arg(folder);
            continue;
        }
        // Beside the configuration only the last folder is made: the host's installation
        // makes the rest. A user's state folders are made whole, as a fresh account has no
        // ~/.local/state yet.
        const bool wholePath = i > 0; // only without a journal line are there several
        QString parent = QFileInfo(folder).absolutePath();
        while (wholePath && !QFileInfo::exists(parent) && parent != QDir::rootPath()) {
            parent = QFileInfo(parent).absolutePath();
        }
        // A home that does not exist ("/nonexistent") is no place, even for root.
        const bool homeless = wholePath && parent == QDir::rootPath();
        if (homeless) {
            reasons << QString("%1 is missing, and so is the home above it").arg(folder);
            continue;
        }
        if (!QFileInfo(parent).isDir() || !writableFolder(parent)) {
            reasons << QString("%1 is missing and %2 cannot be written").arg(folder, parent);
            continue;
        }
        if (!make) {
            return candidate;
        }
        if (makeFolders(parent, folder)) {
            return candidate;
        }
        reasons << QString("%1 cannot be made").arg(folder);
    }
    *problem = "no place for the payment journal: " + reasons.join("; ");
    return QString();
}

} // namespace oxlenpay
