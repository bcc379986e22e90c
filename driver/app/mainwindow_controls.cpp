// Main window: the instrument control panel. Each control queues GeoCOM
// requests on the instrument link; the controls are enabled only while the
// link is open. Every handler still checks for the link: disabling a held
// arrow button releases it, after the link may already be gone.

#include "mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

#include "serialporthandler.h"

namespace {
const double speedStep = 0.01;                  // rad/s per slider step
const double fineAdjustRange = 0.7853981633974483; // pi/4 rad each way
}

// The two laser icons, read once: decoding an .ico from the resources takes
// milliseconds, which a click must not wait for (the window reads both while
// it is built).
const QIcon &MainWindow::laserIcon(bool on)
{
    static const QIcon icons[2] = {QIcon(QStringLiteral(":/images/laser off.ico")),
                                   QIcon(QStringLiteral(":/images/laser on.ico"))};
    return icons[on ? 1 : 0];
}

void MainWindow::handlerActionLaserTriggered()
{
    if (!m_serialPortHandler)
        return;
    laserOn = !laserOn;
    if (laserOn) {
        m_serialPortHandler->enqueue(EDM_Laserpointer, {1});
        m_ui.actionLaser->setIcon(laserIcon(true));
    } else {
        m_serialPortHandler->enqueue(EDM_Laserpointer, {0});
        m_ui.actionLaser->setIcon(laserIcon(false));
    }
    m_ui.actionLaser->setText(MainWindowUi::laserText(laserOn));
}

void MainWindow::handlerEdmModeChanged(int value)
{
    if (!m_serialPortHandler)
        return;
    const int mode = m_ui.edmModeCombo->itemData(value, Qt::UserRole).toInt();
    m_serialPortHandler->enqueue(TMC_SetEdmMode, {mode});
}

void MainWindow::handlerPushButtonPressed()
{
    if (!m_serialPortHandler)
        return;
    m_serialPortHandler->enqueue(MOT_StartController, {1});
    motorRunning = true;

    const double s = m_ui.speedSlider->value() * speedStep;
    double h = 0.0;
    double v = 0.0;
    QObject *button = sender();
    if (button == m_ui.upButton)
        v = -s;
    else if (button == m_ui.downButton)
        v = s;
    else if (button == m_ui.leftButton)
        h = -s;
    else if (button == m_ui.rightButton)
        h = s;
    m_serialPortHandler->enqueue(MOT_SetVelocity, {h, v});
}

void MainWindow::handlerPushButtonPeleased()
{
    // Closing the link stops the motor itself before it disables the
    // buttons, which releases a held one.
    const bool wasRunning = motorRunning;
    motorRunning = false;
    if (wasRunning && m_serialPortHandler)
        m_serialPortHandler->enqueue(MOT_StopController, {});
}

void MainWindow::handlerSliderChanged(int value)
{
    m_ui.speedValueLabel->setText(QString::number(value * speedStep, 'f', 2));
}

void MainWindow::handlerTrckButtonClick()
{
    if (m_serialPortHandler) {
        if (!trackingActive)
            m_serialPortHandler->enqueue(TMC_QuickDist, {});
        else
            m_serialPortHandler->enqueue(TMC_DoMeasure, {3, 1});
        trackingActive = !trackingActive;
    }
    // The click has toggled the button already; it shows the state.
    setTrackingState(trackingActive);
}

void MainWindow::setTrackingState(bool on)
{
    trackingActive = on;
    m_ui.trackingButton->setChecked(on);
    m_ui.trackingButton->setText(on ? tr("Stop") : tr("Tracking"));
}

void MainWindow::handlerLockButtonClick()
{
    if (!m_serialPortHandler)
        return;
    if (m_ui.captureButton->isChecked()) {
        m_serialPortHandler->enqueue(AUS_SetUserLockState, {1});
        m_ui.captureButton->setText(tr("To free"));
        m_serialPortHandler->enqueue(AUT_FineAdjust, {fineAdjustRange, fineAdjustRange, 0});
    } else {
        m_serialPortHandler->enqueue(AUS_SetUserLockState, {0});
        m_ui.captureButton->setText(tr("Capture"));
    }
}

void MainWindow::handlerAutoButtonClick()
{
    QMessageBox::information(this, tr("Not implemented"), tr("The control is not in use yet"),
                             QMessageBox::Ok);
}
