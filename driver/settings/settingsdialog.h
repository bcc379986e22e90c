#pragma once
// Connection parameters of both links: the serial port to the instrument and
// the TCP address of the CAD server. The widgets are the store; nothing is
// saved, every start begins with the defaults.

#include <QDialog>
#include <QStringList>

#include "types.h"

class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;

class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);

    // The serial parameters as the fields show them now.
    PortSettings settings() const;
    // The server address as typed (a host name or an address).
    QString serverAddress() const;
    // The server port; 0 when the field is empty or does not convert.
    quint16 serverPort() const;

    void retranslate();

    // The port list: the ports named in `named` (the value of the
    // environment variable below) come first, then the ports the system
    // found; blanks around names, empty names and repeats are dropped.
    // Without the variable the list is the system's. Names are separated by
    // ';', or by the system's path list separator (':' outside Windows),
    // which then still keeps a network port ("host:port", "tcp://host:port",
    // "[::1]:port") whole.
    static const char *const offeredPortsVariable;
    static QStringList offeredPorts(const QStringList &found, const QString &named);

    // The fields, for the window that reads them and for tests.
    QComboBox *portCombo() const { return m_port; }
    QComboBox *baudRateCombo() const { return m_baudRate; }
    QComboBox *dataBitsCombo() const { return m_dataBits; }
    QComboBox *parityCombo() const { return m_parity; }
    QComboBox *stopBitsCombo() const { return m_stopBits; }
    QComboBox *flowControlCombo() const { return m_flowControl; }
    QLineEdit *addressEdit() const { return m_address; }
    QLineEdit *serverPortEdit() const { return m_serverPort; }
    QGroupBox *serialGroup() const { return m_serialGroup; }
    QGroupBox *serverGroup() const { return m_serverGroup; }
    // Shown while the port field names a network port.
    QLabel *networkNote() const { return m_networkNote; }

private:
    void fillParity();
    void fillFlowControl();
    // The serial parameters apply to a serial port only.
    void portChanged(const QString &name);
    void retranslatePortHelp();

    QGroupBox *m_serialGroup = nullptr;
    QFormLayout *m_serialForm = nullptr;
    QComboBox *m_port = nullptr;
    QComboBox *m_baudRate = nullptr;
    QComboBox *m_dataBits = nullptr;
    QComboBox *m_parity = nullptr;
    QComboBox *m_stopBits = nullptr;
    QComboBox *m_flowControl = nullptr;
    QLabel *m_networkNote = nullptr;

    QGroupBox *m_serverGroup = nullptr;
    QFormLayout *m_serverForm = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_serverPort = nullptr;
};
