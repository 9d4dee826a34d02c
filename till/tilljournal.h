#pragma once

#include "tilloutcome.h"

#include <QString>

class QObject;

namespace till {

/// The payment journal's file as the plug-in finds it in its configuration; empty when
/// the configuration turns the journal off.
QString journalPath();

/// `journal`: the entries, newest first; with `openOnly` those not settled (sending,
/// waiting, unknown). False, with the reason, when the journal cannot be read.
bool journalListing(bool openOnly, Outcome* outcome, QString* error);

/// `recover`: the plug-in finishes what a gone process left open; the outcome tells what
/// became of each entry and is unknown (exit 4) while any entry is not settled.
bool recoverJournal(QObject* plugin, Outcome* outcome, QString* error);

} // namespace till
