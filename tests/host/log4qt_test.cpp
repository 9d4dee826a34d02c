#include "logcapture.h"

#include <log4qt/logger.h>
#include <log4qt/logmanager.h>

#include <QLoggingCategory>

#include <gtest/gtest.h>

namespace {

TEST(Log4QtFacade, OneLoggerPerName)
{
    Log4Qt::Logger* first = Log4Qt::LogManager::logger("oxlenpay", QString());
    EXPECT_EQ(first, Log4Qt::LogManager::logger("oxlenpay"));
    EXPECT_NE(first, Log4Qt::LogManager::logger("other"));
    EXPECT_EQ(first->name(), "oxlenpay");
}

TEST(Log4QtFacade, LinesReachTheMessageHandlerWithLevelAndCategory)
{
    testsupport::LogCapture capture;
    Log4Qt::Logger* logger = Log4Qt::LogManager::logger("facade.test", QString());
    logger->info("Оплата на сумму %1", "15.00");
    logger->info("просто");
    logger->warn("Данные переданы на сервер, но ответ не был получен");
    logger->error("Сервер вернул сообщение об ошибке: %1", QString::fromUtf8("Нет денег"));
    logger->error(QString::fromUtf8("Ошибка %1 без аргумента"));
    logger->error("one");

    const QStringList lines = capture.of("facade.test");
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QString::fromUtf8("INFO Оплата на сумму 15.00"));
    EXPECT_EQ(lines[1], QString::fromUtf8("INFO просто"));
    EXPECT_EQ(lines[2],
              QString::fromUtf8("WARN Данные переданы на сервер, но ответ не был получен"));
    EXPECT_EQ(lines[3], QString::fromUtf8("ERROR Сервер вернул сообщение об ошибке: Нет денег"));
    EXPECT_EQ(lines[4], QString::fromUtf8("ERROR Ошибка %1 без аргумента"))
        << "a QString line is written as it is";
    EXPECT_EQ(lines[5], "ERROR one");
}

TEST(Log4QtFacade, LoggingRulesFilterLines)
{
    testsupport::LogCapture capture;
    QLoggingCategory::setFilterRules("filtered.test.info=false");
    Log4Qt::Logger* logger = Log4Qt::LogManager::logger("filtered.test");
    logger->info("hidden");
    logger->warn("shown");
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(capture.of("filtered.test"), QStringList{"WARN shown"});
}

} // namespace
