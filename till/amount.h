#pragma once

#include <QString>
#include <QtGlobal>

namespace till {

/// Reads an amount typed in currency units ("15", "15.5", "15.50") as exact
/// hundredths, without floating point. False with a reason for anything else:
/// letters, more than two decimals, a sign, zero, or more than a 32-bit count.
bool parseAmount(const QString& text, qint32* hundredths, QString* error);

/// Hundredths written back in currency units with two decimals.
QString formatAmount(qint64 hundredths);

} // namespace till
