#pragma once

#include <QString>
#include <QtGlobal>

namespace sandbox {

/// Everything a sandbox run is configured with.
struct SandboxOptions {
    QString host = "127.0.0.1";
    quint16 port = 0; // 0 picks a free port
    QString basePath = "/api/quindo-pay/merchant";

    enum class Tls { None, Files, SelfSigned };
    Tls tls = Tls::None;
    QString certificateFile; // Files: the server's certificate chain (PEM)
    QString keyFile;         // Files: its private key (PEM)
    QString certificateOut;  // SelfSigned: where to write the certificate for clients to trust

    // The merchant the sandbox accepts.
    qint64 serviceId = 5001;
    QString cashboxCode = "till-01";
    QString userId = "merchant-user";
    QString secretKey = "sandbox-secret";
    /// The merchant account's currency (ISO 4217 numeric): the API carries none, every
    /// payment is in it.
    int currency = 398;

    /// Status polls after which a default sale settles to SUCCESS.
    int settleAfterPolls = 2;
    /// How far a request's timestamp may lie from the sandbox's clock.
    qint64 timestampToleranceMs = 5 * 60 * 1000;
    /// Delay of the "slow" scenario and fault.
    int slowDelayMs = 3000;
    /// Pause between bytes of the "trickle" scenario and fault.
    int trickleByteDelayMs = 50;
    /// Write one line per request to stderr.
    bool logRequests = true;
};

} // namespace sandbox
