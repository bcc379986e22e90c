// Station solve: known transforms recovered from noisy points in either
// handedness of the instrument frame, scale on request, weights, and refusal
// of input that fixes no transform.
#include "stationsolver.h"

#include <QtTest>

#include <cmath>
#include <random>

using Station::Point3;

Q_DECLARE_METATYPE(Station::Point3)

namespace {

struct Truth {
    double omega = 0.0;
    double scale = 1.0;
    double tx = 0.0, ty = 0.0, tz = 0.0;
    bool reflected = false; // the instrument counts its horizontal angle clockwise
    Point3 map(const Point3 &p) const
    {
        const double c = scale * std::cos(omega), s = scale * std::sin(omega);
        const double y = reflected ? -p.y : p.y;
        return Point3{c * p.x - s * y + tx, s * p.x + c * y + ty, p.z + tz};
    }
};

Station::Options fixedHandedness(Station::Handedness h = Station::Handedness::Rotation)
{
    Station::Options o;
    o.handedness = h;
    return o;
}

// A spread of instrument-frame points around the station, as a free station
// would see them (tens of metres away, heights within a few metres).
QVector<Point3> stationPoints(int n, std::mt19937 &rng)
{
    std::uniform_real_distribution<double> horiz(-120.0, 120.0);
    std::uniform_real_distribution<double> height(-3.0, 5.0);
    QVector<Point3> pts;
    for (int i = 0; i < n; ++i)
        pts.append(Point3{horiz(rng), horiz(rng), height(rng)});
    return pts;
}

QVector<Point3> mapAll(const Truth &t, const QVector<Point3> &pts, double sigma,
                       std::mt19937 &rng)
{
    std::normal_distribution<double> noise(0.0, sigma > 0 ? sigma : 1.0);
    QVector<Point3> out;
    for (const Point3 &p : pts) {
        Point3 q = t.map(p);
        if (sigma > 0) {
            q.x += noise(rng);
            q.y += noise(rng);
            q.z += noise(rng);
        }
        out.append(q);
    }
    return out;
}

double angleDiff(double a, double b)
{
    return std::remainder(a - b, 2 * M_PI);
}

} // namespace

class TestStationSolver : public QObject
{
    Q_OBJECT

private slots:
    void recoversKnownTransform_data();
    void recoversKnownTransform();
    void exactDataLeavesNoResiduals();
    void twoPointsAreEnough();
    void mirroredFrameIsRecognised_data();
    void mirroredFrameIsRecognised();
    void refusesWhatFitsNeitherOrBoth();
    void residualSignAndRms();
    void heightIsWeightedMeanOffset();
    void scaleFixedUnlessAsked();
    void downWeightedOutlierBarelyMovesResult();
    void onlyWeightRatiosMatter();
    void matrixLayoutMatchesMapping();
    void refusesDegenerateInput_data();
    void refusesDegenerateInput();
    void spreadThreshold();
};

void TestStationSolver::recoversKnownTransform_data()
{
    QTest::addColumn<double>("omega");
    QTest::addColumn<double>("tx");
    QTest::addColumn<double>("ty");
    QTest::addColumn<double>("tz");
    QTest::newRow("no rotation") << 0.0 << 1000.0 << -250.0 << 12.5;
    QTest::newRow("small rotation, millions") << 0.3 << 6500000.0 << 5800000.0 << 152.3;
    QTest::newRow("negative, third quadrant") << -2.5 << 3400000.0 << 7200000.0 << -4.0;
    QTest::newRow("near half turn") << M_PI - 0.001 << 500000.0 << 6100000.0 << 0.0;
    QTest::newRow("past half turn") << -M_PI + 0.002 << -2000000.0 << 4000000.0 << 1200.0;
    QTest::newRow("quarter turn") << M_PI / 2 << 0.0 << 0.0 << 0.0;
}

void TestStationSolver::recoversKnownTransform()
{
    QFETCH(double, omega);
    QFETCH(double, tx);
    QFETCH(double, ty);
    QFETCH(double, tz);
    std::mt19937 rng(4711);
    const Truth truth{omega, 1.0, tx, ty, tz};
    const QVector<Point3> measured = stationPoints(8, rng);
    const QVector<Point3> known = mapAll(truth, measured, 0.002, rng); // 2 mm noise
    const QVector<double> weights(measured.size(), 1.0);

    const Station::Solution s = Station::solve(measured, known, weights);
    QVERIFY2(s.ok, qPrintable(s.error));
    QVERIFY2(std::abs(angleDiff(s.omega, omega)) < 5e-5,
             qPrintable(QString::number(s.omega - omega)));
    QCOMPARE(s.scale, 1.0);
    QVERIFY2(std::abs(s.tx - tx) < 0.01, qPrintable(QString::number(s.tx - tx)));
    QVERIFY2(std::abs(s.ty - ty) < 0.01, qPrintable(QString::number(s.ty - ty)));
    QVERIFY2(std::abs(s.tz - tz) < 0.005, qPrintable(QString::number(s.tz - tz)));
    // Residuals of the size of the noise, not of the shift.
    QCOMPARE(s.residuals.size(), measured.size());
    QVERIFY2(s.rms > 0.0005 && s.rms < 0.008, qPrintable(QString::number(s.rms)));
    for (int i = 0; i < measured.size(); ++i) {
        const Point3 m = s.map(measured[i]);
        QVERIFY(std::abs((known[i].x - m.x) - s.residuals[i].dx) < 1e-6);
        QVERIFY(std::abs((known[i].y - m.y) - s.residuals[i].dy) < 1e-6);
        QVERIFY(std::abs((known[i].z - m.z) - s.residuals[i].dz) < 1e-9);
    }
}

void TestStationSolver::exactDataLeavesNoResiduals()
{
    std::mt19937 rng(1);
    const Truth truth{1.234, 1.0, 6543210.987, 5432109.876, 98.765};
    const QVector<Point3> measured = stationPoints(5, rng);
    const QVector<Point3> known = mapAll(truth, measured, 0.0, rng);
    const Station::Solution s = Station::solve(measured, known, {1, 0.5, 0.25, 1, 0.75});
    QVERIFY(s.ok);
    QVERIFY2(std::abs(s.omega - 1.234) < 1e-10, qPrintable(QString::number(s.omega - 1.234)));
    QVERIFY(std::abs(s.tx - truth.tx) < 1e-6);
    QVERIFY(std::abs(s.ty - truth.ty) < 1e-6);
    QVERIFY(std::abs(s.tz - truth.tz) < 1e-9);
    QVERIFY2(s.rms < 1e-6, qPrintable(QString::number(s.rms)));
}

void TestStationSolver::twoPointsAreEnough()
{
    // Two points fit a turned and a mirrored frame alike: only with the
    // handedness given do they fix the station.
    const QVector<Point3> measured{{10, 0, 1}, {0, 10, 2}};
    const Truth truth{-0.7, 1.0, 100, 200, 10};
    std::mt19937 rng(2);
    const QVector<Point3> known = mapAll(truth, measured, 0, rng);
    const Station::Solution either = Station::solve(measured, known, {1, 1});
    QVERIFY(!either.ok);
    QVERIFY2(either.error.contains("cannot tell a mirrored"), qPrintable(either.error));
    const Station::Solution s = Station::solve(measured, known, {1, 1}, fixedHandedness());
    QVERIFY2(s.ok, qPrintable(s.error));
    QVERIFY(!s.reflected);
    QVERIFY(std::abs(s.omega + 0.7) < 1e-12);
    QVERIFY(std::abs(s.tx - 100) < 1e-9 && std::abs(s.ty - 200) < 1e-9);
    QVERIFY(s.rms < 1e-9);
}

void TestStationSolver::mirroredFrameIsRecognised_data()
{
    QTest::addColumn<bool>("reflected");
    QTest::addColumn<double>("omega");
    QTest::newRow("clockwise instrument, 200 degrees") << true << 200.0 * M_PI / 180.0;
    QTest::newRow("clockwise instrument, -10 degrees") << true << -10.0 * M_PI / 180.0;
    QTest::newRow("counter-clockwise instrument, 200 degrees") << false << 200.0 * M_PI / 180.0;
}

void TestStationSolver::mirroredFrameIsRecognised()
{
    QFETCH(bool, reflected);
    QFETCH(double, omega);
    std::mt19937 rng(2024);
    Truth truth{omega, 1.0, 6512345.678, 5678901.234, 152.3};
    truth.reflected = reflected;
    const QVector<Point3> measured = stationPoints(5, rng);
    const QVector<Point3> known = mapAll(truth, measured, 0.003, rng);
    const Station::Solution s = Station::solve(measured, known, QVector<double>(5, 1.0));
    QVERIFY2(s.ok, qPrintable(s.error));
    QCOMPARE(s.reflected, reflected);
    QVERIFY2(s.planeRms < 0.01, qPrintable(QString::number(s.planeRms)));
    QVERIFY2(s.otherPlaneRms > 10.0, qPrintable(QString::number(s.otherPlaneRms)));
    // The matrix maps the measured points onto the drawing, and its
    // residuals are those of the mapping, to a tenth of a millimetre at
    // grid coordinates.
    double m[16];
    s.matrix(m);
    for (int i = 0; i < measured.size(); ++i) {
        const Point3 &p = measured[i];
        const double X = m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3];
        const double Y = m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7];
        QVERIFY(std::abs((known[i].x - X) - s.residuals[i].dx) < 1e-4);
        QVERIFY(std::abs((known[i].y - Y) - s.residuals[i].dy) < 1e-4);
        QVERIFY(std::abs(s.residuals[i].horizontal()) < 0.02);
    }
    // The plane block is a rotation times a mirror: its determinant is -1.
    QVERIFY(std::abs(m[0] * m[5] - m[1] * m[4] - (reflected ? -1.0 : 1.0)) < 1e-12);

    // Given the wrong handedness, the fit is refused, not returned.
    const Station::Solution wrong = Station::solve(
        measured, known, QVector<double>(5, 1.0),
        fixedHandedness(reflected ? Station::Handedness::Rotation : Station::Handedness::Reflection));
    QVERIFY(!wrong.ok);
    QVERIFY2(wrong.error.contains("fit the known ones in neither frame"), qPrintable(wrong.error));
}

void TestStationSolver::refusesWhatFitsNeitherOrBoth()
{
    // Points on one line fit a mirrored frame as well as a turned one.
    const QVector<Point3> line{{0, 0, 0}, {10, 10, 0}, {25, 25, 1}};
    Truth truth{1.0, 1.0, 1000, 2000, 5};
    std::mt19937 rng(5);
    const QVector<Point3> known = mapAll(truth, line, 0.001, rng);
    Station::Solution s = Station::solve(line, known, {1, 1, 1});
    QVERIFY(!s.ok);
    QVERIFY2(s.error.contains("cannot tell a mirrored"), qPrintable(s.error));
    QVERIFY(Station::solve(line, known, {1, 1, 1}, fixedHandedness()).ok);

    // Known points paired with the wrong measured ones fit in neither.
    const QVector<Point3> measured = stationPoints(5, rng);
    QVector<Point3> shuffled = mapAll(truth, measured, 0, rng);
    std::swap(shuffled[0], shuffled[3]);
    std::swap(shuffled[1], shuffled[4]);
    s = Station::solve(measured, shuffled, QVector<double>(5, 1.0));
    QVERIFY(!s.ok);
    QVERIFY2(s.error.contains("in neither frame"), qPrintable(s.error));

    // A blunder of 30 cm in a network of a hundred metres is still solved:
    // the operator is to see it in the deviations.
    QVector<Point3> blunder = mapAll(truth, measured, 0, rng);
    blunder[2].x += 0.3;
    s = Station::solve(measured, blunder, QVector<double>(5, 1.0));
    QVERIFY2(s.ok, qPrintable(s.error));
    QVERIFY(s.residuals[2].dx > 0.15);
}

void TestStationSolver::residualSignAndRms()
{
    // Pure shift; the third known point lies 3 cm higher and 6 cm further
    // east than the others agree on.
    const QVector<Point3> measured{{0, 0, 0}, {50, 0, 0}, {0, 50, 0}};
    QVector<Point3> known{{1000, 2000, 100}, {1050, 2000, 100}, {1000, 2050, 100}};
    known[2].z += 0.03;
    const Station::Solution s = Station::solve(measured, known, {1, 1, 1});
    QVERIFY(s.ok);
    QVERIFY(std::abs(s.tz - 100.01) < 1e-9);
    QVERIFY(std::abs(s.residuals[2].dz - 0.02) < 1e-9);  // known − mapped: above
    QVERIFY(std::abs(s.residuals[0].dz + 0.01) < 1e-9);
    QVERIFY(std::abs(s.rmsHeight - std::sqrt(0.0006 / 3)) < 1e-12);
    QVERIFY(std::abs(s.rmsHorizontal) < 1e-9);

    known[2].x += 0.06;
    const Station::Solution e = Station::solve(measured, known, {1, 1, 1});
    QVERIFY(e.ok);
    QVERIFY(e.residuals[2].dx > 0.0);
    double sum = 0.0;
    for (const Station::Residual &r : e.residuals)
        sum += r.dx * r.dx + r.dy * r.dy + r.dz * r.dz;
    QVERIFY(std::abs(e.rms - std::sqrt(sum / 3)) < 1e-12);
    QVERIFY(e.rmsHorizontal > 0.01);
}

void TestStationSolver::heightIsWeightedMeanOffset()
{
    const QVector<Point3> measured{{0, 0, 1.0}, {30, 0, 2.0}};
    const QVector<Point3> known{{0, 0, 1.1}, {30, 0, 2.4}};
    const Station::Solution s = Station::solve(measured, known, {0.75, 0.25}, fixedHandedness());
    QVERIFY(s.ok);
    QVERIFY(std::abs(s.tz - (0.75 * 0.1 + 0.25 * 0.4)) < 1e-12);
}

void TestStationSolver::scaleFixedUnlessAsked()
{
    std::mt19937 rng(99);
    const Truth truth{0.8, 1.0005, 4500000.0, 6600000.0, 50.0}; // 500 ppm
    const QVector<Point3> measured = stationPoints(10, rng);
    const QVector<Point3> known = mapAll(truth, measured, 0.001, rng);
    const QVector<double> weights(measured.size(), 1.0);

    const Station::Solution fixed = Station::solve(measured, known, weights);
    QVERIFY(fixed.ok);
    QCOMPARE(fixed.scale, 1.0);

    Station::Options opt;
    opt.estimateScale = true;
    const Station::Solution est = Station::solve(measured, known, weights, opt);
    QVERIFY(est.ok);
    QVERIFY2(std::abs(est.scale - 1.0005) < 2e-5, qPrintable(QString::number(est.scale, 'g', 10)));
    QVERIFY(std::abs(angleDiff(est.omega, 0.8)) < 5e-5);
    QVERIFY(std::abs(est.tx - truth.tx) < 0.01 && std::abs(est.ty - truth.ty) < 0.01);
    // Holding the scale at 1 leaves the 500 ppm in the residuals.
    QVERIFY2(fixed.rmsHorizontal > 3 * est.rmsHorizontal,
             qPrintable(QStringLiteral("%1 vs %2").arg(fixed.rmsHorizontal).arg(est.rmsHorizontal)));

    // The matrix carries the scale in its plane block only.
    double m[16];
    est.matrix(m);
    QVERIFY(std::abs(std::hypot(m[0], m[4]) - est.scale) < 1e-12);
    QCOMPARE(m[10], 1.0);
}

void TestStationSolver::downWeightedOutlierBarelyMovesResult()
{
    std::mt19937 rng(7);
    const Truth truth{2.0, 1.0, 700000.0, 5100000.0, 20.0};
    QVector<Point3> measured = stationPoints(6, rng);
    QVector<Point3> known = mapAll(truth, measured, 0.0, rng);
    // Seventh point: the known coordinates are half a metre off.
    measured.append(Point3{80, -60, 1});
    Point3 bad = truth.map(measured.last());
    bad.x += 0.5;
    bad.y -= 0.4;
    bad.z += 0.3;
    known.append(bad);

    QVector<double> weights(7, 1.0);
    const Station::Solution even = Station::solve(measured, known, weights);
    weights[6] = 1e-6;
    const Station::Solution down = Station::solve(measured, known, weights);
    QVERIFY(even.ok && down.ok);

    const Point3 probe{0, 0, 0};
    const Point3 t = truth.map(probe), e = even.map(probe), d = down.map(probe);
    const double evenErr = std::hypot(e.x - t.x, e.y - t.y);
    const double downErr = std::hypot(d.x - t.x, d.y - t.y);
    QVERIFY2(evenErr > 0.02, qPrintable(QString::number(evenErr)));
    QVERIFY2(downErr < 0.001, qPrintable(QString::number(downErr)));
    QVERIFY(std::abs(even.tz - 20.0) > 0.02);
    QVERIFY(std::abs(down.tz - 20.0) < 0.001);
    // The outlier then shows in full in its own residual.
    QVERIFY(std::abs(down.residuals[6].dx - 0.5) < 0.001);
    QVERIFY(std::abs(down.residuals[6].dz - 0.3) < 0.001);
}

void TestStationSolver::onlyWeightRatiosMatter()
{
    std::mt19937 rng(11);
    const Truth truth{-1.1, 1.0, 3000000.0, 6000000.0, 5.0};
    const QVector<Point3> measured = stationPoints(5, rng);
    const QVector<Point3> known = mapAll(truth, measured, 0.01, rng);
    const QVector<double> w{1, 0.5, 0.25, 0.125, 1};
    const Station::Solution ref = Station::solve(measured, known, w);
    QVERIFY(ref.ok);
    for (double factor : {1e-300, 1e-10, 1e10, 1e306}) {
        QVector<double> scaled;
        for (double x : w)
            scaled.append(x * factor);
        const Station::Solution s = Station::solve(measured, known, scaled);
        QVERIFY2(s.ok, qPrintable(s.error));
        QVERIFY(std::abs(s.omega - ref.omega) < 1e-12);
        QVERIFY(std::abs(s.tx - ref.tx) < 1e-6 && std::abs(s.ty - ref.ty) < 1e-6);
        QVERIFY(std::abs(s.tz - ref.tz) < 1e-9);
    }
}

void TestStationSolver::matrixLayoutMatchesMapping()
{
    const QVector<Point3> measured{{10, 0, 0}, {0, 10, 0}, {-10, -10, 3}};
    const Truth truth{M_PI / 2, 1.0, 10, 20, 3};
    std::mt19937 rng(3);
    const Station::Solution s = Station::solve(measured, mapAll(truth, measured, 0, rng), {1, 1, 1});
    QVERIFY(s.ok);
    double m[16];
    s.matrix(m);
    const double expected[16] = {0, -1, 0, 10, 1, 0, 0, 20, 0, 0, 1, 3, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        QVERIFY2(std::abs(m[i] - expected[i]) < 1e-12, qPrintable(QString::number(i)));
    const Point3 p{3, 4, 5};
    const Point3 q = s.map(p);
    QVERIFY(std::abs(m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3] - q.x) < 1e-12);
    QVERIFY(std::abs(m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7] - q.y) < 1e-12);
    QVERIFY(std::abs(m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11] - q.z) < 1e-12);
}

void TestStationSolver::refusesDegenerateInput_data()
{
    QTest::addColumn<QVector<Point3>>("measured");
    QTest::addColumn<QVector<Point3>>("known");
    QTest::addColumn<QVector<double>>("weights");
    QTest::addColumn<QString>("reason");

    const QVector<Point3> m3{{0, 0, 0}, {20, 0, 0}, {0, 20, 0}};
    const QVector<Point3> k3{{100, 100, 0}, {120, 100, 0}, {100, 120, 0}};
    const QVector<double> w3{1, 1, 1};
    QTest::newRow("no points") << QVector<Point3>() << QVector<Point3>() << QVector<double>()
                               << "at least 2 points";
    QTest::newRow("one point") << QVector<Point3>{m3[0]} << QVector<Point3>{k3[0]}
                               << QVector<double>{1} << "at least 2 points";
    QTest::newRow("counts differ") << m3 << k3.mid(0, 2) << w3 << "3 measured points but 2 known";
    QTest::newRow("weights short") << m3 << k3 << QVector<double>{1, 1} << "3 points but 2 weights";
    QTest::newRow("weights long") << m3 << k3 << QVector<double>{1, 1, 1, 1}
                                  << "3 points but 4 weights";
    QTest::newRow("zero weight") << m3 << k3 << QVector<double>{1, 0, 1} << "weight of point 2";
    QTest::newRow("negative weight") << m3 << k3 << QVector<double>{1, 1, -0.5}
                                     << "weight of point 3";
    QTest::newRow("nan weight") << m3 << k3 << QVector<double>{qQNaN(), 1, 1}
                                << "weight of point 1";
    QVector<Point3> mNan = m3;
    mNan[1].y = qInf();
    QTest::newRow("infinite coordinate") << mNan << k3 << w3 << "not a number";
    const QVector<Point3> spot{{5, 5, 0}, {5, 5, 0}, {5, 5, 0}};
    QTest::newRow("measured on one spot") << spot << k3 << w3 << "measured points lie on one spot";
    const QVector<Point3> plumb{{5, 5, 0}, {5, 5.0002, 2}, {5.0001, 5, 4}};
    QTest::newRow("measured on one plumb line") << plumb << k3 << w3
                                                << "measured points lie on one spot";
    QTest::newRow("known on one spot") << m3 << QVector<Point3>{{7, 7, 7}, {7, 7, 7}, {7, 7, 7}}
                                       << w3 << "known points lie on one spot";
}

void TestStationSolver::refusesDegenerateInput()
{
    QFETCH(QVector<Point3>, measured);
    QFETCH(QVector<Point3>, known);
    QFETCH(QVector<double>, weights);
    QFETCH(QString, reason);
    const Station::Solution s = Station::solve(measured, known, weights);
    QVERIFY(!s.ok);
    QVERIFY2(s.error.contains(reason), qPrintable(s.error));
    QVERIFY(s.residuals.isEmpty());
}

void TestStationSolver::spreadThreshold()
{
    // Two points: the spread is half their distance.
    const QVector<double> w{1, 1};
    const QVector<Point3> close{{0, 0, 0}, {0.0018, 0, 0}};
    const QVector<Point3> apart{{0, 0, 0}, {0.0022, 0, 0}};
    const QVector<Point3> k{{10, 10, 0}, {10.002, 10, 0}};
    QVERIFY(!Station::solve(close, k, w, fixedHandedness()).ok);
    QVERIFY(Station::solve(apart, k, w, fixedHandedness()).ok);
    Station::Options loose = fixedHandedness();
    loose.minSpread = 0.0005;
    QVERIFY(Station::solve(close, k, w, loose).ok);
}

QTEST_GUILESS_MAIN(TestStationSolver)
#include "test_stationsolver.moc"
