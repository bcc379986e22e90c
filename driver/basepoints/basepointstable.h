#pragma once
// A small custom-painted table of base points: header strip, grid, column
// sizing by content and by dragging a header border, sorting by any column,
// row selection through the number cell, a Used check box and an in-place
// weight editor. GUI thread only.

#include <QColor>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>
#include <QWidget>

class QLineEdit;
class QMouseEvent;
class QPainter;
class BasePointsTable;

// The process-wide "a base point is selected for measurement" flag, kept by
// the table's selection; defined with the main window.
extern bool basePointSelected;

// Column indices of the base points table.
enum BasePointColumn {
    NumberColumn = 0,
    NameColumn = 1,
    UsedColumn = 2,
    WeightColumn = 3,
    DXColumn = 4,
    DYColumn = 5,
    DZColumn = 6,
    DColumn = 7,
    BasePointColumnCount = 8,
};

// Row colours.
QColor basePointSelectedColor();  // sky blue
QColor basePointMeasuredColor();  // pale yellow

class Cell
{
public:
    virtual ~Cell();
    // Fills the rectangle with the background and outlines it with the
    // painter's current pen.
    virtual void paint(QPainter &painter, const QRect &rect);
    virtual void mousePress(QMouseEvent *event, const QRect &rect);

    int column = -1;
    QColor background = Qt::white;
};

class TextCell : public Cell
{
public:
    explicit TextCell(const QString &text = QString());
    void paint(QPainter &painter, const QRect &rect) override;

    QString text;
};

class CheckBoxCell : public Cell
{
public:
    explicit CheckBoxCell(bool checked = true);
    void paint(QPainter &painter, const QRect &rect) override;
    // Flips the box when the click lies in the cell.
    void mousePress(QMouseEvent *event, const QRect &rect) override;

    bool checked = true;
};

// The weight cell: a click opens a line edit over it, restricted to 0.0 to
// 1.0 with three decimals; the text is taken over when editing finishes.
class EditCell : public QObject, public TextCell
{
    Q_OBJECT

public:
    EditCell(const QString &text, BasePointsTable *table);
    ~EditCell() override;
    void mousePress(QMouseEvent *event, const QRect &rect) override;

    QLineEdit *editor = nullptr;
    BasePointsTable *table = nullptr;

private:
    void commit();
};

// One row; owned by the table, owns its cells.
struct BasePointRow
{
    BasePointRow();
    ~BasePointRow();
    BasePointRow(const BasePointRow &) = delete;
    BasePointRow &operator=(const BasePointRow &) = delete;

    bool selected = false;
    bool measured = false;
    QVector<Cell *> cells;   // one per column, in column order
    int position = -1;       // index in the table's current order
    double knownX = 0.0;
    double knownY = 0.0;
    double knownZ = 0.0;
    double measuredX = 0.0;
    double measuredY = 0.0;
    double measuredZ = 0.0;

    TextCell *textCell(int column) const;
    CheckBoxCell *usedCell() const;
    EditCell *weightCell() const;
};

struct ColumnHeader
{
    QString text;
    int width = 0;
    int minWidth = 0;
    bool descending = true; // flipped before each sort: the first click sorts ascending
};

class BasePointsTable : public QWidget
{
    Q_OBJECT

public:
    explicit BasePointsTable(QWidget *parent = nullptr);
    ~BasePointsTable() override;

    void addColumn(const QString &text);
    // Takes ownership of a filled row and appends it.
    void addRow(BasePointRow *row);
    void updateColumnWidths();
    void stretchColumns(int total);
    int contentWidth(int column) const;
    QSize sizeHint() const override;
    void toggleSelection(BasePointRow *row);
    static QSize headerTextSize(const QString &text);
    // Sorts by the column, flipping its direction as a header click does.
    // An open weight editor is committed first. Texts that read as "nan"
    // sort last in either direction.
    void sortByColumn(int column);
    // Takes over the text of an open weight editor into its own cell, as
    // losing focus would; done before anything moves the cells under it.
    void commitEdit();

    // The column whose header span [x, x + width + 5] first contains x, or -1.
    int headerColumnAt(int x) const;
    // Left edge of a column.
    int columnLeft(int column) const;

    QVector<ColumnHeader> headers;
    QVector<BasePointRow *> rows;
    BasePointRow *currentRow = nullptr;
    QLineEdit *activeEditor = nullptr;
    bool resizing = false;
    bool measuring = false;
    bool editing = false;
    int resizeColumnIndex = -1;
    int pressX = -1;
    int pressWidth = -1;
    int headerHeight = -1;
    int rowHeight = -1;
    int pressedColumn = -1;

signals:
    void resizeColumn();
    void updateTableSignal();
    void selected();
    void deselected();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Widens the columns for the texts of one new row.
    void widenForRow(const BasePointRow *row);
};
