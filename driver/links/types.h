#pragma once
// Values that cross thread and class boundaries in the driver: GeoCOM
// procedure numbers, decoded instrument replies, points and error requests.

#include <QList>
#include <QMessageBox>
#include <QMetaType>
#include <QPair>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QVariant>

// GeoCOM remote procedures used by the driver; each value is the RPC number.
enum RPC : qint32 {
    EDM_Laserpointer = 1004,
    TMC_DoMeasure = 2008,
    TMC_SetEdmMode = 2020,
    TMC_GetEdmMode = 2021,
    TMC_GetAngle5 = 2107,
    TMC_GetSimpleMea = 2108,
    TMC_QuickDist = 2117,
    CSV_GetInstrumentNo = 5003,
    CSV_GetInstrumentName = 5004,
    CSV_GetIntTemp = 5011,
    MOT_StartController = 6001,
    MOT_StopController = 6002,
    MOT_SetVelocity = 6004,
    AUT_LockIn = 9013,
    AUT_FineAdjust = 9037,
    BAP_MeasDistanceAngle = 17017,
    AUS_SetUserLockState = 18007,
};

// Angles in radians; vAngle is the zenith angle (0 straight up, pi/2 level).
struct TMC_HZ_V_ANG {
    double hzAngle = 0.0;
    double vAngle = 0.0;
};

struct GetSimpleMea {
    double hzAngle = 0.0;
    double vAngle = 0.0;
    double slopeDistance = 0.0; // metres
};

struct MeasDistanceAngle {
    double hzAngle = 0.0;
    double vAngle = 0.0;
    double slopeDistance = 0.0; // metres
    qint32 distMode = 0;        // distance mode echoed by the instrument
};

struct MeasuringPoint {
    QString sessionName;
    QString groupName;
    QString pointName;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// A request to the main window to show a message box (and, for a session
// name conflict, to ask the operator).
struct ErrorInfo {
    enum Kind : qint32 {
        NetworkError = -1,
        Information = 0,
        Warning = 1,
        SessionConflict = 2,
    };
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons = QMessageBox::NoButton;
    qint32 kind;
    QStringList args;
};

// Serial parameters chosen in the settings dialog, consumed by openPort.
struct PortSettings {
    QString portName;
    qint32 baudRate = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
};

typedef QPair<RPC, QVariant> ReplyPair;

Q_DECLARE_METATYPE(RPC)
Q_DECLARE_METATYPE(TMC_HZ_V_ANG)
Q_DECLARE_METATYPE(GetSimpleMea)
Q_DECLARE_METATYPE(MeasDistanceAngle)
Q_DECLARE_METATYPE(MeasuringPoint)
Q_DECLARE_METATYPE(ErrorInfo)
Q_DECLARE_METATYPE(PortSettings)

// Registers "ErrorInfo", "MeasuringPoint" and the "QMatrix4x4" and
// "QVector<double>" aliases; safe to call any number of times. The server
// link's constructor calls it.
void registerServerMetaTypes();

// Registers "RPC", the three reply records and "QPair<RPC,QVariant>"; safe
// to repeat. Called on the first queued use by the instrument link and the
// main window.
void registerInstrumentMetaTypes();
