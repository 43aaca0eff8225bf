#pragma once

#include "baseforms/datasource.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QColor>
#include <QList>
#include <QPointer>
#include <QTableView>
#include <vector>

class QLineEdit;

namespace tessera {

class IniFile;
class TDBGridEh;
class TUIConfig;

enum class FooterValueType { None, Sum, Count, StaticText };

// One column of a grid: the field it shows and how.
class TColumnEh : public QObject
{
    Q_OBJECT
public:
    TColumnEh(TDBGridEh *grid, const QString &fieldName);

    QString FieldName;
    QString TitleCaption; // empty: the field name
    int Width = 80;
    bool Visible = true;
    bool ReadOnly = false;
    // The width is the user's (dragged, or restored from a layout file): the grid keeps it
    // instead of fitting the column to its contents, and the layout file saves it.
    bool UserSized = false;
    // Shows the value as a check box; for non-Boolean fields the texts below mean checked
    // and unchecked.
    bool Checkboxes = false;
    QString CheckedValue = QStringLiteral("1");
    QString UncheckedValue = QStringLiteral("0");
    FooterValueType FooterType = FooterValueType::None;
    QString FooterText; // the static footer text
    QList<QAction *> EditButtons;

    int index() const;
    int fieldIndex() const; // index in the data source's fields, -1 when missing
    QString title() const { return TitleCaption.isEmpty() ? FieldName : TitleCaption; }
    // Adds an edit button (an action the user triggers from the cell); the grid owns it.
    QAction *addEditButton();

private:
    TDBGridEh *m_grid;
};

namespace detail {
class GridModel;
class GridHeader;
class GridFooter;
class GridView;
} // namespace detail

// A data grid over a data source: title buttons with local sorting, a filter row in the
// title, one footer row with sums, multi-selection kept as bookmarks, check-box columns,
// a frozen first column, read-only and editing modes, Enter acting as Tab, even/odd/fixed
// colours and a column layout that is saved to and restored from an ini section.
class TDBGridEh : public QWidget
{
    Q_OBJECT

public:
    explicit TDBGridEh(QWidget *parent = nullptr);
    ~TDBGridEh() override;

    void setDataSource(TDataSource *source);
    TDataSource *DataSource() const { return m_source; }

    // Columns. Without explicit columns the grid shows every field of the data source.
    QList<TColumnEh *> Columns() const { return m_columns; }
    TColumnEh *addColumn(const QString &fieldName, const QString &title = {}, int width = 80);
    TColumnEh *columnByField(const QString &fieldName) const;
    void clearColumns();
    // Builds one column per field (what the grid does itself when no column was added).
    void buildDefaultColumns();

    // Options that the forms switch.
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool on);
    bool MultiSelect() const { return m_multiSelect; }
    void setMultiSelect(bool on);
    bool AlwaysShowEditor() const { return m_alwaysShowEditor; }
    void setAlwaysShowEditor(bool on);
    bool EnterAsTab() const { return m_enterAsTab; }
    void setEnterAsTab(bool on) { m_enterAsTab = on; }
    bool RowHighlight() const { return m_rowHighlight; }
    void setRowHighlight(bool on) { m_rowHighlight = on; }
    bool TitleButtons() const { return m_titleButtons; }
    void setTitleButtons(bool on);
    bool LocalSorting() const { return m_localSort; }
    void setLocalSorting(bool on) { m_localSort = on; }
    int FrozenCols() const { return m_frozenCols; }
    void setFrozenCols(int count);

    // Filter row (shown in the title).
    bool FilterRowVisible() const { return m_filterVisible; }
    void setFilterRowVisible(bool on);
    // Sets the filter text of a column, as if typed in the filter row.
    void setFilterText(int column, const QString &text);
    QString filterText(int column) const;
    void clearFilter();

    // Footer: number of footer rows (0 or 1) and whether sums are computed.
    int FooterRowCount() const { return m_footerRows; }
    void setFooterRowCount(int rows);
    bool SumListActive() const { return m_sumActive; }
    void setSumListActive(bool on);
    // The footer value of a column as shown (empty when the column has no footer value).
    QString footerText(int column) const;
    // Drops the computed sums; the next footer read computes them again.
    void recalcFooter();
    // The computed sum of a column over the rows that pass the filter.
    double footerSum(int column) const;

    // Sorting on the client: the rows shown reorder, the data stays as it is.
    void sortByColumn(int column, Qt::SortOrder order);
    // Adds a column to the sort keys (or changes its order when it is one already).
    void addSortColumn(int column, Qt::SortOrder order);
    QList<QPair<int, Qt::SortOrder>> sortKeys() const;
    void setSortKeys(const QList<QPair<int, Qt::SortOrder>> &keys);
    int sortColumn() const;
    Qt::SortOrder sortOrder() const;

    // Rows as shown (after filter and sort).
    int visibleRowCount() const;
    // The data-source row shown at grid row `row`, and back (-1 when filtered out).
    int sourceRow(int row) const;
    int gridRow(int sourceRow) const;
    // The cell text as shown.
    QString cellText(int row, int column) const;

    // Multi-selection as bookmarks of the data source.
    QList<QVariant> SelectedRows() const;
    void selectAllRows();
    void clearSelectedRows();
    void selectRow(int row, bool on = true);
    // The selected rows (visible columns, tab-separated), or the current cell: what Ctrl+C
    // puts on the clipboard.
    QString selectionText() const;
    // Enter acting as Tab: the next visible column, then the first column of the next row.
    void moveToNextCell();

    // Colours.
    QColor EvenRowColor;
    QColor OddRowColor;
    QColor FixedColor;
    QColor FooterColor;
    void applyColors();

    // Standard look of the windows (colours from the configuration, options, sums).
    void applyStandardStyle(const TUIConfig &config);

    // Sizes every column the user has not sized to its title and the texts of its first
    // rows (what the grid does whenever new data is shown).
    void fitColumnsToContents();
    // On by default; off where the widths are given deliberately (the lookup dialog).
    bool FitColumns() const { return m_fitColumns; }
    void setFitColumns(bool on) { m_fitColumns = on; }

    // Layout: order, widths and visibility of the columns (by field name) in an ini
    // section. Restoring with `orderAndWidthsOnly` touches nothing else.
    void SaveColumnsLayout(IniFile &ini, const QString &section) const;
    void RestoreColumnsLayout(const IniFile &ini, const QString &section,
                              bool orderAndWidthsOnly = true);

    // Title and footer strip heights (for layouts and tests).
    int footerHeight() const;
    QLineEdit *filterEditor(int column) const;

signals:
    void columnEditButtonClicked(TColumnEh *column);

public:
    // The table view inside (cells, title with filter row); the footer sits below it.
    QTableView *view() const;
    QAbstractItemModel *gridModel() const;
    // The read-only overlay that keeps the first columns in place (nullptr when none).
    QTableView *frozenView() const { return m_frozen; }

private:
    friend class TColumnEh;
    friend class detail::GridModel;
    friend class detail::GridView;
    bool handleKey(QKeyEvent *event);
    void viewCurrentChanged(const QModelIndex &current);
    void rebuild();
    void columnsChanged();
    void syncFromSource(int sourceRow);
    void updateFrozen();
    void updateSelectionMode();
    void updateEditTriggers();

    QPointer<TDataSource> m_source;
    QList<TColumnEh *> m_columns;
    bool m_autoColumns = true;
    bool m_sizing = false; // the grid itself is setting column widths
    bool m_fitColumns = true;
    detail::GridModel *m_model = nullptr;
    detail::GridView *m_view = nullptr;
    detail::GridHeader *m_header = nullptr;
    detail::GridFooter *m_footer = nullptr;
    QTableView *m_frozen = nullptr;
    bool m_readOnly = false;
    bool m_multiSelect = false;
    bool m_alwaysShowEditor = false;
    bool m_enterAsTab = false;
    bool m_rowHighlight = false;
    bool m_titleButtons = true;
    bool m_localSort = true;
    bool m_filterVisible = false;
    bool m_sumActive = false;
    int m_footerRows = 0;
    int m_frozenCols = 0;
    bool m_syncing = false;
    // A restored layout kept for columns that are built later (from the dataset's fields).
    QList<QPair<QString, QString>> m_pendingLayout;
    void applyLayout(const QList<QPair<QString, QString>> &values, bool orderAndWidthsOnly);
};

// Keeps where the clerk was in a grid across a long operation that moves the dataset's
// cursor (a run over marked rows, a recalculation): the current record, the column and
// the scroll position come back when the keeper goes, as long as the data was not
// reloaded meanwhile.
class KeepGridPosition
{
public:
    explicit KeepGridPosition(TDBGridEh *grid);
    ~KeepGridPosition();
    KeepGridPosition(const KeepGridPosition &) = delete;
    KeepGridPosition &operator=(const KeepGridPosition &) = delete;

private:
    QPointer<TDBGridEh> m_grid;
    qint64 m_bookmark = -1;
    int m_column = -1;
    int m_vertical = 0;
    int m_horizontal = 0;
};

} // namespace tessera
