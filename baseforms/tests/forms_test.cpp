#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/fbase.h"
#include "baseforms/fdbbase.h"
#include "baseforms/inifile.h"
#include "baseforms/msgconfig.h"
#include "baseforms/report.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/uiconfig.h"
#include "host/errors.h"
#include "testdata.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace tessera;

namespace {

// A form with one control of each kind the restyling treats.
class StyledForm : public TfBase
{
public:
    StyledForm()
    {
        setObjectName(QStringLiteral("fStyled"));
        auto *l = new QVBoxLayout(this);
        auto add = [&](QWidget *w, const char *name, int height = 0) {
            addComponent(w, QString::fromLatin1(name));
            if (height)
                w->setFixedHeight(height);
            l->addWidget(w);
            return w;
        };
        add(new QLineEdit, "edt22", 22);
        add(new QLineEdit, "edt25", 25);
        add(new QLineEdit, "edt50", 50);
        add(new TRzEdit, "rzEdt22", 22);
        add(new QComboBox, "cbb22", 22);
        add(new QComboBox, "cbb48", 48);
        add(new TRzComboBox, "rzCbb50", 50);
        add(new TDBDateTimeEditEh, "dtp", 30);
        add(new QCheckBox, "chk");
        add(new QLabel, "lbl");
        add(new TRzPanel, "rzPanel");
        add(new TRzGroupBox, "rzGroup");
        auto *e = static_cast<TDBEditEh *>(add(new TDBEditEh, "dbEdt"));
        e->addEditButton();
        add(new QPlainTextEdit, "memo");
    }
    template<class T> T *c(const char *name) const
    {
        return qobject_cast<T *>(findComponent(QString::fromLatin1(name)));
    }
};

class NavForm : public TfBase
{
public:
    NavForm()
    {
        auto *l = new QVBoxLayout(this);
        for (const char *n : {"edt1", "edt2", "edtTagged", "edt3"})
            l->addWidget(addComponent(new QLineEdit, QString::fromLatin1(n)));
        l->addWidget(addComponent(new QPlainTextEdit, QStringLiteral("memo")));
        l->addWidget(addComponent(new QLineEdit, QStringLiteral("edt4")));
        tessera::setTag(findComponent(QStringLiteral("edtTagged")), 5);
    }
    QWidget *w(const char *name) const
    {
        return qobject_cast<QWidget *>(findComponent(QString::fromLatin1(name)));
    }
};

const char *const kMessages = "[MsgList]\n"
                              "Msg2=隐藏\n"
                              "Msg3=展开\n"
                              "Msg4=加载标志图片失败！\n"
                              "Msg5=窗口没有设置数据模块，无法使用！\n"
                              "Msg6=报表文件不存在，请联系系统管理员！\n"
                              "Msg7=报表文件加载失败！\n"
                              "Msg12=表格的数据源没有设置数据集！\n";

class FormsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // The message table is read once per process and kept: every test offers the same
        // one, so whichever test reads it first, each key has its own text and a wrong key
        // shows a different (or no) text.
        testdata::writeFile(dir.filePath(QStringLiteral("ShowMsg.ini")), kMessages);
        setAppPath(dir.path());
        setConfigFileName(dir.filePath(QStringLiteral("waylink.ini")));
        reloadUIConfig();
        presenter = testdata::scriptedPresenter();
    }
    void TearDown() override
    {
        host::setDialogPresenter(nullptr);
        setAppPath(QString());
        setConfigFileName(QString());
        reloadUIConfig();
    }
    QTemporaryDir dir;
    host::ScriptedPresenter *presenter = nullptr;
};

// A data form with a grid over a dataset, as module windows build it.
class GridForm : public TfDBBase
{
public:
    explicit GridForm(quillon::TMyDataSet *ds, testdata::RecordingDM *dm = nullptr)
        : m_dm(dm)
    {
        setObjectName(QStringLiteral("fDemo"));
        dsData = new TDataSource(this);
        dsData->setDataSet(ds);
        DBGridData = addComponent(new TDBGridEh(this), QStringLiteral("DBGridData"));
        DBGridData->setDataSource(dsData);
        clientLayout()->addWidget(DBGridData);
        edtCode = addComponent(new QLineEdit(this), QStringLiteral("edtCode"));
        optionLayout()->addWidget(edtCode, 0, 0);
    }
    void InitPDM() override
    {
        TfDBBase::InitPDM();
        if (m_dm)
            SetPDM(m_dm);
        if (!iniOverride.isNull())
            SetDBGridIniFile(iniOverride);
    }
    QString iniOverride;
    TDataSource *dsData;
    TDBGridEh *DBGridData;
    QLineEdit *edtCode;
    testdata::RecordingDM *m_dm;
};

// An edit that refuses cancel mode, as a lookup edit with an unknown text does.
class RefusingEdit : public QLineEdit
{
public:
    bool refuse = false;
    int cancelModes = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == CancelModeEvent::eventType()) {
            ++cancelModes;
            if (refuse)
                static_cast<CancelModeEvent *>(e)->refuse();
            return true;
        }
        return QLineEdit::event(e);
    }
};

std::unique_ptr<quillon::TMyDataSet> demoData()
{
    using quillon::FieldType;
    return testdata::dataSet({{QStringLiteral("CODE"), FieldType::String, 10},
                              {QStringLiteral("QTY"), FieldType::Integer},
                              {QStringLiteral("AMOUNT"), FieldType::Float}},
                             {{QStringLiteral("A1"), 2, 1.5}, {QStringLiteral("B2"), 3, 2.25}});
}

} // namespace

TEST_F(FormsTest, RestylingSetsHeightsFontsAndColoursByKind)
{
    std::unique_ptr<StyledForm> f(createForm<StyledForm>());
    struct Expect
    {
        const char *name;
        int height;
        int points;
    };
    const Expect cases[] = {
        {"edt22", 23, 13}, {"edt50", 50, 30},   {"rzEdt22", 23, 12}, {"cbb22", 23, 10},
        {"cbb48", 48, 32}, {"rzCbb50", 50, 32}, {"dtp", 23, 10},
    };
    for (const auto &e : cases) {
        auto *w = f->c<QWidget>(e.name);
        ASSERT_TRUE(w) << e.name;
        EXPECT_EQ(TfBase::designHeight(w), e.height) << e.name;
        EXPECT_EQ(w->font().pointSize(), e.points) << e.name;
    }
    // An edit designed 25 high keeps height and font.
    auto *edt25 = f->c<QLineEdit>("edt25");
    EXPECT_EQ(TfBase::designHeight(edt25), 25);
    EXPECT_EQ(edt25->font().pointSize(), 9);

    EXPECT_EQ(f->palette().color(QPalette::Window), colorFromBgr(0xF7F5F4));
    EXPECT_EQ(f->c<QCheckBox>("chk")->palette().color(QPalette::Window), colorFromBgr(0xF7F5F4));
    EXPECT_EQ(f->c<TRzPanel>("rzPanel")->borderColor(), colorFromBgr(0xF0CAA6));
    EXPECT_EQ(f->c<TRzGroupBox>("rzGroup")->borderColor(), colorFromBgr(11758082));
    EXPECT_EQ(f->c<TRzGroupBox>("rzGroup")->alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    EXPECT_EQ(f->c<TDBEditEh>("dbEdt")->editButtons().first()->shortcut(),
              QKeySequence(Qt::Key_F4));
    EXPECT_EQ(f->c<QPlainTextEdit>("memo")->frameShadow(), QFrame::Plain);
}

TEST_F(FormsTest, ConfiguredFormColourAndStartParameters)
{
    testdata::writeFile(dir.filePath(QStringLiteral("waylink.ini")),
                        "[C_sysColor]\nC_MainColor=255\n");
    reloadUIConfig();
    qApp->setProperty("Tag", QStringLiteral("SiteCode=001"));
    std::unique_ptr<TfBase> f(createForm<TfBase>());
    qApp->setProperty("Tag", QVariant());
    EXPECT_EQ(f->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(f->InitParams(), QStringLiteral("SiteCode=001"));
    EXPECT_EQ(f->windowTitle(), QStringLiteral("_Basic Form"));
}

TEST_F(FormsTest, EnterMovesToTheNextControlExceptInMemosAndTaggedControls)
{
    std::unique_ptr<NavForm> f(createForm<NavForm>());
    f->show();
    QApplication::setActiveWindow(f.get());
    struct Step
    {
        const char *from;
        const char *expectFocus;
    };
    const Step steps[] = {
        {"edt1", "edt2"},           // moves on
        {"edtTagged", "edtTagged"}, // a tagged control keeps Enter
        {"memo", "memo"},           // a memo keeps Enter (new line)
        {"edt3", "memo"},
    };
    for (const auto &s : steps) {
        f->w(s.from)->setFocus();
        QTest::keyClick(f->w(s.from), Qt::Key_Return);
        EXPECT_EQ(f->focusWidget(), f->w(s.expectFocus)) << s.from;
    }
    EXPECT_EQ(static_cast<QPlainTextEdit *>(f->w("memo"))->toPlainText(), QStringLiteral("\n"));
}

TEST_F(FormsTest, DialogWrappersShowOnlyTheMessage)
{
    std::unique_ptr<TfBase> f(createForm<TfBase>());
    f->MSGErrorDialog(QStringLiteral("保存失败"), QStringLiteral("ORA-00001 unique constraint"));
    presenter->answers = {host::Answer::No};
    EXPECT_FALSE(f->MSGQuestionDialog(QStringLiteral("删除?")));
    ASSERT_EQ(presenter->shown.size(), 2);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("保存失败"));
    EXPECT_EQ(presenter->shown[0].caption, QStringLiteral("错误"));
}

TEST_F(FormsTest, DataFormActionsCarryCaptionsHintsShortcutsAndImages)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    struct A
    {
        const char *name;
        const char *caption;
        const char *hint;
        int image;
        QKeySequence key;
    };
    const A table[] = {
        {"actQuery", "查询", "查询", 7, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {"actExport", "导出", "导出", 17, QKeySequence(Qt::ALT | Qt::Key_E)},
        {"actCancel", "撤消", "撤消", 3, QKeySequence()},
        {"actChart", "图表", "", 22, QKeySequence()},
        {"actClose", "关闭", "关闭(Esc)", 14, QKeySequence()},
        {"actUpload", "上传", "上传", 15, QKeySequence(Qt::ALT | Qt::Key_T)},
        {"actCopy", "复制", "复制", 36, QKeySequence()},
    };
    for (const auto &a : table) {
        auto *act = qobject_cast<QAction *>(f->findComponent(QString::fromLatin1(a.name)));
        ASSERT_TRUE(act) << a.name;
        EXPECT_EQ(act->text(), QString::fromUtf8(a.caption)) << a.name;
        EXPECT_EQ(act->property("Hint").toString(), QString::fromUtf8(a.hint)) << a.name;
        EXPECT_EQ(act->property("ImageIndex").toInt(), a.image) << a.name;
        EXPECT_EQ(act->shortcut(), a.key) << a.name;
        EXPECT_FALSE(act->icon().isNull()) << a.name;
    }
    EXPECT_EQ(f->actions().size(), 23);
}

TEST_F(FormsTest, OptionPanelCollapsesAndExpandsAndTagNineStartsCollapsed)
{
    TMsgConfig fresh(dir.path());
    std::unique_ptr<TfDBBase> f(new TfDBBase);
    f->pnlOption->setFixedHeight(65);
    f->setTag(9);
    f->create();
    f->show();
    EXPECT_EQ(f->pnlOption->height(), 24);
    EXPECT_TRUE(f->btnExpand->isVisible());
    EXPECT_FALSE(f->btnCollapse->isVisible());
    f->btnExpandClick();
    EXPECT_EQ(TfBase::designHeight(f->pnlOption), 65);
    EXPECT_TRUE(f->btnCollapse->isVisible());
    f->btnCollapseClick();
    EXPECT_EQ(TfBase::designHeight(f->pnlOption), 24);
}

TEST_F(FormsTest, GridLayoutFileNameAndRoundTrip)
{
    auto ds = demoData();
    auto *f = createForm<GridForm>(ds.get());
    const int count = f->ComponentCount();
    // The create event restyled the grid: filter row, one footer row, sums from column 1.
    EXPECT_TRUE(f->DBGridData->FilterRowVisible());
    EXPECT_EQ(f->DBGridData->FooterRowCount(), 1);
    EXPECT_EQ(f->DBGridData->footerText(0), QString());
    EXPECT_EQ(f->DBGridData->footerText(1), QStringLiteral("5"));
    EXPECT_EQ(f->DBGridData->footerText(2), QStringLiteral("3.75"));
    EXPECT_EQ(f->DBGridIniFile(), QStringLiteral("fDemo%1.ini").arg(count));
    EXPECT_EQ(f->gridLayoutPath(), dir.path() + QStringLiteral("/myini/fDemo%1.ini").arg(count));

    // The user widens AMOUNT and drags it to the front; closing saves that.
    f->DBGridData->view()->setColumnWidth(2, 177);
    f->DBGridData->view()->horizontalHeader()->moveSection(2, 0);
    QPointer<GridForm> guard(f);
    f->show();
    f->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull()) << "a closed data form is freed";

    const IniFile ini(dir.path() + QStringLiteral("/myini/fDemo%1.ini").arg(count));
    EXPECT_EQ(ini.value(QStringLiteral("DBGridData"), QStringLiteral("Columns")),
              QStringLiteral("AMOUNT,CODE,QTY"));

    std::unique_ptr<GridForm> again(createForm<GridForm>(ds.get()));
    auto *header = again->DBGridData->view()->horizontalHeader();
    EXPECT_EQ(header->logicalIndex(0), 2);
    EXPECT_EQ(again->DBGridData->view()->columnWidth(2), 177);
}

TEST_F(FormsTest, EmptyGridIniFileDisablesReadingAndWriting)
{
    auto ds = demoData();
    auto *f = new GridForm(ds.get());
    f->iniOverride = QStringLiteral("");
    f->create();
    EXPECT_TRUE(f->gridLayoutPath().isEmpty());
    f->show();
    f->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("myini"))).exists());
}

TEST_F(FormsTest, EveryActionSendsCancelModeFirstAndARefusalStopsIt)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    auto *edit = new RefusingEdit;
    f->optionLayout()->addWidget(edit, 0, 0);
    f->show();
    QApplication::setActiveWindow(f.get());
    edit->setFocus();
    int ran = 0;
    f->setExecuteHandler(f->actNew, [&] { ++ran; });
    f->addToolButton(f->actNew, QStringLiteral("tbNew")); // offered: a bare form offers nothing
    f->updateActions();

    f->actNew->trigger();
    EXPECT_EQ(edit->cancelModes, 1);
    EXPECT_EQ(ran, 1);

    edit->refuse = true;
    f->actNew->trigger();
    EXPECT_EQ(edit->cancelModes, 2);
    EXPECT_EQ(ran, 1) << "the refused action did not run";
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(FormsTest, ActionErrorsAreShownAndSilentAbortsAreNot)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    f->setExecuteHandler(f->actSave, [] { throw host::SilentAbort(); });
    f->setExecuteHandler(f->actDel, [] { throw host::UserError(QStringLiteral("删除失败")); });
    f->offerAction(f->actSave);
    f->offerAction(f->actDel);
    f->updateActions();
    f->actSave->trigger();
    EXPECT_TRUE(presenter->shown.isEmpty());
    f->actDel->trigger();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("删除失败"));
}

TEST_F(FormsTest, UpdateHandlersEnableActionsAndAFailingRuleDisables)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    bool haveRows = false;
    f->setUpdateHandler(f->actExport, [&] { return haveRows; });
    f->setUpdateHandler(f->actPrint, [&]() -> bool { return f->PDM() != nullptr; }); // no module
    f->addToolButton(f->actExport, QStringLiteral("tbExcel"));
    f->addToolButton(f->actPrint, QStringLiteral("tbPrint"));
    f->updateActions();
    EXPECT_FALSE(f->actExport->isEnabled());
    EXPECT_FALSE(f->actPrint->isEnabled());
    haveRows = true;
    f->updateActions();
    EXPECT_TRUE(f->actExport->isEnabled());
    int ran = 0;
    f->setExecuteHandler(f->actPrint, [&] { ++ran; });
    f->actPrint->trigger();
    EXPECT_EQ(ran, 0) << "a disabled action does not run";
}

TEST_F(FormsTest, MissingDataModuleRaisesMsg5)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    try {
        f->PDM();
        FAIL() << "no error";
    } catch (const host::UserError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("窗口没有设置数据模块，无法使用！"));
    }
}

TEST_F(FormsTest, MissingReportShowsMsg6ThenAbortsSilently)
{
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    TfrxReport report;
    EXPECT_THROW(f->LoadReport(&report, QStringLiteral("none.wlr")), host::SilentAbort);
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].kind, host::MessageKind::Information);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("报表文件不存在，请联系系统管理员！"));

    QDir(dir.path()).mkpath(QStringLiteral("_report"));
    testdata::writeFile(dir.filePath(QStringLiteral("_report/broken.wlr")), "not a report");
    EXPECT_THROW(f->LoadReport(&report, QStringLiteral("broken.wlr")), host::SilentAbort);
    ASSERT_EQ(presenter->shown.size(), 2);
    EXPECT_EQ(presenter->shown[1].kind, host::MessageKind::Error);
    EXPECT_EQ(presenter->shown[1].text, QStringLiteral("报表文件加载失败！"));

    testdata::writeFile(dir.filePath(QStringLiteral("_report/ok.wlr")),
                        "[Report]\nTitle=T\n[Columns]\nColumn1=CODE;编码;20\n");
    EXPECT_NO_THROW(f->LoadReport(&report, QStringLiteral("ok.wlr")));
}

TEST_F(FormsTest, ToolboxCallsSetTheirLinesOnlyDuringTheCall)
{
    testdata::RecordingDM dm;
    dm.vars.setValue(QStringLiteral("sysid"), QStringLiteral("001"));
    auto ds = demoData();
    std::unique_ptr<GridForm> f(createForm<GridForm>(ds.get(), &dm));

    f->ExportToExcel(f->DBGridData, QStringLiteral("应收-汇总"), QString(), QString(), QString(),
                     true);
    f->LookupDlg(QStringLiteral("select 1 from dual"), QStringLiteral("a,b"),
                 QStringLiteral("请选择"), QStringLiteral("SiteCode"), QStringLiteral("SiteName"),
                 QStringLiteral("BELONGSITE"), 1, 0);
    QStringList extra{QStringLiteral("x=1")};
    f->FileUpload(f->DBGridData, QStringLiteral("T"), QStringLiteral("dir"), QString(), QString(),
                  QString(), &extra);

    ASSERT_EQ(dm.calls.size(), 3);
    EXPECT_EQ(dm.calls[0].name, QStringLiteral("px_Toolbox.GridEhToExcel"));
    EXPECT_EQ(dm.calls[0].vars.value(QStringLiteral("Grid")).toULongLong(),
              quintptr(f->DBGridData));
    EXPECT_EQ(dm.calls[0].vars.value(QStringLiteral("Title")), QStringLiteral("应收-汇总"));
    EXPECT_EQ(dm.calls[0].vars.value(QStringLiteral("ShowFlag")), QStringLiteral("True"));
    EXPECT_EQ(dm.calls[1].name, QStringLiteral("px_Toolbox.fLookupDlg"));
    EXPECT_EQ(dm.calls[1].vars.value(QStringLiteral("DlgFlag")), QStringLiteral("1"));
    EXPECT_EQ(dm.calls[1].vars.value(QStringLiteral("DlgReturn")), QStringLiteral("0"));
    EXPECT_EQ(dm.calls[1].vars.value(QStringLiteral("DlgBelong")), QStringLiteral("BELONGSITE"));
    EXPECT_EQ(dm.calls[2].name, QStringLiteral("px_Toolbox.fFileUpload"));
    EXPECT_EQ(dm.calls[2].vars.value(QStringLiteral("aParam")).toULongLong(), quintptr(&extra));

    // Afterwards only what was there before remains.
    EXPECT_EQ(dm.vars.lines(), QStringList{QStringLiteral("sysid=001")});
}

TEST_F(FormsTest, GetBillCodeListOfAMemo)
{
    QPlainTextEdit memo;
    EXPECT_EQ(TfDBBase::GetBillCodeList(&memo), QStringLiteral("'*'"));
    memo.setPlainText(QStringLiteral("A1\nB2"));
    EXPECT_EQ(TfDBBase::GetBillCodeList(&memo), QStringLiteral("'B2','A1'"));
}

TEST_F(FormsTest, LookupHelpersWriteOnlyChangedResults)
{
    auto ds = demoData();
    auto lookup = demoData();
    std::unique_ptr<GridForm> f(createForm<GridForm>(ds.get()));
    QString answer;
    QStringList asked;
    setShowFindForm([&](const QString &caption, quillon::TMyDataSet *, const QString &,
                        const QString &, const QString &current) {
        asked << caption + QLatin1Char(':') + current;
        return answer;
    });

    TDBEditEh edit;
    edit.setDataSource(f->dsData);
    edit.setDataField(QStringLiteral("CODE"));
    ds->First();
    answer = QStringLiteral("A1"); // the same as shown: nothing changes
    f->DBEditEhLookup(&edit, QStringLiteral("编码"), lookup.get(), QStringLiteral("CODE"),
                      QStringLiteral("CODE"));
    EXPECT_EQ(ds->State(), quillon::DataSetState::Browse);
    answer = QStringLiteral("Z9");
    f->DBEditEhLookup(&edit, QStringLiteral("编码"), lookup.get(), QStringLiteral("CODE"),
                      QStringLiteral("CODE"));
    EXPECT_EQ(ds->State(), quillon::DataSetState::Edit);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsString(), QStringLiteral("Z9"));
    ds->Cancel();

    answer = QStringLiteral("Q7");
    f->ColumnEhLookup(f->DBGridData, QStringLiteral("CODE"), QStringLiteral("列"), lookup.get(),
                      QStringLiteral("CODE"), QStringLiteral("CODE"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsString(), QStringLiteral("Q7"));
    EXPECT_EQ(asked, (QStringList{QStringLiteral("编码:A1"), QStringLiteral("编码:A1"),
                                  QStringLiteral("列:")}));
    ds->Cancel();

    TDBGridEh noSource;
    EXPECT_THROW(f->ColumnEhLookup(&noSource, QStringLiteral("CODE"), QString(), lookup.get(),
                                   QStringLiteral("CODE"), QString()),
                 host::UserError);
    TDataSource empty;
    noSource.setDataSource(&empty);
    try {
        f->ColumnEhLookup(&noSource, QStringLiteral("CODE"), QString(), lookup.get(),
                          QStringLiteral("CODE"), QString());
        ADD_FAILURE() << "no error without a dataset";
    } catch (const host::UserError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("表格的数据源没有设置数据集！"));
    }
    setShowFindForm(nullptr);
}

TEST_F(FormsTest, LogosLoadWhenPresentAndABrokenOneIsReportedWithoutStoppingTheForm)
{
    QDir(dir.path()).mkpath(QStringLiteral("_jpg"));
    {
        std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
        EXPECT_TRUE(f->imgCusLogo->isHidden());
        EXPECT_TRUE(f->pnlToolLogo->isHidden());
    }
    QImage logo(176, 88, QImage::Format_RGB32);
    logo.fill(Qt::blue);
    ASSERT_TRUE(logo.save(dir.filePath(QStringLiteral("_jpg/cuslogo.jpg"))));
    {
        std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
        EXPECT_FALSE(f->imgCusLogo->isHidden());
        EXPECT_EQ(f->imgCusLogo->size(), QSize(88, 44));
        EXPECT_TRUE(presenter->shown.isEmpty());
    }
    testdata::writeFile(dir.filePath(QStringLiteral("_jpg/cuslogo.jpg")), "not a picture");
    std::unique_ptr<TfDBBase> f(createForm<TfDBBase>());
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].kind, host::MessageKind::Error);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("加载标志图片失败！"));
    EXPECT_TRUE(f->isCreated());
}
