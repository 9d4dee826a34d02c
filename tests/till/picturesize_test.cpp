#include "picturesize.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = char((data.size() >> (24 - 8 * i)) & 0xff);
    }
    return bytes + type + data + QByteArray(4, '\0'); // the CRC is not read
}

QByteArray png(quint32 width, quint32 height, char colourType, const QByteArray& more = {})
{
    QByteArray header;
    for (quint32 value : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header += char((value >> shift) & 0xff);
        }
    }
    header += QByteArray("\x08") + colourType + QByteArray(3, '\0');
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + more + chunk("IDAT", "x") +
           chunk("IEND", {});
}

TEST(PngPicture, SizeAndTransparencyFromTheHeaderAlone)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        int width, height;
        bool alpha;
    };
    const Case cases[] = {
        {"rgba", png(453, 350, 6), 453, 350, true},
        {"rgb", png(2, 3, 2), 2, 3, false},
        {"palette with tRNS", png(16, 16, 3, chunk("PLTE", "abc") + chunk("tRNS", "\x00")), 16, 16,
         true},
        {"tRNS after IDAT does not count", png(16, 16, 3) + chunk("tRNS", "\x00"), 16, 16, false},
        {"zero width", png(0, 3, 6), -1, -1, false},
        {"cut short", png(453, 350, 6).left(20), -1, -1, false},
        {"not a PNG", "GIF89a and some more bytes here", -1, -1, false},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile file(dir.filePath("picture"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        QString problem;
        const PngPicture picture = readPngPicture(file.fileName(), &problem);
        EXPECT_EQ(picture.size.width(), c.width);
        EXPECT_EQ(picture.size.height(), c.height);
        EXPECT_EQ(picture.alpha, c.alpha);
        EXPECT_EQ(problem.isEmpty(), c.width > 0);
    }
    QString problem;
    EXPECT_FALSE(readPngPicture(dir.filePath("missing"), &problem).size.isValid());
    EXPECT_TRUE(problem.startsWith("cannot read"));
}

} // namespace
