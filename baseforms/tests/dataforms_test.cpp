#include "baseforms/dbgrideh.h"
#include "baseforms/fdbmultibase_batch.h"
#include "baseforms/fdbquerybase_md.h"
#include "baseforms/fdbquerybase_single.h"
#include "baseforms/mydbxedit.h"
#include "baseforms/rzcontrols.h"
#include "lookuptestenv.h"

#include <QGridLayout>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

using namespace tessera;
using quillon::FieldType;

namespace {

class DataFormsTest : public lookuptest::Env
{
};

const QList<quillon::FieldDef> kFields{{QStringLiteral("BILLCODE"), FieldType::String, 20, true},
                                       {QStringLiteral("SITE"), FieldType::String, 20},
                                       {QStringLiteral("AMOUNT"), FieldType::Float}};

quillon::DataPacket threeRows()
{
    return lookuptest::packet(kFields, {{QStringLiteral("B1"), QStringLiteral("上海浦东"), 1.5},
                                        {QStringLiteral("B2"), QStringLiteral("北京朝阳"), 2.0},
                                        {QStringLiteral("B3"), QStringLiteral("杭州西湖"), 3.0}});
}

class Single : public TfDBQueryBase_Single
{
public:
    explicit Single(lookuptest::LocalDM *dm)
        : m_dm(dm)
    {}
    void InitPDM() override { SetPDM(m_dm); }
    QString GetSql() override { return sql; }
    QString sql;
    lookuptest::LocalDM *m_dm;
};

class MD : public TfDBQueryBase_MD
{
public:
    explicit MD(lookuptest::LocalDM *dm)
        : m_dm(dm)
    {
        DBGridTotal->setDataSource(dsTotal);
        DBGridDetail->setDataSource(dsDetail);
    }
    void InitPDM() override { SetPDM(m_dm); }
    QString GetSql() override { return QStringLiteral("select total"); }
    lookuptest::LocalDM *m_dm;
};

class Batch : public TfDBMultiBase_Batch
{
public:
    explicit Batch(lookuptest::LocalDM *dm)
        : m_dm(dm)
    {
        DBGridData->setReadOnly(false);
        cdsData->BeforePost = [this](quillon::TMyDataSet &ds) { cdsDataBeforePost(ds); };
    }
    void InitPDM() override { SetPDM(m_dm); }
    QString GetSql() override { return sql; }
    void AfterQuery() override { ++afterQueries; }
    QString sql = QStringLiteral("select rows");
    int afterQueries = 0;
    lookuptest::LocalDM *m_dm;
};

QMap<QString, bool> enabledOf(TfDBBase *f, const QStringList &names)
{
    f->updateActions();
    QMap<QString, bool> m;
    for (const QString &n : names)
        m.insert(n, qobject_cast<QAction *>(f->findComponent(n))->isEnabled());
    return m;
}

} // namespace

TEST_F(DataFormsTest, SingleQueryFormEnablesOutputOnlyWithRows)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    dm.packets.insert(QStringLiteral("select none"), lookuptest::packet(kFields, {}));
    std::unique_ptr<Single> f(createForm<Single>(&dm));
    const QStringList names{QStringLiteral("actQuery"), QStringLiteral("actExport"),
                            QStringLiteral("actPrint"), QStringLiteral("actChart"),
                            QStringLiteral("actClose")};
    auto state = [&](bool data) {
        return QMap<QString, bool>{{names[0], true},
                                   {names[1], data},
                                   {names[2], data},
                                   {names[3], data},
                                   {names[4], true}};
    };
    EXPECT_EQ(enabledOf(f.get(), names), state(false));
    f->sql = QStringLiteral("select none");
    f->executeAction(f->actQuery);
    EXPECT_TRUE(f->cdsData->Active());
    EXPECT_EQ(enabledOf(f.get(), names), state(false));
    f->sql = QStringLiteral("select rows");
    f->executeAction(f->actQuery);
    EXPECT_EQ(enabledOf(f.get(), names), state(true));
    // An empty GetSql reopens with the command text in force.
    f->sql.clear();
    f->executeAction(f->actQuery);
    EXPECT_EQ(dm.opened.last(), QStringLiteral("select rows"));

    f->setWindowTitle(QStringLiteral("应收"));
    f->executeAction(f->actExport);
    ASSERT_EQ(dm.calls.size(), 1);
    EXPECT_EQ(dm.calls.at(0).vars.value(QStringLiteral("Title")), QStringLiteral("应收"));
    // Printing without a report file tells so and shows nothing.
    f->executeAction(f->actPrint);
    EXPECT_EQ(presenter->shown.size(), 1);
    EXPECT_FALSE(f->cdsData->ControlsDisabled());

    // A lookup edit refusing its text stops the query.
    auto lookup = testdata::dataSet({{QStringLiteral("NAME"), FieldType::String, 10}},
                                    {{QStringLiteral("甲")}});
    auto *edit = f->addComponent(new TMyDBXEdit(f.get()), QStringLiteral("edtSite"));
    f->optionLayout()->addWidget(edit, 0, 0);
    edit->SetMSD_LookupCds(lookup.get());
    edit->SetMSD_NameField(QStringLiteral("NAME"));
    lookuptest::showActive(f.get());
    edit->setFocus();
    lookuptest::typeText(edit, QStringLiteral("乙"));
    const int opened = dm.opened.size();
    f->executeAction(f->actQuery);
    EXPECT_EQ(dm.opened.size(), opened);
}

TEST_F(DataFormsTest, MasterDetailExportsThePageShownUnderItsTitle)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select total"), threeRows());
    std::unique_ptr<MD> f(createForm<MD>(&dm));
    f->setWindowTitle(QStringLiteral("应收"));
    const QStringList names{QStringLiteral("actExport"), QStringLiteral("actPrint"),
                            QStringLiteral("actChart")};
    EXPECT_EQ(enabledOf(f.get(), names).values(), (QList<bool>{false, false, false}));
    f->executeAction(f->actQuery);
    EXPECT_EQ(enabledOf(f.get(), names).values(), (QList<bool>{true, true, true}));
    EXPECT_FALSE(f->cdsDetail->Active()); // the base form never opens the detail

    f->executeAction(f->actExport);
    // The detail page: still enabled (the summary has rows) but its closed dataset exports
    // nothing.
    f->pcDBGrid->setCurrentIndex(1);
    EXPECT_EQ(enabledOf(f.get(), names).values(), (QList<bool>{true, true, true}));
    f->executeAction(f->actExport);
    f->cdsDetail->SetData(threeRows());
    f->executeAction(f->actExport);
    QStringList titles;
    for (const auto &c : dm.calls)
        titles << c.vars.value(QStringLiteral("Title"));
    EXPECT_EQ(titles, (QStringList{QStringLiteral("应收-汇总"), QStringLiteral("应收-明细")}));
    EXPECT_EQ(dm.calls.at(1).vars.value(QStringLiteral("Grid")),
              QString::number(quintptr(f->DBGridDetail)));
}

TEST_F(DataFormsTest, BatchFormEnablingFollowsTheDataset)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    dm.packets.insert(QStringLiteral("select none"), lookuptest::packet(kFields, {}));
    std::unique_ptr<Batch> f(createForm<Batch>(&dm));
    const QStringList names{QStringLiteral("actNew"),    QStringLiteral("actEdit"),
                            QStringLiteral("actDel"),    QStringLiteral("actSave"),
                            QStringLiteral("actCancel"), QStringLiteral("actPrint"),
                            QStringLiteral("actExport"), QStringLiteral("actChart")};
    auto row = [&](QList<bool> on) {
        QMap<QString, bool> m;
        for (int i = 0; i < names.size(); ++i)
            m.insert(names[i], on[i]);
        return m;
    };
    // The batch form's tool bar has no 打印 and no 图表: those stay off whatever the data.
    //                              new   edit   del    save   cancel print  export chart
    EXPECT_EQ(enabledOf(f.get(), names),
              row({true, false, false, false, false, false, false, false}));
    f->sql = QStringLiteral("select none");
    f->executeAction(f->actQuery);
    EXPECT_EQ(enabledOf(f.get(), names),
              row({true, false, false, true, true, false, false, false}));
    f->sql = QStringLiteral("select rows");
    f->executeAction(f->actQuery);
    EXPECT_EQ(f->afterQueries, 2);
    EXPECT_EQ(f->cdsData->RecNo(), 1);
    EXPECT_EQ(enabledOf(f.get(), names), row({true, true, true, true, true, false, true, false}));
    f->executeAction(f->actEdit);
    EXPECT_EQ(f->cdsData->State(), quillon::DataSetState::Edit);
    EXPECT_EQ(enabledOf(f.get(), names), row({true, false, true, true, true, false, true, false}));
    f->cdsData->Cancel();
    f->executeAction(f->actNew);
    EXPECT_EQ(f->cdsData->State(), quillon::DataSetState::Insert);
    f->cdsData->Cancel();
}

TEST_F(DataFormsTest, BatchCancelRestoresEveryChangeAndDeleteNeedsYes)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    std::unique_ptr<Batch> f(createForm<Batch>(&dm));
    f->executeAction(f->actQuery);
    quillon::TMyDataSet *ds = f->cdsData;
    auto site = [&] { return ds->FieldByName(QStringLiteral("SITE")); };

    presenter->answers = {host::Answer::No};
    ds->SetRecNo(2);
    f->updateActions();
    f->executeAction(f->actDel);
    EXPECT_EQ(ds->RecordCount(), 3);
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(presenter->shown.last().text, QStringLiteral("确定要删除当前记录吗？"));

    ds->First();
    ds->Edit();
    site()->SetAsString(QStringLiteral("改一"));
    ds->Post();
    ds->Next();
    ds->Edit();
    site()->SetAsString(QStringLiteral("改二"));
    ds->Post();
    ds->Last();
    ds->Delete();
    ASSERT_EQ(ds->RecordCount(), 2);

    presenter->answers = {host::Answer::No, host::Answer::Yes};
    f->updateActions();
    f->executeAction(f->actCancel); // "no": nothing changes
    EXPECT_EQ(ds->ChangeCount(), 3);
    f->executeAction(f->actCancel);
    EXPECT_EQ(presenter->shown.last().text, QStringLiteral("确定要放弃所有未保存的修改吗？"));
    EXPECT_EQ(ds->ChangeCount(), 0);
    ASSERT_EQ(ds->RecordCount(), 3);
    QStringList sites;
    for (ds->First(); !ds->Eof(); ds->Next())
        sites << site()->AsString();
    EXPECT_EQ(sites, (QStringList{QStringLiteral("上海浦东"), QStringLiteral("北京朝阳"),
                                  QStringLiteral("杭州西湖")}));
}

TEST_F(DataFormsTest, RequiredFieldIsNamedByItsColumnAndTheGridMovesThere)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    std::unique_ptr<Batch> f(createForm<Batch>(&dm));
    f->executeAction(f->actQuery);
    f->DBGridData->addColumn(QStringLiteral("SITE"), QStringLiteral("网点"));
    f->DBGridData->addColumn(QStringLiteral("BILLCODE"), QStringLiteral("运单号"));
    f->DBGridData->addColumn(QStringLiteral("AMOUNT"), QStringLiteral("金额"));
    f->DBGridData->view()->setCurrentIndex(f->DBGridData->gridModel()->index(0, 0));

    quillon::TMyDataSet *ds = f->cdsData;
    ds->Append();
    ds->FieldByName(QStringLiteral("SITE"))->SetAsString(QStringLiteral("上海闵行"));
    EXPECT_THROW(ds->Post(), host::SilentAbort);
    EXPECT_EQ(ds->State(), quillon::DataSetState::Insert);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("SITE"))->AsString(), QStringLiteral("上海闵行"));
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown.at(0).caption, QStringLiteral("警告"));
    EXPECT_EQ(presenter->shown.at(0).text, QStringLiteral("运单号不能为空！"));
    EXPECT_EQ(f->DBGridData->view()->currentIndex().column(), 1);

    // Saving runs the same check and sends nothing.
    presenter->shown.clear();
    f->updateActions();
    f->executeAction(f->actSave);
    EXPECT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(ds->State(), quillon::DataSetState::Insert);
    ds->FieldByName(QStringLiteral("BILLCODE"))->SetAsString(QStringLiteral("B9"));
    ds->Post();
    EXPECT_EQ(ds->RecordCount(), 4);
}

TEST_F(DataFormsTest, UnsavedChangesAskBeforeCloseQueryOrProgramEnd)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    auto *f = createForm<Batch>(&dm);
    QPointer<Batch> alive(f);
    lookuptest::showActive(f);
    f->executeAction(f->actQuery);
    f->close();
    // Without changes the window closes without a question (and frees itself).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(presenter->shown.isEmpty());
    EXPECT_TRUE(alive.isNull());

    f = createForm<Batch>(&dm);
    alive = f;
    lookuptest::showActive(f);
    f->executeAction(f->actQuery);
    f->cdsData->First();
    f->cdsData->Edit();
    f->cdsData->FieldByName(QStringLiteral("SITE"))->SetAsString(QStringLiteral("改"));
    f->cdsData->Post();

    // Stay: neither the window nor the program closes; the change is kept.
    presenter->answers = {host::Answer::Cancel, host::Answer::Cancel};
    EXPECT_FALSE(f->close());
    QObject *registry = qApp->property("TesseraForms").value<QObject *>();
    ASSERT_NE(registry, nullptr);
    bool mayQuit = true;
    QMetaObject::invokeMethod(registry, "CloseQueryAll", Q_RETURN_ARG(bool, mayQuit));
    EXPECT_FALSE(mayQuit);
    EXPECT_EQ(f->cdsData->ChangeCount(), 1);
    EXPECT_EQ(presenter->shown.size(), 2);
    EXPECT_EQ(presenter->shown.at(0).kind, host::MessageKind::Question);

    // A new query asks too; "stay" keeps the data.
    presenter->answers = {host::Answer::Cancel};
    f->executeAction(f->actQuery);
    EXPECT_EQ(f->cdsData->ChangeCount(), 1);
    EXPECT_EQ(f->afterQueries, 1);

    // Discard: the change log goes and the window closes.
    presenter->answers = {host::Answer::No};
    EXPECT_TRUE(TfBase::CloseQueryAll());
    EXPECT_EQ(f->cdsData->ChangeCount(), 0);
    EXPECT_TRUE(f->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

// The base-form rule: an action a window hides is off, its shortcut included, however it
// is reached (the key, a trigger, the form's own dispatch); shown again, it works again.
TEST_F(DataFormsTest, AHiddenActionIsOffWithItsShortcut)
{
    lookuptest::LocalDM dm;
    dm.packets.insert(QStringLiteral("select rows"), threeRows());
    std::unique_ptr<Batch> f(createForm<Batch>(&dm));
    f->executeAction(f->actQuery);
    ASSERT_EQ(f->cdsData->RecordCount(), 3);
    int deletes = 0, news = 0;
    f->setExecuteHandler(f->actDel, [&] { ++deletes; });
    f->setExecuteHandler(f->actNew, [&] { ++news; });
    lookuptest::showActive(f.get());
    f->DBGridData->view()->setFocus();

    QTest::keyClick(f->DBGridData->view(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(deletes, 1) << "Ctrl+D of a shown 删除 acts";

    f->hideAction(f->actDel);
    f->hideAction(f->actNew);
    EXPECT_FALSE(f->isOffered(f->actDel));
    EXPECT_FALSE(f->actDel->isEnabled());
    EXPECT_FALSE(f->actNew->isEnabled());
    QTest::keyClick(f->DBGridData->view(), Qt::Key_D, Qt::ControlModifier);
    QTest::keyClick(f->DBGridData->view(), Qt::Key_N, Qt::ControlModifier);
    f->actDel->trigger();
    f->executeAction(f->actDel);
    f->updateActions(); // the idle update does not wake it either
    EXPECT_FALSE(f->actDel->isEnabled());
    f->executeAction(f->actNew);
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(news, 0);
    // Its button and separator are gone from the tool bar.
    for (QAction *a : f->tbTool->actions()) {
        if (a->objectName().startsWith(QLatin1String("tbDel"))) {
            EXPECT_FALSE(a->isVisible()) << qPrintable(a->objectName());
        }
    }

    // Offered another way (a menu of the window's own), it acts again.
    f->offerAction(f->actDel);
    f->updateActions();
    EXPECT_TRUE(f->actDel->isEnabled());
    QTest::keyClick(f->DBGridData->view(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(deletes, 2);
}
