// Draws Movanta's images in one flat style: rounded shapes, the blue #2563EB accent, slate greys.
// Usage: iconpainter OUTPUT_DIR FRAME_DIR
#include <cmath>
#include <functional>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

const QColor blue(0x25, 0x63, 0xEB);
const QColor blueDark(0x1D, 0x4E, 0xD8);
const QColor blueLight(0xDB, 0xEA, 0xFE);
const QColor blueSoft(0x93, 0xC5, 0xFD);
const QColor slate(0x47, 0x55, 0x69);
const QColor slateDark(0x33, 0x41, 0x55);
const QColor grey(0x9C, 0xA3, 0xAF);
const QColor greyLight(0xE5, 0xE7, 0xEB);
const QColor greyPale(0xF3, 0xF4, 0xF6);
const QColor white(Qt::white);

using Painter = std::function<void(QPainter&)>;

QImage paint(int w, int h, const Painter& draw)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    draw(p);
    p.end();
    return image;
}

bool save(const QImage& image, const QString& path)
{
    if (!image.save(path, "PNG")) {
        qWarning("cannot write %s", qPrintable(path));
        return false;
    }
    return true;
}

QPen roundPen(const QColor& c, qreal width)
{
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void roundedRect(QPainter& p, const QRectF& r, qreal radius, const QColor& fill)
{
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
}

void checkMark(QPainter& p, const QPointF& centre, qreal size, const QColor& c, qreal width)
{
    QPainterPath path;
    path.moveTo(centre + QPointF(-0.42 * size, 0.02 * size));
    path.lineTo(centre + QPointF(-0.12 * size, 0.32 * size));
    path.lineTo(centre + QPointF(0.44 * size, -0.28 * size));
    p.setPen(roundPen(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// ---- role pictures ----

// A slim modern laptop, open, with a blue screen.
void newPc(QPainter& p)
{
    const qreal s = 112;
    // Soft floor shadow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 22));
    p.drawEllipse(QRectF(10, 88, s - 20, 10));
    // Lid.
    const QRectF lid(20, 22, 72, 50);
    roundedRect(p, lid, 6, slateDark);
    const QRectF screen = lid.adjusted(4, 4, -4, -4);
    QLinearGradient g(screen.topLeft(), screen.bottomRight());
    g.setColorAt(0, QColor(0x3B, 0x82, 0xF6));
    g.setColorAt(1, blue);
    p.setBrush(g);
    p.drawRoundedRect(screen, 3, 3);
    // A flat window on the screen.
    roundedRect(p, QRectF(screen.left() + 8, screen.top() + 7, 34, 24), 3, QColor(255, 255, 255, 230));
    roundedRect(p, QRectF(screen.left() + 8, screen.top() + 7, 34, 6), 3, blueLight);
    roundedRect(p, QRectF(screen.left() + 46, screen.top() + 7, 14, 10), 2, QColor(255, 255, 255, 150));
    roundedRect(p, QRectF(screen.left() + 46, screen.top() + 21, 14, 10), 2, QColor(255, 255, 255, 110));
    // Base, wider than the lid, with its notch.
    QPainterPath base;
    base.moveTo(10, 74);
    base.lineTo(102, 74);
    base.lineTo(98, 82);
    base.quadTo(97, 84, 94, 84);
    base.lineTo(18, 84);
    base.quadTo(15, 84, 14, 82);
    base.closeSubpath();
    p.setBrush(QColor(0xCB, 0xD5, 0xE1));
    p.drawPath(base);
    roundedRect(p, QRectF(8, 72, 96, 4), 2, QColor(0x94, 0xA3, 0xB8));
    roundedRect(p, QRectF(46, 74, 20, 3), 1.5, QColor(0x64, 0x74, 0x8B));
}

// An older beige-grey tower with a boxy monitor.
void oldPc(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 22));
    p.drawEllipse(QRectF(6, 88, 100, 10));
    // Monitor: deep bezel, small screen.
    roundedRect(p, QRectF(8, 20, 64, 54), 5, QColor(0xD6, 0xD3, 0xC9));
    roundedRect(p, QRectF(14, 26, 52, 40), 3, slate);
    roundedRect(p, QRectF(18, 30, 44, 32), 2, QColor(0x64, 0x74, 0x8B));
    // A few lines of text on the old screen.
    p.setBrush(QColor(0xCB, 0xD5, 0xE1));
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(22, 35 + i * 6.5, i % 2 ? 22 : 32, 3), 1.5, 1.5);
    roundedRect(p, QRectF(60, 68, 6, 3), 1.5, QColor(0x22, 0xC5, 0x5E));
    // Stand.
    roundedRect(p, QRectF(32, 74, 16, 8), 1, QColor(0xB8, 0xB4, 0xA8));
    roundedRect(p, QRectF(22, 82, 36, 5), 2.5, QColor(0xC4, 0xC0, 0xB4));
    // Tower.
    roundedRect(p, QRectF(76, 14, 30, 74), 4, QColor(0xC4, 0xC0, 0xB4));
    roundedRect(p, QRectF(78, 16, 26, 70), 3, QColor(0xDC, 0xD9, 0xD0));
    // Drive bays.
    roundedRect(p, QRectF(81, 22, 20, 6), 1, QColor(0xB8, 0xB4, 0xA8));
    roundedRect(p, QRectF(81, 31, 20, 6), 1, QColor(0xB8, 0xB4, 0xA8));
    roundedRect(p, QRectF(92, 33.5, 6, 1.5), 0.5, QColor(0x8A, 0x86, 0x7C));
    // Vents and power.
    p.setBrush(QColor(0xB8, 0xB4, 0xA8));
    for (int i = 0; i < 5; ++i)
        p.drawRoundedRect(QRectF(83, 48 + i * 4, 16, 1.6), 0.8, 0.8);
    p.setBrush(blue);
    p.drawEllipse(QPointF(91, 76), 3.2, 3.2);
}

// ---- step icons: grey outline form and blue filled form ----

struct StepStyle
{
    QColor disc;
    QColor glyph;
};

StepStyle stepStyle(bool highlight)
{
    return highlight ? StepStyle {blue, white} : StepStyle {greyLight, grey};
}

void stepDisc(QPainter& p, const StepStyle& st)
{
    p.setPen(Qt::NoPen);
    p.setBrush(st.disc);
    p.drawEllipse(QRectF(2, 2, 56, 56));
}

void pairGlyph(QPainter& p, const StepStyle& st)
{
    // Two chain links, tilted.
    p.save();
    p.translate(30, 30);
    p.rotate(-45);
    p.setPen(roundPen(st.glyph, 4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-17, -6, 20, 12), 6, 6);
    p.drawRoundedRect(QRectF(-3, -6, 20, 12), 6, 6);
    p.restore();
}

void selectDataGlyph(QPainter& p, const StepStyle& st)
{
    p.setPen(roundPen(st.glyph, 2.6));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const qreal y = 18 + i * 9.5;
        p.setPen(roundPen(st.glyph, 2.2));
        p.drawRoundedRect(QRectF(16, y, 7, 7), 1.5, 1.5);
        if (i < 2) {
            QPainterPath tick;
            tick.moveTo(17.5, y + 3.6);
            tick.lineTo(19.3, y + 5.4);
            tick.lineTo(22, y + 1.8);
            p.setPen(roundPen(st.glyph, 1.8));
            p.drawPath(tick);
        }
        p.setPen(roundPen(st.glyph, 3));
        p.drawLine(QPointF(28, y + 3.5), QPointF(i == 1 ? 40 : 44, y + 3.5));
    }
}

void transferGlyph(QPainter& p, const StepStyle& st)
{
    p.setPen(roundPen(st.glyph, 3.4));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(17, 24), QPointF(42, 24));
    p.drawLine(QPointF(35, 17), QPointF(42, 24));
    p.drawLine(QPointF(35, 31), QPointF(42, 24));
    p.drawLine(QPointF(43, 37), QPointF(18, 37));
    p.drawLine(QPointF(25, 30), QPointF(18, 37));
    p.drawLine(QPointF(25, 44), QPointF(18, 37));
}

void doneGlyph(QPainter& p, const StepStyle& st)
{
    // A flag at the finish.
    p.setPen(roundPen(st.glyph, 3.2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(21, 17), QPointF(21, 44));
    QPainterPath flag;
    flag.moveTo(21, 18);
    flag.cubicTo(27, 14, 31, 22, 40, 18);
    flag.lineTo(40, 31);
    flag.cubicTo(31, 35, 27, 27, 21, 31);
    flag.closeSubpath();
    p.setPen(roundPen(st.glyph, 2.4));
    p.setBrush(st.glyph);
    p.drawPath(flag);
}

Painter step(void (*glyph)(QPainter&, const StepStyle&), bool highlight)
{
    return [glyph, highlight](QPainter& p) {
        const StepStyle st = stepStyle(highlight);
        stepDisc(p, st);
        glyph(p, st);
    };
}

// ---- list icons, 48 x 48 ----

void disk(QPainter& p)
{
    roundedRect(p, QRectF(4, 12, 40, 26), 6, QColor(0x64, 0x74, 0x8B));
    roundedRect(p, QRectF(4, 12, 40, 16), 6, QColor(0x94, 0xA3, 0xB8));
    roundedRect(p, QRectF(4, 22, 40, 6), 0, QColor(0x94, 0xA3, 0xB8));
    p.setBrush(QColor(0x22, 0xC5, 0x5E));
    p.drawEllipse(QPointF(36, 33), 2.5, 2.5);
    roundedRect(p, QRectF(10, 31.5, 16, 3), 1.5, QColor(0xCB, 0xD5, 0xE1));
}

void file(QPainter& p)
{
    QPainterPath page;
    page.moveTo(12, 6);
    page.lineTo(29, 6);
    page.lineTo(38, 15);
    page.lineTo(38, 40);
    page.quadTo(38, 43, 35, 43);
    page.lineTo(12, 43);
    page.quadTo(9, 43, 9, 40);
    page.lineTo(9, 9);
    page.quadTo(9, 6, 12, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(blueLight);
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(29, 6);
    fold.lineTo(29, 13);
    fold.quadTo(29, 15, 31, 15);
    fold.lineTo(38, 15);
    fold.closeSubpath();
    p.setBrush(blueSoft);
    p.drawPath(fold);
    p.setBrush(blue);
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(15, 22 + i * 6.5, i == 2 ? 11 : 17, 3), 1.5, 1.5);
}

void folder(QPainter& p)
{
    QPainterPath back;
    back.moveTo(6, 12);
    back.quadTo(6, 9, 9, 9);
    back.lineTo(19, 9);
    back.lineTo(23, 13);
    back.lineTo(39, 13);
    back.quadTo(42, 13, 42, 16);
    back.lineTo(42, 38);
    back.quadTo(42, 40, 39, 40);
    back.lineTo(9, 40);
    back.quadTo(6, 40, 6, 37);
    back.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(blueDark);
    p.drawPath(back);
    roundedRect(p, QRectF(6, 17, 36, 23), 3, QColor(0x3B, 0x82, 0xF6));
    roundedRect(p, QRectF(6, 17, 36, 3), 1.5, QColor(0x60, 0xA5, 0xFA));
}

void user(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(blueLight);
    p.drawEllipse(QRectF(3, 3, 42, 42));
    p.save();
    QPainterPath clip;
    clip.addEllipse(QRectF(3, 3, 42, 42));
    p.setClipPath(clip);
    p.setBrush(blue);
    p.drawEllipse(QPointF(24, 19), 8, 8);
    p.drawEllipse(QRectF(9, 30, 30, 26));
    p.restore();
}

void computer(QPainter& p)
{
    roundedRect(p, QRectF(4, 7, 40, 28), 4, slateDark);
    roundedRect(p, QRectF(7, 10, 34, 22), 2, QColor(0x3B, 0x82, 0xF6));
    roundedRect(p, QRectF(20, 35, 8, 5), 0, QColor(0x94, 0xA3, 0xB8));
    roundedRect(p, QRectF(13, 39, 22, 4), 2, QColor(0x64, 0x74, 0x8B));
}

void cube(QPainter& p)
{
    const QPointF top(24, 5), left(6, 14), right(42, 14), centre(24, 23), bottom(24, 44), leftLow(6, 35),
        rightLow(42, 35);
    p.setPen(Qt::NoPen);
    QPainterPath lid;
    lid.moveTo(top);
    lid.lineTo(right);
    lid.lineTo(centre);
    lid.lineTo(left);
    lid.closeSubpath();
    p.setBrush(QColor(0x60, 0xA5, 0xFA));
    p.drawPath(lid);
    QPainterPath l;
    l.moveTo(left);
    l.lineTo(centre);
    l.lineTo(bottom);
    l.lineTo(leftLow);
    l.closeSubpath();
    p.setBrush(blue);
    p.drawPath(l);
    QPainterPath r;
    r.moveTo(centre);
    r.lineTo(right);
    r.lineTo(rightLow);
    r.lineTo(bottom);
    r.closeSubpath();
    p.setBrush(blueDark);
    p.drawPath(r);
    // Tape across the lid, as on a package.
    p.setPen(roundPen(QColor(255, 255, 255, 170), 2.2));
    p.drawLine(QPointF(15, 9.5), QPointF(33, 18.5));
}

// An office document application: a rounded tile with a white "W".
void wps(QPainter& p)
{
    roundedRect(p, QRectF(4, 4, 40, 40), 10, QColor(0xE1, 0x1D, 0x48));
    QPainterPath w;
    w.moveTo(12, 15);
    w.lineTo(17.5, 34);
    w.lineTo(24, 20);
    w.lineTo(30.5, 34);
    w.lineTo(36, 15);
    p.setPen(roundPen(white, 4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(w);
}

// ---- marks ----

void selected(QPainter& p)
{
    // Sits in the card's top right corner, clear of its 15 px rounding.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x25, 0x63, 0xEB, 40));
    p.drawEllipse(QPointF(28, 28), 15, 15);
    p.setBrush(blue);
    p.drawEllipse(QPointF(28, 28), 12.5, 12.5);
    checkMark(p, QPointF(28, 28.5), 13, white, 2.8);
}

// Two screens with an arrow from the old to the new one; wide so it fits the title bar's 64 x 40.
void logoMark(QPainter& p, const QRectF& box)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 128.0, box.height() / 80.0);
    // Old screen, grey.
    roundedRect(p, QRectF(6, 20, 44, 32), 6, QColor(0x94, 0xA3, 0xB8));
    roundedRect(p, QRectF(11, 25, 34, 22), 3, white);
    roundedRect(p, QRectF(20, 55, 16, 5), 2.5, QColor(0x94, 0xA3, 0xB8));
    // New screen, blue.
    roundedRect(p, QRectF(78, 14, 46, 36), 7, blue);
    roundedRect(p, QRectF(83, 19, 36, 26), 3, white);
    roundedRect(p, QRectF(93, 53, 16, 5), 2.5, blue);
    roundedRect(p, QRectF(88, 24, 14, 3), 1.5, blueSoft);
    roundedRect(p, QRectF(88, 30, 24, 3), 1.5, blueSoft);
    roundedRect(p, QRectF(88, 36, 19, 3), 1.5, blueSoft);
    // Arrow.
    p.setPen(roundPen(blue, 6));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(30, 66);
    arc.quadTo(64, 80, 96, 64);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    QPainterPath head;
    head.moveTo(104, 60);
    head.lineTo(90, 58);
    head.lineTo(97, 71);
    head.closeSubpath();
    p.drawPath(head);
    p.restore();
}

void logo(QPainter& p)
{
    logoMark(p, QRectF(0, 0, 128, 80));
}

// The application icon: the same mark on a blue tile.
void icon(QPainter& p)
{
    QLinearGradient g(0, 0, 0, 256);
    g.setColorAt(0, QColor(0x3B, 0x82, 0xF6));
    g.setColorAt(1, blue);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(12, 12, 232, 232), 52, 52);
    // White mark: old screen outline, new screen filled, arrow between.
    roundedRect(p, QRectF(40, 70, 74, 56), 10, QColor(255, 255, 255, 150));
    roundedRect(p, QRectF(48, 78, 58, 40), 5, QColor(0x60, 0x9C, 0xF8));
    roundedRect(p, QRectF(62, 132, 30, 8), 4, QColor(255, 255, 255, 150));
    roundedRect(p, QRectF(134, 58, 86, 64), 12, white);
    roundedRect(p, QRectF(143, 67, 68, 46), 6, blueLight);
    roundedRect(p, QRectF(152, 78, 30, 6), 3, QColor(0x60, 0xA5, 0xFA));
    roundedRect(p, QRectF(152, 89, 48, 6), 3, QColor(0x60, 0xA5, 0xFA));
    roundedRect(p, QRectF(152, 100, 38, 6), 3, QColor(0x60, 0xA5, 0xFA));
    roundedRect(p, QRectF(161, 128, 32, 9), 4.5, white);
    p.setPen(roundPen(white, 12));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(76, 166);
    arc.quadTo(124, 200, 170, 166);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    QPainterPath head;
    head.moveTo(186, 154);
    head.lineTo(158, 154);
    head.lineTo(176, 182);
    head.closeSubpath();
    p.drawPath(head);
}

void background(QPainter& p)
{
    const QRectF r(0, 0, 640, 388);
    QLinearGradient g(0, 0, 0, r.height());
    g.setColorAt(0, QColor(0xF8, 0xFA, 0xFF));
    g.setColorAt(1, QColor(0xEE, 0xF3, 0xFB));
    p.fillRect(r, g);
    // Two very faint blue blooms in opposite corners.
    QRadialGradient a(QPointF(600, 20), 260);
    a.setColorAt(0, QColor(0x25, 0x63, 0xEB, 26));
    a.setColorAt(1, QColor(0x25, 0x63, 0xEB, 0));
    p.fillRect(r, a);
    QRadialGradient b(QPointF(30, 380), 300);
    b.setColorAt(0, QColor(0x60, 0xA5, 0xFA, 22));
    b.setColorAt(1, QColor(0x60, 0xA5, 0xFA, 0));
    p.fillRect(r, b);
}

// ---- animation frames ----

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
        a.blueF() + (b.blueF() - a.blueF()) * t);
}

// Twelve dots round a circle, the brightest one walking clockwise.
Painter spinnerFrame(int frame, int frames)
{
    return [frame, frames](QPainter& p) {
        p.setPen(Qt::NoPen);
        for (int i = 0; i < frames; ++i) {
            const int age = (frame - i + frames) % frames;
            const qreal t = qreal(age) / frames;
            const qreal angle = 2 * M_PI * i / frames - M_PI / 2;
            const QPointF c(16 + 11 * std::cos(angle), 16 + 11 * std::sin(angle));
            p.setBrush(mix(blue, blueLight, t));
            const qreal r = 3.4 - 1.2 * t;
            p.drawEllipse(c, r, r);
        }
    };
}

// Five dots in a row; a pulse of size and colour runs from left to right.
Painter dotsFrame(int frame, int frames)
{
    return [frame, frames](QPainter& p) {
        p.setPen(Qt::NoPen);
        const qreal phase = qreal(frame) / frames;
        for (int i = 0; i < 5; ++i) {
            qreal d = phase * 7.0 - 1.0 - i;
            const qreal pulse = (d > 0 && d < 2) ? std::sin(d / 2 * M_PI) : 0.0;
            p.setBrush(mix(blueSoft, blue, pulse));
            const qreal r = 4 + 2 * pulse;
            p.drawEllipse(QPointF(12 + i * 16, 12), r, r);
        }
    };
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        qWarning("usage: iconpainter OUTPUT_DIR FRAME_DIR");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QDir frames(QString::fromLocal8Bit(argv[2]));

    struct Still
    {
        const char* name;
        int w, h;
        Painter draw;
    };
    const Still stills[] = {
        {"newpc", 112, 104, newPc},
        {"oldpc", 112, 104, oldPc},
        {"pair", 60, 60, step(pairGlyph, false)},
        {"pair_highlight", 60, 60, step(pairGlyph, true)},
        {"selectdata", 60, 60, step(selectDataGlyph, false)},
        {"selectdata_highlight", 60, 60, step(selectDataGlyph, true)},
        {"transfer", 60, 60, step(transferGlyph, false)},
        {"transfer_highlight", 60, 60, step(transferGlyph, true)},
        {"done", 60, 60, step(doneGlyph, false)},
        {"done_highlight", 60, 60, step(doneGlyph, true)},
        {"disk", 48, 48, disk},
        {"file", 48, 48, file},
        {"folder", 48, 48, folder},
        {"user", 48, 48, user},
        {"computer", 48, 48, computer},
        {"cube", 48, 48, cube},
        {"wps", 48, 48, wps},
        {"selected", 56, 56, selected},
        {"logo", 128, 80, logo},
        {"icon", 256, 256, icon},
        {"background", 640, 388, background},
    };
    bool ok = true;
    for (const Still& s : stills)
        ok &= save(paint(s.w, s.h, s.draw), out.filePath(QString(s.name) + ".png"));

    const int spinnerFrames = 12;
    for (int f = 0; f < spinnerFrames; ++f)
        ok &= save(paint(32, 32, spinnerFrame(f, spinnerFrames)),
            frames.filePath(QString("loading_%1.png").arg(f, 2, 10, QChar('0'))));
    const int dotFrames = 14;
    for (int f = 0; f < dotFrames; ++f)
        ok &= save(paint(88, 24, dotsFrame(f, dotFrames)),
            frames.filePath(QString("loading_dots_%1.png").arg(f, 2, 10, QChar('0'))));
    return ok ? 0 : 1;
}
