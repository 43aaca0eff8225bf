#pragma once
// 图表: a chart of a grid's rows as the user sees them (filter row applied): the count of
// rows, or the sum of a numeric column, grouped by a text column; drawn as bars or a pie
// (Qt Charts) and saved as a PNG picture.

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QPushButton;
class QChartView;

namespace tessera {

class TDBGridEh;

// One bar or slice.
struct ChartGroup
{
    QString label; // the group column's text as shown; "（空）" for empty cells
    double value = 0;
    int rows = 0;
};

// Groups the rows that `grid` shows by the text of column `groupColumn` and adds up the
// numeric column `valueColumn` (-1: counts rows). Groups come largest first (ties in
// label order). Columns are grid column indexes.
QList<ChartGroup> chartGroups(const TDBGridEh *grid, int groupColumn, int valueColumn);

// Keeps the `keep` largest groups and adds the rest up as one group "其他".
QList<ChartGroup> foldSmallGroups(const QList<ChartGroup> &groups, int keep);

// The grid columns that can group (texts, dates) and that can be summed (numbers).
QList<int> groupingColumns(const TDBGridEh *grid);
QList<int> numericColumns(const TDBGridEh *grid);

class TfChart : public QDialog
{
    Q_OBJECT
public:
    enum class Kind { Bar, Pie };

    // The grid is read when the dialog is built and whenever a choice changes.
    explicit TfChart(TDBGridEh *grid, const QString &title, QWidget *parent = nullptr);

    // Choices, as the combo boxes offer them (column indexes of the grid; -1 = count).
    void choose(int groupColumn, int valueColumn, Kind kind);
    int groupColumn() const;
    int valueColumn() const;
    Kind kind() const;
    // What is drawn now.
    const QList<ChartGroup> &groups() const { return m_groups; }
    // Writes the chart as PNG; false when the file cannot be written.
    bool savePng(const QString &fileName) const;

    QComboBox *cboGroup;
    QComboBox *cboValue;
    QComboBox *cboKind;
    QChartView *chartView;
    QPushButton *btnSave;
    QPushButton *btnClose;

private:
    void redraw();
    void saveClicked();

    TDBGridEh *m_grid;
    QString m_title;
    QList<ChartGroup> m_groups;
};

} // namespace tessera
