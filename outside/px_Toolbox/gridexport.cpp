#include "gridexport.h"

#include "baseforms/dbgrideh.h"
#include "host/errors.h"

#include <QFile>
#include <QHeaderView>
#include <QTableView>

#include <xlsxwriter.h>

namespace toolbox {

void writeGridToXlsx(const tessera::TDBGridEh *grid, const QString &fileName, const QString &title,
                     const QString &conditionDescr)
{
    const QByteArray path = QFile::encodeName(fileName);
    lxw_workbook *wb = workbook_new(path.constData());
    if (!wb)
        throw host::UserError(QStringLiteral("无法创建文件 %1").arg(fileName));
    lxw_worksheet *ws = workbook_add_worksheet(wb, "Sheet1");
    lxw_format *titleFmt = workbook_add_format(wb);
    format_set_bold(titleFmt);
    format_set_font_size(titleFmt, 14);
    format_set_align(titleFmt, LXW_ALIGN_CENTER);
    lxw_format *headFmt = workbook_add_format(wb);
    format_set_bold(headFmt);
    format_set_border(headFmt, LXW_BORDER_THIN);
    format_set_bg_color(headFmt, 0xDADAFD);
    format_set_align(headFmt, LXW_ALIGN_CENTER);
    lxw_format *cellFmt = workbook_add_format(wb);
    format_set_border(cellFmt, LXW_BORDER_THIN);
    lxw_format *footFmt = workbook_add_format(wb);
    format_set_bold(footFmt);
    format_set_border(footFmt, LXW_BORDER_THIN);

    // Visible columns in the order shown.
    const QTableView *view = grid->view();
    const QHeaderView *header = view->horizontalHeader();
    QList<int> columns;
    for (int v = 0; v < header->count(); ++v) {
        const int logical = header->logicalIndex(v);
        if (!header->isSectionHidden(logical))
            columns << logical;
    }
    const auto gridColumns = grid->Columns();
    const auto *model = grid->gridModel();

    lxw_row_t row = 0;
    const auto lastCol = lxw_col_t(std::max<qsizetype>(0, columns.size() - 1));
    if (!title.isEmpty()) {
        const QByteArray t = title.toUtf8();
        if (lastCol > 0)
            worksheet_merge_range(ws, row, 0, row, lastCol, t.constData(), titleFmt);
        else
            worksheet_write_string(ws, row, 0, t.constData(), titleFmt);
        ++row;
    }
    if (!conditionDescr.isEmpty()) {
        worksheet_write_string(ws, row, 0, conditionDescr.toUtf8().constData(), nullptr);
        ++row;
    }
    for (int i = 0; i < columns.size(); ++i) {
        tessera::TColumnEh *c = gridColumns.value(columns[i]);
        const QString text =
            c ? c->title() : model->headerData(columns[i], Qt::Horizontal).toString();
        worksheet_write_string(ws, row, lxw_col_t(i), text.toUtf8().constData(), headFmt);
        const double width = view->columnWidth(columns[i]) / 7.0;
        worksheet_set_column(ws, lxw_col_t(i), lxw_col_t(i), std::clamp(width, 6.0, 60.0), nullptr);
    }
    ++row;

    const int rows = grid->visibleRowCount();
    for (int r = 0; r < rows; ++r, ++row) {
        for (int i = 0; i < columns.size(); ++i) {
            const QModelIndex idx = model->index(r, columns[i]);
            const QVariant raw = model->data(idx, Qt::EditRole);
            tessera::TColumnEh *c = gridColumns.value(columns[i]);
            const bool numeric =
                raw.isValid() && !raw.isNull() && c && !c->Checkboxes &&
                tessera::isNumericField(grid->DataSource()->fields().value(c->fieldIndex()).type);
            if (numeric) {
                worksheet_write_number(ws, row, lxw_col_t(i), raw.toDouble(), cellFmt);
            } else {
                QString text = grid->cellText(r, columns[i]);
                if (c && c->Checkboxes)
                    text = model->data(idx, Qt::CheckStateRole).toInt() == Qt::Checked
                               ? QStringLiteral("√")
                               : QString();
                worksheet_write_string(ws, row, lxw_col_t(i), text.toUtf8().constData(), cellFmt);
            }
        }
    }
    if (grid->FooterRowCount() > 0) {
        bool any = false;
        for (int i = 0; i < columns.size(); ++i)
            any = any || !grid->footerText(columns[i]).isEmpty();
        if (any) {
            for (int i = 0; i < columns.size(); ++i) {
                tessera::TColumnEh *c = gridColumns.value(columns[i]);
                const QString text = grid->footerText(columns[i]);
                if (c && c->FooterType == tessera::FooterValueType::Sum && !text.isEmpty())
                    worksheet_write_number(ws, row, lxw_col_t(i), grid->footerSum(columns[i]),
                                           footFmt);
                else
                    worksheet_write_string(ws, row, lxw_col_t(i), text.toUtf8().constData(),
                                           footFmt);
            }
        }
    }
    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR)
        throw host::UserError(QStringLiteral("无法写入文件 %1: %2")
                                  .arg(fileName, QString::fromUtf8(lxw_strerror(err))));
}

} // namespace toolbox
