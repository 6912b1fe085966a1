// Renders the program's icon to PNG files for the desktop's icon theme:
//   iconpng OUTDIR SIZE...   writes OUTDIR/<SIZE>x<SIZE>/apps/korvalinex.png for every size.

#include "shell/pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: iconpng OUTDIR SIZE...\n");
        return 2;
    }
    // The build machine needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            std::fprintf(stderr, "iconpng: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = out + QStringLiteral("/%1x%1/apps").arg(size);
        const QString file = dir + QStringLiteral("/korvalinex.png");
        if (!QDir().mkpath(dir) || !Pictures::AppIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "iconpng: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
