// The observation journal through the main window: points measured without
// a server, points whose connection ended unanswered, the offer to send them
// again, an unwritable journal, damaged lines and a hard kill right after a
// measurement.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "client.h"
#include "journal.h"
#include "mainwindow.h"
#include "settingsdialog.h"
#include "test_mainwindow_support.h"

namespace {

// The last state of each point, by point name.
QMap<QString, QString> lastStates(const QString &folder)
{
    QMap<QString, QString> states;
    for (const JournalRecord &r : journalLines(folder))
        states[r.point.pointName] = journalStateName(r.state);
    return states;
}

// Every state a point went through, in order (its own line first).
QStringList statesOf(const QString &folder, const char *point)
{
    QStringList states;
    for (const JournalRecord &r : journalLines(folder))
        if (r.point.pointName == QLatin1String(point))
            states << journalStateName(r.state);
    return states;
}

// Clicks the message box button with this text.
std::function<void(QWidget *)> clickText(const QString &text)
{
    return [text](QWidget *w) {
        for (QAbstractButton *b : qobject_cast<QMessageBox *>(w)->buttons())
            if (b->text() == text)
                return b->click();
    };
}

void setNames(MainWindow &w, const char *session, const char *point)
{
    w.ui().sessionEdit->setText(QString::fromUtf8(session));
    w.ui().groupEdit->setText(QStringLiteral("G"));
    w.ui().pointNameEdit->setText(QString::fromUtf8(point));
}

// Both links with the names S / G / P1; true once the server has greeted.
bool connectAs(MainWindow &w, Instrument &sim, ScriptServer &server)
{
    chooseLinks(w, sim.portName(), server.port());
    setNames(w, "S", "P1");
    w.ui().actionConnect->trigger();
    return QTest::qWaitFor([&] { return w.ui().serverStatusLabel->isEnabled(); }, 10000);
}

QPair<RPC, QVariant> distance(double d)
{
    MeasDistanceAngle m;
    m.vAngle = M_PI / 2;
    m.slopeDistance = d;
    return qMakePair(BAP_MeasDistanceAngle, QVariant::fromValue(m));
}

} // namespace

class TestJournalWindow : public QObject
{
    Q_OBJECT

    UnexpectedModals unexpected;

private slots:
    void pointWithoutServerIsSentAfterReconnectingWhenAgreed()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.confirmSessions = true;
        server.nextPointName = QStringLiteral("N");
        MainWindow w;
        chooseLinks(w, sim.portName(), deadPort());
        const QString folder = w.journal()->folder();
        setNames(w, "S1", "P1");
        {
            ModalAnswer refused(clickButton(QMessageBox::Ok));
            w.ui().actionConnect->trigger();
            QTRY_VERIFY(refused.done);
        }
        w.ui().measButton->click();
        QTRY_COMPARE(lastStates(folder).value(QStringLiteral("P1")), QStringLiteral("unsent"));
        QVERIFY(logText(w).contains(QStringLiteral("S1 / G / P1: x = ")));
        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY(!w.isClosing());
        // A line damaged on disk is skipped, with a log line, when collecting.
        {
            QFile f(w.journal()->currentFile());
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
            f.write("point,broken,\r\n");
        }

        // Later: nothing goes out unasked.
        setNames(w, "S2", "Q1");
        w.ui().groupEdit->setText(QStringLiteral("H"));
        w.settingsDialog()->serverPortEdit()->setText(QString::number(server.port()));
        {
            ModalAnswer offer(clickText(QStringLiteral("Later")));
            w.ui().actionConnect->trigger();
            QTRY_VERIFY(offer.done);
            QVERIFY2(offer.text.startsWith(QStringLiteral("Points in the journal not confirmed by the server: 1. "
                                                          "Send them now?\n\nS1 / G / P1, measured ")),
                     qPrintable(offer.text));
        }
        QVERIFY(logText(w).contains(QStringLiteral("line 3 is damaged and was skipped")));
        QTest::qWait(300);
        QVERIFY(server.ofType(3).isEmpty());

        // From the Connection menu, sent: its own names, not the fields'. The
        // journal is read in the background, once for a request made twice.
        {
            ModalAnswer offer(clickText(QStringLiteral("Send")));
            w.ui().actionSendUnsent->trigger();
            w.ui().actionSendUnsent->trigger();
            QTRY_VERIFY(offer.done);
        }
        QTRY_COMPARE(server.ofType(3).size(), 1);
        QCOMPARE(logText(w).count(QStringLiteral("line 3 is damaged")), 2);
        QCOMPARE(server.ofType(3).first().texts, QStringList({"S1", "G", "P1"}));
        QTRY_COMPARE(lastStates(folder).value(QStringLiteral("P1")), QStringLiteral("confirmed"));
        // The old point's answer leaves the fields and the link's names alone.
        QCOMPARE(w.ui().sessionEdit->text(), QStringLiteral("S2"));
        QCOMPARE(w.ui().pointNameEdit->text(), QStringLiteral("Q1"));
        const Client::Names names = w.serverLink()->names();
        QCOMPARE(QStringList({names.session, names.group, names.device}),
                 QStringList({"S2", "H", w.ui().deviceNameEdit->text()}));

        // A live point goes on as before, and nothing is left to offer.
        w.ui().measButton->click();
        QTRY_COMPARE(lastStates(folder).value(QStringLiteral("Q1")), QStringLiteral("confirmed"));
        // S2 stays agreed: the old point's answer did not replace it by S1.
        QVERIFY(server.ofType(4).isEmpty());
        w.ui().actionSendUnsent->trigger();
        QTRY_COMPARE(statusText(w), QStringLiteral("The journal holds no unsent points"));
        QCOMPARE(server.ofType(3).size(), 2);
        w.ui().actionDisconnect->trigger();
        QVERIFY(unexpected.seen.isEmpty());
    }

    // Offline every Measure gets a name of its own; the offer lists the
    // points by name and time and flags a name the journal holds twice.
    void offlinePointsGetTheirOwnNamesAndAreOfferedByName()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        MainWindow w;
        chooseLinks(w, sim.portName(), deadPort());
        setNames(w, "", "OFF1");   // no session name
        {
            ModalAnswer refused(clickButton(QMessageBox::Ok));
            w.ui().actionConnect->trigger();
            QTRY_VERIFY(refused.done);
        }
        const auto measure = [&](const char *next) {
            QTRY_VERIFY(w.ui().measButton->isEnabled());
            w.ui().measButton->click();
            QTRY_COMPARE(w.ui().pointNameEdit->text(), QString::fromUtf8(next));
        };
        measure("OFF2");
        measure("OFF3");
        w.ui().pointNameEdit->setText(QStringLiteral("OFF1"));   // typed again
        measure("OFF2");
        w.ui().actionDisconnect->trigger();
        QTRY_VERIFY(!w.isClosing());

        w.settingsDialog()->serverPortEdit()->setText(QString::number(server.port()));
        ModalAnswer offer(clickText(QStringLiteral("Send")));
        w.ui().actionConnect->trigger();
        QTRY_VERIFY(offer.done);
        const QStringList lines = offer.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QStringLiteral("Points in the journal not confirmed by the server: 3. Send them now?"));
        const QString flag = QStringLiteral(" (another point in the journal has this name in this session and group)");
        const QRegularExpression listed(QStringLiteral("^\\(none\\) / G / (OFF\\d), measured "
                                                       "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d(.*)$"));
        const char *names[] = {"OFF1", "OFF2", "OFF1"};
        for (int i = 0; i < 3; ++i) {
            const QRegularExpressionMatch m = listed.match(lines[2 + i]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[2 + i]));
            QCOMPARE(m.captured(1), QString::fromUtf8(names[i]));
            QCOMPARE(m.captured(2), i == 1 ? QString() : flag);
        }
        QCOMPARE(lines[6], QStringLiteral("Points sharing their session, group and name with another point in "
                                          "the journal: 2. The server would file them under the same name."));
        QTRY_COMPARE(server.ofType(3).size(), 3);
        QCOMPARE(server.ofType(3).at(1).texts, QStringList({"", "G", "OFF2"}));
        w.ui().actionDisconnect->trigger();
    }

    void unansweredPointBecomesUnsentWhenTheLinkDrops()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.confirmSessions = true;
        server.nextPointName = QStringLiteral("P2");
        MainWindow w;
        QVERIFY(connectAs(w, sim, server));
        const QString folder = w.journal()->folder();
        w.ui().measButton->click();
        QTRY_COMPARE(lastStates(folder).value(QStringLiteral("P1")), QStringLiteral("confirmed"));
        QTRY_COMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P2"));

        server.nextPointName.clear();   // the server takes P2 and dies before answering
        w.ui().measButton->click();
        QTRY_COMPARE(server.ofType(3).size(), 2);
        QCOMPARE(lastStates(folder).value(QStringLiteral("P2")), QStringLiteral("sent"));
        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            server.closeConnection();
            QTRY_VERIFY_WITH_TIMEOUT(lost.done, 5000);
        }
        QTRY_COMPARE(lastStates(folder).value(QStringLiteral("P2")), QStringLiteral("unsent"));
        QCOMPARE(lastStates(folder).value(QStringLiteral("P1")), QStringLiteral("confirmed"));
        QVERIFY(logText(w).contains(
            QStringLiteral("Points not confirmed by the server, kept as unsent in the journal: 1")));
        w.ui().actionDisconnect->trigger();
    }

    // A point still queued when the connection fails is given back by the
    // link; it becomes unsent once, like the written but unanswered ones.
    void pointGivenBackByTheLinkBecomesUnsent()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        MainWindow w;
        QVERIFY(connectAs(w, sim, server));
        const QString folder = w.journal()->folder();
        Client *link = w.serverLink();
        link->setWriteTimeout(2000);
        server.stopReading();
        // Far more than the socket buffers take: the point waits behind.
        const QVector<MeasuringPoint> pts(ServerMessages::MaxBasePointSet);
        const QVector<double> weights(ServerMessages::MaxBasePointSet, 1.0);
        for (int i = 0; i < 300; ++i)
            QVERIFY(link->sendBasePointSet(pts, pts, weights));
        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            w.handlerResponseReceived(distance(10.0));
            QCOMPARE(lastStates(folder).value(QStringLiteral("P1")), QStringLiteral("sent"));
            QTRY_VERIFY_WITH_TIMEOUT(lost.done, 30000);
        }
        QTRY_VERIFY(!w.serverLink());
        QCOMPARE(statesOf(folder, "P1"), QStringList({"sent", "unsent"}));
        QCOMPARE(logText(w).count(QStringLiteral("S / G / P1: x = 10.000, y = 0.000, z = 0.000, not sent")), 1);
        w.ui().actionDisconnect->trigger();
    }

    // The server answers and closes at once: the answer is read first, the
    // point is confirmed and nothing is marked unsent.
    void answerArrivingWithTheCloseConfirms()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        server.nextPointName = QStringLiteral("P2");
        server.closeAfterAnswer = true;
        MainWindow w;
        QVERIFY(connectAs(w, sim, server));
        const QString folder = w.journal()->folder();
        {
            ModalAnswer lost(clickButton(QMessageBox::Ok));
            w.handlerResponseReceived(distance(10.0));
            QTRY_VERIFY_WITH_TIMEOUT(lost.done, 10000);
        }
        QTRY_VERIFY(!w.serverLink());
        QCOMPARE(statesOf(folder, "P1"), QStringList({"sent", "confirmed"}));
        QCOMPARE(w.ui().pointNameEdit->text(), QStringLiteral("P2"));
        QVERIFY(!logText(w).contains(QStringLiteral("Points not confirmed")));
        w.ui().actionDisconnect->trigger();
    }

    // Closing the window ends the links without reading further answers:
    // the point in flight is unsent in the journal.
    void pointInFlightAtWindowCloseIsUnsent()
    {
        Instrument sim;
        QVERIFY(sim.isReady());
        ScriptServer server;
        QString folder;
        {
            MainWindow w;
            QVERIFY(connectAs(w, sim, server));
            folder = w.journal()->folder();
            w.handlerResponseReceived(distance(10.0));
            QTRY_COMPARE(server.ofType(3).size(), 1);
        }
        QCOMPARE(statesOf(folder, "P1"), QStringList({"sent", "unsent"}));
    }

    void unwritableJournalIsToldOnceAndMeasuringGoesOn()
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        MainWindow w;
        w.journal()->setFolder(dir.filePath(QStringLiteral("file/journal")));
        setNames(w, "S", "P");
        w.handlerResponseReceived(distance(10.0));
        const QString message = statusText(w);
        QVERIFY2(message.startsWith(QStringLiteral("The observation journal ")), qPrintable(message));
        w.handlerResponseReceived(distance(11.0));
        QCOMPARE(logText(w).count(QStringLiteral("The observation journal ")), 1);
        QCOMPARE(logText(w).count(QStringLiteral(", not sent, kept in the journal")), 2);
        QVERIFY(logText(w).contains(QStringLiteral("S / G / P1: x = 11.000, y = 0.000, z = 0.000")));
    }

    void recordSurvivesAHardKill()
    {
        QTemporaryDir dir;
        QProcess child;
        child.setProgram(QFINDTESTDATA("journal_kill_child"));
        child.setArguments({dir.path()});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start();
        QVERIFY(child.waitForStarted(10000));
        QByteArray out;
        while (!out.contains("measured") && child.waitForReadyRead(20000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.contains("measured"), out.constData());
        child.kill();   // SIGKILL: no destructor, no flush at exit
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QList<JournalRecord> lines = journalLines(dir.path());
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().point.pointName, QStringLiteral("K1"));
        QCOMPARE(lines.first().slopeDistance, 42.5);
        QCOMPARE(lines.first().state, JournalState::Unsent);
    }
};

QTEST_MAIN(TestJournalWindow)
#include "test_journal_window.moc"
