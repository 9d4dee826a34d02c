// The README's table of message keys against every key the code can give a host, both ways.
#include "messages.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

TEST(MessageKeys, TheReadmesTableNamesEveryKeyTheCodeGivesAndNoOther)
{
    const QString root = QStringLiteral(OXLENPAY_SOURCE_DIR);
    // The client's texts, the provider's own words, and the texts the front and our stand-in
    // of the host's REST client choose. The scan dialog's texts are no answer's message, and
    // the unsupported operations are one row, by their common prefix.
    const QStringList ours = oxlenpay::messages::keys();
    QSet<QString> code(ours.begin(), ours.end());
    code << "undefined";
    static const QRegularExpression chosen(R"(tr::Tr\("([A-Za-z]+)\")");
    for (const char* folder : {"plugin", "host/network"}) {
        QDirIterator files(root + '/' + QString(folder), {"*.cpp", "*.h"}, QDir::Files);
        while (files.hasNext()) {
            auto found = chosen.globalMatch(readFile(files.next()));
            while (found.hasNext()) {
                const QString key = found.next().captured(1);
                if (!key.startsWith("oxlenPayScan") && !key.startsWith("basicPaymentProcessing")) {
                    code << key;
                }
            }
        }
    }
    QSet<QString> readme;
    static const QRegularExpression row(
        R"(^\| `([A-Za-z]+)` \|.*\| (APPROVED|DECLINED|UNKNOWN) \|)",
        QRegularExpression::MultilineOption);
    auto rows = row.globalMatch(readFile(root + "/README.md"));
    while (rows.hasNext()) {
        readme << rows.next().captured(1);
    }
    EXPECT_EQ(QStringList((code - readme).values()), QStringList()) << "missing from the README";
    EXPECT_EQ(QStringList((readme - code).values()), QStringList()) << "no code gives them";
}

} // namespace
