// What the till prints of a text from outside: visible escapes, cells no spreadsheet runs,
// words a shell takes as they are.
#include "printable.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ControlsBecomeVisibleAndNothingElseChanges)
{
    struct Case {
        QString text, printed, csv, shell;
    };
    const QList<Case> cases = {
        {"pay-100", "pay-100", "pay-100", "pay-100"},
        {"\x1b[2J", "\\x1b[2J", "\\x1b[2J", "'\x1b[2J'"},
        {"a\r\nb", "a\\x0d\\x0ab", "a\\x0d\\x0ab", "'a\r\nb'"},
        {QString::fromUtf8("x\u202ey\u0085"), "x\\u{202e}y\\u{0085}", "x\\u{202e}y\\u{0085}",
         QString::fromUtf8("'x\u202ey\u0085'")},
        {"=1+2", "=1+2", "'=1+2", "=1+2"},
        {"a,\"b\"", "a,\"b\"", "\"a,\"\"b\"\"\"", "'a,\"b\"'"},
        {"it's", "it's", "it's", "'it'\\''s'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(till::printable(c.text), c.printed);
        EXPECT_EQ(till::csvCell(c.text), c.csv);
        EXPECT_EQ(till::shellQuoted(c.text), c.shell);
    }
    EXPECT_EQ(till::csvCell("-2.50", true), "-2.50") << "an amount keeps its sign";
    EXPECT_EQ(till::printablePage("a\x1b\nb\n"), "a\\x1b\nb\n") << "the page's own breaks stay";
}

} // namespace
