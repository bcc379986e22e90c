#pragma once
// The driver's main window and controller of both links: the instrument link
// (SerialPortHandler) and the server link (Client), each in its own thread.
// User actions become GeoCOM requests; instrument replies become read-outs
// and named points for the CAD server. GUI thread only.

#include <QMainWindow>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariant>

#include "client.h"
#include "deliveryqueue.h"
#include "mainwindowui.h"
#include "types.h"

class BasePoints;
class Journal;
struct JournalRecord;
struct UnsentPoints;
template <typename T> class QFutureWatcher;
class QLineEdit;
class QTimer;
class SerialPortHandler;
class SettingsDialog;

// A base point is selected for measurement in the base points table.
extern bool basePointSelected;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(const QString &deviceName = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // The one main window; set by its constructor, never cleared.
    static MainWindow *instance();

    // The server link while its thread runs; otherwise null, and a line in
    // the log says so.
    Client *client();
    // The instrument link while its thread runs; otherwise null (logged).
    SerialPortHandler *serialPortHandler();

    // The base points dialog measures base points while on.
    void setBasePointMode(bool on);
    bool isBasePointMode() const { return basePointMode; }

    // Appends the text and CR LF at the end of the log pane, which keeps the
    // last MainWindowUi::logLines lines.
    void appendLog(const QString &text);

    // Re-applies every text in the current language.
    void retranslate();

    // Widgets, dialogs and links, for the dialogs and tests that drive them.
    MainWindowUi &ui() { return m_ui; }
    SettingsDialog *settingsDialog() const { return m_settingsDialog; }
    BasePoints *basePointsDialog() const { return m_basePoints; }
    SerialPortHandler *serialLink() const { return m_serialPortHandler; }
    Client *serverLink() const { return m_client; }
    QTimer *pollTimer() const { return m_pollTimer; }
    bool isMeasurePending() const { return measurePending; }
    bool isTrackingActive() const { return trackingActive; }
    bool isLaserOn() const { return laserOn; }
    // True from Disconnect (or the loss of the instrument) until both links
    // have finished; Connect is enabled again afterwards.
    bool isClosing() const { return m_closingLink != nullptr || !m_closingClients.isEmpty(); }

    // --- observation journal (mainwindow_journal.cpp) ---
    // Every measured point, written before it is handed to the server link,
    // and its delivery state.
    Journal *journal() const { return m_journal; }
    // Asks the operator whether to send the journal's points the server has
    // not confirmed, once the journal has been read (in a worker thread);
    // `afterConnecting` leaves out the ones the operator skipped before and
    // says nothing when there are none.
    void offerUnsentPoints(bool afterConnecting);
    // --- end observation journal ---

public slots:
    void openSerialPort();
    void closeSerialPort();
    void handlerTimeout();
    void handlerMeasButtonClick();
    void handlerPushButtonPressed();
    void handlerPushButtonPeleased();
    void handlerResponseReceived(QPair<RPC, QVariant> pair);
    void handlerReceivedBasePoint(QPair<RPC, QVariant> pair);
    void handlerTrckButtonClick();
    void handlerActionLaserTriggered();
    void handlerEdmModeChanged(int value);
    void handlerSliderChanged(int value);
    void handlerAutoButtonClick();
    void handlerLockButtonClick();
    void handlerErrorClient(ErrorInfo info);

private:
    void connectSignals();
    void setControlsEnabled(bool on);
    void connectToServer(const QString &host, quint16 port);
    void disconnectFromServer();
    // A link's thread has finished: after Disconnect, or by itself (the
    // instrument's port failed, the server connection broke).
    void serialLinkFinished(SerialPortHandler *link);
    // The instrument's line could not be opened: said, and both links close.
    void instrumentOpenFailed(SerialPortHandler *link);
    void serverLinkFinished(Client *link);
    // Leaves the instrument quiet: motors stopped, lock off, laser off,
    // tracking off.
    void quietInstrument();
    void dropPollTimer();
    void setServerStatus(bool on);
    // Minimum width of the four name fields from the texts they will show.
    void fitFieldWidths(const QList<QPair<QLineEdit *, QString>> &texts);
    void handlerCommandError(const QString &text);
    // A distance measurement failed in base-point mode: the base points
    // dialog is told if it waits for one, otherwise a command error.
    void handlerBasePointFailed(int code, const QString &text);

    void measureAfterSessionConfirmed();
    void showMeasurementInfo(const QString &sessionName, const QString &groupName,
                             const QString &pointName, const QString &deviceName);
    void setSessionField(const QString &name);
    void setGroupField(const QString &name);
    // A measured point with the current names: to the journal, then to the
    // server when there is a link, and one line in the log.
    void sendMeasuredPoint(double hz, double v, double d);
    MeasuringPoint pointFromFields(double hz, double v, double d) const;
    void logUnsentPoint(const MeasuringPoint &pt);
    bool serverLinkRunning() const;
    bool instrumentLinkRunning() const;
    void showStatus(const QString &text);

    // --- observation journal (mainwindow_journal.cpp) ---
    void setUpJournal();
    void logPoint(const MeasuringPoint &pt, bool sent);
    // Message 2 of the server connection numbered `connection`: confirms the
    // oldest point waiting for it.
    void pointAnswered(int connection, const QString &sessionName, const QString &groupName,
                       const QString &pointName, const QString &deviceName);
    // The server connection numbered `connection` ended (its thread has
    // finished, so every answer it read came first; or the window is
    // closing): its unanswered points become unsent.
    void serverLinkEnded(int connection);
    void sendAgain(const QVector<JournalRecord> &points);
    Journal *m_journal = nullptr;
    // Points waiting for an answer, by the number of the server connection
    // they went to, for every link running or still closing.
    QMap<int, DeliveryQueue> m_deliveries;
    int m_connection = 0;          // number of the latest server connection
    DeliveryQueue m_endedDelivery; // unanswered points of an ended connection
    int m_endedConnection = -1;    // whose late answers still confirm them
    // Collecting the unsent points reads every journal file: in a worker
    // thread, one collection at a time; the offer follows when it is done.
    void unsentPointsCollected();
    // Ids of the points handed to a server link and not yet answered.
    QSet<QString> idsAwaitingAnswer() const;
    QFutureWatcher<UnsentPoints> *m_unsentWatcher = nullptr;
    bool m_collecting = false; // until the finished signal is handled
    bool m_collectingAfterConnecting = false;
    bool m_menuRequestWaiting = false; // the menu asked while collecting after a connection
    QSet<QString> m_measuredWhileCollecting; // ids the collection may have read as sent
    // --- end observation journal ---

    MainWindowUi m_ui;
    SerialPortHandler *m_serialPortHandler = nullptr;
    QTimer *m_pollTimer = nullptr;
    Client *m_client = nullptr;
    BasePoints *m_basePoints = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
    QString appName;
    bool measurePending = false;
    bool basePointMode = false;
    bool trackingActive = false;
    bool laserOn = false;
    // An arrow button started the motor controller and was not released.
    bool motorRunning = false;
    qint32 serialNumber = 0;
    QString instrumentName;
    // The instrument link after Disconnect (or after it ended by itself)
    // until its thread has finished: its last replies still reach the
    // window, and the server link is closed only after them.
    SerialPortHandler *m_closingLink = nullptr;
    // The current instrument link's line is open (opened() came).
    bool m_instrumentOpen = false;
    // Server links asked to stop, deleted when their threads finish.
    QList<Client *> m_closingClients;
};
