// Settings dialog: defaults, the mapping of the fields to PortSettings in
// both languages, the editable port field and the server port field.

#include <QtTest>

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QTranslator>

#include <pty.h>
#include <unistd.h>

#include "resources.h"
#include "settingsdialog.h"

#include <QLabel>

namespace {
QString formLabel(QWidget *field)
{
    auto *form = qobject_cast<QFormLayout *>(field->parentWidget()->layout());
    if (!form)
        return QString();
    auto *label = qobject_cast<QLabel *>(form->labelForField(field));
    return label ? label->text() : QString();
}
QStringList items(QComboBox *c)
{
    QStringList r;
    for (int i = 0; i < c->count(); ++i)
        r << c->itemText(i);
    return r;
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    QTranslator russian;

    void toRussian(SettingsDialog &d)
    {
        QVERIFY(russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")));
        QCoreApplication::installTranslator(&russian);
        d.retranslate();
    }
    void toEnglish(SettingsDialog &d)
    {
        QCoreApplication::removeTranslator(&russian);
        d.retranslate();
    }

private slots:
    void initTestCase() { stadiolinkInitResources(); }
    void cleanup() { QCoreApplication::removeTranslator(&russian); }

    void freshDialogShowsTheDefaults()
    {
        SettingsDialog d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(d.baudRateCombo()->currentText(), QStringLiteral("115200"));
        QCOMPARE(d.baudRateCombo()->count(), 18);
        QCOMPARE(d.baudRateCombo()->itemText(0), QStringLiteral("75"));
        QCOMPARE(d.baudRateCombo()->itemText(17), QStringLiteral("128000"));
        QCOMPARE(d.dataBitsCombo()->currentText(), QStringLiteral("8"));
        QCOMPARE(d.parityCombo()->currentText(), QStringLiteral("None"));
        QCOMPARE(d.stopBitsCombo()->currentText(), QStringLiteral("1"));
        QCOMPARE(d.flowControlCombo()->currentText(), QStringLiteral("None"));
        QCOMPARE(d.serverAddress(), QStringLiteral("localhost"));
        QCOMPARE(d.serverPort(), quint16(5544));

        const PortSettings s = d.settings();
        QCOMPARE(s.baudRate, 115200);
        QCOMPARE(s.dataBits, QSerialPort::Data8);
        QCOMPARE(s.parity, QSerialPort::NoParity);
        QCOMPARE(s.stopBits, QSerialPort::OneStop);
        QCOMPARE(s.flowControl, QSerialPort::NoFlowControl);

        QCOMPARE(formLabel(d.portCombo()), QStringLiteral("Port:"));
        QCOMPARE(formLabel(d.serverPortEdit()), QStringLiteral("Port (server):"));
        QCOMPARE(d.serialGroup()->title(), QStringLiteral("COM Port Settings"));
        QCOMPARE(d.serverGroup()->title(), QStringLiteral("Server Connection Settings"));
    }

    void portListIsWhatQtFindsAndTheFieldTakesTypedNames()
    {
        qunsetenv(SettingsDialog::offeredPortsVariable);
        SettingsDialog d;
        QStringList found;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            found << info.portName();
        QCOMPARE(items(d.portCombo()), found);
        for (int i = 0; i < d.portCombo()->count(); ++i)
            QCOMPARE(d.portCombo()->itemData(i).toString(), found.at(i));
        QCOMPARE(d.settings().portName, found.value(0));

        // A pseudo-terminal is not enumerated, but its name can be typed.
        int master = -1, slave = -1;
        char name[256] = {};
        QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
        const QString ptyName = QString::fromLocal8Bit(name);
        d.portCombo()->setFocus();
        d.portCombo()->lineEdit()->clear();
        QTest::keyClicks(d.portCombo()->lineEdit(), ptyName);
        QCOMPARE(d.settings().portName, ptyName);
        // Typing does not add the name to the list of found ports.
        QTest::keyClick(d.portCombo()->lineEdit(), Qt::Key_Return);
        QCOMPARE(items(d.portCombo()), found);
        QCOMPARE(d.settings().portName, ptyName);
        ::close(slave);
        ::close(master);

        d.portCombo()->setEditText(QStringLiteral("COM17"));
        QCOMPARE(d.settings().portName, QStringLiteral("COM17"));
        d.portCombo()->setEditText(QString());
        QCOMPARE(d.settings().portName, QString());
    }

    void portsNamedInTheEnvironmentComeFirstAndTheFirstIsChosen()
    {
        const char sep = QDir::listSeparator().toLatin1();
        const QByteArray named = QByteArray(" /tmp/demo/ttyTS ") + sep + sep + "COM7" + sep + "COM7";
        QCOMPARE(SettingsDialog::offeredPorts({"COM1", "COM7"}, QString::fromLatin1(named)),
                 QStringList({"/tmp/demo/ttyTS", "COM7", "COM1"}));
        QCOMPARE(SettingsDialog::offeredPorts({"COM1"}, QString()), QStringList({"COM1"}));
        QCOMPARE(SettingsDialog::offeredPorts({}, QString(sep)), QStringList());
        // Network ports, whatever the separator, stay whole.
        const QStringList net{"/dev/pts/3", "127.0.0.1:5000", "tcp://ts16.local:4001", "[::1]:4002", "COM4"};
        QCOMPARE(SettingsDialog::offeredPorts({}, net.join(';')), net);
        QCOMPARE(SettingsDialog::offeredPorts({}, net.join(QString(sep))), net);

        QStringList found;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            found << info.portName();
        qputenv(SettingsDialog::offeredPortsVariable, "/tmp/demo/ttyTS");
        SettingsDialog d;
        qunsetenv(SettingsDialog::offeredPortsVariable);
        QCOMPARE(items(d.portCombo()), QStringList("/tmp/demo/ttyTS") + found);
        QCOMPARE(d.portCombo()->itemData(0).toString(), QStringLiteral("/tmp/demo/ttyTS"));
        QCOMPARE(d.settings().portName, QStringLiteral("/tmp/demo/ttyTS"));
    }

    // The serial parameters do not apply to a network port, and say so.
    void networkPortSetsSerialFieldsAside()
    {
        SettingsDialog d;
        d.show();
        QList<QWidget *> serial{d.baudRateCombo(), d.dataBitsCombo(), d.parityCombo(),
                                d.stopBitsCombo(), d.flowControlCombo()};
        d.portCombo()->setEditText(QStringLiteral("tcp://10.0.0.7:4001"));
        for (QWidget *w : serial)
            QVERIFY(!w->isEnabled());
        QVERIFY(d.networkNote()->isVisible());
        QCOMPARE(d.settings().portName, QStringLiteral("tcp://10.0.0.7:4001"));
        for (const char *name : {"COM3", "/dev/ttyUSB0", "ts16:"}) {
            d.portCombo()->setEditText(QString::fromLatin1(name));
            for (QWidget *w : serial)
                QVERIFY2(w->isEnabled(), name);
            QVERIFY(!d.networkNote()->isVisible());
        }
    }

    void fieldsMapToPortSettings_data()
    {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("dataBits");
        QTest::addColumn<int>("parity");     // list index
        QTest::addColumn<QString>("stopBits");
        QTest::addColumn<int>("flow");       // list index
        QTest::addColumn<int>("eBaud");
        QTest::addColumn<int>("eDataBits");
        QTest::addColumn<int>("eParity");
        QTest::addColumn<int>("eStopBits");
        QTest::addColumn<int>("eFlow");
        QTest::newRow("slowest, 5 bits, even, 1.5, hardware")
            << "75" << "5" << 1 << "1.5" << 1 << 75 << 5 << 2 << 3 << 1;
        QTest::newRow("6 bits, odd, 2 stop, xon/xoff")
            << "9600" << "6" << 2 << "2" << 2 << 9600 << 6 << 3 << 2 << 2;
        QTest::newRow("7 bits, mark")
            << "128000" << "7" << 3 << "1" << 0 << 128000 << 7 << 5 << 1 << 0;
        QTest::newRow("space")
            << "134" << "8" << 4 << "1" << 0 << 134 << 8 << 4 << 1 << 0;
    }
    void fieldsMapToPortSettings()
    {
        QFETCH(QString, baud);
        QFETCH(QString, dataBits);
        QFETCH(int, parity);
        QFETCH(QString, stopBits);
        QFETCH(int, flow);
        SettingsDialog d;
        d.baudRateCombo()->setCurrentText(baud);
        d.dataBitsCombo()->setCurrentText(dataBits);
        d.parityCombo()->setCurrentIndex(parity);
        d.stopBitsCombo()->setCurrentText(stopBits);
        d.flowControlCombo()->setCurrentIndex(flow);

        const PortSettings s = d.settings();
        QTEST(s.baudRate, "eBaud");
        QTEST(int(s.dataBits), "eDataBits");
        QTEST(int(s.parity), "eParity");
        QTEST(int(s.stopBits), "eStopBits");
        QTEST(int(s.flowControl), "eFlow");

        // The same selection maps the same way once the lists are Russian.
        toRussian(d);
        const PortSettings r = d.settings();
        QCOMPARE(r.parity, s.parity);
        QCOMPARE(r.flowControl, s.flowControl);
        QCOMPARE(r.stopBits, s.stopBits);
    }

    void languageSwitchTranslatesListsAndKeepsTheirPositions()
    {
        SettingsDialog d;
        d.parityCombo()->setCurrentIndex(2);       // Odd
        d.flowControlCombo()->setCurrentIndex(1);  // Hardware
        d.baudRateCombo()->setCurrentText(QStringLiteral("19200"));
        d.addressEdit()->setText(QStringLiteral("192.168.0.7"));
        d.serverPortEdit()->setText(QStringLiteral("6000"));

        toRussian(d);
        QCOMPARE(d.windowTitle(), QStringLiteral("Настройки"));
        QCOMPARE(d.serialGroup()->title(), QStringLiteral("Настройки COM-порта"));
        QCOMPARE(formLabel(d.parityCombo()), QStringLiteral("Чётность:"));
        QCOMPARE(formLabel(d.addressEdit()), QStringLiteral("IP-адрес:"));
        QCOMPARE(d.parityCombo()->count(), 5);
        QCOMPARE(d.parityCombo()->currentIndex(), 2);
        QCOMPARE(d.parityCombo()->currentText(), QStringLiteral("Нечётный"));
        QCOMPARE(d.flowControlCombo()->currentIndex(), 1);
        QCOMPARE(d.flowControlCombo()->currentText(), QStringLiteral("Аппаратное"));
        QCOMPARE(d.settings().parity, QSerialPort::OddParity);
        QCOMPARE(d.settings().flowControl, QSerialPort::HardwareControl);
        // Untranslated lists and the typed fields stay as they were.
        QCOMPARE(d.baudRateCombo()->currentText(), QStringLiteral("19200"));
        QCOMPARE(d.serverAddress(), QStringLiteral("192.168.0.7"));
        QCOMPARE(d.serverPort(), quint16(6000));

        toEnglish(d);
        QCOMPARE(items(d.parityCombo()),
                 QStringList({"None", "Even", "Odd", "Mark", "Space"}));
        QCOMPARE(items(d.flowControlCombo()), QStringList({"None", "Hardware", "XON/XOFF"}));
        QCOMPARE(d.parityCombo()->currentText(), QStringLiteral("Odd"));
        QCOMPARE(formLabel(d.flowControlCombo()), QStringLiteral("Flow control:"));
        QCOMPARE(d.settings().parity, QSerialPort::OddParity);
    }

    void serverPortFieldAcceptsOnlyValidPorts()
    {
        SettingsDialog d;
        QLineEdit *port = d.serverPortEdit();
        port->clear();
        QCOMPARE(d.serverPort(), quint16(0));       // empty while typing

        port->setFocus();
        QTest::keyClicks(port, QStringLiteral("70000"));
        QVERIFY(port->text() != QStringLiteral("70000"));
        QVERIFY(port->text().toInt() <= 65535);

        port->clear();
        QTest::keyClicks(port, QStringLiteral("65535"));
        QCOMPARE(d.serverPort(), quint16(65535));

        port->clear();
        QTest::keyClicks(port, QStringLiteral("12ab3"));
        QCOMPARE(port->text(), QStringLiteral("123"));

        port->setText(QStringLiteral("0"));
        QCOMPARE(d.serverPort(), quint16(0));

        // Digits only whatever the locale: no group separator, sign or other
        // script's digits gets in, so what is shown is the port that is read.
        const QLocale previous;
        for (const char *name : {"de_DE", "ru_RU", "ar_EG"}) {
            QLocale::setDefault(QLocale(QLatin1String(name)));
            SettingsDialog local;
            QLineEdit *edit = local.serverPortEdit();
            const QValidator *v = edit->validator();
            for (QString text : {QStringLiteral("5.544"), QStringLiteral("5,544"), QString::fromUtf8("5\u00A0544"),
                                 QStringLiteral("+5544"), QStringLiteral(" 5544"),
                                 QString::fromUtf8("\u0665\u0665\u0664\u0664")}) {
                int pos = text.size();
                QVERIFY2(v->validate(text, pos) == QValidator::Invalid, qPrintable(QLatin1String(name) + ": " + text));
            }
            edit->clear();
            QTest::keyClicks(edit, QString::fromUtf8("5\u00A0544"));
            QCOMPARE(edit->text(), QStringLiteral("5544"));
            QCOMPARE(local.serverPort(), quint16(5544));
        }
        QLocale::setDefault(previous);

        // The address is taken as typed, blanks included.
        d.addressEdit()->setText(QStringLiteral(" survey-server "));
        QCOMPARE(d.serverAddress(), QStringLiteral(" survey-server "));
    }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
