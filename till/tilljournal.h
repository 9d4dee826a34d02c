#pragma once

#include "journal.h"
#include "tilloutcome.h"

#include <QDateTime>
#include <QString>

class QObject;

namespace till {

/// The payment journal's file as the plug-in finds it in its configuration; empty when
/// the configuration turns the journal off.
QString journalPath();

/// False, with the reason, when the journal (or its folder, before it exists) belongs to
/// another user than the one running the till: files made now would shut the host out.
bool journalOwnedByMe(QString* error);

/// Opens the journal the configuration names; false, with the reason, when it is turned
/// off or cannot be opened so.
bool openJournal(oxlenpay::Journal* journal, oxlenpay::Journal::OpenMode mode, QString* path,
                 QString* error);

/// What the journal knows is left of payment `paymentId` to refund or cancel: the sale less
/// the refunds and cancels done, 0 for a sale declined or reversed. False when it cannot
/// tell (no journal, no such sale, a sale not settled): then there is nothing to hold a
/// refund against.
bool remainingOf(const QString& paymentId, qint64* remaining);
/// `journal resolve ID --note TEXT`: settles an entry that waits for a person. False, with
/// the reason, when there is no such entry in that state, or (`ioFailure`) when the journal
/// could not be read or written.
bool resolveEntry(const QString& id, const QString& note, Outcome* outcome, QString* error,
                  bool* ioFailure);

/// How the operation just run on this thread ended, as the plug-in says: its settlement
/// decides the state, and the ids and the journal's state come from there too. A plug-in
/// that says nothing leaves the answer's success to decide, a failure read as unknown.
void settleFromPlugin(QObject* plugin, Outcome* outcome);

/// The payment id (or, before one is known, the transaction id) of the operation running
/// in the plug-in now, for a message on a forced exit; empty when none runs.
QString operationReference(QObject* plugin);

/// `recover`: the plug-in finishes what a gone process left open; the outcome tells what
/// became of each entry and is unknown (exit 4) while any entry is not settled.
bool recoverJournal(QObject* plugin, Outcome* outcome, QString* error);

} // namespace till
