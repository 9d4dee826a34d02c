#include <QProcess>

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

} // namespace
