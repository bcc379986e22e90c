#include "dialogplacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace {

QRect availableArea(const QWidget *window)
{
    QScreen *screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// The dialog's size with its window frame. Before it is first shown the
// frame is not known yet; the main window's frame stands in for it.
QSize frameSize(const QWidget *dialog, const QWidget *window)
{
    const QRect frame = dialog->frameGeometry();
    if (frame.size() != dialog->size())
        return frame.size();
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return dialog->size() + QSize(outer.width() - inner.width(), outer.height() - inner.height());
}

// The top-left corner that keeps a frame of `size` inside `area`; a frame
// larger than the area keeps its top-left corner in it.
QPoint clamped(QPoint p, const QSize &size, const QRect &area)
{
    p.setX(qMax(area.left(), qMin(p.x(), area.left() + area.width() - size.width())));
    p.setY(qMax(area.top(), qMin(p.y(), area.top() + area.height() - size.height())));
    return p;
}

} // namespace

void placeBeside(QWidget *dialog, const QWidget *window)
{
    const QRect area = availableArea(window);
    if (area.isEmpty())
        return;
    const QSize size = frameSize(dialog, window);
    const QRect win = window->frameGeometry();
    const QPoint beside[] = {
        {win.right() + 1, win.top()},
        {win.left() - size.width(), win.top()},
        {win.left(), win.bottom() + 1},
        {win.left(), win.top() - size.height()},
    };
    for (int i = 0; i < 4; ++i) {
        // Slid along the window's side into the area; taken if it then
        // lies wholly inside it.
        const QPoint along = clamped(beside[i], size, area);
        const QPoint p = i < 2 ? QPoint(beside[i].x(), along.y()) : QPoint(along.x(), beside[i].y());
        if (area.contains(QRect(p, size))) {
            dialog->move(p);
            return;
        }
    }
    dialog->move(clamped(win.center() - QPoint(size.width() / 2, size.height() / 2), size, area));
}

void keepOnScreen(QWidget *dialog, const QWidget *window)
{
    const QRect area = availableArea(window);
    const QSize size = frameSize(dialog, window);
    const QPoint at = dialog->frameGeometry().topLeft();
    if (area.isEmpty() || area.contains(QRect(at, size)))
        return;
    dialog->move(clamped(at, size, area));
}
