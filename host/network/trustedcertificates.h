#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// CA certificates trusted on top of the system store: those added by the host
/// and the file named by $STROVA_CA_FILE.
namespace trustedcertificates {

/// Reads the PEM file; false (and nothing added) when it holds no certificate.
bool addFile(const QString& path);
/// Every extra certificate, PEM encoded.
QList<QByteArray> all();
/// Adds the extra certificates to an OpenSSL SSL_CTX (passed as void* by libcurl).
void addToSslContext(void* sslContext);

} // namespace trustedcertificates
