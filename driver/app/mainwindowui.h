#pragma once
// The main window's widgets, menus, tool bar and styles, built in code in the
// manner of a generated form: MainWindow holds one MainWindowUi, calls
// setupUi() once in its constructor and retranslate() after each language
// switch. All texts are in the "MainWindow" translation context.

#include <QCoreApplication>
#include <QString>

class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class QWidget;

class MainWindowUi
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    // Actions (owned by the window).
    QAction *actionConnect = nullptr;
    QAction *actionDisconnect = nullptr;
    // Brings back a missing server link; the instrument stays as it is.
    QAction *actionReconnect = nullptr;
    QAction *actionSendUnsent = nullptr; // the journal's unsent points
    QAction *actionExit = nullptr;
    QAction *actionSettings = nullptr;
    QAction *actionLaser = nullptr;
    QAction *actionAbout = nullptr;
    QAction *actionLanguageRu = nullptr;
    QAction *actionLanguageEn = nullptr;

    QWidget *centralWidget = nullptr;
    QVBoxLayout *centralLayout = nullptr;

    // Group "Session and Measurement Management".
    QGroupBox *sessionGroup = nullptr;
    QGridLayout *sessionGrid = nullptr;
    QLabel *sessionLabel = nullptr;
    QLabel *groupLabel = nullptr;
    QLabel *pointNameLabel = nullptr;
    QLabel *deviceNameLabel = nullptr;
    QLineEdit *sessionEdit = nullptr;
    QLineEdit *groupEdit = nullptr;
    QLineEdit *pointNameEdit = nullptr;
    QLineEdit *deviceNameEdit = nullptr;
    QToolButton *autoButton = nullptr;
    QToolButton *captureButton = nullptr;   // checkable, the target lock state
    QLabel *edmModeLabel = nullptr;         // "Type of measurement:"
    QComboBox *edmModeCombo = nullptr;      // item data: GeoCOM EDM mode 1..14
    QToolButton *measButton = nullptr;
    QToolButton *trackingButton = nullptr;  // checkable, checked while tracking
    QToolButton *basePointsButton = nullptr;

    // Group "Device status".
    QGroupBox *deviceGroup = nullptr;
    QGridLayout *deviceGrid = nullptr;
    QLabel *xLabel = nullptr;
    QLabel *yLabel = nullptr;
    QLabel *zLabel = nullptr;
    QLineEdit *xEdit = nullptr;   // horizontal angle read-out
    QLineEdit *yEdit = nullptr;   // vertical (zenith) angle read-out
    QLineEdit *zEdit = nullptr;   // last slope distance, metres
    QLabel *xUnitLabel = nullptr;
    QLabel *yUnitLabel = nullptr;
    QLabel *zUnitLabel = nullptr;
    QGridLayout *arrowGrid = nullptr;
    QPushButton *upButton = nullptr;
    QPushButton *leftButton = nullptr;
    QPushButton *rightButton = nullptr;
    QPushButton *downButton = nullptr;
    QSlider *speedSlider = nullptr;         // 1..79, one step = 0.01 rad/s
    QLabel *speedTitleLabel = nullptr;      // "Speed:"
    QLabel *speedValueLabel = nullptr;      // "0.01" at start
    QLabel *speedUnitLabel = nullptr;       // "rad/s"
    QLabel *temperatureLabel = nullptr;
    QLabel *serialNumberLabel = nullptr;
    QLabel *deviceInfoLabel = nullptr;      // "Device Name: %1"

    QTextEdit *logPane = nullptr;
    static constexpr int logLines = 5000; // the log pane keeps the last ones
    QLabel *serverStatusLabel = nullptr;

    QMenuBar *menuBar = nullptr;
    QMenu *connectionMenu = nullptr;
    QMenu *settingsMenu = nullptr;
    QMenu *languageMenu = nullptr;
    QMenu *helpMenu = nullptr;
    QToolBar *toolBar = nullptr;
    QStatusBar *statusBar = nullptr;

    // Builds every widget, menu and style on the window.
    void setupUi(QMainWindow *window);

    // Re-applies every static text. The read-outs that depend on the
    // instrument link are rebuilt from the arguments: with linkOpen false
    // the serial number and device name show "-" and the temperature reads
    // "- °C"; with linkOpen true serialNumber and instrumentName are shown
    // and the temperature label keeps its last text. The laser action reads
    // "The laser is on"/"off" by laserOn. The EDM list is rebuilt keeping the
    // selected entry, with its signals blocked.
    void retranslate(QMainWindow *window, bool linkOpen = false, int serialNumber = 0,
                     const QString &instrumentName = QString(), bool laserOn = false);

    // Texts of the laser action and the EDM entries, in the current language.
    static QString laserText(bool laserOn);
    static void fillEdmModes(QComboBox *combo);

    // Number of EDM entries; entry i carries mode i + 1.
    static const int edmModeCount = 14;
};

// The About box: title, text and version of the program, the window as
// parent.
void showAboutBox(QWidget *parent);
