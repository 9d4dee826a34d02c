#pragma once

#include "config.h"
#include "interface.h"
#include "logcapture.h"
#include "scriptedtransport.h"
#include "singleton.h"
#include "virtualclock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

/// The client with its settings open to the test.
class TestInterface : public oxlenpay::Interface {
public:
    using Interface::frequency;
    using Interface::merchantId;
    using Interface::merchantSecretKey;
    using Interface::merchantServiceId;
    using Interface::merchantServiceUserId;
    using Interface::payDuration;
    using Interface::reverseUnknown;
    using Interface::timeout;
};

/// A fresh configuration service reading a file under a temporary STROVA_ROOT.
class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        qputenv("STROVA_ROOT", root.path().toUtf8());
        delete Singleton<Config>::instance;
        Singleton<Config>::instance = nullptr;
    }

    void TearDown() override
    {
        delete Singleton<Config>::instance;
        Singleton<Config>::instance = nullptr;
        qunsetenv("STROVA_ROOT");
    }

    /// The journal goes to the temporary root unless `ini` names one.
    void writeConfig(QByteArray ini)
    {
        if (!ini.contains("journal =")) {
            ini += "\njournal = " + journalFile().toUtf8() + "\n";
        }
        const QString path = Config::relocated(oxlenpay::Interface::ConfigPath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(ini);
        file.close();
        // A later write within the same second must still be seen as a change.
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::currentDateTime().addSecs(++writes),
                         QFileDevice::FileModificationTime);
    }

    /// A client initialised from `ini`, polling fast enough for tests.
    void makeClient(const QByteArray& ini = "[OxlenPay]\n"
                                            "merchantId = till-01\n"
                                            "merchantServiceId = 5001\n"
                                            "merchantServiceUserId = merchant-user\n"
                                            "merchantSecretKey = sandbox-secret\n"
                                            "frequency = 20\n"
                                            "payDuration = 100\n")
    {
        writeConfig(ini);
        client.init();
        log.clear(); // the warning about test-only timings is checked on its own
    }

    QString journalFile() const { return root.filePath("journal.sqlite"); }

    QTemporaryDir root;
    int writes = 0;
    TestInterface client;
    LogCapture log;
    VirtualClock clock;
    ScriptedTransport transport;
};

inline QJsonObject answer(const QString& status, const QString& id = "pay-1")
{
    QJsonObject object{{"error_code", 0}, {"payment_status", status}};
    if (!id.isEmpty()) {
        object.insert("payment_id", id);
        object.insert("client_phone_number", "+77010000001");
    }
    return object;
}

/// The texts this project adds are Russian, like the host's: no Latin letter but in the
/// payment id a text names. The provider's texts ("undefined") and the host's REST client's
/// are theirs.
inline void expectRussian(const tr::Tr& message, const QString& paymentId)
{
    const QString key = message.key();
    if (key == "undefined" || key.startsWith("restClient") || key.isEmpty()) {
        return;
    }
    QString text = message.ru();
    if (!paymentId.isEmpty()) {
        text.remove(paymentId);
    }
    static const QRegularExpression latin("[A-Za-z]");
    EXPECT_FALSE(text.contains(latin)) << key.toStdString() << ": " << message.ru().toStdString();
}

} // namespace testsupport
