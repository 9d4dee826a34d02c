#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

/// What to send in one HTTP exchange.
struct CurlRequest {
    int operation = 4; // RestOperation code
    QByteArray url;
    QByteArray body;
    QHash<QString, QString> headers;
    qint64 timeoutMs = 30000;
    qint64 maxAnswerBytes = 1024 * 1024;
};

/// How one HTTP exchange ended.
struct CurlResult {
    int error = 0; // RestClient::Error
    int httpStatus = 0;
    /// The request went out whole and no usable answer came back: the server may have
    /// carried it out.
    bool uploadedButAborted = false;
    /// The whole request went out, whatever came back.
    bool requestSent = false;
    QByteArray answer;
    /// libcurl's own description, for the log; never holds a header or body.
    QString detail;
};

/// One HTTP exchange over libcurl, blocking on the calling thread.
///
/// Every exchange has a fresh easy handle; the calling thread's connections, TLS
/// sessions and DNS answers are shared between them, so idempotent operations
/// reuse a kept-alive connection. Every other one goes out on a fresh connection
/// that is closed afterwards, so libcurl never has a reused connection to re-send
/// it on. The trust store is built once per process.
CurlResult performExchange(const CurlRequest& request);

/// The RestClient::Error that a libcurl result code stands for.
int curlErrorKind(int curlCode);
