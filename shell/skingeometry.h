#pragma once
// Pure geometry and decision rules of the skinned frame, kept apart from the widget so
// they can be checked without a screen.

#include <QList>
#include <QRect>
#include <QSize>

namespace shell {

enum SkinControlType { SCT_NULL, SCT_SYSBUTTON, SCT_MODULEBUTTON };

namespace skin {

// Identifiers of the system buttons.
constexpr int SysMenuID = -5;
constexpr int MinimizeID = -1;
constexpr int MaximizeID = -2;
constexpr int RestoreID = -3; // what the maximise button sends while maximised
constexpr int CloseID = -4;

constexpr int SysButtonWidth = 30;
constexpr int CloseButtonWidth = 39;
constexpr int SysButtonHeight = 19;

constexpr int ModuleButtonTop = 24;
constexpr int ModuleButtonWidth = 72;
constexpr int ModuleButtonHeight = 76;
constexpr int ModuleFirstLeft = 7;
constexpr int ModuleImageMax = 48;

// One piece of a nine-grid: the part of the picture and where it goes.
struct NinePatch
{
    QRect source;
    QRect target;
};

// Splits a picture of size `image` by the centre rectangle `centre` into up to nine parts
// and places them to fill `target`: corners unscaled, edges stretched along their length,
// the centre both ways. Parts of zero or negative size are left out; when the window is
// smaller than the corners, the corners are clipped rather than overlapped.
QList<NinePatch> nineGrid(QSize image, QRect centre, QSize target);

// Which source part of a picture at least as large as the window is shown: its top right.
QRect topRightPart(QSize image, QSize window);

// Positions of the four system buttons (system menu, minimise, maximise, close) for a
// window of width `windowWidth`: close at the right edge minus 2, the others to its left.
QList<QRect> systemButtonRects(int windowWidth);

// What a click on a control does.
enum class ClickAction { None, Minimize, Maximize, Restore, Close, Forward };
ClickAction clickAction(SkinControlType type, int ctlId, bool zoomed);

// The gap between module buttons: a gap of 0 is derived from the window width
// ((width - 936) / 13, rounded); any gap is then limited to 0..20.
int moduleGap(int gap, int windowWidth);

// Size of an image drawn on a module button: each side limited to 48 on its own.
QSize moduleImageSize(QSize image);

} // namespace skin
} // namespace shell
