#pragma once
// Measurement arithmetic of the driver: polar to Cartesian conversion, the
// text form of an angle and the process-wide station matrix sent by the CAD
// server. GUI thread only; the station matrix has no lock.

#include <QMatrix4x4>
#include <QString>

// Converts a polar measurement to x, y, z in the instrument's own frame.
// hz is the horizontal angle, v the zenith angle as the instrument delivers
// it (0 straight up, pi/2 level), both in radians; d is the slope distance.
// The x axis points to hz = 0, z upwards.
void polarToCartesian(double hz, double v, double d, double &x, double &y, double &z);

// Degrees, minutes and seconds: "57° 17′ 44.81″" for 1 rad, rounded to
// hundredths of a second with the rounding carried into minutes and degrees;
// a negative angle has one leading minus sign. A non-finite angle gives an
// empty text.
QString formatAngle(double rad);

// Stores the matrix from its sixteen elements row by row, as the server
// sends them, and marks it received. The mapping uses them as they are;
// stationMatrix() holds them narrowed to float.
void setStationMatrix(const double rowMajor[16]);

// Stores a matrix given in single precision (its elements widened to double)
// and marks it received.
void setStationMatrix(const QMatrix4x4 &m);

// Maps a point through the stored matrix in double precision, without the
// perspective row. Before the first matrix arrives this is the identity.
// Grid coordinates of ten million metres keep their tenths of a millimetre.
void mapWithStationMatrix(double x, double y, double z, double &xOut, double &yOut, double &zOut);

// Writes the rotation part of the stored matrix to the debug log, a row per
// line; returns whether a matrix was received.
bool logStationMatrix();

// The stored matrix in single precision, for display and tests.
const QMatrix4x4 &stationMatrix();

// Whether a matrix has been received (without logging it).
bool stationMatrixReceived();

// Back to the identity, as before any matrix came (a new station).
void resetStationMatrix();

// The station the stored matrix describes, in the base points' frame: where
// the instrument's origin lies (x, y, z); the direction of the zero of its
// horizontal circle (hz = 0), in radians from the frame's X axis towards its
// Y axis, 0 up to 2 pi; the scale (the length one metre of the instrument's
// plane gets); and whether the instrument's plane is mirrored against the
// frame (its horizontal angle counts the other way round), as it is for an
// instrument counting clockwise in a frame with X east and Y north.
struct StationPose {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double orientation = 0.0;
    double scale = 1.0;
    bool mirrored = false;
};
StationPose stationPose();
