// Builds "Movanta使用说明.pdf" from the manual's text source and the program's own screenshots.
//   movanta_manual SOURCE.md SHOTS_DIR ICON.png VERSION OUTPUT.pdf

#include <cstdio>

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>

#include "manualpdf.h"
#include "manualsource.h"

namespace {

// The manual is written in Chinese: a CJK face is required, not a fallback that draws boxes.
QString pickFamily(const QStringList& wanted)
{
    const QStringList families = QFontDatabase().families();
    for (const QString& family : wanted) {
        if (families.contains(family)) {
            return family;
        }
    }
    return QString();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s SOURCE.md SHOTS_DIR ICON.png VERSION OUTPUT.pdf\n", argv[0]);
        return 2;
    }
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[5]);

    QFile file(sourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const ManualSource source = ManualSource::fromText(QString::fromUtf8(file.readAll()));

    ManualPdf::Options options;
    options.fontFamily = pickFamily({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC")});
    options.latinFamily = pickFamily({QStringLiteral("DejaVu Sans")});
    options.monoFamily = pickFamily({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    if (options.fontFamily.isEmpty()) {
        std::fprintf(stderr, "the Noto Sans CJK SC font (Debian package fonts-noto-cjk) is not installed\n");
        return 1;
    }
    options.shotsDir = QString::fromLocal8Bit(argv[2]);
    options.icon = QImage(QString::fromLocal8Bit(argv[3]));
    options.version = QString::fromLocal8Bit(argv[4]);

    ManualPdf pdf(source, options);
    QString error;
    if (!pdf.write(output, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (const QString& missing : pdf.missingImages()) {
        std::fprintf(stderr, "note: screenshot %s not found; its figure is left out\n", qPrintable(missing));
    }
    return 0;
}
