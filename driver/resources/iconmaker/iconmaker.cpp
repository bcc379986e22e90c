// Draws the driver's tool-bar and arrow icons with QPainter and writes them
// into the folder given as the only argument (default: current folder).
// The pictures in driver/resources/images are this program's output; run
// it again after changing a drawing:
//   stadiolink-iconmaker driver/resources/images

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <QtMath>

#include <functional>

namespace {

const int Size = 32;

QImage canvas()
{
    QImage img(Size, Size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

bool save(const QImage &img, const QString &dir, const QString &name)
{
    const QString path = QDir(dir).filePath(name);
    QImageWriter writer(path);
    if (!writer.write(img)) {
        QTextStream(stderr) << "cannot write " << path << ": " << writer.errorString() << '\n';
        return false;
    }
    return true;
}

QImage draw(const std::function<void(QPainter &)> &paint)
{
    QImage img = canvas();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return img;
}

// A plug: body with two prongs pointing right, cable to the left.
void plug(QPainter &p, const QColor &body, qreal dx)
{
    p.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(2, 16), QPointF(8 + dx, 16));
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(8 + dx, 9, 9, 14), 2, 2);
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(QRectF(17 + dx, 11, 5, 2.5));
    p.drawRect(QRectF(17 + dx, 18.5, 5, 2.5));
}

// A socket on the right edge.
void socket(QPainter &p, const QColor &body, qreal dx)
{
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(22 + dx, 8, 8 - dx, 16), 2, 2);
    p.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
}

QImage connectIcon()
{
    return draw([](QPainter &p) {
        plug(p, QColor(46, 160, 67), 0);
        socket(p, QColor(46, 160, 67), 0);
    });
}

QImage disconnectIcon()
{
    return draw([](QPainter &p) {
        plug(p, QColor(200, 50, 50), -5);
        socket(p, QColor(200, 50, 50), 0);
        p.setPen(QPen(QColor(200, 50, 50), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 5), QPointF(21, 9));
        p.drawLine(QPointF(19, 27), QPointF(21, 23));
    });
}

QImage settingsIcon()
{
    return draw([](QPainter &p) {
        QPainterPath gear;
        const QPointF c(16, 16);
        const int teeth = 8;
        for (int i = 0; i < teeth * 2; ++i) {
            const qreal a0 = (i - 0.35) * M_PI / teeth;
            const qreal a1 = (i + 0.35) * M_PI / teeth;
            const qreal r = (i % 2 == 0) ? 14.0 : 10.5;
            const QPointF p0 = c + QPointF(r * qCos(a0), r * qSin(a0));
            const QPointF p1 = c + QPointF(r * qCos(a1), r * qSin(a1));
            if (i == 0)
                gear.moveTo(p0);
            else
                gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        gear.addEllipse(c, 4.5, 4.5);
        gear.setFillRule(Qt::OddEvenFill);
        p.setPen(QPen(QColor(50, 60, 80), 1));
        p.setBrush(QColor(110, 125, 150));
        p.drawPath(gear);
    });
}

// The instrument's laser pointer: a small telescope with a beam.
QImage laserIcon(bool on)
{
    return draw([on](QPainter &p) {
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(QColor(230, 180, 40));
        p.drawRoundedRect(QRectF(2, 11, 12, 10), 2, 2);
        p.setBrush(QColor(80, 80, 80));
        p.drawRect(QRectF(14, 13, 3, 6));
        if (on) {
            QLinearGradient beam(17, 16, 31, 16);
            beam.setColorAt(0, QColor(255, 0, 0, 255));
            beam.setColorAt(1, QColor(255, 60, 60, 120));
            p.setPen(Qt::NoPen);
            p.setBrush(beam);
            p.drawPolygon(QPolygonF({QPointF(17, 14.5), QPointF(31, 11), QPointF(31, 21),
                                     QPointF(17, 17.5)}));
            p.setBrush(QColor(255, 0, 0));
            p.drawEllipse(QPointF(28, 16), 3, 3);
        } else {
            p.setPen(QPen(QColor(150, 150, 150), 1.5, Qt::DashLine));
            p.drawLine(QPointF(18, 16), QPointF(30, 16));
        }
    });
}

// A filled arrow pointing right, rotated by the given angle in degrees.
QImage arrowIcon(qreal degrees)
{
    return draw([degrees](QPainter &p) {
        p.translate(16, 16);
        p.rotate(degrees);
        const QPolygonF arrow({QPointF(-12, -4), QPointF(2, -4), QPointF(2, -11),
                               QPointF(13, 0), QPointF(2, 11), QPointF(2, 4),
                               QPointF(-12, 4)});
        p.setPen(QPen(QColor(20, 60, 130), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QLinearGradient fill(0, -11, 0, 11);
        fill.setColorAt(0, QColor(90, 150, 235));
        fill.setColorAt(1, QColor(40, 95, 190));
        p.setBrush(fill);
        p.drawPolygon(arrow);
    });
}

// An open door with an arrow leaving it.
QImage exitIcon()
{
    return draw([](QPainter &p) {
        p.setPen(QPen(QColor(70, 50, 30), 1));
        p.setBrush(QColor(150, 105, 60));
        p.drawRect(QRectF(4, 3, 14, 26));
        p.setBrush(QColor(110, 75, 40));
        p.drawPolygon(QPolygonF({QPointF(4, 3), QPointF(12, 6), QPointF(12, 31),
                                 QPointF(4, 29)}));
        p.setPen(QPen(QColor(200, 40, 40), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(16, 16), QPointF(29, 16));
        p.drawLine(QPointF(24, 11), QPointF(29, 16));
        p.drawLine(QPointF(24, 21), QPointF(29, 16));
    });
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    bool ok = true;
    ok &= save(connectIcon(), dir, QStringLiteral("connect.ico"));
    ok &= save(disconnectIcon(), dir, QStringLiteral("disconnect.ico"));
    ok &= save(settingsIcon(), dir, QStringLiteral("settings.ico"));
    ok &= save(laserIcon(true), dir, QStringLiteral("laser on.ico"));
    ok &= save(laserIcon(false), dir, QStringLiteral("laser off.ico"));
    ok &= save(arrowIcon(-90), dir, QStringLiteral("up.png"));
    ok &= save(arrowIcon(90), dir, QStringLiteral("down.png"));
    ok &= save(arrowIcon(180), dir, QStringLiteral("left.png"));
    ok &= save(arrowIcon(0), dir, QStringLiteral("right.png"));
    ok &= save(exitIcon(), dir, QStringLiteral("application-exit.png"));
    return ok ? 0 : 1;
}
