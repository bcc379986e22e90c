#pragma once
// Helpers shared by the base points tests: rows, clicks and a catcher for
// the message boxes the dialog raises.

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "basepoints.h"
#include "basepointstable.h"

struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon;
};

// Answers every modal message box with Ok while alive and records it.
class BoxCatcher : public QObject
{
public:
    BoxCatcher()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes.append({box->windowTitle(), box->text(), box->icon()});
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        timer.start(5);
    }
    QList<ShownBox> boxes;
    QTimer timer;
};

inline MeasuringPoint point(const QString &name, double x, double y, double z)
{
    MeasuringPoint p;
    p.pointName = name;
    p.x = x;
    p.y = y;
    p.z = z;
    return p;
}

inline void sendMouse(QWidget *w, QEvent::Type type, const QPoint &pos,
                      Qt::MouseButton button = Qt::LeftButton)
{
    Qt::MouseButtons buttons = Qt::NoButton;
    if (type == QEvent::MouseButtonPress || (type == QEvent::MouseMove && button != Qt::NoButton))
        buttons = button;
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button,
                   buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

inline void click(QWidget *w, const QPoint &pos)
{
    sendMouse(w, QEvent::MouseButtonPress, pos);
    sendMouse(w, QEvent::MouseButtonRelease, pos);
}

// Centre of a body cell in the table's current layout.
inline QPoint cellCentre(const BasePointsTable *t, int rowIndex, int column)
{
    return QPoint(t->columnLeft(column) + t->headers[column].width / 2,
                  t->headerHeight + rowIndex * t->rowHeight + t->rowHeight / 2);
}

inline QPoint headerCentre(const BasePointsTable *t, int column)
{
    return QPoint(t->columnLeft(column) + t->headers[column].width / 2, t->headerHeight / 2);
}

inline QString cellText(const BasePointRow *row, int column)
{
    const TextCell *c = row->textCell(column);
    return c ? c->text : QString();
}

inline bool isSplitCursor(const QWidget *w)
{
    return w->testAttribute(Qt::WA_SetCursor) && w->cursor().shape() == Qt::SplitHCursor;
}

// A table of its own (not inside the dialog's scroll area) with the eight
// columns and rows made the way the dialog makes them.
inline void fillStandaloneTable(BasePointsTable *t, int rows)
{
    for (const char *h : {"\u2116", "Name", "Used", "Weight", "dX", "dY", "dZ", "D"})
        t->addColumn(QString::fromUtf8(h));
    for (int i = 0; i < rows; ++i) {
        auto *row = new BasePointRow;
        row->cells[NumberColumn] = new TextCell(QString::number(i + 1));
        row->cells[NameColumn] = new TextCell(QString("P%1").arg(i));
        row->cells[UsedColumn] = new CheckBoxCell(true);
        row->cells[WeightColumn] = new EditCell("1", t);
        for (int c = DXColumn; c <= DColumn; ++c)
            row->cells[c] = new TextCell("----");
        t->addRow(row);
    }
}

// The offscreen platform warns on every fixed-size top-level window; those
// lines only bury the test log. Call from initTestCase (after QtTest has
// installed its own handler, to which everything else is passed on).
inline void quietOffscreenSizeHints()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &ctx, const QString &msg) {
        if (msg.contains(QLatin1String("does not support propagateSizeHints")))
            return;
        if (previous)
            previous(type, ctx, msg);
    });
}
