#pragma once

#include "merchantapi.h"
#include "sandboxoptions.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace sandbox {

class SandboxServerPrivate;

/// The sandbox on the network: HTTP or HTTPS on one port, a thread per connection.
class SandboxServer {
public:
    explicit SandboxServer(const SandboxOptions& options);
    ~SandboxServer();
    SandboxServer(const SandboxServer&) = delete;
    SandboxServer& operator=(const SandboxServer&) = delete;

    /// Binds and starts serving; false with a reason in `error`.
    bool start(QString* error);
    /// Stops accepting, closes every connection and waits for their threads.
    void stop();

    quint16 port() const;
    /// "http(s)://host:port"
    QString rootUrl() const;
    /// The root URL followed by the merchant API's base path.
    QString baseUrl() const;
    /// The certificate clients must trust (self-signed or from the file); empty over HTTP.
    QByteArray certificatePem() const;
    MerchantApi& api();

private:
    std::unique_ptr<SandboxServerPrivate> d;
};

} // namespace sandbox
