// booth-pictures: draws the booth's logo and icons into a folder, at build
// time, so the pictures are the project's own and need no binary files in
// the tree.
//
//   booth-pictures OUTPUT_FOLDER
//
// Writes logo.jpg (433 x 105), window_icon_16/32/48/128/256.png (the larger
// two only for the desktop's menus and launchers), tray_1.png and tray_2.png
// (16 x 16: the handset alone, then with its call waves).
#include <cstdio>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kBlue(0x0b, 0x4f, 0x9c);
const QColor kLightBlue(0x3d, 0x8b, 0xe0);
const QColor kOrange(0xf2, 0x8c, 0x1c);

// A telephone handset in a unit square (0..1), earpiece at the top left.
QPainterPath Handset() {
    QPainterPath path;
    path.moveTo(0.18, 0.08);
    path.cubicTo(0.30, 0.04, 0.36, 0.10, 0.40, 0.26);
    path.lineTo(0.32, 0.36);
    path.cubicTo(0.38, 0.50, 0.48, 0.60, 0.62, 0.68);
    path.lineTo(0.74, 0.60);
    path.cubicTo(0.90, 0.64, 0.96, 0.70, 0.92, 0.82);
    path.cubicTo(0.86, 0.94, 0.70, 0.96, 0.52, 0.86);
    path.cubicTo(0.30, 0.74, 0.20, 0.62, 0.10, 0.42);
    path.cubicTo(0.02, 0.24, 0.06, 0.12, 0.18, 0.08);
    path.closeSubpath();
    return path;
}

void DrawHandset(QPainter& painter, const QRectF& box, const QColor& color) {
    painter.save();
    painter.translate(box.topLeft());
    painter.scale(box.width(), box.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(Handset());
    painter.restore();
}

// Two arcs beside the earpiece: a call going out.
void DrawWaves(QPainter& painter, const QRectF& box, const QColor& color, qreal width) {
    painter.save();
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    for (const qreal r : {0.30, 0.52}) {
        const QRectF arc(box.right() - box.width() * (0.25 + r), box.top() - box.height() * (r - 0.25),
                         box.width() * 2 * r, box.height() * 2 * r);
        painter.drawArc(arc, 100 * 16, 70 * 16);
    }
    painter.restore();
}

QImage Logo() {
    QImage image(433, 105, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 433, 0);
    band.setColorAt(0, kBlue);
    band.setColorAt(1, kLightBlue);
    painter.setPen(Qt::NoPen);
    painter.setBrush(band);
    painter.drawRoundedRect(QRectF(4, 8, 425, 89), 14, 14);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(16, 16, 73, 73));
    DrawHandset(painter, QRectF(29, 29, 47, 47), kBlue);
    DrawWaves(painter, QRectF(29, 29, 47, 47), kOrange, 3);
    QFont title(QStringLiteral("DejaVu Sans"), 34, QFont::Bold);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(104, 14, 320, 52), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Telvira"));
    QFont tagline(QStringLiteral("DejaVu Sans"), 12);
    painter.setFont(tagline);
    painter.setPen(QColor(0xff, 0xe2, 0xb8));
    painter.drawText(QRectF(106, 62, 320, 26), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Softphone · llamadas prepagas"));
    return image;
}

QImage WindowIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlue);
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    const qreal inset = size * 0.2;
    DrawHandset(painter, QRectF(inset, inset, size - 2 * inset, size - 2 * inset), Qt::white);
    return image;
}

QImage TrayIcon(bool waves) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawHandset(painter, QRectF(1, 3, 12, 12), kBlue);
    if (waves) DrawWaves(painter, QRectF(1, 3, 12, 12), kOrange, 1.4);
    return image;
}

bool Save(const QImage& image, const QDir& folder, const char* name, const char* format, int quality = -1) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (image.save(path, format, quality)) return true;
    std::fprintf(stderr, "booth-pictures: cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: booth-pictures OUTPUT_FOLDER\n");
        return 2;
    }
    // Text needs a font database, which needs a platform; the build has no
    // display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) return 1;
    const bool ok = Save(Logo(), folder, "logo.jpg", "jpeg", 92) &&
                    Save(WindowIcon(16), folder, "window_icon_16.png", "png") &&
                    Save(WindowIcon(32), folder, "window_icon_32.png", "png") &&
                    Save(WindowIcon(48), folder, "window_icon_48.png", "png") &&
                    Save(WindowIcon(128), folder, "window_icon_128.png", "png") &&
                    Save(WindowIcon(256), folder, "window_icon_256.png", "png") &&
                    Save(TrayIcon(false), folder, "tray_1.png", "png") &&
                    Save(TrayIcon(true), folder, "tray_2.png", "png");
    return ok ? 0 : 1;
}
