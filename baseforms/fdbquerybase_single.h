#pragma once

#include "baseforms/fdbbase.h"

class QGroupBox;
class QToolButton;

namespace tessera {

class TDataSource;
class TDBGridEh;
class TfrxReport;
class TRzGroupBox;
class TRzPanel;

namespace detail {
// The result grid of the query and batch forms: read-only, title, indicator, lines, one
// footer row with sums, local sorting and the filter row, the form's odd/fixed colours.
void designResultGrid(TDBGridEh *grid);
} // namespace detail

// Read-only query window with one result grid. Descendants put their conditions into the
// option panel and return the query from GetSql; export, print and chart are enabled while
// the result has rows.
class TfDBQueryBase_Single : public TfDBBase
{
    Q_OBJECT
public:
    explicit TfDBQueryBase_Single(QWidget *parent = nullptr);
    ~TfDBQueryBase_Single() override;

    QString ReportName;

    TRzPanel *pnlDBGrid;
    TRzGroupBox *gbDBGrid;
    TDBGridEh *DBGridData;
    TRzPanel *pnlTotal;
    TRzGroupBox *gbTotal;
    quillon::TMyDataSet *cdsData;
    TDataSource *dsData;
    TfrxReport *frxReport;
    QObject *frxDBDataset;
    QToolButton *tbQuery, *tbExcel, *tbPrint, *tbChart, *tbClose;

    void gbOptionClick() {}

protected:
    // Runs after the report is loaded and before it shows: set report variables here.
    virtual void BeforePrint() {}
    // The query of the window; an empty text reopens with the command text in force.
    virtual QString GetSql() { return {}; }

    void actQueryExecute() override;
    void actExportExecute();
    void actPrintExecute();
    bool hasData() const;
};

} // namespace tessera
