// The demo's scripted operator. scripts/demo starts it in Stadiolink's place
// (DEMO_APP), with the same arguments and environment; it builds the same
// main window as the program and works through the demo's walkthrough with
// the window's own buttons: checks that Settings already holds the
// simulator's port, connects, measures the corners K1 to K3, measures the
// four base points in the base points dialog and presses Calculate. It then
// checks the server's CSV, the journal's line for each point in the log pane
// and the dialog's deviations and RMS. With DEMO_LANGUAGE=en it first switches
// the window to English (Settings > Language), so that every line it logs is
// English too; with DEMO_SHOTS=<folder> it saves the README's pictures of the
// main window and the dialog in the window's language. Exit code 0 when all
// went as the README says, 1 otherwise, with the reason on stderr.
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
        // Every message box is answered with Ok and remembered.
        connect(&boxTimer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
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
        const bool ok = checkSettings() && connectLinks() && measureCorners() && setUpStation();
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
    // port is typed only when the demo runs its server elsewhere than 5544.
    bool checkSettings()
    {
        const QString expected = qEnvironmentVariable("STADIOLINK_SERIAL_PORTS");
        const QString serverPort = qEnvironmentVariable("DEMO_SERVER_PORT");
        QString shown;
        SettingsDialog *settings = w.settingsDialog();
        QTimer::singleShot(300, settings, [&] {
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

    // Three corners from the main window; each reaches the server's CSV in
    // the instrument's own frame: its horizontal distance and height
    // difference are the sketch's.
    bool measureCorners()
    {
        const int before = csvLines(); // the server wrote the header when it started
        const QStringList corners = {QStringLiteral("K1"), QStringLiteral("K2"), QStringLiteral("K3")};
        // The names a surveyor types; the server then proposes K2 and K3.
        const QString session = QStringLiteral("Survey 1"), group = QStringLiteral("Building A");
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
            const QStringList f = lines[i].split(QLatin1Char(','));
            const Direction t = sky.value(corners[i]);
            if (f.size() != 7 || f[0] != session || f[1] != group || f[2] != corners[i]
                || f[6] != QStringLiteral("TS16 demo"))
                return fail(QStringLiteral("CSV line: ") + lines[i]);
            const double horizontal = std::hypot(f[3].toDouble(), f[4].toDouble());
            if (std::fabs(horizontal - t.d * std::sin(t.v)) > 0.001 || std::fabs(f[5].toDouble() - t.d * std::cos(t.v)) > 0.001)
                return fail(QStringLiteral("%1 measured as %2").arg(corners[i], lines[i]));
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
        // Taller, as an operator would drag it, so that the log pane shows every line.
        if (!qEnvironmentVariableIsEmpty("DEMO_SHOTS"))
            w.resize(w.width(), w.height() + 90);
        shoot(&w, QStringLiteral("measured"));
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
