#include "mainwindow.h"

#include <QTextCursor>
#include <QTextEdit>

bool basePointSelected = false;

namespace {
MainWindow *theWindow = nullptr;
}

MainWindow::MainWindow(const QString &deviceName, QWidget *parent) : QMainWindow(parent)
{
    theWindow = this;
    Q_UNUSED(deviceName);
    appName = QStringLiteral("Stadiolink.exe");
}

MainWindow::~MainWindow() = default;

MainWindow *MainWindow::instance() { return theWindow; }

Client *MainWindow::client() { return m_client; }
SerialPortHandler *MainWindow::serialPortHandler() { return m_serialPortHandler; }
void MainWindow::setBasePointMode(bool on) { basePointMode = on; }

void MainWindow::appendLog(const QString &text)
{
    if (!m_ui.logPane)
        return;
    m_ui.logPane->textCursor().insertText(text + QStringLiteral("\r\n"));
}

void MainWindow::retranslate() {}
void MainWindow::openSerialPort() {}
void MainWindow::closeSerialPort() {}
void MainWindow::handlerTimeout() {}
void MainWindow::handlerMeasButtonClick() {}
void MainWindow::handlerPushButtonPressed() {}
void MainWindow::handlerPushButtonPeleased() {}
void MainWindow::handlerResponseReceived(QPair<RPC, QVariant>) {}
void MainWindow::handlerReceivedBasePoint(QPair<RPC, QVariant>) {}
void MainWindow::handlerTrckButtonClick() {}
void MainWindow::handlerActionLaserTriggered() {}
void MainWindow::handlerEdmModeChanged(int) {}
void MainWindow::handlerSliderChanged(int) {}
void MainWindow::handlerAutoButtonClick() {}
void MainWindow::handlerLockButtonClick() {}
void MainWindow::handlerErrorClient(ErrorInfo) {}
void MainWindow::connectSignals() {}
void MainWindow::setControlsEnabled(bool) {}
void MainWindow::connectToServer(const QString &, quint16) {}
void MainWindow::disconnectFromServer() {}
void MainWindow::setServerStatus(bool) {}
void MainWindow::fitFieldWidths(const QStringList &) {}
void MainWindow::handlerCommandError(const QString &) {}
void MainWindow::measureAfterSessionConfirmed() {}
void MainWindow::showMeasurementInfo(const QString &, const QString &, const QString &, const QString &) {}
void MainWindow::setSessionField(const QString &) {}
void MainWindow::setGroupField(const QString &) {}
void MainWindow::sendMeasuredPoint(double, double, double) {}
MeasuringPoint MainWindow::pointFromFields(double, double, double) const { return MeasuringPoint(); }
void MainWindow::showStatus(const QString &) {}
