#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(SandboxProcess, PrintsItsBaseUrlFirstAndStopsOnSignal)
{
    for (int signal : {SIGINT, SIGTERM}) {
        QProcess process;
        process.start(SANDBOX_EXECUTABLE, {"--port", "0", "--http", "--quiet"});
        ASSERT_TRUE(process.waitForStarted(5000));
        ASSERT_TRUE(process.waitForReadyRead(5000));
        const QString first = QString::fromUtf8(process.readLine()).trimmed();
        EXPECT_TRUE(first.startsWith("http://127.0.0.1:")) << first.toStdString();
        EXPECT_TRUE(first.endsWith("/api/quindo-pay/merchant")) << first.toStdString();
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST(SandboxProcess, RefusesBadOptions)
{
    QProcess process;
    process.start(SANDBOX_EXECUTABLE, {"--port", "70000"});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("not a valid number"));
}

TEST(SandboxProcess, EveryOptionErrorNamesWhatIsWrong)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* named;
    };
    // clang-format off
    const Case cases[] = {
        {{"--port", "99999"}, 2, "--port 99999"},
        {{"--port", "0", "--settle-after", "many"}, 2, "--settle-after many"},
        {{"--port", "0", "--cert", "/nonexistent/cert.pem", "--key", "/nonexistent/key.pem"}, 1,
         "/nonexistent/cert.pem"},
        {{"--port", "0", "--host", "not-an-address"}, 1, "--host not-an-address"},
        {{"--port", "0", "--http", "--host", "0.0.0.0"}, 1, "loopback address only, not --host 0.0.0.0"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(SANDBOX_EXECUTABLE, c.arguments);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE(process.readAllStandardError().contains(c.named));
    }
}

TEST(SandboxProcess, APortInUseIsNamed)
{
    QProcess first;
    first.start(SANDBOX_EXECUTABLE, {"--http", "--port", "0", "--quiet"});
    ASSERT_TRUE(first.waitForReadyRead(10000));
    const int port = QUrl(QString::fromUtf8(first.readLine().trimmed())).port();
    ASSERT_GT(port, 0);
    QProcess second;
    second.start(SANDBOX_EXECUTABLE, {"--http", "--port", QString::number(port)});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("port " + QByteArray::number(port)));
    first.kill();
    first.waitForFinished(5000);
}

} // namespace
