// The plug-in as a shop runs it: loaded by QPluginLoader, its configuration file
// relocated under STROVA_ROOT, talking HTTPS to the sandbox.
#include "basicpaymentprocessing.h"
#include "sandboxfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPluginLoader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PluginEndToEnd, SaleFiscalLinkPartialRefundAndCancel)
{
    testsupport::RunningSandbox sandbox;
    QTemporaryDir root;
    const QString conf = root.filePath("pomerin/cash/paysystems/oxlenpay/oxlenpay.conf");
    QDir().mkpath(QFileInfo(conf).absolutePath());
    QFile file(conf);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[OxlenPay]\nhost = " + sandbox.rootUrl().toUtf8() +
               "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
               "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
               "frequency = 20\npayDuration = 3000\ntimeout = 3000\npaymentProvider = 161\n"
               "journal = " +
               root.filePath("journal.sqlite").toUtf8() + "\n");
    file.close();
    qputenv("STROVA_ROOT", root.path().toUtf8());

    QPluginLoader loader(PLUGIN_PATH);
    delete loader.instance(); // a fresh object reads the configuration above
    auto* processing = qobject_cast<BasicPaymentProcessing*>(loader.instance());
    ASSERT_NE(processing, nullptr) << loader.errorString().toStdString();
    auto ledger = [&] {
        return sandbox.api().ledgerJson().value("payments").toArray().first().toObject();
    };

    PaymentProcessingRequest sale;
    sale.type = PaymentProcessingRequest::Sale;
    sale.sum = 1500;
    sale.token = "settle-2";
    sale.currencyCode = 398;
    const PaymentProcessingAnswer paid = processing->payment(sale);
    ASSERT_TRUE(paid.isSuccess()) << paid.getMessage().ru().toStdString();
    EXPECT_EQ(paid.getRRN(), ledger().value("payment_id").toString());
    EXPECT_EQ(paid.getTerminalId(), "5001");
    EXPECT_EQ(paid.getAdditionalInfo().value("phone").toString(),
              ledger().value("client_phone_number").toString());
    EXPECT_EQ(ledger().value("polls").toInt(), 2);

    const QVariantMap message{
        {"messagetype", "sendofddata"},
        {"payload", QVariantMap{{"rrn", paid.getRRN()},
                                {"fiscalData", QVariantMap{{"qr", "https://ofd.example/r?i=9"}}}}}};
    EXPECT_TRUE(processing->sendEnqueuedMessage(message));
    EXPECT_EQ(ledger().value("fiscal_url").toString(), "https://ofd.example/r?i=9");

    PaymentProcessingRequest refund;
    refund.type = PaymentProcessingRequest::Refund;
    refund.rrn = paid.getRRN();
    refund.sum = 400;
    refund.originalSum = 1500;
    const PaymentProcessingAnswer partial = processing->payment(refund);
    EXPECT_TRUE(partial.isSuccess()) << partial.getMessage().ru().toStdString();
    EXPECT_EQ(ledger().value("payment_status").toString(), "PARTIAL_CANCELLED");
    EXPECT_EQ(ledger().value("rest").toInt(), 1100);

    PaymentProcessingRequest cancel;
    cancel.type = PaymentProcessingRequest::Sale;
    cancel.rrn = paid.getRRN();
    const PaymentProcessingAnswer cancelled = processing->cancel(cancel);
    EXPECT_TRUE(cancelled.isSuccess()) << cancelled.getMessage().ru().toStdString();
    EXPECT_EQ(ledger().value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(ledger().value("rest").toInt(), 0);
    EXPECT_EQ(cancelled.getAdditionalInfo().value("rrn").toString(), paid.getRRN());

    const PaymentProcessingAnswer again = processing->cancel(cancel);
    EXPECT_FALSE(again.isSuccess()) << "nothing left to reverse";
    EXPECT_EQ(again.getCode(), 1012);
    EXPECT_EQ(sandbox.api().ledgerJson().value("payments").toArray().size(), 1);
    qunsetenv("STROVA_ROOT");
}

} // namespace
