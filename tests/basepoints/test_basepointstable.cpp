// The base points table: numbering, sorting, column sizing and dragging, the
// split cursor, row selection, the Used box and the weight editor.

#include <QDoubleValidator>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QtTest>

#include "testsupport.h"

class TestBasePointsTable : public QObject
{
    Q_OBJECT

private:
    BasePoints *dialog = nullptr;
    BasePointsTable *table = nullptr;

    void addPoints(const QStringList &names)
    {
        for (const QString &n : names)
            dialog->addBasePoint(point(n, 1, 2, 3));
    }
    QStringList namesInOrder() const
    {
        QStringList out;
        for (const BasePointRow *r : table->rows)
            out << cellText(r, NameColumn);
        return out;
    }
    QStringList numbersInOrder() const
    {
        QStringList out;
        for (const BasePointRow *r : table->rows)
            out << cellText(r, NumberColumn);
        return out;
    }

private slots:
    void initTestCase() { quietOffscreenSizeHints(); }
    void init()
    {
        basePointSelected = false;
        dialog = new BasePoints;
        table = dialog->table();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }
    void cleanup()
    {
        delete dialog;
        dialog = nullptr;
        QLocale::setDefault(QLocale::c());
    }

    void numbersAndSorting()
    {
        addPoints({"BP10", "BP2", "BP1", "A"});
        QCOMPARE(numbersInOrder(), QStringList({"1", "2", "3", "4"}));

        sendMouse(table, QEvent::MouseButtonPress, headerCentre(table, NameColumn));
        QCOMPARE(namesInOrder(), QStringList({"A", "BP1", "BP2", "BP10"}));
        QCOMPARE(numbersInOrder(), QStringList({"4", "3", "2", "1"}));
        for (int i = 0; i < table->rows.size(); ++i)
            QCOMPARE(table->rows[i]->position, i);
        QCOMPARE(table->pressedColumn, int(NameColumn));
        sendMouse(table, QEvent::MouseButtonRelease, headerCentre(table, NameColumn));
        QCOMPARE(table->pressedColumn, -1);

        click(table, headerCentre(table, NameColumn));
        QCOMPARE(namesInOrder(), QStringList({"BP10", "BP2", "BP1", "A"}));

        // Numbers are never rewritten: sorting by them restores arrival order.
        click(table, headerCentre(table, NumberColumn));
        QCOMPARE(numbersInOrder(), QStringList({"1", "2", "3", "4"}));
        click(table, headerCentre(table, NumberColumn));
        QCOMPARE(numbersInOrder(), QStringList({"4", "3", "2", "1"}));

        // A new row after sorting is numbered by the count of rows.
        addPoints({"Z"});
        QCOMPARE(cellText(table->rows.last(), NumberColumn), QString("5"));
        QCOMPARE(table->rows.last()->position, 4);
    }

    void nameSortUnderRealLocales()
    {
        addPoints({"BP10", "bp3", "BP2", "BP1"});
        for (const QLocale &l : {QLocale(QLocale::Russian, QLocale::Russia),
                                 QLocale(QLocale::English, QLocale::UnitedStates)}) {
            QLocale::setDefault(l);
            table->sortByColumn(NameColumn);
            if (cellText(table->rows[0], NameColumn) == "BP10")
                table->sortByColumn(NameColumn); // was descending: sort again
            QCOMPARE(namesInOrder(), QStringList({"BP1", "BP2", "bp3", "BP10"}));
        }
    }

    void sortKeys()
    {
        addPoints({"a", "b", "c", "d"});
        // Weight: a comma text counts as 0.0 for sorting.
        table->rows[0]->weightCell()->text = "0,5";
        table->rows[1]->weightCell()->text = "0.25";
        table->rows[2]->weightCell()->text = "1";
        table->rows[3]->weightCell()->text = "";
        table->rows[0]->usedCell()->checked = false;
        table->rows[2]->usedCell()->checked = false;
        table->rows[0]->textCell(DXColumn)->text = "-2.5000000";
        table->rows[1]->textCell(DXColumn)->text = "----";
        table->rows[2]->textCell(DXColumn)->text = "10.0000000";
        table->rows[3]->textCell(DXColumn)->text = "3.0000000";

        table->sortByColumn(WeightColumn);
        QCOMPARE(namesInOrder().mid(2), QStringList({"b", "c"}));
        QVERIFY(QSet<QString>({namesInOrder()[0], namesInOrder()[1]}) == QSet<QString>({"a", "d"}));

        table->sortByColumn(DXColumn);
        QCOMPARE(namesInOrder(), QStringList({"a", "b", "d", "c"}));
        table->sortByColumn(DXColumn);
        QCOMPARE(namesInOrder(), QStringList({"c", "d", "b", "a"}));

        table->sortByColumn(UsedColumn);
        QStringList first2 = namesInOrder().mid(0, 2);
        std::sort(first2.begin(), first2.end());
        QCOMPARE(first2, QStringList({"a", "c"}));

        // A "nan" result orders with nothing: it goes last either way.
        table->rows[0]->textCell(DXColumn)->text = "nan";
        const QString nanRow = cellText(table->rows[0], NameColumn);
        for (int i = 0; i < 2; ++i) {
            table->sortByColumn(DXColumn);
            QCOMPARE(cellText(table->rows.last(), NameColumn), nanRow);
        }
    }

    void openEditorCommittedBeforeRowsOrColumnsMove()
    {
        // Sorting moves the rows under an open weight editor: its text goes
        // to the row it was opened for, before the move.
        addPoints({"b", "a"});
        click(table, cellCentre(table, 0, WeightColumn));
        table->activeEditor->setText("0.4");
        click(table, headerCentre(table, NameColumn));
        QVERIFY(!table->editing);
        QCOMPARE(namesInOrder(), QStringList({"a", "b"}));
        QCOMPARE(table->rows[1]->weightCell()->text, QString("0.4"));
        QCOMPARE(table->rows[0]->weightCell()->text, QString("1"));

        // Dragging a border moves the cell from under the editor.
        click(table, cellCentre(table, 0, WeightColumn));
        table->activeEditor->setText("0.3");
        const int right = table->columnLeft(NameColumn) + table->headers[NameColumn].width;
        const int y = table->headerHeight / 2;
        sendMouse(table, QEvent::MouseMove, QPoint(right, y), Qt::NoButton);
        sendMouse(table, QEvent::MouseButtonPress, QPoint(right, y));
        QVERIFY(table->resizing);
        QVERIFY(!table->editing);
        QCOMPARE(table->rows[0]->weightCell()->text, QString("0.3"));
        sendMouse(table, QEvent::MouseButtonRelease, QPoint(right, y));
        QTRY_VERIFY(table->findChildren<QLineEdit *>().isEmpty());
    }

    void headerClickOutsideColumnsIgnored()
    {
        addPoints({"b", "a"});
        int total = 0;
        for (const ColumnHeader &h : table->headers)
            total += h.width;
        table->stretchColumns(0); // no-op, keeps widths
        click(table, QPoint(total + 6, table->headerHeight / 2));
        QCOMPARE(namesInOrder(), QStringList({"b", "a"}));
        QCOMPARE(table->pressedColumn, -1);
    }

    void splitCursor()
    {
        addPoints({"P"});
        const int y = table->headerHeight / 2;
        const int border0 = table->columnLeft(1);
        for (int dx = -5; dx <= 5; ++dx) {
            sendMouse(table, QEvent::MouseMove, QPoint(border0 + dx, y), Qt::NoButton);
            QVERIFY2(!isSplitCursor(table), qPrintable(QString("dx %1").arg(dx)));
        }
        for (int c = 1; c < BasePointColumnCount; ++c) {
            const int right = table->columnLeft(c) + table->headers[c].width;
            sendMouse(table, QEvent::MouseMove, QPoint(right - 5, y), Qt::NoButton);
            QVERIFY(isSplitCursor(table));
            // Within 5 px past the right border the column still owns the
            // pointer (its span reaches width + 5).
            sendMouse(table, QEvent::MouseMove, QPoint(right + 5, y), Qt::NoButton);
            QVERIFY(isSplitCursor(table));
            QCOMPARE(table->resizeColumnIndex, c);
            sendMouse(table, QEvent::MouseMove, QPoint(right - 6, y), Qt::NoButton);
            QVERIFY(!isSplitCursor(table));
        }
        // Over the body there is no split cursor.
        const int right1 = table->columnLeft(1) + table->headers[1].width;
        sendMouse(table, QEvent::MouseMove, QPoint(right1, y), Qt::NoButton);
        QVERIFY(isSplitCursor(table));
        sendMouse(table, QEvent::MouseMove, QPoint(right1, table->headerHeight + 2), Qt::NoButton);
        QVERIFY(!isSplitCursor(table));
    }

    void dragLimits()
    {
        addPoints({"A rather long base point name"});
        QSignalSpy resized(table, &BasePointsTable::resizeColumn);
        const int y = table->headerHeight / 2;
        const int c = NameColumn;
        const int minW = table->headers[c].minWidth;
        const int startW = table->headers[c].width;
        QCOMPARE(startW, table->contentWidth(c));
        const int right = table->columnLeft(c) + startW;

        sendMouse(table, QEvent::MouseMove, QPoint(right, y), Qt::NoButton);
        QVERIFY(isSplitCursor(table));
        sendMouse(table, QEvent::MouseButtonPress, QPoint(right, y));
        QVERIFY(table->resizing);
        // Narrower than the content: stops at the content width.
        sendMouse(table, QEvent::MouseMove, QPoint(right - 80, y), Qt::LeftButton);
        QCOMPARE(table->headers[c].width, minW);
        // Wider: no limit.
        sendMouse(table, QEvent::MouseMove, QPoint(right + 900, y), Qt::LeftButton);
        QCOMPARE(table->headers[c].width, startW + 900);
        QVERIFY(resized.count() >= 2);
        QCOMPARE(table->sizeHint().width(), table->columnLeft(BasePointColumnCount) + 1);
        sendMouse(table, QEvent::MouseButtonRelease, QPoint(right + 900, y));
        QVERIFY(!table->resizing);
        QCOMPARE(table->resizeColumnIndex, -1);
        QVERIFY(!isSplitCursor(table));
        // A press after the release sorts instead of dragging.
        QCOMPARE(table->headers[c].width, startW + 900);
    }

    void selectionThroughNumberCell()
    {
        addPoints({"A", "B", "C"});
        QSignalSpy sel(table, &BasePointsTable::selected);
        QSignalSpy desel(table, &BasePointsTable::deselected);

        click(table, cellCentre(table, 0, NameColumn)); // not the number cell
        QVERIFY(!table->currentRow);

        click(table, cellCentre(table, 0, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[0]);
        QVERIFY(basePointSelected);
        QCOMPARE(table->rows[0]->cells[DColumn]->background, basePointSelectedColor());
        QCOMPARE(sel.count(), 1);

        click(table, cellCentre(table, 1, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[1]);
        QVERIFY(!table->rows[0]->selected);
        QCOMPARE(table->rows[0]->cells[0]->background, QColor(Qt::white));
        QVERIFY(basePointSelected);

        // While measuring, the selection is frozen.
        table->measuring = true;
        click(table, cellCentre(table, 2, NumberColumn));
        click(table, cellCentre(table, 1, NumberColumn));
        QCOMPARE(table->currentRow, table->rows[1]);
        table->measuring = false;

        // A measured row falls back to its own colour when deselected.
        table->rows[1]->measured = true;
        click(table, cellCentre(table, 1, NumberColumn));
        QVERIFY(!table->currentRow);
        QVERIFY(!basePointSelected);
        QCOMPARE(desel.count(), 1);
        QCOMPARE(table->rows[1]->cells[3]->background, basePointMeasuredColor());

        // Below the last row nothing happens.
        click(table, QPoint(5, table->headerHeight + 3 * table->rowHeight + 1));
        QVERIFY(!table->currentRow);
    }

    void checkBoxFlipsAndPaints()
    {
        addPoints({"A"});
        BasePointRow *row = table->rows[0];
        QVERIFY(row->usedCell()->checked);
        const int left = table->columnLeft(UsedColumn);
        const int top = table->headerHeight;
        const QRect rect(left, top, table->headers[UsedColumn].width, table->rowHeight);

        auto render = [&] {
            QImage img(table->size(), QImage::Format_RGB32);
            img.fill(Qt::white);
            table->render(&img);
            return img;
        };
        const int s = int(rect.height() * 0.8);
        const QPoint c = rect.center();
        const QRect box(c.x() - s / 2, c.y() - s / 2, s, s);
        const QPoint fillPixel(box.center().x(), box.top() + 2);  // off the tick and the cross
        const QPoint cornerPixel(box.left() + 2, box.top() + 2);  // on the cross only
        QImage img = render();
        QCOMPARE(QColor(img.pixel(fillPixel)), QColor(Qt::green));
        QCOMPARE(QColor(img.pixel(cornerPixel)), QColor(Qt::green));

        // Anywhere in the cell flips it, even a corner far from the box.
        click(table, QPoint(rect.left() + 1, rect.bottom() - 1));
        QVERIFY(!row->usedCell()->checked);
        img = render();
        QCOMPARE(QColor(img.pixel(fillPixel)), QColor(Qt::red));
        QCOMPARE(QColor(img.pixel(cornerPixel)), QColor(Qt::black));

        click(table, QPoint(rect.right() - 1, rect.top() + 1));
        QVERIFY(row->usedCell()->checked);
    }

    void weightEditorCommaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        addPoints({"A", "B"});
        QSignalSpy updated(table, &BasePointsTable::updateTableSignal);
        click(table, cellCentre(table, 0, WeightColumn));
        QVERIFY(table->editing);
        QLineEdit *editor = table->activeEditor;
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("1"));
        const QRect cellRect(table->columnLeft(WeightColumn), table->headerHeight,
                             table->headers[WeightColumn].width, table->rowHeight);
        QCOMPARE(editor->geometry(), QRect(cellRect.left() + 1, cellRect.top() + 1,
                                           cellRect.width() - 1, cellRect.height() - 1));
        editor->selectAll();
        QTest::keyClicks(editor, "0,5");
        QCOMPARE(editor->text(), QString("0,5"));
        QVERIFY(editor->hasAcceptableInput());
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(!table->editing);
        QCOMPARE(table->rows[0]->weightCell()->text, QString("0,5"));
        QVERIFY(!table->rows[0]->weightCell()->editor);
        QVERIFY(updated.count() >= 1);
        QTRY_VERIFY(table->findChildren<QLineEdit *>().isEmpty());

        // The sort key reads the comma text as 0.0: it sorts below "0.25".
        table->rows[1]->weightCell()->text = "0.25";
        table->sortByColumn(WeightColumn); // ascending
        QCOMPARE(cellText(table->rows[0], NameColumn), QString("A"));

        // Above 1.0 is not acceptable: Return leaves the editor open.
        click(table, cellCentre(table, 0, WeightColumn));
        editor = table->activeEditor;
        QVERIFY(table->editing && editor);
        editor->selectAll();
        QTest::keyClicks(editor, "1,5");
        QVERIFY(!editor->hasAcceptableInput());
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(table->editing);
        QCOMPARE(table->rows[0]->weightCell()->text, QString("0,5"));
        // A click on the dialog's background commits it all the same.
        sendMouse(dialog, QEvent::MouseButtonPress, QPoint(2, dialog->height() - 2));
        QVERIFY(!table->editing);
        QCOMPARE(table->rows[0]->weightCell()->text, QString("1,5"));

        // An editor left open with an unacceptable text is taken over when
        // another weight is clicked, not left behind.
        click(table, cellCentre(table, 0, WeightColumn));
        QLineEdit *first = table->activeEditor;
        first->selectAll();
        QTest::keyClicks(first, "2");
        click(table, cellCentre(table, 1, WeightColumn));
        QCOMPARE(table->rows[0]->weightCell()->text, QString("2"));
        QVERIFY(!table->rows[0]->weightCell()->editor);
        QVERIFY(table->editing);
        QVERIFY(table->activeEditor != first);
        QCOMPARE(table->rows[1]->weightCell()->editor, table->activeEditor);
        QTRY_COMPARE(table->findChildren<QLineEdit *>().size(), 1);
    }

    void columnsGrowAndNeverShrink()
    {
        addPoints({"A"});
        const int w0 = table->headers[DXColumn].width;
        table->rows[0]->textCell(DXColumn)->text = "-123456.1234567";
        table->updateColumnWidths();
        const int w1 = table->headers[DXColumn].width;
        QVERIFY(w1 > w0);
        QCOMPARE(table->headers[DXColumn].minWidth, w1);
        table->rows[0]->textCell(DXColumn)->text = "0";
        table->updateColumnWidths();
        QCOMPARE(table->headers[DXColumn].width, w1);
        // The Used column is sized by its header alone.
        QCOMPARE(table->contentWidth(UsedColumn),
                 BasePointsTable::headerTextSize(table->headers[UsedColumn].text).width() + 20);
    }

    void partialRepaintMatchesFullPaint()
    {
        BasePointsTable t;
        fillStandaloneTable(&t, 30);
        t.rows[7]->usedCell()->checked = false;
        t.toggleSelection(t.rows[8]);
        t.resize(t.sizeHint());
        const QSize size = t.sizeHint();
        QImage full(size, QImage::Format_RGB32);
        full.fill(Qt::white);
        t.render(&full);
        // Bands that start and end in the middle of rows, and the last rows.
        const int h = t.rowHeight;
        const QRect bands[] = {QRect(0, t.headerHeight + 6 * h + h / 2, size.width(), 2 * h + 3),
                               QRect(0, 0, size.width(), t.headerHeight + 1),
                               QRect(0, size.height() - h - 2, size.width(), h + 2)};
        for (const QRect &band : bands) {
            QImage part(band.size(), QImage::Format_RGB32);
            part.fill(Qt::white);
            // render() puts the region's top-left at the target offset.
            t.render(&part, QPoint(), QRegion(band));
            QCOMPARE(part, full.copy(band));
        }
        basePointSelected = false;
    }

    void stretchSpreadsSpareWidth()
    {
        addPoints({"A"});
        QVector<int> before;
        int sum = 0;
        for (const ColumnHeader &h : table->headers) {
            before << h.width;
            sum += h.width;
        }
        table->stretchColumns(sum + 7 * 3 + 4); // q = 3, r = 4
        QCOMPARE(table->headers[0].width, before[0]);
        for (int c = 1; c < 8; ++c) {
            QCOMPARE(table->headers[c].width, before[c] + 3 + (c <= 4 ? 1 : 0));
            QCOMPARE(table->headers[c].minWidth, table->headers[c].width);
        }
        // Narrower than the columns already are: nothing changes.
        const int now = table->columnLeft(8);
        table->stretchColumns(now - 50);
        QCOMPARE(table->columnLeft(8), now);
        QCOMPARE(table->sizeHint(), QSize(now + 1, table->headerHeight + 1 + table->rowHeight));
    }
};

QTEST_MAIN(TestBasePointsTable)
#include "test_basepointstable.moc"
