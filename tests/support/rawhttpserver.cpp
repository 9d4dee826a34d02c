#include "rawhttpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class RawHttpServerPrivate {
public:
    int listener = -1;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::vector<std::thread> workers;
    std::mutex mutex;
    QList<RawHttpServer::Reply> replies;
    int next = 0;
    std::atomic<int> connections{0};
    std::atomic<int> requests{0};

    RawHttpServer::Reply take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (replies.isEmpty()) {
            return {"HTTP/1.1 500 Nothing scripted\r\nContent-Length: 0\r\n\r\n"};
        }
        const int index = std::min(next++, int(replies.size()) - 1);
        return replies[index];
    }

    // Reads one request (headers, then Content-Length bytes); false when the peer is gone.
    bool readRequest(int fd, QByteArray* pending)
    {
        char chunk[4096];
        auto more = [&] {
            pollfd waiting{fd, POLLIN, 0};
            while (!stopping) {
                if (::poll(&waiting, 1, 100) > 0) {
                    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                    if (got <= 0) {
                        return false;
                    }
                    pending->append(chunk, int(got));
                    return true;
                }
            }
            return false;
        };
        int end;
        while ((end = pending->indexOf("\r\n\r\n")) < 0) {
            if (!more()) {
                return false;
            }
        }
        qint64 length = 0;
        for (const QByteArray& line : pending->left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:")) {
                length = line.mid(15).trimmed().toLongLong();
            }
        }
        while (pending->size() < end + 4 + length) {
            if (!more()) {
                return false;
            }
        }
        pending->remove(0, int(end + 4 + length));
        return true;
    }

    void serve(int fd)
    {
        QByteArray pending;
        while (readRequest(fd, &pending)) {
            ++requests;
            const RawHttpServer::Reply reply = take();
            ::send(fd, reply.bytes.constData(), size_t(reply.bytes.size()), MSG_NOSIGNAL);
            if (reply.then == RawHttpServer::Reply::Then::Reset) {
                const linger abort{1, 0}; // close with RST
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                break;
            }
            if (reply.then == RawHttpServer::Reply::Then::Close) {
                ::shutdown(fd, SHUT_WR);
                break;
            }
        }
        ::close(fd);
    }

    void acceptLoop()
    {
        while (!stopping) {
            pollfd waiting{listener, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            ++connections;
            std::lock_guard<std::mutex> lock(mutex);
            workers.emplace_back([this, fd] { serve(fd); });
        }
    }
};

RawHttpServer::RawHttpServer() : d(std::make_unique<RawHttpServerPrivate>())
{
    d->listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(d->listener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(d->listener, 16);
    ::getsockname(d->listener, reinterpret_cast<sockaddr*>(&address), &size);
    d->port = ntohs(address.sin_port);
    d->acceptor = std::thread([this] { d->acceptLoop(); });
}

RawHttpServer::~RawHttpServer()
{
    d->stopping = true;
    d->acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        workers.swap(d->workers);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    ::close(d->listener);
}

void RawHttpServer::script(const QList<Reply>& replies)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->replies = replies;
    d->next = 0;
}

QString RawHttpServer::url(const QString& path) const
{
    return QString("http://127.0.0.1:%1%2").arg(d->port).arg(path);
}

int RawHttpServer::connections() const
{
    return d->connections;
}

int RawHttpServer::requests() const
{
    return d->requests;
}
