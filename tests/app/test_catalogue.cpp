// The Russian catalogue: it holds every message the program shows, each one
// translated, and nothing the code translates is missing from it.

#include <QtTest>

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include "resources.h"

namespace {

struct Message {
    const char *context;
    const char *source;
};

// Every user-visible source text of the driver, by the class that shows it.
const Message messages[] = {
    {"AbstractHandler", "There are no errors"},
    {"BasePoints", "%1: nothing was measured"},
    {"BasePoints", "A weight must be a number greater than 0. Correct the weight, or clear the Used box to leave the point out: %1"},
    {"BasePoints", "All basepoints have been measured"},
    {"BasePoints", "Base points"},
    {"BasePoints", "Calculate"},
    {"BasePoints", "Cancel"},
    {"BasePoints", "Error"},
    {"BasePoints", "Information"},
    {"BasePoints", "It is necessary to measure more than two points"},
    {"BasePoints", "Max error:"},
    {"BasePoints", "Measure"},
    {"BasePoints", "Min error:"},
    {"BasePoints", "More than two points must be included in the calculation"},
    {"BasePoints", "Name"},
    {"BasePoints", "No station matrix has come from the server within %1 s: the server could not solve with these points or does not answer"},
    {"BasePoints", "Ok"},
    {"BasePoints", "RMS:"},
    {"BasePoints", "Rows:"},
    {"BasePoints", "The instrument has not answered within %1 s"},
    {"BasePoints", "There is no connection to the instrument: nothing was measured"},
    {"BasePoints", "There is no connection to the server: nothing was calculated"},
    {"BasePoints", "Used"},
    {"BasePoints", "Wait for the device to hover over the next point"},
    {"BasePoints", "Weight"},
    {"Client", "A session with that name already exists. Replace with: %1 ?"},
    {"Client", "Connection rejected"},
    {"Client", "Error: "},
    {"Client", "Network information"},
    {"Client", "Session error"},
    {"Client", "The server at the specified address was not found"},
    {"Client", "The server has closed the connection"},
    {"Client", "The point's names are too long to send"},
    {"Client", "The server does not accept data"},
    {"Client", "The session name is too long to send"},
    {"Client", "There is no connection to the server"},
    {"Client", "Too many base points for one request: %1 (at most %2)"},
    {"CommandLine",
     "Usage: Stadiolink [DEVICE NAME]\n"
     "       Stadiolink --help | --version\n"
     "\n"
     "Drives a motorised Leica total station over a serial port (GeoCOM) and sends\n"
     "the measured points to the Velmora CAD server over TCP.\n"
     "\n"
     "DEVICE NAME  the instrument's name, shown read-only in the window and sent to\n"
     "             the server; without it the name can be typed in the window.\n"
     "\n"
     "Options:\n"
     "  -h, --help  show this help and exit\n"
     "  --version   show the version and exit\n"
     "\n"
     "Environment:\n"
     "  STADIOLINK_SERIAL_PORTS  serial ports that Settings offers before the ports\n"
     "                           found, separated by \"%1\"; the first is chosen.\n"},
    {"CommandLine", "Stadiolink: unknown option %1\nStadiolink --help lists the options.\n"},
    // Failed instrument requests, in words (the main window and the base points dialog).
    {"InstrumentErrors", "No distance could be measured: no reflector or target in the line of sight"},
    {"InstrumentErrors", "No target was found"},
    {"InstrumentErrors", "Only the angles were measured, no distance"},
    {"InstrumentErrors", "The instrument did not answer in time"},
    {"Journal", "Journal %1, line %2 is damaged and was skipped"},
    {"Journal", "The observation journal %1 cannot be written: %2"},
    {"Journal", "the folder cannot be created"},
    {"MainWindow", "!Error! Client* = nullptr"},
    {"MainWindow", "!Error! SerialPortHandler* = nullptr"},
    {"MainWindow", "About the program"},
    {"MainWindow", "Auto"},
    {"MainWindow", "Base points"},
    {"MainWindow", "Capture"},
    {"MainWindow", "Command error"},
    {"MainWindow", "Configure the serial port"},
    {"MainWindow", "Connect"},
    {"MainWindow", "Connect to the serial port and to the server"},
    {"MainWindow", "Connected to the server"},
    {"MainWindow", "Connection"},
    {"MainWindow", "Connection error"},
    {"MainWindow", "Connection error to the device"},
    {"MainWindow", "Couldn't connect to COM port: %1"},
    {"MainWindow", "Couldn't connect to the server"},
    {"MainWindow", "Device Name: %1"},
    {"MainWindow", "Device name:"},
    {"MainWindow", "Device status"},
    {"MainWindow", "Device temperature: %1 %2"},
    {"MainWindow", "Disconnect"},
    {"MainWindow", "Disconnect from the serial port and server"},
    {"MainWindow", "EDM mode is selected on the device: %1"},
    {"MainWindow", "Enter the session name (otherwise the name will be %1)"},
    {"MainWindow", "Exit"},
    {"MainWindow", "Fast repeated meas."},
    {"MainWindow", "Group:"},
    {"MainWindow", "Help"},
    {"MainWindow", "IR Average"},
    {"MainWindow", "IR Fast"},
    {"MainWindow", "IR Precise"},
    {"MainWindow", "IR Precise Reflector Tape"},
    {"MainWindow", "IR Standard"},
    {"MainWindow", "IR Standard Reflector Tape"},
    {"MainWindow", "IR Tacking"},
    {"MainWindow", "Init value"},
    {"MainWindow", "Is unknown"},
    {"MainWindow", "LO Average"},
    {"MainWindow", "LO Standard"},
    {"MainWindow", "Language"},
    {"MainWindow", "Stadiolink Driver"},
    {"MainWindow", "Measure"},
    {"MainWindow", "Measurement error"},
    {"MainWindow", "Not implemented"},
    {"MainWindow", "Point name:"},
    {"MainWindow", "RL Average"},
    {"MainWindow", "RL Standard"},
    {"MainWindow", "RL Tracking"},
    {"MainWindow", "Serial number: %1"},
    {"MainWindow", "Session"},
    {"MainWindow", "Session and Measurement Management"},
    {"MainWindow", "Session:"},
    {"MainWindow", "Settings"},
    {"MainWindow", "Speed:"},
    {"MainWindow", "Standard repeated meas."},
    {"MainWindow", "Stop"},
    {"MainWindow", "The COM port is already open"},
    {"MainWindow", "The COM port is closed"},
    {"MainWindow", "The base point for the measurement is not selected"},
    {"MainWindow", "The control is not in use yet"},
    {"MainWindow", "The device is connected"},
    {"MainWindow", "The instrument was lost: %1"},
    {"MainWindow", "The laser is off"},
    {"MainWindow", "The laser is on"},
    {"MainWindow", "There is no connection to the server"},
    {"MainWindow", "To free"},
    {"MainWindow", "To work with the Leica total station and transfer data to Velmora"},
    {"MainWindow", "Tracking"},
    {"MainWindow", "Type of measurement:"},
    {"MainWindow", "m"},
    {"MainWindow", "rad/s"},
    // The observation journal's lines, offer and menu entry.
    {"MainWindow", "%1 / %2 / %3: x = %4, y = %5, z = %6, %7"},
    {"MainWindow", "Later"},
    {"MainWindow", "Points in the journal not confirmed by the server: %1. Send them now?"},
    {"MainWindow", "Points not confirmed by the server, kept as unsent in the journal: %1"},
    {"MainWindow", "Points sent again from the journal: %1 of %2"},
    {"MainWindow", "Send"},
    {"MainWindow", "Send unsent points..."},
    {"MainWindow", "Skip"},
    {"MainWindow", "Skipped points are not offered again after a connection. Connection > Send unsent points... offers every one of them."},
    {"MainWindow", "The journal holds no unsent points"},
    {"MainWindow", "Unsent points"},
    {"MainWindow", "Unsent points skipped: %1"},
    {"MainWindow", "not sent, kept in the journal"},
    {"MainWindow", "sent to the server"},
    {"SerialPortHandler", "Command error %1: error code %2"},
    {"SerialPortHandler", "Port error %1: %2"},
    {"SerialPortHandler", "the device stopped answering (cable or adapter disconnected?)"},
    {"SerialPortHandler", "the port failed (error %1)"},
    {"SerialPortHandler", "the port is gone (USB adapter unplugged or terminal closed)"},
    {"SerialPortHandler", "Unexpected type of QVariant: %1"},
    {"SettingsDialog", "Baud rate:"},
    {"SettingsDialog", "COM Port Settings"},
    {"SettingsDialog", "Data bits:"},
    {"SettingsDialog", "Even"},
    {"SettingsDialog", "Flow control:"},
    {"SettingsDialog", "Hardware"},
    {"SettingsDialog", "IP address:"},
    {"SettingsDialog", "Mark"},
    {"SettingsDialog", "None"},
    {"SettingsDialog", "Odd"},
    {"SettingsDialog", "Parity:"},
    {"SettingsDialog", "Port (server):"},
    {"SettingsDialog", "Port:"},
    {"SettingsDialog", "Server Connection Settings"},
    {"SettingsDialog", "Settings"},
    {"SettingsDialog", "Space"},
    {"SettingsDialog", "Stop bits:"},
    {"SettingsDialog", "XON/XOFF"},
};

using Key = QPair<QString, QString>;   // context, source

// Reads (context, source) -> translation from a Qt Linguist .ts file.
QHash<Key, QString> readTs(const QString &path, QString *error)
{
    QHash<Key, QString> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return result;
    }
    QXmlStreamReader xml(&file);
    QString context, source, translation;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("message"))
            source.clear(), translation.clear();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation"))
            result.insert(Key(context, source), xml.readElementText());
    }
    if (xml.hasError())
        *error = xml.errorString();
    return result;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

    QTranslator russian;

private slots:
    void initTestCase()
    {
        stadiolinkInitResources();
        QVERIFY(russian.load(QStringLiteral(":/translations/Stadiolink_ru.qm")));
    }

    void compiledCatalogueTranslatesEveryMessage()
    {
        QHash<QString, int> perContext;
        for (const Message &m : messages) {
            const QString ru = russian.translate(m.context, m.source);
            QVERIFY2(!ru.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(m.context, m.source)));
            ++perContext[QString::fromLatin1(m.context)];
            // Placeholders survive the translation.
            for (const char *mark : {"%1", "%2"})
                QCOMPARE(ru.contains(QLatin1String(mark)),
                         QString::fromUtf8(m.source).contains(QLatin1String(mark)));
        }
        QCOMPARE(int(sizeof(messages) / sizeof(messages[0])), 155);
        QCOMPARE(perContext.value("MainWindow"), 85);
        QCOMPARE(perContext.value("Journal"), 3);
        QCOMPARE(perContext.value("BasePoints"), 24);
        QCOMPARE(perContext.value("InstrumentErrors"), 4);
        QCOMPARE(perContext.value("SettingsDialog"), 18);
        QCOMPARE(perContext.value("Client"), 12);
        QCOMPARE(perContext.value("CommandLine"), 2);
        QCOMPARE(perContext.value("SerialPortHandler"), 6);
        QCOMPARE(perContext.value("AbstractHandler"), 1);
        // A text unknown to a context is not translated.
        QVERIFY(russian.translate("SettingsDialog", "Connect").isEmpty());
        QVERIFY(russian.translate("MainWindow", "English").isEmpty());
    }

    void fixedRussianTexts_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("russian");
        const char *rows[][3] = {
            {"AbstractHandler", "There are no errors", "Ошибок нет"},
            {"Client", "Session error", "Ошибка сессии"},
            {"Client", "A session with that name already exists. Replace with: %1 ?",
             "Сессия с таким именем уже существует. Заменить на: %1 ?"},
            {"Client", "The server has closed the connection", "Сервер закрыл соединение"},
            {"Client", "The server at the specified address was not found",
             "Сервер по указанному адресу не найден"},
            {"Client", "Connection rejected", "Подключение отклонено"},
            {"Client", "Error: ", "Ошибка: "},
            {"Client", "Network information", "Информация о сети"},
            {"SerialPortHandler", "Port error %1: %2", "Ошибка порта %1: %2"},
            {"SerialPortHandler", "Command error %1: error code %2",
             "Ошибка команды %1: код ошибки %2"},
            {"SerialPortHandler", "Unexpected type of QVariant: %1", "Неожиданный тип QVariant: %1"},
            {"MainWindow", "Device name:", "Имя девайса:"},
            {"MainWindow", "IR Fast", "Быстрый"},
            {"MainWindow", "m", "м"},
            {"MainWindow", "rad/s", "рад/с"},
            {"MainWindow", "Stadiolink Driver", "Драйвер Stadiolink"},
        };
        for (const auto &r : rows)
            QTest::newRow(r[1]) << QString::fromUtf8(r[0]) << QString::fromUtf8(r[1])
                                << QString::fromUtf8(r[2]);
    }
    void fixedRussianTexts()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, russian);
        QCOMPARE(this->russian.translate(context.toLatin1(), source.toUtf8()), russian);
    }

    void sourceCatalogueHoldsEveryMessage()
    {
        QString error;
        const QHash<Key, QString> ts = readTs(QStringLiteral(STADIOLINK_TS_FILE), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QSet<Key> expected;
        for (const Message &m : messages)
            expected.insert(Key(QString::fromUtf8(m.context), QString::fromUtf8(m.source)));
        QSet<Key> actual;
        for (auto it = ts.begin(); it != ts.end(); ++it) {
            actual.insert(it.key());
            QVERIFY2(!it.value().isEmpty(), qPrintable(it.key().second));
        }
        QStringList missing;
        for (const Key &k : expected - actual)
            missing << QStringLiteral("%1: \"%2\"").arg(k.first, k.second);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));
        // Texts added to the code later may extend the catalogue (they are
        // checked against the code below); they are listed for review.
        for (const Key &k : actual - expected)
            qInfo("catalogue also holds: %s: %s", qPrintable(k.first), qPrintable(k.second));
    }

    // lupdate collects every tr()/translate() of the driver's sources; each of
    // them must be in the catalogue, or the program would show English.
    void everyTranslatedTextOfTheCodeIsInTheCatalogue()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("found.ts"));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(STADIOLINK_LUPDATE),
                      {QStringLiteral("-silent"), QStringLiteral("-locations"),
                       QStringLiteral("none"), QStringLiteral("-extensions"),
                       QStringLiteral("cpp,h"), QStringLiteral(STADIOLINK_DRIVER_DIR),
                       QStringLiteral("-ts"), out});
        QVERIFY(lupdate.waitForFinished(60000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        QString error;
        const QHash<Key, QString> found = readTs(out, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(found.size() > 50, "lupdate found too few messages");

        const QHash<Key, QString> catalogue = readTs(QStringLiteral(STADIOLINK_TS_FILE), &error);
        QStringList missing;
        for (auto it = found.begin(); it != found.end(); ++it) {
            if (!catalogue.contains(it.key()))
                missing << QStringLiteral("%1: \"%2\"").arg(it.key().first, it.key().second);
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("not in the catalogue:\n") + missing.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
