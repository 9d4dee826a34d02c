#include "sandboxfixture.h"

#include "restclient.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>

#include <gtest/gtest.h>

namespace testsupport {

sandbox::SandboxOptions RunningSandbox::defaultOptions()
{
    sandbox::SandboxOptions options;
    options.tls = sandbox::SandboxOptions::Tls::SelfSigned;
    options.logRequests = false;
    options.slowDelayMs = 1500;
    options.trickleByteDelayMs = 5;
    return options;
}

RunningSandbox::RunningSandbox(sandbox::SandboxOptions options, bool trustCertificate)
    : m_options(std::move(options))
{
    if (m_options.tls == sandbox::SandboxOptions::Tls::SelfSigned) {
        m_certificateFile = m_directory.filePath("sandbox.pem");
        m_options.certificateOut = m_certificateFile;
    }
    m_server = std::make_unique<sandbox::SandboxServer>(m_options);
    QString error;
    if (!m_server->start(&error)) {
        ADD_FAILURE() << "sandbox did not start: " << error.toStdString();
    }
    if (trustCertificate && !m_certificateFile.isEmpty()) {
        EXPECT_TRUE(RestClient::addTrustedCaFile(m_certificateFile));
    }
}

RunningSandbox::~RunningSandbox()
{
    m_server->stop();
}

int RunningSandbox::connections() const
{
    return m_server->api().statsJson().value("connections").toInt();
}

int RunningSandbox::received(const QString& methodAndPath) const
{
    return m_server->api().statsJson().value("requests").toObject().value(methodAndPath).toInt();
}

QHash<QString, QString> RunningSandbox::signedHeaders(qint64 timestampMs) const
{
    const QString timestamp =
        QString::number(timestampMs >= 0 ? timestampMs : QDateTime::currentMSecsSinceEpoch());
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash((timestamp + m_options.secretKey).toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex());
    return {{"Accept", "application/json"},
            {"Content-Type", "application/json"},
            {"Authorization", m_options.userId + ':' + digest + ':' + timestamp}};
}

} // namespace testsupport
