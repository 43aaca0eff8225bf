// The built module library loaded by the host by name, as the program does.
#include "host/dialogpresenter.h"
#include "host/moduleservice.h"
#include "host/uintf.h"

#include <QApplication>
#include <QDialog>
#include <gtest/gtest.h>

TEST(TunerModuleLibrary, LoadsByNameAndShowsItsDialogs)
{
    auto &modules = host::ModuleService::instance();
    ASSERT_FALSE(modules.findModuleFile(QStringLiteral("px_Tuner")).isEmpty());
    auto p = std::make_unique<host::ScriptedPresenter>();
    host::ScriptedPresenter *presenter = p.get();
    host::setDialogPresenter(std::move(p));
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Tuner.fDEncrypt"), 0, {}, QStringLiteral("加密OR解密"));
    EXPECT_TRUE(modules.isLoaded(QStringLiteral("PX_TUNER")));
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Tuner.fStyleSet"), 0, {}, QStringLiteral("自定义皮肤"));
    ASSERT_EQ(presenter->dialogsShown.size(), 2);
    EXPECT_EQ(presenter->dialogsShown.at(0)->objectName(), QStringLiteral("fDEncryptFrame"));
    EXPECT_EQ(presenter->dialogsShown.at(1)->objectName(), QStringLiteral("fStyleSetFrame"));
    EXPECT_EQ(presenter->dialogsShown.at(1)->windowTitle(), QStringLiteral("自定义皮肤"));
    // An unknown function of the module is ignored.
    EXPECT_NO_THROW(host::g_UINetIntf->CallFunc(QStringLiteral("px_Tuner.fNothing")));
    host::setDialogPresenter(nullptr);
}
