#pragma once

#include "journal.h"
#include "tilloutcome.h"

namespace till {

/// What `journal` lists and how.
struct JournalQuery {
    oxlenpay::Journal::Filter filter;
    bool csv = false;
    qint64 amount = -1; ///< only entries of this amount (hundredths); -1: any
};

/// The shortest id prefix `journal --id` and `journal resolve` take.
constexpr int MinIdPrefix = 6;
/// The whole id of the one entry whose id starts with `prefix` (at least MinIdPrefix
/// characters; a shorter text is taken as a whole id). False, naming up to ten of them,
/// when several match.
bool expandIdPrefix(const QString& prefix, QString* id, QString* error);

/// `journal`: the entries the query selects, newest first, as an aligned table (local times
/// with their offset), CSV or JSON (UTC). False, with the reason, when the journal cannot be
/// read.
bool journalListing(const JournalQuery& query, Outcome* outcome, QString* error);
/// The whole journal, or only what is not settled: for the demo's own check.
bool journalListing(bool openOnly, Outcome* outcome, QString* error);

/// An ISO-8601 date or date and time, in local time unless it names its offset. A date
/// alone is the start of that day, or with `endOfDay` the start of the next.
bool parseTime(const QString& text, bool endOfDay, QDateTime* time, QString* error);

} // namespace till
