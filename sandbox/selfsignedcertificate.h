#pragma once

#include <QByteArray>
#include <QString>

namespace sandbox {

/// A certificate and key made at start, valid for localhost, 127.0.0.1 and ::1.
struct SelfSignedCertificate {
    QByteArray certificatePem;
    QByteArray privateKeyPem;

    /// Makes a fresh pair; false with a reason in `error` when OpenSSL fails.
    static bool generate(SelfSignedCertificate* out, QString* error);
};

} // namespace sandbox
