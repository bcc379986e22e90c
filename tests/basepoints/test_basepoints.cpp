// The base points dialog: sizing, the measuring walk, Calculate's checks and
// request, and the deviations shown after a station matrix arrives.

#include <QLineEdit>
#include <QMatrix4x4>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include "geometry.h"
#include "testsupport.h"

class TestBasePoints : public QObject
{
    Q_OBJECT

private:
    BasePoints *dialog = nullptr;
    BasePointsTable *table = nullptr;
    BoxCatcher *boxes = nullptr; // answers every message box with Ok

    QScrollArea *scrollArea() const { return dialog->findChild<QScrollArea *>(); }
    QPushButton *button(const char *name) const { return dialog->findChild<QPushButton *>(name); }
    QString field(const char *name) const { return dialog->findChild<QLineEdit *>(name)->text(); }

    void addRows(int n)
    {
        for (int i = 0; i < n; ++i)
            dialog->addBasePoint(point(QString("BP%1").arg(i + 1), 100 + i, 200 + i, 10 + i));
    }
    void selectRow(int index)
    {
        click(table, cellCentre(table, index, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[index]);
    }
    // The answer to a Measure that is pending (as after a click on Measure
    // with an instrument link).
    void answer(double x, double y, double z)
    {
        table->measuring = true;
        dialog->setMeasuredPoint(point(QString(), x, y, z));
    }
    // Stores a measurement in a row the way the measuring walk does.
    void measureRow(int index, double x, double y, double z)
    {
        if (table->currentRow != table->rows[index])
            selectRow(index);
        answer(x, y, z);
    }
    void setKnown(int index, double x, double y, double z)
    {
        table->rows[index]->knownX = x;
        table->rows[index]->knownY = y;
        table->rows[index]->knownZ = z;
    }

private slots:
    void initTestCase() { quietOffscreenSizeHints(); }
    void init()
    {
        basePointSelected = false;
        setStationMatrix(QMatrix4x4());
        dialog = new BasePoints;
        table = dialog->table();
        boxes = new BoxCatcher;
    }
    void cleanup()
    {
        delete boxes;
        delete dialog;
        dialog = nullptr;
    }

    void construction()
    {
        QCOMPARE(dialog->windowTitle(), QString("Base points"));
        QCOMPARE(table->headers.size(), 8);
        QStringList texts;
        for (const ColumnHeader &h : table->headers)
            texts << h.text;
        QCOMPARE(texts, QStringList({QString(QChar(0x2116)), "Name", "Used", "Weight", "dX", "dY", "dZ", "D"}));
        QVERIFY(!button("measureButton")->isEnabled());
        QVERIFY(!button("calculateButton")->isEnabled());
        QCOMPARE(button("okButton")->focusPolicy(), Qt::NoFocus);
        QVERIFY(dialog->findChild<QLineEdit *>("rmsField")->isReadOnly());
        QSpinBox *spin = dialog->findChild<QSpinBox *>("rowsSpinBox");
        QCOMPARE(spin->value(), 10);
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->maximum(), 2147483647);

        addRows(1);
        BasePointRow *row = table->rows[0];
        QCOMPARE(cellText(row, NumberColumn), QString("1"));
        QCOMPARE(cellText(row, NameColumn), QString("BP1"));
        QVERIFY(row->usedCell()->checked);
        QCOMPARE(row->weightCell()->text, QString("1"));
        for (int c = DXColumn; c <= DColumn; ++c)
            QCOMPARE(cellText(row, c), QString("----"));
        QCOMPARE(row->knownX, 100.0);
        QVERIFY(!row->measured);

        dialog->retranslate();
        QCOMPARE(table->headers.size(), 8);
        QCOMPARE(table->headers[1].text, QString("Name"));
    }

    void sizingWithRowCount()
    {
        addRows(3);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QScrollArea *area = scrollArea();
        const int frame = area->frameWidth();
        QCOMPARE(area->height(), table->sizeHint().height() + 2 * frame);
        QVERIFY(!area->verticalScrollBar()->isVisible());
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

        addRows(12);
        QCOMPARE(table->rows.size(), 15);
        QCOMPARE(area->height(), 10 * table->rowHeight + table->headerHeight);
        QTRY_VERIFY(area->verticalScrollBar()->isVisible());
        // The scroll bar's appearance widened the area by its width.
        QTRY_COMPARE(area->minimumWidth(),
                     table->sizeHint().width() + area->verticalScrollBar()->width() + 2 * frame);
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

        dialog->findChild<QSpinBox *>("rowsSpinBox")->setValue(20);
        QCOMPARE(area->height(), table->sizeHint().height() + 2 * frame);
        QTRY_VERIFY(!area->verticalScrollBar()->isVisible());
        QTRY_COMPARE(area->minimumWidth(), table->sizeHint().width() + 2 * frame);
    }

    void showStaysOnTheScreenAndStretches()
    {
        QWidget parent;
        parent.setGeometry(100, 100, 1400, 900);
        auto *d = new BasePoints(&parent);
        d->addBasePoint(point("A", 1, 2, 3));
        parent.show();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        // The parent covers more than the screen: the dialog still lies on it.
        QVERIFY(parent.screen()->availableGeometry().contains(d->frameGeometry()));
        // The columns fill the scroll area's width.
        QScrollArea *area = d->findChild<QScrollArea *>();
        QVERIFY(d->table()->columnLeft(8) >= area->viewport()->width() - 1);
    }

    void measuringWalk()
    {
        addRows(5);
        selectRow(2);
        QVERIFY(button("measureButton")->isEnabled());
        QVERIFY(button("calculateButton")->isEnabled());

        // Measure with no instrument link says why and leaves the dialog as
        // it was.
        button("measureButton")->click();
        QCOMPARE(boxes->boxes.size(), 1);
        QCOMPARE(boxes->boxes[0].text, QString("There is no connection to the instrument: nothing was measured"));
        boxes->boxes.clear();
        QVERIFY(!table->measuring);
        QVERIFY(button("measureButton")->isEnabled());

        // A distance nobody asked for (tracking, the poll) fills no row.
        dialog->setMeasuredPoint(point("", 7, 7, 7));
        QVERIFY(!table->rows[2]->measured);
        QCOMPARE(table->currentRow, table->rows[2]);

        // A pending measurement freezes the selection.
        table->measuring = true;
        click(table, cellCentre(table, 0, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[2]);

        dialog->setMeasuredPoint(point("ignored", 1.5, 2.5, 3.5));
        QVERIFY(!table->measuring);
        QVERIFY(button("measureButton")->isEnabled());
        BasePointRow *r2 = table->rows[2];
        QVERIFY(r2->measured && !r2->selected);
        QCOMPARE(r2->measuredX, 1.5);
        QCOMPARE(r2->measuredZ, 3.5);
        for (Cell *c : r2->cells)
            QCOMPARE(c->background, basePointMeasuredColor());
        QCOMPARE(table->currentRow, table->rows[3]);
        QVERIFY(table->rows[3]->selected);
        QVERIFY(basePointSelected);

        answer(1, 1, 1); // row 3 -> row 4
        QCOMPARE(table->currentRow, table->rows[4]);
        answer(1, 1, 1); // row 4 -> wraps to row 0
        QCOMPARE(table->currentRow, table->rows[0]);
        answer(1, 1, 1); // row 0 -> row 1 (2 is measured)
        QCOMPARE(table->currentRow, table->rows[1]);
        QVERIFY(boxes->boxes.isEmpty());

        // The last one: the message once, no row selected, so nothing to
        // measure; Calculate stays.
        answer(1, 1, 1);
        QCOMPARE(boxes->boxes.size(), 1);
        QCOMPARE(boxes->boxes[0].title, QString("Information"));
        QCOMPARE(boxes->boxes[0].text, QString("All basepoints have been measured"));
        QCOMPARE(boxes->boxes[0].icon, QMessageBox::Information);
        QVERIFY(!table->currentRow);
        QVERIFY(!basePointSelected);
        for (const BasePointRow *r : table->rows)
            QVERIFY(r->measured && !r->selected);
        QVERIFY(!button("measureButton")->isEnabled());
        QVERIFY(button("calculateButton")->isEnabled());

        // A measurement with no current row changes no row and shows nothing;
        // Measure stays disabled while nothing is selected.
        selectRow(0);
        table->measuring = true;
        sendMouse(dialog, QEvent::MouseButtonPress, QPoint(2, dialog->height() - 2));
        QVERIFY(!table->currentRow);
        QVector<double> before;
        for (const BasePointRow *r : table->rows)
            before << r->measuredX;
        dialog->setMeasuredPoint(point("", 99, 99, 99));
        QVERIFY(!table->measuring);
        for (int i = 0; i < table->rows.size(); ++i)
            QCOMPARE(table->rows[i]->measuredX, before[i]);
        QCOMPARE(boxes->boxes.size(), 1);
        QVERIFY(!table->currentRow);
        QVERIFY(!button("measureButton")->isEnabled());
    }

    void walkFollowsDisplayOrder()
    {
        for (const char *n : {"C", "A", "B", "D"})
            dialog->addBasePoint(point(n, 0, 0, 0));
        table->sortByColumn(NameColumn); // A B C D
        QCOMPARE(cellText(table->rows[0], NameColumn), QString("A"));
        selectRow(3); // D, the last in display order
        answer(1, 1, 1);
        QCOMPARE(cellText(table->currentRow, NameColumn), QString("A"));
        selectRow(1); // B instead of A
        answer(1, 1, 1);
        QCOMPARE(cellText(table->currentRow, NameColumn), QString("C"));
    }

    void backgroundClickClearsSelection()
    {
        addRows(2);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        selectRow(1);
        click(table, cellCentre(table, 0, WeightColumn));
        QVERIFY(table->editing);
        QTest::keyClicks(table->activeEditor, "0.7"); // "1.7": beyond the validator's top
        // Another button than the left one does nothing.
        sendMouse(dialog, QEvent::MouseButtonPress, QPoint(2, dialog->height() - 2), Qt::RightButton);
        QCOMPARE(table->currentRow, table->rows[1]);
        QVERIFY(table->editing);

        sendMouse(dialog, QEvent::MouseButtonPress, QPoint(2, dialog->height() - 2));
        QVERIFY(!table->currentRow);
        QVERIFY(!table->rows[1]->selected);
        QVERIFY(!basePointSelected);
        QVERIFY(!button("measureButton")->isEnabled());
        QVERIFY(!button("calculateButton")->isEnabled());
        QVERIFY(!table->editing);
        QCOMPARE(table->rows[0]->weightCell()->text, QString("1.7"));
    }

    void calculateRefusals_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("measured");
        QTest::addColumn<int>("used");
        QTest::addColumn<QString>("message");
        const QString first = "It is necessary to measure more than two points";
        const QString second = "More than two points must be included in the calculation";
        QTest::newRow("empty table") << 0 << 0 << 0 << first;
        QTest::newRow("two of three measured, all used") << 3 << 2 << 3 << first;
        QTest::newRow("five measured, two used") << 5 << 5 << 2 << second;
        // Everything in order, but no server link to send it on.
        QTest::newRow("three measured, three used") << 4 << 3 << 3
                                                     << "There is no connection to the server: nothing was calculated";
    }
    void calculateRefusals()
    {
        QFETCH(int, rows);
        QFETCH(int, measured);
        QFETCH(int, used);
        QFETCH(QString, message);
        addRows(rows);
        for (int i = 0; i < rows; ++i) {
            table->rows[i]->measured = i < measured;
            table->rows[i]->usedCell()->checked = i < used;
        }
        dialog->onCalculateClicked();
        QCOMPARE(boxes->boxes.size(), 1);
        QCOMPARE(boxes->boxes[0].title, QString("Error"));
        QCOMPARE(boxes->boxes[0].text, message);
        QCOMPARE(boxes->boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!dialog->isAwaitingMatrix());
        // Calculate changes nothing in the table.
        QCOMPARE(table->rows.size(), rows);
    }

    void requestWeights()
    {
        addRows(4);
        const char *weights[] = {"1", "0,5", "", "abc"};
        for (int i = 0; i < 4; ++i) {
            table->rows[i]->measured = true;
            table->rows[i]->measuredX = i;
            table->rows[i]->weightCell()->text = weights[i];
        }
        QVector<MeasuringPoint> measured, known;
        QVector<double> w;
        QStringList bad;
        QCOMPARE(dialog->collectRequest(measured, known, w, &bad), 4);
        QCOMPARE(w, QVector<double>({1.0, 0.5, 0.0, 0.0}));
        QCOMPARE(bad, QStringList({"BP3", "BP4"}));
        QCOMPARE(measured.size(), 4);
        QCOMPARE(known[1].x, 101.0);
        QCOMPARE(measured[3].x, 3.0);
        QVERIFY(measured[0].pointName.isEmpty() && measured[0].sessionName.isEmpty());

        // Calculate refuses them before anything is sent, naming the points.
        dialog->onCalculateClicked();
        QCOMPARE(boxes->boxes.size(), 1);
        QCOMPARE(boxes->boxes[0].text, QString("A weight must be a number greater than 0. Correct the "
                                               "weight, or clear the Used box to leave the point out: BP3, BP4"));
        // Weight 0 is no better; a weight in an unused row does not matter.
        table->rows[2]->weightCell()->text = "0";
        table->rows[3]->usedCell()->checked = false;
        dialog->collectRequest(measured, known, w, &bad);
        QCOMPARE(bad, QStringList({"BP3"}));
        table->rows[3]->usedCell()->checked = true;

        // A cleared Used box drops the row's point and its weight together.
        table->rows[1]->usedCell()->checked = false;
        QCOMPARE(dialog->collectRequest(measured, known, w), 4);
        QCOMPARE(measured.size(), 3);
        QCOMPARE(known.size(), 3);
        QCOMPARE(w, QVector<double>({1.0, 0.0, 0.0}));
        QCOMPARE(known[1].x, 102.0);
        QCOMPARE(measured[1].x, 2.0);

        // Display order after sorting decides the order of all three lists.
        table->sortByColumn(NumberColumn);
        table->sortByColumn(NumberColumn); // one of the two is descending
        const bool descending = cellText(table->rows[0], NumberColumn) == "4";
        dialog->collectRequest(measured, known, w);
        QCOMPARE(known[0].x, descending ? 103.0 : 100.0);
        QCOMPARE(w[0], descending ? 0.0 : 1.0);
    }

    void residualsOfATranslation()
    {
        addRows(1);
        setKnown(0, 11, 2, 3);
        measureRow(0, 1, 2, 3);
        QMatrix4x4 m;
        m(0, 3) = 10;
        setStationMatrix(m);
        dialog->updateResiduals();
        for (int c = DXColumn; c <= DColumn; ++c)
            QCOMPARE(cellText(table->rows[0], c), QString("0.0000000"));
        QCOMPARE(field("rmsField"), QString("0.0000000"));
    }

    void residualsAtGridCoordinates()
    {
        // Points measured without error, known at national grid coordinates,
        // and the exact matrix of a station turned by 200 degrees with the
        // instrument frame mirrored: every deviation is 0 to 0.1 mm.
        const double w = 200.0 * M_PI / 180.0, c = std::cos(w), s = std::sin(w);
        const double tx = 6512345.6789, ty = 5678901.2345, tz = 101.234;
        const double rows[16] = {c, s, 0, tx, s, -c, 0, ty, 0, 0, 1, tz, 0, 0, 0, 1};
        const double measured[4][3] = {{35.123, -12.345, 1.1}, {-48.76, 20.5, -0.3}, {5.5, 61.25, 2.0}, {-20, -40, 0}};
        addRows(4);
        for (int i = 0; i < 4; ++i) {
            const double *m = measured[i];
            setKnown(i, c * m[0] + s * m[1] + tx, s * m[0] - c * m[1] + ty, m[2] + tz);
            measureRow(i, m[0], m[1], m[2]);
        }
        // The fourth is a planted blunder of 3 mm east, then left out.
        table->rows[3]->knownX += 0.003;
        table->rows[3]->usedCell()->checked = false;
        setStationMatrix(rows);
        dialog->updateResiduals();
        for (int i = 0; i < 3; ++i) {
            for (int col = DXColumn; col <= DColumn; ++col)
                QVERIFY2(std::fabs(cellText(table->rows[i], col).toDouble()) < 1e-4,
                         qPrintable(cellText(table->rows[i], col)));
        }
        QVERIFY(std::fabs(cellText(table->rows[3], DXColumn).toDouble() - 0.003) < 1e-4);
        QVERIFY(field("maxErrorField").toDouble() < 1e-4);
        // The column grew for the new text.
        QVERIFY(table->headers[DXColumn].width >= table->contentWidth(DXColumn));
    }

    void summaryIsRootMeanSquare()
    {
        addRows(4);
        // D = 1, 2 and 3 along x; the fourth row is never measured.
        for (int i = 0; i < 3; ++i) {
            setKnown(i, 10 + (i + 1), 5, -2);
            measureRow(i, 10, 5, -2);
        }
        QVERIFY(!table->rows[3]->measured);
        dialog->updateResiduals();
        QCOMPARE(cellText(table->rows[1], DXColumn), QString("2.0000000"));
        QCOMPARE(cellText(table->rows[2], DColumn), QString("3.0000000"));
        QCOMPARE(field("rmsField"), QString::number(std::sqrt(14.0 / 3.0), 'f', 7));
        QCOMPARE(field("rmsField"), QString("2.1602469"));
        QCOMPARE(field("minErrorField"), QString("1.0000000"));
        QCOMPARE(field("maxErrorField"), QString("3.0000000"));
        // The unmeasured row shows no deviation and does not count.
        for (int c = DXColumn; c <= DColumn; ++c)
            QCOMPARE(cellText(table->rows[3], c), QString("----"));

        // A row taken out of the calculation keeps its deviation but leaves
        // the summary: D = 1 and 2 remain.
        table->rows[2]->usedCell()->checked = false;
        dialog->updateResiduals();
        QCOMPARE(cellText(table->rows[2], DColumn), QString("3.0000000"));
        QCOMPARE(field("rmsField"), QString::number(std::sqrt(5.0 / 2.0), 'f', 7));
        QCOMPARE(field("minErrorField"), QString("1.0000000"));
        QCOMPARE(field("maxErrorField"), QString("2.0000000"));
        // With none used, no summary.
        for (int i = 0; i < 3; ++i)
            table->rows[i]->usedCell()->checked = false;
        dialog->updateResiduals();
        QVERIFY(field("rmsField").isEmpty() && field("maxErrorField").isEmpty());
        for (int i = 0; i < 3; ++i)
            table->rows[i]->usedCell()->checked = true;

        // Equal large deviations: the RMS is their size, not 0. Negative
        // deviations keep their sign.
        for (int i = 0; i < 3; ++i)
            setKnown(i, 10 - 5, 5, -2);
        dialog->updateResiduals();
        QCOMPARE(cellText(table->rows[0], DXColumn), QString("-5.0000000"));
        QCOMPARE(field("rmsField"), QString("5.0000000"));
        QCOMPARE(field("minErrorField"), QString("5.0000000"));
        QCOMPARE(field("maxErrorField"), QString("5.0000000"));
    }

    void residualsWithNothingMeasured()
    {
        QSignalSpy updated(table, &BasePointsTable::updateTableSignal);
        dialog->updateResiduals(); // no rows at all
        QVERIFY(field("rmsField").isEmpty());
        QVERIFY(field("minErrorField").isEmpty());
        QVERIFY(field("maxErrorField").isEmpty());
        QCOMPARE(updated.count(), 2);

        addRows(2);
        QMatrix4x4 m;
        m(0, 3) = 7;
        setStationMatrix(m);
        dialog->updateResiduals();
        QVERIFY(field("rmsField").isEmpty());
        QCOMPARE(cellText(table->rows[0], DXColumn), QString("----"));

        // A later matrix after a measurement fills them; rows added after it
        // show "----" until the next one.
        measureRow(0, 1, 2, 3);
        setKnown(0, 8, 2, 3);
        dialog->updateResiduals();
        QCOMPARE(field("rmsField"), QString("0.0000000"));
        dialog->addBasePoint(point("late", 1, 1, 1));
        QCOMPARE(cellText(table->rows[2], DColumn), QString("----"));
        QCOMPARE(field("maxErrorField"), QString("0.0000000"));
    }
};

QTEST_MAIN(TestBasePoints)
#include "test_basepoints.moc"
