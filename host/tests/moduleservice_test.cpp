#include "host/errors.h"
#include "host/moduleservice.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using host::ModuleService;

namespace {

ModuleService &service()
{
    ModuleService &s = ModuleService::instance();
    s.addModuleDirectory(QStringLiteral(WAYLINK_FIXTURE_DIR));
    return s;
}

QString callError(const QString &name)
{
    try {
        service().CallFunc(name);
    } catch (const host::UserError &e) {
        return e.message();
    }
    return {};
}

} // namespace

TEST(ModuleService, LoadsOnceInitialisesOnceThenExecutes)
{
    auto *vars = host::g_lstVars;
    vars->remove(QStringLiteral("ProbeInit"));
    service().CallFunc(QStringLiteral("px_Probe.fOne"), 3, {QStringLiteral("a=1")},
                       QStringLiteral("标题"));
    EXPECT_TRUE(service().isLoaded(QStringLiteral("PX_PROBE")));
    EXPECT_EQ(vars->value(QStringLiteral("ProbeInit")), QStringLiteral("1"));
    EXPECT_EQ(vars->value(QStringLiteral("ProbeCall")), QStringLiteral("fOne|标题|a=1|3"));

    // Module part matched without regard to case; InitConn is not repeated. Without a
    // title the caption of the menu entry naming the function is used.
    vars->setValue(QStringLiteral("SysMenu"), QStringLiteral("100\x0e"
                                                             "001.000.000\x0e"
                                                             "系统\x0e\x0e\x0e\x0e"
                                                             "1\x0e/"
                                                             "101\x0e"
                                                             "001.001.000\x0e"
                                                             "探针\x0e"
                                                             "px_Probe.fTwo\x0e"
                                                             "\x0e\x0e"
                                                             "1\x0e"));
    service().CallFunc(QStringLiteral("PX_PROBE.fTwo"));
    vars->remove(QStringLiteral("SysMenu"));
    EXPECT_EQ(vars->value(QStringLiteral("ProbeInit")), QStringLiteral("1"));
    EXPECT_EQ(vars->value(QStringLiteral("ProbeCall")), QStringLiteral("fTwo|探针||0"));

    // Errors of the function itself pass through to the caller unchanged.
    EXPECT_THROW(service().CallFunc(QStringLiteral("px_Probe.fFail")), std::runtime_error);
}

TEST(ModuleService, UnresolvableNamesGiveClearErrorsNotCrashes)
{
    QTemporaryDir dir;
    QFile garbage(dir.filePath(QStringLiteral("px_Garbage.so")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("this is not a shared library");
    garbage.close();
    service().addModuleDirectory(dir.path());

    struct Case
    {
        const char *name;
        const char *mustMention;
    };
    const Case cases[] = {
        {"px_Missing.fX", "px_Missing"}, // no such library
        {"px_Silent.fX", "px_Silent"},   // a library that registers no module
        {"px_Garbage.fX", "px_Garbage"}, // not a library at all
        {"px_Probe", "px_Probe"},        // no function part
        {"px_Probe.", "px_Probe."},
        {"../etc/passwd.fX", "passwd"}, // a path is not a module name
    };
    for (const Case &c : cases) {
        const QString msg = callError(QString::fromUtf8(c.name));
        EXPECT_FALSE(msg.isEmpty()) << c.name;
        EXPECT_TRUE(msg.contains(QString::fromUtf8(c.mustMention))) << msg.toStdString();
    }
    EXPECT_FALSE(service().isLoaded(QStringLiteral("px_Silent")));
    // A failed load does not hide a later good one.
    EXPECT_NO_THROW(service().CallFunc(QStringLiteral("px_Probe.fThree")));
}

namespace {

class Filler : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &, const QString &, const QString &, const QStringList &,
                  int) override
    {
        ++execs;
    }
    int execs = 0;
};

// A module whose initialisation reaches other modules (as a module that needs a lookup
// function of px_Toolbox at once would).
class Nester : public host::IUIBase
{
public:
    void InitConn() override
    {
        ++inits;
        for (int i = 0; i < 64; ++i)
            service().registerModule(QStringLiteral("px_Filler%1").arg(i), &filler);
        service().CallFunc(QStringLiteral("px_Filler7.fX"));
    }
    void ExecFunc(const QString &, const QString &, const QString &, const QStringList &,
                  int) override
    {
        service().CallFunc(QStringLiteral("px_Filler8.fY"));
    }
    Filler filler;
    int inits = 0;
};

} // namespace

TEST(ModuleService, NestedCallsFromAModuleKeepTheLoaderConsistent)
{
    Nester nester;
    service().registerModule(QStringLiteral("px_Nester"), &nester);
    service().CallFunc(QStringLiteral("px_Nester.fGo"));
    service().CallFunc(QStringLiteral("px_Nester.fGo"));
    EXPECT_EQ(nester.inits, 1);
    EXPECT_EQ(nester.filler.execs, 3);
    service().registerModule(QStringLiteral("px_Nester"), nullptr);
}

namespace {

class TfAlpha : public QLabel
{
    Q_OBJECT
};
class TfBeta : public QLabel
{
    Q_OBJECT
};

} // namespace

TEST(ModuleService, ShowMDIFormOpensPagesAndReusesAnOpenWindowOfTheSameClass)
{
    QTabWidget tabs;
    tabs.hide();
    host::ParentCtrl = &tabs;
    auto *a = host::g_UINetIntf->ShowMDIForm<TfAlpha>(nullptr, 0, QStringLiteral("公告发表"));
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(tabs.isHidden());
    EXPECT_EQ(tabs.count(), 1);
    EXPECT_EQ(tabs.tabText(0), QStringLiteral("公告发表"));

    auto *b = host::g_UINetIntf->ShowMDIForm<TfBeta>(nullptr, 0, QStringLiteral("公告查询"));
    EXPECT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.currentWidget(), b);

    // Same class again: no second window, the open one comes to the front.
    EXPECT_EQ(host::g_UINetIntf->ShowMDIForm<TfAlpha>(nullptr, 0, QStringLiteral("x")), a);
    EXPECT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.currentWidget(), a);

    // A window retitling itself retitles its tab; closing it frees it and its page.
    b->setWindowTitle(QStringLiteral("新标题"));
    EXPECT_EQ(tabs.tabText(1), QStringLiteral("新标题"));
    QPointer<QWidget> guard(b);
    b->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(tabs.count(), 1);
    host::ParentCtrl = nullptr;
}

#include "moduleservice_test.moc"
