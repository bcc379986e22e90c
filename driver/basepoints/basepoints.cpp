#include "basepoints.h"

#include "basepointstable.h"
#include "geometry.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cfloat>
#include <cmath>

#include "client.h"
#include "dialogplacement.h"
#include "instrumenterrors.h"
#include "mainwindow.h"
#include "serialporthandler.h"

namespace {

const QString noResult = QStringLiteral("----");

QString fixed7(double value)
{
    return QString::number(value, 'f', 7);
}

} // namespace

BasePoints::BasePoints(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Base points"));

    m_table = new BasePointsTable(this);
    m_table->setObjectName(QStringLiteral("basePointsTable"));
    addColumns();

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setWidget(m_table);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->verticalScrollBar()->installEventFilter(this);

    connect(m_table, &BasePointsTable::resizeColumn, this, &BasePoints::resizeDialog);
    connect(m_table, &BasePointsTable::updateTableSignal, this, &BasePoints::resizeDialog);
    connect(m_table, &BasePointsTable::selected, this, [this] { setButtonsEnabled(true); });
    connect(m_table, &BasePointsTable::deselected, this, [this] { setButtonsEnabled(false); });

    m_measureButton = new QPushButton(tr("Measure"), this);
    m_measureButton->setObjectName(QStringLiteral("measureButton"));
    m_calculateButton = new QPushButton(tr("Calculate"), this);
    m_calculateButton->setObjectName(QStringLiteral("calculateButton"));
    m_okButton = new QPushButton(tr("Ok"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton *b : {m_measureButton, m_calculateButton, m_okButton, m_cancelButton})
        b->setFocusPolicy(Qt::NoFocus);
    connect(m_measureButton, &QPushButton::clicked, this, &BasePoints::onMeasureClicked);
    connect(m_calculateButton, &QPushButton::clicked, this, &BasePoints::onCalculateClicked);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    m_rmsLabel = new QLabel(tr("RMS:"), this);
    m_minLabel = new QLabel(tr("Min error:"), this);
    m_maxLabel = new QLabel(tr("Max error:"), this);
    m_rmsField = new QLineEdit(this);
    m_rmsField->setObjectName(QStringLiteral("rmsField"));
    m_minField = new QLineEdit(this);
    m_minField->setObjectName(QStringLiteral("minErrorField"));
    m_maxField = new QLineEdit(this);
    m_maxField->setObjectName(QStringLiteral("maxErrorField"));
    for (QLineEdit *f : {m_rmsField, m_minField, m_maxField})
        f->setReadOnly(true);
    fitLabelWidths();

    auto *row1 = new QHBoxLayout;
    row1->addWidget(m_rmsLabel);
    row1->addWidget(m_rmsField);
    row1->addStretch();
    m_rowsLabel = new QLabel(tr("Rows:"), this);
    m_rowsSpin = new QSpinBox(this);
    m_rowsSpin->setObjectName(QStringLiteral("rowsSpinBox"));
    row1->addWidget(m_rowsLabel);
    row1->addWidget(m_rowsSpin);
    connect(m_rowsSpin, QOverload<int>::of(&QSpinBox::valueChanged), this, &BasePoints::resizeDialog);
    m_rowsSpin->setMinimum(1);
    m_rowsSpin->setMaximum(2147483647);
    m_rowsSpin->setValue(10);
    const int fieldWidth = m_rmsField->sizeHint().width();
    for (QLineEdit *f : {m_rmsField, m_minField, m_maxField})
        f->setMaximumWidth(fieldWidth);

    auto *row2 = new QHBoxLayout;
    row2->addWidget(m_minLabel);
    row2->addWidget(m_minField);
    row2->addStretch();
    auto *row3 = new QHBoxLayout;
    row3->addWidget(m_maxLabel);
    row3->addWidget(m_maxField);
    row3->addStretch();
    m_stationLabel = new QLabel(this);
    m_stationLabel->setObjectName(QStringLiteral("stationLabel"));
    m_stationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_stationLabel->hide();

    auto *row4 = new QHBoxLayout;
    row4->addWidget(m_measureButton);
    row4->addWidget(m_calculateButton);
    auto *row5 = new QHBoxLayout;
    row5->addStretch();
    row5->addWidget(m_okButton);
    row5->addWidget(m_cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_scrollArea);
    layout->addLayout(row1);
    layout->addLayout(row2);
    layout->addLayout(row3);
    layout->addWidget(m_stationLabel);
    layout->addLayout(row4);
    layout->addLayout(row5);

    setButtonsEnabled(false);

    m_answerTimer = new QTimer(this);
    m_answerTimer->setSingleShot(true);
    connect(m_answerTimer, &QTimer::timeout, this, &BasePoints::noMatrixArrived);

    m_measureTimer = new QTimer(this);
    m_measureTimer->setSingleShot(true);
    connect(m_measureTimer, &QTimer::timeout, this, &BasePoints::noMeasurementArrived);
}

BasePoints::~BasePoints() = default;

void BasePoints::addColumns()
{
    m_table->addColumn(QStringLiteral("\u2116"));
    m_table->addColumn(tr("Name"));
    m_table->addColumn(tr("Used"));
    m_table->addColumn(tr("Weight"));
    m_table->addColumn(QStringLiteral("dX"));
    m_table->addColumn(QStringLiteral("dY"));
    m_table->addColumn(QStringLiteral("dZ"));
    m_table->addColumn(QStringLiteral("D"));
}

void BasePoints::fitLabelWidths()
{
    const int w = qMax(m_maxLabel->sizeHint().width(), m_minLabel->sizeHint().width());
    for (QLabel *l : {m_rmsLabel, m_minLabel, m_maxLabel})
        l->setFixedWidth(w);
}

void BasePoints::setButtonsEnabled(bool enabled)
{
    m_measureButton->setEnabled(enabled);
    m_calculateButton->setEnabled(enabled);
}

// The main window, unless it is being destroyed: its dialogs are hidden and
// deleted after the window's own part is gone, when its services must not
// be called any more.
static MainWindow *liveMainWindow()
{
    MainWindow *w = MainWindow::instance();
    return w ? qobject_cast<MainWindow *>(static_cast<QObject *>(w)) : nullptr;
}

static void logLine(const QString &text)
{
    if (MainWindow *w = liveMainWindow())
        w->appendLog(text);
    else
        qWarning("%s", qPrintable(text));
}

void BasePoints::addBasePoint(const MeasuringPoint &pt)
{
    auto *row = new BasePointRow;
    row->knownX = pt.x;
    row->knownY = pt.y;
    row->knownZ = pt.z;
    row->cells[NumberColumn] = new TextCell(QString("%1").arg(m_table->rows.size() + 1));
    row->cells[NameColumn] = new TextCell(pt.pointName);
    row->cells[UsedColumn] = new CheckBoxCell(true);
    row->cells[WeightColumn] = new EditCell(QStringLiteral("1"), m_table);
    for (int c = DXColumn; c <= DColumn; ++c)
        row->cells[c] = new TextCell(noResult);
    m_table->addRow(row);
}

void BasePoints::setMeasuredPoint(const MeasuringPoint &pt)
{
    // Only the answer to the distance measurement that Measure asked for
    // fills a row; tracking and poll distances never do.
    if (!m_table->measuring) {
        logLine(QStringLiteral("Base point measurement not asked for by Measure ignored: x %1, y %2, z %3")
                    .arg(fixed7(pt.x), fixed7(pt.y), fixed7(pt.z)));
        return;
    }
    m_measureTimer->stop();
    setMeasuring(false);

    BasePointRow *row = m_table->currentRow;
    if (!row) {
        // The selection was cleared while the measurement was on its way:
        // there is no row to store it in, and nothing to measure next.
        logLine(QStringLiteral("Base point measurement without a selected row ignored: x %1, y %2, z %3")
                    .arg(fixed7(pt.x), fixed7(pt.y), fixed7(pt.z)));
        m_measureButton->setEnabled(false);
        m_table->update();
        return;
    }
    if (row->selected)
        m_table->toggleSelection(row);
    row->measured = true;
    for (Cell *cell : row->cells) {
        if (cell)
            cell->background = basePointMeasuredColor();
    }
    row->measuredX = pt.x;
    row->measuredY = pt.y;
    row->measuredZ = pt.z;

    const int n = m_table->rows.size();
    int measuredCount = 0;
    for (const BasePointRow *r : m_table->rows)
        measuredCount += r->measured ? 1 : 0;

    if (measuredCount < n) {
        int pos = row->position;
        for (int step = 0; step < n; ++step) {
            pos = (pos + 1) % n;
            BasePointRow *next = m_table->rows[pos];
            if (!next->measured) {
                m_table->toggleSelection(next);
                m_table->currentRow = next;
                break;
            }
        }
        m_measureButton->setEnabled(true);
        m_table->update();
    } else {
        // Nothing is selected any more, so there is nothing to measure;
        // Calculate stays as it was.
        m_table->currentRow = nullptr;
        m_measureButton->setEnabled(false);
        m_table->update();
        QMessageBox::information(this, tr("Information"), tr("All basepoints have been measured"),
                                 QMessageBox::Ok);
    }
}

void BasePoints::onMeasureClicked()
{
    if (m_table->measuring || !m_table->currentRow)
        return;
    MainWindow *w = liveMainWindow();
    SerialPortHandler *handler = w && w->instrumentLinkRunning() ? w->serialPortHandler() : nullptr;
    if (!handler) {
        QMessageBox::critical(this, tr("Error"),
                              tr("There is no connection to the instrument: nothing was measured"),
                              QMessageBox::Ok);
        return;
    }
    setMeasuring(true);
    m_measureButton->setEnabled(false);
    // The link gives up on a silent instrument by itself and says so; this
    // bound only keeps the dialog from waiting for ever if nothing comes.
    m_measureTimer->start(m_measureTimeoutMs > 0 ? m_measureTimeoutMs
                                                 : 2 * handler->replyTimeout() + 5000);
    handler->enqueue(BAP_MeasDistanceAngle, QList<QVariant>() << QVariant(2));
}

bool BasePoints::isMeasuring() const
{
    return m_table->measuring;
}

void BasePoints::setMeasuring(bool on)
{
    if (m_table->measuring == on)
        return;
    m_table->measuring = on;
    emit measuringChanged();
}

void BasePoints::endMeasuring()
{
    m_measureTimer->stop();
    // The row stays as it was: unmeasured and, if still selected, ready for
    // another Measure.
    m_measureButton->setEnabled(m_table->currentRow != nullptr);
    m_table->update();
    setMeasuring(false);
}

bool BasePoints::measurementFailed(const QString &reason, int returnCode)
{
    if (!m_table->measuring)
        return false;
    endMeasuring();
    QString text = tr("%1: nothing was measured").arg(InstrumentErrors::explained(returnCode, reason));
    const QString advice = InstrumentErrors::advice(returnCode);
    if (!advice.isEmpty())
        text += QStringLiteral(". ") + advice;
    logLine(text);
    if (isVisible())
        QMessageBox::warning(this, tr("Error"), text, QMessageBox::Ok);
    return true;
}

void BasePoints::noMeasurementArrived()
{
    if (!m_table->measuring)
        return;
    const int seconds = (m_measureTimer->interval() + 999) / 1000;
    measurementFailed(tr("The instrument has not answered within %1 s").arg(seconds));
}

namespace {

// A weight the server can solve with: a finite number above 0, "," read as
// the decimal point.
bool readWeight(QString text, double *value)
{
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    *value = text.toDouble(&ok);
    if (!ok)
        *value = 0.0;
    return ok && std::isfinite(*value) && *value > 0.0;
}

} // namespace

int BasePoints::collectRequest(QVector<MeasuringPoint> &measuredPoints,
                               QVector<MeasuringPoint> &knownPoints, QVector<double> &weights,
                               QStringList *badWeights) const
{
    measuredPoints.clear();
    knownPoints.clear();
    weights.clear();
    if (badWeights)
        badWeights->clear();
    int measuredRows = 0;
    for (const BasePointRow *row : m_table->rows) {
        if (!row->measured)
            continue;
        ++measuredRows;
        const CheckBoxCell *used = row->usedCell();
        if (!used || !used->checked)
            continue;
        MeasuringPoint m;
        m.x = row->measuredX;
        m.y = row->measuredY;
        m.z = row->measuredZ;
        measuredPoints.append(m);
        MeasuringPoint k;
        k.x = row->knownX;
        k.y = row->knownY;
        k.z = row->knownZ;
        knownPoints.append(k);
        // One weight per participating row, in step with the point lists.
        const EditCell *weight = row->weightCell();
        double value = 0.0;
        if (!readWeight(weight ? weight->text : QString(), &value) && badWeights) {
            const TextCell *name = row->textCell(NameColumn);
            const TextCell *number = row->textCell(NumberColumn);
            *badWeights << (name && !name->text.isEmpty() ? name->text
                                                          : QStringLiteral("\u2116 ") + (number ? number->text : QString()));
        }
        weights.append(value);
    }
    return measuredRows;
}

void BasePoints::onCalculateClicked()
{
    QVector<MeasuringPoint> measuredPoints;
    QVector<MeasuringPoint> knownPoints;
    QVector<double> weights;
    QStringList badWeights;
    const int measuredRows = collectRequest(measuredPoints, knownPoints, weights, &badWeights);

    if (measuredRows < 3) {
        QMessageBox::critical(this, tr("Error"), tr("It is necessary to measure more than two points"),
                              QMessageBox::Ok);
        return;
    }
    if (measuredPoints.size() < 3) {
        QMessageBox::critical(this, tr("Error"),
                              tr("More than two points must be included in the calculation"),
                              QMessageBox::Ok);
        return;
    }
    if (!badWeights.isEmpty()) {
        QMessageBox::critical(this, tr("Error"),
                              tr("A weight must be a number greater than 0. Correct the weight, or "
                                 "clear the Used box to leave the point out: %1")
                                  .arg(badWeights.join(QStringLiteral(", "))),
                              QMessageBox::Ok);
        return;
    }
    MainWindow *w = liveMainWindow();
    Client *client = w && w->serverLinkRunning() ? w->client() : nullptr;
    if (!client) {
        QMessageBox::critical(this, tr("Error"),
                              tr("There is no connection to the server: nothing was calculated"),
                              QMessageBox::Ok);
        return;
    }
    // A refusal of the link itself (too many points) reaches the operator
    // through the main window.
    if (client->sendBasePointSet(measuredPoints, knownPoints, weights))
        m_answerTimer->start(m_answerTimeoutMs);
}

bool BasePoints::isAwaitingMatrix() const
{
    return m_answerTimer->isActive();
}

void BasePoints::noMatrixArrived()
{
    QMessageBox::warning(this, tr("Error"),
                         tr("No station matrix has come from the server within %1 s: the server "
                            "could not solve with these points or does not answer")
                             .arg((m_answerTimeoutMs + 999) / 1000),
                         QMessageBox::Ok);
}

void BasePoints::updateResiduals()
{
    m_answerTimer->stop();

    // The summary is over the rows that took part: measured and used. Rows
    // left out still show their deviations from the solution of the others.
    int counted = 0;
    double sumSquares = 0.0;
    double minD = DBL_MAX;
    double maxD = 0.0;

    for (BasePointRow *row : m_table->rows) {
        if (!row->measured) {
            // Nothing measured, nothing to compare: the row keeps "----".
            for (int c = DXColumn; c <= DColumn; ++c) {
                if (TextCell *t = row->textCell(c))
                    t->text = noResult;
            }
            continue;
        }
        double X = 0.0, Y = 0.0, Z = 0.0;
        mapWithStationMatrix(row->measuredX, row->measuredY, row->measuredZ, X, Y, Z);
        const double dX = row->knownX - X;
        const double dY = row->knownY - Y;
        const double dZ = row->knownZ - Z;
        const double D = std::sqrt(dX * dX + dY * dY + dZ * dZ);
        const CheckBoxCell *used = row->usedCell();
        if (used && used->checked) {
            ++counted;
            sumSquares += D * D;
            minD = std::min(minD, D);
            maxD = std::max(maxD, D);
        }
        const double values[4] = {dX, dY, dZ, D};
        for (int i = 0; i < 4; ++i) {
            if (TextCell *t = row->textCell(DXColumn + i))
                t->text = fixed7(values[i]);
        }
    }

    logStationMatrix();
    m_table->updateColumnWidths();
    m_table->update();
    emit m_table->updateTableSignal();

    if (counted == 0) {
        m_rmsField->clear();
        m_minField->clear();
        m_maxField->clear();
    } else {
        m_rmsField->setText(fixed7(std::sqrt(sumSquares / counted)));
        m_minField->setText(fixed7(minD));
        m_maxField->setText(fixed7(maxD));
    }
    if (stationMatrixReceived()) {
        showStation();
        logLine(m_stationLabel->text().replace(QLatin1Char('\n'), QStringLiteral("; ")));
    }

    m_table->updateColumnWidths();
    m_table->update();
    emit m_table->updateTableSignal();
}

void BasePoints::resizeDialog()
{
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    QScrollBar *bar = m_scrollArea->verticalScrollBar();
    const int frame = m_scrollArea->frameWidth();
    const int w = m_table->sizeHint().width() + (bar->isVisible() ? bar->width() : 0) + 2 * frame;
    m_scrollArea->setMinimumWidth(w);

    int h;
    if (m_table->rows.size() > m_rowsSpin->value())
        h = m_rowsSpin->value() * m_table->rowHeight + m_table->headerHeight;
    else
        h = m_table->sizeHint().height() + 2 * frame;
    m_scrollArea->setFixedHeight(h);

    adjustSize();
    setFixedSize(size());
    if (isVisible() && parentWidget())
        keepOnScreen(this, parentWidget());
}

void BasePoints::showStation()
{
    if (!stationMatrixReceived())
        return;
    const StationPose pose = stationPose();
    const double toDegrees = 57.29577951308232;
    const double toGon = 63.66197723675813;
    QStringList lines;
    lines << tr("Station: E/X = %1 m, N/Y = %2 m, height = %3 m")
                 .arg(QString::number(pose.x, 'f', 3), QString::number(pose.y, 'f', 3),
                      QString::number(pose.z, 'f', 3))
          << tr("Orientation (the direction of Hz = 0 from the X axis towards Y): %1° = %2 gon")
                 .arg(QString::number(pose.orientation * toDegrees, 'f', 4),
                      QString::number(pose.orientation * toGon, 'f', 4));
    // A fit with the scale held at 1 leaves it at 1 to rounding.
    if (std::fabs(pose.scale - 1.0) > 1e-9)
        lines << tr("Scale: %1 (%2 ppm)")
                     .arg(QString::number(pose.scale, 'f', 8),
                          QString::number((pose.scale - 1.0) * 1e6, 'f', 1));
    m_stationLabel->setText(lines.join(QLatin1Char('\n')));
    m_stationLabel->show();
}

bool BasePoints::eventFilter(QObject *object, QEvent *event)
{
    if (m_scrollArea && object == m_scrollArea->verticalScrollBar()
        && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        resizeDialog();
    return QDialog::eventFilter(object, event);
}

void BasePoints::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (BasePointRow *row = m_table->currentRow) {
        if (row->selected)
            m_table->toggleSelection(row);
        m_table->currentRow = nullptr;
        setButtonsEnabled(false);
        m_table->update();
    }
    if (m_table->editing && m_table->activeEditor)
        emit m_table->activeEditor->editingFinished();
}

void BasePoints::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    resizeDialog();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_table->stretchColumns(m_scrollArea->width());
    resizeDialog();
    if (QWidget *p = parentWidget())
        placeBeside(this, p);
    // Measurements are base points while the dialog is shown, whatever link
    // runs now or later.
    if (MainWindow *w = liveMainWindow())
        w->setBasePointMode(true);
}

void BasePoints::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (MainWindow *w = liveMainWindow())
        w->setBasePointMode(false);
}

void BasePoints::retranslate()
{
    setWindowTitle(tr("Base points"));
    m_table->headers.clear();
    addColumns();
    m_table->updateColumnWidths();
    m_measureButton->setText(tr("Measure"));
    m_calculateButton->setText(tr("Calculate"));
    m_okButton->setText(tr("Ok"));
    m_cancelButton->setText(tr("Cancel"));
    m_rmsLabel->setText(tr("RMS:"));
    m_minLabel->setText(tr("Min error:"));
    m_maxLabel->setText(tr("Max error:"));
    fitLabelWidths();
    m_rowsLabel->setText(tr("Rows:"));
    showStation();
    resizeDialog();
}
