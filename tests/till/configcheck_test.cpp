// The mistakes a shop's configuration file can hold, each found with its line.
#include "configcheck.h"

#include <gtest/gtest.h>

namespace {

const QByteArray Clean = "[OxlenPay]\n"
                         "host = https://api.oxlenpay.example\n"
                         "merchantId = till-01\n"
                         "merchantServiceId = 5001\n"
                         "merchantServiceUserId = merchant-user\n"
                         "merchantSecretKey = k\n";

QStringList found(const QByteArray& content)
{
    QStringList lines;
    for (const till::ConfigFinding& finding : till::checkConfig(content)) {
        lines << QString("%1: %2%3")
                     .arg(finding.line)
                     .arg(finding.warning ? "warning: " : "", finding.text);
    }
    return lines;
}

TEST(ConfigCheck, EachMistakeIsNamedWithItsLine)
{
    struct Case {
        const char* name;
        QByteArray extra; // appended to a clean file, from line 7 on
        QStringList expected;
    };
    // clang-format off
    const Case cases[] = {
        {"a clean file", "; a comment\n\ntimeout = 10000\n", {}},
        {"misspelt keys", "frequncy = 1000\nmerchantID = x\nzzz = 1\n",
         {"7: unknown key frequncy (did you mean frequency?)",
          "8: unknown key merchantID (did you mean merchantId?)", "9: unknown key zzz"}},
        {"a number with a unit", "timeout = 10s\n",
         {"7: timeout = 10s is not a whole number: the default is used instead"}},
        {"values the plug-in takes all the same", "frequency = 20\nreverseUnknown = 2\njournalDays = 0\n",
         {"7: warning: frequency = 20 is outside 500 to 60000: the plug-in uses it: a status poll every 20 ms (below 500: fit only for tests, it warns at start; below 0: polls back to back)",
          "8: warning: reverseUnknown = 2 is outside 0 to 1: the plug-in reads any value but 0 as 1: a sale of unknown outcome is reversed",
          "9: warning: journalDays = 0 is outside 1 to 3650: the plug-in takes it: settled entries are kept that many days (below 1: 7 days, and it warns)"}},
        {"a service id the provider cannot know", "merchantServiceId = 0\n",
         {"7: warning: merchantServiceId is set again (first on line 4): the last one wins",
          "7: merchantServiceId = 0 is outside 1 to 9223372036854775807"}},
        {"a host whose path is replaced", "path = /api\nhost = https://api.oxlenpay.example/v2/\n",
         {"8: warning: host is set again (first on line 2): the last one wins",
          "8: warning: host = https://api.oxlenpay.example/v2/ carries the path /v2/, which path (/api) replaces: requests go to https://api.oxlenpay.example/api; put the whole path in path"}},
        {"a host whose path leads the path", "path = v2/pay\nhost = https://api.oxlenpay.example/v2/\n",
         {"8: warning: host is set again (first on line 2): the last one wins"}},
        {"plain http to another machine", "host = http://api.oxlenpay.example\n",
         {"7: warning: host is set again (first on line 2): the last one wins",
          "7: host = http://api.oxlenpay.example is not https: the plug-in refuses it"}},
        {"plain http on this machine", "host = http://127.0.0.1:8443\n",
         {"7: warning: host is set again (first on line 2): the last one wins"}},
        {"an empty secret", "merchantSecretKey =\n",
         {"7: warning: merchantSecretKey is set again (first on line 6): the last one wins",
          "7: merchantSecretKey is empty"}},
        {"the example's placeholder secret", "merchantSecretKey = change-me\n",
         {"7: warning: merchantSecretKey is set again (first on line 6): the last one wins",
          "7: merchantSecretKey is still the example's placeholder: write the key the provider issued"}},
        {"a relative path", "path = /api\n", {}},
        {"a key set twice", "timeout = 1000\ntimeout = 2000\n",
         {"8: warning: timeout is set again (first on line 7): the last one wins"}},
        {"a path naming a host", "path = //evil.example/api\n",
         {"7: path = //evil.example/api names a host of its own: the plug-in refuses it; give only the path, such as /api/quindo-pay/merchant"}},
        {"a line that is no setting", "timeout\n", {"7: \"timeout\" is not a \"key = value\" line"}},
        {"a user id that would end its header", "merchantServiceUserId = user\x1b[2Jx\n",
         {"7: warning: merchantServiceUserId is set again (first on line 5): the last one wins",
          "7: merchantServiceUserId holds a control character: the plug-in sends nothing with it, since it would end the Authorization header"}},
        {"keys in another section", "[Other]\ntimeout = 1\n",
         {"8: timeout is outside [OxlenPay] and is not read"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(found(Clean + c.extra), c.expected);
    }
}

TEST(ConfigCheck, AWrongSectionNameReadsNothing)
{
    QByteArray wrong = Clean;
    wrong.replace("[OxlenPay]", "[Oxlenpay]");
    EXPECT_EQ(found(wrong),
              QStringList({"1: section [Oxlenpay] is not [OxlenPay]: section names are "
                           "case-sensitive, none of its keys is read",
                           "0: merchantId is missing from [OxlenPay]",
                           "0: merchantServiceId is missing from [OxlenPay]",
                           "0: merchantServiceUserId is missing from [OxlenPay]",
                           "0: merchantSecretKey is missing from [OxlenPay]"}));
}

} // namespace
