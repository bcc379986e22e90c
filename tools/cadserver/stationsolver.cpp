#include "stationsolver.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace Station {

double Residual::horizontal() const
{
    return std::hypot(dx, dy);
}

double Residual::length() const
{
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

Point3 Solution::map(const Point3 &p) const
{
    const double a = scale * std::cos(omega);
    const double b = scale * std::sin(omega);
    return Point3{a * p.x - b * p.y + tx, b * p.x + a * p.y + ty, p.z + tz};
}

void Solution::matrix(double out[16]) const
{
    const double a = scale * std::cos(omega);
    const double b = scale * std::sin(omega);
    const double m[16] = {a, -b, 0, tx,
                          b, a, 0, ty,
                          0, 0, 1, tz,
                          0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        out[i] = m[i];
}

namespace {

bool finite(const Point3 &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

Solution refuse(const QString &why)
{
    Solution s;
    s.error = why;
    return s;
}

} // namespace

Solution solve(const QVector<Point3> &measured, const QVector<Point3> &known,
               const QVector<double> &weights, const Options &options)
{
    const int n = measured.size();
    if (known.size() != n)
        return refuse(QStringLiteral("%1 measured points but %2 known points")
                          .arg(n).arg(known.size()));
    if (weights.size() != n)
        return refuse(QStringLiteral("%1 points but %2 weights").arg(n).arg(weights.size()));
    if (n < 2)
        return refuse(QStringLiteral("at least 2 points are needed, got %1").arg(n));
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(weights[i]) || weights[i] <= 0.0)
            return refuse(QStringLiteral("weight of point %1 is %2; weights must be positive")
                              .arg(i + 1).arg(weights[i]));
        if (!finite(measured[i]) || !finite(known[i]))
            return refuse(QStringLiteral("point %1 has a coordinate that is not a number")
                              .arg(i + 1));
    }

    // Only the ratios of the weights matter; relative to the largest they
    // neither overflow nor underflow in the sums below.
    double wMax = 0.0;
    for (double w : weights)
        wMax = std::max(wMax, w);
    QVector<double> wn(n);
    for (int i = 0; i < n; ++i)
        wn[i] = weights[i] / wMax;

    // Weighted centroids. Coordinates are taken relative to the first point
    // first, so large drawing coordinates do not swamp the sums.
    const Eigen::Vector2d m0(measured[0].x, measured[0].y);
    const Eigen::Vector2d k0(known[0].x, known[0].y);
    double wSum = 0.0;
    Eigen::Vector2d mc = Eigen::Vector2d::Zero();
    Eigen::Vector2d kc = Eigen::Vector2d::Zero();
    double dzSum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double w = wn[i];
        wSum += w;
        mc += w * (Eigen::Vector2d(measured[i].x, measured[i].y) - m0);
        kc += w * (Eigen::Vector2d(known[i].x, known[i].y) - k0);
        dzSum += w * (known[i].z - measured[i].z);
    }
    mc /= wSum;
    kc /= wSum;

    // Centred coordinates, their spread and the weighted cross products.
    Eigen::Matrix<double, 2, Eigen::Dynamic> a(2, n), b(2, n);
    for (int i = 0; i < n; ++i) {
        a.col(i) = Eigen::Vector2d(measured[i].x, measured[i].y) - m0 - mc;
        b.col(i) = Eigen::Vector2d(known[i].x, known[i].y) - k0 - kc;
    }
    const double measuredSpread = a.colwise().norm().maxCoeff();
    const double knownSpread = b.colwise().norm().maxCoeff();
    if (measuredSpread < options.minSpread)
        return refuse(QStringLiteral("the measured points lie on one spot (spread %1 m)")
                          .arg(measuredSpread, 0, 'g', 3));
    if (knownSpread < options.minSpread)
        return refuse(QStringLiteral("the known points lie on one spot (spread %1 m)")
                          .arg(knownSpread, 0, 'g', 3));

    const Eigen::VectorXd w = Eigen::Map<const Eigen::VectorXd>(wn.constData(), n);
    // H = Σ w·a·bᵀ; the plane fit needs only its rotation-invariant parts.
    const Eigen::Matrix2d h = a * w.asDiagonal() * b.transpose();
    const double sc = h(0, 0) + h(1, 1); // Σ w (a·b)
    const double ss = h(0, 1) - h(1, 0); // Σ w (a×b)
    const double saa = (a.array().square().colwise().sum().transpose() * w.array()).sum();

    Solution s;
    s.ok = true;
    s.omega = std::atan2(ss, sc);
    if (options.estimateScale) {
        // Linear in (s·cos ω, s·sin ω): the normal equations are diagonal
        // about the centroids.
        s.scale = std::hypot(sc, ss) / saa;
    }
    const double c = s.scale * std::cos(s.omega);
    const double sn = s.scale * std::sin(s.omega);
    Eigen::Matrix2d r;
    r << c, -sn, sn, c;
    const Eigen::Vector2d mCentroid = m0 + mc;
    const Eigen::Vector2d kCentroid = k0 + kc;
    const Eigen::Vector2d t = kCentroid - r * mCentroid;
    s.tx = t.x();
    s.ty = t.y();
    s.tz = dzSum / wSum;

    // Residuals from the centred coordinates (no cancellation of large
    // translations).
    double sumH = 0.0, sumZ = 0.0;
    s.residuals.reserve(n);
    for (int i = 0; i < n; ++i) {
        const Eigen::Vector2d d = b.col(i) - r * a.col(i);
        Residual res;
        res.dx = d.x();
        res.dy = d.y();
        res.dz = (known[i].z - measured[i].z) - s.tz;
        sumH += res.dx * res.dx + res.dy * res.dy;
        sumZ += res.dz * res.dz;
        s.residuals.append(res);
    }
    s.rmsHorizontal = std::sqrt(sumH / n);
    s.rmsHeight = std::sqrt(sumZ / n);
    s.rms = std::sqrt((sumH + sumZ) / n);
    return s;
}

} // namespace Station
