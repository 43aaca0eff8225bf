#pragma once

#include "baseforms/fdbbase.h"

class QToolButton;

namespace tessera {

class TDataSource;
class TDBGridEh;
class TfrxReport;
class TRzGroupBox;
class TRzPanel;
class TRzSizePanel;

// Batch editing window: one result set in a grid, new/edit/delete in place, saved to the
// server in one batch (or discarded as a whole). Descendants return the query from GetSql,
// post-process it in AfterQuery and bind cdsDataBeforePost to their dataset's BeforePost
// for the required-field check.
//
// Changes that were not saved are never dropped silently: closing the window (or the
// program, through CloseQueryAll) and a new query first ask whether to save, discard or
// stay.
class TfDBMultiBase_Batch : public TfDBBase
{
    Q_OBJECT
public:
    explicit TfDBMultiBase_Batch(QWidget *parent = nullptr);
    ~TfDBMultiBase_Batch() override;

    QString ReportName;

    TRzPanel *pnlDBGrid;
    TRzGroupBox *gbDBGrid;
    TDBGridEh *DBGridData;
    TRzSizePanel *rzszpnl1;
    TRzPanel *pnlDetail;
    TRzGroupBox *gbDetail;
    quillon::TMyDataSet *cdsData;
    TDataSource *dsData;
    TfrxReport *frxReport;
    QObject *frxDBDataset;
    QToolButton *tbQuery, *tbNew, *tbEdit, *tbDel, *tbSave, *tbCancel, *tbExcel, *tbClose;

    // The required-field check: the first required field with an empty value is reported
    // with its column title and "Msg17", the grid moves to that column and the post stops.
    void cdsDataBeforePost(quillon::TMyDataSet &dataSet);
    void gbDBGridClick() {}

    // Rows edited, added or deleted and not yet saved (a record being edited included).
    bool hasPendingChanges() const;
    bool CloseQuery() override;

protected:
    virtual void AfterQuery() {}
    virtual QString GetSql() { return {}; }

    void actQueryExecute() override;
    void actNewExecute();
    void actEditExecute();
    void actDelExecute();
    void actSaveExecute();
    void actCancelExecute();
    void actPrintExecute();
    void actExportExecute();

private:
    quillon::TMyDataSet *sourceDataSet() const;
    void focusGridForEditing();
    // Asks save / discard / stay for pending changes; false when the user stays (or the
    // save failed).
    bool resolvePendingChanges();
};

} // namespace tessera
