#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class RawHttpServerPrivate;

/// A loopback HTTP server that answers each request with scripted bytes: answers
/// no real server would send, on a fresh or a kept-alive connection.
class RawHttpServer {
public:
    struct Reply {
        QByteArray bytes;
        enum class Then { KeepOpen, Close, Reset } then = Then::KeepOpen;
    };

    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    /// The replies to the coming requests, in order; the last one repeats.
    void script(const QList<Reply>& replies);
    QString url(const QString& path = "/") const;
    int connections() const;
    int requests() const;

private:
    std::unique_ptr<RawHttpServerPrivate> d;
};
