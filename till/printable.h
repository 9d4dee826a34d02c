#pragma once

#include <QJsonObject>
#include <QString>

namespace till {

/// Text from outside the till (the provider, a journal row, a configuration) as a terminal
/// may show it: C0 controls and DEL as "\xHH", C1 controls and the bidirectional overrides
/// as "\u{HHHH}", a line break included. Nothing in it can move the cursor or hide a word.
QString printable(const QString& text);
/// A whole page the same way, keeping its own line breaks.
QString printablePage(const QString& page);
/// `object` as the till prints JSON: every string capped like a provider's text, and the C1
/// controls and the bidirectional overrides escaped ("\u202e"), the same data, which a
/// terminal shows as it is. JSON escapes the other controls itself.
QByteArray printableJson(const QJsonObject& object);
/// A CSV cell (RFC 4180), printable, and never read as a formula: a text that begins with
/// "=", "+", "-", "@", a tab or a carriage return gets a single quote first. `number`: an
/// amount, whose sign stays.
QString csvCell(const QString& value, bool number = false);
/// `word` as one word of a POSIX shell command, quoted when it needs to be.
QString shellQuoted(const QString& word);

} // namespace till
