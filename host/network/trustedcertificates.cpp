#include "trustedcertificates.h"

#include "networklogging.h"

#include <QFile>
#include <QMutex>

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>

namespace trustedcertificates {

namespace {

QMutex mutex;
QList<QByteArray> certificates;
bool environmentRead = false;
X509_STORE* store = nullptr; // built once, never freed: connections share it

// Splits a PEM bundle into its certificates; empty when none parses.
QList<X509*> parse(const QByteArray& pem)
{
    QList<X509*> found;
    BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        found.append(certificate);
    }
    BIO_free(bio);
    return found;
}

QByteArray pemOf(X509* certificate)
{
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    QByteArray pem(data, int(length));
    BIO_free(out);
    return pem;
}

bool addLocked(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(strovaNetwork).noquote() << "cannot read CA file" << path;
        return false;
    }
    const QList<X509*> found = parse(file.readAll());
    if (found.isEmpty()) {
        qCWarning(strovaNetwork).noquote() << "no certificate in CA file" << path;
        return false;
    }
    for (X509* certificate : found) {
        certificates.append(pemOf(certificate));
        if (store) {
            X509_STORE_add_cert(store, certificate); // a duplicate is harmless
        }
        X509_free(certificate);
    }
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

// The system's certificates come from the hashed directory, looked up by issuer
// when a chain needs one: no bundle is parsed whole, at the first connection or
// at any other.
X509_STORE* storeLocked()
{
    if (store) {
        return store;
    }
    readEnvironmentLocked();
    X509_STORE* built = X509_STORE_new();
    const char* directory = std::getenv(X509_get_default_cert_dir_env());
    if (!directory || !*directory) {
        directory = X509_get_default_cert_dir();
    }
    X509_LOOKUP* lookup = built ? X509_STORE_add_lookup(built, X509_LOOKUP_hash_dir()) : nullptr;
    if (!lookup || X509_LOOKUP_add_dir(lookup, directory, X509_FILETYPE_PEM) != 1) {
        qCWarning(strovaNetwork).noquote() << "cannot use the system CA directory" << directory;
        X509_STORE_free(built);
        return nullptr;
    }
    for (const QByteArray& pem : certificates) {
        for (X509* certificate : parse(pem)) {
            X509_STORE_add_cert(built, certificate);
            X509_free(certificate);
        }
    }
    store = built;
    return store;
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

bool useStore(void* sslContext)
{
    QMutexLocker lock(&mutex);
    X509_STORE* shared = storeLocked();
    if (!shared) {
        return false;
    }
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), shared);
    return true;
}

} // namespace trustedcertificates
