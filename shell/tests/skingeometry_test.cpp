#include "shell/skingeometry.h"

#include <QRegion>
#include <gtest/gtest.h>

using namespace shell;
using namespace shell::skin;

namespace {

// The union of the targets must tile the window exactly: no gaps, no overlaps.
void expectTiles(const QList<NinePatch> &patches, QSize target)
{
    QRegion covered;
    qint64 area = 0;
    for (const NinePatch &p : patches) {
        covered += p.target;
        area += qint64(p.target.width()) * p.target.height();
    }
    EXPECT_EQ(covered, QRegion(QRect(QPoint(0, 0), target)));
    EXPECT_EQ(area, qint64(target.width()) * target.height());
}

} // namespace

TEST(NineGrid, CornersKeepTheirSizeAndEdgesStretch)
{
    // A 600 x 400 picture with the centre (255, 150, 60, 60) in a 1000 x 700 window.
    const auto patches = nineGrid(QSize(600, 400), QRect(255, 150, 60, 60), QSize(1000, 700));
    ASSERT_EQ(patches.size(), 9);
    expectTiles(patches, QSize(1000, 700));
    // Right width 600-255-60 = 285, bottom height 400-150-60 = 190.
    EXPECT_EQ(patches[0].source, QRect(0, 0, 255, 150));
    EXPECT_EQ(patches[0].target, QRect(0, 0, 255, 150));
    EXPECT_EQ(patches[2].source, QRect(315, 0, 285, 150));
    EXPECT_EQ(patches[2].target, QRect(715, 0, 285, 150));
    EXPECT_EQ(patches[6].target, QRect(0, 510, 255, 190));
    EXPECT_EQ(patches[8].source, QRect(315, 210, 285, 190));
    EXPECT_EQ(patches[8].target, QRect(715, 510, 285, 190));
    // Top edge stretches horizontally only; the centre both ways.
    EXPECT_EQ(patches[1].source, QRect(255, 0, 60, 150));
    EXPECT_EQ(patches[1].target, QRect(255, 0, 460, 150));
    EXPECT_EQ(patches[4].target, QRect(255, 150, 460, 360));
}

TEST(NineGrid, DegenerateAndTooSmallCases)
{
    EXPECT_TRUE(nineGrid(QSize(600, 400), QRect(255, 150, 0, 60), QSize(800, 600)).isEmpty());
    EXPECT_TRUE(nineGrid(QSize(), QRect(1, 1, 1, 1), QSize(800, 600)).isEmpty());

    // A window narrower than both corners: corners are clipped, never overlapped.
    const auto small = nineGrid(QSize(600, 400), QRect(255, 150, 60, 60), QSize(300, 250));
    expectTiles(small, QSize(300, 250));
    for (const NinePatch &p : small) {
        EXPECT_EQ(p.source.size(), p.target.size()) << "corners are never scaled here";
        EXPECT_TRUE(QRect(0, 0, 600, 400).contains(p.source));
    }

    // A centre reaching past the picture is cut to the picture.
    const auto cut = nineGrid(QSize(100, 100), QRect(50, 50, 80, 80), QSize(300, 300));
    expectTiles(cut, QSize(300, 300));
    for (const NinePatch &p : cut)
        EXPECT_TRUE(QRect(0, 0, 100, 100).contains(p.source));
}

TEST(SkinLayout, LargePictureShowsItsTopRightPartAndButtonsHugTheRight)
{
    EXPECT_EQ(topRightPart(QSize(1600, 1000), QSize(1170, 777)), QRect(430, 0, 1170, 777));
    const QList<QRect> r = systemButtonRects(1170);
    ASSERT_EQ(r.size(), 4);
    EXPECT_EQ(r[3], QRect(1129, 2, 39, 19)); // close: right edge at width - 2
    EXPECT_EQ(r[2].right() + 1, r[3].left());
    EXPECT_EQ(r[1].right() + 1, r[2].left());
    EXPECT_EQ(r[0], QRect(1039, 2, 30, 19));
}

TEST(SkinLayout, ClickMapping)
{
    struct Case
    {
        SkinControlType type;
        int id;
        bool zoomed;
        ClickAction expected;
    };
    const Case cases[] = {
        {SCT_SYSBUTTON, MinimizeID, false, ClickAction::Minimize},
        {SCT_SYSBUTTON, MaximizeID, false, ClickAction::Maximize},
        {SCT_SYSBUTTON, MaximizeID, true, ClickAction::Restore},
        {SCT_SYSBUTTON, CloseID, true, ClickAction::Close},
        {SCT_SYSBUTTON, SysMenuID, false, ClickAction::Forward},
        {SCT_SYSBUTTON, 77, false, ClickAction::None},
        {SCT_MODULEBUTTON, 101, false, ClickAction::Forward},
        {SCT_MODULEBUTTON, MaximizeID, true, ClickAction::Forward},
        {SCT_NULL, CloseID, false, ClickAction::None},
    };
    for (const Case &c : cases)
        EXPECT_EQ(clickAction(c.type, c.id, c.zoomed), c.expected) << c.id << " " << c.zoomed;
}

TEST(SkinLayout, ModuleGapAndImageLimits)
{
    EXPECT_EQ(moduleGap(0, 1170), 18);
    EXPECT_EQ(moduleGap(0, 1400), 20);
    EXPECT_EQ(moduleGap(0, 900), 0);
    EXPECT_EQ(moduleGap(35, 1170), 20);
    EXPECT_EQ(moduleGap(-4, 1170), 0);
    EXPECT_EQ(moduleGap(7, 1170), 7);
    EXPECT_EQ(moduleImageSize(QSize(64, 32)), QSize(48, 32));
    EXPECT_EQ(moduleImageSize(QSize(20, 100)), QSize(20, 48));
}
