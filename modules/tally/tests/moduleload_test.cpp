// The built module library loaded by the host by name, as the program does.
#include "host/moduleservice.h"
#include "host/uintf.h"

#include <QApplication>
#include <QTabWidget>
#include <gtest/gtest.h>

TEST(TallyModuleLibrary, LoadsByNameAndOpensTheFinanceWindows)
{
    auto &modules = host::ModuleService::instance();
    ASSERT_FALSE(modules.findModuleFile(QStringLiteral("px_Tally")).isEmpty());
    QTabWidget tabs;
    host::ParentCtrl = &tabs;
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Tally.fcenAccEdt"), 0, {}, QStringLiteral("中心账单管理"));
    EXPECT_TRUE(modules.isLoaded(QStringLiteral("PX_TALLY")));
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Tally.FCENACCQUERY"), 0, {}, QStringLiteral("中心账单查询"));
    ASSERT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.widget(0)->objectName(), QStringLiteral("fcenAccEdt"));
    EXPECT_EQ(tabs.widget(1)->objectName(), QStringLiteral("fcenAccQuery"));
    // An unknown function of the module is ignored.
    EXPECT_NO_THROW(host::g_UINetIntf->CallFunc(QStringLiteral("px_Tally.fNothing")));
    EXPECT_EQ(tabs.count(), 2);
    host::ParentCtrl = nullptr;
}
