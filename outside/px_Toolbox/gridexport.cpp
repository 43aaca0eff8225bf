#include "gridexport.h"

#include "baseforms/dbgrideh.h"
#include "host/errors.h"

#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QTableView>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>

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
    // Numbers with their column's decimals (amounts two, counts none) and dates as dates,
    // so that the sheet computes and sorts them as such.
    auto cellFormat = [wb](const char *numberFormat, bool bold) {
        lxw_format *f = workbook_add_format(wb);
        format_set_border(f, LXW_BORDER_THIN);
        format_set_num_format(f, numberFormat);
        if (bold)
            format_set_bold(f);
        return f;
    };
    lxw_format *amountFmt = cellFormat("0.00", false);
    lxw_format *countFmt = cellFormat("0", false);
    lxw_format *amountFootFmt = cellFormat("0.00", true);
    lxw_format *countFootFmt = cellFormat("0", true);
    lxw_format *dateTimeFmt = cellFormat("yyyy-mm-dd hh:mm:ss", false);
    lxw_format *dateFmt = cellFormat("yyyy-mm-dd", false);
    lxw_format *timeFmt = cellFormat("hh:mm:ss", false);
    using quillon::FieldType;
    auto decimalsOf = [](FieldType t) {
        return t == FieldType::Float || t == FieldType::Currency || t == FieldType::BCD
                       || t == FieldType::FMTBCD
                   ? 2
                   : 0;
    };
    auto rounded = [](double v, int decimals) {
        const double scale = decimals == 2 ? 100.0 : 1.0;
        return std::round(v * scale) / scale;
    };
    auto toLxw = [](const QDateTime &dt) {
        lxw_datetime d;
        d.year = dt.date().year();
        d.month = dt.date().month();
        d.day = dt.date().day();
        d.hour = dt.time().hour();
        d.min = dt.time().minute();
        d.sec = dt.time().second();
        return d;
    };

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
            const FieldType type = c ? grid->DataSource()->fields().value(c->fieldIndex()).type
                                     : FieldType::String;
            const bool value = raw.isValid() && !raw.isNull() && c && !c->Checkboxes;
            if (value && tessera::isNumericField(type)) {
                const int decimals = decimalsOf(type);
                worksheet_write_number(ws, row, lxw_col_t(i), rounded(raw.toDouble(), decimals),
                                       decimals ? amountFmt : countFmt);
            } else if (value && (type == FieldType::DateTime || type == FieldType::Date)
                       && raw.toDateTime().isValid()) {
                const QDateTime dt = raw.toDateTime();
                lxw_datetime d = toLxw(dt);
                const bool dayOnly = type == FieldType::Date || dt.time() == QTime(0, 0);
                worksheet_write_datetime(ws, row, lxw_col_t(i), &d, dayOnly ? dateFmt : dateTimeFmt);
            } else if (value && type == FieldType::Time && raw.toTime().isValid()) {
                lxw_datetime d = toLxw(QDateTime(QDate(1899, 12, 31), raw.toTime()));
                d.year = 0;
                d.month = 0;
                d.day = 0;
                worksheet_write_datetime(ws, row, lxw_col_t(i), &d, timeFmt);
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
                if (c && c->FooterType == tessera::FooterValueType::Sum && !text.isEmpty()) {
                    const int decimals =
                        decimalsOf(grid->DataSource()->fields().value(c->fieldIndex()).type);
                    worksheet_write_number(ws, row, lxw_col_t(i),
                                           rounded(grid->footerSum(columns[i]), decimals),
                                           decimals ? amountFootFmt : countFootFmt);
                }
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
