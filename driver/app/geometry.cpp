#include "geometry.h"

#include <QDebug>

#include <cmath>

namespace {

struct StationMatrix {
    QMatrix4x4 matrix;      // identity until the server sends one
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}; // row, column
    bool received = false;
};

StationMatrix &station()
{
    static StationMatrix s;
    return s;
}

} // namespace

void polarToCartesian(double hz, double v, double d, double &x, double &y, double &z)
{
    const double horizontal = d * std::sin(v);
    x = horizontal * std::cos(hz);
    y = horizontal * std::sin(hz);
    z = d * std::cos(v);
}

QString formatAngle(double rad)
{
    if (!std::isfinite(rad))
        return QString();
    const double f = rad * 57.29577951308232;
    // Rounded once to hundredths of an arc second, so that 59.995″ carries
    // into the next minute instead of showing 60.00″.
    const double total = std::round(std::fabs(f) * 360000.0);
    const double degrees = std::floor(total / 360000.0);
    const double rest = total - degrees * 360000.0;
    const double minutes = std::floor(rest / 6000.0);
    const int hundredths = static_cast<int>(rest - minutes * 6000.0);
    const QString sign = f < 0 && total > 0 ? QStringLiteral("-") : QString();
    return QStringLiteral("%1%2° %3′ %4.%5″")
        .arg(sign, QString::number(degrees, 'f', 0), QString::number(minutes, 'f', 0),
             QString::number(hundredths / 100))
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

void setStationMatrix(const double rowMajor[16])
{
    StationMatrix &s = station();
    float f[16];
    for (int i = 0; i < 16; ++i) {
        s.m[i / 4][i % 4] = rowMajor[i];
        f[i] = static_cast<float>(rowMajor[i]);
    }
    s.matrix = QMatrix4x4(f);
    s.received = true;
}

void setStationMatrix(const QMatrix4x4 &m)
{
    StationMatrix &s = station();
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            s.m[row][column] = m(row, column);
    }
    s.matrix = m;
    s.received = true;
}

void mapWithStationMatrix(double x, double y, double z, double &xOut, double &yOut, double &zOut)
{
    const double (&m)[4][4] = station().m;
    double r[3];
    for (int row = 0; row < 3; ++row)
        r[row] = m[row][0] * x + m[row][1] * y + m[row][2] * z + m[row][3];
    xOut = r[0];
    yOut = r[1];
    zOut = r[2];
}

bool logStationMatrix()
{
    const double (&m)[4][4] = station().m;
    for (int row = 0; row < 3; ++row) {
        QString line;
        for (int column = 0; column < 3; ++column)
            line += QString::number(m[row][column], 'g', 6) + QLatin1Char(' ');
        qDebug().noquote() << line.trimmed();
    }
    return station().received;
}

const QMatrix4x4 &stationMatrix()
{
    return station().matrix;
}

bool stationMatrixReceived()
{
    return station().received;
}

void resetStationMatrix()
{
    station() = StationMatrix();
}

StationPose stationPose()
{
    const double (&m)[4][4] = station().m;
    StationPose pose;
    pose.x = m[0][3];
    pose.y = m[1][3];
    pose.z = m[2][3];
    // The image of the instrument's x axis, whether the plane block is a
    // rotation or a rotation after a reflection.
    const double fullCircle = 6.283185307179586;
    double orientation = std::atan2(m[1][0], m[0][0]);
    if (orientation < 0)
        orientation += fullCircle;
    pose.orientation = orientation >= fullCircle ? 0.0 : orientation;
    pose.scale = std::hypot(m[0][0], m[1][0]);
    pose.mirrored = m[0][0] * m[1][1] - m[0][1] * m[1][0] < 0;
    return pose;
}
