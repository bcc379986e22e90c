// Main window: the observation journal. Every measured point is written to
// the journal before it is handed to the server link; the server's answers
// and the end of a connection record its delivery; after a connection the
// points the server has not confirmed are offered for sending.

#include "mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPushButton>
#include <QtConcurrent>

#include "client.h"
#include "geometry.h"
#include "journal.h"
#include "pointname.h"
#include "unsentpoints.h"

#include <algorithm>

void MainWindow::setUpJournal()
{
    m_journal = new Journal(QString(), this);
    connect(m_journal, &Journal::writeFailed, this, [this](const QString &text) {
        showStatus(text);
        appendLog(text);
    });
    connect(m_ui.actionSendUnsent, &QAction::triggered, this, [this] { offerUnsentPoints(false); });
    m_unsentWatcher = new QFutureWatcher<UnsentPoints>(this);
    connect(m_unsentWatcher, &QFutureWatcher<UnsentPoints>::finished, this,
            &MainWindow::unsentPointsCollected);
}

void MainWindow::logPoint(const MeasuringPoint &pt, bool sent)
{
    QString line = tr("%1 / %2 / %3: x = %4, y = %5, z = %6, %7")
                       .arg(pt.sessionName, pt.groupName, pt.pointName, QString::number(pt.x, 'f', 3),
                            QString::number(pt.y, 'f', 3), QString::number(pt.z, 'f', 3),
                            sent ? tr("sent to the server") : tr("not sent, kept in the journal"));
    // Once the station is known, also where the point lies among the base
    // points; the server still gets the instrument's own x, y, z.
    if (stationMatrixReceived()) {
        double x = 0.0, y = 0.0, z = 0.0;
        mapWithStationMatrix(pt.x, pt.y, pt.z, x, y, z);
        line += tr("; in the base points' frame: X = %1, Y = %2, Z = %3")
                    .arg(QString::number(x, 'f', 3), QString::number(y, 'f', 3),
                         QString::number(z, 'f', 3));
    }
    appendLog(line);
}

void MainWindow::logUnsentPoint(const MeasuringPoint &pt)
{
    logPoint(pt, false);
}

void MainWindow::sendMeasuredPoint(double hz, double v, double d)
{
    const MeasuringPoint pt = pointFromFields(hz, v, d);
    // The next point gets the next name at once, answered or not; the
    // server's proposal replaces it when it comes.
    setPointField(nextPointName(pt.pointName));
    const bool linked = serverLinkRunning();
    const int edmMode = m_ui.edmModeCombo->currentData().toInt();
    // On disk (as far as the operating system) before the link has it.
    const QString id = m_journal->appendPoint(pt, hz, v, d, edmMode,
                                              linked ? JournalState::Sent : JournalState::Unsent);
    if (m_collecting)
        m_measuredWhileCollecting.insert(id);
    const bool sent = linked && m_client->sendPoint(pt);
    if (sent) {
        m_deliveries[m_connection].handed(id, pt, false);
        logPoint(pt, true);
        return;
    }
    if (linked)
        m_journal->appendState(id, pt, JournalState::Unsent);
    logUnsentPoint(pt);
}

void MainWindow::pointAnswered(int connection, const QString &sessionName, const QString &groupName,
                               const QString &pointName, const QString &deviceName)
{
    DeliveryQueue::Entry entry;
    bool known = false;
    const auto waiting = m_deliveries.find(connection);
    if (waiting != m_deliveries.end())
        known = waiting->answered(&entry);
    else if (connection == m_endedConnection)
        known = m_endedDelivery.answered(&entry);   // came in after the link ended
    if (known)
        m_journal->appendState(entry.id, entry.point, JournalState::Confirmed);

    // An old point's names are not the next point's (the link keeps its
    // own names for the same reason).
    if (known && entry.resent)
        return;
    showMeasurementInfo(sessionName, groupName, pointName, deviceName);
}

void MainWindow::serverLinkEnded(int connection)
{
    // A link closed by Disconnect may finish after the next one started:
    // each connection's points are its own.
    const QVector<DeliveryQueue::Entry> lost = m_deliveries.take(connection).takeAll();
    if (lost.isEmpty())
        return;
    m_endedDelivery = DeliveryQueue();
    m_endedConnection = connection;
    for (const DeliveryQueue::Entry &e : lost) {
        m_journal->appendState(e.id, e.point, JournalState::Unsent);
        m_endedDelivery.handed(e.id, e.point, e.resent);
    }
    appendLog(tr("Points not confirmed by the server, kept as unsent in the journal: %1").arg(lost.size()));
}

void MainWindow::offerUnsentPoints(bool afterConnecting)
{
    if (!serverLinkRunning()) {
        if (!afterConnecting)
            showStatus(tr("There is no connection to the server"));
        return;
    }
    if (m_collecting) {
        // The menu's request also takes the skipped points: it follows.
        if (!afterConnecting && m_collectingAfterConnecting)
            m_menuRequestWaiting = true;
        return;
    }
    // Points of links still running or closing may yet be answered.
    const QSet<QString> inFlight = idsAwaitingAnswer();
    m_collecting = true;
    m_collectingAfterConnecting = afterConnecting;
    m_measuredWhileCollecting.clear();
    const QString folder = m_journal->folder();
    const bool includeSkipped = !afterConnecting;
    m_unsentWatcher->setFuture(QtConcurrent::run([folder, inFlight, includeSkipped] {
        return collectUnsentPoints(folder, inFlight, includeSkipped);
    }));
}

QSet<QString> MainWindow::idsAwaitingAnswer() const
{
    QSet<QString> ids;
    for (const DeliveryQueue &q : m_deliveries)
        ids.unite(q.ids());
    return ids;
}

void MainWindow::unsentPointsCollected()
{
    m_collecting = false;
    const bool afterConnecting = m_collectingAfterConnecting;
    if (m_menuRequestWaiting) {
        m_menuRequestWaiting = false;
        offerUnsentPoints(false);
        return;
    }
    UnsentPoints unsent = m_unsentWatcher->result();
    for (const QString &line : unsent.damaged)
        appendLog(line);
    // What was handed or measured while the files were read may be read as
    // sent: it is not offered.
    QSet<QString> handed = idsAwaitingAnswer();
    handed.unite(m_measuredWhileCollecting);
    m_measuredWhileCollecting.clear();
    unsent.points.erase(std::remove_if(unsent.points.begin(), unsent.points.end(),
                                       [&](const JournalRecord &r) { return handed.contains(r.id); }),
                        unsent.points.end());
    // The link may have ended meanwhile.
    if (!serverLinkRunning()) {
        if (!afterConnecting)
            showStatus(tr("There is no connection to the server"));
        return;
    }
    if (unsent.points.isEmpty()) {
        if (!afterConnecting)
            showStatus(tr("The journal holds no unsent points"));
        return;
    }

    QMessageBox box(this);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(tr("Unsent points"));
    // Names are the operator's text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(unsentOfferText(unsent));
    box.setInformativeText(tr("Skipped points are not offered again after a connection. "
                              "Connection > Send unsent points... offers every one of them."));
    QPushButton *send = box.addButton(tr("Send"), QMessageBox::AcceptRole);
    QPushButton *skip = box.addButton(tr("Skip"), QMessageBox::DestructiveRole);
    QPushButton *later = box.addButton(tr("Later"), QMessageBox::RejectRole);
    box.setDefaultButton(later);
    box.setEscapeButton(later);
    box.exec();

    if (box.clickedButton() == send) {
        sendAgain(unsent.points);
    } else if (box.clickedButton() == skip) {
        for (const JournalRecord &r : unsent.points)
            m_journal->appendState(r.id, r.point, JournalState::Skipped);
        appendLog(tr("Unsent points skipped: %1").arg(unsent.points.size()));
    }
}

QString MainWindow::unsentOfferText(const UnsentPoints &unsent) const
{
    const int shownAtMost = 20;
    const auto name = [this](const QString &n) { return n.isEmpty() ? tr("(none)") : n; };
    // "sent" or unsent after a link ended unanswered: the server may have it.
    QStringList lines{tr("Points in the journal not confirmed by the server: %1. Send them now?")
                          .arg(unsent.points.size()),
                      QString()};
    int flagged = 0;
    for (const JournalRecord &r : unsent.points) {
        const bool shared = unsent.sharedNames.contains(r.id);
        flagged += shared ? 1 : 0;
        if (lines.size() - 2 >= shownAtMost)
            continue;
        const QString when = r.timeUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString point = QStringLiteral("%1 / %2 / %3")
                                  .arg(name(r.point.sessionName), name(r.point.groupName),
                                       name(r.point.pointName));
        lines << (shared ? tr("%1, measured %2 (another point in the journal has this name in "
                              "this session and group)")
                         : tr("%1, measured %2"))
                     .arg(point, when);
    }
    if (unsent.points.size() > shownAtMost)
        lines << tr("and %1 more").arg(unsent.points.size() - shownAtMost);
    if (flagged > 0)
        lines << QString()
              << tr("Points sharing their session, group and name with another point in the "
                    "journal: %1. The server would file them under the same name.")
                     .arg(flagged);
    return lines.join(QLatin1Char('\n'));
}

void MainWindow::sendAgain(const QVector<JournalRecord> &points)
{
    int sent = 0;
    for (const JournalRecord &r : points) {
        // The link may have ended while the operator was deciding.
        if (!serverLinkRunning())
            break;
        m_journal->appendState(r.id, r.point, JournalState::Sent);
        if (m_client->sendPoint(r.point, true)) {
            m_deliveries[m_connection].handed(r.id, r.point, true);
            ++sent;
        } else {
            m_journal->appendState(r.id, r.point, JournalState::Unsent);
        }
    }
    appendLog(tr("Points sent again from the journal: %1 of %2").arg(sent).arg(points.size()));
}
