#include "modules/tuner/fsyslog.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "modules/framework/funcs.h"
#include "modules/tuner/logcaptions.h"
#include "modules/tuner/udm_func.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include "baseforms/dbcontrols.h"
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace tuner {

using framework::QuotedStr;
using framework::QuotedVar;

TfSysLog::TfSysLog(QWidget *parent)
    : TfDBQueryBase_Single(parent)
{
    setObjectName(QStringLiteral("fSysLog"));
    setWindowTitle(QStringLiteral("操作日志"));
    // No report and no chart belong to the log: their buttons stay off the tool bar.
    hideAction(actPrint);
    hideAction(actChart);

    QGridLayout *opt = optionLayout();
    auto label = [this](const QString &text, const QString &name) {
        return addComponent(new QLabel(text, gbOption), name);
    };
    dtDateB = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtDateB"));
    dtDateE = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtDateE"));
    for (QDateTimeEdit *d : {dtDateB, dtDateE}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        tessera::fitDateTimeEdit(d);
    }
    cboTable = addComponent(new QComboBox(gbOption), QStringLiteral("cboTable"));
    cboTable->setEditable(true);
    cboTable->setMinimumWidth(160);
    cboTable->setToolTip(QStringLiteral("选择记录日志的表，或直接输入表名；留空查询所有表"));
    cboType = addComponent(new QComboBox(gbOption), QStringLiteral("cboType"));
    cboType->addItems({QString(), QStringLiteral("修改"), QStringLiteral("删除")});
    cboType->setCurrentIndex(-1);
    cboType->setMinimumWidth(80);
    cboType->setToolTip(QStringLiteral("留空查询所有类型"));
    opt->addWidget(label(QStringLiteral("操作时间"), QStringLiteral("lblDateB")), 0, 0);
    opt->addWidget(dtDateB, 0, 1);
    opt->addWidget(label(QStringLiteral("到"), QStringLiteral("lblDateE")), 0, 2);
    opt->addWidget(dtDateE, 0, 3);
    opt->addWidget(label(QStringLiteral("操作表名"), QStringLiteral("lblTable")), 0, 4);
    opt->addWidget(cboTable, 0, 5);
    opt->addWidget(label(QStringLiteral("操作类型"), QStringLiteral("lblType")), 0, 6);
    opt->addWidget(cboType, 0, 7);
    opt->setColumnStretch(8, 1);

    cdsTables = addComponent(new quillon::TMyDataSet(this), QStringLiteral("cdsTables"));

    DBGridData->clearColumns();
    DBGridData->addColumn(QStringLiteral("TABLECAPTION"), QStringLiteral("表名"), 100);
    DBGridData->addColumn(QStringLiteral("TABLENAME"), QStringLiteral("数据表"), 120);
    DBGridData->addColumn(QStringLiteral("KEY"), QStringLiteral("运单编号"), 110);
    DBGridData->addColumn(QStringLiteral("OPTYPECAPTION"), QStringLiteral("操作类型"), 60);
    DBGridData->addColumn(QStringLiteral("CONTENTSHOWN"), QStringLiteral("操作详情"), 360);
    DBGridData->addColumn(QStringLiteral("OPSITE"), QStringLiteral("操作网点"), 90);
    DBGridData->addColumn(QStringLiteral("OPEMP"), QStringLiteral("操作人"), 70);
    DBGridData->addColumn(QStringLiteral("OPADDRESS"), QStringLiteral("操作IP"), 110);
    DBGridData->addColumn(QStringLiteral("OPTIME"), QStringLiteral("操作时间"), 135);

    const auto shown = tbTool->actions();
    for (QAction *a : shown)
        if (a->objectName().startsWith(QLatin1String("tbSwitch")))
            a->setVisible(true);
    setExecuteHandler(actSwitch, [this] { actSwitchExecute(); });
}

TfSysLog::~TfSysLog() = default;

void TfSysLog::InitPDM()
{
    TfDBQueryBase_Single::InitPDM();
    SetPDM(DM_Func());
    cdsData->SetMyConn(DM_Func()->cnServer);
    const QDate today = QDate::currentDate();
    dtDateB->setDateTime(QDateTime(today, QTime(0, 0, 0)));
    dtDateE->setDateTime(QDateTime(today, QTime(23, 59, 59)));
    cdsTables->SetMyConn(DM_Func()->cnServer);
    cdsTables->Close();
    cdsTables->SetCommandText(QStringLiteral("select TABLENAME from SYS_TABLES where sysid=")
                              + QuotedVar(QStringLiteral("sysid")));
    cdsTables->Open();
    framework::FillComboBox(cdsTables, cboTable, QStringLiteral("TABLENAME"), true, QString());
    // The tables and kinds that the server logs beyond those: the tables that are always
    // logged (parameters, notices, the list itself), the administration's, and the kinds
    // 新增 and 系统. Known here, so that opening the window reads no log rows.
    QStringList tables = loggedAlways();
    tables.removeDuplicates();
    tables.sort(Qt::CaseInsensitive);
    for (const QString &t : std::as_const(tables)) {
        bool listed = false;
        for (int i = 0; i < cboTable->count(); ++i)
            listed = listed || cboTable->itemText(i).compare(t, Qt::CaseInsensitive) == 0;
        if (!listed && !t.isEmpty())
            cboTable->addItem(t);
    }
    // Listed tables show their captions; the technical name is the item's data and tooltip.
    for (int i = 1; i < cboTable->count(); ++i) {
        const QString table = cboTable->itemText(i);
        const QString caption = tableCaption(table);
        cboTable->setItemData(i, table, Qt::UserRole);
        cboTable->setItemData(i, table, Qt::ToolTipRole);
        if (!caption.isEmpty())
            cboTable->setItemText(i, QStringLiteral("%1（%2）").arg(caption, table));
    }
    cboTable->setCurrentIndex(0);
    cboType->setItemData(1, QStringLiteral("UPT"));
    cboType->setItemData(2, QStringLiteral("DEL"));
    while (cboType->count() > 3)
        cboType->removeItem(3);
    for (const QString &type : {QStringLiteral("INS"), QStringLiteral("SYS")})
        cboType->addItem(opTypeCaption(type), type);
    cboType->setCurrentIndex(-1);
}

QString TfSysLog::tableCondition() const
{
    const QString text = cboTable->currentText();
    const int i = cboTable->findText(text);
    if (i > 0 && cboTable->itemData(i, Qt::UserRole).isValid())
        return cboTable->itemData(i, Qt::UserRole).toString();
    return text;
}

void TfSysLog::actQueryExecute()
{
    TfDBQueryBase_Single::actQueryExecute();
    showCaptions();
}

void TfSysLog::showCaptions()
{
    if (!cdsData->Active())
        return;
    quillon::DataPacket p = cdsData->Data();
    const int table = p.fieldIndex(QStringLiteral("TABLENAME"));
    const int type = p.fieldIndex(QStringLiteral("OPTYPE"));
    const int content = p.fieldIndex(QStringLiteral("CONTENT"));
    if (table < 0 || type < 0 || content < 0 || p.fieldIndex(QStringLiteral("TABLECAPTION")) >= 0)
        return;
    for (const auto &[name, size] : {std::pair{"TABLECAPTION", 40}, std::pair{"OPTYPECAPTION", 10},
                                     std::pair{"CONTENTSHOWN", 4000}}) {
        quillon::FieldDef f;
        f.name = QString::fromLatin1(name);
        f.size = size;
        p.fields.append(f);
    }
    for (QVariantList &row : p.rows) {
        const QString t = row.value(table).toString();
        const QString caption = tableCaption(t);
        row.append(caption.isEmpty() ? t : caption);
        row.append(opTypeCaption(row.value(type).toString()));
        row.append(contentWithCaptions(t, row.value(content).toString()));
    }
    cdsData->SetData(std::move(p));
}

void TfSysLog::actSwitchExecute()
{
    gbOption->setLayoutDirection(gbOption->layoutDirection() == Qt::RightToLeft ? Qt::LeftToRight
                                                                                : Qt::RightToLeft);
}

QString TfSysLog::GetSql()
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString cond = QStringLiteral(" where optime between to_date(")
                   + QuotedStr(dtDateB->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ") + QStringLiteral(" and to_date(")
                   + QuotedStr(dtDateE->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ");
    const QString table = tableCondition();
    if (!table.isEmpty())
        cond += QStringLiteral(" and tablename=") + QuotedStr(table);
    if (cboType->currentIndex() == 1)
        cond += QStringLiteral(" and optype='UPT'");
    else if (cboType->currentIndex() == 2)
        cond += QStringLiteral(" and optype='DEL'");
    else if (cboType->currentIndex() > 2)
        cond += QStringLiteral(" and optype=") + QuotedStr(cboType->currentData().toString());
    cond += QStringLiteral(" and sysid=") + QuotedVar(QStringLiteral("sysid"));
    // The condition goes in whole, so a percent sign in it stays as it is.
    return QStringLiteral("select id, tablename, key, optype, content, opsite, opemp, opaddress, "
                          "optime, opnote, key1,  key2, key3, key4, key5 from sys_log ")
           + cond + QLatin1Char(' ');
}

} // namespace tuner
