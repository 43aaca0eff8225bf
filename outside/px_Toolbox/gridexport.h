#pragma once

#include <QString>

namespace tessera {
class TDBGridEh;
}

namespace toolbox {

// Writes the grid as the user sees it into an .xlsx workbook: the title (merged over the
// columns), the condition description when there is one, the titles of the visible
// columns in their order, the rows that pass the grid's filter in the grid's order
// (numbers as numbers), and the footer row when the grid shows one. Throws
// host::UserError when the file cannot be written.
void writeGridToXlsx(const tessera::TDBGridEh *grid, const QString &fileName, const QString &title,
                     const QString &conditionDescr);

} // namespace toolbox
