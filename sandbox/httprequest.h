#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace sandbox {

/// A request as the sandbox received it.
struct HttpRequest {
    QString method;
    QString target;                  // path and query
    QHash<QString, QString> headers; // names in lower case
    QByteArray body;
};

} // namespace sandbox
