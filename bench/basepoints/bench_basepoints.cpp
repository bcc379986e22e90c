// Sorting and repainting the base points table with 1 170 rows, the size of
// a large set of control points sent by the CAD server.
//
//   bench_basepoints [repetitions, default 50]
//
// Prints the median and the worst time of: sorting by each kind of key,
// painting the whole table into an image, repainting what the dialog shows
// (its scroll area with 10 visible rows), and a header click on the Name
// column followed by that repaint (what the operator waits for).

#include "basepoints.h"
#include "basepointstable.h"
#include "geometry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLocale>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QScrollArea>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %8.3f ms   max %8.3f ms   (n=%zu)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
}

std::vector<double> timeIt(int reps, const std::function<void()> &f)
{
    std::vector<double> out;
    QElapsedTimer t;
    for (int i = 0; i < reps; ++i) {
        t.start();
        f();
        out.push_back(t.nsecsElapsed() / 1e6);
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int rowCount = 1170;

    BasePoints dialog;
    BasePointsTable *table = dialog.table();
    QRandomGenerator rng(1170);
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < rowCount; ++i) {
        MeasuringPoint p;
        p.pointName = QString("BP%1").arg(rng.bounded(100000));
        p.x = 6500000.0 + rng.bounded(1000.0);
        p.y = 5400000.0 + rng.bounded(1000.0);
        p.z = 100.0 + rng.bounded(50.0);
        dialog.addBasePoint(p);
    }
    const double fillMs = fill.nsecsElapsed() / 1e6;
    // Every row measured with results in the deviation columns.
    for (BasePointRow *r : table->rows) {
        r->measured = true;
        r->measuredX = r->knownX + rng.bounded(0.01);
        r->measuredY = r->knownY - rng.bounded(0.01);
        r->measuredZ = r->knownZ;
        r->weightCell()->text = QString::number(rng.bounded(1.0), 'f', 3);
        r->usedCell()->checked = rng.bounded(2) == 1;
    }
    setStationMatrix(QMatrix4x4());
    QElapsedTimer res;
    res.start();
    dialog.updateResiduals();
    const double residualMs = res.nsecsElapsed() / 1e6;

    dialog.show();
    app.processEvents();
    QScrollArea *area = dialog.findChild<QScrollArea *>();

    std::printf("rows %d, table %dx%d px, visible %dx%d px\n", rowCount, table->sizeHint().width(),
                table->sizeHint().height(), area->viewport()->width(), area->viewport()->height());
    std::printf("%-44s %8.3f ms\n", "adding 1 170 rows from the server", fillMs);
    std::printf("%-44s %8.3f ms\n", "deviations of 1 170 rows (updateResiduals)", residualMs);

    const struct { const char *what; int column; } sorts[] = {
        {"sort by number (int key)", NumberColumn},
        {"sort by name (C locale, natural order)", NameColumn},
        {"sort by Used (bool key)", UsedColumn},
        {"sort by weight (double key)", WeightColumn},
        {"sort by D (double key)", DColumn},
    };
    for (const auto &s : sorts)
        report(s.what, timeIt(reps, [&] { table->sortByColumn(s.column); }));
    // Under the C locale names compare with the built-in natural order; a
    // real locale goes through the platform collator.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    report("sort by name (collator, ru_RU)", timeIt(reps, [&] { table->sortByColumn(NameColumn); }));
    QLocale::setDefault(QLocale::c());

    // The whole table, outside the scroll area (which clips to what it shows).
    area->takeWidget();
    table->resize(table->sizeHint());
    QImage image(table->sizeHint(), QImage::Format_RGB32);
    report("paint whole table (1 170 rows) into an image", timeIt(reps, [&] { table->render(&image); }));
    area->setWidget(table);
    app.processEvents();
    report("repaint visible part (table in scroll area)", timeIt(reps, [&] { table->repaint(); }));

    const QPoint header(table->columnLeft(NameColumn) + table->headers[NameColumn].width / 2,
                        table->headerHeight / 2);
    report("header click on Name + repaint", timeIt(reps, [&] {
               QMouseEvent press(QEvent::MouseButtonPress, header, Qt::LeftButton, Qt::LeftButton,
                                 Qt::NoModifier);
               QApplication::sendEvent(table, &press);
               QMouseEvent release(QEvent::MouseButtonRelease, header, Qt::LeftButton, Qt::NoButton,
                                   Qt::NoModifier);
               QApplication::sendEvent(table, &release);
               table->repaint();
           }));
    return 0;
}
