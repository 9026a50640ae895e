// rebounce-export-icons: writes the window's icon as PNG files for the
// desktop's icon theme, from the same drawing the window uses, so the two
// can never differ.  Run at build time, without a display.
//
//   rebounce-export-icons <output folder> <size>...
//
// writes <output folder>/<size>x<size>/apps/rebounce.png for each size.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include "resources/artwork.h"

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: rebounce-export-icons <output folder> <size>...\n");
        return 2;
    }
    // Painting needs a QGuiApplication, not a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        char *end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || size < 16 || size > 1024) {
            std::fprintf(stderr, "rebounce-export-icons: not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.filePath(folder + QStringLiteral("/rebounce.png"));
        const QImage icon = resources::iconPixmap(static_cast<int>(size)).toImage();
        if (!out.mkpath(folder) || icon.size() != QSize(size, size) || !icon.save(file, "PNG")) {
            std::fprintf(stderr, "rebounce-export-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
