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
#include <QTime>
#include <QVariant>
#include <QVector>

#include "client.h"
#include "deliveryqueue.h"
#include "mainwindowui.h"
#include "types.h"

class BasePoints;
class Journal;
struct JournalRecord;
struct UnsentPoints;
template <typename T> class QFutureWatcher;
class QIcon;
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

    // Whether each link's thread runs, without a line in the log. A try to
    // bring the server link back counts only once the server has greeted it.
    bool instrumentLinkRunning() const;
    bool serverLinkRunning() const;

    // The base points dialog measures base points while on; it follows the
    // dialog's visibility, with or without an instrument link. The running
    // instrument link is switched with it, and a link opened later starts in
    // the mode.
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
    // A measurement is on its way: from Measure (main window or the base
    // points dialog) until its reply, its failure, its time-out or the end
    // of the link, including the wait for the server to accept the session
    // name. Measure is disabled and says so meanwhile.
    bool isMeasuring() const;
    // How long Measure waits for the server to accept a new session name
    // before it gives up, in ms (default 10 s).
    void setSessionConfirmTimeout(int ms) { m_sessionTimeoutMs = ms; }
    bool isTrackingActive() const { return trackingActive; }
    bool isLaserOn() const { return laserOn; }
    // Bounds on the instrument's replies for links opened from now on, in
    // ms: a distance measurement's and a quick request's (0: the link's
    // defaults, 10 s and 1 s).
    void setInstrumentReplyTimeouts(int distanceMs, int quickMs)
    {
        m_distanceReplyMs = distanceMs;
        m_quickReplyMs = quickMs;
    }
    // The server link comes back by itself: when it ends, or cannot be made,
    // while the instrument stays linked, the window tries again after each
    // of these delays in turn (ms), the last one repeating; by default 1, 2,
    // 5 and then every 10 s. A try that fails is told only by the server
    // label. Disconnect, or the end of the instrument link, stops the tries.
    void setReconnectDelays(const QVector<int> &ms);
    // Tries to bring the server link back go on (waiting for the next one or
    // making it).
    bool isReconnecting() const { return m_reconnecting; }
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
    // One server link to the address of the last Connect. `attempt`: a try
    // to bring a lost link back, which fails without a message box and takes
    // no points until the server has greeted it.
    void startServerLink(bool attempt);
    // The next try after the next delay, while the server is wanted.
    void scheduleReconnect();
    // Connection > Reconnect to the server: a try now, the delays from the
    // start.
    void reconnectNow();
    // No more tries; a try under way is ended (it holds nothing).
    void stopReconnecting();
    // Moves a link to the ones closing; it is deleted when it has finished.
    void retireServerLink(Client *link);
    // A server link reported an error: the loss of an established link is
    // told once in a box, a failed try only by the label.
    void serverLinkError(Client *link, const ErrorInfo &info);
    // The box for the loss of the server link: says that measuring goes on
    // and the link comes back by itself. One at a time.
    void showServerLossBox(const QString &title, const QString &text);
    // The server label and the Reconnect action from the link's state.
    void refreshServerStatus();
    // A base point from the server, unless the table holds it already (the
    // server sends its base points again on each connection).
    void addBasePointOnce(const MeasuringPoint &pt);
    // Leaves the instrument quiet: motors stopped, lock off, laser off,
    // tracking off.
    void quietInstrument();
    void dropPollTimer();
    void setServerStatus(bool on);
    static const QIcon &laserIcon(bool on);
    // Minimum width of the four name fields from the texts they will show.
    void fitFieldWidths(const QList<QPair<QLineEdit *, QString>> &texts);
    void handlerCommandError(const QString &text);
    // A distance measurement failed in base-point mode: the base points
    // dialog is told if it waits for one, otherwise a command error.
    void handlerBasePointFailed(int code, const QString &text);
    // Every failed request but the polls, just before its errorResponse or
    // basePointFailed: keeps the text in words for the box that follows.
    void handlerCommandFailed(RPC rpc, int code, const QString &text);
    // The message in words for the bare text of the link's next command
    // error (the bare text itself if the link said nothing more).
    QString takeFailureMessage(const QString &bare);
    void showCommandError(const QString &message);
    // A new instrument link, before its thread starts: its failures reach
    // the window, its end is seen, and it takes the base-point mode.
    void prepareInstrumentLink(SerialPortHandler *link);
    // An instrument link's thread has finished: what waited for it is over.
    void instrumentLinkEnded();
    // Measure's state and text by isMeasuring().
    void refreshMeasureButton();
    void sessionNotConfirmed();
    void setTrackingState(bool on);
    void setPointField(const QString &name);
    void showSlopeDistance(double d);

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
    // The text of the offer: how many points, and each of them.
    QString unsentOfferText(const UnsentPoints &unsent) const;
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
    bool m_controlsOn = false;      // as setControlsEnabled left them
    bool m_distanceAwaited = false; // a distance measurement was asked for
    QTimer *m_sessionTimer = nullptr;
    int m_sessionTimeoutMs = 10000;
    // Bare text and message in words of each failure reported by
    // commandFailed whose errorResponse or basePointFailed is still to come.
    QList<QPair<QString, QString>> m_failureMessages;
    qint32 serialNumber = 0;
    QString instrumentName;
    // The instrument link after Disconnect (or after it ended by itself)
    // until its thread has finished: its last replies still reach the
    // window, and the server link is closed only after them.
    SerialPortHandler *m_closingLink = nullptr;
    // The current instrument link's line is open (opened() came).
    bool m_instrumentOpen = false;
    int m_distanceReplyMs = 0;
    int m_quickReplyMs = 0;
    // Server links asked to stop, deleted when their threads finish.
    QList<Client *> m_closingClients;
    // The server link's life: the address of the last Connect, whether the
    // server is wanted (from Connect until Disconnect), whether the current
    // link has been greeted, and the tries to bring it back.
    QString m_serverHost;
    quint16 m_serverPort = 0;
    bool m_serverWanted = false;
    bool m_serverGreeted = false;
    bool m_reconnecting = false;
    int m_reconnectStep = 0;           // tries made in this round
    QVector<int> m_reconnectDelays{1000, 2000, 5000, 10000};
    QTimer *m_reconnectTimer = nullptr;
    QTime m_nextTry;                   // when the waiting try is due
    QString m_lastTryError;            // why the last try failed
    QSet<Client *> m_attempts;         // links of tries, until greeted or finished
    Client *m_manualAttempt = nullptr; // the try the operator asked for
    bool m_lossBoxOpen = false;
};
