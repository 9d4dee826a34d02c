#include "demo.h"

#include "amount.h"
#include "journalview.h"
#include "restclient.h"
#include "sandboxserver.h"
#include "settings.h"
#include "tilljournal.h"
#include "tilloperations.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace till {

namespace {

const char* const DemoQr = "https://ofd.example/receipt?fn=9960440300000001&i=1001&fp=2894031732";

void print(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Each sale in the journal is the ledger's payment with its transaction id, and the two
// agree on whether it was charged; nothing is left open.
QString journalMismatch(const QJsonArray& journal, const QJsonArray& payments)
{
    QHash<QString, QJsonObject> byTransaction;
    for (const QJsonValue& value : payments) {
        byTransaction.insert(value.toObject().value("transaction_id").toString(), value.toObject());
    }
    int sales = 0;
    for (const QJsonValue& value : journal) {
        const QJsonObject row = value.toObject();
        const QString state = row.value("state").toString();
        if (state != "done" && state != "declined" && state != "reversed") {
            return "the journal holds an entry not settled: " + row.value("id").toString();
        }
        if (row.value("operation").toString() != "sale") {
            continue;
        }
        ++sales;
        const QJsonObject payment = byTransaction.value(row.value("id").toString());
        const bool failed = payment.value("payment_status").toString() == "FAILED";
        if (payment.value("payment_id").toString() != row.value("paymentId").toString() ||
            failed != (state == "declined")) {
            return "the journal and the ledger disagree on the sale " + row.value("id").toString();
        }
    }
    return sales == payments.size() ? QString() : "the ledger holds a sale the journal lacks";
}

} // namespace

Demo::Demo() = default;
Demo::~Demo() = default;

bool Demo::prepare(bool verbose, QString* error)
{
    m_root = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/oxlenpay-till-XXXXXX");
    if (!m_root->isValid()) {
        *error = "cannot create a temporary directory";
        return false;
    }
    sandbox::SandboxOptions options;
    options.tls = sandbox::SandboxOptions::Tls::SelfSigned;
    options.certificateOut = m_root->filePath("sandbox.pem");
    options.logRequests = verbose;
    m_sandbox = std::make_unique<sandbox::SandboxServer>(options);
    if (!m_sandbox->start(error)) {
        return false;
    }
    if (!RestClient::addTrustedCaFile(options.certificateOut)) {
        *error = "cannot trust the sandbox's certificate";
        return false;
    }
    const QString conf = m_root->filePath(QString(oxlenpay::settings::ConfigPath).mid(1));
    QDir().mkpath(QFileInfo(conf).absolutePath());
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = "cannot write " + conf;
        return false;
    }
    file.write("[OxlenPay]\n"
               "host = " +
               m_sandbox->rootUrl().toUtf8() +
               "\n"
               "path = " +
               options.basePath.toUtf8() +
               "\n"
               "merchantId = " +
               options.cashboxCode.toUtf8() +
               "\n"
               "merchantServiceId = " +
               QByteArray::number(options.serviceId) +
               "\n"
               "merchantServiceUserId = " +
               options.userId.toUtf8() +
               "\n"
               "merchantSecretKey = " +
               options.secretKey.toUtf8() +
               "\n"
               "timeout = 5000\n"
               "frequency = 500\n"
               "payDuration = 10000\n"
               "journal = " +
               QFileInfo(conf).absolutePath().toUtf8() + "/journal.sqlite\n");
    file.close();
    qputenv("STROVA_ROOT", m_root->path().toUtf8());
    return true;
}

bool Demo::run(TillOperations& till, bool json)
{
    QJsonArray steps;
    bool asExpected = true;
    auto step = [&](const QString& title, const Outcome& outcome, bool shouldSucceed) {
        asExpected &= outcome.success() == shouldSucceed;
        steps.append(outcome.json());
        if (!json) {
            print("\n# " + title + "\n" + outcome.receipt());
        }
    };
    if (!json) {
        print("Oxlen Pay demo against the sandbox at " + m_sandbox->baseUrl() + "\n");
    }

    const qint32 price = 1500;
    const Outcome sale = till.sale(price, "demo-wallet-token", 398);
    step("A sale of 15.00 that settles after two status polls", sale, true);
    const QString rrn = sale.answer.getRRN();

    step("Its fiscal receipt link", till.fiscal(rrn, DemoQr), true);
    step("A refund of 5.00 of it", till.refund(rrn, 500, price, 398), true);
    step("A cancel of the rest", till.cancel(rrn, price - 500, 398), true);
    step("A sale the customer declines in the wallet", till.sale(750, "decline", 398), false);

    const QJsonObject ledger = m_sandbox->api().ledgerJson();
    Outcome journal;
    QString mismatch;
    if (!journalListing(false, &journal, &mismatch) ||
        !(mismatch = journalMismatch(journal.customJson.value("entries").toArray(),
                                     ledger.value("payments").toArray()))
             .isEmpty()) {
        asExpected = false;
    }
    if (json) {
        print(QJsonDocument(QJsonObject{{"operation", "demo"},
                                        {"success", asExpected},
                                        {"steps", steps},
                                        {"ledger", ledger.value("payments")},
                                        {"journal", journal.customJson.value("entries")}})
                  .toJson(QJsonDocument::Indented));
    } else {
        print("\n" + ledgerText());
        print("\n" + journal.customReceipt);
        print(mismatch.isEmpty() ? "The journal agrees with the sandbox's ledger.\n"
                                 : "Mismatch: " + mismatch + "\n");
        print(asExpected ? "\nEvery step ended as expected.\n"
                         : "\nSome step did not end as expected.\n");
    }
    m_sandbox->stop();
    return asExpected;
}

QString Demo::ledgerText() const
{
    QString text = "==== SANDBOX LEDGER ====================\n";
    text += QString("  %1 %2 %3 %4 %5\n")
                .arg("payment id", -14)
                .arg("amount", 9)
                .arg("refunded", 9)
                .arg("status", -18)
                .arg("fiscal link");
    for (const QJsonValue& value : m_sandbox->api().ledgerJson().value("payments").toArray()) {
        const QJsonObject payment = value.toObject();
        text += QString("  %1 %2 %3 %4 %5\n")
                    .arg(payment.value("payment_id").toString(), -14)
                    .arg(formatAmount(payment.value("amount").toInt()), 9)
                    .arg(formatAmount(payment.value("refunded").toInt()), 9)
                    .arg(payment.value("payment_status").toString(), -18)
                    .arg(payment.value("fiscal_url").toString().isEmpty() ? "-" : "yes");
    }
    return text;
}

} // namespace till
