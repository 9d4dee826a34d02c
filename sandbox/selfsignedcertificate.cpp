#include "selfsignedcertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>

namespace sandbox {

namespace {

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

bool addExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) {
        return false;
    }
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

QByteArray toPem(const std::function<int(BIO*)>& write)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) {
        return {};
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

} // namespace

bool SelfSignedCertificate::generate(SelfSignedCertificate* out, QString* error)
{
    Key key(EVP_EC_gen("P-256"));
    Certificate certificate(X509_new());
    if (!key || !certificate) {
        *error = "cannot create a key";
        return false;
    }
    X509_set_version(certificate.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30L * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Oxlen Pay sandbox"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    const bool extended =
        addExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE") &&
        addExtension(certificate.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") &&
        addExtension(certificate.get(), NID_ext_key_usage, "serverAuth") &&
        addExtension(certificate.get(), NID_subject_alt_name,
                     "DNS:localhost,IP:127.0.0.1,IP:::1") &&
        addExtension(certificate.get(), NID_subject_key_identifier, "hash");
    if (!extended || X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        *error = "cannot sign the certificate";
        return false;
    }
    out->certificatePem =
        toPem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate.get()); });
    out->privateKeyPem = toPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    if (out->certificatePem.isEmpty() || out->privateKeyPem.isEmpty()) {
        *error = "cannot encode the certificate";
        return false;
    }
    return true;
}

} // namespace sandbox
