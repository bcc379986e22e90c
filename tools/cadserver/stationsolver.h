#pragma once
// Station solve for a levelled total station.
//
// The instrument's vertical axis is plumb, so its frame differs from the
// drawing frame by a rotation about the vertical axis, a horizontal shift
// and a height shift (and, when asked for, a horizontal scale):
//
//     [X]   [s·cos ω  −s·sin ω] [x]   [tx]
//     [Y] = [s·sin ω   s·cos ω] [y] + [ty],      Z = z + tz
//
// The plane part is a weighted least-squares fit of the measured points
// (instrument frame) to their known coordinates (drawing frame); the
// height shift is the weighted mean of the height differences. The fit is
// done about the weighted centroids, so shifts of millions of metres cost no
// precision.

#include <QString>
#include <QVector>

namespace Station {

struct Point3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct Options {
    bool estimateScale = false;
    // Smallest horizontal spread (largest distance from the weighted
    // centroid, metres) that still fixes the rotation.
    double minSpread = 0.001;
};

struct Residual {
    double dx = 0.0; // known − mapped measured
    double dy = 0.0;
    double dz = 0.0;
    double horizontal() const;
    double length() const;
};

struct Solution {
    bool ok = false;
    QString error;          // why the input was refused (ok false)
    double omega = 0.0;     // rotation, radians, counter-clockwise
    double scale = 1.0;
    double tx = 0.0, ty = 0.0, tz = 0.0;
    QVector<Residual> residuals; // one per point, input order
    double rmsHorizontal = 0.0;  // sqrt(mean(dx² + dy²))
    double rmsHeight = 0.0;      // sqrt(mean(dz²))
    double rms = 0.0;            // sqrt(mean(dx² + dy² + dz²))

    // Maps a point of the instrument frame into the drawing frame.
    Point3 map(const Point3 &p) const;
    // The 4x4 matrix row by row: measured homogeneous → drawing.
    void matrix(double out[16]) const;
};

// Refuses (ok false, error set) when the lists differ in length, hold fewer
// than two points, a weight is not a positive finite number, a coordinate is
// not finite, or the measured or known points lie on one spot in the plane.
Solution solve(const QVector<Point3> &measured, const QVector<Point3> &known,
               const QVector<double> &weights, const Options &options = Options());

} // namespace Station
