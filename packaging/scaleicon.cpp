// Writes the application icon at the sizes of the hicolor theme, from the one large picture in resources.
//   movanta_scaleicon INPUT.png OUTPUT_DIR SIZE...
// Each size goes to OUTPUT_DIR/SIZExSIZE/apps/movanta.png.

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QGuiApplication>
#include <QImage>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s INPUT.png OUTPUT_DIR SIZE...\n", argv[0]);
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir output(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "not a size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        const QImage icon = source.convertToFormat(QImage::Format_ARGB32)
                                .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!output.mkpath(dir) || !icon.save(output.filePath(dir + QStringLiteral("/movanta.png")))) {
            std::fprintf(stderr, "cannot write the %dx%d icon\n", size, size);
            return 1;
        }
    }
    return 0;
}
