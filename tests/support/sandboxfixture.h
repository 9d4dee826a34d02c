#pragma once

#include "sandboxserver.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

/// A sandbox on a free loopback port, its certificate trusted by RestClient.
class RunningSandbox {
public:
    explicit RunningSandbox(sandbox::SandboxOptions options = defaultOptions(),
                            bool trustCertificate = true);
    ~RunningSandbox();

    static sandbox::SandboxOptions defaultOptions();

    sandbox::SandboxServer& server() { return *m_server; }
    sandbox::MerchantApi& api() { return m_server->api(); }
    const sandbox::SandboxOptions& options() const { return m_options; }
    QString baseUrl() const { return m_server->baseUrl(); }
    QString rootUrl() const { return m_server->rootUrl(); }
    QString certificateFile() const { return m_certificateFile; }
    int connections() const;
    int received(const QString& methodAndPath) const;

    /// Headers signed the way the sandbox expects.
    QHash<QString, QString> signedHeaders(qint64 timestampMs = -1) const;

private:
    sandbox::SandboxOptions m_options;
    std::unique_ptr<sandbox::SandboxServer> m_server;
    QTemporaryDir m_directory;
    QString m_certificateFile;
};

} // namespace testsupport
