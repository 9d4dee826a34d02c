#pragma once

#include <QString>
#include <QStringList>

namespace oxlenpay {

/// Where the payment journal lives, found the same way by the host, the till, the timer's
/// `recover` and a cron line. A configured `journal` line is used as written; without one
/// the candidates are, in order: the configuration's folder, $XDG_STATE_HOME/oxlenpay and
/// $HOME/.local/state/oxlenpay, each with "journal.sqlite".
class JournalPlace {
public:
    /// `configured`: the `journal` line as written, settings::JournalNotConfigured when
    /// there is none; `configFolder`: the folder of the host's configuration file.
    JournalPlace(const QString& configured, const QString& configFolder);
    /// The place of a host's configuration: its file at settings::ConfigPath.
    static JournalPlace ofHost(const QString& configured);

    /// `journal =` with nothing after it: no journal at all.
    bool isOff() const { return m_off; }
    bool isConfigured() const { return m_configured; }
    QStringList candidates() const { return m_candidates; }
    /// The candidates that hold a journal now.
    QStringList existing() const;
    /// The journal to use: the first candidate that holds one. When none does and `create`
    /// is set, the first candidate one can be made at: beside the configuration its folder is
    /// made when the folder's parent is writable; in a user's state folder every missing
    /// folder is made below the nearest writable one. Folders are made mode 0700. Empty, with
    /// the reason, when there is no such place.
    QString resolve(bool create, QString* problem) const;
    /// Where resolve(true) would put a new journal, making nothing.
    QString placeForNew(QString* problem) const;
    /// The journal every command works on: the one found, else where a sale would make it.
    /// Empty, with the reason, when there is neither.
    QString inUse(QString* problem) const;

private:
    QString firstCreatable(bool make, QString* problem) const;

    bool m_off = false;
    bool m_configured = false;
    QStringList m_candidates;
};

} // namespace oxlenpay
