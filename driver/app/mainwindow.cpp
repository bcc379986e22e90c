// Main window: construction, the fixed connections, opening and closing of
// the instrument and server links, control enabling and the services the
// base points dialog uses. The control panel handlers are in
// mainwindow_controls.cpp, the measurement sequence in mainwindow_measure.cpp.

#include "mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include "basepoints.h"
#include "basepointstable.h"
#include "client.h"
#include "dialogplacement.h"
#include "geometry.h"
#include "instrumenterrors.h"
#include "localization.h"
#include "serialporthandler.h"
#include "settingsdialog.h"

bool basePointSelected = false;

namespace {
MainWindow *theWindow = nullptr;
const int statusTimeoutMs = 5000;
}

MainWindow::MainWindow(const QString &deviceName, QWidget *parent) : QMainWindow(parent)
{
    theWindow = this;
    registerInstrumentMetaTypes();
    registerServerMetaTypes();

    m_settingsDialog = new SettingsDialog(this);
    m_basePoints = new BasePoints(this);

    m_serialPortHandler = nullptr;
    m_pollTimer = nullptr;
    m_client = nullptr;
    measurePending = basePointMode = trackingActive = laserOn = false;
    appName = QStringLiteral("Stadiolink.exe");

    m_ui.setupUi(this);

    if (!deviceName.isEmpty()) {
        m_ui.deviceNameEdit->setText(deviceName);
        m_ui.deviceNameEdit->setReadOnly(true);
        fitFieldWidths({{m_ui.deviceNameEdit, deviceName}});
    }

    m_sessionTimer = new QTimer(this);
    m_sessionTimer->setSingleShot(true);
    connect(m_sessionTimer, &QTimer::timeout, this, &MainWindow::sessionNotConfirmed);

    m_reconnectTimer = new QTimer(this);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (m_serverWanted && m_serialPortHandler && !m_client)
            startServerLink(true);
    });

    for (bool on : {false, true})
        laserIcon(on).pixmap(m_ui.actionLaser->icon().actualSize(QSize(64, 64)));
    m_ui.actionLaser->setIcon(laserIcon(false));

    connectSignals();
    setControlsEnabled(false);
    setUpJournal();

    if (Localization::instance) {
        Localization::instance->setMainWindow(this);
        Localization::instance->setSettingsDialog(m_settingsDialog);
        Localization::instance->setBasePoints(m_basePoints);
        Localization::instance->setLanguage(QStringLiteral("ru"));
    } else {
        retranslate();
    }

    refreshServerStatus();
}

MainWindow::~MainWindow()
{
    // The window is going: both links end now, without waiting for a reply
    // in progress or for a try to reach the server.
    m_reconnectTimer->stop();
    m_serverWanted = false;
    if (m_serialPortHandler && m_serialPortHandler->isRunning())
        quietInstrument();
    for (SerialPortHandler *link : {m_serialPortHandler, m_closingLink}) {
        if (link) {
            link->stop();
            delete link;
        }
    }
    m_serialPortHandler = m_closingLink = nullptr;
    dropPollTimer();
    if (m_client)
        m_closingClients << m_client;
    m_client = nullptr;
    for (Client *c : qAsConst(m_closingClients)) {
        c->stop();
        delete c;
    }
    m_closingClients.clear();
    // Answers still on their way are not read any more: what the links had
    // in flight is unsent in the journal.
    for (int connection : m_deliveries.keys())
        serverLinkEnded(connection);
    if (Localization::instance) {
        Localization::instance->setMainWindow(nullptr);
        Localization::instance->setSettingsDialog(nullptr);
        Localization::instance->setBasePoints(nullptr);
    }
}

MainWindow *MainWindow::instance()
{
    return theWindow;
}

Client *MainWindow::client()
{
    if (m_client && m_client->isRunning())
        return m_client;
    appendLog(QStringLiteral("!Ошибка! Client* = nullptr"));
    return nullptr;
}

SerialPortHandler *MainWindow::serialPortHandler()
{
    if (m_serialPortHandler && m_serialPortHandler->isRunning())
        return m_serialPortHandler;
    appendLog(QStringLiteral("!Ошибка! SerialPortHandler* = nullptr"));
    return nullptr;
}

bool MainWindow::serverLinkRunning() const
{
    // A try to bring the link back takes nothing before the server has
    // greeted it: meanwhile points are measured into the journal.
    return m_client && m_client->isRunning() && !m_attempts.contains(m_client);
}

bool MainWindow::instrumentLinkRunning() const
{
    return m_serialPortHandler && m_serialPortHandler->isRunning();
}

void MainWindow::setBasePointMode(bool on)
{
    basePointMode = on;
    // Also a link that has not started yet: the mode applies to the
    // requests queued after it.
    if (m_serialPortHandler)
        m_serialPortHandler->setBasePointMode(on);
}

void MainWindow::prepareInstrumentLink(SerialPortHandler *link)
{
    connect(link, &SerialPortHandler::commandFailed, this, &MainWindow::handlerCommandFailed,
            Qt::QueuedConnection);
    connect(link, &QThread::finished, this, &MainWindow::instrumentLinkEnded, Qt::QueuedConnection);
    link->setBasePointMode(basePointMode);
}

void MainWindow::instrumentLinkEnded()
{
    // No reply can come any more; the instrument that comes with the next
    // link neither measures nor tracks.
    m_distanceAwaited = false;
    if (trackingActive)
        setTrackingState(false);
    refreshMeasureButton();
}

bool MainWindow::isMeasuring() const
{
    return measurePending || m_distanceAwaited || (m_basePoints && m_basePoints->isMeasuring());
}

void MainWindow::refreshMeasureButton()
{
    const bool measuring = isMeasuring();
    m_ui.measButton->setEnabled(m_controlsOn && !measuring);
    m_ui.measButton->setText(measuring ? tr("Measuring...") : tr("Measure"));
}

void MainWindow::appendLog(const QString &text)
{
    // At the end also when the operator clicked inside the pane.
    QTextCursor cursor = m_ui.logPane->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text + QStringLiteral("\r\n"));
    m_ui.logPane->setTextCursor(cursor);
}

void MainWindow::showStatus(const QString &text)
{
    statusBar()->showMessage(text, statusTimeoutMs);
}

void MainWindow::retranslate()
{
    m_ui.retranslate(this, m_serialPortHandler != nullptr, serialNumber, instrumentName, laserOn);
    // The two state buttons name the action they will take next.
    if (trackingActive)
        m_ui.trackingButton->setText(tr("Stop"));
    if (m_ui.captureButton->isChecked())
        m_ui.captureButton->setText(tr("To free"));
    refreshMeasureButton();
    refreshServerStatus();
}

void MainWindow::fitFieldWidths(const QList<QPair<QLineEdit *, QString>> &texts)
{
    int widest = 0;
    for (const auto &t : texts)
        widest = qMax(widest, QFontMetrics(t.first->font()).horizontalAdvance(t.second));
    const int width = int(widest * 1.1);
    for (QLineEdit *field : {m_ui.sessionEdit, m_ui.groupEdit, m_ui.pointNameEdit, m_ui.deviceNameEdit})
        field->setMinimumWidth(width);
}

void MainWindow::connectSignals()
{
    connect(m_ui.measButton, &QToolButton::clicked, this, &MainWindow::handlerMeasButtonClick);
    for (QPushButton *b : {m_ui.upButton, m_ui.leftButton, m_ui.rightButton, m_ui.downButton}) {
        connect(b, &QPushButton::pressed, this, &MainWindow::handlerPushButtonPressed);
        connect(b, &QPushButton::released, this, &MainWindow::handlerPushButtonPeleased);
    }
    connect(m_ui.speedSlider, &QSlider::valueChanged, this, &MainWindow::handlerSliderChanged);
    connect(m_ui.trackingButton, &QToolButton::clicked, this, &MainWindow::handlerTrckButtonClick);
    connect(m_ui.actionLaser, &QAction::triggered, this, &MainWindow::handlerActionLaserTriggered);
    connect(m_ui.edmModeCombo, QOverload<int>::of(&QComboBox::activated), this,
            &MainWindow::handlerEdmModeChanged);
    connect(m_ui.autoButton, &QToolButton::clicked, this, &MainWindow::handlerAutoButtonClick);
    connect(m_ui.captureButton, &QToolButton::clicked, this, &MainWindow::handlerLockButtonClick);
    connect(m_ui.actionConnect, &QAction::triggered, this, &MainWindow::openSerialPort);
    connect(m_ui.actionDisconnect, &QAction::triggered, this, &MainWindow::closeSerialPort);
    connect(m_ui.actionDisconnect, &QAction::triggered, this, [this] { disconnectFromServer(); });
    connect(m_ui.actionReconnect, &QAction::triggered, this, &MainWindow::reconnectNow);
    connect(m_ui.actionExit, &QAction::triggered, this, &QWidget::close);
    connect(m_ui.actionSettings, &QAction::triggered, this, [this] {
        placeBeside(m_settingsDialog, this);
        m_settingsDialog->exec();
    });
    connect(m_ui.actionAbout, &QAction::triggered, this, [this] { showAboutBox(this); });
    connect(m_ui.basePointsButton, &QToolButton::clicked, m_basePoints, &QWidget::show);
    connect(m_basePoints, &BasePoints::measuringChanged, this, &MainWindow::refreshMeasureButton);
    connect(m_ui.actionLanguageRu, &QAction::triggered, this, [] {
        if (Localization::instance)
            Localization::instance->setLanguage(QStringLiteral("ru"));
    });
    connect(m_ui.actionLanguageEn, &QAction::triggered, this, [] {
        if (Localization::instance)
            Localization::instance->setLanguage(QStringLiteral("en"));
    });
}

void MainWindow::setControlsEnabled(bool on)
{
    m_controlsOn = on;
    for (QWidget *w : std::initializer_list<QWidget *>{
             m_ui.upButton, m_ui.leftButton, m_ui.rightButton, m_ui.downButton,
             m_ui.trackingButton, m_ui.edmModeCombo, m_ui.autoButton, m_ui.captureButton,
             m_ui.basePointsButton})
        w->setEnabled(on);
    refreshMeasureButton();
    m_ui.actionLaser->setEnabled(on);
    m_ui.actionDisconnect->setEnabled(on);
    m_ui.actionConnect->setEnabled(!on);
    m_ui.actionSettings->setEnabled(!on);
}

void MainWindow::openSerialPort()
{
    if (m_serialPortHandler || m_closingLink) {
        appendLog(tr("The COM port is already open"));
        return;
    }

    // The line is opened in the link's thread: the window never waits for
    // a port or a network connection. Requests queued meanwhile go out once
    // it is open; instrumentOpenFailed says when it cannot be opened.
    m_serialPortHandler = new SerialPortHandler;
    SerialPortHandler *link = m_serialPortHandler;
    if (!link->openPort(m_settingsDialog->settings())) {
        const QString error = link->errorString();
        QMessageBox::critical(this, tr("Connection error"),
                              tr("Couldn't connect to COM port: %1").arg(error), QMessageBox::Ok);
        showStatus(tr("Connection error to the device"));
        closeSerialPort();
        return;
    }
    m_instrumentOpen = false;
    if (m_distanceReplyMs > 0)
        link->setReplyTimeout(m_distanceReplyMs);
    if (m_quickReplyMs > 0)
        link->setQuickReplyTimeout(m_quickReplyMs);

    setControlsEnabled(true);
    showStatus(tr("Connecting to the instrument at %1 ...").arg(link->portName()));

    m_pollTimer = new QTimer;
    m_pollTimer->setInterval(500);
    connect(m_pollTimer, &QTimer::timeout, this, &MainWindow::handlerTimeout);

    registerInstrumentMetaTypes();
    connect(link, &SerialPortHandler::errorResponse, this,
            &MainWindow::handlerCommandError, Qt::QueuedConnection);
    connect(link, &SerialPortHandler::responseReceived, this,
            &MainWindow::handlerResponseReceived, Qt::QueuedConnection);
    connect(link, &SerialPortHandler::receivedBasePoint, this,
            &MainWindow::handlerReceivedBasePoint, Qt::QueuedConnection);
    connect(link, &SerialPortHandler::basePointFailed, this,
            &MainWindow::handlerBasePointFailed, Qt::QueuedConnection);
    connect(link, &SerialPortHandler::opened, this, [this, link] {
        if (link != m_serialPortHandler)
            return;
        m_instrumentOpen = true;
        showStatus(tr("The device is connected"));
    }, Qt::QueuedConnection);
    // Queued like the replies, so it comes after the link's last reply.
    connect(link, &QThread::finished, this, [this, link] { serialLinkFinished(link); },
            Qt::QueuedConnection);
    prepareInstrumentLink(link);

    m_serialPortHandler->queueStartupRequests();
    m_serialPortHandler->start(QThread::InheritPriority);
    // The angle read-out and the temperature stay live while the link is open.
    m_pollTimer->start();

    connectToServer(m_settingsDialog->serverAddress(), m_settingsDialog->serverPort());
}

void MainWindow::connectToServer(const QString &host, quint16 port)
{
    if (m_client)
        return;
    m_serverHost = host.trimmed();
    m_serverPort = port;
    m_serverWanted = true;
    m_reconnecting = false;
    m_reconnectStep = 0;
    m_lastTryError.clear();
    startServerLink(false);
}

void MainWindow::startServerLink(bool attempt)
{
    // Connected in the link's thread; connectFailed says when it cannot be.
    auto *link = new Client(appName);
    if (!link->connectToServer(m_serverHost, m_serverPort)) {
        // No address: nothing to try again.
        delete link;
        stopReconnecting();
        setServerStatus(false);
        showStatus(tr("Couldn't connect to the server"));
        QMessageBox::critical(this, tr("Connection error"), tr("Couldn't connect to the server"),
                              QMessageBox::Ok);
        return;
    }
    m_client = link;
    if (attempt)
        m_attempts.insert(link);

    m_client->sendDevice(m_ui.sessionEdit->text().trimmed(), m_ui.groupEdit->text().trimmed(),
                         m_ui.deviceNameEdit->text().trimmed());

    // A link being closed no longer speaks for the connection state.
    connect(link, &Client::connected, this, [this, link] {
        if (link != m_client)
            return;
        const bool again = m_reconnecting;
        m_attempts.remove(link);
        if (m_manualAttempt == link)
            m_manualAttempt = nullptr;
        m_reconnecting = false;
        m_reconnectStep = 0;
        m_lastTryError.clear();
        m_reconnectTimer->stop();
        setServerStatus(true);
        if (again) {
            const QString text = tr("Connected to the server again");
            appendLog(text);
            showStatus(text);
        }
        // The server has taken the connection: what it has not confirmed
        // (the points measured while it was away too) is offered now.
        offerUnsentPoints(true);
    });
    connect(link, &Client::disconnected, this, [this, link] {
        if (link == m_client)
            setServerStatus(false);
    });
    connect(link, &Client::connectFailed, this, [this, link](const QString &reason) {
        if (link != m_client)
            return;
        if (m_attempts.contains(link)) {
            // One more try that failed: the label says so, and the next one
            // follows when the link has finished.
            m_lastTryError = reason;
            if (m_manualAttempt == link)
                showStatus(tr("Couldn't connect to the server") + QStringLiteral(": ") + reason);
            return;
        }
        appendLog(tr("Couldn't connect to the server") + QStringLiteral(": ") + reason);
        setServerStatus(false);
        showStatus(tr("Couldn't connect to the server"));
        m_lastTryError = reason;
        showServerLossBox(tr("Connection error"), tr("Couldn't connect to the server"));
    });
    // Answers and the link's end update the journal (mainwindow_journal.cpp).
    const int connection = ++m_connection;
    connect(m_client, &Client::newInfoMeasurement, this,
            [this, connection](QString s, QString g, QString p, QString d) {
                pointAnswered(connection, s, g, p, d);
            });
    connect(m_client, &Client::errorInfo, this,
            [this, link](ErrorInfo info) { serverLinkError(link, info); });
    connect(m_client, &Client::successSetSessionName, this,
            &MainWindow::measureAfterSessionConfirmed);
    connect(m_client, &Client::newGroupName, this, &MainWindow::setGroupField);
    connect(m_client, &Client::newBasePoint, this, &MainWindow::addBasePointOnce);
    connect(m_client, &Client::newMatrix, this, [this](QMatrix4x4, QVector<double> rowMajor) {
        if (rowMajor.size() != 16)
            return;
        setStationMatrix(rowMajor.constData());
        m_basePoints->updateResiduals();
    });
    // A point given back was never written; it becomes unsent with the
    // connection's other unanswered points when the link has finished.
    connect(m_client, &Client::pointNotSent, this, &MainWindow::logUnsentPoint);
    connect(link, &QThread::finished, this,
            [this, link, connection] {
                serverLinkEnded(connection);
                serverLinkFinished(link);
            },
            Qt::QueuedConnection);

    m_client->start(QThread::InheritPriority);
    refreshServerStatus();
}

void MainWindow::setReconnectDelays(const QVector<int> &ms)
{
    QVector<int> delays;
    for (int d : ms)
        delays << qMax(0, d);
    if (!delays.isEmpty())
        m_reconnectDelays = delays;
}

void MainWindow::scheduleReconnect()
{
    if (!m_serverWanted || !m_serialPortHandler || m_closingLink || m_client)
        return;
    if (!m_reconnecting) {
        m_reconnecting = true;
        m_reconnectStep = 0;
        appendLog(tr("Reconnecting to the server %1:%2 in the background; the points measured "
                     "meanwhile are kept in the journal")
                      .arg(m_serverHost)
                      .arg(m_serverPort));
    }
    const int delay = m_reconnectDelays.at(qMin(m_reconnectStep, m_reconnectDelays.size() - 1));
    m_reconnectStep = qMin(m_reconnectStep + 1, m_reconnectDelays.size());
    m_nextTry = QTime::currentTime().addMSecs(delay);
    m_reconnectTimer->start(delay);
    refreshServerStatus();
}

void MainWindow::reconnectNow()
{
    if (!m_serialPortHandler || m_closingLink || m_serverGreeted)
        return;
    if (!m_serverWanted) {
        // Connect found no address to use: the settings' address now.
        connectToServer(m_settingsDialog->serverAddress(), m_settingsDialog->serverPort());
        return;
    }
    if (m_client) {
        // The first link after Connect is still being made: it goes on.
        if (!m_attempts.contains(m_client))
            return;
        // A try the server has not greeted yet (a server that hangs).
        retireServerLink(m_client);
    }
    m_reconnectTimer->stop();
    m_reconnecting = true;
    m_reconnectStep = 0;
    showStatus(tr("Reconnecting to the server ..."));
    startServerLink(true);
    m_manualAttempt = m_client;
}

void MainWindow::stopReconnecting()
{
    m_serverWanted = false;
    m_reconnecting = false;
    m_reconnectStep = 0;
    m_reconnectTimer->stop();
    // A try holds nothing the server has taken: it may go at once.
    if (m_client && m_attempts.contains(m_client)) {
        retireServerLink(m_client);
        setServerStatus(false);
    }
    refreshServerStatus();
}

void MainWindow::retireServerLink(Client *link)
{
    if (link == m_client)
        m_client = nullptr;
    if (link == m_manualAttempt)
        m_manualAttempt = nullptr;
    if (link->isRunning() || link->isFinished()) {
        m_closingClients << link;
        link->requestStop();
    } else {
        m_attempts.remove(link);
        delete link;
    }
}

void MainWindow::serverLinkError(Client *link, const ErrorInfo &info)
{
    if (info.kind != ErrorInfo::NetworkError) {
        handlerErrorClient(info);
        return;
    }
    // Every network error ends its link's connection.
    if (link == m_client)
        setServerStatus(false);
    if (m_attempts.contains(link)) {
        // A try that connected and failed before the server greeted it.
        if (link == m_client)
            m_lastTryError = info.text;
        return;
    }
    if (link != m_client || !m_serverWanted) {
        // A link being closed: told as before.
        handlerErrorClient(info);
        return;
    }
    // The established link is lost; it comes back by itself.
    appendLog(info.text);
    m_lastTryError = info.text;
    showServerLossBox(info.title, info.text);
}

void MainWindow::showServerLossBox(const QString &title, const QString &text)
{
    // A box for this loss is up already: the log has the line.
    if (m_lossBoxOpen)
        return;
    QMessageBox box(this);
    box.setIcon(QMessageBox::Critical);
    box.setWindowTitle(title);
    box.setText(text);
    box.setInformativeText(tr("Measuring goes on: the points are kept in the journal. The "
                              "connection to the server comes back by itself, and the points are "
                              "then offered for sending."));
    box.setStandardButtons(QMessageBox::Ok);
    m_lossBoxOpen = true;
    box.exec();
    m_lossBoxOpen = false;
}

void MainWindow::addBasePointOnce(const MeasuringPoint &pt)
{
    for (const BasePointRow *row : m_basePoints->table()->rows) {
        if (row->textCell(NameColumn)->text == pt.pointName && row->knownX == pt.x
            && row->knownY == pt.y && row->knownZ == pt.z)
            return;
    }
    m_basePoints->addBasePoint(pt);
}

void MainWindow::setServerStatus(bool on)
{
    m_serverGreeted = on && m_client;
    refreshServerStatus();
}

void MainWindow::refreshServerStatus()
{
    QLabel *label = m_ui.serverStatusLabel;
    label->setEnabled(m_serverGreeted);
    QString tip;
    QString style;
    if (m_serverGreeted) {
        label->setText(tr("Connected to the server"));
        style = QStringLiteral("color: green;");
    } else if (m_reconnecting) {
        if (m_reconnectTimer->isActive())
            label->setText(tr("Reconnecting to the server: next try at %1")
                               .arg(m_nextTry.toString(QStringLiteral("HH:mm:ss"))));
        else
            label->setText(tr("Reconnecting to the server ..."));
        style = QStringLiteral("color: #b35900;");
        if (!m_lastTryError.isEmpty())
            tip = tr("The last try: %1").arg(m_lastTryError);
    } else {
        label->setText(tr("There is no connection to the server"));
        style = QStringLiteral("color: red;");
    }
    // A new style sheet polishes the label again: only when it changes.
    if (label->styleSheet() != style)
        label->setStyleSheet(style);
    label->setToolTip(tip);
    m_ui.actionReconnect->setEnabled(m_serialPortHandler && !m_closingLink
                                     && (m_reconnecting || !m_client));
    // Without a connection no session confirmation is awaited any more.
    refreshMeasureButton();
}

// Deleting the timer also stops it.
void MainWindow::dropPollTimer()
{
    delete m_pollTimer;
    m_pollTimer = nullptr;
}

void MainWindow::quietInstrument()
{
    if (motorRunning) {
        motorRunning = false;
        m_serialPortHandler->enqueue(MOT_StopController, {});
    }
    if (m_ui.captureButton->isChecked()) {
        m_ui.captureButton->setChecked(false);
        handlerLockButtonClick();
    }
    if (laserOn)
        handlerActionLaserTriggered();
    if (trackingActive)
        handlerTrckButtonClick();
}

// Never waits for the instrument: the link is asked to stop and finishes in
// its own time (a distance being measured still arrives and goes to the
// server); serialLinkFinished completes the close.
void MainWindow::closeSerialPort()
{
    if (m_serialPortHandler) {
        SerialPortHandler *link = m_serialPortHandler;
        const bool started = link->isRunning() || link->isFinished();
        if (link->isRunning())
            quietInstrument();
        dropPollTimer();
        m_serialPortHandler = nullptr;
        if (started) {
            m_closingLink = link;
            setControlsEnabled(false);
            // Available again once the link has finished.
            m_ui.actionConnect->setEnabled(false);
            m_ui.actionSettings->setEnabled(false);
            link->requestStop();
            return;
        }
        delete link; // the open failed; it never ran
    }
    disconnectFromServer();
}

void MainWindow::serialLinkFinished(SerialPortHandler *link)
{
    if (link == m_serialPortHandler && !m_instrumentOpen) {
        instrumentOpenFailed(link);
        return;
    }
    QString status = tr("The COM port is closed");
    if (link == m_serialPortHandler) {
        // Ended by itself: the port failed underneath it.
        status = tr("The instrument was lost: %1").arg(link->errorString());
        appendLog(status);
        dropPollTimer();
        m_serialPortHandler = nullptr;
        m_closingLink = link;
    }
    if (link != m_closingLink)
        return;
    link->wait(); // finished() is emitted just before the thread ends
    delete link;
    m_closingLink = nullptr;
    setControlsEnabled(false);
    showStatus(status);
    // Every reply the link delivered has been handled: the server link may go.
    disconnectFromServer();
    // A base point still awaited will not come (last: the dialog may show a box).
    m_basePoints->measurementFailed(status);
}

void MainWindow::instrumentOpenFailed(SerialPortHandler *link)
{
    const QString error = link->errorString();
    const bool network = link->isNetworkPort();
    dropPollTimer();
    m_serialPortHandler = nullptr;
    link->wait(); // finished() is emitted just before the thread ends
    delete link;
    setControlsEnabled(false);
    disconnectFromServer();
    appendLog(error);
    showStatus(tr("Connection error to the device"));
    QMessageBox::critical(this, tr("Connection error"),
                          network ? tr("Couldn't connect to the instrument: %1").arg(error)
                                  : tr("Couldn't connect to COM port: %1").arg(error),
                          QMessageBox::Ok);
}

void MainWindow::disconnectFromServer()
{
    // No more tries to bring the server back, from Disconnect on.
    stopReconnecting();
    // While the instrument link finishes, its last points still need the
    // server link; the close of the instrument link comes back here.
    if (m_closingLink)
        return;
    if (m_client)
        retireServerLink(m_client);
    // A measurement waiting for the session confirmation is void now.
    measurePending = false;
    setServerStatus(false);
}

void MainWindow::serverLinkFinished(Client *link)
{
    m_attempts.remove(link);
    if (link == m_manualAttempt)
        m_manualAttempt = nullptr;
    if (link == m_client) {
        // The connection broke or could not be made; the link said why
        // (errorInfo, connectFailed). While the instrument stays linked the
        // next try follows.
        m_client = nullptr;
        measurePending = false;
        setServerStatus(false);
        link->wait();
        delete link;
        scheduleReconnect();
        return;
    }
    if (!m_closingClients.removeOne(link))
        return;
    link->wait();
    delete link;
}

void MainWindow::handlerCommandFailed(RPC rpc, int code, const QString &text)
{
    m_failureMessages.append(qMakePair(text, InstrumentErrors::message(code, text)));
    if (rpc == BAP_MeasDistanceAngle) {
        m_distanceAwaited = false;
        refreshMeasureButton();
    }
}

QString MainWindow::takeFailureMessage(const QString &bare)
{
    while (!m_failureMessages.isEmpty()) {
        const QPair<QString, QString> failure = m_failureMessages.takeFirst();
        if (failure.first == bare)
            return failure.second;
    }
    return bare;
}

void MainWindow::handlerCommandError(const QString &text)
{
    showCommandError(takeFailureMessage(text));
}

void MainWindow::showCommandError(const QString &message)
{
    appendLog(message);
    showStatus(tr("Command error"));
    QMessageBox::critical(this, tr("Command error"), message, QMessageBox::Ok);
}
