#include "amount.h"

#include <gtest/gtest.h>

namespace {

TEST(Amount, ExactHundredths)
{
    struct Case {
        const char* text;
        qint32 hundredths;
    };
    for (const Case& c :
         {Case{"15", 1500}, Case{"15.5", 1550}, Case{"15.50", 1550}, Case{"0.01", 1},
          Case{"0.1", 10}, Case{"007.05", 705}, Case{"21474836.47", 2147483647}}) {
        qint32 value = 0;
        QString error;
        EXPECT_TRUE(till::parseAmount(c.text, &value, &error)) << c.text;
        EXPECT_EQ(value, c.hundredths) << c.text;
    }
}

TEST(Amount, RefusedWithAReason)
{
    for (const char* text : {"", "abc", "15,50", "1.234", "-5", "+5", "1e3", " 15", "15.", ".5",
                             "21474836.48", "999999999999", "0", "0.00", "15.00\n", "15\n"}) {
        qint32 value = 77;
        QString error;
        EXPECT_FALSE(till::parseAmount(text, &value, &error)) << text;
        EXPECT_EQ(value, 77) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
}

TEST(Amount, Formatting)
{
    EXPECT_EQ(till::formatAmount(1550), "15.50");
    EXPECT_EQ(till::formatAmount(5), "0.05");
    EXPECT_EQ(till::formatAmount(-250), "-2.50");
}

} // namespace
