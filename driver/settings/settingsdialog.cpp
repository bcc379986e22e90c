#include "settingsdialog.h"

#include "instrumentport.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace {

const char *const groupStyle =
    "QGroupBox {    border: 1px solid gray;    border-radius: 5px;    margin-top: 6ex;}"
    "QGroupBox::title {    subcontrol-origin: margin;    subcontrol-position: top center;}";

const char *const lineEditStyle =
    "QLineEdit {    border: 1px solid gray;    border-radius: 5px;    background-color: white;}";

void setFormLabel(QFormLayout *form, QWidget *field, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(form->labelForField(field)))
        label->setText(text);
}

// QIntValidator lets a number above the top through as intermediate input
// when it has no more digits than the top ("70000" against 65535), and it
// follows the default locale: group separators ("5.544", "5 544"), a plus sign
// or another script's digits pass, and the port then reads as 0. A port field
// takes ASCII digits only and refuses a number above the top outright.
class PortValidator : public QIntValidator
{
public:
    PortValidator(int bottom, int top, QObject *parent)
        : QIntValidator(bottom, top, parent)
    {
        setLocale(QLocale::c());
    }

    State validate(QString &input, int &pos) const override
    {
        for (const QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        const State state = QIntValidator::validate(input, pos);
        if (state == Intermediate) {
            bool ok = false;
            const qlonglong value = input.trimmed().toLongLong(&ok);
            if (ok && value > top())
                return Invalid;
        }
        return state;
    }
};

} // namespace

const char *const SettingsDialog::offeredPortsVariable = "STADIOLINK_SERIAL_PORTS";

namespace {

// Splits a ':' separated list without cutting network ports apart: "tcp"
// before "//host", a port number after a host, the pieces of "[v6]".
QStringList splitColonList(const QString &named)
{
    const QStringList pieces = named.split(QLatin1Char(':'));
    QStringList out;
    for (const QString &piece : pieces) {
        const QString t = piece.trimmed();
        bool number = !t.isEmpty();
        for (const QChar c : t)
            number = number && c.isDigit();
        const QString last = out.isEmpty() ? QString() : out.last().trimmed();
        const bool openBracket = last.startsWith(QLatin1Char('[')) && !last.contains(QLatin1Char(']'));
        const bool hostBefore = !last.isEmpty() && !last.startsWith(QLatin1Char('/'))
                                && !InstrumentPort::isNetworkName(last) && !openBracket
                                && last.compare(QLatin1String("tcp"), Qt::CaseInsensitive) != 0;
        if (!out.isEmpty() && (openBracket || (number && hostBefore)
                               || (t.startsWith(QLatin1String("//"))
                                   && last.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0))) {
            out.last() += QLatin1Char(':') + piece;
        } else {
            out << piece;
        }
    }
    return out;
}

} // namespace

QStringList SettingsDialog::offeredPorts(const QStringList &found, const QString &named)
{
    QStringList ports;
    const QStringList extra = named.contains(QLatin1Char(';')) || QDir::listSeparator() != QLatin1Char(':')
                                  ? named.split(QLatin1Char(';'))
                                  : splitColonList(named);
    for (const QString &name : extra + found) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty() && !ports.contains(trimmed))
            ports << trimmed;
    }
    return ports;
}

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Settings"));

    m_serialGroup = new QGroupBox(tr("COM Port Settings"), this);
    m_serialGroup->setStyleSheet(QLatin1String(groupStyle));
    m_serialForm = new QFormLayout(m_serialGroup);

    // The ports found now. The field is editable as well, so a port that the
    // system does not enumerate (a pseudo-terminal, /dev/rfcomm0, a COM port
    // created later) can be typed; the text is the port name.
    m_port = new QComboBox(m_serialGroup);
    m_port->setObjectName(QStringLiteral("portCombo"));
    m_port->setEditable(true);
    m_port->setInsertPolicy(QComboBox::NoInsert);
    QStringList found;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        found << info.portName();
    for (const QString &name : offeredPorts(found, qEnvironmentVariable(offeredPortsVariable)))
        m_port->addItem(name, name);
    m_port->setCurrentIndex(m_port->count() > 0 ? 0 : -1);
    m_serialForm->addRow(tr("Port:"), m_port);
    m_networkNote = new QLabel(m_serialGroup);
    m_networkNote->setObjectName(QStringLiteral("networkNote"));
    m_networkNote->setWordWrap(true);
    m_serialForm->addRow(m_networkNote);

    m_baudRate = new QComboBox(m_serialGroup);
    m_baudRate->setObjectName(QStringLiteral("baudRateCombo"));
    m_baudRate->addItems({QStringLiteral("75"), QStringLiteral("110"), QStringLiteral("134"),
                          QStringLiteral("150"), QStringLiteral("300"), QStringLiteral("600"),
                          QStringLiteral("1200"), QStringLiteral("1800"), QStringLiteral("2400"),
                          QStringLiteral("4800"), QStringLiteral("7200"), QStringLiteral("9600"),
                          QStringLiteral("14400"), QStringLiteral("19200"), QStringLiteral("38400"),
                          QStringLiteral("57600"), QStringLiteral("115200"),
                          QStringLiteral("128000")});
    m_baudRate->setCurrentText(QStringLiteral("115200"));
    m_serialForm->addRow(tr("Baud rate:"), m_baudRate);

    m_dataBits = new QComboBox(m_serialGroup);
    m_dataBits->setObjectName(QStringLiteral("dataBitsCombo"));
    m_dataBits->addItems({QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
                          QStringLiteral("8")});
    m_dataBits->setCurrentText(QStringLiteral("8"));
    m_serialForm->addRow(tr("Data bits:"), m_dataBits);

    m_parity = new QComboBox(m_serialGroup);
    m_parity->setObjectName(QStringLiteral("parityCombo"));
    fillParity();
    m_parity->setCurrentText(tr("None"));
    m_serialForm->addRow(tr("Parity:"), m_parity);

    m_stopBits = new QComboBox(m_serialGroup);
    m_stopBits->setObjectName(QStringLiteral("stopBitsCombo"));
    m_stopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    m_stopBits->setCurrentText(QStringLiteral("1"));
    m_serialForm->addRow(tr("Stop bits:"), m_stopBits);

    m_flowControl = new QComboBox(m_serialGroup);
    m_flowControl->setObjectName(QStringLiteral("flowControlCombo"));
    fillFlowControl();
    m_flowControl->setCurrentText(tr("None"));
    m_serialForm->addRow(tr("Flow control:"), m_flowControl);

    m_serverGroup = new QGroupBox(tr("Server Connection Settings"), this);
    m_serverGroup->setStyleSheet(QLatin1String(groupStyle));
    m_serverForm = new QFormLayout(m_serverGroup);

    m_address = new QLineEdit(QStringLiteral("localhost"), m_serverGroup);
    m_address->setObjectName(QStringLiteral("addressEdit"));
    m_address->setStyleSheet(QLatin1String(lineEditStyle));
    m_serverForm->addRow(tr("IP address:"), m_address);

    m_serverPort = new QLineEdit(QStringLiteral("5544"), m_serverGroup);
    m_serverPort->setObjectName(QStringLiteral("serverPortEdit"));
    m_serverPort->setValidator(new PortValidator(1, 65535, m_serverPort));
    m_serverPort->setStyleSheet(QLatin1String(lineEditStyle));
    m_serverForm->addRow(tr("Port (server):"), m_serverPort);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_serialGroup);
    layout->addWidget(m_serverGroup);
    retranslatePortHelp();
    connect(m_port, &QComboBox::currentTextChanged, this, &SettingsDialog::portChanged);
    portChanged(m_port->currentText());
    adjustSize();
    resize(minimumSize());
}

void SettingsDialog::portChanged(const QString &name)
{
    const bool network = InstrumentPort::isNetworkName(name);
    for (QWidget *w : std::initializer_list<QWidget *>{m_baudRate, m_dataBits, m_parity, m_stopBits, m_flowControl})
        w->setEnabled(!network);
    m_networkNote->setVisible(network);
}

void SettingsDialog::retranslatePortHelp()
{
    m_port->setToolTip(tr("A serial port (COM3, /dev/ttyUSB0), or a serial device server or "
                          "radio bridge on the network as host:port (192.168.0.20:4001)"));
    m_networkNote->setText(tr("A network port: the instrument's serial line is set up at the "
                              "device server; the settings below do not apply."));
}

void SettingsDialog::fillParity()
{
    m_parity->addItems({tr("None"), tr("Even"), tr("Odd"), tr("Mark"), tr("Space")});
}

void SettingsDialog::fillFlowControl()
{
    m_flowControl->addItems({tr("None"), tr("Hardware"), tr("XON/XOFF")});
}

PortSettings SettingsDialog::settings() const
{
    PortSettings s;
    s.portName = m_port->currentText();
    s.baudRate = m_baudRate->currentText().toInt(nullptr, 10);

    switch (m_dataBits->currentText().toInt()) {
    case 5: s.dataBits = QSerialPort::Data5; break;
    case 6: s.dataBits = QSerialPort::Data6; break;
    case 7: s.dataBits = QSerialPort::Data7; break;
    default: s.dataBits = QSerialPort::Data8; break;
    }

    // The item texts are compared in the language the lists show now.
    const QString parity = m_parity->currentText();
    if (parity == tr("Even"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == tr("Odd"))
        s.parity = QSerialPort::OddParity;
    else if (parity == tr("Mark"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == tr("Space"))
        s.parity = QSerialPort::SpaceParity;
    else
        s.parity = QSerialPort::NoParity;

    const QString stop = m_stopBits->currentText();
    if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        s.stopBits = QSerialPort::OneStop;

    const QString flow = m_flowControl->currentText();
    if (flow == tr("Hardware"))
        s.flowControl = QSerialPort::HardwareControl;
    else if (flow == tr("XON/XOFF"))
        s.flowControl = QSerialPort::SoftwareControl;
    else
        s.flowControl = QSerialPort::NoFlowControl;
    return s;
}

QString SettingsDialog::serverAddress() const
{
    return m_address->text();
}

quint16 SettingsDialog::serverPort() const
{
    return m_serverPort->text().toUShort(nullptr, 10);
}

void SettingsDialog::retranslate()
{
    setWindowTitle(tr("Settings"));
    m_serialGroup->setTitle(tr("COM Port Settings"));
    m_serverGroup->setTitle(tr("Server Connection Settings"));

    setFormLabel(m_serialForm, m_port, tr("Port:"));
    setFormLabel(m_serialForm, m_baudRate, tr("Baud rate:"));
    setFormLabel(m_serialForm, m_dataBits, tr("Data bits:"));
    setFormLabel(m_serialForm, m_parity, tr("Parity:"));
    setFormLabel(m_serialForm, m_stopBits, tr("Stop bits:"));
    setFormLabel(m_serialForm, m_flowControl, tr("Flow control:"));
    setFormLabel(m_serverForm, m_address, tr("IP address:"));
    setFormLabel(m_serverForm, m_serverPort, tr("Port (server):"));
    retranslatePortHelp();

    const int parity = m_parity->currentIndex();
    m_parity->clear();
    fillParity();
    m_parity->setCurrentIndex(parity);

    const int flow = m_flowControl->currentIndex();
    m_flowControl->clear();
    fillFlowControl();
    m_flowControl->setCurrentIndex(flow);
}
