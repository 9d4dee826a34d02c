#include "printable.h"

#include "messages.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

namespace till {

namespace {

bool isBidiOverride(uint code)
{
    return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

QJsonValue cappedStrings(const QJsonValue& value)
{
    if (value.isString()) {
        return oxlenpay::messages::capped(value.toString());
    }
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray()) {
            array.append(cappedStrings(item));
        }
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto field = object.begin(); field != object.end(); ++field) {
            field.value() = cappedStrings(field.value());
        }
        return object;
    }
    return value;
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

QByteArray printableJson(const QJsonObject& object)
{
    // Provider texts are the only long strings: capping every string caps them, whichever
    // field carries them.
    const QByteArray json =
        QJsonDocument(cappedStrings(object).toObject()).toJson(QJsonDocument::Indented);
    // These characters stand only inside strings, where an escape is the same character;
    // all of them are single UTF-16 units.
    QString out;
    for (const QChar c : QString::fromUtf8(json)) {
        const uint code = c.unicode();
        out += (code >= 0x80 && code <= 0x9F) || isBidiOverride(code)
                   ? QString("\\u%1").arg(code, 4, 16, QChar('0'))
                   : QString(c);
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
