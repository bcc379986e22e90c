#pragma once
// The simulated instrument itself: a motorised total station standing at a
// known station in a scene of named 3D targets, and its answer to each
// GeoCOM procedure. It knows nothing of lines, ports or faults.

#include <QString>
#include <QStringList>
#include <QVector>

struct Target {
    QString name;
    double x, y, z;
};

class Instrument
{
public:
    QVector<Target> targets;
    double sx = 0, sy = 0, sz = 0, orientation = 0;
    double aimTolerance = 0.01;
    bool clockwise = true;  // Hz grows clockwise seen from above
    int delayMs = 30;
    int measureDelayMs = -1;  // -1: the time of the EDM mode
    int trackIntervalMs = 100;
    int serial = 1234567;
    QString name = QStringLiteral("TS16 R500 (simulated)");
    double temperature = 21.3;

    Instrument();

    void aimAtFirstTarget();
    // Instrument-frame polar coordinates of a scene point.
    void polar(const Target &t, double *h, double *zen, double *d) const;

    // The body of the reply to one request (return code and values, without
    // the frame). Moves the telescope and finishes a distance in progress
    // first; a single distance takes its measuring time here.
    QString respond(int rpc, const QStringList &params);

    // Fixed-point as an instrument writes it: 16 significant digits, at most
    // 15 decimals, no exponent, trailing zeros left off.
    static QString num(double x);

private:
    static double separation(double h1, double v1, double h2, double v2);
    // The target nearest the line of sight, or -1 when none is within `tol`.
    int nearestTarget(double tol) const;
    bool distanceNow(double *d) const;
    // Moves the telescope by the velocities since the last update.
    void update();
    int measureTimeMs() const;
    void startSingleMeasurement();
    void finishSingleMeasurement();
    void clearDistance();
    QString quoted(const QString &s) const;
    QString answer(int rpc, const QStringList &p);

    double hz = 0, v = 1.57079632679489661923;
    bool controller = false;
    double velH = 0, velV = 0;
    double lastUpdate = 0;
    bool tracking = false;
    bool hasDistance = false;
    double distance = 0;
    double lastClear = 0;
    double singleDueAt = 0;  // a TMC_DoMeasure distance in progress
    bool lastDelivered = false;
    int edmMode = 2;
    bool laser = false;
    bool userLock = false;
    bool locked = false;
};

// Reads a scene file: one target a line, "name x y z" (blanks, commas or
// semicolons between; # starts a comment).
bool loadScene(const QString &path, QVector<Target> *targets, QString *error);
