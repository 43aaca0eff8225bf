#include "modules/tuner/fsysupdate.h"

#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/controlsoff.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/protocol/protocol.h"
#include "host/errors.h"
#include "modules/framework/funcs.h"
#include "modules/tuner/udm_func.h"

#include <QBoxLayout>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>

namespace tuner {

using framework::QuotedStr;
using framework::QuotedVar;
using quillon::TMyDataSet;

TfSysUpdate::TfSysUpdate(QWidget *parent)
    : TfDBMultiBase_Batch(parent)
{
    setObjectName(QStringLiteral("fSysUpdate"));
    setWindowTitle(QStringLiteral("系统功能更新登记"));

    QGridLayout *opt = optionLayout();
    auto label = [this](QWidget *parent, const QString &text, const QString &name) {
        return addComponent(new QLabel(text, parent), name);
    };
    dtDateB = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtDateB"));
    dtDateE = addComponent(new QDateTimeEdit(gbOption), QStringLiteral("dtDateE"));
    for (QDateTimeEdit *d : {dtDateB, dtDateE}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        tessera::fitDateTimeEdit(d);
    }
    edtDllName = addComponent(new QLineEdit(gbOption), QStringLiteral("edtDllName"));
    edtDllName->setToolTip(QStringLiteral("名称中含有这段文字的记录；留空查询全部"));
    opt->addWidget(label(gbOption, QStringLiteral("更新时间"), QStringLiteral("lblDateB")), 0, 0);
    opt->addWidget(dtDateB, 0, 1);
    opt->addWidget(label(gbOption, QStringLiteral("到"), QStringLiteral("lblDateE")), 0, 2);
    opt->addWidget(dtDateE, 0, 3);
    opt->addWidget(label(gbOption, QStringLiteral("Dll名称"), QStringLiteral("lblDllName")), 0, 4);
    opt->addWidget(edtDllName, 0, 5);
    opt->setColumnStretch(6, 1);

    DBGridData->clearColumns();
    DBGridData->addColumn(QStringLiteral("ID"), QString(), 120);
    DBGridData->addColumn(QStringLiteral("UTHEME"), QStringLiteral("更新主题"), 120);
    DBGridData->addColumn(QStringLiteral("UVERSION"), QStringLiteral("版本"), 120);
    DBGridData->addColumn(QStringLiteral("UDLLNAME"), QStringLiteral("Dll名称"), 120);
    DBGridData->addColumn(QStringLiteral("UCONTENT"), QStringLiteral("更新说明"), 120);
    DBGridData->addColumn(QStringLiteral("UTIME"), QStringLiteral("更新时间"), 120);

    // The side panel: editors of the current row.
    auto *side = new QGridLayout(rzszpnl1);
    side->setContentsMargins(8, 8, 8, 8);
    edtUTHEME = addComponent(new tessera::TDBEditEh(rzszpnl1), QStringLiteral("edtUTHEME"));
    mmoUCONTENT = addComponent(new tessera::TDBMemo(rzszpnl1), QStringLiteral("mmoUCONTENT"));
    mmoUCONTENT->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edtUDLLNAME = addComponent(new tessera::TDBEditEh(rzszpnl1), QStringLiteral("edtUDLLNAME"));
    dtCTime = addComponent(new tessera::TDBDateTimeEditEh(rzszpnl1), QStringLiteral("dtCTime"));
    dtCTime->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dtCTime->setCalendarPopup(true);
    edtUVERSION = addComponent(new tessera::TDBEditEh(rzszpnl1), QStringLiteral("edtUVERSION"));
    chkFlag = addComponent(new tessera::TDBCheckBoxEh(rzszpnl1), QStringLiteral("chkFlag"));
    chkFlag->setText(QStringLiteral("客户端更新标识"));
    chkFlag->setToolTip(QStringLiteral("勾选：客户端必须更新"));
    edtUPATH = addComponent(new tessera::TDBEditEh(rzszpnl1), QStringLiteral("edtUPATH"));
    const struct
    {
        QWidget *editor;
        const char16_t *caption;
        const char *field;
    } rows[] = {{edtUTHEME, u"更新主题", "UTHEME"},   {mmoUCONTENT, u"更新说明", "UCONTENT"},
                {edtUDLLNAME, u"Dll名称", "UDLLNAME"}, {dtCTime, u"更新时间", "UTIME"},
                {edtUVERSION, u"版本", "UVERSION"},    {chkFlag, nullptr, "UFLAG"},
                {edtUPATH, u"路径", "UPATH"}};
    int r = 0;
    for (const auto &row : rows) {
        if (row.caption)
            side->addWidget(new QLabel(QString::fromUtf16(row.caption), rzszpnl1), r, 0,
                            Qt::AlignTop);
        side->addWidget(row.editor, r, 1);
        ++r;
    }
    side->setRowStretch(1, 1);
    edtUTHEME->setDataSource(dsData);
    edtUTHEME->setDataField(QStringLiteral("UTHEME"));
    mmoUCONTENT->setDataSource(dsData);
    mmoUCONTENT->setDataField(QStringLiteral("UCONTENT"));
    edtUDLLNAME->setDataSource(dsData);
    edtUDLLNAME->setDataField(QStringLiteral("UDLLNAME"));
    dtCTime->setDataSource(dsData);
    dtCTime->setDataField(QStringLiteral("UTIME"));
    edtUVERSION->setDataSource(dsData);
    edtUVERSION->setDataField(QStringLiteral("UVERSION"));
    chkFlag->setDataSource(dsData);
    chkFlag->setDataField(QStringLiteral("UFLAG"));
    chkFlag->ValueChecked = QStringLiteral("1");
    chkFlag->ValueUnchecked = QStringLiteral("0");
    edtUPATH->setDataSource(dsData);
    edtUPATH->setDataField(QStringLiteral("UPATH"));
    rzszpnl1->show();

    cdsData->OnNewRecord = [this](TMyDataSet &ds) { cdsDataNewRecord(ds); };
    setExecuteHandler(actSave, [this] { saveWithFreshIdsOnCollision(); });

    // 切换 moves the side panel between the right and the left of the grid.
    const auto barActions = tbTool->actions();
    for (QAction *a : barActions)
        if (a->objectName().startsWith(QLatin1String("tbSwitch")))
            a->setVisible(true);
    setExecuteHandler(actSwitch, [this] { actSwitchExecute(); });
}

TfSysUpdate::~TfSysUpdate() = default;

void TfSysUpdate::InitPDM()
{
    TfDBMultiBase_Batch::InitPDM();
    SetPDM(DM_Func());
    cdsData->SetMyConn(DM_Func()->cnServer);
    const QDate today = QDate::currentDate();
    dtDateB->setDateTime(QDateTime(today, QTime(0, 0, 0)));
    dtDateE->setDateTime(QDateTime(today, QTime(23, 59, 59)));
}

int TfSysUpdate::newId()
{
    return int(QRandomGenerator::system()->bounded(999999999));
}

void TfSysUpdate::cdsDataNewRecord(TMyDataSet &ds)
{
    if (quillon::TField *f = ds.FindField(QStringLiteral("ID")))
        f->SetAsInteger(newId());
    if (quillon::TField *f = ds.FindField(QStringLiteral("UTIME")))
        f->SetAsDateTime(QDateTime::currentDateTime());
    if (quillon::TField *f = ds.FindField(QStringLiteral("UEMP")))
        f->SetAsString(framework::GetLogOnEmpName());
    // The unchecked box means "clients need not update": store what it shows.
    if (quillon::TField *f = ds.FindField(QStringLiteral("UFLAG")))
        f->SetAsString(QStringLiteral("0"));
    // The query selects no sysid; the server stamps the row with the caller's anyway.
    if (quillon::TField *f = ds.FindField(QStringLiteral("sysid")))
        f->SetAsString(host::g_lstVars->value(QStringLiteral("sysid")));
}

QString TfSysUpdate::containsPattern(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 4);
    for (QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QuotedStr(QLatin1Char('%') + escaped + QLatin1Char('%')) + QStringLiteral(" escape '\\'");
}

QString TfSysUpdate::GetSql()
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QString cond = QStringLiteral(" where UTIME between to_date(")
                   + QuotedStr(dtDateB->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS')") + QStringLiteral(" and to_date(")
                   + QuotedStr(dtDateE->dateTime().toString(format))
                   + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS')");
    if (!edtDllName->text().isEmpty())
        cond += QStringLiteral(" and UDLLNAME like ") + containsPattern(edtDllName->text())
                + QLatin1Char(' ');
    cond += QStringLiteral(" and sysid=") + QuotedVar(QStringLiteral("sysid"));
    return QStringLiteral("select id, utheme, udllname, ucontent, utime, uemp, UVERSION, UPATH, "
                          "UFLAG from sys_update ")
           + cond + QLatin1Char(' ');
}

void TfSysUpdate::saveWithFreshIdsOnCollision()
{
    try {
        actSaveExecute();
    } catch (const quillon::protocol::ProtocolError &e) {
        // 409 is also a row changed by another user: only a duplicate key (the kind the
        // server names) is mended here.
        const bool duplicateKey = e.kind() == QLatin1String(quillon::protocol::kDuplicateKeyError);
        if (e.status() != 409 || !duplicateKey)
            throw;
        // The rows stay pending; new ones get fresh ids so that the next save can pass.
        QStringList changed;
        QString failure;
        {
            const quillon::ControlsOff off(cdsData);
            const auto mark = cdsData->GetBookmark();
            try {
                for (cdsData->First(); !cdsData->Eof(); cdsData->Next()) {
                    if (cdsData->UpdateStatus() != quillon::RowState::Inserted)
                        continue;
                    quillon::TField *id = cdsData->FindField(QStringLiteral("ID"));
                    if (!id)
                        continue;
                    const QString old = id->AsString();
                    cdsData->Edit();
                    id->SetAsInteger(newId());
                    cdsData->Post();
                    changed.append(old + QStringLiteral(" → ") + id->AsString());
                }
            } catch (const std::exception &err) {
                failure = QString::fromUtf8(err.what());
            } catch (...) {
                failure = QStringLiteral("unknown error");
            }
            if (!failure.isEmpty() && cdsData->State() != quillon::DataSetState::Browse)
                cdsData->Cancel(); // the row keeps its old id
            if (cdsData->BookmarkValid(mark))
                cdsData->GotoBookmark(mark);
        }
        if (!failure.isEmpty())
            throw host::UserError(
                QStringLiteral("新增记录的编号与已有记录重复，本次没有保存任何修改。给新增记录换新编号时出错，")
                    + (changed.isEmpty() ? QStringLiteral("编号没有改动")
                                         : QStringLiteral("只换了一部分（%1）").arg(changed.join(QStringLiteral("，"))))
                    + QStringLiteral("。修改仍保留在窗口中，请改正编号重复的记录后再点“保存”。"),
                failure);
        throw host::UserError(
            QStringLiteral("新增记录的编号与已有记录重复，本次没有保存任何修改。已为新增记录换了新编号（%1），"
                           "修改仍保留在窗口中，请再点“保存”。")
                .arg(changed.join(QStringLiteral("，"))));
    }
}

void TfSysUpdate::actSwitchExecute()
{
    auto *box = qobject_cast<QBoxLayout *>(rzszpnl1->parentWidget()->layout());
    if (!box)
        return;
    const int at = box->indexOf(rzszpnl1);
    box->removeWidget(rzszpnl1);
    box->insertWidget(at == 0 ? box->count() : 0, rzszpnl1);
}

} // namespace tuner
