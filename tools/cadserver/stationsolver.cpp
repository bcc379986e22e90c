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
    const double y = reflected ? -p.y : p.y;
    return Point3{a * p.x - b * y + tx, b * p.x + a * y + ty, p.z + tz};
}

void Solution::matrix(double out[16]) const
{
    const double a = scale * std::cos(omega);
    const double b = scale * std::sin(omega);
    const double r = reflected ? -1.0 : 1.0;
    const double m[16] = {a, -b * r, 0, tx,
                          b, a * r, 0, ty,
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

typedef Eigen::Matrix<double, 2, Eigen::Dynamic> Points2;

// Weighted plane fit of centred points a onto centred points b.
struct PlaneFit {
    double omega = 0.0;
    double scale = 1.0;
    double weightedSquares = 0.0; // Σ w |b − s·R(ω)·a|²
};

PlaneFit fitPlane(const Points2 &a, const Points2 &b, const Eigen::VectorXd &w, bool estimateScale)
{
    // H = Σ w·a·bᵀ; the plane fit needs only its rotation-invariant parts.
    const Eigen::Matrix2d h = a * w.asDiagonal() * b.transpose();
    const double sc = h(0, 0) + h(1, 1); // Σ w (a·b)
    const double ss = h(0, 1) - h(1, 0); // Σ w (a×b)
    const double saa = (a.array().square().colwise().sum().transpose() * w.array()).sum();
    PlaneFit f;
    f.omega = std::atan2(ss, sc);
    if (estimateScale) {
        // Linear in (s·cos ω, s·sin ω): the normal equations are diagonal
        // about the centroids.
        f.scale = std::hypot(sc, ss) / saa;
    }
    Eigen::Matrix2d r;
    const double c = f.scale * std::cos(f.omega), sn = f.scale * std::sin(f.omega);
    r << c, -sn, sn, c;
    f.weightedSquares = ((b - r * a).colwise().squaredNorm().transpose().array() * w.array()).sum();
    return f;
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
    Points2 mirrored = a;
    mirrored.row(1) *= -1.0;
    const bool tryRotation = options.handedness != Handedness::Reflection;
    const bool tryReflection = options.handedness != Handedness::Rotation;
    const PlaneFit rotation = tryRotation ? fitPlane(a, b, w, options.estimateScale) : PlaneFit();
    const PlaneFit reflection = tryReflection ? fitPlane(mirrored, b, w, options.estimateScale) : PlaneFit();
    const double rotationRms = tryRotation ? std::sqrt(rotation.weightedSquares / wSum) : -1.0;
    const double reflectionRms = tryReflection ? std::sqrt(reflection.weightedSquares / wSum) : -1.0;
    const bool reflected = !tryRotation || (tryReflection && reflectionRms < rotationRms);
    const PlaneFit &fit = reflected ? reflection : rotation;
    const double planeRms = reflected ? reflectionRms : rotationRms;
    const double otherRms = reflected ? rotationRms : reflectionRms;
    const QString both = QStringLiteral("plane rms %1 m as a rotation, %2 m reflected")
                             .arg(rotationRms, 0, 'f', 4).arg(reflectionRms, 0, 'f', 4);

    // Wrong pairs or a wrong frame leave residuals of the size of the
    // network itself; a blunder of a few decimetres is still solved, so that
    // the operator sees it in the deviations.
    const double knownRms = std::sqrt((b.colwise().squaredNorm().transpose().array() * w.array()).sum() / wSum);
    if (planeRms > options.maxRelativeRms * knownRms + options.rmsAllowance) {
        const QString fits = tryRotation && tryReflection
                                 ? both
                                 : QStringLiteral("plane rms %1 m").arg(planeRms, 0, 'f', 4);
        return refuse(QStringLiteral("the measured points fit the known ones in neither frame: %1, more than "
                                     "%2 % of the known points' spread of %3 m plus %4 m")
                          .arg(fits)
                          .arg(options.maxRelativeRms * 100, 0, 'g', 3)
                          .arg(knownRms, 0, 'f', 3)
                          .arg(options.rmsAllowance, 0, 'g', 3));
    }
    if (tryRotation && tryReflection && !(otherRms > 2.0 * planeRms && otherRms - planeRms > 1e-4))
        return refuse(QStringLiteral("the points cannot tell a mirrored instrument frame from a turned "
                                     "one (two points, or points on a line): %1")
                          .arg(both));

    Solution s;
    s.ok = true;
    s.omega = fit.omega;
    s.scale = fit.scale;
    s.reflected = reflected;
    s.planeRms = planeRms;
    s.otherPlaneRms = otherRms;
    const double c = s.scale * std::cos(s.omega);
    const double sn = s.scale * std::sin(s.omega);
    Eigen::Matrix2d r;
    r << c, -sn, sn, c;
    if (reflected)
        r.col(1) *= -1.0;
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
