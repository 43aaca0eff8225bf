#pragma once
// Internals of the data grid: the row-mapping model, the title with its filter row, the
// footer strip and the table view.

#include "baseforms/dbgrideh.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <vector>

namespace tessera::detail {

// The grid's columns over the data source's rows, after the client-side filter and sort.
class GridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit GridModel(TDBGridEh *grid);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Re-reads the source: fields, rows, filter and sort.
    void rebuild();
    void setSource(TDataSource *source);
    void setFilter(int column, const QString &text);
    QString filter(int column) const
    {
        return column < m_filters.size() ? m_filters[column] : QString();
    }
    void clearFilters();
    void setSortKeys(const QList<QPair<int, Qt::SortOrder>> &keys);
    QList<QPair<int, Qt::SortOrder>> sortKeys() const { return m_sortKeys; }
    int sortColumn() const { return m_sortKeys.isEmpty() ? -1 : m_sortKeys.first().first; }
    Qt::SortOrder sortOrder() const
    {
        return m_sortKeys.isEmpty() ? Qt::AscendingOrder : m_sortKeys.first().second;
    }

    int sourceRow(int row) const
    {
        return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)] : -1;
    }
    int gridRow(int sourceRow) const;
    QString text(int row, int column) const;
    double sum(int column) const;
    void invalidateSums() { m_sumsValid = false; }
    quillon::FieldType fieldType(int column) const;
    int fieldOf(int column) const
    {
        return column >= 0 && column < int(m_fieldOf.size()) ? m_fieldOf[size_t(column)] : -1;
    }

signals:
    void rowsRemapped();

private:
    void remap();
    void attachModel();
    void sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    bool passes(int sourceRow) const;
    QString format(const QVariant &value, quillon::FieldType type) const;

    TDBGridEh *m_grid;
    QPointer<TDataSource> m_source;
    QList<QMetaObject::Connection> m_connections;
    QList<QMetaObject::Connection> m_modelConnections;
    std::vector<int> m_rows;    // grid row -> source row
    std::vector<int> m_gridOf;  // source row -> grid row, -1 when filtered out
    std::vector<int> m_fieldOf; // column -> field index
    QList<quillon::FieldDef> m_fields;
    QStringList m_filters;
    QList<QPair<int, Qt::SortOrder>> m_sortKeys;
    mutable std::vector<double> m_sums;
    mutable bool m_sumsValid = false;
};

// The title row: column titles as buttons, with the filter row under them.
class GridHeader : public QHeaderView
{
    Q_OBJECT
public:
    explicit GridHeader(TDBGridEh *grid);
    void setFilterVisible(bool on);
    bool filterVisible() const { return m_filterVisible; }
    QLineEdit *editor(int logical) const;
    void syncEditors();
    int filterHeight() const;

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    void resizeEvent(QResizeEvent *event) override;

private:
    TDBGridEh *m_grid;
    bool m_filterVisible = false;
    QList<QLineEdit *> m_editors;
};

class GridFooter : public QWidget
{
    Q_OBJECT
public:
    GridFooter(TDBGridEh *grid, QTableView *view);
    QSize sizeHint() const override;
    // Widens every column whose footer value does not fit: a total never loses digits.
    void fitColumns();
    // Width a footer cell needs for its text (text and the cell's margins).
    int neededWidth(const QString &text) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TDBGridEh *m_grid;
    QTableView *m_view;
};

// How a click or key marks records in a grid with marks (multi-selection), the way
// check-list data entry works: the marks are the clerk's, not a side effect of moving
// about. A plain click on a cell moves the cursor and marks that record only when nothing
// is marked yet; Ctrl+click (or a click on the row number) toggles a mark; Shift+click
// marks a range; arrow keys move without touching the marks. Marks go only through
// 全选/反选, a new query or the toggles.
QItemSelectionModel::SelectionFlags markCommand(const TDBGridEh *grid, const QTableView *view,
                                                const QModelIndex &index, const QEvent *event,
                                                QItemSelectionModel::SelectionFlags standard);

class GridView : public QTableView
{
    Q_OBJECT
public:
    explicit GridView(TDBGridEh *grid);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    TDBGridEh *m_grid;
};

// The frozen columns, laid over the left edge of the view: they scroll with its rows but
// never sideways, so no sliver of another column shows in them.
class FrozenView : public QTableView
{
    Q_OBJECT
public:
    FrozenView(TDBGridEh *grid, QWidget *parent);
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    void scrollContentsBy(int dx, int dy) override;

private:
    TDBGridEh *m_grid;
};

} // namespace tessera::detail
