#include "config.h"
#include "logcapture.h"
#include "singleton.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        qunsetenv("STROVA_ROOT");
    }
    void TearDown() override { qunsetenv("STROVA_ROOT"); }

    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = root.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        return path;
    }

    // Moves the modification time so a rewrite within the same millisecond is noticed.
    void touch(const QString& path, int secondsAhead)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(secondsAhead),
                                     QFileDevice::FileModificationTime));
    }

    QTemporaryDir root;
    testsupport::LogCapture log;
};

TEST_F(ConfigTest, DefaultsWithoutAnyFile)
{
    Config config;
    EXPECT_FALSE(config.loadFile(root.filePath("missing.conf"), QString()));
    EXPECT_EQ(config.getInt("OxlenPay:timeout", 10000), 10000);
    EXPECT_TRUE(config.getString("OxlenPay:merchantId").isNull());
    EXPECT_EQ(config.getString("OxlenPay:path", "/api"), "/api");
    EXPECT_EQ(log.of("strova.config").size(), 1);
    EXPECT_TRUE(log.of("strova.config").first().contains("missing.conf"));
}

TEST_F(ConfigTest, ReadsSectionsValuesAndComments)
{
    const QString path = write("a.conf", "; comment\n"
                                         "# another\n"
                                         "top = level\n"
                                         "[OxlenPay]\n"
                                         "timeout = 2500\n"
                                         "host=https://pay.example.test:8443/x, y\n"
                                         "merchantId =  \"  spaced  \" \n"
                                         "empty =\n"
                                         "key = a=b\n"
                                         "[Other]\n"
                                         "timeout = 7\n"
                                         "name = Значение\r\n");
    Config config;
    EXPECT_TRUE(config.loadFile(path, QString()));
    EXPECT_EQ(config.getInt("OxlenPay:timeout", 1), 2500);
    EXPECT_EQ(config.getInt("Other:timeout", 1), 7);
    EXPECT_EQ(config.getString("top"), "level");
    EXPECT_EQ(config.getString("OxlenPay:host"), "https://pay.example.test:8443/x, y")
        << "commas stay in the value";
    EXPECT_EQ(config.getString("OxlenPay:merchantId"), "  spaced  ");
    EXPECT_EQ(config.getString("OxlenPay:empty", "default"), "") << "present but empty";
    EXPECT_EQ(config.getString("OxlenPay:key"), "a=b");
    EXPECT_EQ(config.getString("Other:name"), "Значение");
    EXPECT_TRUE(log.of("strova.config").isEmpty());
}

TEST_F(ConfigTest, IntegersOutsideTheRangeOrNotWholeGiveTheDefault)
{
    const QString path = write("n.conf", "[N]\nbig = 2147483648\nmax = 2147483647\n"
                                         "min = -2147483648\nletters = 12ab\nfraction = 1.5\n"
                                         "blank = \nspaced =  42 \n");
    Config config;
    config.loadFile(path, QString());
    EXPECT_EQ(config.getInt("N:big", -1), -1);
    EXPECT_EQ(config.getInt("N:max", -1), 2147483647);
    EXPECT_EQ(config.getInt("N:min", -1), INT_MIN);
    EXPECT_EQ(config.getInt("N:letters", -1), -1);
    EXPECT_EQ(config.getInt("N:fraction", -1), -1);
    EXPECT_EQ(config.getInt("N:blank", -1), -1);
    EXPECT_EQ(config.getInt("N:spaced", -1), 42);
}

TEST_F(ConfigTest, MalformedLinesAreSkippedWithFileAndLine)
{
    const QString path = write("bad.conf", "[OxlenPay\n"
                                           "timeout = 5\n"
                                           "just text\n"
                                           "= value\n"
                                           "quoted = \"open\n"
                                           "[OxlenPay]\n"
                                           "frequency = 9\n"
                                           "host:x = y\n");
    Config config;
    config.loadFile(path, QString());
    EXPECT_EQ(config.getInt("OxlenPay:frequency", 0), 9);
    EXPECT_EQ(config.getInt("timeout", 0), 5) << "a broken header leaves the earlier section";
    const QStringList lines = log.of("strova.config");
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].contains(path + ":1:"));
    EXPECT_TRUE(lines[1].contains(path + ":3:"));
    EXPECT_TRUE(lines[2].contains(path + ":4:"));
    EXPECT_TRUE(lines[3].contains(path + ":5:"));
    EXPECT_TRUE(lines[4].contains(path + ":8:")) << "a name with ':' would make keys ambiguous";
    EXPECT_TRUE(config.getString("OxlenPay:host:x").isNull());
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith("WARN "));
    }
}

TEST_F(ConfigTest, AbsolutePathsAreRelocatedUnderStrovaRoot)
{
    write("pomerin/cash/paysystems/oxlenpay/oxlenpay.conf", "[OxlenPay]\nmerchantId = till-7\n");
    qputenv("STROVA_ROOT", root.path().toUtf8());
    Config config;
    EXPECT_TRUE(config.loadFile("/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf", QString()));
    EXPECT_EQ(config.getString("OxlenPay:merchantId"), "till-7");
    EXPECT_EQ(Config::relocated("relative/file"), "relative/file");
}

TEST_F(ConfigTest, LaterFilesWinAndPrefixesSeparate)
{
    const QString first = write("1.conf", "[S]\na = 1\nb = 1\n");
    const QString second = write("2.conf", "[S]\nb = 2\n");
    Config config;
    config.loadFile(first, QString());
    config.loadFile(second, QString());
    config.loadFile(second, "P.");
    EXPECT_EQ(config.getInt("S:a", 0), 1);
    EXPECT_EQ(config.getInt("S:b", 0), 1) << "reloading a file replaces its earlier load";
    EXPECT_EQ(config.getInt("P.S:b", 0), 2);
}

TEST_F(ConfigTest, SeesChangesOnDiskWithoutReload)
{
    const QString path = write("live.conf", "[OxlenPay]\npaymentProvider = 161\n");
    Config config;
    config.loadFile(path, QString());
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 161);

    write("live.conf", "[OxlenPay]\npaymentProvider = 777\n");
    touch(path, 5);
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 777);

    QFile::remove(path);
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 777) << "a vanished file keeps values";
    write("live.conf", "[OxlenPay]\npaymentProvider = 5\n");
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 5);
    // An editor's save: a new file renamed over the old one, of the same size.
    const QString saved = write("live.conf.new", "[OxlenPay]\npaymentProvider = 6\n");
    ASSERT_EQ(::rename(QFile::encodeName(saved).constData(), QFile::encodeName(path).constData()),
              0);
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 6);
    write("live.conf", "[OxlenPay]\npaymentProvider = 7\n"); // then written in place
    touch(path, 9);
    EXPECT_EQ(config.getInt("OxlenPay:paymentProvider", 0), 7);
}

TEST_F(ConfigTest, MissingFileIsPickedUpWhenItAppears)
{
    Config config;
    const QString path = root.filePath("later.conf");
    config.loadFile(path, QString());
    EXPECT_EQ(config.getString("S:k", "none"), "none");
    write("later.conf", "[S]\nk = here\n");
    EXPECT_EQ(config.getString("S:k", "none"), "here");
}

TEST_F(ConfigTest, RedirectReadsAnotherFile)
{
    const QString own = write("own.conf", "[OxlenPay]\ntimeout = 1234\n");
    Config config;
    config.redirect("/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf", own);
    config.loadFile("/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf", QString());
    EXPECT_EQ(config.getInt("OxlenPay:timeout", 0), 1234);
}

TEST(ConfigSingleton, HoldsOneInstanceAndStaticListsStartEmpty)
{
    EXPECT_EQ(Singleton<Config>::instance, nullptr);
    auto* config = new Config;
    Singleton<Config>::instance = config;
    EXPECT_EQ(Singleton<Config>::instance, config);
    Singleton<Config>::instance = nullptr;
    delete config;
    EXPECT_TRUE(Config::configDirectoriesPathList.isEmpty());
    EXPECT_TRUE(Config::configFilesPathList.isEmpty());
    EXPECT_TRUE(Config::additionalPathList.isEmpty());
}

} // namespace
