// Draws the tool's icon: a camera on a network-blue tile, with a green status
// light. Writes Toolkit.ico (the window icon the tool loads) and, for desktop
// menus, PNG renderings at the sizes given.
//
//   makeicon OUTPUT_DIR [SIZE ...]

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    // The tile.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2B, 0x6C, 0xB0));
    tile.setColorAt(1, QColor(0x1A, 0x3F, 0x6E));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The camera body and its viewfinder hump.
    painter.setBrush(QColor(0xF2, 0xF4, 0xF7));
    QPainterPath body;
    body.addRoundedRect(QRectF(10, 22, 44, 28), 5, 5);
    body.addRoundedRect(QRectF(22, 16, 16, 9), 2, 2);
    painter.drawPath(body.simplified());

    // The lens.
    painter.setBrush(QColor(0x1A, 0x3F, 0x6E));
    painter.drawEllipse(QPointF(32, 36), 10, 10);
    painter.setBrush(QColor(0x5F, 0xA8, 0xE8));
    painter.drawEllipse(QPointF(32, 36), 6, 6);
    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawEllipse(QPointF(29.5, 33.5), 2, 2);

    // The status light: the camera answered.
    painter.setBrush(QColor(0x3C, 0xC8, 0x5A));
    painter.drawEllipse(QPointF(48, 27), 2.6, 2.6);
    return image;
}

bool save(const QImage &image, const QString &path, const char *format)
{
    QImageWriter writer(path, format);
    if (writer.write(image))
        return true;
    QTextStream(stderr) << "makeicon: " << path << ": " << writer.errorString() << '\n';
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: makeicon OUTPUT_DIR [SIZE ...]\n";
        return 2;
    }
    const QDir output(arguments.at(1));
    bool ok = save(drawIcon(48), output.filePath(QStringLiteral("Toolkit.ico")), "ico");
    for (const QString &size : arguments.mid(2)) {
        const int pixels = size.toInt();
        if (pixels > 0)
            ok = save(drawIcon(pixels),
                     output.filePath(QStringLiteral("toolkit-%1.png").arg(pixels)), "png")
                && ok;
    }
    return ok ? 0 : 1;
}
