#include "tr.h"

#include <gtest/gtest.h>

namespace {

TEST(Tr, EmptyEqualityAndArguments)
{
    EXPECT_TRUE(tr::Tr().isEmpty());
    EXPECT_TRUE(tr::Tr("", "").isEmpty());
    EXPECT_FALSE(tr::Tr("undefined", "").isEmpty()) << "a key alone is a text";
    EXPECT_EQ(tr::Tr("k", "t"), tr::Tr("k", "t"));
    EXPECT_NE(tr::Tr("k", "t"), tr::Tr("k", "T"));
    EXPECT_NE(tr::Tr("k", "t"), tr::Tr("K", "t"));

    tr::Tr status("restClientHttpStatus", "Ошибка HTTP %1");
    status.arg("503");
    EXPECT_EQ(status.ru(), QString::fromUtf8("Ошибка HTTP 503"));
    EXPECT_EQ(status.key(), "restClientHttpStatus");
    EXPECT_NE(status, tr::Tr("restClientHttpStatus", "Ошибка HTTP %1"));

    tr::Tr copy = status;
    EXPECT_EQ(copy, status);
    copy = tr::Tr();
    EXPECT_TRUE(copy.isEmpty());
}

} // namespace
