#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

namespace oxlenpay {

/// One provider operation that moves money or hands over a fiscal link, as the
/// journal keeps it. Nothing secret is ever put here: no token, key or signature.
struct JournalEntry {
    enum class Operation { Sale, Reversal, PartialReversal, Fiscal };
    /// Sending: written before the request leaves. Waiting: its answer came, it is polled.
    /// Both belong to an operation under way. The host has had its answer for the others:
    /// Unknown rows are recovery's work (a status, then the action the row needs);
    /// Attention rows only a status or a person can settle; the rest are settled.
    enum class State { Sending, Waiting, Done, Declined, Reversed, Unknown, Attention, Resolved };

    QString id; ///< the sale's "transaction_id", a fresh UUID for the others
    Operation operation = Operation::Sale;
    qint64 amount = 0; ///< hundredths of the currency unit; see amountKnown
    /// False when nobody knew what the operation moves: a cancel of a sale this journal
    /// never saw, asked without an amount. Such rows are summed apart, never as 0.
    bool amountKnown = true;
    int currency = 0;
    QString paymentId;
    State state = State::Sending;
    QString providerStatus;
    QString messageKey;
    /// The provider's own words when it refused or declined ("error_message").
    QString providerText;
    QDateTime created;
    QDateTime changed;
    /// The journal handle that works on the row; a row is taken over only once that
    /// handle's lock is free (its process is gone, or it closed the journal).
    QString owner;
    /// The process that wrote the row, so a till can find its own operation again.
    qint64 ownerPid = 0;
    qint64 ownerStart = 0;
    /// The provider's refusals of recovery's requests for this row, the first of them, and
    /// when recovery in a host's idle time may try it again.
    int refusals = 0;
    QDateTime firstRefused;
    QDateTime retryAfter;
    /// Since when a cancel's payment has shown still charged: its request's time, or, after
    /// the wall clock stepped back past it, the first recovery that saw it so.
    QDateTime notCarriedSince;
    /// When the operation's own answer was recorded, and when the host had its answer.
    /// With `created` they time the operation; nothing after the operation moves them.
    QDateTime firstAnswer;
    QDateTime ended;
    /// What the person who settled an Attention row by hand wrote, and when.
    QString note;
    QDateTime resolved;

    /// Milliseconds from start to the host's answer; -1 while not ended or not timed.
    qint64 durationMs() const
    {
        return ended.isValid() && created.isValid() ? created.msecsTo(ended) : -1;
    }

    bool isOpen() const { return state == State::Sending || state == State::Waiting; }
    bool isSettled() const
    {
        return state == State::Done || state == State::Declined || state == State::Reversed ||
               state == State::Resolved;
    }

    /// Every value, in the order of the enums.
    static QVector<Operation> allOperations();
    static QVector<State> allStates();
    static QString operationName(Operation operation);
    static QString stateName(State state);
    /// False when `name` is not one of the names above.
    static bool operationFromName(const QString& name, Operation* operation);
    static bool stateFromName(const QString& name, State* state);
};

} // namespace oxlenpay
