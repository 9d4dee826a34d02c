// The built libProcessingOxlenPay.so, loaded through Qt's own plug-in loader.
#include "basicpaymentprocessing.h"
#include "unavailableoperations.h"

#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QPluginLoader>
#include <QProcess>

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

QByteArray elfSection(const QString& path, const char* name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray image = file.readAll();
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.constData());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.constData() + header->e_shoff);
    const char* names = image.constData() + sections[header->e_shstrndx].sh_offset;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (std::strcmp(names + sections[i].sh_name, name) == 0) {
            return image.mid(int(sections[i].sh_offset), int(sections[i].sh_size));
        }
    }
    return {};
}

class PluginLoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        loader = new QPluginLoader(PLUGIN_PATH);
        ASSERT_TRUE(loader->load()) << loader->errorString().toStdString();
    }
    static QPluginLoader* loader;
};

QPluginLoader* PluginLoaderTest::loader = nullptr;

TEST_F(PluginLoaderTest, MetadataBlock)
{
    const QJsonObject metadata = loader->metaData();
    EXPECT_EQ(metadata.value("IID").toString(), "OxlenPay");
    EXPECT_EQ(metadata.value("className").toString(), "OxlenPay");
    EXPECT_FALSE(metadata.contains("MetaData"));

    const QByteArray expected = QByteArray("QTMETADATA !", 12) +
                                QByteArray::fromHex("00050C00BF02684F786C656E50617903684F786C656E"
                                                    "506179FF");
    ASSERT_EQ(expected.size(), 38);
    EXPECT_EQ(elfSection(PLUGIN_PATH, ".qtmetadata").toHex(), expected.toHex());
}

TEST_F(PluginLoaderTest, OneLiveInstanceAndANewOneAfterDeletion)
{
    QObject* first = loader->instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(loader->instance(), first);
    delete first;
    QObject* second = loader->instance();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(loader->instance(), second);
}

TEST_F(PluginLoaderTest, InterfaceCasts)
{
    QObject* object = loader->instance();
    auto* processing = qobject_cast<BasicPaymentProcessing*>(object);
    ASSERT_NE(processing, nullptr);
    EXPECT_NE(static_cast<void*>(processing), static_cast<void*>(object));
    EXPECT_EQ(object->qt_metacast("StrovaPaymentProcessing/1.0"), static_cast<void*>(processing));
    EXPECT_EQ(object->qt_metacast("BasicPaymentProcessing"), static_cast<void*>(processing));
    EXPECT_EQ(object->qt_metacast("oxlenpay::OxlenPay"), static_cast<void*>(object));
    EXPECT_EQ(object->qt_metacast("QObject"), static_cast<void*>(object));
    EXPECT_EQ(object->qt_metacast("basicpaymentprocessing"), nullptr);
    EXPECT_EQ(object->qt_metacast(nullptr), nullptr);
    EXPECT_STREQ(object->metaObject()->className(), "oxlenpay::OxlenPay");
}

TEST_F(PluginLoaderTest, InheritedDefaultsThroughTheHostsPointer)
{
    auto* processing = qobject_cast<BasicPaymentProcessing*>(loader->instance());
    ASSERT_NE(processing, nullptr);
    for (const auto& op : testsupport::unavailableOperations()) {
        if (QByteArray(op.operation) == "payment" || QByteArray(op.operation) == "cancel") {
            continue; // the plug-in's own
        }
        SCOPED_TRACE(op.operation);
        const PaymentProcessingAnswer answer = op.call(*processing);
        EXPECT_FALSE(answer.isSuccess());
        EXPECT_EQ(answer.getMessage().key(), op.key);
        EXPECT_EQ(answer.getMessage().ru(), QString::fromUtf8(op.text));
    }
    EXPECT_TRUE(processing->isPaymentEnable(PaymentProcessingRequest::Sale));
    EXPECT_TRUE(processing->isPaymentEnable(PaymentProcessingRequest::Refund));
    EXPECT_FALSE(processing->isPaymentEnable(PaymentProcessingRequest::Cancel));
    EXPECT_TRUE(processing->isCancelEnable(PaymentProcessingRequest::Sale));
    EXPECT_FALSE(processing->isCancelEnable(PaymentProcessingRequest::Refund));
    EXPECT_TRUE(processing->checkOption(EPaymentProcessingOption::Option(0x4010)));
    EXPECT_TRUE(processing->checkOption(EPaymentProcessingOption::Option(0x20)));
    EXPECT_FALSE(processing->isCheckTotalsEnable());
    EXPECT_EQ(processing->getDialogScanMask(), ".*");
    EXPECT_EQ(processing->getValutCodeForGetHashedCardNumber(), -1);
    EXPECT_EQ(processing->getWaitPaymentStatusDuration(), 0);
    EXPECT_EQ(processing->getStatusRequestsInterval(), 1);
    EXPECT_FALSE(processing->interruptPayment());
    EXPECT_EQ(processing->getMessageInfo().size(), 3);
    EXPECT_EQ(processing->getMessageInfo().value(EPaymentProcessingInfo::DialogTitle).key(),
              "oxlenPayScanTitle");
    EXPECT_FALSE(processing->sendEnqueuedMessage({{"messagetype", "other"}}));
}

TEST_F(PluginLoaderTest, PictureLoadsFromTheResource)
{
    auto* processing = qobject_cast<BasicPaymentProcessing*>(loader->instance());
    ASSERT_NE(processing, nullptr);
    const QString path = processing->getDialogImagePath();
    EXPECT_EQ(path, ":/oxlenpay/scan_token.png");
    const QImage picture(path);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(453, 350));
    EXPECT_TRUE(picture.hasAlphaChannel());
}

TEST(PluginSymbols, EntryPointsAreExported)
{
    QProcess nm;
    nm.start("nm", {"-D", "--defined-only", "-C", PLUGIN_PATH});
    ASSERT_TRUE(nm.waitForFinished(10000));
    const QString symbols = QString::fromUtf8(nm.readAllStandardOutput());
    for (const char* name :
         {" T qt_plugin_instance\n", " T qt_plugin_query_metadata\n",
          " T qInitResources_oxlenpay()\n", " T qCleanupResources_oxlenpay()\n"}) {
        EXPECT_TRUE(symbols.contains(name)) << name;
    }
}

} // namespace
