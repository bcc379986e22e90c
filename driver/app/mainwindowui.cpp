#include "mainwindowui.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "entry.h"

namespace {

const char *const groupStyle =
    "QGroupBox {    border: 1px solid gray;    border-radius: 5px;    margin-top: 6ex;}"
    "QGroupBox::title {    subcontrol-origin: margin;    subcontrol-position: top center;}";

const char *const logStyle =
    "QTextEdit {    border: 1px solid gray;    border-radius: 5px;    background-color: white;}"
    "QTextEdit::viewport {    border-radius: 5px;    background-color: transparent;}";

const char *const statusBarStyle =
    "QStatusBar {    background-color: #D3D3D3;    color: black;    border-top: 1px solid #A0A0A0;}";

const char *const upStyle =
    "QPushButton:pressed {    background-color: #cccccc;    padding-top: 2px;    border: 1px solid #999999;    border-radius: 5px;}";
const char *const leftStyle =
    "QPushButton:pressed {    background-color: #cccccc;    padding-left: 2px;    padding-top: 2px;    border: 1px solid #999999;    border-radius: 5px;}";
const char *const rightStyle =
    "QPushButton:pressed {    background-color: #cccccc;    padding-right: 2px;    padding-top: 2px;    border: 1px solid #999999;    border-radius: 5px;}";
const char *const downStyle =
    "QPushButton:pressed {    background-color: #cccccc;    padding-bottom: 2px;    border: 1px solid #999999;    border-radius: 5px;}";

const char *const menuBarStyle =
    "QMenuBar {\n"
    "    background-color: #D3D3D3;\n"
    "    color: #000000;\n"
    "}\n"
    "QMenuBar::item {\n"
    "    background: transparent;\n"
    "    padding: 4px;\n"
    "    margin-right: 4px;\n"
    "}\n"
    "QMenuBar::item:selected {\n"
    "    background: #5c5c5c;\n"
    "    color: white;\n"
    "}\n"
    "QMenu {\n"
    "    border: 2px solid #999999;\n"
    "    padding: 4px;\n"
    "    background-color: #d9d9d9;\n"
    "}\n"
    "QMenu::item {\n"
    "    background-color: transparent;\n"
    "    color: #000000;\n"
    "    margin-right: 10px;\n"
    "    border-radius: 1px;\n"
    "}\n"
    "QMenu::item:selected {\n"
    "    background-color: transparent;\n"
    "    color: #000000;\n"
    "    font-weight: bold;\n"
    "}\n"
    "QMenu::separator {\n"
    "    height: 1px;\n"
    "    background: #c0c0c0;\n"
    "    margin: 4px 10px;\n"
    "}\n";

const char *const toolBarStyle =
    "QToolBar {\n"
    "    background-color: #f0f0f0;\n"
    "    border: none;\n"
    "}\n"
    "QToolButton {\n"
    "    background-color: transparent;\n"
    "    border: none;\n"
    "    color: #000000;\n"
    "    border-radius: 4px;\n"
    "}\n"
    "QToolButton:hover {\n"
    "    background-color: #d9d9d9;\n"
    "}\n"
    "QToolButton:pressed {\n"
    "    background-color: #3874f2;\n"
    "    color: white;\n"
    "}\n"
    "QToolButton:checked {\n"
    "    background-color: #5c5c5c;\n"
    "    color: white;\n"
    "}\n";

// English source texts of the EDM list, index i is GeoCOM mode i + 1.
const char *const edmModeTexts[MainWindowUi::edmModeCount] = {
    QT_TRANSLATE_NOOP("MainWindow", "IR Standard Reflector Tape"),
    QT_TRANSLATE_NOOP("MainWindow", "IR Standard"),
    QT_TRANSLATE_NOOP("MainWindow", "IR Fast"),
    QT_TRANSLATE_NOOP("MainWindow", "LO Standard"),
    QT_TRANSLATE_NOOP("MainWindow", "RL Standard"),
    QT_TRANSLATE_NOOP("MainWindow", "Standard repeated meas."),
    QT_TRANSLATE_NOOP("MainWindow", "IR Tacking"),
    QT_TRANSLATE_NOOP("MainWindow", "RL Tracking"),
    QT_TRANSLATE_NOOP("MainWindow", "Fast repeated meas."),
    QT_TRANSLATE_NOOP("MainWindow", "IR Average"),
    QT_TRANSLATE_NOOP("MainWindow", "RL Average"),
    QT_TRANSLATE_NOOP("MainWindow", "LO Average"),
    QT_TRANSLATE_NOOP("MainWindow", "IR Precise"),
    QT_TRANSLATE_NOOP("MainWindow", "IR Precise Reflector Tape"),
};

QPushButton *arrowButton(QWidget *parent, const char *icon, const char *style, const char *name)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(QIcon(QLatin1String(icon)));
    b->setIconSize(QSize(24, 24));
    b->setStyleSheet(QLatin1String(style));
    return b;
}

} // namespace

QString MainWindowUi::laserText(bool laserOn)
{
    return laserOn ? tr("The laser is on") : tr("The laser is off");
}

void MainWindowUi::fillEdmModes(QComboBox *combo)
{
    for (int i = 0; i < edmModeCount; ++i)
        combo->addItem(tr(edmModeTexts[i]), i + 1);
    combo->setMaxVisibleItems(5);
}

void MainWindowUi::setupUi(QMainWindow *window)
{
    // Actions.
    actionConnect = new QAction(QIcon(QStringLiteral(":/images/connect.ico")), QString(), window);
    actionConnect->setObjectName(QStringLiteral("actionConnect"));
    actionDisconnect = new QAction(QIcon(QStringLiteral(":/images/disconnect.ico")), QString(), window);
    actionDisconnect->setObjectName(QStringLiteral("actionDisconnect"));
    actionReconnect = new QAction(window);
    actionReconnect->setObjectName(QStringLiteral("actionReconnect"));
    actionReconnect->setEnabled(false);
    actionSendUnsent = new QAction(window);
    actionSendUnsent->setObjectName(QStringLiteral("actionSendUnsent"));
    actionExit = new QAction(QIcon(QStringLiteral(":/images/application-exit.png")), QString(), window);
    actionExit->setObjectName(QStringLiteral("actionExit"));
    actionSettings = new QAction(QIcon(QStringLiteral(":/images/settings.ico")), QString(), window);
    actionSettings->setObjectName(QStringLiteral("actionSettings"));
    actionLaser = new QAction(QIcon(QStringLiteral(":/images/laser off.ico")), QString(), window);
    actionLaser->setObjectName(QStringLiteral("actionLaser"));
    actionAbout = new QAction(window);
    actionAbout->setObjectName(QStringLiteral("actionAbout"));
    actionLanguageRu = new QAction(window);
    actionLanguageRu->setObjectName(QStringLiteral("actionLanguageRu"));
    actionLanguageEn = new QAction(window);
    actionLanguageEn->setObjectName(QStringLiteral("actionLanguageEn"));

    // Central widget.
    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    centralLayout = new QVBoxLayout(centralWidget);

    // Session and measurement management.
    sessionGroup = new QGroupBox(centralWidget);
    sessionGroup->setObjectName(QStringLiteral("sessionGroup"));
    sessionGroup->setStyleSheet(QLatin1String(groupStyle));
    sessionGrid = new QGridLayout(sessionGroup);

    sessionLabel = new QLabel(sessionGroup);
    groupLabel = new QLabel(sessionGroup);
    pointNameLabel = new QLabel(sessionGroup);
    deviceNameLabel = new QLabel(sessionGroup);
    sessionEdit = new QLineEdit(sessionGroup);
    sessionEdit->setObjectName(QStringLiteral("sessionEdit"));
    groupEdit = new QLineEdit(sessionGroup);
    groupEdit->setObjectName(QStringLiteral("groupEdit"));
    pointNameEdit = new QLineEdit(sessionGroup);
    pointNameEdit->setObjectName(QStringLiteral("pointNameEdit"));
    deviceNameEdit = new QLineEdit(sessionGroup);
    deviceNameEdit->setObjectName(QStringLiteral("deviceNameEdit"));
    autoButton = new QToolButton(sessionGroup);
    autoButton->setObjectName(QStringLiteral("autoButton"));
    captureButton = new QToolButton(sessionGroup);
    captureButton->setObjectName(QStringLiteral("captureButton"));
    captureButton->setCheckable(true);
    captureButton->setChecked(false);

    sessionGrid->addWidget(sessionLabel, 0, 0);
    sessionGrid->addWidget(sessionEdit, 0, 1);
    sessionGrid->addWidget(autoButton, 0, 2);
    sessionGrid->addWidget(groupLabel, 1, 0);
    sessionGrid->addWidget(groupEdit, 1, 1);
    sessionGrid->addWidget(captureButton, 1, 2);
    sessionGrid->addWidget(pointNameLabel, 2, 0);
    sessionGrid->addWidget(pointNameEdit, 2, 1);
    sessionGrid->addWidget(deviceNameLabel, 3, 0);
    sessionGrid->addWidget(deviceNameEdit, 3, 1);

    auto *edmRow = new QHBoxLayout;
    edmModeLabel = new QLabel(sessionGroup);
    edmModeCombo = new QComboBox(sessionGroup);
    edmModeCombo->setObjectName(QStringLiteral("edmModeCombo"));
    edmRow->addWidget(edmModeLabel);
    edmRow->addStretch();
    edmRow->addWidget(edmModeCombo);
    sessionGrid->addLayout(edmRow, 4, 0, 1, 4);

    auto *buttonRow = new QHBoxLayout;
    measButton = new QToolButton(sessionGroup);
    measButton->setObjectName(QStringLiteral("measButton"));
    trackingButton = new QToolButton(sessionGroup);
    trackingButton->setObjectName(QStringLiteral("trackingButton"));
    trackingButton->setCheckable(true); // checked while tracking
    basePointsButton = new QToolButton(sessionGroup);
    basePointsButton->setObjectName(QStringLiteral("basePointsButton"));
    buttonRow->addWidget(measButton);
    buttonRow->addStretch();
    buttonRow->addWidget(trackingButton);
    buttonRow->addStretch();
    buttonRow->addWidget(basePointsButton);
    sessionGrid->addLayout(buttonRow, 5, 0, 1, 4);
    centralLayout->addWidget(sessionGroup);

    // The EDM list: entries, at most five visible, "IR Standard" selected.
    fillEdmModes(edmModeCombo);
    edmModeCombo->setCurrentIndex(1);

    // Device status.
    deviceGroup = new QGroupBox(centralWidget);
    deviceGroup->setObjectName(QStringLiteral("deviceGroup"));
    deviceGroup->setStyleSheet(QLatin1String(groupStyle));
    deviceGrid = new QGridLayout(deviceGroup);

    xLabel = new QLabel(deviceGroup);
    yLabel = new QLabel(deviceGroup);
    zLabel = new QLabel(deviceGroup);
    xEdit = new QLineEdit(deviceGroup);
    xEdit->setObjectName(QStringLiteral("xEdit"));
    yEdit = new QLineEdit(deviceGroup);
    yEdit->setObjectName(QStringLiteral("yEdit"));
    zEdit = new QLineEdit(deviceGroup);
    zEdit->setObjectName(QStringLiteral("zEdit"));
    for (QLineEdit *e : {xEdit, yEdit, zEdit}) {
        e->setReadOnly(true);
        // Room for the widest angle.
        e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("-359° 59′ 59.99″")) + 12);
    }
    xUnitLabel = new QLabel(deviceGroup);
    yUnitLabel = new QLabel(deviceGroup);
    zUnitLabel = new QLabel(deviceGroup);
    deviceGrid->addWidget(xLabel, 0, 0);
    deviceGrid->addWidget(xEdit, 0, 1);
    deviceGrid->addWidget(xUnitLabel, 0, 2);
    deviceGrid->addWidget(yLabel, 1, 0);
    deviceGrid->addWidget(yEdit, 1, 1);
    deviceGrid->addWidget(yUnitLabel, 1, 2);
    deviceGrid->addWidget(zLabel, 2, 0);
    deviceGrid->addWidget(zEdit, 2, 1);
    deviceGrid->addWidget(zUnitLabel, 2, 2);

    arrowGrid = new QGridLayout;
    upButton = arrowButton(deviceGroup, ":/images/up.png", upStyle, "upButton");
    leftButton = arrowButton(deviceGroup, ":/images/left.png", leftStyle, "leftButton");
    rightButton = arrowButton(deviceGroup, ":/images/right.png", rightStyle, "rightButton");
    downButton = arrowButton(deviceGroup, ":/images/down.png", downStyle, "downButton");
    arrowGrid->addWidget(upButton, 0, 1);
    arrowGrid->addWidget(leftButton, 1, 0);
    arrowGrid->addWidget(rightButton, 1, 2);
    arrowGrid->addWidget(downButton, 2, 1);
    deviceGrid->addLayout(arrowGrid, 0, 3, 3, 1);

    speedSlider = new QSlider(Qt::Vertical, deviceGroup);
    speedSlider->setObjectName(QStringLiteral("speedSlider"));
    speedSlider->setRange(1, 79);
    speedSlider->setValue(1);
    speedSlider->setFocusPolicy(Qt::NoFocus);
    deviceGrid->addWidget(speedSlider, 0, 4, 3, 1);

    auto *speedRow = new QHBoxLayout;
    speedTitleLabel = new QLabel(deviceGroup);
    speedValueLabel = new QLabel(QStringLiteral("0.01"), deviceGroup);
    speedValueLabel->setObjectName(QStringLiteral("speedValueLabel"));
    speedUnitLabel = new QLabel(deviceGroup);
    speedRow->addStretch();
    speedRow->addWidget(speedTitleLabel, 0, Qt::AlignRight);
    speedRow->addWidget(speedValueLabel, 0, Qt::AlignRight);
    speedRow->addWidget(speedUnitLabel, 0, Qt::AlignRight);
    deviceGrid->addLayout(speedRow, 3, 0, 1, 5);

    temperatureLabel = new QLabel(deviceGroup);
    temperatureLabel->setObjectName(QStringLiteral("temperatureLabel"));
    serialNumberLabel = new QLabel(deviceGroup);
    serialNumberLabel->setObjectName(QStringLiteral("serialNumberLabel"));
    deviceInfoLabel = new QLabel(deviceGroup);
    deviceInfoLabel->setObjectName(QStringLiteral("deviceInfoLabel"));
    int row = 4;
    for (QLabel *l : {temperatureLabel, serialNumberLabel, deviceInfoLabel}) {
        auto *line = new QHBoxLayout;
        line->addWidget(l);
        line->addStretch();
        deviceGrid->addLayout(line, row++, 0, 1, 5);
    }
    centralLayout->addWidget(deviceGroup);

    // Log pane and server state.
    logPane = new QTextEdit(centralWidget);
    logPane->setObjectName(QStringLiteral("logPane"));
    logPane->setReadOnly(true);
    logPane->document()->setMaximumBlockCount(logLines);
    logPane->setStyleSheet(QLatin1String(logStyle));
    centralLayout->addWidget(logPane);

    serverStatusLabel = new QLabel(centralWidget);
    serverStatusLabel->setObjectName(QStringLiteral("serverStatusLabel"));
    serverStatusLabel->setAlignment(Qt::AlignRight);
    centralLayout->addWidget(serverStatusLabel);
    window->setCentralWidget(centralWidget);

    // Menus.
    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setStyleSheet(QLatin1String(menuBarStyle));
    connectionMenu = new QMenu(menuBar);
    connectionMenu->setObjectName(QStringLiteral("connectionMenu"));
    settingsMenu = new QMenu(menuBar);
    settingsMenu->setObjectName(QStringLiteral("settingsMenu"));
    helpMenu = new QMenu(menuBar);
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    for (QMenu *m : {connectionMenu, settingsMenu, helpMenu})
        m->setWindowFlags(m->windowFlags() | Qt::NoDropShadowWindowHint);
    languageMenu = new QMenu(settingsMenu);
    languageMenu->setObjectName(QStringLiteral("languageMenu"));

    menuBar->addMenu(connectionMenu);
    menuBar->addMenu(settingsMenu);
    menuBar->addMenu(helpMenu);
    connectionMenu->addAction(actionConnect);
    connectionMenu->addAction(actionReconnect);
    connectionMenu->addAction(actionDisconnect);
    connectionMenu->addAction(actionSendUnsent);
    connectionMenu->addSeparator();
    connectionMenu->addAction(actionExit);
    settingsMenu->addAction(actionSettings);
    settingsMenu->addMenu(languageMenu);
    languageMenu->addAction(actionLanguageRu);
    languageMenu->addAction(actionLanguageEn);
    helpMenu->addAction(actionAbout);
    window->setMenuBar(menuBar);

    // Tool bar.
    toolBar = new QToolBar(window);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setStyleSheet(QLatin1String(toolBarStyle));
    toolBar->addAction(actionConnect);
    toolBar->addAction(actionDisconnect);
    toolBar->addAction(actionSettings);
    toolBar->addAction(actionLaser);
    window->addToolBar(Qt::TopToolBarArea, toolBar);

    // Status bar.
    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    statusBar->setStyleSheet(QLatin1String(statusBarStyle));
    window->setStatusBar(statusBar);

    // Tab order.
    QWidget *const tabOrder[] = {sessionEdit, groupEdit, pointNameEdit, xEdit, yEdit, zEdit,
                                 logPane, upButton, leftButton, rightButton, downButton,
                                 speedSlider, measButton, trackingButton, autoButton,
                                 captureButton, edmModeCombo};
    // setTabOrder ignores a widget that takes no focus (the speed slider), so
    // the chain links the focusable ones around it.
    QWidget *previous = nullptr;
    for (QWidget *w : tabOrder) {
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }

    window->adjustSize();
    window->resize(window->minimumSize());
}

void MainWindowUi::retranslate(QMainWindow *window, bool linkOpen, int serialNumber,
                               const QString &instrumentName, bool laserOn)
{
    // 1. Menu titles.
    connectionMenu->setTitle(tr("Connection"));
    settingsMenu->setTitle(tr("Settings"));
    helpMenu->setTitle(tr("Help"));
    languageMenu->setTitle(tr("Language"));

    // 2. Device read-outs.
    if (!linkOpen) {
        temperatureLabel->setText(tr("Device temperature: %1 %2")
                                      .arg(QStringLiteral("-"), QStringLiteral("°C")));
        serialNumberLabel->setText(tr("Serial number: %1").arg(QStringLiteral("-")));
        deviceInfoLabel->setText(tr("Device Name: %1").arg(QStringLiteral("-")));
    } else {
        serialNumberLabel->setText(tr("Serial number: %1").arg(serialNumber));
        deviceInfoLabel->setText(tr("Device Name: %1").arg(instrumentName));
    }

    // 3. Labels, group titles and buttons.
    speedTitleLabel->setText(tr("Speed:"));
    speedUnitLabel->setText(tr("rad/s"));
    // The read-out rows: short labels as on the instrument's display, the
    // full names as tool tips.
    xLabel->setText(tr("Hz:"));
    yLabel->setText(tr("V:"));
    zLabel->setText(tr("SD:"));
    const QString readOutTips[] = {tr("Horizontal angle"),
                                   tr("Vertical angle (zenith angle: 0° straight up, 90° level)"),
                                   tr("Slope distance of the last measurement")};
    const QList<QWidget *> readOutRows[] = {{xLabel, xEdit, xUnitLabel},
                                            {yLabel, yEdit, yUnitLabel},
                                            {zLabel, zEdit, zUnitLabel}};
    for (int row = 0; row < 3; ++row) {
        for (QWidget *w : readOutRows[row])
            w->setToolTip(readOutTips[row]);
    }
    xUnitLabel->setText(tr("deg"));
    yUnitLabel->setText(tr("deg"));
    zUnitLabel->setText(tr("m"));
    edmModeLabel->setText(tr("Type of measurement:"));
    deviceGroup->setTitle(tr("Device status"));
    basePointsButton->setText(tr("Base points"));
    captureButton->setText(tr("Capture"));
    autoButton->setText(tr("Auto"));
    trackingButton->setText(tr("Tracking"));
    measButton->setText(tr("Measure"));
    deviceNameLabel->setText(tr("Device name:"));
    pointNameLabel->setText(tr("Point name:"));
    groupLabel->setText(tr("Group:"));
    sessionLabel->setText(tr("Session:"));
    sessionGroup->setTitle(tr("Session and Measurement Management"));

    // 4. Actions and the window title.
    actionLaser->setText(laserText(laserOn));
    actionConnect->setText(tr("Connect"));
    actionConnect->setToolTip(tr("Connect to the serial port and to the server"));
    actionDisconnect->setText(tr("Disconnect"));
    actionDisconnect->setToolTip(tr("Disconnect from the serial port and server"));
    actionReconnect->setText(tr("Reconnect to the server"));
    actionReconnect->setToolTip(tr("Connect to the server again now; the instrument stays linked"));
    actionSendUnsent->setText(tr("Send unsent points..."));
    actionExit->setText(tr("Exit"));
    actionSettings->setText(tr("Settings") + QStringLiteral(" COM"));
    actionSettings->setToolTip(tr("Configure the serial port"));
    actionAbout->setText(tr("About the program"));
    actionAbout->setToolTip(tr("About the program"));
    actionLanguageRu->setText(QStringLiteral("Русский"));
    actionLanguageEn->setText(QStringLiteral("English"));
    window->setWindowTitle(tr("Stadiolink Driver"));

    // 5. The EDM list in the new language, same entry, no mode request.
    {
        const QSignalBlocker blocker(edmModeCombo);
        const int selected = edmModeCombo->currentIndex();
        edmModeCombo->clear();
        fillEdmModes(edmModeCombo);
        edmModeCombo->setCurrentIndex(selected);
    }
}

void showAboutBox(QWidget *parent)
{
    // The version as "Stadiolink --version" prints it.
    QMessageBox::about(parent, QCoreApplication::translate("MainWindow", "About the program"),
                       QCoreApplication::translate(
                           "MainWindow",
                           "To work with the Leica total station and transfer data to Velmora")
                           + QStringLiteral("\n\n") + CommandLine::versionText().trimmed());
}
