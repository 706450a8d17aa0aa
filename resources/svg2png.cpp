// Build-time helper: renders one SVG picture into a square PNG with a
// transparent background.
//   kv930_svg2png <input.svg> <output.png> [size]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Build machines have no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: kv930_svg2png <input.svg> <output.png> [size]\n");
        return 2;
    }
    bool ok = true;
    const int size = args.size() > 3 ? args.at(3).toInt(&ok) : 32;
    if (!ok || size < 1 || size > 4096) {
        std::fprintf(stderr, "kv930_svg2png: bad size\n");
        return 2;
    }

    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "kv930_svg2png: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }

    // A half-written picture must never be packed into the program.
    QSaveFile out(args.at(2));
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit()) {
        std::fprintf(stderr, "kv930_svg2png: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
