#pragma once

// The real oxlenpay-till and oxlenpay-sandbox processes, as an integrator runs them:
// one sandbox per test suite, a till process per command.
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

/// One oxlenpay-sandbox process and a folder of configurations and journals beside it.
/// Sites share nothing, so work on different sites may run side by side.
class SandboxSite {
public:
    SandboxSite()
    {
        sandbox.start(SANDBOX_EXECUTABLE,
                      {"--port", "0", "--quiet", "--cert-out", directory.filePath("sandbox.pem")});
        if (sandbox.waitForReadyRead(10000)) {
            const QString base = QString::fromUtf8(sandbox.readLine()).trimmed();
            root = base.left(base.indexOf("/api/"));
        }
        RestClient::addTrustedCaFile(directory.filePath("sandbox.pem"));
    }

    ~SandboxSite()
    {
        sandbox.terminate();
        sandbox.waitForFinished(5000);
    }

    bool started() const { return !root.isEmpty(); }

    /// `host` empty: this site's sandbox.
    QString writeConfig(const QString& name, const QByteArray& extra = {},
                        const QString& host = QString()) const
    {
        const QString path = directory.filePath(name);
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
    QString journalPath(const QString& config) const
    {
        return directory.filePath(config + ".journal.sqlite");
    }

    /// `config` empty: "till.conf"; `caFile` empty: the sandbox's certificate; "-": none.
    TillRun till(const QStringList& arguments, const QString& config = QString(),
                 const QString& caFile = QString()) const
    {
        QProcess process;
        QStringList all = {"--config", config.isEmpty() ? writeConfig("till.conf") : config};
        if (caFile != "-") {
            all << "--ca-file" << (caFile.isEmpty() ? directory.filePath("sandbox.pem") : caFile);
        }
        all << arguments;
        process.start(TILL_EXECUTABLE, all);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    QJsonObject get(const QString& path) const
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(2, QUrl(root + path), QJsonDocument(), {});
        return client.jsonAnswer().object();
    }

    QJsonArray ledger() const { return get("/_sandbox/ledger").value("payments").toArray(); }

    QJsonObject payment(const QString& id) const
    {
        for (const QJsonValue& value : ledger()) {
            if (value.toObject().value("payment_id").toString() == id) {
                return value.toObject();
            }
        }
        return {};
    }

    QJsonObject stats() const { return get("/_sandbox/stats"); }

    void control(const QString& path, const QJsonObject& body) const
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(4, QUrl(root + path), QJsonDocument(body), {});
        EXPECT_EQ(client.error(), 0) << path.toStdString();
    }

    /// `after` requests of `operation` pass, then `count` meet `fault` (-1: every one).
    void injectFault(const QString& operation, const QString& fault, int count, int after = 0) const
    {
        control("/_sandbox/faults",
                {{"operation", operation}, {"fault", fault}, {"count", count}, {"after", after}});
    }

    void resetFaults() const
    {
        // Queued faults that were not used up would meet the next case.
        RestClient client;
        client.setTimeout(5000);
        client.send(5, QUrl(root + "/_sandbox/faults"), QJsonDocument(), {});
        EXPECT_EQ(client.error(), 0);
    }

    QString sale(const QString& token, const QString& amount = "15.00") const
    {
        const TillRun run = till({"--json", "sale", "--amount", amount, "--token", token});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return run.json().value("rrn").toString();
    }

    QTemporaryDir directory;
    QProcess sandbox;
    QString root;
};

/// Polls until `done` holds; false after `limitMs`.
template <typename Condition> bool waitUntil(Condition done, int limitMs = 20000)
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

/// One sandbox per test suite, a till process per command.
class TillEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        site = new SandboxSite;
        ASSERT_TRUE(site->started());
        directory = &site->directory;
        sandbox = &site->sandbox;
        root = site->root;
    }

    static void TearDownTestSuite()
    {
        delete site;
        site = nullptr;
    }

    static QString writeConfig(const QString& name, const QByteArray& extra = {})
    {
        return site->writeConfig(name, extra);
    }
    static QString journalPath(const QString& config) { return site->journalPath(config); }
    static TillRun till(const QStringList& arguments, const QString& config = QString(),
                        const QString& caFile = QString())
    {
        return site->till(arguments, config, caFile);
    }
    static QJsonArray ledger() { return site->ledger(); }
    static QJsonObject payment(const QString& id) { return site->payment(id); }
    static QJsonObject stats() { return site->stats(); }
    static void control(const QString& path, const QJsonObject& body) { site->control(path, body); }
    static void injectFault(const QString& operation, const QString& fault, int count,
                            int after = 0)
    {
        site->injectFault(operation, fault, count, after);
    }
    static void resetFaults() { site->resetFaults(); }
    static QString sale(const QString& token, const QString& amount = "15.00")
    {
        return site->sale(token, amount);
    }

    static inline SandboxSite* site = nullptr;
    static inline QTemporaryDir* directory = nullptr;
    static inline QProcess* sandbox = nullptr;
    static inline QString root;
};

} // namespace tilltest
