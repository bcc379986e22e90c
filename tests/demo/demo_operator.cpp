// The demo's scripted operator. scripts/demo starts it in Stadiolink's place
// (DEMO_APP), with the same arguments and environment; it builds the same
// main window as the program and works through the demo's walkthrough with
// the window's own buttons: checks that Settings already holds the
// simulator's port (or types the simulator's host:port when the demo runs it
// over TCP), connects, measures the corners K1 to K3, has the demo stop the
// server and measures two check shots, OFF1 and OFF2, into the journal while
// the window reconnects in the background, has the demo start the server
// again on its port and sends the two points when the window offers them,
// then measures the four base points in the base points dialog and presses
// Calculate. It checks the server's CSV, the journal's line for each point in
// the log pane and the dialog's deviations and RMS. With DEMO_LANGUAGE=en it
// first switches the window to English (Settings > Language), so that every
// line it logs is English too; with DEMO_SHOTS=<folder> it saves the
// README's pictures of the main window (reconnecting, the server away) and
// the dialog in the window's language. Exit code 0 when all went as the
// README says, 1 otherwise, with the reason on stderr.
//
// It aims from the simulator's own account of where each target lies
// (DEMO_DIRECTIONS, the field sketch the demo prints): arrow buttons until
// the horizontal angle is near, then Capture to snap onto the reflector. So
// it depends neither on the direction in which the instrument counts its
// horizontal angle nor on how fast it answers.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <functional>

#include <signal.h>
#include <sys/types.h>

#include "basepoints.h"
#include "basepointstable.h"
#include "entry.h"
#include "localization.h"
#include "mainwindow.h"
#include "mainwindowui.h"
#include "serialporthandler.h"
#include "settingsdialog.h"

namespace {

const int kLongWait = 60000; // ms; a real-timing instrument takes ~2 s a distance

struct Direction
{
    double hz = 0, v = 0, d = 0;
};

double wrapPi(double a)
{
    a = std::fmod(a, 2 * M_PI);
    if (a > M_PI)
        a -= 2 * M_PI;
    if (a < -M_PI)
        a += 2 * M_PI;
    return a;
}

class Operator : public QObject
{
public:
    explicit Operator(MainWindow &window)
        : w(window)
    {
        // The offer of unsent points is answered with Send, every other
        // message box with Ok; each is remembered.
        connect(&boxTimer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box->windowTitle() == QCoreApplication::translate("MainWindow", "Unsent points")) {
                offers << box->text();
                const QString send = QCoreApplication::translate("MainWindow", "Send");
                for (QAbstractButton *b : box->buttons())
                    if (b->text() == send)
                        return b->click();
            }
            boxes << box->windowTitle() + QStringLiteral(": ") + box->text();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        boxTimer.start(50);
    }

    int run()
    {
        if (!readSketch())
            return 1;
        if (qEnvironmentVariable("DEMO_LANGUAGE") == QStringLiteral("en"))
            w.ui().actionLanguageEn->trigger();
        const bool ok = checkSettings() && connectLinks() && measureCorners() && workWithoutServer()
                        && setUpStation();
        if (!ok)
            fail(QStringLiteral("message boxes: ") + boxes.join(QStringLiteral(" | ")));
        BasePoints *dialog = w.basePointsDialog();
        dialog->hide();
        w.ui().actionDisconnect->trigger();
        return ok ? 0 : 1;
    }

private:
    bool fail(const QString &why)
    {
        std::fprintf(stderr, "demo operator: %s\n", qPrintable(why));
        return false;
    }

    bool waitFor(const std::function<bool()> &done, const QString &what, int ms = kLongWait)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return fail(QStringLiteral("gave up waiting for ") + what);
            QTest::qWait(20);
        }
        return true;
    }

    bool readSketch()
    {
        QFile file(qEnvironmentVariable("DEMO_DIRECTIONS"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(QStringLiteral("no field sketch in DEMO_DIRECTIONS"));
        while (!file.atEnd()) {
            const QStringList f = QString::fromUtf8(file.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (f.size() == 4)
                sky.insert(f[0], Direction{f[1].toDouble(), f[2].toDouble(), f[3].toDouble()});
        }
        return sky.size() == 7 || fail(QStringLiteral("the sketch has %1 targets, not 7").arg(sky.size()));
    }

    // Settings opens with the simulator's port already chosen; the server
    // port is typed only when the demo runs its server elsewhere than 5544,
    // the instrument's host:port when the demo runs it over TCP.
    bool checkSettings()
    {
        const QString address = qEnvironmentVariable("DEMO_INSTRUMENT_ADDRESS");
        const QString expected = address.isEmpty() ? qEnvironmentVariable("STADIOLINK_SERIAL_PORTS") : address;
        const QString serverPort = qEnvironmentVariable("DEMO_SERVER_PORT");
        QString shown;
        SettingsDialog *settings = w.settingsDialog();
        QTimer::singleShot(300, settings, [&] {
            if (!address.isEmpty())
                settings->portCombo()->setEditText(address);
            shown = settings->portCombo()->currentText();
            if (settings->serverPortEdit()->text() != serverPort)
                settings->serverPortEdit()->setText(serverPort);
            settings->close();
        });
        w.ui().actionSettings->trigger();
        if (expected.isEmpty() || shown != expected)
            return fail(QStringLiteral("Settings showed the port \"%1\", not the simulator's \"%2\"").arg(shown, expected));
        return true;
    }

    bool connectLinks()
    {
        w.ui().actionConnect->trigger();
        if (!waitFor([this] { return w.serialLink() && w.serialLink()->isRunning(); },
                     QStringLiteral("the instrument link")))
            return false;
        connect(w.serialLink(), &SerialPortHandler::responseReceived, this,
                [this](QPair<RPC, QVariant> reply) {
                    if (reply.first == TMC_GetAngle5) {
                        hz = reply.second.value<TMC_HZ_V_ANG>().hzAngle;
                        ++angleReplies;
                    }
                });
        w.ui().speedSlider->setValue(50); // 0.5 rad/s
        BasePointsTable *table = w.basePointsDialog()->table();
        return waitFor([table] { return table->rows.size() == 4; },
                       QStringLiteral("the server's four base points"));
    }

    // The horizontal angle read after everything asked before this call.
    bool freshAngle(double *out)
    {
        const int seen = angleReplies;
        if (!waitFor([&] { return angleReplies >= seen + 2; }, QStringLiteral("the angle read-out")))
            return false;
        *out = hz;
        return true;
    }

    bool aimAt(const QString &name)
    {
        const double target = sky.value(name).hz;
        const double speed = w.ui().speedSlider->value() * 0.01;
        double now = 0;
        for (int turn = 0; turn < 10; ++turn) {
            if (!freshAngle(&now))
                return false;
            const double delta = wrapPi(target - now);
            if (std::fabs(delta) < 0.2)
                break;
            QPushButton *arrow = delta > 0 ? w.ui().rightButton : w.ui().leftButton;
            QTest::mousePress(arrow, Qt::LeftButton);
            QTest::qWait(int(std::fabs(delta) / speed * 1000));
            QTest::mouseRelease(arrow, Qt::LeftButton);
        }
        QToolButton *capture = w.ui().captureButton;
        capture->click(); // lock on: the instrument snaps onto the nearest reflector
        const bool snapped = freshAngle(&now) && std::fabs(wrapPi(now - target)) < 2e-3;
        capture->click(); // and free it again
        return snapped || fail(QStringLiteral("could not aim at %1: Hz %2, wanted %3").arg(name).arg(now).arg(target));
    }

    int csvLines() const
    {
        QFile csv(qEnvironmentVariable("DEMO_CSV"));
        if (!csv.open(QIODevice::ReadOnly | QIODevice::Text))
            return 0;
        return csv.readAll().count('\n');
    }

    // The CSV's last `count` lines.
    QStringList lastCsvLines(int count) const
    {
        QFile csv(qEnvironmentVariable("DEMO_CSV"));
        csv.open(QIODevice::ReadOnly | QIODevice::Text);
        const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.mid(qMax(0, lines.size() - count));
    }

    // A CSV line is the point `name` measured on the sketch's `target`, in
    // the session and group of the corners, from the demo's instrument.
    bool csvLineIs(const QString &line, const QString &name, const QString &target)
    {
        const QStringList f = line.split(QLatin1Char(','));
        const Direction t = sky.value(target);
        if (f.size() != 7 || f[0] != session || f[1] != group || f[2] != name
            || f[6] != QStringLiteral("TS16 demo"))
            return fail(QStringLiteral("CSV line: ") + line);
        const double horizontal = std::hypot(f[3].toDouble(), f[4].toDouble());
        if (std::fabs(horizontal - t.d * std::sin(t.v)) > 0.001 || std::fabs(f[5].toDouble() - t.d * std::cos(t.v)) > 0.001)
            return fail(QStringLiteral("%1 on %2 measured as %3").arg(name, target, line));
        return true;
    }

    // Signals the demo script: SIGUSR1 stops the server, SIGUSR2 starts it
    // again on its port.
    bool signalDemo(int signal)
    {
        const qint64 demo = qEnvironmentVariable("DEMO_PID").toLongLong();
        if (demo <= 0 || ::kill(pid_t(demo), signal) != 0)
            return fail(QStringLiteral("cannot signal the demo (DEMO_PID \"%1\")").arg(qEnvironmentVariable("DEMO_PID")));
        return true;
    }

    // Three corners from the main window; each reaches the server's CSV in
    // the instrument's own frame: its horizontal distance and height
    // difference are the sketch's.
    bool measureCorners()
    {
        const int before = csvLines(); // the server wrote the header when it started
        const QStringList corners = {QStringLiteral("K1"), QStringLiteral("K2"), QStringLiteral("K3")};
        // The names a surveyor types; the server then proposes K2 and K3.
        for (auto field : {std::make_pair(w.ui().sessionEdit, session), std::make_pair(w.ui().groupEdit, group),
                           std::make_pair(w.ui().pointNameEdit, corners[0])}) {
            field.first->clear();
            QTest::keyClicks(field.first, field.second);
        }
        for (int i = 0; i < corners.size(); ++i) {
            if (i > 0 && !aimAt(corners[i]))
                return false;
            w.ui().measButton->click();
            if (!waitFor([&] { return csvLines() >= before + i + 1; },
                         QStringLiteral("%1 in the server's CSV").arg(corners[i])))
                return false;
        }
        QFile csv(qEnvironmentVariable("DEMO_CSV"));
        csv.open(QIODevice::ReadOnly | QIODevice::Text);
        QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.size() < 4 || lines.first() != QStringLiteral("session,group,point,x,y,z,device"))
            return fail(QStringLiteral("the CSV is not as expected:\n") + lines.join(QLatin1Char('\n')));
        lines = lines.mid(lines.size() - 3);
        for (int i = 0; i < 3; ++i) {
            if (!csvLineIs(lines[i], corners[i], corners[i]))
                return false;
        }
        if (csvLines() != before + 3)
            return fail(QStringLiteral("the CSV does not hold the three corners once each"));
        // The journal's line for each point, in the window's language.
        const QString log = w.ui().logPane->toPlainText();
        for (const QString &corner : corners) {
            const QString head = QStringLiteral("%1 / %2 / %3: x = ").arg(session, group, corner);
            if (log.count(head) != 1)
                return fail(QStringLiteral("the log pane has not one line for %1:\n%2").arg(corner, log));
        }
        return true;
    }

    // The server goes away: one box, and the window reconnects in the
    // background. Two check shots on K1 and K2 go into the journal under
    // names of their own (OFF1 typed, OFF2 counted on by the driver); when
    // the server is back on its port the window offers them by name, they
    // are sent, and the server's CSV holds both, each under its own name.
    bool workWithoutServer()
    {
        if (!signalDemo(SIGUSR1))
            return false;
        const QString lost = QCoreApplication::translate("Client", "Network information") + QStringLiteral(": ")
            + QCoreApplication::translate("Client", "The server has closed the connection");
        if (!waitFor([this] { return w.isReconnecting(); }, QStringLiteral("the window to reconnect by itself")))
            return false;
        if (!waitFor([&] { return boxes.contains(lost); }, QStringLiteral("the box for the lost server")))
            return false;
        QLineEdit *name = w.ui().pointNameEdit;
        name->clear();
        QTest::keyClicks(name, QStringLiteral("OFF1"));
        const QStringList targets = {QStringLiteral("K1"), QStringLiteral("K2")};
        const QStringList names = {QStringLiteral("OFF1"), QStringLiteral("OFF2")};
        for (int i = 0; i < 2; ++i) {
            if (!aimAt(targets[i]))
                return false;
            if (!waitFor([this] { return w.ui().measButton->isEnabled(); }, QStringLiteral("Measure")))
                return false;
            w.ui().measButton->click();
            const QString next = i == 0 ? names[1] : QStringLiteral("OFF3");
            if (!waitFor([&] { return name->text() == next; }, QStringLiteral("the point name %1").arg(next)))
                return false;
        }
        const QString kept = QCoreApplication::translate("MainWindow", "not sent, kept in the journal");
        for (const QString &n : names) {
            const QRegularExpression line(QStringLiteral("%1 / %2 / %3: x = [^\\n]*%4")
                                              .arg(session, group, n, QRegularExpression::escape(kept)));
            if (w.ui().logPane->toPlainText().count(line) != 1)
                return fail(QStringLiteral("the log pane has not one line for %1 kept in the journal").arg(n));
        }
        // Taller, as an operator would drag it, so that the log pane shows every line.
        if (!qEnvironmentVariableIsEmpty("DEMO_SHOTS"))
            w.resize(w.width(), w.height() + 200);
        shoot(&w, QStringLiteral("reconnecting"));

        const int before = csvLines();
        if (!signalDemo(SIGUSR2))
            return false;
        if (!waitFor([&] { return !offers.isEmpty() && csvLines() >= before + 2; },
                     QStringLiteral("the offer of the two points and their lines in the CSV")))
            return false;
        for (const QString &n : names) {
            if (!offers.first().contains(QStringLiteral("%1 / %2 / %3").arg(session, group, n)))
                return fail(QStringLiteral("%1 is not offered:\n%2").arg(n, offers.first()));
        }
        const QStringList sent = lastCsvLines(2);
        if (csvLines() != before + 2 || !csvLineIs(sent[0], names[0], targets[0])
            || !csvLineIs(sent[1], names[1], targets[1]))
            return fail(QStringLiteral("the CSV does not hold OFF1 and OFF2 once each"));
        if (!waitFor([this] { return w.ui().serverStatusLabel->isEnabled(); }, QStringLiteral("the server label")))
            return false;
        if (boxes != QStringList{lost} || offers.size() != 1)
            return fail(QStringLiteral("unexpected message boxes"));
        boxes.clear();
        std::printf("demo operator: the server went away and came back; OFF1 and OFF2 kept, offered and sent\n");
        return true;
    }

    bool setUpStation()
    {
        BasePoints *dialog = w.basePointsDialog();
        BasePointsTable *table = dialog->table();
        w.ui().basePointsButton->click();
        if (!waitFor([&] { return dialog->isVisible() && w.isBasePointMode(); }, QStringLiteral("the base points dialog")))
            return false;
        const QPoint firstNumber(table->columnLeft(NumberColumn) + table->headers[NumberColumn].width / 2,
                                 table->headerHeight + table->rowHeight / 2);
        QTest::mouseClick(table, Qt::LeftButton, Qt::NoModifier, firstNumber);
        auto *measure = dialog->findChild<QPushButton *>(QStringLiteral("measureButton"));
        for (int i = 0; i < 4; ++i) {
            BasePointRow *row = table->rows[i];
            if (table->currentRow != row)
                return fail(QStringLiteral("row %1 is not the one chosen").arg(i + 1));
            if (!aimAt(row->textCell(NameColumn)->text))
                return false;
            measure->click();
            if (!waitFor([row] { return row->measured; }, QStringLiteral("the measurement of row %1").arg(i + 1)))
                return false;
        }
        if (!waitFor([this] { return !boxes.isEmpty(); }, QStringLiteral("\"All basepoints have been measured\"")))
            return false;

        auto *rms = dialog->findChild<QLineEdit *>(QStringLiteral("rmsField"));
        dialog->findChild<QPushButton *>(QStringLiteral("calculateButton"))->click();
        if (!waitFor([rms] { return !rms->text().isEmpty(); }, QStringLiteral("the station from the server")))
            return false;
        QStringList shown;
        bool small = true;
        for (BasePointRow *row : table->rows) {
            const double d = row->textCell(DColumn)->text.toDouble();
            small = small && d > 0 && d < 0.015;
            shown << row->textCell(NameColumn)->text + QStringLiteral(" D ") + row->textCell(DColumn)->text;
        }
        const double r = rms->text().toDouble();
        if (!small || r < 0.001 || r > 0.010)
            return fail(QStringLiteral("deviations of millimetres expected: RMS %1, %2").arg(rms->text(), shown.join(QStringLiteral(", "))));
        const QString allMeasured = QCoreApplication::translate("BasePoints", "Information") + QStringLiteral(": ")
            + QCoreApplication::translate("BasePoints", "All basepoints have been measured");
        if (boxes != QStringList{allMeasured})
            return fail(QStringLiteral("unexpected message boxes"));
        std::printf("demo operator: station set up, RMS %s m (%s)\n", qPrintable(rms->text()),
                    qPrintable(shown.join(QStringLiteral(", "))));
        shoot(dialog, QStringLiteral("station"));
        return true;
    }

    // With DEMO_SHOTS set: the widget, named after the window's language.
    void shoot(QWidget *widget, const QString &name)
    {
        const QString folder = qEnvironmentVariable("DEMO_SHOTS");
        if (folder.isEmpty())
            return;
        QTest::qWait(300); // laid out and painted
        const QString file = QStringLiteral("%1/%2_%3.png").arg(folder, name, Localization::instance->language());
        if (!widget->grab().save(file))
            fail(QStringLiteral("cannot write ") + file);
    }

    MainWindow &w;
    QMap<QString, Direction> sky;
    QTimer boxTimer;
    QStringList boxes;
    QStringList offers; // the texts of the offers of unsent points
    const QString session = QStringLiteral("Survey 1"), group = QStringLiteral("Building A");
    double hz = 0;
    int angleReplies = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    Localization::instance = new Localization;
    QApplication app(argc, argv);
    int result = 1;
    {
        MainWindow window(deviceNameFromArguments(QCoreApplication::arguments()));
        window.show();
        Operator op(window);
        QTimer::singleShot(0, &window, [&] {
            result = op.run();
            window.close();
        });
        app.exec();
        delete Localization::instance;
        Localization::instance = nullptr;
    }
    return result;
}
