#pragma once

// The real oxlenpay-till and oxlenpay-sandbox processes, as an integrator runs them:
// one sandbox per test suite, a till process per command. The sandbox and its folder are
// the calling thread's, so that threads of one test can each start their own.
#include "restclient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace tilltest {

struct TillRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

class TillEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startSandbox(); }
    static void TearDownTestSuite() { stopSandbox(); }

    static void startSandbox()
    {
        directory = new QTemporaryDir;
        sandbox = new QProcess;
        sandbox->start(SANDBOX_EXECUTABLE, {"--port", "0", "--quiet", "--cert-out",
                                            directory->filePath("sandbox.pem")});
        ASSERT_TRUE(sandbox->waitForReadyRead(10000));
        const QString base = QString::fromUtf8(sandbox->readLine()).trimmed();
        root = base.left(base.indexOf("/api/"));
        ASSERT_TRUE(RestClient::addTrustedCaFile(directory->filePath("sandbox.pem")));
    }

    static void stopSandbox()
    {
        sandbox->terminate();
        sandbox->waitForFinished(5000);
        delete sandbox;
        delete directory;
    }

    /// `host` empty: this thread's sandbox.
    static QString writeConfig(const QString& name, const QByteArray& extra = {},
                               const QString& host = QString())
    {
        const QString path = directory->filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[OxlenPay]\nhost = " + (host.isEmpty() ? root : host).toUtf8() +
                   "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
                   "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
                   "frequency = 20\npayDuration = 3000\ntimeout = 3000\njournal = " +
                   journalPath(name).toUtf8() + "\n" + extra);
        return path;
    }

    /// Each configuration keeps its own journal.
    static QString journalPath(const QString& config)
    {
        return directory->filePath(config + ".journal.sqlite");
    }

    /// `caFile` empty: the sandbox's certificate; "-": no CA file at all.
    static TillRun till(const QStringList& arguments,
                        const QString& config = writeConfig("till.conf"),
                        const QString& caFile = QString())
    {
        QProcess process;
        QStringList all = {"--config", config};
        if (caFile != "-") {
            all << "--ca-file" << (caFile.isEmpty() ? directory->filePath("sandbox.pem") : caFile);
        }
        all << arguments;
        process.start(TILL_EXECUTABLE, all);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    static QJsonArray ledger()
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(2, QUrl(root + "/_sandbox/ledger"), QJsonDocument(), {});
        return client.jsonAnswer().object().value("payments").toArray();
    }

    /// The newest merchant request the sandbox received, to tell whether another came.
    static QByteArray newestRequest()
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(2, QUrl(root + "/_sandbox/requests"), QJsonDocument(), {});
        const QJsonArray newestFirst = client.jsonAnswer().object().value("requests").toArray();
        return QJsonDocument(newestFirst.first().toObject()).toJson(QJsonDocument::Compact);
    }

    static QJsonObject payment(const QString& id)
    {
        for (const QJsonValue& value : ledger()) {
            if (value.toObject().value("payment_id").toString() == id) {
                return value.toObject();
            }
        }
        return {};
    }

    static QJsonObject stats()
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(2, QUrl(root + "/_sandbox/stats"), QJsonDocument(), {});
        return client.jsonAnswer().object();
    }

    /// Polls the sandbox's ledger until `done` holds; false after `limitMs`.
    template <typename Condition> static bool waitUntil(Condition done, int limitMs = 20000)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (waited.elapsed() > limitMs) {
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    static void control(const QString& path, const QJsonObject& body)
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(4, QUrl(root + path), QJsonDocument(body), {});
        EXPECT_EQ(client.error(), 0) << path.toStdString();
    }

    /// `after` requests of `operation` pass, then `count` meet `fault` (-1: every one).
    static void injectFault(const QString& operation, const QString& fault, int count,
                            int after = 0)
    {
        control("/_sandbox/faults",
                {{"operation", operation}, {"fault", fault}, {"count", count}, {"after", after}});
    }

    static void resetFaults()
    {
        // Queued faults that were not used up would meet the next case.
        RestClient client;
        client.setTimeout(5000);
        client.send(5, QUrl(root + "/_sandbox/faults"), QJsonDocument(), {});
        EXPECT_EQ(client.error(), 0);
    }

    static QString sale(const QString& token, const QString& amount = "15.00")
    {
        const TillRun run = till({"--json", "sale", "--amount", amount, "--token", token});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return run.json().value("rrn").toString();
    }

    static inline thread_local QTemporaryDir* directory = nullptr;
    static inline thread_local QProcess* sandbox = nullptr;
    static inline thread_local QString root;
};

} // namespace tilltest
