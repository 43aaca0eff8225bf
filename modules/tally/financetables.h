#pragma once
// The grid columns of the finance tables: field, title and width, in the order the windows
// show them.

#include <QList>
#include <QString>

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

// Puts the columns on a grid (replacing what it had) and freezes the first one.
void setGridColumns(tessera::TDBGridEh *grid, const QList<GridColumn> &columns);

} // namespace tally
