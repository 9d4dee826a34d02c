#pragma once

#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QVector>

namespace simulate {

/// The kinds of fault a schedule may meet.
enum class Fault {
    ConnectFailed,   ///< the request never left
    Refused,         ///< the provider refuses it: a non-zero error_code, nothing done
    Declined,        ///< the provider declines the operation: FAILED, nothing done
    LostAfterUpload, ///< carried out, the answer lost on the way back
    Slow,            ///< carried out, the answer later than the time-out
    Gateway,         ///< carried out, a gateway's 5xx instead of the answer
    Garbled,         ///< an answer that is not a JSON object
    EmptyAnswer,     ///< "{}"
    NoPaymentId,     ///< the answer without its payment_id
    OtherPayment,    ///< the answer names another payment
    StatusLag,       ///< the provider shows a new status only after a few polls
    Crash,           ///< the till process dies (SIGKILL) at a crash point
    DiskError,       ///< the next journal writes fail as a broken or full disk would
    HeldLock,        ///< another process holds the journal's write lock for a while
    FolderVanishes,  ///< the journal's folder is deleted or replaced under the till
    ClockJump,       ///< the till's wall clock jumps by hours or days
    Interrupt,       ///< the host interrupts a wait
    OtherTill,       ///< a second till on the same journal runs between two exchanges
    OlderWriter,     ///< a version-1 journal with an open row of an older till still running
    Count
};

const char* faultName(Fault fault);

/// Every fault is a numbered decision: the Nth draw of its kind, drawn from a stream of its
/// own whether or not it fires. Switching one decision off (`--only-faults`) leaves every
/// other draw as it was. Each seed draws its own rates (swarm testing): a kind is off with
/// probability 1/3, else fires at a rate between 1 % and 50 %.
class FaultPlan {
public:
    struct Decision {
        bool fires = false;
        int number = 0;
        quint32 extra = 0; ///< a value for the fault's details, drawn with the decision
    };
    struct Fired {
        int number;
        Fault kind;
        QString what;
    };

    explicit FaultPlan(quint32 seed);

    /// Only the decisions with these numbers may fire; none when the set is empty.
    void restrictTo(const QSet<int>& numbers);
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool enabled() const { return m_enabled; }

    /// `scale` thins a kind out where it is asked often (at every crash point, say).
    Decision draw(Fault kind, const QString& what, double scale = 1.0);
    /// One draw of a sequence drawn again and again, such as the draws at a crash point.
    struct Draw {
        Fault kind;
        double scale;
    };
    /// How many times in a row `each` would be drawn, in order, with nothing firing: at most
    /// `limit`. Nothing is drawn. Each kind appears in `each` once.
    int quietRepeats(const QVector<Draw>& each, int limit) const;
    const QVector<Fired>& fired() const { return m_fired; }
    double rate(Fault kind) const { return m_rates[int(kind)]; }
    QString describeRates() const;

private:
    bool mayFire(Fault kind, int number, double value, double scale) const;

    quint32 m_seed;
    double m_rates[int(Fault::Count)] = {};
    int m_drawn[int(Fault::Count)] = {};
    QVector<QRandomGenerator> m_streams;
    QSet<int> m_only;
    bool m_restricted = false;
    bool m_enabled = true;
    QVector<Fired> m_fired;
    /// Per kind, the next position of its stream at which a draw at `scale` fires (or the
    /// end of the look-ahead): quietRepeats' cache.
    struct Ahead {
        double scale = -1;
        int position = -1;
    };
    mutable Ahead m_ahead[int(Fault::Count)];
};

} // namespace simulate
