#pragma once

#include "strovaexport.h"
#include "tr.h"

#include <QHash>
#include <QJsonDocument>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QUrl>

class RestClientPrivate;

/// The host's REST client: one blocking JSON exchange per object.
///
/// Operation codes are those of QNetworkAccessManager::Operation
/// (1 HEAD, 2 GET, 3 PUT, 4 POST, 5 DELETE).
class STROVA_EXPORT RestClient : public QObject {
    Q_OBJECT
public:
    /// What error() reports.
    enum Error {
        NoError = 0,
        ConnectFailed,
        HostNotFound,
        Timeout,
        TlsFailed,
        HttpStatus,
        AnswerTooLarge,
        InsecureUrl,
        InvalidUrl,
        ConnectionLost,
        OtherFailure,
        BadAnswer, ///< an answer came after the request but could not be read as HTTP
    };
    /// Answers larger than this are refused rather than read whole.
    static constexpr qint64 MaxAnswerBytes = 1024 * 1024;

    explicit RestClient(QObject* parent = nullptr);
    ~RestClient() override;

    virtual void setTimeout(qint64 milliseconds);
    /// Sends the request and returns when the answer, a failure or the time-out came.
    virtual bool send(int operation, const QUrl& url, const QJsonDocument& document,
                      const QHash<QString, QString>& headers);
    /// 0 when an answer arrived; non-zero on failure.
    virtual int error() const;
    /// True when the whole body was sent and the exchange failed before any answer came.
    virtual bool isUploadedButAborted() const;
    virtual tr::Tr errorText() const;
    virtual QJsonDocument jsonAnswer() const;
    /// HTTP status of the answer, 0 when none arrived.
    virtual int httpStatus() const;

    /// Adds trusted CA certificates (PEM) for every later client in this process, on top
    /// of the system store and the file named by $STROVA_CA_FILE. Returns false when the
    /// file holds no certificate.
    static bool addTrustedCaFile(const QString& pemFile);

private:
    QScopedPointer<RestClientPrivate> d;
};

#include "mockfactory.h"

template <> QSharedPointer<RestClient> MockFactory<RestClient>::defaultCreator();
