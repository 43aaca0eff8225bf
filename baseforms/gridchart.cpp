#include "baseforms/gridchart.h"

#include "baseforms/datasource.h"
#include "baseforms/dbgrideh.h"
#include "host/dialogpresenter.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMap>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tessera {

namespace {

constexpr int kMaxBars = 15;
constexpr int kMaxSlices = 8;

quillon::FieldType fieldTypeOf(const TDBGridEh *grid, int column)
{
    const TColumnEh *c = grid->Columns().value(column);
    const TDataSource *source = grid->DataSource();
    const int f = c ? c->fieldIndex() : -1;
    if (!source || f < 0)
        return quillon::FieldType::String;
    return source->fields().at(f).type;
}

QString numberText(double v)
{
    return v == double(qint64(v)) ? QString::number(qint64(v)) : QString::number(v, 'f', 2);
}

} // namespace

QList<int> groupingColumns(const TDBGridEh *grid)
{
    QList<int> out;
    const auto columns = grid->Columns();
    for (int c = 0; c < columns.size(); ++c) {
        if (!columns[c]->Visible || columns[c]->fieldIndex() < 0)
            continue;
        const quillon::FieldType t = fieldTypeOf(grid, c);
        if (!isNumericField(t) && t != quillon::FieldType::Blob && t != quillon::FieldType::Memo)
            out << c;
    }
    return out;
}

QList<int> numericColumns(const TDBGridEh *grid)
{
    QList<int> out;
    const auto columns = grid->Columns();
    // Check-box columns (a selection mark, a flag) hold numbers but nothing to add up.
    for (int c = 0; c < columns.size(); ++c)
        if (columns[c]->Visible && !columns[c]->Checkboxes && columns[c]->fieldIndex() >= 0
            && isNumericField(fieldTypeOf(grid, c)))
            out << c;
    return out;
}

QList<ChartGroup> chartGroups(const TDBGridEh *grid, int groupColumn, int valueColumn)
{
    QMap<QString, ChartGroup> byLabel;
    const TDataSource *source = grid->DataSource();
    const TColumnEh *valueCol = valueColumn >= 0 ? grid->Columns().value(valueColumn) : nullptr;
    const int valueField = valueCol ? valueCol->fieldIndex() : -1;
    const int rows = grid->visibleRowCount();
    for (int r = 0; r < rows; ++r) {
        QString label = grid->cellText(r, groupColumn).trimmed();
        if (label.isEmpty())
            label = QStringLiteral("（空）");
        ChartGroup &g = byLabel[label];
        g.label = label;
        ++g.rows;
        if (valueField >= 0 && source) {
            const int sourceRow = grid->sourceRow(r);
            if (sourceRow >= 0)
                g.value += source->value(sourceRow, valueField).toDouble();
        } else {
            g.value += 1;
        }
    }
    QList<ChartGroup> out = byLabel.values(); // label order
    std::stable_sort(out.begin(), out.end(),
                     [](const ChartGroup &a, const ChartGroup &b) { return a.value > b.value; });
    return out;
}

QList<ChartGroup> foldSmallGroups(const QList<ChartGroup> &groups, int keep)
{
    if (groups.size() <= keep)
        return groups;
    QList<ChartGroup> out = groups.mid(0, keep - 1);
    ChartGroup rest;
    rest.label = QStringLiteral("其他");
    for (int i = keep - 1; i < groups.size(); ++i) {
        rest.value += groups[i].value;
        rest.rows += groups[i].rows;
    }
    out << rest;
    return out;
}

TfChart::TfChart(TDBGridEh *grid, const QString &title, QWidget *parent)
    : QDialog(parent)
    , m_grid(grid)
    , m_title(title)
{
    setObjectName(QStringLiteral("fChart"));
    setWindowTitle(QStringLiteral("图表 - %1").arg(title));
    resize(900, 600);
    auto *layout = new QVBoxLayout(this);
    auto *choices = new QHBoxLayout;
    cboGroup = new QComboBox(this);
    cboGroup->setObjectName(QStringLiteral("cboGroup"));
    cboValue = new QComboBox(this);
    cboValue->setObjectName(QStringLiteral("cboValue"));
    cboKind = new QComboBox(this);
    cboKind->setObjectName(QStringLiteral("cboKind"));
    const auto columns = grid->Columns();
    for (int c : groupingColumns(grid))
        cboGroup->addItem(columns[c]->title(), c);
    cboValue->addItem(QStringLiteral("记录数"), -1);
    for (int c : numericColumns(grid))
        cboValue->addItem(QStringLiteral("合计：%1").arg(columns[c]->title()), c);
    cboKind->addItem(QStringLiteral("柱状图"), int(Kind::Bar));
    cboKind->addItem(QStringLiteral("饼图"), int(Kind::Pie));
    choices->addWidget(new QLabel(QStringLiteral("分组："), this));
    choices->addWidget(cboGroup);
    choices->addSpacing(12);
    choices->addWidget(new QLabel(QStringLiteral("统计："), this));
    choices->addWidget(cboValue);
    choices->addSpacing(12);
    choices->addWidget(new QLabel(QStringLiteral("图形："), this));
    choices->addWidget(cboKind);
    choices->addStretch();
    layout->addLayout(choices);

    chartView = new QChartView(this);
    chartView->setObjectName(QStringLiteral("chartView"));
    chartView->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(chartView, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btnSave = new QPushButton(QStringLiteral("保存图片…"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("关闭"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnSave, &QPushButton::clicked, this, &TfChart::saveClicked);
    for (QComboBox *box : {cboGroup, cboValue, cboKind})
        connect(box, &QComboBox::currentIndexChanged, this, &TfChart::redraw);
    // A money or weight column says more than a bare count: start with the first one.
    if (cboValue->count() > 1)
        cboValue->setCurrentIndex(1);
    redraw();
}

void TfChart::choose(int groupColumn, int valueColumn, Kind kind)
{
    cboGroup->setCurrentIndex(cboGroup->findData(groupColumn));
    cboValue->setCurrentIndex(cboValue->findData(valueColumn));
    cboKind->setCurrentIndex(cboKind->findData(int(kind)));
    redraw();
}

int TfChart::groupColumn() const
{
    return cboGroup->currentData().isValid() ? cboGroup->currentData().toInt() : -1;
}

int TfChart::valueColumn() const
{
    return cboValue->currentData().isValid() ? cboValue->currentData().toInt() : -1;
}

TfChart::Kind TfChart::kind() const
{
    return Kind(cboKind->currentData().toInt());
}

void TfChart::redraw()
{
    auto *chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    const int group = groupColumn();
    m_groups = group >= 0 ? chartGroups(m_grid, group, valueColumn()) : QList<ChartGroup>();
    const QString what = cboValue->currentText();
    chart->setTitle(QStringLiteral("%1：按%2统计%3").arg(m_title, cboGroup->currentText(), what));
    if (kind() == Kind::Pie) {
        auto *series = new QPieSeries;
        for (const ChartGroup &g : foldSmallGroups(m_groups, kMaxSlices)) {
            QPieSlice *slice = series->append(g.label, g.value);
            slice->setLabel(QStringLiteral("%1 %2").arg(g.label, numberText(g.value)));
        }
        series->setLabelsVisible(true);
        chart->addSeries(series);
        chart->legend()->setAlignment(Qt::AlignRight);
    } else {
        const QList<ChartGroup> shown = foldSmallGroups(m_groups, kMaxBars);
        auto *set = new QBarSet(what);
        QStringList labels;
        double top = 0;
        for (const ChartGroup &g : shown) {
            *set << g.value;
            labels << g.label;
            top = std::max(top, g.value);
        }
        auto *series = new QBarSeries;
        series->append(set);
        series->setLabelsVisible(true);
        series->setLabelsFormat(QStringLiteral("@value"));
        series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
        set->setLabelColor(QColor(0x24, 0x34, 0x47));
        chart->addSeries(series);
        auto *axisX = new QBarCategoryAxis;
        axisX->append(labels);
        chart->addAxis(axisX, Qt::AlignBottom);
        series->attachAxis(axisX);
        auto *axisY = new QValueAxis;
        // Room above the highest bar for its label; counts get whole-number ticks.
        if (valueColumn() < 0) {
            const int upper = std::max(1, int(std::ceil(top * 1.15)));
            axisY->setRange(0, upper);
            if (upper <= 10)
                axisY->setTickCount(upper + 1);
            else
                axisY->applyNiceNumbers();
            axisY->setLabelFormat(QStringLiteral("%d"));
        } else {
            axisY->setRange(0, top > 0 ? top * 1.15 : 1);
            axisY->applyNiceNumbers();
            axisY->setLabelFormat(top < 10 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
        }
        chart->addAxis(axisY, Qt::AlignLeft);
        series->attachAxis(axisY);
        chart->legend()->setVisible(false);
    }
    QChart *old = chartView->chart();
    chartView->setChart(chart);
    delete old;
    btnSave->setEnabled(!m_groups.isEmpty());
}

bool TfChart::savePng(const QString &fileName) const
{
    const QPixmap picture = chartView->grab();
    return !picture.isNull() && picture.save(fileName, "PNG");
}

void TfChart::saveClicked()
{
    QString file = host::dialogPresenter().chooseSaveFile(
        QStringLiteral("保存图表"), m_title + QStringLiteral(".png"), QStringLiteral("PNG 图片 (*.png)"));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        file += QStringLiteral(".png");
    if (!savePng(file))
        host::dialogPresenter().showMessage(
            host::MessageKind::Error, QStringLiteral("错误"),
            QStringLiteral("无法保存图片“%1”，请换一个文件夹或文件名再试。").arg(file));
    else
        host::dialogPresenter().showMessage(host::MessageKind::Information, QStringLiteral("提示"),
                                            QStringLiteral("图表已保存到 %1").arg(file));
}

} // namespace tessera
