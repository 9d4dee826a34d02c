#include "trustedcertificates.h"

#include "networklogging.h"

#include <QFile>
#include <QMutex>

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace trustedcertificates {

namespace {

QMutex mutex;
QList<QByteArray> certificates;
bool environmentRead = false;

// Splits a PEM bundle into its certificates; empty when none parses.
QList<QByteArray> parse(const QByteArray& pem)
{
    QList<QByteArray> found;
    BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        BIO* out = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(out, certificate);
        char* data = nullptr;
        const long length = BIO_get_mem_data(out, &data);
        found.append(QByteArray(data, int(length)));
        BIO_free(out);
        X509_free(certificate);
    }
    BIO_free(bio);
    return found;
}

bool addLocked(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(strovaNetwork).noquote() << "cannot read CA file" << path;
        return false;
    }
    const QList<QByteArray> found = parse(file.readAll());
    if (found.isEmpty()) {
        qCWarning(strovaNetwork).noquote() << "no certificate in CA file" << path;
        return false;
    }
    certificates.append(found);
    return true;
}

void readEnvironmentLocked()
{
    if (environmentRead) {
        return;
    }
    environmentRead = true;
    const QString path = qEnvironmentVariable("STROVA_CA_FILE");
    if (!path.isEmpty()) {
        addLocked(path);
    }
}

} // namespace

bool addFile(const QString& path)
{
    QMutexLocker lock(&mutex);
    readEnvironmentLocked();
    return addLocked(path);
}

QList<QByteArray> all()
{
    QMutexLocker lock(&mutex);
    readEnvironmentLocked();
    return certificates;
}

void addToSslContext(void* sslContext)
{
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (const QByteArray& pem : all()) {
        BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
        if (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
            X509_STORE_add_cert(store, certificate); // a duplicate is harmless
            X509_free(certificate);
        }
        BIO_free(bio);
    }
}

} // namespace trustedcertificates
