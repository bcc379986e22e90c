#pragma once
// The dialog in which the operator measures the base points sent by the CAD
// server, asks the server for the station matrix and reads the deviations.
// GUI thread only.

#include <QDialog>

#include <QStringList>
#include <QVector>

#include "types.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTimer;
class BasePointsTable;

class BasePoints : public QDialog
{
    Q_OBJECT

public:
    explicit BasePoints(QWidget *parent = nullptr);
    ~BasePoints() override;

    // A base point sent by the server: appends a row.
    void addBasePoint(const MeasuringPoint &pt);
    // A base point measured in base-point mode: stored in the current row,
    // then the next unmeasured row is selected.
    void setMeasuredPoint(const MeasuringPoint &pt);
    // Maps the measured coordinates through the station matrix and shows the
    // deviations from the known coordinates and their summary.
    void updateResiduals();
    void retranslate();

    // The distance measurement that Measure asked for failed: the instrument
    // answered `returnCode` or nothing, or its link closed; `reason` is what
    // the link or the main window said. Ends the wait, leaves the row
    // unmeasured and selected and Measure usable, and tells the operator
    // (log, and a message box while the dialog is shown). Returns false,
    // changing nothing, when no measurement was pending.
    bool measurementFailed(const QString &reason, int returnCode = 0);

    // How long Measure waits for the instrument's answer before it says
    // that none came, in ms; 0 (the default) takes twice the link's bound
    // for a distance plus 5 s, so the link reports its own time-out first.
    void setMeasureTimeout(int ms) { m_measureTimeoutMs = ms; }

    // The request Calculate sends: per measured row with Used checked, in
    // display order, its measured point, its known point and its weight (the
    // Weight text with "," read as "."; not a number gives 0.0). Returns the
    // number of measured rows, used or not. badWeights, when given, receives
    // the names of the used rows whose weight is not a number above 0, which
    // Calculate refuses to send: the server cannot solve with them.
    int collectRequest(QVector<MeasuringPoint> &measuredPoints, QVector<MeasuringPoint> &knownPoints,
                       QVector<double> &weights, QStringList *badWeights = nullptr) const;

    // How long Calculate waits for the server's matrix before it says that
    // none came, in ms (default 10 s).
    void setAnswerTimeout(int ms) { m_answerTimeoutMs = ms; }
    bool isAwaitingMatrix() const;

    BasePointsTable *table() const { return m_table; }

    // From Measure until the measurement arrives or fails.
    bool isMeasuring() const;

signals:
    // isMeasuring() changed.
    void measuringChanged();

public slots:
    void onMeasureClicked();
    void onCalculateClicked();
    void resizeDialog();

protected:
    bool eventFilter(QObject *object, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void addColumns();
    void fitLabelWidths();
    void setButtonsEnabled(bool enabled);
    void noMatrixArrived();
    void endMeasuring();
    void noMeasurementArrived();
    void setMeasuring(bool on);
    // The station of the last matrix: position, orientation, scale.
    void showStation();

    BasePointsTable *m_table = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QPushButton *m_measureButton = nullptr;
    QPushButton *m_calculateButton = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_rmsLabel = nullptr;
    QLabel *m_minLabel = nullptr;
    QLabel *m_maxLabel = nullptr;
    QLabel *m_rowsLabel = nullptr;
    QLineEdit *m_rmsField = nullptr;
    QLineEdit *m_minField = nullptr;
    QLineEdit *m_maxField = nullptr;
    QSpinBox *m_rowsSpin = nullptr;
    QLabel *m_stationLabel = nullptr; // hidden until a matrix arrives
    QTimer *m_answerTimer = nullptr;
    int m_answerTimeoutMs = 10000;
    QTimer *m_measureTimer = nullptr;
    int m_measureTimeoutMs = 0;

};
