#include "test_mainwindow_support.h"

#include "geocom.h"
#include "journalrecord.h"

#include <QApplication>
#include <QDir>
#include <QDateTime>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QAbstractButton>
#include <QStatusBar>
#include <QTextEdit>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

#include "journal.h"
#include "mainwindow.h"
#include "ptypeer.h"
#include "settingsdialog.h"

// --- ScriptServer ------------------------------------------------------------

ScriptServer::ScriptServer()
{
    server.listen(QHostAddress::LocalHost, 0);
    listenPort = server.serverPort();
    connect(&server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *s = server.nextPendingConnection();
        ++connections;
        if (dropConnections) {
            s->abort();
            s->deleteLater();
            return;
        }
        if (socket)
            socket->deleteLater();
        socket = s;
        pending.clear();
        connect(s, &QTcpSocket::readyRead, this, &ScriptServer::onReadyRead);
        if (greet) {
            sendEmpty(1);
            sendEmpty(9);
        }
    });
}

ScriptServer::~ScriptServer()
{
    if (socket)
        socket->abort();
}

QList<ServerMessage> ScriptServer::ofType(int type) const
{
    QList<ServerMessage> out;
    for (const ServerMessage &m : received)
        if (m.type == type)
            out << m;
    return out;
}

void ScriptServer::send(const QByteArray &payload)
{
    if (!socket)
        return;
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out << quint16(payload.size());
    block.append(payload);
    socket->write(block);
    socket->flush();
}

void ScriptServer::sendEmpty(quint16 type)
{
    QByteArray p;
    QDataStream out(&p, QIODevice::WriteOnly);
    out << type;
    send(p);
}

void ScriptServer::sendText(quint16 type, const QString &text)
{
    QByteArray p;
    QDataStream out(&p, QIODevice::WriteOnly);
    out << type << text;
    send(p);
}

void ScriptServer::sendInfo(const QString &session, const QString &group, const QString &point,
                            const QString &device)
{
    QByteArray p;
    QDataStream out(&p, QIODevice::WriteOnly);
    out << quint16(2) << session << group << point << device;
    send(p);
}

void ScriptServer::sendBasePoint(const QString &name, double x, double y, double z)
{
    QByteArray p;
    QDataStream out(&p, QIODevice::WriteOnly);
    out << quint16(6) << name << x << y << z;
    send(p);
}

void ScriptServer::sendMatrix(const QList<double> &rowMajor)
{
    QByteArray p;
    QDataStream out(&p, QIODevice::WriteOnly);
    out << quint16(8);
    for (double v : rowMajor)
        out << v;
    send(p);
}

void ScriptServer::closeConnection()
{
    if (socket) {
        socket->flush();
        socket->disconnectFromHost();
    }
}

void ScriptServer::goAway(bool reset)
{
    server.close();
    if (!socket)
        return;
    if (reset) {
#ifdef Q_OS_UNIX
        // A zero linger time makes the close send a reset.
        const struct linger now = {1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
#endif
        socket->abort();
    } else {
        closeConnection();
    }
}

bool ScriptServer::comeBack()
{
    return server.listen(QHostAddress::LocalHost, listenPort);
}

void ScriptServer::stopReading()
{
    if (socket) {
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        socket->setReadBufferSize(1);
    }
}

void ScriptServer::onReadyRead()
{
    pending.append(socket->readAll());
    for (;;) {
        if (pending.size() < 2)
            return;
        const int len = (quint8(pending[0]) << 8) | quint8(pending[1]);
        if (pending.size() < 2 + len)
            return;
        const QByteArray payload = pending.mid(2, len);
        pending.remove(0, 2 + len);

        ServerMessage m;
        if (payload == "device") {
            m.type = -1;
            received << m;
            continue;
        }
        QDataStream in(payload);
        quint16 type = 0;
        in >> type;
        m.type = type;
        auto text = [&] {
            QString s;
            in >> s;
            m.texts << s;
        };
        auto number = [&] {
            double d = 0;
            in >> d;
            m.numbers << d;
        };
        switch (type) {
        case 1:
            for (int i = 0; i < 4; ++i)
                text();
            break;
        case 3:
            for (int i = 0; i < 3; ++i)
                text();
            for (int i = 0; i < 3; ++i)
                number();
            break;
        case 4:
            text();
            break;
        case 8: {
            for (int list = 0; list < 2; ++list) {
                qint32 n = 0;
                in >> n;
                for (int i = 0; i < 3 * n; ++i)
                    number();
            }
            qint32 k = 0;
            in >> k;
            for (int i = 0; i < k; ++i)
                number();
            break;
        }
        default:
            break;
        }
        received << m;

        if (type == 4 && confirmSessions)
            sendEmpty(7);
        if (type == 3 && !nextPointName.isEmpty()) {
            sendInfo(m.texts.value(0), m.texts.value(1), nextPointName, QStringLiteral("dev"));
            if (closeAfterAnswer)
                return closeConnection();
        }
    }
}

// --- Instrument --------------------------------------------------------------

Instrument::Instrument(const QStringList &extraArguments)
{
    logPath = dir.filePath(QStringLiteral("requests.log"));
    QStringList args{QStringLiteral("--log"), logPath, QStringLiteral("--fast"), QStringLiteral("--delay"), QStringLiteral("1")};
    args << extraArguments;
    sim.reset(new SimulatorProcess(args));
}

Instrument::~Instrument() = default;

bool Instrument::isReady() const
{
    return sim->isReady();
}

QString Instrument::portName() const
{
    return sim->portName();
}

QStringList Instrument::requests() const
{
    QFile f(logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (!l.trimmed().isEmpty())
            lines << QString::fromUtf8(GeoCom::withoutTransactionId(l.trimmed()));
    return lines;
}

QStringList Instrument::commands() const
{
    QStringList out;
    for (const QString &l : requests()) {
        const bool poll = l.startsWith(QLatin1String("%R1Q,2108:")) ||
                          l.startsWith(QLatin1String("%R1Q,2107:")) ||
                          l.startsWith(QLatin1String("%R1Q,5011:"));
        if (!poll)
            out << l;
    }
    return out;
}

// --- ModalAnswer -------------------------------------------------------------

static QList<QPointer<QWidget>> &claimedDialogs()
{
    static QList<QPointer<QWidget>> claimed;
    return claimed;
}

UnexpectedModals::UnexpectedModals()
{
    timer.setInterval(100);
    connect(&timer, &QTimer::timeout, this, &UnexpectedModals::poll);
    timer.start();
}

void UnexpectedModals::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!w || claimedDialogs().contains(QPointer<QWidget>(w))) {
        current = nullptr;
        return;
    }
    if (current != w) {
        current = w;
        since = now;
        return;
    }
    if (now - since < 2000)
        return;
    QString text;
    if (auto *box = qobject_cast<QMessageBox *>(w))
        text = box->text();
    seen << w->windowTitle() + QStringLiteral(": ") + text;
    claimedDialogs() << QPointer<QWidget>(w);
    if (auto *d = qobject_cast<QDialog *>(w))
        d->reject();
    else
        w->close();
    current = nullptr;
}

ModalAnswer::ModalAnswer(std::function<void(QWidget *)> a, const char *cls)
    : answer(std::move(a)), className(cls)
{
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, this, &ModalAnswer::poll);
    timer.start();
}

void ModalAnswer::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || done)
        return;
    if (className && !w->inherits(className))
        return;
    // A dialog another answerer took is left to it.
    QList<QPointer<QWidget>> &claimed = claimedDialogs();
    claimed.removeAll(QPointer<QWidget>());
    if (claimed.contains(QPointer<QWidget>(w)))
        return;
    claimed << QPointer<QWidget>(w);
    timer.stop();
    done = true;
    title = w->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        text = box->text();
        icon = box->icon();
    }
    else if (auto *input = qobject_cast<QInputDialog *>(w))
        text = input->labelText();
    answer(w);
}

std::function<void(QWidget *)> clickButton(int standardButton)
{
    return [standardButton](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box) {
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
            return;
        }
        QAbstractButton *b = box->button(QMessageBox::StandardButton(standardButton));
        if (b)
            b->click();
        else
            box->reject();
    };
}

std::function<void(QWidget *)> enterText(const QString &text, bool accept)
{
    return [text, accept](QWidget *w) {
        auto *input = qobject_cast<QInputDialog *>(w);
        if (!input) {
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
            return;
        }
        if (!accept) {
            input->reject();
            return;
        }
        input->setTextValue(text);
        input->accept();
    };
}

// --- window helpers ----------------------------------------------------------

void chooseLinks(MainWindow &w, const QString &portName, quint16 serverPort, const QString &host)
{
    SettingsDialog *s = w.settingsDialog();
    s->portCombo()->setEditText(portName);
    s->addressEdit()->setText(host);
    s->serverPortEdit()->setText(QString::number(serverPort));
    // A journal of its own: no earlier test's unsent points are offered.
    static QTemporaryDir journals;
    static int count = 0;
    w.journal()->setFolder(journals.filePath(QStringLiteral("journal%1").arg(++count)));
    w.setReconnectDelays({3600 * 1000});
}

QList<JournalRecord> journalLines(const QString &folder)
{
    QList<JournalRecord> lines;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("journal-*.csv")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        while (!f.atEnd()) {
            JournalRecord r;
            if (decodeJournalRecord(f.readLine(), &r))
                lines << r;
        }
    }
    return lines;
}

quint16 deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString statusText(MainWindow &w)
{
    return w.statusBar()->currentMessage();
}

QString logText(MainWindow &w)
{
    return w.ui().logPane->toPlainText();
}
