#include "common/widgets/circularprogressbar.h"

#include <QPainter>

CircularProgressBar::CircularProgressBar(QWidget* parent) : QWidget(parent), progress(0)
{
    setFixedSize(200, 200);
    setAccessibleName(tr("进度"));
    setAccessibleDescription(QStringLiteral("0%"));
}

void CircularProgressBar::setProgress(int value)
{
    progress = value;
    setAccessibleDescription(QString::number(value) + QStringLiteral("%"));
    update();
}

int CircularProgressBar::arcSpan(int progress)
{
    return -(progress * 5760 / 100);
}

void CircularProgressBar::paintEvent(QPaintEvent*)
{
    // Owners that write the field directly still reach screen readers by the next paint.
    const QString shown = QString::number(progress) + QStringLiteral("%");
    if (accessibleDescription() != shown)
        setAccessibleDescription(shown);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    const QRectF ring(20, 20, width() - 40.0, height() - 40.0);

    painter.setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 20, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawArc(ring, 0, 360 * 16);

    painter.setPen(QPen(QColor(0x00, 0x00, 0xFF), 20, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawArc(ring, 90 * 16, arcSpan(progress));

    painter.setPen(QColor(0x00, 0x00, 0x00));
    painter.setFont(QFont("Arial", 14));
    painter.drawText(rect(), Qt::AlignCenter, QString::number(progress) + "%");
}
