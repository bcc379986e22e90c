// Measurement arithmetic: zenith-angle conversion, angle text and the
// station matrix.

#include <QtTest>

#include <cmath>

#include "geometry.h"
#include "pointname.h"

namespace {
struct Xyz {
    double x, y, z;
};
Xyz polar(double hz, double v, double d)
{
    Xyz r{};
    polarToCartesian(hz, v, d, r.x, r.y, r.z);
    return r;
}
Xyz mapped(double x, double y, double z)
{
    Xyz r{};
    mapWithStationMatrix(x, y, z, r.x, r.y, r.z);
    return r;
}
const double HalfPi = M_PI / 2;
} // namespace

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    // Runs first: the station matrix is process-wide.
    void stationMatrixBeforeAnyIsIdentityAndNotReceived()
    {
        QVERIFY(!logStationMatrix());
        const Xyz p = mapped(10, 20, 30);
        QCOMPARE(p.x, 10.0);
        QCOMPARE(p.y, 20.0);
        QCOMPARE(p.z, 30.0);
        // Nothing is narrowed to float: 0.1 comes back as 0.1.
        const Xyz q = mapped(0.1, 0, 0);
        QCOMPARE(q.x, 0.1);
    }

    void levelSightsLieInTheHorizontalPlane()
    {
        // Level with the instrument (zenith pi/2), 10 m ahead along hz = 0.
        Xyz p = polar(0, HalfPi, 10);
        QCOMPARE(p.x, 10.0);
        QVERIFY(std::abs(p.y) < 1e-12);
        QVERIFY(std::abs(p.z) < 1e-12);

        // Turned a quarter to hz = pi/2: along y.
        p = polar(HalfPi, HalfPi, 10);
        QVERIFY(std::abs(p.x) < 1e-12);
        QCOMPARE(p.y, 10.0);
        QVERIFY(std::abs(p.z) < 1e-12);

        // hz = pi: behind the instrument.
        p = polar(M_PI, HalfPi, 10);
        QVERIFY(std::abs(p.x + 10.0) < 1e-12);
    }

    void zenithZeroPointsStraightUpAndPiStraightDown()
    {
        Xyz p = polar(1.234, 0, 10);
        QVERIFY(std::abs(p.x) < 1e-12);
        QVERIFY(std::abs(p.y) < 1e-12);
        QCOMPARE(p.z, 10.0);

        p = polar(0, M_PI, 10);
        QVERIFY(std::abs(p.x) < 1e-12);
        QCOMPARE(p.z, -10.0);
    }

    void inclinedSightSplitsDistanceByZenithAngle()
    {
        // 60 degrees from the zenith, i.e. 30 degrees above level.
        const double v = M_PI / 3;
        const Xyz p = polar(M_PI / 4, v, 20);
        const double horizontal = 20 * std::sin(v);
        QVERIFY(std::abs(p.x - horizontal / std::sqrt(2.0)) < 1e-12);
        QVERIFY(std::abs(p.y - horizontal / std::sqrt(2.0)) < 1e-12);
        QVERIFY(std::abs(p.z - 10.0) < 1e-12);
        // The slope distance is preserved.
        QVERIFY(std::abs(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) - 20.0) < 1e-12);
        // A zero distance is the instrument itself.
        const Xyz o = polar(1, 1, 0);
        QCOMPARE(o.x, 0.0);
        QCOMPARE(o.z, 0.0);
    }

    void formatAngleWritesDegreesMinutesSeconds_data()
    {
        QTest::addColumn<double>("rad");
        QTest::addColumn<QString>("text");
        QTest::newRow("one radian") << 1.0 << QStringLiteral("57\u00B0 17\u2032 44.81\u2033");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0\u00B0 0\u2032 0.00\u2033");
        QTest::newRow("right angle") << HalfPi << QStringLiteral("90\u00B0 0\u2032 0.00\u2033");
        QTest::newRow("full turn less") << 6.283 << QStringLiteral("359\u00B0 59\u2032 21.78\u2033");
        // One arc second and a half.
        QTest::newRow("seconds only") << (1.5 / 3600.0) * M_PI / 180.0
                                      << QStringLiteral("0\u00B0 0\u2032 1.50\u2033");
        // Rounding carries into minutes and degrees, never "60.00″".
        const double arcSecond = M_PI / (180.0 * 3600.0);
        QTest::newRow("carry into minute") << 59.996 * arcSecond
                                           << QStringLiteral("0\u00B0 1\u2032 0.00\u2033");
        QTest::newRow("carry into degree") << (3599.996 + 3600.0) * arcSecond
                                           << QStringLiteral("2\u00B0 0\u2032 0.00\u2033");
        QTest::newRow("carry through all") << 3599.995001 * arcSecond << QStringLiteral("1\u00B0 0\u2032 0.00\u2033");
        QTest::newRow("just below carry") << 59.994 * arcSecond << QStringLiteral("0\u00B0 0\u2032 59.99\u2033");
        // One leading sign for a negative angle, none for a negative that rounds to zero.
        QTest::newRow("negative") << -1.0 << QStringLiteral("-57\u00B0 17\u2032 44.81\u2033");
        QTest::newRow("negative seconds only") << -1.5 * arcSecond << QStringLiteral("-0\u00B0 0\u2032 1.50\u2033");
        QTest::newRow("negative carry") << -59.996 * arcSecond << QStringLiteral("-0\u00B0 1\u2032 0.00\u2033");
        QTest::newRow("negative rounding to zero") << -0.001 * arcSecond << QStringLiteral("0\u00B0 0\u2032 0.00\u2033");
    }
    void formatAngleWritesDegreesMinutesSeconds()
    {
        QFETCH(double, rad);
        QFETCH(QString, text);
        QCOMPARE(formatAngle(rad), text);
    }

    void formatAngleOfNonFiniteValueIsEmpty()
    {
        QVERIFY(formatAngle(std::nan("")).isEmpty());
        QVERIFY(formatAngle(INFINITY).isEmpty());
    }

    void storedMatrixTranslatesAndRotates()
    {
        QMatrix4x4 m;
        m.translate(1, 2, 3);
        setStationMatrix(m);
        QVERIFY(logStationMatrix());
        Xyz p = mapped(10, 20, 30);
        QCOMPARE(p.x, 11.0);
        QCOMPARE(p.y, 22.0);
        QCOMPARE(p.z, 33.0);

        // A quarter turn about z with a translation: x' = -y + 100, y' = x.
        QMatrix4x4 r(0, -1, 0, 100,
                     1, 0, 0, 0,
                     0, 0, 1, -5,
                     0, 0, 0, 1);
        setStationMatrix(r);
        p = mapped(3, 4, 5);
        QCOMPARE(p.x, 96.0);
        QCOMPARE(p.y, 3.0);
        QCOMPARE(p.z, 0.0);

        // The fourth row is ignored: no perspective division.
        QMatrix4x4 persp;
        persp(3, 0) = 7;
        persp(3, 3) = 2;
        setStationMatrix(persp);
        p = mapped(1, 2, 3);
        QCOMPARE(p.x, 1.0);
        QCOMPARE(p.y, 2.0);
        QCOMPARE(p.z, 3.0);

        // Large coordinates keep their decimals.
        setStationMatrix(QMatrix4x4());
        p = mapped(6500000.123, 0, 0);
        QCOMPARE(p.x, 6500000.123);
    }

    void gridMatrixMapsInDoublePrecision()
    {
        // A station at grid coordinates, turned by 200 degrees with the
        // instrument frame mirrored, given as the sixteen doubles the server
        // sends: none of its elements survives float.
        const double w = 200.0 * M_PI / 180.0, c = std::cos(w), s = std::sin(w);
        const double tx = 6512345.6789, ty = 5678901.2345, tz = 123.4567;
        const double rows[16] = {c, s, 0, tx, s, -c, 0, ty, 0, 0, 1, tz, 0, 0, 0, 1};
        setStationMatrix(rows);
        const Xyz p = mapped(123.4561, -87.6543, 1.2345);
        QVERIFY(std::fabs(p.x - (c * 123.4561 + s * -87.6543 + tx)) < 1e-7);
        QVERIFY(std::fabs(p.y - (s * 123.4561 - c * -87.6543 + ty)) < 1e-7);
        QVERIFY(std::fabs(p.z - (1.2345 + tz)) < 1e-9);
        // The single-precision copy is there for display.
        QCOMPARE(stationMatrix()(0, 3), float(tx));
        QVERIFY(logStationMatrix());
    }

    void nextPointNameCountsOnTheTrailingNumber_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("next");
        QTest::newRow("number") << "OFF1" << "OFF2";
        QTest::newRow("carry") << "OFF9" << "OFF10";
        QTest::newRow("width kept") << "P09" << "P10";
        QTest::newRow("longer than any integer") << "K99999999999999999999" << "K100000000000000000000";
        QTest::newRow("no number") << "K" << "K1";
        QTest::newRow("not ASCII digits") << QString::fromUtf8("T\u0663") << QString::fromUtf8("T\u06631");
        QTest::newRow("empty") << "" << "1";
    }
    void nextPointNameCountsOnTheTrailingNumber()
    {
        QFETCH(QString, name);
        QFETCH(QString, next);
        QCOMPARE(nextPointName(name), next);
    }

    void logWritesThreeRowsOfTheRotationPart()
    {
        QMatrix4x4 m(1.5, 2, 3, 40,
                     4, 5, 6, 50,
                     7, 8, 9.25, 60,
                     0, 0, 0, 1);
        setStationMatrix(m);
        QTest::ignoreMessage(QtDebugMsg, "1.5 2 3");
        QTest::ignoreMessage(QtDebugMsg, "4 5 6");
        QTest::ignoreMessage(QtDebugMsg, "7 8 9.25");
        QVERIFY(logStationMatrix());
        QCOMPARE(stationMatrix(), m);
    }
};

QTEST_GUILESS_MAIN(TestGeometry)
#include "test_geometry.moc"
