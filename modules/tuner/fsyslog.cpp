#include "modules/tuner/fsyslog.h"

#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "modules/framework/funcs.h"
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
    cboType->setToolTip(QStringLiteral("留空查询修改和删除"));
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
    DBGridData->addColumn(QStringLiteral("TABLENAME"), QStringLiteral("表名"), 135);
    DBGridData->addColumn(QStringLiteral("KEY"), QStringLiteral("运单编号"), 110);
    DBGridData->addColumn(QStringLiteral("OPTYPE"), QStringLiteral("操作类型"), 60);
    DBGridData->addColumn(QStringLiteral("CONTENT"), QStringLiteral("操作详情"), 320);
    DBGridData->addColumn(QStringLiteral("OPSITE"), QStringLiteral("操作网点"), 90);
    DBGridData->addColumn(QStringLiteral("OPEMP"), QStringLiteral("操作人"), 70);
    DBGridData->addColumn(QStringLiteral("OPADDRESS"), QStringLiteral("操作IP"), 110);
    DBGridData->addColumn(QStringLiteral("OPTIME"), QStringLiteral("操作时间"), 135);
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
    cboTable->setCurrentIndex(0);
}

QString TfSysLog::GetSql()
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString cond = QStringLiteral(" where optime between to_date(")
                   + QuotedStr(dtDateB->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ") + QStringLiteral(" and to_date(")
                   + QuotedStr(dtDateE->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ");
    const QString table = cboTable->currentText();
    if (!table.isEmpty())
        cond += QStringLiteral(" and tablename=") + QuotedStr(table);
    if (cboType->currentIndex() == 1)
        cond += QStringLiteral(" and optype='UPT'");
    else if (cboType->currentIndex() == 2)
        cond += QStringLiteral(" and optype='DEL'");
    cond += QStringLiteral(" and sysid=") + QuotedVar(QStringLiteral("sysid"));
    // The condition goes in whole, so a percent sign in it stays as it is.
    return QStringLiteral("select id, tablename, key, optype, content, opsite, opemp, opaddress, "
                          "optime, opnote, key1,  key2, key3, key4, key5 from sys_log ")
           + cond + QLatin1Char(' ');
}

} // namespace tuner
