// px_Herald without a server: dispatch, server file names, notice keys, local copies,
// the publish validations and the unread list's ordering and file opening.
#include "baseforms/environment.h"
#include "dataaccess/mydataset.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "modules/herald/fnoreadmessage.h"
#include "modules/herald/form1.h"
#include "modules/herald/fsendmessage.h"
#include "modules/herald/udm_func.h"
#include "richedit/richeditor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace herald;

namespace {

class HeraldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        tessera::setAppPath(m_dir.path());
        auto p = std::make_unique<host::ScriptedPresenter>();
        presenter = p.get();
        host::setDialogPresenter(std::move(p));
        DM_Func()->openLocalFile = [this](const QString &f) {
            opened << f;
            return desktopOpens;
        };
    }
    void TearDown() override
    {
        host::ParentCtrl = nullptr;
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
    }
    bool desktopOpens = true;
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }
    void writeLocal(const QString &name, const QByteArray &bytes)
    {
        QDir().mkpath(TDM_Func::localFileFolder());
        QFile f(TDM_Func::localFileFolder() + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir m_dir;
    host::ScriptedPresenter *presenter = nullptr;
    QStringList opened;
};

} // namespace

TEST_F(HeraldTest, DispatchIgnoresCaseOfLettersOnlyAndUnknownNames)
{
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    for (const char *name : {"fSendMessage", "FSENDMESSAGE", "fsendmessage"})
        DM_Func()->ExecFunc(QString::fromLatin1(name), QStringLiteral("公告发表"), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 1); // one window of the class, brought to the front each time
    EXPECT_TRUE(qobject_cast<TfSendMessage *>(tabs.widget(0)));
    EXPECT_EQ(tabs.tabText(0), QStringLiteral("公告发表"));

    // Unknown names, and names that only match when folding beyond A-Z, do nothing.
    for (const QString &name : {QStringLiteral("fNoSuch"), QStringLiteral(""),
                                QStringLiteral("fSendMessage "), QStringLiteral("ｆSendMessage")})
        DM_Func()->ExecFunc(name, QStringLiteral("x"), {}, {}, 0);
    EXPECT_EQ(tabs.count(), 1);
    EXPECT_TRUE(presenter->shown.isEmpty());
    EXPECT_TRUE(TDM_Func::sameFunctionName(QStringLiteral("fNoReadMessage"),
                                           QStringLiteral("FNOREADMESSAGE")));

    // Every window of the module, each with its own class and title.
    const struct
    {
        const char *name;
        const char *cls;
        const char16_t *title;
    } windows[] = {{"fQueryMessage", "herald::TfQueryMessage", u"公告查询"},
                   {"FMANAGERMESSAGE", "herald::TfManagerMessage", u"公告管理"},
                   {"freadqmessage", "herald::TfReadQMessage", u"公告阅读查询"}};
    for (const auto &w : windows)
        DM_Func()->ExecFunc(QString::fromLatin1(w.name), QString::fromUtf16(w.title), {}, {}, 0);
    ASSERT_EQ(tabs.count(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(tabs.widget(i + 1)->metaObject()->className(), windows[i].cls);
        EXPECT_EQ(tabs.tabText(i + 1), QString::fromUtf16(windows[i].title));
    }
    EXPECT_TRUE(presenter->shown.isEmpty());
    while (tabs.count() > 1)
        delete tabs.widget(1);
    delete tabs.widget(0);
}

TEST_F(HeraldTest, Form1OpensIndependentEditorWindows)
{
    DM_Func()->ExecFunc(QStringLiteral("Form1"), {}, {}, {}, 0);
    QPointer<TForm1> first = DM_Func()->Form1;
    DM_Func()->ExecFunc(QStringLiteral("FORM1"), {}, {}, {}, 0);
    QPointer<TForm1> second = DM_Func()->Form1;
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.data(), second.data());
    EXPECT_TRUE(first->isVisible() && second->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Form1"));
    first->LMDRichEdit->setPlainText(QStringLiteral("one"));
    EXPECT_TRUE(second->LMDRichEdit->plainText().isEmpty());
    first->close();
    second->close();
}

TEST_F(HeraldTest, UnreadFunctionWithoutServerFailsBeforeAnyWindow)
{
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    DM_Func()->cnServer = nullptr;
    EXPECT_ANY_THROW(DM_Func()->ExecFunc(QStringLiteral("fNoReadMessage"), {}, {}, {}, 0));
    EXPECT_EQ(tabs.count(), 0);
}

TEST_F(HeraldTest, ServerFileNamesAreUniqueAndKeepTheExtension)
{
    const QRegularExpression form(QStringLiteral(
        "^notice\\\\(\\d{8})\\\\(\\d{14})_\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}(.*)$"));
    struct Case
    {
        const char *local;
        const char *ext;
    };
    const Case cases[] = {{"/tmp/a.rtf", ".rtf"},    {"C:\\x\\报告.DOCX", ".DOCX"},
                          {"/tmp/noext", ""},        {"/tmp/dir.d/noext", ""},
                          {"C:\\dir.d\\noext", ""},  {"/tmp/a.tar.gz", ".gz"}};
    for (const Case &c : cases) {
        const QString name = TDM_Func::GenerateServerFileName(QStringLiteral("notice"),
                                                              QString::fromUtf8(c.local));
        const auto m = form.match(name);
        ASSERT_TRUE(m.hasMatch()) << name.toStdString();
        EXPECT_EQ(m.captured(3), QString::fromUtf8(c.ext)) << c.local;
        EXPECT_TRUE(m.captured(2).startsWith(m.captured(1)));
    }
    EXPECT_TRUE(TDM_Func::GenerateServerFileName(QStringLiteral("notice"), QStringLiteral("/x/y"))
                    .endsWith(u'}'));
    // Many names within the same second still differ.
    QSet<QString> names;
    for (int i = 0; i < 200; ++i)
        names.insert(TDM_Func::GenerateServerFileName(QStringLiteral("notice"), QStringLiteral("a.txt")));
    EXPECT_EQ(names.size(), 200);
}

TEST_F(HeraldTest, NoticeKeysAndBodyFileNames)
{
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(TfSendMessage::MakeNoticeKey(t, 0), QStringLiteral("202603040506070"));
    EXPECT_EQ(TfSendMessage::MakeNoticeKey(t, 999999), QStringLiteral("20260304050607999999"));
    EXPECT_EQ(TfSendMessage::MakeNoticeKey(t, 42), QStringLiteral("2026030405060742"));

    struct Case
    {
        const char *subject;
        const char *file;
    };
    const Case cases[] = {
        {"放假通知", "/t/K放假通知.rtf"},
        {"a/b\\c:d*e?f\"g<h>i|j", "/t/Ka_b_c_d_e_f_g_h_i_j.rtf"},
        {"ends with dot.", "/t/Kends with dot.rtf"},
        {"tab\there", "/t/Ktab_here.rtf"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TfSendMessage::BodyFileName(QStringLiteral("/t"), QStringLiteral("K"),
                                              QString::fromUtf8(c.subject)),
                  QString::fromUtf8(c.file));
    // A subject full of forbidden characters still gives a file that can be written.
    QTemporaryDir dir;
    QFile f(TfSendMessage::BodyFileName(dir.path(), QStringLiteral("1"), QStringLiteral("x/y:z?*")));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST_F(HeraldTest, LocalCopiesAreReusedAndNamesCannotLeaveTheFolder)
{
    writeLocal(QStringLiteral("{A}.txt"), "kept");
    DM_Func()->cnServer = nullptr; // any transfer would fail
    const QString local = DM_Func()->DownLoadFile(QStringLiteral("notice\\20261207\\{A}.txt"));
    EXPECT_EQ(local, TDM_Func::localFileFolder() + QStringLiteral("{A}.txt"));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("kept"));

    for (const char *bad : {"notice\\..", "notice\\", "notice\\../../etc/x", ""})
        EXPECT_THROW(DM_Func()->DownLoadFile(QString::fromLatin1(bad)), host::UserError) << bad;

    DM_Func()->BrowerFile(QString());
    EXPECT_TRUE(opened.isEmpty());
    DM_Func()->BrowerFile(QStringLiteral("notice\\x\\{A}.txt"));
    EXPECT_EQ(opened, QStringList{local});
}

TEST_F(HeraldTest, BodyLayoutsAreToldApartWithoutMistakingLocalPaths)
{
    using Kind = TDM_Func::BodyKind;
    struct Case
    {
        const char *content;
        Kind kind;
    };
    const Case cases[] = {
        {"notice\\d\\{X}.rtf", Kind::ServerFile},
        {"NOTICE\\20261207\\{X}.rtf\r\n", Kind::ServerFile},
        // The publisher's local paths of the older layout, whatever folders they name.
        {"C:\\Temp\\notice\\1主题.rtf", Kind::OlderFile},
        {"\\\\srv\\notice\\a.rtf", Kind::OlderFile},
        {"D:\\notice.rtf", Kind::OlderFile},
        {"MSGData\\1.rtf\r\n", Kind::OlderFile},
        {"rtf", Kind::OlderFile},
        {"请查收", Kind::Text},
        {"x.RTF", Kind::Text},
        {"x.rtf ", Kind::Text},
        {"", Kind::None},
        {"\r\n", Kind::None},
    };
    for (const Case &c : cases) {
        const QString content = QString::fromUtf8(c.content);
        EXPECT_EQ(TDM_Func::bodyKind(content), c.kind) << c.content;
        EXPECT_EQ(TDM_Func::IsBodyFile(content), c.kind == Kind::ServerFile || c.kind == Kind::OlderFile)
            << c.content;
    }
}

TEST_F(HeraldTest, AttachmentsOpenUnderTheirOriginalNamesOrTellWhyNot)
{
    DM_Func()->cnServer = nullptr; // the copies are there already
    writeLocal(QStringLiteral("20261207_{A}.xls"), "first");
    writeLocal(QStringLiteral("20261207_{B}.xls"), "second");
    const QString a = DM_Func()->DownLoadFileAs(QStringLiteral("notice\\d\\20261207_{A}.xls"),
                                                QStringLiteral("报表.xls"));
    const QString b = DM_Func()->DownLoadFileAs(QStringLiteral("notice\\d\\20261207_{B}.xls"),
                                                QStringLiteral("C:\\用户\\报表.xls"));
    EXPECT_EQ(QFileInfo(a).fileName(), QStringLiteral("报表.xls"));
    EXPECT_EQ(QFileInfo(b).fileName(), QStringLiteral("报表.xls"));
    EXPECT_NE(a, b) << "two attachments of one name keep apart";
    QFile fa(a), fb(b);
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly));
    ASSERT_TRUE(fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), QByteArray("first"));
    EXPECT_EQ(fb.readAll(), QByteArray("second"));
    // A name that tries to climb out stays inside the local folder.
    const QString odd = DM_Func()->DownLoadFileAs(QStringLiteral("notice\\d\\20261207_{A}.xls"),
                                                  QStringLiteral("../../x:*.xls"));
    EXPECT_TRUE(odd.startsWith(TDM_Func::localFileFolder())) << odd.toStdString();
    EXPECT_EQ(TDM_Func::AttachmentName(QStringLiteral("notice\\d\\{A}.xls"), QString()),
              QStringLiteral("{A}.xls"));

    DM_Func()->BrowerFile(QStringLiteral("notice\\d\\20261207_{A}.xls"), QStringLiteral("报表.xls"));
    EXPECT_EQ(opened, QStringList{a});
    // The desktop has no program for it: the user is told where the file is.
    desktopOpens = false;
    try {
        DM_Func()->BrowerFile(QStringLiteral("notice\\d\\20261207_{A}.xls"), QStringLiteral("报表.xls"));
        ADD_FAILURE() << "no message";
    } catch (const host::UserError &e) {
        EXPECT_TRUE(e.message().contains(QDir::toNativeSeparators(a))) << e.message().toStdString();
    }
}

TEST_F(HeraldTest, UploadOfAMissingFileTellsTheUserAndStops)
{
    const QString missing = m_dir.filePath(QStringLiteral("none.doc"));
    EXPECT_THROW(DM_Func()->UploadFile(missing), host::SilentAbort);
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("文件[") + missing + QStringLiteral("]不存在.")});
}

TEST_F(HeraldTest, PublishValidationsStopBeforeAnythingIsWritten)
{
    auto *form = tessera::createForm<TfSendMessage>();
    form->show();
    struct Case
    {
        QString subject, sites, emps, message;
        QWidget *focus;
    };
    const QString fifty(50, u'字');
    const Case cases[] = {
        {QString(), QStringLiteral("上海浦东"), QString(), QStringLiteral("请输入公告主题内容!"), form->edtObject},
        {fifty + u'x', QStringLiteral("上海浦东"), QString(), QStringLiteral("主题长度不能起过50个字符(25个汉字)!"), form->edtObject},
        {fifty, QString(), QString(), QStringLiteral("请输入公告接收网点或接受员工!"), form->edtSites},
        // A typed employee name that cannot be placed at a site is refused.
        {fifty, QString(), QStringLiteral("无名氏"), QStringLiteral("无法确定接收员工[无名氏]所属的网点,请通过选择按钮选择员工!"), form->edtEmps},
    };
    for (const Case &c : cases) {
        presenter->shown.clear();
        form->edtObject->setText(c.subject);
        form->edtSites->setText(c.sites);
        form->edtEmps->setText(c.emps);
        form->actSaveExecute();
        ASSERT_EQ(presenter->shown.size(), 1) << c.message.toStdString();
        EXPECT_EQ(presenter->shown[0].text, c.message);
        EXPECT_EQ(presenter->shown[0].kind, host::MessageKind::Error);
        EXPECT_EQ(form->focusWidget(), c.focus) << c.message.toStdString();
        EXPECT_FALSE(form->cdsMSG->Active());
        EXPECT_TRUE(form->lastNoticeKey().isEmpty());
    }
    EXPECT_EQ(form->edtObject->text(), fifty); // inputs stay
    form->LMDRichEdit->setPlainText(QStringLiteral("body"));
    form->actCancelExecute(); // "清除" clears the body only
    EXPECT_TRUE(form->LMDRichEdit->plainText().isEmpty());
    EXPECT_EQ(form->edtObject->text(), fifty);
    delete form;
}

TEST_F(HeraldTest, UnreadListColumnsSortingAndOpeningFiles)
{
    quillon::TMyDataSet *data = DM_Func()->cdsMSGData;
    data->Close();
    QList<quillon::FieldDef> defs;
    for (const char *n : {"MSGID", "MSGOBJECT", "MSGCONTENT", "MSGFILE", "MSGTYPE", "OPTIME",
                          "OPSITE", "OPEMP", "CLOSEDATE", "sysid", "MSGSITE", "MSGEMP"})
        defs.append({QString::fromLatin1(n), quillon::FieldType::String, 100});
    data->SetFieldDefs(defs);
    data->CreateDataSet();
    struct Row
    {
        const char *id, *subject, *content, *file;
    };
    const Row rows[] = {{"3", "beta", "notice\\d\\{B}.rtf", ""},
                        {"1", "Alpha", "notice\\d\\{C}.rtf", "notice\\d\\{F}.doc"},
                        {"2", "gamma ", "plain body a/b", ""}};
    for (const Row &r : rows) {
        data->Append();
        data->FieldByName(QStringLiteral("MSGID"))->SetAsString(QString::fromLatin1(r.id));
        data->FieldByName(QStringLiteral("MSGOBJECT"))->SetAsString(QString::fromLatin1(r.subject));
        data->FieldByName(QStringLiteral("MSGCONTENT"))->SetAsString(QString::fromLatin1(r.content));
        data->FieldByName(QStringLiteral("MSGFILE"))->SetAsString(QString::fromLatin1(r.file));
        data->FieldByName(QStringLiteral("MSGSITE"))->SetAsString(QStringLiteral("上海浦东"));
        data->Post();
    }
    writeLocal(QStringLiteral("{B}.rtf"), "{\\rtf1 B}");
    writeLocal(QStringLiteral("{F}.doc"), "F");

    auto *form = tessera::createForm<TfNoReadMessage>();
    form->show();
    QTreeWidget *lv = form->lvMsg;
    ASSERT_EQ(lv->columnCount(), 11);
    EXPECT_EQ(lv->headerItem()->text(10), QStringLiteral("ID"));
    EXPECT_EQ(lv->headerItem()->text(3), QStringLiteral("收信员工"));
    ASSERT_EQ(lv->topLevelItemCount(), 3);
    // Filled in key order, values trimmed.
    EXPECT_EQ(lv->topLevelItem(0)->text(TfNoReadMessage::ColId), QStringLiteral("1"));
    EXPECT_EQ(lv->topLevelItem(1)->text(TfNoReadMessage::ColObject), QStringLiteral("gamma"));

    auto subjects = [lv] {
        QStringList s;
        for (int i = 0; i < lv->topLevelItemCount(); ++i)
            s << lv->topLevelItem(i)->text(TfNoReadMessage::ColObject);
        return s;
    };
    form->lvMsgColumnClick(TfNoReadMessage::ColObject);
    EXPECT_TRUE(form->sortAscending());
    EXPECT_EQ(subjects(), (QStringList{"Alpha", "beta", "gamma"}));
    form->lvMsgColumnClick(TfNoReadMessage::ColObject);
    EXPECT_FALSE(form->sortAscending());
    EXPECT_EQ(subjects(), (QStringList{"gamma", "beta", "Alpha"}));
    form->lvMsgColumnClick(TfNoReadMessage::ColId);
    EXPECT_EQ(form->sortColumn(), int(TfNoReadMessage::ColId));
    EXPECT_TRUE(form->sortAscending());
    EXPECT_EQ(subjects(), (QStringList{"Alpha", "gamma", "beta"}));

    // Double click: the attachment when there is one, else the body, else nothing.
    DM_Func()->cnServer = nullptr;
    const QString folder = TDM_Func::localFileFolder();
    auto open = [&](int row) {
        lv->setCurrentItem(lv->topLevelItem(row));
        form->lvMsgDblClick();
    };
    open(0);
    open(2);
    open(1);
    EXPECT_EQ(opened, (QStringList{folder + "{F}.doc", folder + "{B}.rtf"}));
    // A body held as text is shown directly, never fetched or opened.
    DM_Func()->ShowBody(QStringLiteral("plain body a/b"), QStringLiteral("1"), form->LMDRichEdit);
    EXPECT_EQ(form->LMDRichEdit->plainText(), QStringLiteral("plain body a/b"));
    DM_Func()->ShowBody(QStringLiteral("notice\\d\\{B}.rtf"), QStringLiteral("2"), form->LMDRichEdit);
    EXPECT_EQ(form->LMDRichEdit->plainText().trimmed(), QStringLiteral("B"));
    // Nothing selected: nothing happens.
    lv->clearSelection();
    form->lvMsgDblClick();
    EXPECT_EQ(opened.size(), 2);
    delete form;
    data->Close();
}
