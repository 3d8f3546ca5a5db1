#include "testmain.h"

#include <QtMath>

#include "common/widgets/circularprogressbar.h"

namespace {

QImage render(int progress)
{
    CircularProgressBar bar;
    bar.progress = progress;
    QImage image(bar.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    bar.render(&image);
    return image;
}

bool isBlue(QRgb c)
{
    return qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) < 80;
}

bool isGrey(QRgb c)
{
    return qAbs(qRed(c) - 0xC0) < 20 && qAbs(qGreen(c) - 0xC0) < 20 && qAbs(qBlue(c) - 0xC0) < 20;
}

// The point on the middle of the ring at a clock angle: 0 is the top, growing clockwise.
QPoint onRing(const QImage& image, qreal clockDegrees)
{
    const qreal radius = (image.width() - 40) / 2.0;
    const qreal a = qDegreesToRadians(clockDegrees);
    return QPoint(qRound(image.width() / 2.0 + radius * qSin(a)), qRound(image.height() / 2.0 - radius * qCos(a)));
}

int countBlue(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += isBlue(image.pixel(x, y));
    return n;
}

} // namespace

class TestCircularProgressBar : public QObject
{
    Q_OBJECT

private slots:
    void startsAtZeroWithFixedSize()
    {
        CircularProgressBar bar;
        QCOMPARE(bar.progress, 0);
        QCOMPARE(bar.size(), QSize(200, 200));
        QCOMPARE(bar.minimumSize(), QSize(200, 200));
        QCOMPARE(bar.maximumSize(), QSize(200, 200));
    }

    void arcSpan_data()
    {
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("span");
        QTest::newRow("0 draws nothing") << 0 << 0;
        QTest::newRow("1 truncates 57.6") << 1 << -57;
        QTest::newRow("33 truncates 1900.8") << 33 << -1900;
        QTest::newRow("50 is half a turn") << 50 << -2880;
        QTest::newRow("99 truncates 5702.4") << 99 << -5702;
        QTest::newRow("100 is a full turn") << 100 << -5760;
    }
    void arcSpan()
    {
        QFETCH(int, progress);
        QFETCH(int, span);
        QCOMPARE(CircularProgressBar::arcSpan(progress), span);
    }

    void zeroDrawsOnlyTheGreyRing()
    {
        const QImage image = render(0);
        QCOMPARE(countBlue(image), 0);
        for (int deg = 0; deg < 360; deg += 15)
            QVERIFY2(isGrey(image.pixel(onRing(image, deg))), qPrintable(QString("angle %1").arg(deg)));
    }

    void hundredDrawsAFullBlueRing()
    {
        const QImage image = render(100);
        for (int deg = 0; deg < 360; deg += 10)
            QVERIFY2(isBlue(image.pixel(onRing(image, deg))), qPrintable(QString("angle %1").arg(deg)));
    }

    void thirtyThreeRunsClockwiseFromTheTop()
    {
        const QImage image = render(33);
        // 1900/16 = 118.75 degrees clockwise from twelve o'clock.
        for (int deg : {5, 45, 90, 110})
            QVERIFY2(isBlue(image.pixel(onRing(image, deg))), qPrintable(QString("angle %1").arg(deg)));
        for (int deg : {135, 180, 270, 340})
            QVERIFY2(isGrey(image.pixel(onRing(image, deg))), qPrintable(QString("angle %1").arg(deg)));
    }

    void numberIsPaintedInTheMiddle_data()
    {
        QTest::addColumn<int>("progress");
        QTest::newRow("0%") << 0;
        QTest::newRow("100%") << 100;
    }
    void numberIsPaintedInTheMiddle()
    {
        QFETCH(int, progress);
        const QImage image = render(progress);
        int dark = 0;
        for (int y = 85; y < 115; ++y)
            for (int x = 70; x < 130; ++x)
                dark += qGray(image.pixel(x, y)) < 100;
        QVERIFY(dark > 10);
        // Wider text paints more ink: "100%" against "0%".
        const QImage zero = render(0);
        int darkZero = 0;
        for (int y = 85; y < 115; ++y)
            for (int x = 70; x < 130; ++x)
                darkZero += qGray(zero.pixel(x, y)) < 100;
        if (progress == 100)
            QVERIFY(dark > darkZero);
    }
};

MOVANTA_TEST_MAIN(TestCircularProgressBar)
#include "tst_circularprogressbar.moc"
