#pragma once
// The server link: one TCP connection to the CAD server, length-framed
// QDataStream messages (servermessages.h), written and read from the
// handler's own thread; every server message is reported by one signal.
//
// Sends never wait for the link: they post the block behind a short lock of
// its own and the loop takes it at its next pass. A pass writes one queued
// block, then waits for server data for up to 100 ms, but in slices of 2 ms,
// and gives the wait up as soon as something is queued or posted. Queued
// blocks therefore go out back to back.
// A block the server does not take at once is written on over the next
// passes, so the GUI thread can still queue meanwhile; a connection that
// takes no bytes for writeTimeout() (default 10 s) is reported as a network
// error and ends the loop.
// Incoming blocks are cut by their length: a malformed or unknown message is
// skipped whole, a block longer than its message's fields is acted on and
// its rest skipped, and the next block is read in step. What arrived
// together with the server's close is handled before the close is reported.
//
// What the owner learns about a point: sendPoint() returns true when the
// block was handed to the link (it goes out in order), false when it was
// refused (too long: a warning follows through errorInfo, delivered queued,
// never inside the caller) or when the loop has already ended.
// newInfoMeasurement is the server's answer (message 2). If the connection
// fails, every point still queued or posted is given back through
// pointNotSent, in order, before the loop ends; points already written to
// the socket are the server's. stop() writes everything queued first.
//
// Session names: the name of the last sendSessionName() becomes the link's
// session name when the server accepts it (message 7).

#include "abstracthandler.h"
#include "servermessages.h"
#include "types.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMatrix4x4>
#include <QString>
#include <QVector>

class QTcpSocket;

class Client : public AbstractHandler<QByteArray>
{
    Q_OBJECT

public:
    explicit Client(const QString &appName, QObject *parent = nullptr);
    ~Client() override;

    // Connects within 1000 ms and moves the socket to the handler's thread.
    bool connectToServer(const QString &host, quint16 port);

    // Each send posts one message and returns true. A message that would
    // not fit one block (names of tens of thousands of characters, more than
    // ServerMessages::MaxBasePointSet base points) is refused: nothing is
    // queued, false is returned, errorString() tells why and errorInfo
    // carries the same text to the main window as a warning (kind 1),
    // emitted from the event loop after the call has returned. After the
    // loop has ended a send returns false and reports nothing.
    bool sendDevice(const QString &sessionName, const QString &groupName,
                    const QString &deviceName); // the greeting; stores the names
    bool sendSessionName(const QString &sessionName);
    bool sendPoint(const MeasuringPoint &pt);
    // Measured points, their known coordinates and one weight per point.
    bool sendBasePointSet(const QVector<MeasuringPoint> &measured,
                          const QVector<MeasuringPoint> &known,
                          const QVector<double> &weights);

    void setSessionName(const QString &name);
    QString sessionNameValue();
    // The names the link answers an identification request with: from the
    // greeting, then from each point answer (message 2) and group name.
    struct Names {
        QString session;
        QString group;
        QString device;
    };
    Names names();
    void setNames(const Names &names);

    // Bound on writing one block, in ms. Set before start.
    void setWriteTimeout(int ms) { writeTimeoutMs = ms; }
    int writeTimeout() const { return writeTimeoutMs; }

signals:
    void connected();
    void disconnected();
    void newInfoMeasurement(QString sessionName, QString groupName, QString pointName,
                            QString deviceName);
    void errorInfo(ErrorInfo error);
    void successSetSessionName();
    void newGroupName(QString groupName);
    void newBasePoint(MeasuringPoint pt);
    // The station matrix, narrowed to float and as the sixteen doubles sent
    // (row by row).
    void newMatrix(QMatrix4x4 matrix, QVector<double> rowMajor);
    // A point that was handed to the link but never written: the
    // connection failed first.
    void pointNotSent(MeasuringPoint pt);

protected:
    void exchange() override;
    void closeDevice() override;
    void readReply() override;
    void writeNext() override;
    bool checkError() override;
    void dropUnsent(const QList<QByteArray> &blocks) override;

private:
    bool queueOrRefuse(const QByteArray &block, const QString &refusal);
    void handleMessage(const QByteArray &payload);
    void readBlocks();
    void takeInput();
    void reportError(const QString &text, ErrorInfo::Kind kind = ErrorInfo::NetworkError);

    QTcpSocket *socket = nullptr;
    QString appName;
    QString sessionName;
    QString groupName;
    QString deviceName;
    QString lastSentSessionName;
    QMutex namesMutex; // the four names above; never held across I/O
    // Bytes from the server not yet cut into blocks. Taken from the socket
    // as soon as they arrive (readyRead, in the link's thread), so that a
    // write failing at the server's close cannot discard them with the
    // socket's own buffer.
    ServerMessages::BlockReader incoming;
    QString failure; // fatal error found outside the socket's own (a write stall)
    QElapsedTimer stallTimer; // since the last write progress
    int writeTimeoutMs = 10000;
};
