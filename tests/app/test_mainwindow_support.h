#pragma once
// Helpers for the main window tests: a scripted CAD server on loopback, the
// simulated instrument with its request log, answering modal dialogs from
// the test, and a window wired to both.

#include <QByteArray>
#include <QDataStream>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>

struct JournalRecord;
class MainWindow;
class QWidget;
class SimulatorProcess;

// One message the driver sent to the server.
struct ServerMessage {
    int type = -1;          // -1 greeting "device", otherwise the message type
    QStringList texts;      // the QString fields in order
    QList<double> numbers;  // the doubles in order
};

// A CAD server whose answers the test chooses. Messages are framed as the
// driver expects: 16-bit length, then a QDataStream payload.
class ScriptServer : public QObject
{
    Q_OBJECT

public:
    ScriptServer();
    ~ScriptServer() override;
    quint16 port() const { return listenPort; }

    // Answer every session name (type 4) with a confirmation (type 7).
    bool confirmSessions = false;
    // Answer every point (type 3) with type 2 carrying its names and this
    // next point name (empty: no answer).
    QString nextPointName;
    // Greet a new connection with type 1 (connected).
    bool greet = true;
    // Close the connection right after answering a point, so that the
    // answer arrives together with the close.
    bool closeAfterAnswer = false;
    // Close every new connection at once, before greeting it.
    bool dropConnections = false;
    // Connections accepted so far.
    int connections = 0;

    QList<ServerMessage> received;
    QList<ServerMessage> ofType(int type) const;
    bool isConnected() const { return socket && socket->state() == QAbstractSocket::ConnectedState; }

    void sendEmpty(quint16 type);
    void sendText(quint16 type, const QString &text);
    void sendInfo(const QString &session, const QString &group, const QString &point, const QString &device);
    void sendBasePoint(const QString &name, double x, double y, double z);
    void sendMatrix(const QList<double> &rowMajor);
    void closeConnection();
    // The server goes away: it stops listening (a new connection is
    // refused) and ends the connection, with a FIN or, when `reset`, an RST.
    void goAway(bool reset = false);
    // Listens again on the port it had.
    bool comeBack();
    // Takes nothing more from the connection: the driver's writes stall once
    // the socket buffers are full.
    void stopReading();

private:
    void send(const QByteArray &payload);
    void onReadyRead();

    QTcpServer server;
    quint16 listenPort = 0;
    QPointer<QTcpSocket> socket;
    QByteArray pending;
};

// The simulated total station on a pty, answering at once (--fast); every
// request line it received is in its log.
class Instrument
{
public:
    explicit Instrument(const QStringList &extraArguments = QStringList());
    ~Instrument();
    bool isReady() const;
    QString portName() const;
    // Received request lines without CR LF, in order.
    QStringList requests() const;
    // The requests without the continuous polls (2108, 2107, 5011). While
    // the instrument tracks, the link's own distance clearing (2008:3,1)
    // follows each delivered distance.
    QStringList commands() const;
    // Lines received after the first `from` ones.
    QStringList commandsSince(int from) const { return commands().mid(from); }

private:
    QTemporaryDir dir;
    QString logPath;
    std::unique_ptr<SimulatorProcess> sim;
};

// Calls `answer` with the next modal dialog once it is shown (polling, so
// it also works for dialogs opened from a nested event loop). `done` turns
// true after the answer.
class ModalAnswer : public QObject
{
    Q_OBJECT
public:
    // Only dialogs of the class (for instance "QInputDialog") when given.
    explicit ModalAnswer(std::function<void(QWidget *)> answer, const char *className = nullptr);
    bool done = false;
    int icon = -1;   // QMessageBox::Icon of a message box
    QString title;   // window title of the dialog answered
    QString text;    // its text (message boxes) or label (input dialogs)

private:
    void poll();
    std::function<void(QWidget *)> answer;
    const char *className;
    QTimer timer;
};

// Closes any modal dialog that no ModalAnswer took within 2 s, so that a
// test fails instead of hanging; `seen` lists "title: text" of each.
class UnexpectedModals : public QObject
{
    Q_OBJECT
public:
    UnexpectedModals();
    QStringList seen;

private:
    void poll();
    QTimer timer;
    QPointer<QWidget> current;
    qint64 since = 0;
};

// Answers a message box by its standard button (QMessageBox::StandardButton).
std::function<void(QWidget *)> clickButton(int standardButton);
// Answers an input dialog with the text (accept) or cancels it when null.
std::function<void(QWidget *)> enterText(const QString &text, bool accept = true);

// Puts the instrument's pty and the server's address into the settings, and
// gives the window an empty journal folder. A lost server link is tried
// again only after an hour, so that no test meets a try it did not ask
// for; the tests of the tries set their own delays after this.
void chooseLinks(MainWindow &w, const QString &portName, quint16 serverPort,
                 const QString &host = QStringLiteral("127.0.0.1"));

// Every decodable line of the journal files of a folder, file by file in
// name order, lines in file order.
QList<JournalRecord> journalLines(const QString &folder);

// A loopback port nobody listens on.
quint16 deadPort();

// The status-bar text and the log pane text.
QString statusText(MainWindow &w);
QString logText(MainWindow &w);
