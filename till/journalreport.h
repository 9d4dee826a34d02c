#pragma once

#include "journal.h"
#include "tilloutcome.h"

namespace till {

/// `journal report`: the entries created in the filter's span (today, local time, when it
/// names none). What still needs recovery or a person first, with what to check; then the
/// net per currency of what was done, with what it leaves out beside it; then count and sum
/// per operation, outcome and currency; fiscal messages apart; then the slowest operations.
bool journalReport(oxlenpay::Journal::Filter filter, Outcome* outcome, QString* error);

} // namespace till
