#include "amount.h"

#include <QRegularExpression>

#include <limits>

namespace till {

bool parseAmount(const QString& text, qint32* hundredths, QString* error)
{
    // \A and \z: "$" would also match before a final newline.
    static const QRegularExpression pattern("\\A([0-9]{1,12})(?:\\.([0-9]{1,2}))?\\z");
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        if (text.startsWith('-')) {
            *error = QString("amount \"%1\" is negative").arg(text);
        } else if (QRegularExpression("^[0-9]+\\.[0-9]{3,}$").match(text).hasMatch()) {
            *error = QString("amount \"%1\" has more than two decimals").arg(text);
        } else {
            *error =
                QString("amount \"%1\" is not a number of currency units such as 15.50").arg(text);
        }
        return false;
    }
    QString fraction = match.captured(2);
    fraction = fraction.leftJustified(2, '0');
    const qint64 value = match.captured(1).toLongLong() * 100 + fraction.toLongLong();
    if (value > std::numeric_limits<qint32>::max()) {
        *error = QString("amount \"%1\" is too large").arg(text);
        return false;
    }
    if (value == 0) {
        *error = QString("amount \"%1\" must be greater than zero").arg(text);
        return false;
    }
    *hundredths = qint32(value);
    return true;
}

QString formatAmount(qint64 hundredths)
{
    const QString sign = hundredths < 0 ? "-" : "";
    const qint64 magnitude = hundredths < 0 ? -hundredths : hundredths;
    return QString("%1%2.%3")
        .arg(sign)
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QChar('0'));
}

} // namespace till
