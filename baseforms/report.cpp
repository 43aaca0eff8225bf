#include "baseforms/report.h"

#include "baseforms/inifile.h"
#include "baseforms/sqltext.h"
#include "host/dialogpresenter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPrintPreviewDialog>
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

void TfrxReport::print(QPrinter *printer) const
{
    printer->setPageOrientation(m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    QTextDocument doc;
    doc.setHtml(toHtml());
    doc.print(printer);
}

bool TfrxReport::exportToPdf(const QString &fileName) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setPageSize(QPageSize(QPageSize::A4));
    print(&printer);
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
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintPreviewDialog dialog(&printer);
    dialog.setObjectName(QStringLiteral("frxPreview"));
    dialog.setWindowTitle(QStringLiteral("打印预览 - %1").arg(expand(m_title)));
    dialog.resize(1000, 700);
    // PDF export beside the preview's own buttons (the printer dialog can do it too, but
    // few users find it there).
    if (auto *bar = dialog.findChild<QToolBar *>()) {
        bar->addSeparator();
        QAction *pdf = bar->addAction(QStringLiteral("导出PDF"));
        pdf->setObjectName(QStringLiteral("actExportPdf"));
        pdf->setToolTip(QStringLiteral("把报表保存为 PDF 文件"));
        if (auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(pdf)))
            button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(pdf, &QAction::triggered, &dialog, [this] { exportToPdfAsked(); });
    }
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter *p) { print(p); });
    host::dialogPresenter().execDialog(&dialog);
}

} // namespace tessera
