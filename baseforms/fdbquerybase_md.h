#pragma once

#include "baseforms/fdbbase.h"

class QTabWidget;
class QToolButton;

namespace tessera {

class TDataSource;
class TDBGridEh;
class TfrxReport;
class TRzGroupBox;
class TRzPanel;

// Read-only query window with a summary page and a detail page. GetSql is the summary
// query; descendants open cdsDetail themselves (typically when the summary row changes).
// Export saves the grid of the page shown ("-汇总" / "-明细" after the window caption).
class TfDBQueryBase_MD : public TfDBBase
{
    Q_OBJECT
public:
    explicit TfDBQueryBase_MD(QWidget *parent = nullptr);
    ~TfDBQueryBase_MD() override;

    QString ReportName;

    TRzPanel *pnlDBGrid;
    TRzGroupBox *gbDBGrid;
    QTabWidget *pcDBGrid;
    QWidget *tsTotal;
    QWidget *tsDetail;
    TDBGridEh *DBGridTotal;
    TDBGridEh *DBGridDetail;
    TRzGroupBox *gbTotal;
    quillon::TMyDataSet *cdsTotal;
    TDataSource *dsTotal;
    quillon::TMyDataSet *cdsDetail;
    TDataSource *dsDetail;
    TfrxReport *frxReport;
    QObject *frxDBDataset;
    QToolButton *tbQuery, *tbExcel, *tbPrint, *tbChart, *tbClose;

protected:
    // The summary query; an empty text reopens with the command text in force.
    virtual QString GetSql() { return {}; }

    void actQueryExecute() override;
    void actExportExecute();
    void actPrintExecute();
    bool hasData() const;
};

} // namespace tessera
