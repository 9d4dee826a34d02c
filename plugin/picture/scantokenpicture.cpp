// Draws scan_token.png, the picture of the token scan dialog: a hand holding a
// phone whose screen shows a QR code, flat colours on a light-blue ground.
//   scan-token-picture OUTPUT.png
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <qrencode.h>

#include <cstdio>

namespace {

const QColor Ground(0xD8, 0xEC, 0xFB);
const QColor GroundDeep(0xC3, 0xE0, 0xF7);
const QColor Skin(0xF3, 0xC4, 0x9E);
const QColor SkinShade(0xE2, 0xA7, 0x7E);
const QColor Sleeve(0x2F, 0x6F, 0xB8);
const QColor SleeveShade(0x25, 0x5C, 0x9C);
const QColor PhoneBody(0x26, 0x32, 0x38);
const QColor PhoneScreen(0x11, 0x1A, 0x21);
const QColor Paper(0xFF, 0xFF, 0xFF);
const QColor Ink(0x11, 0x1A, 0x21);
const QColor Accent(0x3D, 0xA5, 0xF4);

void drawQrCode(QPainter& painter, const QRectF& area)
{
    QRcode* code =
        QRcode_encodeString("OXLENPAY:TOKEN:4F2A-91C7-55E0", 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code) {
        return;
    }
    const int quiet = 2;
    const double module = area.width() / (code->width + 2 * quiet);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Ink);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if (code->data[y * code->width + x] & 1) {
                painter.drawRect(QRectF(area.left() + (x + quiet) * module,
                                        area.top() + (y + quiet) * module, module + 0.02,
                                        module + 0.02));
            }
        }
    }
    QRcode_free(code);
}

void drawPhone(QPainter& painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(PhoneBody);
    painter.drawRoundedRect(QRectF(160, 28, 148, 286), 24, 24);
    painter.setBrush(PhoneScreen);
    painter.drawRoundedRect(QRectF(169, 46, 130, 250), 14, 14);
    painter.setBrush(QColor(0x3A, 0x47, 0x4F));
    painter.drawRoundedRect(QRectF(214, 35, 40, 5), 2.5, 2.5);

    // The wallet's token on screen: a white card with the QR code and a bar above it.
    painter.setBrush(Accent);
    painter.drawRoundedRect(QRectF(184, 70, 100, 10), 5, 5);
    const QRectF card(180, 96, 108, 108);
    painter.setBrush(Paper);
    painter.drawRoundedRect(card, 8, 8);
    drawQrCode(painter, card.adjusted(4, 4, -4, -4));
    painter.setBrush(QColor(0x2A, 0x36, 0x3E));
    painter.drawRoundedRect(QRectF(192, 218, 84, 8), 4, 4);
    painter.drawRoundedRect(QRectF(204, 234, 60, 8), 4, 4);
}

void drawHandBehind(QPainter& painter)
{
    // Sleeve and wrist from the lower left.
    QPainterPath sleeve;
    sleeve.moveTo(40, 350);
    sleeve.lineTo(96, 262);
    sleeve.lineTo(170, 304);
    sleeve.lineTo(140, 350);
    sleeve.closeSubpath();
    painter.setBrush(Sleeve);
    painter.drawPath(sleeve);
    QPainterPath cuff;
    cuff.moveTo(88, 274);
    cuff.lineTo(100, 255);
    cuff.lineTo(176, 298);
    cuff.lineTo(164, 318);
    cuff.closeSubpath();
    painter.setBrush(SleeveShade);
    painter.drawPath(cuff);

    // Palm behind the lower half of the phone.
    QPainterPath palm;
    palm.moveTo(104, 258);
    palm.cubicTo(120, 214, 150, 196, 196, 196);
    palm.lineTo(300, 210);
    palm.cubicTo(320, 240, 312, 290, 282, 316);
    palm.cubicTo(240, 336, 196, 330, 166, 306);
    palm.closeSubpath();
    painter.setBrush(Skin);
    painter.drawPath(palm);
}

void drawFingersInFront(QPainter& painter)
{
    painter.setPen(Qt::NoPen);
    // Four fingers curling round the right edge.
    const double tops[] = {150, 184, 218, 252};
    for (int i = 0; i < 4; ++i) {
        const double y = tops[i];
        const QRectF finger(282, y, 46 - i * 3, 30);
        painter.setBrush(i % 2 ? SkinShade : Skin);
        painter.drawRoundedRect(finger, 15, 15);
        painter.setBrush(QColor(0xF8, 0xD6, 0xBA));
        painter.drawRoundedRect(QRectF(finger.right() - 14, y + 8, 8, 14), 4, 4);
    }
    // The thumb over the left edge.
    QPainterPath thumb;
    thumb.moveTo(122, 276);
    thumb.cubicTo(130, 252, 148, 236, 176, 226);
    thumb.cubicTo(194, 220, 206, 232, 198, 244);
    thumb.cubicTo(190, 258, 180, 270, 172, 290);
    thumb.closeSubpath();
    painter.setBrush(Skin);
    painter.drawPath(thumb);
    painter.setBrush(SkinShade);
    painter.drawEllipse(QRectF(180, 225, 16, 12));
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QImage image(453, 350, QImage::Format_ARGB32);
    image.fill(Ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(GroundDeep);
    painter.drawEllipse(QRectF(96, 20, 290, 290));
    drawHandBehind(painter);
    drawPhone(painter);
    drawFingersInFront(painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
