#include "picturesize.h"

#include <QFile>

namespace {

quint32 bigEndian(const QByteArray& bytes, int at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i) {
        value = (value << 8) | quint8(bytes[at + i]);
    }
    return value;
}

} // namespace

PngPicture readPngPicture(const QString& path, QString* problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = "cannot read: " + file.errorString();
        return {};
    }
    // The signature, then the IHDR chunk: length, "IHDR", width, height, bit depth, colour type.
    const QByteArray head = file.read(26);
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    const quint32 width = head.size() == 26 ? bigEndian(head, 16) : 0;
    const quint32 height = head.size() == 26 ? bigEndian(head, 20) : 0;
    if (!head.startsWith(signature) || head.mid(12, 4) != "IHDR" || width == 0 || height == 0 ||
        width > 0x7fffffff || height > 0x7fffffff) {
        *problem = "not a PNG picture";
        return {};
    }
    PngPicture picture;
    picture.size = QSize(int(width), int(height));
    const int colourType = quint8(head[25]);
    picture.alpha = colourType == 4 || colourType == 6;
    // Palette and plain colours may still be transparent: a tRNS chunk comes before IDAT.
    qint64 chunk = 8 + 8 + bigEndian(head, 8) + 4;
    while (!picture.alpha && file.seek(chunk)) {
        const QByteArray header = file.read(8);
        if (header.size() < 8 || header.mid(4) == "IDAT" || header.mid(4) == "IEND") {
            break;
        }
        picture.alpha = header.mid(4) == "tRNS";
        chunk += 8 + qint64(bigEndian(header, 0)) + 4;
    }
    return picture;
}
