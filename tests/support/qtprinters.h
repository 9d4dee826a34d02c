#pragma once

// Readable failure messages for the Qt types the tests compare.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "tr.h"

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[' << list.join("\", \"").prepend('"').append('"').toStdString() << ']';
}
inline void PrintTo(const QUrl& url, std::ostream* out)
{
    *out << url.toString().toStdString();
}
inline void PrintTo(const QJsonObject& object, std::ostream* out)
{
    *out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

namespace tr {
inline void PrintTo(const Tr& text, std::ostream* out)
{
    *out << "Tr(" << text.key().toStdString() << ", " << text.ru().toStdString() << ')';
}
} // namespace tr
