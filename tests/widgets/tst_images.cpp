#include "testmain.h"

#include <QMovie>

namespace {

// Share of the opaque pixels that are close to the accent blue #2563EB.
double blueShare(const QImage& image)
{
    int opaque = 0;
    int blue = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 200)
                continue;
            ++opaque;
            blue += qAbs(c.red() - 0x25) < 24 && qAbs(c.green() - 0x63) < 24 && qAbs(c.blue() - 0xEB) < 24;
        }
    }
    return opaque ? double(blue) / opaque : 0.0;
}

} // namespace

class TestImages : public QObject
{
    Q_OBJECT

private slots:
    void stillImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("minSize");
        QTest::addColumn<QSize>("maxSize");
        const QSize step(60, 60);
        const QSize list(40, 40);
        const QSize listMax(48, 48);
        QTest::newRow("newpc") << "newpc" << QSize(96, 96) << QSize(128, 128);
        QTest::newRow("oldpc") << "oldpc" << QSize(96, 96) << QSize(128, 128);
        for (const char* s : {"pair", "selectdata", "transfer", "done"}) {
            QTest::newRow(s) << s << step << step;
            QTest::newRow(qPrintable(QString(s) + "_highlight")) << QString(s) + "_highlight" << step << step;
        }
        for (const char* s : {"disk", "file", "folder", "user", "computer", "cube", "wps"})
            QTest::newRow(s) << s << list << listMax;
        QTest::newRow("selected fits the 60 px check label") << "selected" << QSize(24, 24) << QSize(60, 144);
        QTest::newRow("logo") << "logo" << QSize(60, 40) << QSize(256, 160);
        QTest::newRow("icon") << "icon" << QSize(256, 256) << QSize(256, 256);
        QTest::newRow("background") << "background" << QSize(640, 388) << QSize(640, 388);
    }
    void stillImage()
    {
        QFETCH(QString, name);
        QFETCH(QSize, minSize);
        QFETCH(QSize, maxSize);
        const QImage image(":/icons/icons/" + name + ".png");
        QVERIFY2(!image.isNull(), qPrintable(name));
        QVERIFY2(image.width() >= minSize.width() && image.height() >= minSize.height(),
            qPrintable(QString("%1 is %2x%3").arg(name).arg(image.width()).arg(image.height())));
        QVERIFY2(image.width() <= maxSize.width() && image.height() <= maxSize.height(),
            qPrintable(QString("%1 is %2x%3").arg(name).arg(image.width()).arg(image.height())));
        // Not a blank placeholder: several colours.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 3, qPrintable(name));
    }

    void backgroundResolvesUnderBothNames()
    {
        const QImage viaAlias(":/icons/background.png");
        QVERIFY(!viaAlias.isNull());
        QCOMPARE(viaAlias, QImage(":/icons/icons/background.png"));
        // Light enough for black text everywhere.
        for (int y = 0; y < viaAlias.height(); y += 17)
            for (int x = 0; x < viaAlias.width(); x += 23)
                QVERIFY(viaAlias.pixelColor(x, y).lightness() > 220);
    }

    void stepIconsHaveGreyAndBlueForms_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* s : {"pair", "selectdata", "transfer", "done"})
            QTest::newRow(s) << s;
    }
    void stepIconsHaveGreyAndBlueForms()
    {
        QFETCH(QString, name);
        const QImage grey(":/icons/icons/" + name + ".png");
        const QImage blue(":/icons/icons/" + name + "_highlight.png");
        QVERIFY(blueShare(blue) > 0.5);
        QVERIFY(blueShare(grey) < 0.05);
    }

    void selectedIsABlueMark() { QVERIFY(blueShare(QImage(":/icons/icons/selected.png")) > 0.5); }

    void animation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spinner") << "loading";
        QTest::newRow("dots") << "loading_dots";
    }
    void animation()
    {
        QFETCH(QString, name);
        QMovie movie(":/icons/icons/" + name + ".gif");
        QVERIFY(movie.isValid());
        QVERIFY2(movie.frameCount() >= 6, qPrintable(QString::number(movie.frameCount())));
        QVERIFY(movie.loopCount() == -1 || movie.loopCount() == 0);
        QSet<QByteArray> distinct;
        for (int i = 0; i < movie.frameCount(); ++i) {
            QVERIFY(movie.jumpToFrame(i));
            QVERIFY(movie.nextFrameDelay() > 0);
            const QImage frame = movie.currentImage().convertToFormat(QImage::Format_ARGB32);
            distinct.insert(QByteArray(reinterpret_cast<const char*>(frame.constBits()), int(frame.sizeInBytes())));
        }
        QVERIFY2(distinct.size() >= movie.frameCount() / 2, qPrintable(QString::number(distinct.size())));
    }
};

MOVANTA_TEST_MAIN(TestImages)
#include "tst_images.moc"
