#pragma once

#include "baseforms/datasource.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QPair>
#include <QSizeF>
#include <QString>
#include <functional>

class QPainter;
class QPrinter;
class QTextDocument;

namespace tessera {

// A printed list report: title, column headers, one detail row per record of its data
// source bound to fields, and a totals row. Definitions are files under "_report"; the
// format is described in docs/reports.md. Texts may hold variables written [Name], which
// the window fills before printing.
class TfrxReport : public QObject
{
    Q_OBJECT
public:
    enum class Total { None, Sum, Count };
    struct Column
    {
        QString field;
        QString title;
        double widthMm = 25;
        Total total = Total::None;
    };

    explicit TfrxReport(QObject *parent = nullptr);

    // Reads a definition; false (and the previous definition kept) when the file cannot be
    // read or is not a report definition.
    bool LoadFromFile(const QString &fileName);
    // Parses a definition from text; false when it is not one.
    bool loadFromText(const QString &text);

    void setDataSource(TDataSource *source) { m_source = source; }
    // Prints these rows of the data source, in this order (a grid's rows as filtered and
    // sorted), instead of every row in the data source's order.
    void setRowOrder(const QList<int> &rows)
    {
        m_rowOrder = rows;
        m_hasRowOrder = true;
    }
    void clearRowOrder()
    {
        m_rowOrder.clear();
        m_hasRowOrder = false;
    }
    TDataSource *dataSource() const { return m_source; }

    void setVariable(const QString &name, const QString &value) { m_vars.insert(name, value); }
    QString variable(const QString &name) const { return m_vars.value(name); }

    QString title() const { return m_title; }
    bool landscape() const { return m_landscape; }
    QList<Column> columns() const { return m_columns; }

    // The report as HTML (the same content as printed, for mail and tests).
    QString toHtml() const;
    // Writes a PDF; false when the file cannot be written.
    bool exportToPdf(const QString &fileName) const;
    // Print preview through the dialog presenter; the previous preparation is dropped. The
    // preview lays out pages as they are looked at, so the first page shows at once
    // however many rows the report has.
    void ShowReport();
    // Prints every page; `progress` (pages done, pages in all) is asked after each page
    // and stops the printing when it answers false. False when stopped.
    bool print(QPrinter *printer,
               const std::function<bool(int done, int total)> &progress = {}) const;

    // Pages of A4 in points (1/72 inch), rows of fixed height: the page of any row is known
    // without laying out the rows before it.
    static constexpr double kRowHeight = 14;
    QSizeF pageSizePt() const;
    int pageCount() const;
    // Draws one page (from 0) with the painter's unit being one point.
    void paintPage(QPainter &painter, int page) const;
    // The rows (indexes into the printed order) that a page holds.
    QPair<int, int> pageRows(int page) const;
    // The preview's 导出PDF button: asks for a file and writes it.
    void exportToPdfAsked();

private:
    QString expand(const QString &text) const;
    int printedRowCount() const;
    int sourceRowAt(int printed) const;
    int rowsOnFirstPage() const;
    int rowsOnOtherPages() const;
    bool hasTotals() const;
    QString cellText(const QVariant &value) const;
    QStringList totalsTexts() const;

    QString m_title;
    QString m_footer;
    bool m_landscape = false;
    QList<Column> m_columns;
    QMap<QString, QString> m_vars;
    QPointer<TDataSource> m_source;
    QList<int> m_rowOrder;
    bool m_hasRowOrder = false;
};

} // namespace tessera
