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
        return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    };
}

TDM_Func::~TDM_Func() = default;

TDM_Func *DM_Func()
{
    // Lives for the life of the process, as the host keeps module libraries loaded.
    static TDM_Func *dm = new TDM_Func;
    return dm;
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
           + NotAlsoToTheSiteSql()
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

TDM_Func::BodyKind TDM_Func::bodyKind(const QString &content)
{
    QString c = content;
    while (c.endsWith(u'\n') || c.endsWith(u'\r'))
        c.chop(1);
    if (c.trimmed().isEmpty())
        return BodyKind::None;
    if (!c.endsWith(QLatin1String("rtf")))
        return BodyKind::Text;
    if (c.trimmed().startsWith(QLatin1String("notice\\"), Qt::CaseInsensitive))
        return BodyKind::ServerFile;
    return BodyKind::OlderFile;
}

bool TDM_Func::IsBodyFile(const QString &content)
{
    const BodyKind k = bodyKind(content);
    return k == BodyKind::ServerFile || k == BodyKind::OlderFile;
}

QString TDM_Func::BodyLocalFile(const QString &content, const QString &msgId)
{
    switch (bodyKind(content)) {
    case BodyKind::ServerFile:
        return DownLoadFile(content.trimmed());
    case BodyKind::OlderFile: {
        // "MSGData\<MSGID>.<ext>", the extension being up to six characters after the
        // last dot of the stored value; kept in "OutPut/".
        const QString trimmed = content.trimmed();
        const QString name =
            trimmed.mid(std::max(trimmed.lastIndexOf(u'\\'), trimmed.lastIndexOf(u'/')) + 1);
        const QString ext = name.mid(name.lastIndexOf(u'.') + 1).left(6);
        if (msgId.isEmpty() || msgId.contains(u'/') || msgId.contains(u'\\')
            || msgId.startsWith(u'.'))
            throw host::UserError(QStringLiteral("公告编号[") + msgId
                                  + QStringLiteral("]无效，无法取得它的正文文件。"));
        const QString folder = tessera::appPath() + QStringLiteral("OutPut/");
        QDir().mkpath(folder);
        const QString local = folder + msgId + u'.' + ext;
        if (!QFileInfo::exists(local)) {
            if (!cnServer)
                throw host::UserError(QStringLiteral("模块尚未连接到服务器"));
            cnServer->MyServerToClient(QStringLiteral("MSGData\\") + msgId + u'.' + ext, local);
        }
        return local;
    }
    case BodyKind::None:
    case BodyKind::Text:
        break;
    }
    return QString();
}

void TDM_Func::ShowBody(const QString &content, const QString &msgId,
                        richedit::RichEditor *editor)
{
    const BodyKind kind = bodyKind(content);
    if (kind == BodyKind::None) {
        editor->clear();
        return;
    }
    if (kind == BodyKind::Text) {
        editor->setPlainText(content);
        return;
    }
    editor->clear();
    const QString local = BodyLocalFile(content, msgId);
    if (!QFileInfo::exists(local))
        throw host::UserError(QStringLiteral("无法取得公告正文：服务器上没有文件[") + content.trimmed()
                              + QStringLiteral("]，本地文件[") + QDir::toNativeSeparators(local)
                              + QStringLiteral("]未能生成。请联系公告发表人重新发表。"));
    editor->LoadFromFile(local);
}

void TDM_Func::OpenNoticeFile(const QString &attachment, const QString &attachmentName,
                              const QString &content, const QString &msgId)
{
    if (!attachment.trimmed().isEmpty()) {
        BrowerFile(attachment.trimmed(), attachmentName);
        return;
    }
    switch (bodyKind(content)) {
    case BodyKind::ServerFile:
        BrowerFile(content.trimmed());
        break;
    case BodyKind::OlderFile:
        openLocal(BodyLocalFile(content, msgId), content.trimmed());
        break;
    case BodyKind::None:
    case BodyKind::Text:
        break;
    }
}

QString TDM_Func::NotAlsoToTheSiteSql()
{
    return QStringLiteral(" and not exists (select 1 from TAB_MSGSITE d where d.MSGID=a.MSGID and "
                          "d.sysid=a.sysid and d.MSGSITE=a.MSGSITE)");
}

QString TDM_Func::AttachmentName(const QString &serverPath, const QString &originalName)
{
    const QString name = originalName.trimmed();
    if (!name.isEmpty())
        return name;
    const QString path = serverPath.trimmed();
    return path.mid(std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/')) + 1);
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

QString TDM_Func::DownLoadFileAs(const QString &AServerFile, const QString &AOriginalName)
{
    // Only the name part of the original name counts, and only characters that every
    // file system takes: the name comes from the publisher's machine.
    QString name = AttachmentName(QString(), AOriginalName);
    name = name.mid(std::max(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/')) + 1);
    for (QChar &c : name)
        if (c.unicode() < 32 || QStringView(u":*?\"<>|").contains(c))
            c = u'_';
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    if (name.isEmpty() || name == QLatin1String(".."))
        return DownLoadFile(AServerFile);
    const QString copy = DownLoadFile(AServerFile);
    if (!QFileInfo::exists(copy))
        return copy;
    const QFileInfo server(copy);
    const QString folder = server.path() + u'/' + server.completeBaseName() + u'/';
    QDir().mkpath(folder);
    const QString named = folder + name;
    if (!QFileInfo::exists(named) && !QFile::copy(copy, named))
        throw host::UserError(QStringLiteral("无法在本地保存附件[") + QDir::toNativeSeparators(named)
                              + QStringLiteral("]，请检查程序目录下 tmpfile 文件夹是否可写。"));
    return named;
}

void TDM_Func::BrowerFile(const QString &AServerFile, const QString &AOriginalName)
{
    if (AServerFile.isEmpty())
        return;
    const QString local = AOriginalName.trimmed().isEmpty() ? DownLoadFile(AServerFile)
                                                            : DownLoadFileAs(AServerFile, AOriginalName);
    openLocal(local, AServerFile);
}

void TDM_Func::openLocal(const QString &local, const QString &serverFile)
{
    if (!QFileInfo::exists(local))
        throw host::UserError(QStringLiteral("服务器上没有文件[") + serverFile
                              + QStringLiteral("]，本地文件[") + QDir::toNativeSeparators(local)
                              + QStringLiteral("]未能生成。请联系公告发表人重新上传。"));
    if (openLocalFile && !openLocalFile(local))
        throw host::UserError(QStringLiteral("无法打开文件[") + QDir::toNativeSeparators(local)
                              + QStringLiteral("]。请确认本机装有打开此类文件的程序，或到该文件夹中直接打开它。"));
}

} // namespace herald
