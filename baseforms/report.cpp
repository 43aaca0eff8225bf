#include "baseforms/report.h"

#include "baseforms/inifile.h"
#include "baseforms/reportpreview.h"
#include <QPageSize>
#include <QPainter>
#include "baseforms/sqltext.h"
#include "host/dialogpresenter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QToolBar>
#include <QToolButton>
#include <QAction>
#include <QPrinter>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextDocument>

namespace tessera {

TfrxReport::TfrxReport(QObject *parent)
    : QObject(parent)
{}

bool TfrxReport::LoadFromFile(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(f.readAll());
    if (utf8.hasError())
        return false;
    return loadFromText(text);
}

bool TfrxReport::loadFromText(const QString &text)
{
    IniFile ini;
    // The same rules as the ini reader, over text already in memory.
    QList<QPair<QString, QList<QPair<QString, QString>>>> sections;
    for (const QString &raw : splitLines(text)) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections.append({line.mid(1, line.size() - 2).trimmed(), {}});
            continue;
        }
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || sections.isEmpty())
            continue;
        sections.last().second.append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    for (const auto &s : sections)
        for (const auto &l : s.second)
            ini.setValue(s.first, l.first, l.second);

    if (!ini.hasSection(QStringLiteral("Report")))
        return false;
    QList<Column> columns;
    for (const auto &line : ini.values(QStringLiteral("Columns"))) {
        const QStringList parts = line.second.split(QLatin1Char(';'));
        Column c;
        c.field = parts.value(0).trimmed();
        if (c.field.isEmpty())
            return false;
        c.title = parts.value(1, c.field).trimmed();
        bool ok = false;
        const double w = parts.value(2).trimmed().toDouble(&ok);
        if (ok && w > 0)
            c.widthMm = w;
        const QString total = parts.value(3).trimmed().toLower();
        if (total == QStringLiteral("sum"))
            c.total = Total::Sum;
        else if (total == QStringLiteral("count"))
            c.total = Total::Count;
        columns << c;
    }
    if (columns.isEmpty())
        return false;
    m_columns = columns;
    m_title = ini.value(QStringLiteral("Report"), QStringLiteral("Title"));
    m_footer = ini.value(QStringLiteral("Report"), QStringLiteral("Footer"));
    m_landscape = ini.value(QStringLiteral("Report"), QStringLiteral("Orientation"))
                      .compare(QStringLiteral("Landscape"), Qt::CaseInsensitive) == 0;
    return true;
}

QString TfrxReport::expand(const QString &text) const
{
    static const QRegularExpression var(QStringLiteral("\\[([A-Za-z_][A-Za-z0-9_]*)\\]"));
    QString out;
    qsizetype last = 0;
    auto it = var.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += text.mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        if (name == QStringLiteral("Date"))
            out += QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        else if (name == QStringLiteral("Time"))
            out += QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        else
            out += m_vars.value(name);
        last = m.capturedEnd();
    }
    out += text.mid(last);
    return out;
}

QString TfrxReport::toHtml() const
{
    auto esc = [](const QString &s) { return s.toHtmlEscaped(); };
    double totalWidth = 0;
    for (const Column &c : m_columns)
        totalWidth += c.widthMm;
    QString html =
        QStringLiteral("<html><body style=\"font-family:'Noto Sans CJK SC',sans-serif;\">");
    html += QStringLiteral("<h2 align=\"center\">%1</h2>").arg(esc(expand(m_title)));
    html += QStringLiteral("<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\""
                           " style=\"border-collapse:collapse; font-size:9pt;\"><thead><tr>");
    for (const Column &c : m_columns)
        html += QStringLiteral("<th bgcolor=\"#dadafd\" width=\"%1%\">%2</th>")
                    .arg(int(100 * c.widthMm / totalWidth))
                    .arg(esc(c.title));
    html += QStringLiteral("</tr></thead><tbody>");

    QList<int> fieldOf;
    QList<quillon::FieldDef> fields = m_source ? m_source->fields() : QList<quillon::FieldDef>();
    for (const Column &c : m_columns)
        fieldOf << (m_source ? m_source->fieldIndex(c.field) : -1);
    QList<double> sums(m_columns.size(), 0.0);
    const int all = m_source ? m_source->recordCount() : 0;
    const int rows = m_hasRowOrder ? int(m_rowOrder.size()) : all;
    for (int i = 0; i < rows; ++i) {
        const int r = m_hasRowOrder ? m_rowOrder[i] : i;
        if (r < 0 || r >= all)
            continue;
        html += QStringLiteral("<tr>");
        for (int i = 0; i < m_columns.size(); ++i) {
            const int f = fieldOf[i];
            QVariant v = f >= 0 ? m_source->value(r, f) : QVariant();
            const bool numeric = f >= 0 && isNumericField(fields[f].type);
            if (numeric)
                sums[i] += v.toDouble();
            QString text;
            if (v.metaType().id() == QMetaType::QDateTime)
                text = v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            else
                text = v.toString();
            html += QStringLiteral("<td%1>%2</td>")
                        .arg(numeric ? QStringLiteral(" align=\"right\"") : QString(), esc(text));
        }
        html += QStringLiteral("</tr>");
    }
    bool hasTotals = false;
    for (const Column &c : m_columns)
        hasTotals = hasTotals || c.total != Total::None;
    if (hasTotals) {
        html += QStringLiteral("<tr>");
        for (int i = 0; i < m_columns.size(); ++i) {
            QString text;
            if (m_columns[i].total == Total::Sum) {
                const double s = sums[i];
                text = s == double(qint64(s)) ? QString::number(qint64(s))
                                              : QString::number(s, 'f', 2);
            } else if (m_columns[i].total == Total::Count) {
                text = QString::number(rows);
            } else if (i == 0) {
                text = QStringLiteral("合计");
            }
            html += QStringLiteral("<td align=\"right\"><b>%1</b></td>").arg(esc(text));
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</tbody></table>");
    if (!m_footer.isEmpty())
        html += QStringLiteral("<p>%1</p>").arg(esc(expand(m_footer)));
    html += QStringLiteral("</body></html>");
    return html;
}

namespace {
constexpr double kMargin = 28;      // points
constexpr double kTitleHeight = 34;
constexpr double kHeaderHeight = 18;

QFont reportFont(double sizePt, bool bold = false)
{
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(qMax(1, qRound(sizePt))); // the painter's unit is a point
    f.setBold(bold);
    return f;
}
} // namespace

QSizeF TfrxReport::pageSizePt() const
{
    const QSizeF a4 = QPageSize(QPageSize::A4).size(QPageSize::Point);
    return m_landscape ? a4.transposed() : a4;
}

int TfrxReport::printedRowCount() const
{
    const int all = m_source ? m_source->recordCount() : 0;
    return m_hasRowOrder ? int(m_rowOrder.size()) : all;
}

int TfrxReport::sourceRowAt(int printed) const
{
    const int all = m_source ? m_source->recordCount() : 0;
    const int r = m_hasRowOrder ? m_rowOrder.value(printed, -1) : printed;
    return r >= 0 && r < all ? r : -1;
}

bool TfrxReport::hasTotals() const
{
    for (const Column &c : m_columns)
        if (c.total != Total::None)
            return true;
    return false;
}

int TfrxReport::rowsOnFirstPage() const
{
    const double free = pageSizePt().height() - 2 * kMargin - kTitleHeight - kHeaderHeight;
    return qMax(1, int(free / kRowHeight));
}

int TfrxReport::rowsOnOtherPages() const
{
    const double free = pageSizePt().height() - 2 * kMargin - kHeaderHeight;
    return qMax(1, int(free / kRowHeight));
}

int TfrxReport::pageCount() const
{
    // The totals row and the footer line take the room of a row each after the last row.
    const int items = printedRowCount() + (hasTotals() ? 1 : 0) + (m_footer.isEmpty() ? 0 : 1);
    const int first = rowsOnFirstPage();
    if (items <= first)
        return 1;
    const int other = rowsOnOtherPages();
    return 1 + (items - first + other - 1) / other;
}

QPair<int, int> TfrxReport::pageRows(int page) const
{
    const int first = rowsOnFirstPage();
    const int begin = page == 0 ? 0 : first + (page - 1) * rowsOnOtherPages();
    const int end = page == 0 ? first : begin + rowsOnOtherPages();
    const int rows = printedRowCount();
    return {qMin(begin, rows), qMin(end, rows)};
}

QString TfrxReport::cellText(const QVariant &v) const
{
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (v.metaType().id() == QMetaType::Double)
        return QString::number(v.toDouble(), 'f', 2);
    return v.toString();
}

QStringList TfrxReport::totalsTexts() const
{
    QStringList out;
    QList<int> fieldOf;
    for (const Column &c : m_columns)
        fieldOf << (m_source ? m_source->fieldIndex(c.field) : -1);
    const int rows = printedRowCount();
    for (int i = 0; i < m_columns.size(); ++i) {
        const Column &c = m_columns[i];
        if (c.total == Total::Sum) {
            double s = 0;
            for (int p = 0; p < rows; ++p)
                if (const int r = sourceRowAt(p); r >= 0 && fieldOf[i] >= 0)
                    s += m_source->value(r, fieldOf[i]).toDouble();
            out << (s == double(qint64(s)) ? QString::number(qint64(s)) : QString::number(s, 'f', 2));
        } else if (c.total == Total::Count) {
            out << QString::number(rows);
        } else {
            out << (i == 0 ? QStringLiteral("合计") : QString());
        }
    }
    return out;
}

void TfrxReport::paintPage(QPainter &p, int page) const
{
    const QSizeF size = pageSizePt();
    const double width = size.width() - 2 * kMargin;
    double totalMm = 0;
    for (const Column &c : m_columns)
        totalMm += c.widthMm;
    QList<double> widths;
    for (const Column &c : m_columns)
        widths << (totalMm > 0 ? width * c.widthMm / totalMm : 0);
    const QList<quillon::FieldDef> fields = m_source ? m_source->fields() : QList<quillon::FieldDef>();
    QList<int> fieldOf;
    for (const Column &c : m_columns)
        fieldOf << (m_source ? m_source->fieldIndex(c.field) : -1);

    p.save();
    p.setPen(QPen(Qt::black, 0.5));
    double y = kMargin;
    if (page == 0) {
        p.setFont(reportFont(15, true));
        p.drawText(QRectF(kMargin, y, width, kTitleHeight - 6), Qt::AlignCenter, expand(m_title));
        y += kTitleHeight;
    }
    // One row of cells; numbers right-aligned, a text too long for its cell ends in "…".
    auto drawRow = [&](double top, double height, const QStringList &texts,
                       const QList<bool> &right, const QColor &fill) {
        double x = kMargin;
        for (int i = 0; i < widths.size(); ++i) {
            const QRectF cell(x, top, widths[i], height);
            if (fill.isValid())
                p.fillRect(cell, fill);
            p.drawRect(cell);
            const QRectF inner = cell.adjusted(2.5, 0, -2.5, 0);
            const QString t = p.fontMetrics().elidedText(texts.value(i), Qt::ElideRight,
                                                         int(inner.width()));
            p.drawText(inner, (right.value(i) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, t);
            x += widths[i];
        }
    };
    QStringList titles;
    for (const Column &c : m_columns)
        titles << c.title;
    p.setFont(reportFont(9, true));
    drawRow(y, kHeaderHeight, titles, {}, QColor(0xda, 0xda, 0xfd));
    y += kHeaderHeight;

    // The page's items: rows of the printed order, then the totals row, then the footer.
    const int rows = printedRowCount();
    const int items = rows + (hasTotals() ? 1 : 0) + (m_footer.isEmpty() ? 0 : 1);
    const int pageBegin = page == 0 ? 0 : rowsOnFirstPage() + (page - 1) * rowsOnOtherPages();
    const int pageEnd = qMin(items, pageBegin + (page == 0 ? rowsOnFirstPage() : rowsOnOtherPages()));
    for (int item = pageBegin; item < pageEnd; ++item) {
        if (item < rows) {
            const int r = sourceRowAt(item);
            if (r < 0)
                continue;
            QStringList texts;
            QList<bool> right;
            for (int c = 0; c < m_columns.size(); ++c) {
                const int f = fieldOf[c];
                texts << (f >= 0 ? cellText(m_source->value(r, f)) : QString());
                right << (f >= 0 && isNumericField(fields[f].type));
            }
            p.setFont(reportFont(8.5));
            drawRow(y, kRowHeight, texts, right, QColor());
        } else if (item == rows && hasTotals()) {
            p.setFont(reportFont(8.5, true));
            drawRow(y, kRowHeight, totalsTexts(), QList<bool>(m_columns.size(), true),
                    QColor(0xf2, 0xf2, 0xf2));
        } else {
            p.setFont(reportFont(9));
            p.drawText(QRectF(kMargin, y, width, kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       expand(m_footer));
        }
        y += kRowHeight;
    }
    p.setFont(reportFont(8));
    p.drawText(QRectF(kMargin, size.height() - kMargin + 4, width, 14), Qt::AlignCenter,
               QStringLiteral("第 %1 页 / 共 %2 页").arg(page + 1).arg(pageCount()));
    p.restore();
}

bool TfrxReport::print(QPrinter *printer, const std::function<bool(int, int)> &progress) const
{
    printer->setPageOrientation(m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer->setFullPage(true);
    QPainter p;
    if (!p.begin(printer))
        return false;
    const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
    const double scale = paper.width() / pageSizePt().width();
    const int pages = pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !printer->newPage())
            return false;
        p.save();
        p.scale(scale, scale);
        paintPage(p, i);
        p.restore();
        if (progress && !progress(i + 1, pages)) {
            p.end();
            return false;
        }
    }
    return p.end();
}

bool TfrxReport::exportToPdf(const QString &fileName) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setPageSize(QPageSize(QPageSize::A4));
    if (!print(&printer))
        return false;
    return QFile::exists(fileName) && QFileInfo(fileName).size() > 0;
}

void TfrxReport::exportToPdfAsked()
{
    QString file = host::dialogPresenter().chooseSaveFile(
        QStringLiteral("导出PDF"), expand(m_title).trimmed() + QStringLiteral(".pdf"),
        QStringLiteral("PDF 文件 (*.pdf)"));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        file += QStringLiteral(".pdf");
    if (exportToPdf(file))
        host::dialogPresenter().showMessage(host::MessageKind::Information, QStringLiteral("提示"),
                                            QStringLiteral("已导出到 %1").arg(file));
    else
        host::dialogPresenter().showMessage(
            host::MessageKind::Error, QStringLiteral("错误"),
            QStringLiteral("无法写入“%1”，请换一个文件夹或文件名再试。").arg(file));
}

void TfrxReport::ShowReport()
{
    ReportPreview dialog(this);
    host::dialogPresenter().execDialog(&dialog);
}

} // namespace tessera
