// The base forms on demo data: a data form with its tool bar, option panel and grid as
// users see them. "--screenshot file.png" saves a picture of the window and exits.
#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/fdbbase.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/uiconfig.h"
#include "dataaccess/mydataset.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

using namespace tessera;
using quillon::FieldType;

namespace {

std::unique_ptr<quillon::TMyDataSet> demoWaybills(int rows)
{
    static const char *const sites[] = {"总部",     "北京分拨中心", "上海浦东", "广州白云",
                                        "深圳南山", "杭州西湖",     "成都武侯", "武汉江汉"};
    static const char *const goods[] = {"文件", "服装", "电子产品", "食品", "日用品"};
    quillon::DataPacket p;
    p.fields = {{QStringLiteral("BILLCODE"), FieldType::String, 14},
                {QStringLiteral("SENDSITE"), FieldType::String, 20},
                {QStringLiteral("DESTSITE"), FieldType::String, 20},
                {QStringLiteral("GOODSTYPE"), FieldType::String, 10},
                {QStringLiteral("PIECES"), FieldType::Integer},
                {QStringLiteral("WEIGHT"), FieldType::Float},
                {QStringLiteral("FREIGHT"), FieldType::Float},
                {QStringLiteral("SENDDATE"), FieldType::DateTime},
                {QStringLiteral("SIGNED"), FieldType::String, 1}};
    QRandomGenerator rng(20261207);
    const QDateTime start(QDate(2026, 11, 1), QTime(8, 0));
    for (int i = 0; i < rows; ++i) {
        const double weight = 0.2 + rng.bounded(3000) / 100.0;
        p.rows.append({QStringLiteral("8800%1").arg(102400 + i * 7, 8, 10, QLatin1Char('0')),
                       QString::fromUtf8(sites[rng.bounded(8)]),
                       QString::fromUtf8(sites[rng.bounded(8)]),
                       QString::fromUtf8(goods[rng.bounded(5)]), 1 + int(rng.bounded(5)), weight,
                       std::round((8 + weight * 2.5) * 100) / 100, start.addSecs(qint64(i) * 1777),
                       rng.bounded(3) == 0 ? QStringLiteral("0") : QStringLiteral("1")});
    }
    auto ds = std::make_unique<quillon::TMyDataSet>();
    ds->SetData(std::move(p));
    return ds;
}

class TfDemoQuery : public TfDBBase
{
public:
    explicit TfDemoQuery(quillon::TMyDataSet *data)
        : m_data(data)
    {
        setObjectName(QStringLiteral("fDemoQuery"));
        setWindowTitle(QStringLiteral("运单查询"));
        resize(1100, 640);
        for (auto [action, name] : {std::pair{actQuery, "tbQuery"},
                                    {actExport, "tbExcel"},
                                    {actPrint, "tbPrint"},
                                    {actChart, "tbChart"},
                                    {actClose, "tbClose"}})
            addToolButton(action, QString::fromLatin1(name));

        auto *lblFrom = addComponent(new QLabel(QStringLiteral("发件日期"), gbOption),
                                     QStringLiteral("lblFrom"));
        dtFrom =
            addComponent(new QDateEdit(QDate(2026, 11, 1), gbOption), QStringLiteral("dtFrom"));
        dtFrom->setCalendarPopup(true);
        dtFrom->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        auto *lblTo =
            addComponent(new QLabel(QStringLiteral("至"), gbOption), QStringLiteral("lblTo"));
        dtTo = addComponent(new QDateEdit(QDate(2026, 12, 7), gbOption), QStringLiteral("dtTo"));
        dtTo->setCalendarPopup(true);
        dtTo->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        auto *lblSite = addComponent(new QLabel(QStringLiteral("发件网点"), gbOption),
                                     QStringLiteral("lblSite"));
        edtSite = addComponent(new TRzEdit(gbOption), QStringLiteral("edtSite"));
        edtSite->setFixedHeight(22);
        chkUnsigned = addComponent(new QCheckBox(QStringLiteral("只看未签收"), gbOption),
                                   QStringLiteral("chkUnsigned"));
        int col = 0;
        for (QWidget *w : {static_cast<QWidget *>(lblFrom), static_cast<QWidget *>(dtFrom),
                           static_cast<QWidget *>(lblTo), static_cast<QWidget *>(dtTo),
                           static_cast<QWidget *>(lblSite), static_cast<QWidget *>(edtSite),
                           static_cast<QWidget *>(chkUnsigned)})
            optionLayout()->addWidget(w, 0, col++);
        optionLayout()->setColumnStretch(col, 1);

        dsData = new TDataSource(this);
        gbDBGrid = addComponent(new TRzGroupBox(QString(), this), QStringLiteral("gbDBGrid"));
        auto *gl = new QVBoxLayout(gbDBGrid);
        gl->setContentsMargins(2, 2, 2, 2);
        DBGridData = addComponent(new TDBGridEh(gbDBGrid), QStringLiteral("DBGridData"));
        gl->addWidget(DBGridData);
        clientLayout()->addWidget(gbDBGrid);
        DBGridData->setDataSource(dsData);
        DBGridData->addColumn(QStringLiteral("BILLCODE"), QStringLiteral("运单号"), 110);
        DBGridData->addColumn(QStringLiteral("SENDSITE"), QStringLiteral("发件网点"), 100);
        DBGridData->addColumn(QStringLiteral("DESTSITE"), QStringLiteral("目的网点"), 100);
        DBGridData->addColumn(QStringLiteral("GOODSTYPE"), QStringLiteral("物品类型"), 70);
        DBGridData->addColumn(QStringLiteral("PIECES"), QStringLiteral("件数"), 50);
        DBGridData->addColumn(QStringLiteral("WEIGHT"), QStringLiteral("重量"), 70);
        DBGridData->addColumn(QStringLiteral("FREIGHT"), QStringLiteral("运费"), 80);
        DBGridData->addColumn(QStringLiteral("SENDDATE"), QStringLiteral("发件时间"), 140);
        DBGridData->addColumn(QStringLiteral("SIGNED"), QStringLiteral("签收"), 45)->Checkboxes =
            true;
        DBGridData->setReadOnly(true);
        DBGridData->setFrozenCols(1);

        report = new TfrxReport(this);
        report->setDataSource(dsData);

        setExecuteHandler(actQuery, [this] {
            actQueryExecute();
            dsData->setDataSet(m_data);
            DBGridData->applyStandardStyle(UIConfig());
        });
        setUpdateHandler(actExport, [this] { return dsData->recordCount() > 0; });
        setUpdateHandler(actPrint, [this] { return dsData->recordCount() > 0; });
        setUpdateHandler(actChart, [this] { return dsData->recordCount() > 0; });
        setExecuteHandler(actPrint, [this] {
            LoadReport(report, QStringLiteral("waybills.wlr"));
            report->setVariable(QStringLiteral("Site"), QStringLiteral("总部"));
            report->ShowReport();
        });
    }

    TDataSource *dsData;
    TRzGroupBox *gbDBGrid;
    TDBGridEh *DBGridData;
    QDateEdit *dtFrom;
    QDateEdit *dtTo;
    TRzEdit *edtSite;
    QCheckBox *chkUnsigned;
    TfrxReport *report;

private:
    quillon::TMyDataSet *m_data;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    const QStringList args = app.arguments();
    const auto at = args.indexOf(QStringLiteral("--screenshot"));
    if (at >= 0 && at + 1 < args.size())
        screenshot = args[at + 1];

    // A deployment folder of its own: the report definition the print button uses.
    QTemporaryDir deploy;
    setAppPath(deploy.path());
    QDir(deploy.path()).mkpath(QStringLiteral("_report"));
    QFile rep(deploy.filePath(QStringLiteral("_report/waybills.wlr")));
    if (rep.open(QIODevice::WriteOnly))
        rep.write("[Report]\nTitle=运单清单 [Site]\nFooter=打印时间 [Time]\n[Columns]\n"
                  "Column1=BILLCODE;运单号;30\nColumn2=SENDSITE;发件网点;30\n"
                  "Column3=DESTSITE;目的网点;30\nColumn4=PIECES;件数;15;Sum\n"
                  "Column5=WEIGHT;重量;18;Sum\nColumn6=FREIGHT;运费;18;Sum\n");
    rep.close();

    auto data = demoWaybills(500);
    auto *form = createForm<TfDemoQuery>(data.get());
    form->show();
    form->actQuery->trigger();
    if (screenshot.isEmpty())
        return app.exec();
    QTimer::singleShot(300, [&] {
        form->grab().save(screenshot);
        app.quit();
    });
    return app.exec();
}
