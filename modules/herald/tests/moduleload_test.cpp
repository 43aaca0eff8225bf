// The built module library loaded by the host by name, as the program does.
#include "host/moduleservice.h"
#include "host/uintf.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

TEST(HeraldModuleLibrary, LoadsByNameRegistersAndOpensEditorWindows)
{
    auto &modules = host::ModuleService::instance();
    ASSERT_FALSE(modules.findModuleFile(QStringLiteral("px_Herald")).isEmpty());
    auto editorWindows = [] {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == QLatin1String("Form1"))
                ++n;
        return n;
    };
    host::g_UINetIntf->CallFunc(QStringLiteral("px_Herald.Form1"));
    EXPECT_TRUE(modules.isLoaded(QStringLiteral("PX_HERALD")));
    EXPECT_NE(modules.module(QStringLiteral("px_Herald")), nullptr);
    host::g_UINetIntf->CallFunc(QStringLiteral("PX_HERALD.form1"));
    EXPECT_EQ(editorWindows(), 2);
    // An unknown function of the module is ignored.
    EXPECT_NO_THROW(host::g_UINetIntf->CallFunc(QStringLiteral("px_Herald.fNothing")));
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->windowTitle() == QLatin1String("Form1"))
            w->close();
}
