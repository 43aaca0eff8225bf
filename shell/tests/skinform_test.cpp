#include "shell/skinform.h"
#include "shell/application.h"

#include <QApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace shell;

namespace {

void mouse(QWidget *w, QEvent::Type type, QPoint pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QPoint centreOf(const TSkinControl &c)
{
    return c.Rect.center();
}

struct ShownForm
{
    TSkinForm form;
    explicit ShownForm(QSize size = QSize(800, 560))
    {
        form.resize(size);
        form.move(0, 0);
        form.show();
        form.ReDrawWindow();
    }
};

} // namespace

TEST(SkinForm, SystemButtonsComeFirstAndHitTestingUsesTheirRectangles)
{
    ShownForm f;
    TSkinForm &form = f.form;
    ASSERT_EQ(form.controlSysCount(), 4);
    EXPECT_EQ(form.control(0).CtlID, -5);
    EXPECT_EQ(form.control(3).CtlID, -4);
    EXPECT_EQ(form.control(0).FuncName, QStringLiteral("SysMenu"));
    // Placed from the right when the surfaces are built.
    EXPECT_EQ(form.control(3).Rect, QRect(800 - 2 - 39, 2, 39, 19));

    const int m1 = form.AddModuleButton(101, QStringLiteral("公告"), QStringLiteral("GG"),
                                        QStringLiteral("Skin"), QString());
    const int m2 = form.AddModuleButton(102, QStringLiteral("财务"), QStringLiteral("ZZ"),
                                        QStringLiteral("Skin"), QString());
    EXPECT_EQ(form.control(m1).Rect, QRect(7, 24, 72, 76));
    EXPECT_TRUE(form.control(m1).bImage);
    EXPECT_FALSE(form.control(m2).bImage); // no such picture: a button without image
    EXPECT_EQ(form.iModuleWidth(), 0);     // (800 - 936) / 13 is below 0
    EXPECT_EQ(form.control(m2).x, 7 + 72);

    EXPECT_EQ(form.controlAt(centreOf(form.control(3))), 3);
    EXPECT_EQ(form.controlAt(QPoint(7, 24)), m1);
    EXPECT_EQ(form.controlAt(QPoint(7 + 71, 60)), m1);
    EXPECT_EQ(form.controlAt(QPoint(7 + 72, 60)), m2); // right edge belongs to the next
    EXPECT_EQ(form.controlAt(QPoint(400, 300)), -1);
    EXPECT_EQ(form.controlAt(QPoint(7, 23)), -1);
}

TEST(SkinForm, HoverAndPressRedrawOneButtonWithoutRebuildingTheCache)
{
    ShownForm f;
    TSkinForm &form = f.form;
    const int m = form.AddModuleButton(101, QStringLiteral("公告"), QStringLiteral("GG"),
                                       QStringLiteral("Skin"), QString());
    form.ReDrawWindow();
    const int builds = form.cacheBuildCount();
    const QImage before = form.cacheImage().copy();

    mouse(&form, QEvent::MouseMove, centreOf(form.control(m)));
    EXPECT_EQ(form.hoverIndex(), m);
    EXPECT_TRUE(form.control(m).bHover);
    EXPECT_EQ(form.cacheBuildCount(), builds);
    const QImage hovered = form.cacheImage().copy();
    EXPECT_NE(hovered.copy(form.control(m).Rect), before.copy(form.control(m).Rect));
    // Nothing outside the button changed.
    const QRect outside(200, 200, 300, 200);
    EXPECT_EQ(hovered.copy(outside), before.copy(outside));

    // Moving to the close button moves the hover; leaving clears it.
    mouse(&form, QEvent::MouseMove, centreOf(form.control(3)));
    EXPECT_FALSE(form.control(m).bHover);
    EXPECT_TRUE(form.control(3).bHover);
    EXPECT_EQ(form.cacheImage().copy(form.control(m).Rect), before.copy(form.control(m).Rect));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&form, &leave);
    EXPECT_EQ(form.hoverIndex(), -1);
    EXPECT_FALSE(form.control(3).bHover);
    EXPECT_EQ(form.cacheBuildCount(), builds);
}

TEST(SkinForm, ReleaseClicksTheControlUnderTheMouse)
{
    ShownForm f;
    TSkinForm &form = f.form;
    const int a = form.AddModuleButton(101, QStringLiteral("甲"), QString(), QString(), QString());
    const int b = form.AddModuleButton(102, QStringLiteral("乙"), QString(), QString(), QString());
    QSignalSpy spy(&form, &TSkinForm::moduleClicked);

    mouse(&form, QEvent::MouseButtonPress, centreOf(form.control(a)));
    EXPECT_EQ(form.pressedIndex(), a);
    EXPECT_TRUE(form.control(a).bPressed);
    mouse(&form, QEvent::MouseButtonRelease, centreOf(form.control(b)));
    EXPECT_EQ(form.pressedIndex(), -1);
    EXPECT_TRUE(spy.isEmpty()); // posted, not called at once
    QApplication::processEvents();
    QApplication::processEvents();
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy[0][0].toInt(), 102);
    EXPECT_EQ(spy[0][1].toInt(), b);

    // A press on an empty spot presses nothing (it drags the window instead).
    mouse(&form, QEvent::MouseButtonPress, QPoint(400, 300));
    EXPECT_EQ(form.pressedIndex(), -1);
    mouse(&form, QEvent::MouseButtonRelease, QPoint(400, 300));
    QApplication::processEvents();
    EXPECT_EQ(spy.size(), 1);

    // The system-menu button is forwarded like a module button.
    form.SkinClick(-5, 0);
    QApplication::processEvents();
    ASSERT_EQ(spy.size(), 2);
    EXPECT_EQ(spy[1][0].toInt(), -5);
    // An index out of range does nothing.
    form.SkinClick(101, 99);
    QApplication::processEvents();
    EXPECT_EQ(spy.size(), 2);
}

TEST(SkinForm, MaximiseFillsTheWorkAreaAndBecomesRestore)
{
    ShownForm f(QSize(600, 400));
    TSkinForm &form = f.form;
    const QRect normal = form.geometry();
    form.SkinClick(-2, 2);
    EXPECT_TRUE(form.isZoomed());
    EXPECT_EQ(form.geometry(), form.screen()->availableGeometry());
    EXPECT_TRUE(form.mask().isEmpty()); // rectangular while maximised
    // The same button now restores.
    form.SkinClick(-2, 2);
    EXPECT_FALSE(form.isZoomed());
    EXPECT_EQ(form.geometry(), normal);
    EXPECT_FALSE(form.mask().isEmpty()); // rounded region again

    form.SkinClick(-4, 3);
    EXPECT_FALSE(form.isVisible());
}

TEST(SkinForm, BackgroundPictureTopRightPartOrNineGrid)
{
    ShownForm f(QSize(700, 500));
    TSkinForm &form = f.form;
    EXPECT_FALSE(
        form.SetBkImage(QStringLiteral("imgBack"), QStringLiteral("Skinkd"), 255, 150, 60, 60));
    EXPECT_FALSE(
        form.SetBkImage(QStringLiteral("imgBack"), QStringLiteral("Skinwl1"), 255, 150, 60, 60));
    EXPECT_EQ(form.cacheImage().pixel(300, 300), QColor(50, 150, 190).rgb());

    ASSERT_TRUE(
        form.SetBkImage(QStringLiteral("imgBack"), QStringLiteral("Skinkd3"), 255, 150, 60, 60));
    const QImage pic = QImage(QStringLiteral(":/SKINKD3/IMGBACK"))
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_FALSE(pic.isNull());
    const QImage &cache = form.cacheImage();
    for (const QPoint p : {QPoint(300, 300), QPoint(650, 450), QPoint(100, 120)}) {
        EXPECT_EQ(cache.pixel(p), pic.pixel(p + QPoint(pic.width() - 700, 0)))
            << p.x() << "," << p.y();
    }

    // A window larger than the picture: corners unscaled at the window's corners.
    form.resize(pic.width() + 300, pic.height() + 200);
    form.ReDrawWindow();
    const QImage &big = form.cacheImage();
    EXPECT_EQ(big.pixel(100, 120), pic.pixel(100, 120));
    EXPECT_EQ(big.pixel(big.width() - 50, big.height() - 60),
              pic.pixel(pic.width() - 50, pic.height() - 60));
}

TEST(SkinForm, ModuleCheckMarksExactlyOneButton)
{
    ShownForm f;
    TSkinForm &form = f.form;
    form.AddModuleButton(101, QStringLiteral("甲"), QString(), QString(), QString());
    form.AddModuleButton(102, QStringLiteral("乙"), QString(), QString(), QString());
    form.SetModuleCheck(102);
    EXPECT_FALSE(form.control(4).bCheck);
    EXPECT_TRUE(form.control(5).bCheck);
    form.SetModuleCheck(-5); // the system menu: no module button stays checked
    EXPECT_FALSE(form.control(5).bCheck);
    EXPECT_FALSE(form.control(0).bCheck);
}

TEST(Translations, QtOwnButtonsAndDialogsSpeakChinese)
{
    // The distribution's Qt catalogues are installed with the program's locale.
    ASSERT_GT(shell::installChineseTranslations(QCoreApplication::instance()), 0)
        << "qt6-translations-l10n is missing (scripts/setup-deps installs it)";
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    // The file dialog's type column: a folder is "文件夹", not "Folder" (missing from the
    // distribution's catalogue).
    QTemporaryDir dir;
    EXPECT_EQ(QFileIconProvider().type(QFileInfo(dir.path())), QStringLiteral("文件夹"));
    QLocale::setDefault(QLocale::c());
}
