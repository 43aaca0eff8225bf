// The module data module base and the Funcs helpers, against the host's real module
// service and shared variable list.
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "modules/framework/dmu.h"
#include "modules/framework/funcs.h"

#include <QComboBox>
#include <QTabWidget>
#include <QWidget>
#include <gtest/gtest.h>

using namespace framework;
using quillon::TMyDataSet;

namespace {

host::ScriptedPresenter *installPresenter()
{
    auto p = std::make_unique<host::ScriptedPresenter>();
    auto *raw = p.get();
    host::setDialogPresenter(std::move(p));
    return raw;
}

TMyDataSet *makeEmployees(QObject *owner)
{
    auto *ds = new TMyDataSet(owner);
    ds->SetFieldDefs({{QStringLiteral("EmpCode"), quillon::FieldType::String, 10},
                      {QStringLiteral("EmpName"), quillon::FieldType::String, 20},
                      {QStringLiteral("BELONGSITE"), quillon::FieldType::String, 20}});
    ds->CreateDataSet();
    const char *rows[][3] = {{"10101", "王一", "上海浦东"},
                             {"10102", "王二", "上海浦东"},
                             {"20101", "王一", "北京朝阳"}};
    for (auto &r : rows) {
        ds->Append();
        for (int i = 0; i < 3; ++i)
            ds->Fields(i)->SetAsString(QString::fromUtf8(r[i]));
        ds->Post();
    }
    return ds;
}

class RecordingModule : public Tdm
{
public:
    using Tdm::Tdm;
    void new_execute(const QString &callfunc, const QString &funcdesc, const QString &controls,
                     const QStringList &params, int HelpIndex) override
    {
        calls.append(QStringList{callfunc, funcdesc, controls, params.join(u'|'),
                                 QString::number(HelpIndex)});
    }
    QList<QStringList> calls;
};

class MarkerForm : public QWidget
{
    Q_OBJECT
};

} // namespace

TEST(ModuleDataModule, InitConnBindsOnlyUnboundDatasetsAndPublishesVars)
{
    quillon::TMySktConnection hostConn;
    quillon::TMySktConnection own;
    host::CdbCommObj();
    host::setConnection(&hostConn);

    RecordingModule dm;
    auto *fresh = new TMyDataSet(&dm);    // private connection of its creation: stays
    auto *cleared = new TMyDataSet(&dm);  // connection cleared: gets cnServer
    cleared->SetMyConn(nullptr);
    auto *given = new TMyDataSet(&dm);    // bound before InitConn: keeps it
    given->SetMyConn(&own);
    QObject grandParent(&dm);
    auto *nested = new TMyDataSet(&grandParent); // not owned by the data module itself
    nested->SetMyConn(nullptr);

    EXPECT_EQ(dm.cnServer, nullptr);
    dm.InitConn();
    EXPECT_EQ(dm.cnServer, &hostConn);
    EXPECT_EQ(dm.lstGVars, host::g_lstVars);
    EXPECT_EQ(cleared->MyConn(), &hostConn);
    EXPECT_EQ(given->MyConn(), &own);
    EXPECT_NE(fresh->MyConn(), &hostConn);
    EXPECT_NE(fresh->MyConn(), nullptr);
    EXPECT_EQ(nested->MyConn(), nullptr);

    dm.ExecFunc(QStringLiteral("fX"), QStringLiteral("标题"), QStringLiteral("c"),
                {QStringLiteral("a=1"), QStringLiteral("b=2")}, 7);
    ASSERT_EQ(dm.calls.size(), 1);
    EXPECT_EQ(dm.calls[0], (QStringList{QStringLiteral("fX"), QStringLiteral("标题"),
                                        QStringLiteral("c"), QStringLiteral("a=1|b=2"),
                                        QStringLiteral("7")}));
    host::setConnection(nullptr);
}

TEST(ModuleDataModule, ShowFormHandsTheHostAnEmptyReferenceAndTheTitle)
{
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    RecordingModule dm;
    QWidget *instance = nullptr;
    int made = 0;
    auto factory = [&made] {
        ++made;
        return new QWidget;
    };
    QWidget *first = dm.MyShowMDIForm(QStringLiteral("MarkerForm"), factory, instance,
                                      QStringLiteral("ignored"), 3, QStringLiteral("公告发表"));
    QWidget *second = dm.MyShowMDIForm(QStringLiteral("MarkerForm"), factory, instance, {}, 3,
                                       QStringLiteral("公告发表"));
    EXPECT_EQ(instance, nullptr); // the module never stores the window
    EXPECT_EQ(first, second);     // the host found the open window of the class
    EXPECT_EQ(made, 1);
    EXPECT_EQ(tabs.count(), 1);
    EXPECT_EQ(tabs.tabText(0), QStringLiteral("公告发表"));
    EXPECT_EQ(first->property("helpIndex").toInt(), 3);
    host::ParentCtrl = nullptr;
    delete first;
}

TEST(ModuleDataModule, CallFuncReachesAnotherModuleWithItsParameters)
{
    RecordingModule other;
    host::ModuleService::instance().registerModule(QStringLiteral("px_Other"), &other);
    RecordingModule dm;
    const QStringList params{QStringLiteral("x=1")};
    dm.CallFunc(QStringLiteral("px_Other.fDo"), &params);
    dm.CallFunc(QStringLiteral("PX_OTHER.fAgain"), nullptr);
    ASSERT_EQ(other.calls.size(), 2);
    EXPECT_EQ(other.calls[0][0], QStringLiteral("fDo"));
    EXPECT_EQ(other.calls[0][3], QStringLiteral("x=1"));
    EXPECT_EQ(other.calls[1][0], QStringLiteral("fAgain"));
    EXPECT_THROW(dm.CallFunc(QStringLiteral("no dot"), nullptr), host::UserError);
    host::ModuleService::instance().registerModule(QStringLiteral("px_Other"), nullptr);
}

TEST(ModuleDataModule, FuncNotExistsTellsTheUser)
{
    auto *presenter = installPresenter();
    RecordingModule dm;
    dm.FuncNotExists();
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("此功能暂无法运行,请联系您的软件供应商!"));
    host::setDialogPresenter(nullptr);
}

TEST(Funcs, LookupDatasetsAreFoundByTheWholeLineOnly)
{
    QObject owner;
    TMyDataSet *emps = makeEmployees(&owner);
    auto *sites = new TMyDataSet(&owner);
    EXPECT_EQ(GetCdsSiteSub(), nullptr);
    // A name=value line of the same name does not count.
    const int valueLine = host::g_lstVars->append(QStringLiteral("cdsSiteSub=x"), sites);
    EXPECT_EQ(GetCdsSiteSub(), nullptr);
    host::g_lstVars->removeAt(valueLine);
    host::g_lstVars->attachTo(QStringLiteral("cdsSiteSub"), sites);
    host::g_lstVars->attachTo(QStringLiteral("CDSEMPLOYEEALL"), emps);
    EXPECT_EQ(GetCdsSiteSub(), sites);
    EXPECT_EQ(GetCdsEmployeeAll(), emps);
    EXPECT_EQ(GetCdsEmployeeSub(), nullptr);
    EXPECT_EQ(GetCdsSite(), nullptr);
    // A line carrying something else than a dataset gives nothing.
    QObject notADataset;
    host::g_lstVars->attachTo(QStringLiteral("cdsMdd"), &notADataset);
    EXPECT_EQ(GetCdsMdd(), nullptr);
    for (const char *n : {"cdsSiteSub", "CDSEMPLOYEEALL", "cdsMdd"})
        host::g_lstVars->remove(QString::fromLatin1(n));
    host::g_lstVars->setValue(QStringLiteral("LogOnEMPName"), QStringLiteral("马超"));
    EXPECT_EQ(GetLogOnEmpName(), QStringLiteral("马超"));
    host::g_lstVars->remove(QStringLiteral("LogOnEmpName"));
}

TEST(Funcs, CheckDataSetAndFillComboBox)
{
    auto *presenter = installPresenter();
    QObject owner;
    TMyDataSet *emps = makeEmployees(&owner);
    auto *closed = new TMyDataSet(&owner);
    EXPECT_TRUE(CheckDataSet(emps, true));
    EXPECT_FALSE(CheckDataSet(closed, false));
    EXPECT_FALSE(CheckDataSet(nullptr, false));
    EXPECT_TRUE(presenter->shown.isEmpty());
    EXPECT_FALSE(CheckDataSet(closed, true));
    ASSERT_EQ(presenter->shown.size(), 1);
    EXPECT_EQ(presenter->shown[0].text, QStringLiteral("当前的记录集没有打开或记录集中没有数据!"));

    QComboBox combo;
    combo.addItem(QStringLiteral("北京朝阳"));
    // Appending: existing items stay, values already listed are not added again.
    EXPECT_TRUE(FillComboBox(emps, &combo, QStringLiteral("BELONGSITE"), false, QStringLiteral("N")));
    EXPECT_EQ(combo.count(), 2);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("北京朝阳"));
    EXPECT_EQ(combo.itemText(1), QStringLiteral("上海浦东"));
    EXPECT_TRUE(FillComboBox(emps, &combo, QStringLiteral("EmpName"), true, QStringLiteral("全部")));
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("全部"));
    // A closed dataset leaves only the first item; a wrong field reports false.
    EXPECT_TRUE(FillComboBox(closed, &combo, QStringLiteral("EmpName"), true, QString()));
    EXPECT_EQ(combo.count(), 1);
    EXPECT_FALSE(FillComboBox(emps, &combo, QStringLiteral("NoSuchField"), true, QStringLiteral("N")));
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(presenter->shown.size(), 1); // FillComboBox never shows a message
    host::setDialogPresenter(nullptr);
}

TEST(Funcs, SplitCommaTextAndQuoting)
{
    struct Case
    {
        const char *text;
        QStringList items;
    };
    const Case cases[] = {
        {"", {}},
        {"上海浦东", {QStringLiteral("上海浦东")}},
        {"上海浦东,北京朝阳", {QStringLiteral("上海浦东"), QStringLiteral("北京朝阳")}},
        {" a , b ,,c ", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}},
        {"a b", {QStringLiteral("a"), QStringLiteral("b")}},
        {"\"a b\",c", {QStringLiteral("a b"), QStringLiteral("c")}},
        {"\"say \"\"hi\"\"\"", {QStringLiteral("say \"hi\"")}},
        {"\"unclosed", {QStringLiteral("unclosed")}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SplitCommaText(QString::fromUtf8(c.text)), c.items) << c.text;

    EXPECT_EQ(QuotedStr(QStringLiteral("O'Neil")), QStringLiteral("'O''Neil'"));
    host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("0'1"));
    EXPECT_EQ(QuotedVar(QStringLiteral("SYSID")), QStringLiteral("'0''1'"));
    host::g_lstVars->remove(QStringLiteral("sysid"));
}

#include "framework_test.moc"
