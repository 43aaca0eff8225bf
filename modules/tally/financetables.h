#pragma once
// The grid columns of the finance tables: field, title and width, in the order the windows
// show them.

#include <QList>
#include <QString>
#include <QStringList>

namespace tessera {
class TDBGridEh;
}

namespace tally {

struct GridColumn
{
    const char *field;
    const char16_t *title;
    int width;
};

// Centre account lines (TAB_ACCOUNT), both windows.
const QList<GridColumn> &accountColumns();

// Pay-on-delivery records (TAB_DFKRECORD): the edit window's order, and the query
// window's with SIGNTIME and SIGNCENTER after ARRIVECTIME.
const QList<GridColumn> &dfkEditColumns();
const QList<GridColumn> &dfkQueryColumns();
// Delivery-fee records (TAB_DFPFRECORD), both windows.
const QList<GridColumn> &dfpfColumns();

// Puts the columns on a grid (replacing what it had) and freezes the first one; the
// columns of `sumFields` show their sum in the footer.
void setGridColumns(tessera::TDBGridEh *grid, const QList<GridColumn> &columns,
                    const QStringList &sumFields = {});

} // namespace tally
