#include "modules/herald/fsendmessage.h"
#include "host/errordisplay.h"

#include "baseforms/environment.h"
#include "baseforms/rzcontrols.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "modules/framework/funcs.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace herald {

using framework::QuotedVar;
using quillon::TMyDataSet;

namespace {

QString var(const char *name)
{
    return host::g_lstVars->value(QString::fromLatin1(name));
}

QAction *addChooser(QLineEdit *edit, const QString &name)
{
    auto *a = edit->addAction(QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView),
                              QLineEdit::TrailingPosition);
    a->setObjectName(name);
    a->setToolTip(QStringLiteral("选择"));
    return a;
}

} // namespace

TfSendMessage::TfSendMessage(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fSendMessage"));
    setWindowTitle(QStringLiteral("公告发表"));

    actSave->setText(QStringLiteral("发表"));
    actSave->setToolTip(QStringLiteral("保存"));
    actSave->setProperty("Hint", QStringLiteral("保存"));
    actCancel->setText(QStringLiteral("清除"));
    actCancel->setToolTip(QStringLiteral("清除"));
    actCancel->setProperty("Hint", QStringLiteral("清除"));
    addToolButton(actSave, QStringLiteral("btnSend"));
    addToolButton(actCancel, QStringLiteral("btnClear"));
    addToolButton(actClose, QStringLiteral("btnClose"));
    setExecuteHandler(actSave, [this] { actSaveExecute(); });
    setExecuteHandler(actCancel, [this] { actCancelExecute(); });

    QGridLayout *opt = optionLayout();
    auto label = [this](const QString &text, const QString &name) {
        return addComponent(new QLabel(text, gbOption), name);
    };
    edtObject = addComponent(new QLineEdit(gbOption), QStringLiteral("edtObject"));
    edtSites = addComponent(new QLineEdit(gbOption), QStringLiteral("edtSites"));
    edtEmps = addComponent(new QLineEdit(gbOption), QStringLiteral("edtEmps"));
    edtFile = addComponent(new QLineEdit(gbOption), QStringLiteral("edtFile"));
    ChkReadOnly = addComponent(new QCheckBox(QStringLiteral("必读公告"), gbOption),
                               QStringLiteral("ChkReadOnly"));
    actChooseSites = addChooser(edtSites, QStringLiteral("actChooseSites"));
    actChooseEmps = addChooser(edtEmps, QStringLiteral("actChooseEmps"));
    actChooseFile = addChooser(edtFile, QStringLiteral("actChooseFile"));
    connect(actChooseSites, &QAction::triggered, this, [this] { edtSitesButtonClick(); });
    connect(actChooseEmps, &QAction::triggered, this, [this] { edtEmpsButtonClick(); });
    connect(actChooseFile, &QAction::triggered, this, [this] { edtFileButtonClick(); });

    opt->addWidget(label(QStringLiteral("公告主题"), QStringLiteral("lblObject")), 0, 0);
    opt->addWidget(edtObject, 0, 1, 1, 3);
    opt->addWidget(ChkReadOnly, 0, 4);
    opt->addWidget(label(QStringLiteral("接收网点"), QStringLiteral("lblSites")), 1, 0);
    opt->addWidget(edtSites, 1, 1);
    opt->addWidget(label(QStringLiteral("接收员工"), QStringLiteral("lblEmps")), 1, 2);
    opt->addWidget(edtEmps, 1, 3);
    opt->addWidget(label(QStringLiteral("附件"), QStringLiteral("lblFile")), 2, 0);
    opt->addWidget(edtFile, 2, 1, 1, 3);
    opt->setColumnStretch(1, 1);
    opt->setColumnStretch(3, 1);
    // Three rows of inputs under the caption row.
    setDesignHeight(pnlOption, 118);

    gbContent = addComponent(new QGroupBox(QStringLiteral("公告内容"), this),
                             QStringLiteral("gbContent"));
    auto *contentLayout = new QVBoxLayout(gbContent);
    contentLayout->setContentsMargins(2, 2, 2, 2);
    LMDRichEdit = addComponent(new richedit::RichEditor(gbContent), QStringLiteral("LMDRichEdit"));
    QFont font(QStringLiteral("Arial"));
    LMDRichEdit->document()->setDefaultFont(font);
    contentLayout->addWidget(LMDRichEdit);
    clientLayout()->addWidget(gbContent, 1);
    // After the font dialog the main window comes back maximised and in front.
    connect(LMDRichEdit, &richedit::RichEditor::fontDialogFinished, this, [] {
        if (QWidget *main = host::ParentCtrl ? host::ParentCtrl->window() : nullptr) {
            main->showMaximized();
            main->raise();
        }
    });

    cdsMSG = addComponent(new TMyDataSet(this), QStringLiteral("cdsMSG"));
    cdsSiteMSG = addComponent(new TMyDataSet(this), QStringLiteral("cdsSiteMSG"));
    cdsEmpMSG = addComponent(new TMyDataSet(this), QStringLiteral("cdsEmpMSG"));
}

TfSendMessage::~TfSendMessage() = default;

void TfSendMessage::InitPDM()
{
    TfDBBase::InitPDM();
    SetPDM(DM_Func());
    for (TMyDataSet *cds : {cdsMSG, cdsSiteMSG, cdsEmpMSG})
        cds->SetMyConn(DM_Func()->cnServer);
}

void TfSendMessage::FormCreate()
{
    TfDBBase::FormCreate();
    LMDRichEdit->setInitialDir(AppPath());
    const QString first = QCoreApplication::arguments().value(1);
    if (!first.isEmpty() && QFileInfo(first).isFile()) {
        try {
            LMDRichEdit->LoadFromFile(first);
        } catch (const host::UserError &e) {
            MSGErrorDialog(e.message());
        }
    }
}

bool TfSendMessage::hasDraft() const
{
    return !edtObject->text().trimmed().isEmpty() || !edtFile->text().trimmed().isEmpty()
           || !LMDRichEdit->plainText().trimmed().isEmpty();
}

bool TfSendMessage::CloseQuery()
{
    if (!TfDBBase::CloseQuery())
        return false;
    if (!hasDraft())
        return true;
    const host::Answer answer = host::dialogPresenter().showMessage(
        host::MessageKind::Question, QStringLiteral("询问"),
        QStringLiteral("%1: 公告尚未发表。是否现在发表？\n"
                       "选“是”发表后关闭，选“否”放弃这篇公告，选“取消”回到窗口继续编辑。")
            .arg(windowTitle()),
        host::QuestionButtons::YesNoCancel);
    switch (answer) {
    case host::Answer::Yes:
    case host::Answer::Ok:
        try {
            actSaveExecute();
        } catch (const host::SilentAbort &) {
            return false;
        } catch (const host::UserError &e) {
            MSGErrorDialog(e.message());
            return false;
        } catch (const std::exception &e) {
            MSGErrorDialog(QStringLiteral("公告发表失败:"), QString::fromUtf8(e.what()));
            return false;
        }
        // Published: the inputs are cleared. Refused or failed: the window stays with them.
        return !hasDraft();
    case host::Answer::No:
        return true;
    case host::Answer::Cancel:
        break;
    }
    return false;
}

void TfSendMessage::FormClose(bool &freeOnClose)
{
    TfDBBase::FormClose(freeOnClose);
    m_empNames.clear();
    m_empSites.clear();
}

void TfSendMessage::actCloseExecute()
{
    TfDBBase::actCloseExecute();
}

void TfSendMessage::actCancelExecute()
{
    LMDRichEdit->clear();
}

void TfSendMessage::edtSitesButtonClick()
{
    LookupDlg(QStringLiteral("select SiteCode,SiteName,BELONGSITE From tab_Site where sysid=")
                  + QuotedVar(QStringLiteral("sysid")),
              edtSites->text(), QStringLiteral("请选择"), QStringLiteral("SiteCode"),
              QStringLiteral("SiteName"), QStringLiteral("BELONGSITE"), 1, 1);
    const QString ret = var("ReturnData");
    if (ret.toUpper() != QLatin1String("CANCEL"))
        edtSites->setText(ret);
}

void TfSendMessage::edtEmpsButtonClick()
{
    LookupDlg(QStringLiteral("select EmpCode,EmpName,BELONGSITE From tab_Employee where sysid=")
                  + QuotedVar(QStringLiteral("sysid")),
              edtEmps->text(), QStringLiteral("请选择"), QStringLiteral("EmpCode"),
              QStringLiteral("EmpName"), QStringLiteral("BELONGSITE"), 1, 0);
    const QString ret = var("ReturnData");
    if (ret.toUpper() == QLatin1String("CANCEL"))
        return;
    m_empNames.clear();
    m_empSites.clear();
    TMyDataSet *all = framework::GetCdsEmployeeAll();
    const int codeField = all && all->Active() ? all->fieldIndex(QStringLiteral("EmpCode")) : -1;
    const int nameField = all && all->Active() ? all->fieldIndex(QStringLiteral("EmpName")) : -1;
    const int siteField = all && all->Active() ? all->fieldIndex(QStringLiteral("BELONGSITE")) : -1;
    for (const QString &code : ret.split(u',', Qt::SkipEmptyParts)) {
        if (codeField < 0 || nameField < 0 || siteField < 0)
            break;
        // Read by position so the shared dataset's cursor stays where other windows left it.
        for (int row = 0; row < all->RecordCount(); ++row) {
            if (all->valueAt(row, codeField).toString() == code) {
                m_empNames << all->valueAt(row, nameField).toString();
                m_empSites << all->valueAt(row, siteField).toString();
                break;
            }
        }
    }
    edtEmps->setText(m_empNames.join(u','));
}

void TfSendMessage::edtFileButtonClick()
{
    const QString file = host::dialogPresenter().chooseOpenFile(QStringLiteral("打开"), QString());
    if (!file.isEmpty())
        edtFile->setText(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
}

QString TfSendMessage::MakeNoticeKey(const QDateTime &now, quint32 number)
{
    return now.toString(QStringLiteral("yyyyMMddhhmmss")) + QString::number(number % 1000000);
}

QString TfSendMessage::BodyFileName(const QString &folder, const QString &key,
                                    const QString &subject)
{
    QString safe = subject;
    for (QChar &c : safe) {
        if (c.unicode() < 32 || QStringView(u"\\/:*?\"<>|").contains(c))
            c = u'_';
    }
    // Names ending in a dot or blank are not kept as typed on every system.
    while (!safe.isEmpty() && (safe.endsWith(u'.') || safe.endsWith(u' ')))
        safe.chop(1);
    QString dir = folder;
    if (!dir.endsWith(u'/') && !dir.endsWith(u'\\'))
        dir += u'/';
    return dir + key + safe + QStringLiteral(".rtf");
}

bool TfSendMessage::resolveEmployees(QList<QPair<QString, QString>> &out)
{
    out.clear();
    const QStringList items = framework::SplitCommaText(edtEmps->text());
    TMyDataSet *all = framework::GetCdsEmployeeAll();
    for (int i = 0; i < items.size(); ++i) {
        const QString &name = items.at(i);
        QString site;
        bool found = false;
        if (i < m_empNames.size() && m_empNames.at(i) == name) {
            site = m_empSites.at(i);
            found = true;
        } else if (all && all->Active()) {
            // A name typed by hand: its site comes from the employee list when the name is
            // unique there.
            const int nameField = all->fieldIndex(QStringLiteral("EmpName"));
            const int siteField = all->fieldIndex(QStringLiteral("BELONGSITE"));
            int matches = 0;
            for (int row = 0; nameField >= 0 && siteField >= 0 && row < all->RecordCount(); ++row) {
                if (all->valueAt(row, nameField).toString() == name) {
                    ++matches;
                    site = all->valueAt(row, siteField).toString();
                }
            }
            found = matches == 1;
        }
        if (!found) {
            MSGErrorDialog(QStringLiteral("无法确定接收员工[") + name
                           + QStringLiteral("]所属的网点,请通过选择按钮选择员工!"));
            edtEmps->setFocus();
            return false;
        }
        out.append({name, site});
    }
    return true;
}

void TfSendMessage::openEmpty(TMyDataSet *cds, const QString &sql)
{
    cds->Close();
    if (!cds->MyConn())
        cds->SetMyConn(DM_Func()->cnServer);
    cds->SetCommandText(sql);
    cds->Open();
}

void TfSendMessage::discardPending()
{
    for (TMyDataSet *cds : {cdsMSG, cdsSiteMSG, cdsEmpMSG}) {
        if (!cds->Active())
            continue;
        cds->Cancel();
        cds->CancelUpdates();
        cds->Close();
    }
}

void TfSendMessage::actSaveExecute()
{
    const QString subject = edtObject->text();
    if (subject.isEmpty()) {
        MSGErrorDialog(QStringLiteral("请输入公告主题内容!"));
        edtObject->setFocus();
        return;
    }
    if (subject.size() > 50) {
        MSGErrorDialog(QStringLiteral("主题长度不能起过50个字符(25个汉字)!"));
        edtObject->setFocus();
        return;
    }
    if (edtSites->text().isEmpty() && edtEmps->text().isEmpty()) {
        MSGErrorDialog(QStringLiteral("请输入公告接收网点或接受员工!"));
        edtSites->setFocus();
        return;
    }
    QList<QPair<QString, QString>> employees;
    if (!edtEmps->text().isEmpty() && !resolveEmployees(employees))
        return;

    const QString key = MakeNoticeKey(QDateTime::currentDateTime(),
                                      QRandomGenerator::global()->bounded(1000000u));
    m_lastKey = key;
    const QString bodyFile = BodyFileName(QDir::tempPath(), key, subject);
    m_lastBodyFile = bodyFile;
    LMDRichEdit->SaveToFile(bodyFile);
    // The local copy only feeds the upload: it must not pile up in the clerk's temp folder.
    const std::unique_ptr<const QString, void (*)(const QString *)> removeBodyFile(
        &bodyFile, [](const QString *file) { QFile::remove(*file); });

    host::IFuncObj *fo = framework::FuncObj();
    const QString sysid = var("sysid");
    const QStringList sites = framework::SplitCommaText(edtSites->text());
    try {
        openEmpty(cdsMSG, QStringLiteral("select * from TAB_MSGRECORD where 1=0"));
        cdsMSG->Append();
        cdsMSG->FieldByName(QStringLiteral("MSGID"))->SetAsString(key);
        cdsMSG->FieldByName(QStringLiteral("MSGOBJECT"))->SetAsString(subject);
        cdsMSG->FieldByName(QStringLiteral("MSGCONTENT"))->SetAsString(bodyFile);
        cdsMSG->FieldByName(QStringLiteral("OPTIME"))->SetAsDateTime(fo->GetServerDateTime());
        cdsMSG->FieldByName(QStringLiteral("OPSITE"))->SetAsString(var("LogOnSiteName"));
        cdsMSG->FieldByName(QStringLiteral("OPEMP"))->SetAsString(var("LogOnEmpName"));
        cdsMSG->FieldByName(QStringLiteral("MSGTYPE"))
            ->SetAsString(ChkReadOnly->isChecked() ? QStringLiteral("必读") : QStringLiteral("普通"));
        cdsMSG->FieldByName(QStringLiteral("MSGFILE"))->SetAsString(edtFile->text().trimmed());
        // The attachment's own name, kept beside the server path that replaces it.
        if (quillon::TField *name = cdsMSG->FindField(QStringLiteral("MSGFILENAME"))) {
            const QString local = edtFile->text().trimmed();
            name->SetAsString(local.mid(std::max(local.lastIndexOf(u'/'), local.lastIndexOf(u'\\')) + 1));
        }
        cdsMSG->FieldByName(QStringLiteral("sysid"))->SetAsString(sysid);
        cdsMSG->Post();

        if (!sites.isEmpty()) {
            openEmpty(cdsSiteMSG, QStringLiteral("select * from TAB_MSGSITE where 1=0"));
            QStringList written;
            for (const QString &site : sites) {
                if (written.contains(site)) // one row per site: a repeated name adds nothing
                    continue;
                written << site;
                cdsSiteMSG->Append();
                cdsSiteMSG->FieldByName(QStringLiteral("MSGID"))->SetAsString(key);
                cdsSiteMSG->FieldByName(QStringLiteral("MSGSITE"))->SetAsString(site);
                cdsSiteMSG->FieldByName(QStringLiteral("MSGTime"))->SetAsDateTime(fo->GetServerDateTime());
                cdsSiteMSG->FieldByName(QStringLiteral("sysid"))->SetAsString(sysid);
                cdsSiteMSG->Post();
            }
        }
        if (!employees.isEmpty()) {
            openEmpty(cdsEmpMSG, QStringLiteral("select * from TAB_MSGEMP where 1=0"));
            QList<QPair<QString, QString>> written;
            for (const auto &emp : std::as_const(employees)) {
                // His site already receives the notice.
                if (sites.contains(emp.second) || written.contains(emp))
                    continue;
                written << emp;
                cdsEmpMSG->Append();
                cdsEmpMSG->FieldByName(QStringLiteral("MSGID"))->SetAsString(key);
                cdsEmpMSG->FieldByName(QStringLiteral("MSGEMP"))->SetAsString(emp.first);
                cdsEmpMSG->FieldByName(QStringLiteral("MSGSITE"))->SetAsString(emp.second);
                cdsEmpMSG->FieldByName(QStringLiteral("MSGTime"))->SetAsDateTime(fo->GetServerDateTime());
                cdsEmpMSG->FieldByName(QStringLiteral("sysid"))->SetAsString(sysid);
                cdsEmpMSG->Post();
            }
        }
    } catch (...) {
        discardPending();
        throw;
    }

    // Files first: attachment, then body.
    try {
        tessera::TfIDM *dm = PDM();
        auto *herald = qobject_cast<TDM_Func *>(dm);
        if (!herald)
            throw host::UserError(QStringLiteral("公告模块的数据模块不可用"));
        for (const char *fieldName : {"MSGFILE", "MSGCONTENT"}) {
            cdsMSG->First();
            quillon::TField *f = cdsMSG->FieldByName(QString::fromLatin1(fieldName));
            const QString local = f->AsString();
            if (local.isEmpty())
                continue;
            const QString serverPath = herald->UploadFile(local);
            cdsMSG->Edit();
            f->SetAsString(serverPath);
            cdsMSG->Post();
        }
    } catch (...) {
        discardPending();
        MSGErrorDialog(QStringLiteral("公告发表失败!"));
        throw host::SilentAbort();
    }

    // Recipient rows before the notice row: readers find a notice through its notice row,
    // so until that row is stored nobody sees a half-written publication. When a later
    // table fails, the rows already stored are taken back.
    QList<TMyDataSet *> applied;
    try {
        for (TMyDataSet *cds : {cdsSiteMSG, cdsEmpMSG, cdsMSG}) {
            if (!cds->Active() || cds->ChangeCount() == 0)
                continue;
            cds->ApplyUpdates(0);
            applied << cds;
        }
    } catch (const std::exception &) {
        for (TMyDataSet *cds : std::as_const(applied)) {
            try {
                cds->First();
                while (!cds->IsEmpty())
                    cds->Delete();
                cds->ApplyUpdates(0);
            } catch (...) {
                // The rows stay on the server without a notice row: nobody lists them.
            }
        }
        discardPending();
        const host::ErrorText t = host::describeException(std::current_exception());
        MSGErrorDialog(QStringLiteral("公告发表失败：") + t.text, t.details);
        return;
    }
    for (TMyDataSet *cds : {cdsMSG, cdsSiteMSG, cdsEmpMSG})
        cds->Close();

    MSGHintDialog(QStringLiteral("公告发表成功"));
    edtObject->clear();
    edtSites->clear();
    edtEmps->clear();
    edtFile->clear();
    m_empNames.clear();
    m_empSites.clear();
    LMDRichEdit->clear();
}

} // namespace herald
