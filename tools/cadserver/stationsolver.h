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
//
// Handedness: an instrument counts its horizontal angle clockwise seen from
// above, so x, y computed from it as x = d cos Hz, y = d sin Hz form a frame
// mirrored against a drawing with X east and Y north. The plane fit is
// therefore made twice, as above and with the measured frame reflected
// first (y → −y):
//
//     [X]   [s·cos ω   s·sin ω] [x]   [tx]
//     [Y] = [s·sin ω  −s·cos ω] [y] + [ty]
//
// and the one with the smaller weighted residuals is taken. When the points
// cannot tell the two apart (two points, or points on one line) or neither
// fits within reason, the set is refused.

#include <QString>
#include <QVector>

namespace Station {

struct Point3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

enum class Handedness {
    Either,     // fit both, take the better one
    Rotation,   // the measured frame as it is (horizontal angle counter-clockwise)
    Reflection, // the measured frame mirrored (horizontal angle clockwise)
};

struct Options {
    bool estimateScale = false;
    // Smallest horizontal spread (largest distance from the weighted
    // centroid, metres) that still fixes the rotation.
    double minSpread = 0.001;
    Handedness handedness = Handedness::Either;
    // Largest weighted plane RMS of the fit taken: this share of the known
    // points' weighted RMS distance from their centroid plus an allowance in
    // metres for measuring noise in small networks. Beyond it the points do
    // not belong together (wrong pairs, wrong frame) and the set is refused.
    double maxRelativeRms = 0.05;
    double rmsAllowance = 0.01;
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
    bool reflected = false; // the measured frame is mirrored (y → −y) first
    // Weighted plane RMS of the fit taken, and of the other handedness
    // (−1 when only one was fitted).
    double planeRms = 0.0;
    double otherPlaneRms = -1.0;
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
// not finite, the measured or known points lie on one spot in the plane,
// both handednesses fit alike (Either only), or the fit taken exceeds
// maxRelativeRms.
Solution solve(const QVector<Point3> &measured, const QVector<Point3> &known,
               const QVector<double> &weights, const Options &options = Options());

} // namespace Station
