// Draws the program's pictures into PNG files: the three icons, the closing notice and the live
// panel's background. Run once after a change and commit the result:
//   cmake --build build --target update_images
// (or build/tools/draw_images <folder>). Not part of the normal build.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

#include "resources/resource.h"

namespace {

const QColor kOutline(175, 175, 175);
const QColor kBoxTop(222, 233, 255);
const QColor kBoxBottom(246, 249, 255);
const QColor kHeaderTop(203, 218, 250);
const QColor kHeaderBottom(226, 235, 255);

bool Save(const QImage& image, const QString& folder, const QString& name)
{
    // 24 bits per pixel for the bitmaps, as the panel draws onto a copy of it.
    const QImage out = image.hasAlphaChannel() ? image : image.convertToFormat(QImage::Format_RGB888);
    const QString path = QDir(folder).filePath(name);
    if (!out.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), out.width(), out.height());
    return true;
}

// A rounded box of the panel, its edges on the given pixel rows and columns (inclusive), with a
// soft shadow to the lower right and an optional header strip down to row headerBottom.
void DrawBox(QPainter& p, int left, int top, int right, int bottom, int headerBottom = -1)
{
    const qreal radius = 6.0;
    const QRectF box(left + 0.5, top + 0.5, right - left, bottom - top);

    // Shadow: a few widening, fading outlines offset down and right.
    p.setPen(Qt::NoPen);
    for (int i = 3; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, 14 + 6 * (3 - i)));
        p.drawRoundedRect(box.translated(i * 0.8 + 0.6, i * 0.8 + 0.6).adjusted(-0.5, -0.5, 0.5, 0.5), radius + i,
                          radius + i);
    }

    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    QLinearGradient fill(0, top, 0, bottom);
    fill.setColorAt(0.0, kBoxTop);
    fill.setColorAt(1.0, kBoxBottom);
    p.fillPath(shape, fill);

    if (headerBottom > top) {
        p.save();
        p.setClipPath(shape);
        QLinearGradient strip(0, top, 0, headerBottom);
        strip.setColorAt(0.0, kHeaderTop);
        strip.setColorAt(1.0, kHeaderBottom);
        p.fillRect(QRectF(left, top, right - left + 1, headerBottom - top), strip);
        p.restore();
        p.setPen(QPen(kOutline, 1));
        p.drawLine(QPointF(left + 1, headerBottom + 0.5), QPointF(right, headerBottom + 0.5));
    }

    p.setPen(QPen(kOutline, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

QImage ViewBackground()
{
    QImage image(700, 500, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawBox(p, 10, 10, 349, 205, 30);     // device information
    DrawBox(p, 357, 10, 693, 71);         // title
    DrawBox(p, 357, 74, 693, 205);        // status lines
    DrawBox(p, 10, 214, 234, 488, 234);   // maximum and minimum
    DrawBox(p, 237, 214, 462, 488, 234);  // recording periods
    DrawBox(p, 468, 214, 693, 488, 234);  // real-time readings
    return image;
}

QImage ClosingBackground()
{
    const int w = 477, h = 299;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Pale sky, lightest where the text sits (top left).
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0.0, QColor(250, 252, 255));
    sky.setColorAt(0.6, QColor(232, 241, 252));
    sky.setColorAt(1.0, QColor(220, 234, 250));
    p.fillRect(image.rect(), sky);

    // A low sun, far from the text.
    QRadialGradient sun(QPointF(385, 150), 60);
    sun.setColorAt(0.0, QColor(255, 244, 214, 220));
    sun.setColorAt(0.35, QColor(255, 240, 210, 120));
    sun.setColorAt(1.0, QColor(255, 240, 210, 0));
    p.fillRect(image.rect(), sun);

    // Two soft hills.
    QPainterPath back;
    back.moveTo(0, 230);
    back.cubicTo(120, 185, 260, 215, 340, 205);
    back.cubicTo(400, 198, 450, 190, w, 200);
    back.lineTo(w, h);
    back.lineTo(0, h);
    back.closeSubpath();
    QLinearGradient backFill(0, 190, 0, h);
    backFill.setColorAt(0.0, QColor(200, 224, 214));
    backFill.setColorAt(1.0, QColor(176, 210, 196));
    p.fillPath(back, backFill);

    QPainterPath front;
    front.moveTo(0, 265);
    front.cubicTo(90, 240, 200, 250, 280, 262);
    front.cubicTo(360, 274, 420, 250, w, 245);
    front.lineTo(w, h);
    front.lineTo(0, h);
    front.closeSubpath();
    QLinearGradient frontFill(0, 240, 0, h);
    frontFill.setColorAt(0.0, QColor(176, 208, 190));
    frontFill.setColorAt(1.0, QColor(150, 192, 172));
    p.fillPath(front, frontFill);

    // Thin frame, as the notice has no caption.
    p.setPen(QPen(kOutline, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, w - 1, h - 1));
    return image;
}

// The program icon: a thermometer and a drop on a blue tile.
QImage ProgramIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    QLinearGradient tile(0, 0, 0, 32);
    tile.setColorAt(0.0, QColor(84, 140, 235));
    tile.setColorAt(1.0, QColor(40, 92, 190));
    p.setPen(QPen(QColor(30, 70, 150), 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

    // Thermometer: tube and bulb in white, mercury in red.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(9, 5, 6, 17), 3, 3);
    p.drawEllipse(QPointF(12, 23), 4.5, 4.5);
    p.setBrush(QColor(230, 60, 60));
    p.drawRect(QRectF(10.8, 12, 2.4, 10));
    p.drawEllipse(QPointF(12, 23), 3, 3);

    // Drop.
    QPainterPath drop;
    drop.moveTo(22, 9);
    drop.cubicTo(24, 13, 27, 16, 27, 19);
    drop.cubicTo(27, 22, 24.8, 24, 22, 24);
    drop.cubicTo(19.2, 24, 17, 22, 17, 19);
    drop.cubicTo(17, 16, 20, 13, 22, 9);
    p.setBrush(QColor(200, 230, 255));
    p.drawPath(drop);
    return image;
}

// Status icons: a green disc with a tick, or a red disc with a cross.
QImage StatusIcon(int size, bool connected)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    QRadialGradient disc(QPointF(12, 11), 18);
    if (connected) {
        disc.setColorAt(0.0, QColor(120, 215, 120));
        disc.setColorAt(1.0, QColor(30, 150, 50));
        p.setPen(QPen(QColor(20, 110, 35), 1));
    } else {
        disc.setColorAt(0.0, QColor(235, 130, 120));
        disc.setColorAt(1.0, QColor(190, 45, 40));
        p.setPen(QPen(QColor(140, 30, 30), 1));
    }
    p.setBrush(disc);
    p.drawEllipse(QRectF(2, 2, 28, 28));

    QPen mark(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    if (connected) {
        QPainterPath tick;
        tick.moveTo(9, 16.5);
        tick.lineTo(14, 21.5);
        tick.lineTo(23, 11);
        p.drawPath(tick);
    } else {
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
    }
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_images <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    // Each file is named by its resource id.
    const auto name = [](int id) { return QString::number(id) + QStringLiteral(".png"); };
    bool ok = true;
    ok &= Save(ProgramIcon(32), folder, name(IDR_MAINFRAME));
    ok &= Save(StatusIcon(32, true), folder, name(IDI_CONNECTED));
    ok &= Save(StatusIcon(32, false), folder, name(IDI_UNCONNECTED));
    ok &= Save(ClosingBackground(), folder, name(IDB_CLOSING_BACKGROUND));
    ok &= Save(ViewBackground(), folder, name(IDB_VIEW_BACKGROUND));
    return ok ? 0 : 1;
}
