#include "picturesize.h"

#include <QDataStream>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A chunk: length, type, data and a CRC the reader does not check.
QByteArray chunk(const char* type, const QByteArray& data)
{
    QByteArray length;
    QDataStream(&length, QIODevice::WriteOnly) << quint32(data.size());
    return length + type + data + QByteArray(4, '\0');
}

QByteArray png(quint32 width, quint32 height, quint8 colourType, const QByteArray& more = {})
{
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly)
        << width << height << quint8(8) << colourType << quint8(0) << quint8(0) << quint8(0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + more + chunk("IDAT", "x") +
           chunk("IEND", {});
}

TEST(PngPicture, SizeAndTransparencyFromTheHeaderAlone)
{
    struct Case {
        const char* name;
        QByteArray bytes; // null: no file at all
        int width, height;
        bool alpha;
    };
    const Case cases[] = {
        {"rgba", png(453, 350, 6), 453, 350, true},
        {"rgb", png(2, 3, 2), 2, 3, false},
        {"palette with tRNS", png(16, 16, 3, chunk("PLTE", "abc") + chunk("tRNS", "a")), 16, 16,
         true},
        {"tRNS after IDAT does not count", png(16, 16, 3) + chunk("tRNS", "a"), 16, 16, false},
        {"zero width", png(0, 3, 6), -1, -1, false},
        {"cut short", png(453, 350, 6).left(20), -1, -1, false},
        {"not a PNG", "GIF89a and some more bytes here", -1, -1, false},
        {"missing", QByteArray(), -1, -1, false},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile file(dir.filePath(QString::number(++n)));
        if (!c.bytes.isNull()) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.bytes);
            file.close();
        }
        QString problem;
        const PngPicture picture = readPngPicture(file.fileName(), &problem);
        EXPECT_EQ(picture.size, QSize(c.width, c.height));
        EXPECT_EQ(picture.alpha, c.alpha);
        EXPECT_EQ(problem.isEmpty(), c.width > 0) << problem.toStdString();
    }
}

} // namespace
