#include "sandboxserver.h"

#include "controlapi.h"
#include "selfsignedcertificate.h"

#include <QDateTime>
#include <QFile>

#include <openssl/crypto.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace sandbox {

namespace {

constexpr int IdleConnectionMs = 30000;
constexpr std::size_t MaxRequestBytes = 2 * 1024 * 1024;

QByteArray responseText(const Delivery& delivery, bool keepAlive)
{
    const auto reason = http::obsolete_reason(http::int_to_status(unsigned(delivery.status)));
    QByteArray text = "HTTP/1.1 " + QByteArray::number(delivery.status) + ' ' +
                      QByteArray(reason.data(), int(reason.size())) + "\r\n";
    text += "Content-Type: " + delivery.contentType + "\r\n";
    text += "Content-Length: " + QByteArray::number(delivery.body.size()) + "\r\n";
    if (delivery.noFraming) {
        text += "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n";
    }
    text += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    text += "Server: oxlenpay-sandbox\r\n\r\n";
    return text + delivery.body;
}

} // namespace

class SandboxServerPrivate {
public:
    explicit SandboxServerPrivate(const SandboxOptions& o) : options(o), api(o) {}

    SandboxOptions options;
    MerchantApi api;
    asio::io_context io;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<asio::ssl::context> tls;
    QByteArray certificatePem;
    std::thread acceptThread;
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::set<int> liveSockets;
    int liveThreads = 0;

    bool sleepUnlessStopping(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return !changed.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return stopping.load(); });
    }

    void acceptLoop()
    {
        const int fd = acceptor->native_handle();
        while (!stopping) {
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0) {
                continue;
            }
            beast::error_code ec;
            auto socket = std::make_unique<tcp::socket>(io);
            acceptor->accept(*socket, ec);
            if (ec) {
                continue;
            }
            api.noteConnection();
            std::lock_guard<std::mutex> lock(mutex);
            liveSockets.insert(socket->native_handle());
            ++liveThreads;
            // The thread holds only a plain pointer, so nothing of the socket outlives
            // the count that stop() waits on.
            tcp::socket* raw = socket.get();
            try {
                std::thread([this, raw] {
                    connection(std::unique_ptr<tcp::socket>(raw));
                    finished();
                }).detach();
                socket.release(); // the thread owns it now
            } catch (const std::system_error&) {
                // No thread to serve it: the connection closes at once.
                liveSockets.erase(raw->native_handle());
                --liveThreads;
            }
        }
    }

    void connection(std::unique_ptr<tcp::socket> socket)
    {
        const int fd = socket->native_handle();
        beast::error_code ignored;
        socket->set_option(tcp::no_delay(true), ignored);
        const tcp::endpoint local = socket->local_endpoint(ignored);
        if (tls) {
            asio::ssl::stream<tcp::socket&> stream(*socket, *tls);
            beast::error_code ec;
            stream.handshake(asio::ssl::stream_base::server, ec);
            if (!ec) {
                serve(stream, fd, local);
            }
        } else {
            serve(*socket, fd, local);
        }
        socket->shutdown(tcp::socket::shutdown_both, ignored);
        std::lock_guard<std::mutex> lock(mutex);
        liveSockets.erase(fd);
        socket->close(ignored);
    }

    // The last act of a connection thread, once its socket and streams are gone.
    void finished()
    {
        // The thread's own OpenSSL state (its random generators) goes now: stop()
        // waits for this point, and the process may end before the thread does.
        OPENSSL_thread_stop();
        std::lock_guard<std::mutex> lock(mutex);
        --liveThreads;
        changed.notify_all();
    }

    template <class Stream> void serve(Stream& stream, int fd, const tcp::endpoint& local)
    {
        beast::flat_buffer buffer;
        while (!stopping) {
            // Over TLS the stream may hold read-ahead bytes the socket no longer shows,
            // so only plain connections are timed out while idle.
            if (!tls && buffer.size() == 0) {
                pollfd waiting{fd, POLLIN, 0};
                if (::poll(&waiting, 1, IdleConnectionMs) <= 0) {
                    return; // idle for too long
                }
            }
            http::request_parser<http::string_body> parser;
            parser.body_limit(MaxRequestBytes);
            beast::error_code ec;
            http::read(stream, buffer, parser, ec);
            if (ec) {
                return;
            }
            const auto started = std::chrono::steady_clock::now();
            const auto& message = parser.get();
            HttpRequest request;
            request.method = QString::fromStdString(std::string(message.method_string()));
            request.target = QString::fromStdString(std::string(message.target()));
            bool ambiguous = false; // two Hosts or two Origins: which one would be checked?
            for (const auto& field : message) {
                const QString name =
                    QString::fromStdString(std::string(field.name_string())).toLower();
                ambiguous |= (name == "host" || name == "origin") && request.headers.contains(name);
                request.headers.insert(name, QString::fromStdString(std::string(field.value())));
            }
            request.body = QByteArray::fromStdString(message.body());
            const bool keepAlive = message.keep_alive();

            QString refused;
            const Delivery delivery =
                ambiguous ? ambiguousRequestRefusal()
                : isControlPath(request.target) &&
                        !isSameSiteControlRequest(request, sameSite(local), &refused)
                    ? controlRefusal(refused)
                    : api.handle(request);
            if (!deliver(stream, fd, delivery, keepAlive)) {
                log(request, delivery, started, "answer not delivered");
                return;
            }
            log(request, delivery, started, nullptr);
            if (!keepAlive || !delivery.raw.isEmpty()) {
                return;
            }
        }
    }

    template <class Stream>
    bool deliver(Stream& stream, int fd, const Delivery& delivery, bool keepAlive)
    {
        if (delivery.mode == Delivery::Mode::Lost) {
            return false; // the request was read whole; close without a word
        }
        if (delivery.mode == Delivery::Mode::Reset) {
            const linger abort{1, 0}; // closing now sends RST
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            return false;
        }
        const QByteArray text =
            delivery.raw.isEmpty() ? responseText(delivery, keepAlive) : delivery.raw;
        beast::error_code ec;
        if (delivery.mode == Delivery::Mode::Slow && !sleepUnlessStopping(delivery.delayMs)) {
            return false;
        }
        if (delivery.mode == Delivery::Mode::Trickle) {
            for (char byte : text) {
                asio::write(stream, asio::buffer(&byte, 1), ec);
                if (ec || !sleepUnlessStopping(delivery.delayMs)) {
                    return false;
                }
            }
            return true;
        }
        asio::write(stream, asio::buffer(text.constData(), std::size_t(text.size())), ec);
        return !ec;
    }

    // Who may call the control API: the address the connection came to, the bound
    // address and localhost, on our port, under our scheme.
    SameSite sameSite(const tcp::endpoint& local) const
    {
        SameSite site;
        site.scheme = tls ? "https" : "http";
        site.port = local.port();
        site.hosts = QStringList{"localhost", options.host.toLower(),
                                 QString::fromStdString(local.address().to_string()).toLower()};
        return site;
    }

    void log(const HttpRequest& request, const Delivery& delivery,
             std::chrono::steady_clock::time_point started, const char* note)
    {
        if (!options.logRequests) {
            return;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        const QByteArray path = request.target.section('?', 0, 0).toUtf8();
        static std::mutex output;
        std::lock_guard<std::mutex> lock(output);
        // One line per request: what was asked, what it got, for which payment.
        const QByteArray payment =
            delivery.paymentId.isEmpty() ? QByteArray() : " payment " + delivery.paymentId.toUtf8();
        const QByteArray code = delivery.errorCode == 0
                                    ? QByteArray()
                                    : " error " + QByteArray::number(delivery.errorCode);
        const QDateTime now = QDateTime::currentDateTime();
        const QByteArray time =
            now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
        std::fprintf(stderr, "%s %s %s %d%s%s %lld ms%s%s\n", time.constData(),
                     request.method.toUtf8().constData(), path.constData(), delivery.status,
                     code.constData(), payment.constData(), static_cast<long long>(ms),
                     note ? " - " : "", note ? note : "");
        std::fflush(stderr);
    }
};

SandboxServer::SandboxServer(const SandboxOptions& options)
    : d(std::make_unique<SandboxServerPrivate>(options))
{
}

SandboxServer::~SandboxServer()
{
    stop();
}

bool SandboxServer::start(QString* error)
{
    try {
        if (d->options.tls != SandboxOptions::Tls::None) {
            QByteArray certificate, key;
            if (d->options.tls == SandboxOptions::Tls::SelfSigned) {
                SelfSignedCertificate pair;
                if (!SelfSignedCertificate::generate(&pair, error)) {
                    return false;
                }
                certificate = pair.certificatePem;
                key = pair.privateKeyPem;
                if (!d->options.certificateOut.isEmpty()) {
                    QFile out(d->options.certificateOut);
                    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                        out.write(certificate) != certificate.size()) {
                        *error = "cannot write " + d->options.certificateOut;
                        return false;
                    }
                }
            } else {
                QFile certificateFile(d->options.certificateFile), keyFile(d->options.keyFile);
                for (QFile* file : {&certificateFile, &keyFile}) {
                    if (!file->open(QIODevice::ReadOnly)) {
                        *error = QString("cannot read %1: %2")
                                     .arg(file->fileName(), file->errorString());
                        return false;
                    }
                }
                certificate = certificateFile.readAll();
                key = keyFile.readAll();
            }
            d->tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
            d->tls->set_options(asio::ssl::context::default_workarounds |
                                asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                                asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
            d->tls->use_certificate_chain(
                asio::buffer(certificate.constData(), std::size_t(certificate.size())));
            d->tls->use_private_key(asio::buffer(key.constData(), std::size_t(key.size())),
                                    asio::ssl::context::pem);
            d->certificatePem = certificate;
        }
        beast::error_code ec;
        const auto address = asio::ip::make_address(d->options.host.toStdString(), ec);
        if (ec) {
            *error = QString("--host %1 is not an IP address").arg(d->options.host);
            return false;
        }
        if (d->options.tls == SandboxOptions::Tls::None && !address.is_loopback()) {
            *error = QString("--http serves the loopback address only, not --host %1")
                         .arg(d->options.host);
            return false;
        }
        try {
            d->acceptor =
                std::make_unique<tcp::acceptor>(d->io, tcp::endpoint(address, d->options.port));
        } catch (const std::exception& failure) {
            *error = QString("cannot listen on %1 port %2: %3")
                         .arg(d->options.host)
                         .arg(d->options.port)
                         .arg(QString::fromLocal8Bit(failure.what()));
            return false;
        }
    } catch (const std::exception& failure) {
        *error = QString::fromLocal8Bit(failure.what());
        return false;
    }
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
    return true;
}

void SandboxServer::stop()
{
    if (!d->acceptThread.joinable()) {
        return;
    }
    d->stopping = true;
    d->acceptThread.join();
    beast::error_code ignored;
    d->acceptor->close(ignored);
    std::unique_lock<std::mutex> lock(d->mutex);
    for (int fd : d->liveSockets) {
        ::shutdown(fd, SHUT_RDWR); // wakes threads blocked in a read
    }
    d->changed.notify_all();
    d->changed.wait(lock, [this] { return d->liveThreads == 0; });
}

quint16 SandboxServer::port() const
{
    return d->acceptor ? d->acceptor->local_endpoint().port() : 0;
}

QString SandboxServer::rootUrl() const
{
    QString host = d->options.host;
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    return QString("%1://%2:%3").arg(d->tls ? "https" : "http", host).arg(port());
}

QString SandboxServer::baseUrl() const
{
    return rootUrl() + d->options.basePath;
}

QByteArray SandboxServer::certificatePem() const
{
    return d->certificatePem;
}

MerchantApi& SandboxServer::api()
{
    return d->api;
}

} // namespace sandbox
