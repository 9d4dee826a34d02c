#include "printable.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

namespace till {

namespace {

bool isBidiOverride(uint code)
{
    return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

QString printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const uint code : text.toUcs4()) {
        if (code < 0x20 || code == 0x7F) {
            out += QString("\\x%1").arg(code, 2, 16, QChar('0'));
        } else if ((code >= 0x80 && code <= 0x9F) || isBidiOverride(code)) {
            out += QString("\\u{%1}").arg(code, 4, 16, QChar('0'));
        } else {
            out += QString::fromUcs4(&code, 1);
        }
    }
    return out;
}

QString printablePage(const QString& page)
{
    QStringList lines = page.split('\n');
    for (QString& line : lines) {
        line = printable(line);
    }
    return lines.join('\n');
}

QByteArray printableJson(const QByteArray& json)
{
    // These characters stand only inside strings, where an escape is the same character.
    QString out;
    for (const uint code : QString::fromUtf8(json).toUcs4()) {
        if ((code >= 0x80 && code <= 0x9F) || isBidiOverride(code)) {
            out += QString("\\u%1").arg(code, 4, 16, QChar('0'));
        } else {
            out += QString::fromUcs4(&code, 1);
        }
    }
    return out.toUtf8();
}

QString csvCell(const QString& value, bool number)
{
    QString cell = printable(value);
    static const QRegularExpression formula("^[=+\\-@]");
    // A tab or a carriage return was already made "\x09" or "\x0d": the raw value decides.
    if (!number &&
        (formula.match(cell).hasMatch() || value.startsWith('\t') || value.startsWith('\r'))) {
        cell.prepend('\'');
    }
    if (!cell.contains(QRegularExpression("[\",]"))) {
        return cell;
    }
    return '"' + cell.replace('"', "\"\"") + '"';
}

QString shellQuoted(const QString& word)
{
    static const QRegularExpression plain("^[A-Za-z0-9_./:@%+=,-]+$");
    if (plain.match(word).hasMatch()) {
        return word;
    }
    return '\'' + QString(word).replace('\'', "'\\''") + '\'';
}

} // namespace till
