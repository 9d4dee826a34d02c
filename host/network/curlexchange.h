#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

/// One HTTP exchange over libcurl, blocking on the calling thread.
///
/// Idempotent operations reuse a kept-alive connection of the calling thread;
/// every other one goes out on a fresh connection that is closed afterwards, so
/// libcurl never has a reused connection to re-send it on.
struct CurlExchange {
    int operation = 4;
    QByteArray url;
    QByteArray body;
    QHash<QString, QString> headers;
    qint64 timeoutMs = 30000;
    qint64 maxAnswerBytes = 1024 * 1024;

    // Outcome.
    int error = 0; // RestClient::Error
    int httpStatus = 0;
    bool uploadedButAborted = false;
    QByteArray answer;
    /// libcurl's own description, for the log; never holds a header or body.
    QString detail;

    void perform();
};

/// The RestClient::Error that a libcurl result code stands for.
int curlErrorKind(int curlCode);
