// Main window: the measurement sequence, the instrument reply dispatch, the
// server's naming answers and the session-name conflict.

#include "mainwindow.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#include "basepoints.h"
#include "client.h"
#include "geometry.h"
#include "serialporthandler.h"

namespace {
const QString defaultPointName = QStringLiteral("default_point_name");
}

void MainWindow::handlerTimeout()
{
    // Neither request waits for the link: while it is busy they are dropped.
    if (!instrumentLinkRunning())
        return;
    m_serialPortHandler->enqueue(TMC_GetAngle5, {1});
    m_serialPortHandler->enqueue(CSV_GetIntTemp, {});
}

void MainWindow::handlerMeasButtonClick()
{
    // One measurement at a time: its answer names the point.
    if (!instrumentLinkRunning() || isMeasuring())
        return;

    if (basePointMode) {
        // The dialog asks for the measurement, so that its answer is taken
        // for the selected row.
        if (basePointSelected)
            m_basePoints->onMeasureClicked();
        else
            QMessageBox::critical(this, tr("Measurement error"),
                                  tr("The base point for the measurement is not selected"),
                                  QMessageBox::Ok);
        return;
    }

    // Without the server the point is measured all the same and kept in
    // the journal as unsent.
    if (!serverLinkRunning()) {
        const QString text = tr("There is no connection to the server");
        showStatus(text);
        appendLog(text);
        m_serialPortHandler->enqueue(BAP_MeasDistanceAngle, {2});
        m_distanceAwaited = true;
        refreshMeasureButton();
        return;
    }

    measurePending = true;
    const QString session = m_ui.sessionEdit->text().trimmed();
    if (session == m_client->sessionNameValue()) {
        measureAfterSessionConfirmed();
    } else {
        m_client->sendSessionName(session);
        m_sessionTimer->start(m_sessionTimeoutMs);
        refreshMeasureButton();
    }
}

void MainWindow::sessionNotConfirmed()
{
    if (!measurePending)
        return;
    measurePending = false;
    const QString text = tr("The server has not accepted the session name %1 within %2 s: nothing "
                            "was measured")
                             .arg(m_ui.sessionEdit->text().trimmed())
                             .arg((m_sessionTimeoutMs + 999) / 1000);
    showStatus(text);
    appendLog(text);
    refreshMeasureButton();
}

void MainWindow::measureAfterSessionConfirmed()
{
    if (!measurePending || !instrumentLinkRunning())
        return;
    m_sessionTimer->stop();
    m_serialPortHandler->enqueue(BAP_MeasDistanceAngle, {2});
    measurePending = false;
    m_distanceAwaited = true;
    refreshMeasureButton();
    // A single measurement ends the instrument's tracking; tracking started
    // from the Tracking button goes on right after it (the link clears the
    // distance in between, so tracking does not file it again).
    if (trackingActive)
        m_serialPortHandler->enqueue(TMC_QuickDist, {});
}

MeasuringPoint MainWindow::pointFromFields(double hz, double v, double d) const
{
    MeasuringPoint pt;
    pt.sessionName = m_ui.sessionEdit->text().trimmed();
    pt.groupName = m_ui.groupEdit->text().trimmed();
    pt.pointName = m_ui.pointNameEdit->text().trimmed();
    polarToCartesian(hz, v, d, pt.x, pt.y, pt.z);
    return pt;
}

void MainWindow::handlerResponseReceived(QPair<RPC, QVariant> pair)
{
    switch (pair.first) {
    case CSV_GetInstrumentNo:
        serialNumber = pair.second.toInt();
        m_ui.serialNumberLabel->setText(tr("Serial number: %1").arg(serialNumber, 0, 10, QChar(' ')));
        break;
    case CSV_GetInstrumentName:
        instrumentName = pair.second.toString();
        m_ui.deviceInfoLabel->setText(tr("Device Name: %1").arg(instrumentName, 0, QChar(' ')));
        break;
    case CSV_GetIntTemp:
        m_ui.temperatureLabel->setText(tr("Device temperature: %1 %2")
                                           .arg(pair.second.toString(), 0, QChar(' '))
                                           .arg(QStringLiteral("°C"), 0, QChar(' ')));
        break;
    case TMC_SetEdmMode:
        appendLog(tr("EDM mode is selected on the device: %1")
                      .arg(m_ui.edmModeCombo->currentText(), 0, QChar(' ')));
        break;
    case TMC_GetEdmMode: {
        const int mode = pair.second.toInt();
        m_ui.edmModeCombo->setCurrentIndex(mode >= 1 && mode <= m_ui.edmModeCombo->count() ? mode - 1 : -1);
        appendLog(tr("EDM mode is selected on the device: %1")
                      .arg(m_ui.edmModeCombo->currentText(), 0, QChar(' ')));
        break;
    }
    case TMC_GetAngle5: {
        const TMC_HZ_V_ANG a = qvariant_cast<TMC_HZ_V_ANG>(pair.second);
        m_ui.xEdit->setText(formatAngle(a.hzAngle));
        m_ui.yEdit->setText(formatAngle(a.vAngle));
        break;
    }
    case TMC_GetSimpleMea: {
        const GetSimpleMea m = qvariant_cast<GetSimpleMea>(pair.second);
        showSlopeDistance(m.slopeDistance);
        sendMeasuredPoint(m.hzAngle, m.vAngle, m.slopeDistance);
        break;
    }
    case BAP_MeasDistanceAngle: {
        const MeasDistanceAngle m = qvariant_cast<MeasDistanceAngle>(pair.second);
        m_distanceAwaited = false;
        refreshMeasureButton();
        showSlopeDistance(m.slopeDistance);
        sendMeasuredPoint(m.hzAngle, m.vAngle, m.slopeDistance);
        break;
    }
    default:
        break;
    }
}

void MainWindow::handlerReceivedBasePoint(QPair<RPC, QVariant> pair)
{
    // Only a distance measurement is a base point; the distances that the
    // poll and tracking deliver are neither stored nor sent while the dialog
    // is open.
    if (pair.first != BAP_MeasDistanceAngle)
        return;
    const MeasDistanceAngle m = qvariant_cast<MeasDistanceAngle>(pair.second);
    showSlopeDistance(m.slopeDistance);
    m_basePoints->setMeasuredPoint(pointFromFields(m.hzAngle, m.vAngle, m.slopeDistance));
}

void MainWindow::handlerBasePointFailed(int code, const QString &text)
{
    const QString message = takeFailureMessage(text);
    if (!m_basePoints->measurementFailed(text, code))
        showCommandError(message);
}

void MainWindow::showSlopeDistance(double d)
{
    m_ui.zEdit->setText(QString::number(d, 'f', 3));
}

void MainWindow::showMeasurementInfo(const QString &sessionName, const QString &groupName,
                                     const QString &pointName, const QString &deviceName)
{
    const QString current = m_ui.pointNameEdit->text().trimmed();
    QString shown;
    if (current.isEmpty())
        shown = QStringLiteral("point");
    else if (pointName == defaultPointName)
        shown = current;
    else if (!idsAwaitingAnswer().isEmpty())
        // A later point still waits for its answer: this proposal follows
        // an older point than the field's name, which was already advanced.
        shown = current;
    else
        shown = pointName;

    m_ui.sessionEdit->setText(sessionName);
    m_ui.groupEdit->setText(groupName);
    m_ui.pointNameEdit->setText(shown);
    m_ui.deviceNameEdit->setText(deviceName);
    m_ui.deviceNameEdit->setReadOnly(true);
    fitFieldWidths({{m_ui.sessionEdit, sessionName},
                    {m_ui.groupEdit, groupName},
                    {m_ui.pointNameEdit, shown},
                    {m_ui.deviceNameEdit, deviceName}});
}

void MainWindow::setSessionField(const QString &name)
{
    m_ui.sessionEdit->setText(name);
    fitFieldWidths({{m_ui.sessionEdit, name}});
}

void MainWindow::setGroupField(const QString &name)
{
    m_ui.groupEdit->setText(name);
    fitFieldWidths({{m_ui.groupEdit, name}});
}

void MainWindow::setPointField(const QString &name)
{
    m_ui.pointNameEdit->setText(name);
    fitFieldWidths({{m_ui.pointNameEdit, name}});
}

void MainWindow::handlerErrorClient(ErrorInfo info)
{
    QMessageBox box(this);
    box.setWindowTitle(info.title);
    box.setText(info.text);
    box.setStandardButtons(info.buttons);
    switch (info.kind) {
    case -1:
        box.setIcon(QMessageBox::Critical);
        break;
    case 0:
        box.setIcon(QMessageBox::Information);
        break;
    case 1:
    case 2:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    // The operator's answer is not bounded in time.
    if (info.kind == ErrorInfo::SessionConflict)
        m_sessionTimer->stop();
    const int answer = box.exec();

    if (info.kind != ErrorInfo::SessionConflict)
        return;

    const QString proposed = info.args.value(0);
    QString name;
    if (answer == QMessageBox::Yes) {
        name = proposed;
    } else {
        bool ok = false;
        const QString typed = QInputDialog::getText(
            this, tr("Session"),
            tr("Enter the session name (otherwise the name will be %1)").arg(proposed, 0, QChar(' ')),
            QLineEdit::Normal, QString(), &ok);
        name = ok && !typed.trimmed().isEmpty() ? typed.trimmed() : proposed;
    }

    // The new name waits for its confirmation as the first one did.
    if (measurePending)
        m_sessionTimer->start(m_sessionTimeoutMs);
    // The link may have ended while the operator was answering.
    if (!serverLinkRunning()) {
        setSessionField(name);
        return;
    }
    m_client->sendSessionName(name);
    setSessionField(name);
    m_client->setSessionName(name);
}
