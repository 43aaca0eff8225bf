#include "modules/herald/udm_func.h"

#include "baseforms/environment.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "modules/framework/funcs.h"
#include "modules/herald/fnoreadmessage.h"
#include "modules/herald/fmanagermessage.h"
#include "modules/herald/form1.h"
#include "modules/herald/fquerymessage.h"
#include "modules/herald/freadqmessage.h"
#include "modules/herald/fsendmessage.h"
#include "richedit/richeditor.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

namespace herald {

using framework::QuotedVar;

TDM_Func::TDM_Func(QObject *owner)
    : framework::Tdm(owner)
    , cdsPub(new quillon::TMyDataSet(this))
    , cdsMSGData(new quillon::TMyDataSet(this))
{
    cdsPub->setObjectName(QStringLiteral("cdsPub"));
    cdsMSGData->setObjectName(QStringLiteral("cdsMSGData"));
    openLocalFile = [](const QString &file) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    };
}

TDM_Func::~TDM_Func() = default;

TDM_Func *DM_Func()
{
    // Lives for the life of the process, as the host keeps module libraries loaded.
    static TDM_Func *dm = new TDM_Func;
    return dm;
}

bool TDM_Func::sameFunctionName(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'a' && x <= u'z')
            x = x - u'a' + u'A';
        if (y >= u'a' && y <= u'z')
            y = y - u'a' + u'A';
        if (x != y)
            return false;
    }
    return true;
}

void TDM_Func::new_execute(const QString &callfunc, const QString &funcdesc,
                           const QString &controls, const QStringList &, int HelpIndex)
{
    auto is = [&callfunc](const char *name) {
        return sameFunctionName(callfunc, QString::fromLatin1(name));
    };
    QWidget *none = nullptr;
    if (is("Form1")) {
        Form1 = new TForm1;
        Form1->setAttribute(Qt::WA_DeleteOnClose);
        Form1->show();
    } else if (is("fSendMessage")) {
        MyShowMDIForm<TfSendMessage>(none, controls, HelpIndex, funcdesc);
    } else if (is("fQueryMessage")) {
        MyShowMDIForm<TfQueryMessage>(none, controls, HelpIndex, funcdesc);
    } else if (is("fManagerMessage")) {
        MyShowMDIForm<TfManagerMessage>(none, controls, HelpIndex, funcdesc);
    } else if (is("fReadQMessage")) {
        MyShowMDIForm<TfReadQMessage>(none, controls, HelpIndex, funcdesc);
    } else if (is("fNoReadMessage")) {
        cdsMSGData->SetMyConn(cnServer);
        cdsMSGData->Close();
        cdsMSGData->SetCommandText(UnreadNoticeSql());
        cdsMSGData->Open();
        cdsMSGData->SetIndexFieldNames(QStringLiteral("OPTIME"));
        MyShowMDIForm<TfNoReadMessage>(none, controls, HelpIndex, funcdesc);
    }
}

QString TDM_Func::UnreadNoticeSql()
{
    const QString site = QuotedVar(QStringLiteral("LogOnSiteName"));
    const QString emp = QuotedVar(QStringLiteral("LogOnEmpName"));
    const QString sysid = QuotedVar(QStringLiteral("sysid"));
    return QStringLiteral("select b.*,a.MSGSITE,null as MSGEMP from TAB_MSGSITE a,TAB_MSGRECORD b "
                          "where a.MSGID=b.MSGID and a.sysid=b.sysid and a.MSGSITE=")
           + site + QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ")
           + QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where MSGREADSITE = ")
           + site + QStringLiteral(" and MSGREADER = ") + emp
           + QStringLiteral(" and a.MSGID =c.MSGID)") + QStringLiteral(" and a.sysid=") + sysid
           + QStringLiteral(" union all ")
           + QStringLiteral("select b.*,a.MSGSITE,a.MSGEMP from TAB_MSGEMP a,TAB_MSGRECORD b "
                            "where a.MSGID=b.MSGID and a.sysid=b.sysid")
           + QStringLiteral(" and a.MSGSITE=") + site + QStringLiteral(" and a.MSGEMP=") + emp
           + QStringLiteral(" and b.OPTIME >=trunc(sysdate-10) ")
           + QStringLiteral(" and not exists (select 1 from TAB_MSGREAD c where MSGREADSITE = ")
           + site + QStringLiteral(" and MSGREADER = ") + emp
           + QStringLiteral(" and a.MSGID =c.MSGID)") + QStringLiteral(" and a.sysid=") + sysid;
}

bool TDM_Func::WriteReadReceipt(quillon::TMyDataSet *cds, const QString &msgId)
{
    const QString site = host::g_lstVars->value(QStringLiteral("LogOnSiteName"));
    const QString emp = host::g_lstVars->value(QStringLiteral("LogOnEmpName"));
    const QString sysid = host::g_lstVars->value(QStringLiteral("sysid"));
    cds->Close();
    cds->SetCommandText(QStringLiteral("Select * from TAB_MSGREAD  where MSGReader=")
                        + QuotedVar(QStringLiteral("LogOnEmpName")) + QStringLiteral(" and MSGID =")
                        + framework::QuotedStr(msgId) + QStringLiteral(" and MSGReadSite=")
                        + QuotedVar(QStringLiteral("LogOnSiteName")) + QStringLiteral(" and sysid=")
                        + QuotedVar(QStringLiteral("sysid")));
    cds->Open();
    if (!cds->IsEmpty())
        return false;
    cds->Append();
    cds->FieldByName(QStringLiteral("MSGReadSite"))->SetAsString(site);
    cds->FieldByName(QStringLiteral("MSGID"))->SetAsString(msgId);
    cds->FieldByName(QStringLiteral("MSGReader"))->SetAsString(emp);
    cds->FieldByName(QStringLiteral("MSGReadTime"))->SetAsDateTime(QDateTime::currentDateTime());
    cds->FieldByName(QStringLiteral("sysid"))->SetAsString(sysid);
    cds->Post();
    try {
        cds->ApplyUpdates(0);
    } catch (...) {
        // A receipt that did not reach the server must not linger to be sent later.
        cds->CancelUpdates();
        throw;
    }
    return true;
}

bool TDM_Func::IsBodyFile(const QString &content)
{
    QString c = content;
    while (c.endsWith(u'\n') || c.endsWith(u'\r'))
        c.chop(1);
    return c.endsWith(QLatin1String("rtf"));
}

void TDM_Func::ShowBody(const QString &content, richedit::RichEditor *editor)
{
    if (content.isEmpty()) {
        editor->clear();
        return;
    }
    if (!IsBodyFile(content)) {
        editor->setPlainText(content);
        return;
    }
    const QString local = DownLoadFile(content);
    if (QFileInfo::exists(local))
        editor->LoadFromFile(local);
    else
        editor->clear();
}

void TDM_Func::OpenNoticeFile(const QString &attachment, const QString &content)
{
    if (!attachment.isEmpty())
        BrowerFile(attachment);
    else if (!content.isEmpty() && IsBodyFile(content))
        BrowerFile(content);
}

namespace {

// The extension of a file name with its dot; empty when the name part has no dot.
QString fileExtension(const QString &name)
{
    const qsizetype slash = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > slash ? name.mid(dot) : QString();
}

} // namespace

QString TDM_Func::GenerateServerFileName(const QString &AType, const QString &ALocalFileName)
{
    const QDateTime now = QDateTime::currentDateTime();
    return AType + QLatin1Char('\\') + now.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('\\')
           + now.toString(QStringLiteral("yyyyMMddhhmmss")) + QLatin1Char('_')
           + QUuid::createUuid().toString(QUuid::WithBraces).toUpper()
           + fileExtension(ALocalFileName);
}

QString TDM_Func::UploadFile(const QString &ALocalFile)
{
    if (!QFileInfo(ALocalFile).isFile()) {
        framework::FuncObj()->MsgBox(QStringLiteral("文件[") + ALocalFile + QStringLiteral("]不存在."), 0);
        throw host::SilentAbort();
    }
    if (!cnServer)
        throw host::UserError(QStringLiteral("模块尚未连接到服务器"));
    const QString serverPath = GenerateServerFileName(QStringLiteral("notice"), ALocalFile);
    if (!cnServer->MyClientToServer(ALocalFile, serverPath))
        throw host::UserError(QStringLiteral("文件[") + ALocalFile + QStringLiteral("]上传失败."));
    return serverPath;
}

QString TDM_Func::localFileFolder()
{
    return tessera::appPath() + QStringLiteral("tmpfile/");
}

QString TDM_Func::DownLoadFile(const QString &AServerFile)
{
    const QString folder = localFileFolder();
    QDir().mkpath(folder);
    // Only the name part of the server path is used; a path whose name part could leave
    // the folder (with "/" or "..") is refused rather than written elsewhere.
    QString name = AServerFile.mid(AServerFile.lastIndexOf(u'\\') + 1).trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(u'/')) {
        throw host::UserError(QStringLiteral("服务器文件名[") + AServerFile + QStringLiteral("]无效."));
    }
    const QString local = folder + name;
    if (!QFileInfo::exists(local)) {
        if (!cnServer)
            throw host::UserError(QStringLiteral("模块尚未连接到服务器"));
        cnServer->MyServerToClient(AServerFile, local);
    }
    return local;
}

void TDM_Func::BrowerFile(const QString &AServerFile)
{
    if (AServerFile.isEmpty())
        return;
    const QString local = DownLoadFile(AServerFile);
    if (!QFileInfo::exists(local))
        throw host::UserError(QStringLiteral("服务器上没有文件[") + AServerFile + QStringLiteral("]."));
    if (openLocalFile)
        openLocalFile(local);
}

} // namespace herald
