#pragma once
// The server link: one TCP connection to the CAD server, length-framed
// QDataStream messages (servermessages.h), written and read from the
// handler's own thread, which sleeps until the server sends something, the
// owner posts a message, one of the link's timers is due or it is asked to
// stop. Every server message is reported by one signal.
//
// The connection is made in the link's thread: connectToServer() only
// keeps the address; connectFailed() follows start() when it cannot be made
// within 1000 ms. Sends never wait for the link: they post the block behind
// a short lock of its own and wake the loop.
//
// A fresh connection identifies itself before anything else goes out on
// it: after the greeting, only the identification (message 1, the answer to
// the server's message 9) may be written; what was posted meanwhile waits
// for it. A server that sends no 9 within identifyWait() (default 2 s) gets
// the identification unasked.
//
// Blocks go out one after the other as the connection takes them; a
// connection that takes no bytes for writeTimeout() (default 10 s) is
// reported as a network error and ends the loop.
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
// the socket are the server's. requestStop() writes everything queued
// first; stop() (for the window's destruction) ends at once.
//
// Names: the link is the one owner of the session, group and device names
// it identifies itself with. They come from the greeting, and change only by
// the server's answers: message 2 to a point measured now (not to a point
// sent again from the journal), message 5, and message 7, which makes the
// name of the last sendSessionName() the session name; and by
// setSessionName() (the operator's choice in a session conflict).

#include "abstracthandler.h"
#include "servermessages.h"
#include "types.h"

#include <QByteArray>
#include <QMatrix4x4>
#include <QString>
#include <QVector>

class QTcpSocket;
class QTimer;

class Client : public AbstractHandler<QByteArray>
{
    Q_OBJECT

public:
    explicit Client(const QString &appName, QObject *parent = nullptr);
    ~Client() override;

    // Keeps the server's address; the link's thread connects within
    // connectTimeout() once started, or reports connectFailed. False only for
    // an empty host.
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
    // `again`: a point sent again from the journal, whose answer leaves the
    // link's names as they are.
    bool sendPoint(const MeasuringPoint &pt, bool again = false);
    // Measured points, their known coordinates and one weight per point.
    bool sendBasePointSet(const QVector<MeasuringPoint> &measured,
                          const QVector<MeasuringPoint> &known,
                          const QVector<double> &weights);

    void setSessionName(const QString &name);
    QString sessionNameValue();
    // The names the link identifies itself with (see above).
    struct Names {
        QString session;
        QString group;
        QString device;
    };
    Names names();

    // Bound on writing one block, in ms. Set before start.
    void setWriteTimeout(int ms) { writeTimeoutMs = ms; }
    int writeTimeout() const { return writeTimeoutMs; }
    // Bound on making the connection, in ms. Set before start.
    void setConnectTimeout(int ms) { connectTimeoutMs = ms; }
    int connectTimeout() const { return connectTimeoutMs; }
    // How long a fresh connection waits for the server's message 9. Set
    // before start.
    void setIdentifyWait(int ms) { identifyWaitMs = ms; }
    int identifyWait() const { return identifyWaitMs; }

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
    // The connection could not be made; the loop ends after this and
    // errorString() holds the same reason.
    void connectFailed(QString reason);

protected:
    bool openDevice() override;
    void exchange() override;
    void closeDevice() override;
    void readReply() override;
    void writeNext() override;
    bool checkError() override;
    bool drained() const override;
    void dropUnsent(const QList<QByteArray> &blocks) override;

private:
    bool queueOrRefuse(const QByteArray &block, const QString &refusal);
    void handleMessage(const QByteArray &payload);
    void readBlocks();
    void takeInput();
    void queueIdentification();
    void reportError(const QString &text, ErrorInfo::Kind kind = ErrorInfo::NetworkError);
    QString connectFailureText() const;

    QString host;
    quint16 port = 0;
    QTcpSocket *socket = nullptr;
    QString appName;
    QString sessionName;
    QString groupName;
    QString deviceName;
    QString lastSentSessionName;
    QMutex namesMutex; // the four names above; never held across I/O
    // Whether each point posted and not yet written is sent again, oldest
    // first (guarded by namesMutex); the link's thread moves the flag to
    // answerFlags when it writes the point.
    QList<bool> postedAgain;
    // The link's thread.
    enum Phase { Connecting, Connected, Failed };
    Phase phase = Connecting;
    bool timedOut = false;  // no connection within the bound
    bool identified = false;
    QList<bool> answerFlags; // written points awaiting message 2: sent again?
    // Bytes from the server not yet cut into blocks.
    ServerMessages::BlockReader incoming;
    QString failure; // fatal error found outside the socket's own (a write stall)
    QTimer *connectTimer = nullptr;
    QTimer *stallTimer = nullptr;    // running while written bytes wait to leave
    QTimer *identifyTimer = nullptr;
    int writeTimeoutMs = 10000;
    int connectTimeoutMs = 1000;
    int identifyWaitMs = 2000;
};
