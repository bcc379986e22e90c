#include "basepointstable.h"

#include <QCollator>
#include <QDoubleValidator>
#include <QFont>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

QFont headerFont()
{
    return QFont(QStringLiteral("Arial"), 14);
}

QFont cellFont()
{
    return QFont(QStringLiteral("Arial"), 10);
}

const QColor headerColor(220, 220, 220);
const QColor pressedHeaderColor(180, 180, 180);

} // namespace

QColor basePointSelectedColor()
{
    return QColor(135, 206, 235);
}

QColor basePointMeasuredColor()
{
    return QColor(255, 250, 205);
}

// ---------------------------------------------------------------- cells

Cell::~Cell() = default;

void Cell::paint(QPainter &painter, const QRect &rect)
{
    painter.fillRect(rect, background);
    painter.drawRect(rect);
}

void Cell::mousePress(QMouseEvent *, const QRect &)
{
}

TextCell::TextCell(const QString &text)
    : text(text)
{
}

void TextCell::paint(QPainter &painter, const QRect &rect)
{
    Cell::paint(painter, rect);
    painter.drawText(rect, Qt::AlignCenter, text);
}

CheckBoxCell::CheckBoxCell(bool checked)
    : checked(checked)
{
}

void CheckBoxCell::paint(QPainter &painter, const QRect &rect)
{
    Cell::paint(painter, rect);
    const QPen oldPen = painter.pen();
    painter.setPen(QPen(QBrush(Qt::black), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const int s = int(rect.height() * 0.8);
    const QPoint c = rect.center();
    const QRect box(c.x() - s / 2, c.y() - s / 2, s, s);
    painter.fillRect(box, checked ? Qt::green : Qt::red);
    painter.drawRect(box);
    if (checked) {
        const QPoint a(int(box.left() + 0.25 * s), box.center().y());
        const QPoint b(box.center().x(), int(box.bottom() - 0.25 * s));
        const QPoint e(int(box.right() - 0.2 * s), int(box.top() + 0.25 * s));
        painter.drawLine(a, b);
        painter.drawLine(b, e);
    } else {
        painter.drawLine(box.topLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomLeft());
    }
    painter.setPen(oldPen);
}

void CheckBoxCell::mousePress(QMouseEvent *event, const QRect &rect)
{
    if (rect.contains(event->pos()))
        checked = !checked;
}

EditCell::EditCell(const QString &text, BasePointsTable *table)
    : TextCell(text)
    , table(table)
{
}

EditCell::~EditCell()
{
    // The editor is a child of the table and goes with it; an editor still
    // open when the row is deleted must not call back into this cell.
    if (editor)
        editor->disconnect(this);
}

void EditCell::mousePress(QMouseEvent *event, const QRect &rect)
{
    if (!rect.contains(event->pos()) || !table)
        return;
    if (editor)
        return; // already open over this cell
    // Another weight still open (its text not acceptable yet): take it over
    // first, as a click on the dialog's background would, so that no editor
    // is left behind without the table knowing it.
    table->commitEdit();
    editor = new QLineEdit(table);
    table->editing = true;
    table->activeEditor = editor;
    editor->setFont(cellFont());
    editor->setGeometry(rect.left() + 1, rect.top() + 1, rect.width() - 1, rect.height() - 1);
    editor->setText(text);
    auto *validator = new QDoubleValidator(0.0, 1.0, 3, editor);
    validator->setNotation(QDoubleValidator::StandardNotation);
    editor->setValidator(validator);
    connect(editor, &QLineEdit::editingFinished, this, &EditCell::commit);
    editor->setFocus(Qt::OtherFocusReason);
    editor->show();
}

void EditCell::commit()
{
    if (!editor)
        return;
    QLineEdit *e = editor;
    editor = nullptr;
    e->disconnect(this);
    text = e->text();
    e->hide();
    e->deleteLater();
    if (table) {
        table->editing = false;
        table->updateColumnWidths();
        table->update();
        emit table->updateTableSignal();
    }
}

// ---------------------------------------------------------------- row

BasePointRow::BasePointRow()
    : cells(BasePointColumnCount, nullptr)
{
}

BasePointRow::~BasePointRow()
{
    qDeleteAll(cells);
}

TextCell *BasePointRow::textCell(int column) const
{
    return column >= 0 && column < cells.size() ? dynamic_cast<TextCell *>(cells[column]) : nullptr;
}

CheckBoxCell *BasePointRow::usedCell() const
{
    return cells.size() > UsedColumn ? dynamic_cast<CheckBoxCell *>(cells[UsedColumn]) : nullptr;
}

EditCell *BasePointRow::weightCell() const
{
    return cells.size() > WeightColumn ? dynamic_cast<EditCell *>(cells[WeightColumn]) : nullptr;
}

// ---------------------------------------------------------------- table

BasePointsTable::BasePointsTable(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_MouseTracking);
}

BasePointsTable::~BasePointsTable()
{
    qDeleteAll(rows);
}

QSize BasePointsTable::headerTextSize(const QString &text)
{
    const QFontMetrics fm(headerFont());
    return QSize(int(fm.horizontalAdvance(text) * 1.2), fm.height());
}

void BasePointsTable::addColumn(const QString &text)
{
    const QSize s = headerTextSize(text);
    headerHeight = s.height();
    ColumnHeader h;
    h.text = text;
    h.width = s.width();
    h.minWidth = s.width();
    headers.append(h);
    update();
}

void BasePointsTable::addRow(BasePointRow *row)
{
    rowHeight = QFontMetrics(cellFont()).height();
    for (int c = 0; c < row->cells.size(); ++c) {
        if (row->cells[c])
            row->cells[c]->column = c;
    }
    row->position = rows.size();
    rows.append(row);
    widenForRow(row);
    update();
    emit updateTableSignal();
}

int BasePointsTable::contentWidth(int column) const
{
    int w = headerTextSize(headers[column].text).width();
    const QFontMetrics fm(cellFont());
    if (column != UsedColumn) {
        for (const BasePointRow *row : rows) {
            if (column >= row->cells.size() || !row->cells[column])
                continue;
            if (auto *t = dynamic_cast<const TextCell *>(row->cells[column]))
                w = std::max(w, fm.horizontalAdvance(t->text));
        }
    }
    return w + 20;
}

void BasePointsTable::updateColumnWidths()
{
    for (int c = 0; c < headers.size(); ++c) {
        const int w = contentWidth(c);
        if (headers[c].width < w) {
            headers[c].width = w;
            headers[c].minWidth = w;
        }
    }
}

void BasePointsTable::widenForRow(const BasePointRow *row)
{
    // Columns already fit the other rows (every change of a text is followed
    // by updateColumnWidths), so only the new row's texts can widen them;
    // this keeps filling a long table linear.
    const QFontMetrics fm(cellFont());
    for (int c = 0; c < headers.size(); ++c) {
        int w = headerTextSize(headers[c].text).width();
        if (c != UsedColumn && c < row->cells.size() && row->cells[c]) {
            if (auto *t = dynamic_cast<const TextCell *>(row->cells[c]))
                w = std::max(w, fm.horizontalAdvance(t->text));
        }
        w += 20;
        if (headers[c].width < w) {
            headers[c].width = w;
            headers[c].minWidth = w;
        }
    }
}

void BasePointsTable::stretchColumns(int total)
{
    const int n = headers.size();
    if (n < 2)
        return;
    int sum = 0;
    for (const ColumnHeader &h : headers)
        sum += h.width;
    if (sum >= total)
        return;
    const int extra = total - sum;
    const int q = extra / (n - 1);
    int r = extra % (n - 1);
    for (int c = 1; c < n; ++c) {
        headers[c].width += q;
        if (r > 0) {
            headers[c].width += 1;
            --r;
        }
        headers[c].minWidth = headers[c].width;
    }
    update();
}

QSize BasePointsTable::sizeHint() const
{
    int w = 0;
    for (const ColumnHeader &h : headers)
        w += h.width;
    return QSize(w + 1, headerHeight + 1 + rows.size() * rowHeight);
}

void BasePointsTable::toggleSelection(BasePointRow *row)
{
    if (!row)
        return;
    row->selected = !row->selected;
    basePointSelected = row->selected;
    const QColor colour = row->selected ? basePointSelectedColor()
                          : row->measured ? basePointMeasuredColor()
                                          : QColor(Qt::white);
    for (Cell *cell : row->cells) {
        if (cell)
            cell->background = colour;
    }
}

void BasePointsTable::commitEdit()
{
    if (editing && activeEditor)
        emit activeEditor->editingFinished();
}

int BasePointsTable::columnLeft(int column) const
{
    int x = 0;
    for (int c = 0; c < column && c < headers.size(); ++c)
        x += headers[c].width;
    return x;
}

int BasePointsTable::headerColumnAt(int px) const
{
    int x = 0;
    for (int c = 0; c < headers.size(); ++c) {
        if (px >= x && px <= x + headers[c].width + 5)
            return c;
        x += headers[c].width;
    }
    return -1;
}

namespace {

// Natural order for names when the platform's collator cannot compare digits
// by value (the C locale): runs of digits compare as numbers, the rest
// case-insensitively.
int naturalCompare(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ie = i, je = j;
            while (ie < a.size() && a[ie].isDigit())
                ++ie;
            while (je < b.size() && b[je].isDigit())
                ++je;
            // Compare the digit runs without leading zeros, by length first.
            int is = i, js = j;
            while (is < ie - 1 && a[is] == QLatin1Char('0'))
                ++is;
            while (js < je - 1 && b[js] == QLatin1Char('0'))
                ++js;
            if (ie - is != je - js)
                return (ie - is) < (je - js) ? -1 : 1;
            const int r = QStringRef(&a, is, ie - is).compare(QStringRef(&b, js, je - js));
            if (r != 0)
                return r;
            i = ie;
            j = je;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return a.compare(b);
}

// Negative, zero or positive as a sorts before, with or after b ascending.
struct RowKeyCompare
{
    int column;
    QCollator collator;
    bool collatorIsNumeric = true;

    int compare(const BasePointRow *a, const BasePointRow *b) const
    {
        switch (column) {
        case NumberColumn: {
            const int ka = a->textCell(column) ? a->textCell(column)->text.toInt() : 0;
            const int kb = b->textCell(column) ? b->textCell(column)->text.toInt() : 0;
            return ka < kb ? -1 : ka > kb ? 1 : 0;
        }
        case NameColumn: {
            const QString ka = a->textCell(column) ? a->textCell(column)->text : QString();
            const QString kb = b->textCell(column) ? b->textCell(column)->text : QString();
            return collatorIsNumeric ? collator.compare(ka, kb) : naturalCompare(ka, kb);
        }
        case UsedColumn: {
            const bool ka = a->usedCell() && a->usedCell()->checked;
            const bool kb = b->usedCell() && b->usedCell()->checked;
            return int(ka) - int(kb);
        }
        default: {
            // Weight and results: "----", empty texts and texts with a comma
            // read as 0.0.
            const double ka = numericKey(a);
            const double kb = numericKey(b);
            return ka < kb ? -1 : ka > kb ? 1 : 0;
        }
        }
    }

    double numericKey(const BasePointRow *row) const
    {
        return row->textCell(column) ? row->textCell(column)->text.toDouble() : 0.0;
    }
};

} // namespace

void BasePointsTable::sortByColumn(int column)
{
    if (column < 0 || column >= headers.size())
        return;
    headers[column].descending = !headers[column].descending;
    const bool descending = headers[column].descending;
    RowKeyCompare cmp{column, QCollator()};
    cmp.collator.setNumericMode(true);
    cmp.collatorIsNumeric = cmp.collator.compare(QStringLiteral("2"), QStringLiteral("10")) < 0;
    commitEdit();
    std::sort(rows.begin(), rows.end(), [&](const BasePointRow *a, const BasePointRow *b) {
        if (column >= WeightColumn) {
            // A "nan" text orders with nothing; it goes after every number.
            const double ka = cmp.numericKey(a), kb = cmp.numericKey(b);
            if (std::isnan(ka) || std::isnan(kb))
                return !std::isnan(ka) && std::isnan(kb);
            return descending ? ka > kb : ka < kb;
        }
        const int r = cmp.compare(a, b);
        return descending ? r > 0 : r < 0;
    });
    for (int i = 0; i < rows.size(); ++i)
        rows[i]->position = i;
    update();
}

void BasePointsTable::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QRect dirty = event->rect();

    painter.setFont(headerFont());
    int x = 0;
    for (int c = 0; c < headers.size(); ++c) {
        const QRect r(x, 0, headers[c].width, headerHeight);
        painter.fillRect(r, c == pressedColumn ? pressedHeaderColor : headerColor);
        painter.drawRect(r);
        painter.drawText(r, Qt::AlignCenter, headers[c].text);
        x += headers[c].width;
    }

    // Only the rows that meet the area to repaint: inside the scroll area a
    // long table is mostly out of sight. Outlines reach one pixel past a
    // cell, hence the row before the first one.
    painter.setFont(cellFont());
    if (rowHeight > 0 && !rows.isEmpty()) {
        const int first = std::max(0, (dirty.top() - headerHeight) / rowHeight - 1);
        const int last = std::min(int(rows.size()) - 1, (dirty.bottom() - headerHeight) / rowHeight + 1);
        for (int i = first; i <= last; ++i) {
            BasePointRow *row = rows[i];
            const int y = headerHeight + i * rowHeight;
            x = 0;
            for (int c = 0; c < headers.size(); ++c) {
                const QRect r(x, y, headers[c].width, rowHeight);
                if (c < row->cells.size() && row->cells[c])
                    row->cells[c]->paint(painter, r);
                x += headers[c].width;
            }
        }
    }
    painter.end();

    setMinimumSize(sizeHint());
}

void BasePointsTable::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->pos();

    if (testAttribute(Qt::WA_SetCursor) && cursor().shape() == Qt::SplitHCursor
        && resizeColumnIndex >= 0 && resizeColumnIndex < headers.size()) {
        // The editor would stay where it is while its cell moves.
        commitEdit();
        resizing = true;
        pressX = p.x();
        pressWidth = headers[resizeColumnIndex].width;
        return;
    }

    if (p.y() >= headerHeight) {
        if (rowHeight <= 0)
            return;
        const int index = (p.y() - headerHeight) / rowHeight;
        if (index < 0 || index >= rows.size())
            return;
        int column = -1;
        int x = 0;
        for (int c = 0; c < headers.size(); ++c) {
            if (p.x() >= x && p.x() < x + headers[c].width) {
                column = c;
                break;
            }
            x += headers[c].width;
        }
        if (column < 0)
            return;
        BasePointRow *row = rows[index];
        Cell *cell = column < row->cells.size() ? row->cells[column] : nullptr;
        if (!cell)
            return;
        const QRect rect(x, headerHeight + index * rowHeight, headers[column].width, rowHeight);
        switch (cell->column) {
        case NumberColumn:
            if (measuring)
                break;
            if (row == currentRow) {
                currentRow = nullptr;
                toggleSelection(row);
                emit deselected();
            } else {
                if (currentRow)
                    toggleSelection(currentRow);
                currentRow = row;
                toggleSelection(row);
                emit selected();
            }
            break;
        case UsedColumn:
        case WeightColumn:
            cell->mousePress(event, rect);
            break;
        default:
            return;
        }
        update();
        return;
    }

    const int c = headerColumnAt(p.x());
    if (c < 0)
        return;
    sortByColumn(c);
    pressedColumn = c;
}

void BasePointsTable::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->pos();
    if (resizing && resizeColumnIndex >= 0 && resizeColumnIndex < headers.size()) {
        ColumnHeader &h = headers[resizeColumnIndex];
        const int w = pressWidth - pressX + p.x();
        h.width = std::max(w, h.minWidth);
        update();
        updateGeometry();
        emit resizeColumn();
        return;
    }
    if (p.y() < headerHeight) {
        const int c = headerColumnAt(p.x());
        if (c < 0) {
            unsetCursor();
            return;
        }
        // Column 0 has no drag handle.
        if (c == 0) {
            unsetCursor();
            return;
        }
        const int right = columnLeft(c) + headers[c].width;
        if (std::abs(p.x() - right) <= 5) {
            setCursor(Qt::SplitHCursor);
            resizeColumnIndex = c;
        } else {
            unsetCursor();
        }
        return;
    }
    unsetCursor();
}

void BasePointsTable::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (pressedColumn >= 0) {
        const int c = pressedColumn;
        pressedColumn = -1;
        if (c < headers.size())
            update(QRect(columnLeft(c), 0, headers[c].width, headerHeight));
    }
    if (resizing) {
        resizing = false;
        resizeColumnIndex = -1;
        unsetCursor();
    }
}
