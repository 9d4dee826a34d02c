#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// What the REST client trusts: the system's CA certificates, plus those added by
/// the host and the file named by $STROVA_CA_FILE. One OpenSSL store per process,
/// built at the first TLS connection and shared by every later one.
namespace trustedcertificates {

/// Reads the PEM file; false (and nothing added) when it holds no certificate.
bool addFile(const QString& path);
/// Every extra certificate, PEM encoded.
QList<QByteArray> all();
/// Gives an OpenSSL SSL_CTX (passed as void* by libcurl) the process's store;
/// false when the store cannot be built.
bool useStore(void* sslContext);

} // namespace trustedcertificates
