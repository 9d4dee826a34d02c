#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace oxlenpay {

/// One provider operation that moves money or hands over a fiscal link, as the
/// journal keeps it. Nothing secret is ever put here: no token, key or signature.
struct JournalEntry {
    enum class Operation { Sale, Reversal, PartialReversal, Fiscal };
    /// Sending: written before the request leaves. Waiting: its answer came, it is polled.
    /// The others are closed: the answer has gone back to the host.
    enum class State { Sending, Waiting, Done, Declined, Reversed, Unknown };

    QString id; ///< the sale's "transaction_id", a fresh UUID for the others
    Operation operation = Operation::Sale;
    qint64 amount = 0; ///< hundredths of the currency unit
    int currency = 0;
    QString paymentId;
    State state = State::Sending;
    QString providerStatus;
    QString messageKey;
    QDateTime created;
    QDateTime changed;
    /// The process that runs the operation: a live owner's rows are never recovered.
    qint64 ownerPid = 0;
    qint64 ownerStart = 0;

    bool isOpen() const { return state == State::Sending || state == State::Waiting; }

    static QString operationName(Operation operation);
    static QString stateName(State state);
    /// False when `name` is not one of the names above.
    static bool operationFromName(const QString& name, Operation* operation);
    static bool stateFromName(const QString& name, State* state);
};

} // namespace oxlenpay
