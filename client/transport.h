#pragma once

#include "interface.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <mutex>

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

/// The wire: the provider's URLs, the signed headers and one exchange. It holds no
/// setting of its own: every call is given what it needs, so one object serves an
/// operation and a recovery on two threads at once.
class Transport {
public:
    explicit Transport(Log4Qt::Logger* logger);

    /// The URL of `method` under `hostText` and `pathText`; empty when the path names a
    /// host of its own. Composed once per pair of texts: it cost a tenth of a status poll.
    QUrl url(Interface::Method method, const QString& hostText, const QString& pathText) const;
    /// The base URL `hostText` and `pathText` name; false when the path names a host of
    /// its own. check-config asks the same.
    static bool baseUrl(const QString& hostText, const QString& pathText, QUrl* out);
    /// False when `value` holds a control character (C0, DEL or C1): it would end the
    /// header it is put in and start one the settings wrote.
    static bool usableInHeader(const QString& value);
    /// False when `id` holds a control character or a bidirectional override: a payment id
    /// that could steer a terminal or hide its words is no payment id.
    static bool usablePaymentId(const QString& id);
    /// The three headers of a request signed now with `secretKey`.
    static QHash<QString, QString> headers(const QString& userId, const QString& secretKey);
    /// One complete exchange, given up after `timeoutMs`; failures are reported in the
    /// result, never thrown.
    Interface::RequestResult send(Interface::Method method, const QUrl& url,
                                  const QHash<QString, QString>& headers, const QJsonObject& body,
                                  qint64 timeoutMs) const;

private:
    Log4Qt::Logger* m_logger;
    mutable std::mutex m_urlMutex; // guards the URL cache below
    mutable QString m_hostText, m_pathText;
    mutable bool m_urlsFilled = false;
    mutable QUrl m_urls[Interface::Fiscal + 2]; // one per method, and an unknown method's
};

} // namespace oxlenpay
