#include "shell/skingeometry.h"

#include <QtGlobal>

namespace shell::skin {

QList<NinePatch> nineGrid(QSize image, QRect centre, QSize target)
{
    QList<NinePatch> out;
    if (image.isEmpty() || target.isEmpty() || centre.width() <= 0 || centre.height() <= 0)
        return out;
    // Source columns and rows: left, centre, right / top, centre, bottom.
    const int sl = qBound(0, centre.x(), image.width());
    const int sc = qBound(0, centre.width(), image.width() - sl);
    const int sr = image.width() - sl - sc;
    const int st = qBound(0, centre.y(), image.height());
    const int sm = qBound(0, centre.height(), image.height() - st);
    const int sb = image.height() - st - sm;

    // Target: corners keep their size unless the window is too small for them.
    int tl = sl, tr = sr;
    if (tl + tr > target.width()) {
        tl = qMin(tl, target.width());
        tr = target.width() - tl;
    }
    int tt = st, tb = sb;
    if (tt + tb > target.height()) {
        tt = qMin(tt, target.height());
        tb = target.height() - tt;
    }
    const int tc = target.width() - tl - tr;
    const int tm = target.height() - tt - tb;

    const int sx[3] = {0, sl, sl + sc};
    const int sw[3] = {sl, sc, sr};
    const int sy[3] = {0, st, st + sm};
    const int sh[3] = {st, sm, sb};
    const int tx[3] = {0, tl, tl + tc};
    const int tw[3] = {tl, tc, tr};
    const int ty[3] = {0, tt, tt + tm};
    const int th[3] = {tt, tm, tb};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (sw[c] <= 0 || sh[r] <= 0 || tw[c] <= 0 || th[r] <= 0)
                continue;
            // A clipped corner shows the part of the picture next to the window's corner.
            QRect src(sx[c], sy[r], sw[c], sh[r]);
            if (c != 1 && tw[c] < sw[c]) {
                src.setWidth(tw[c]);
                if (c == 2)
                    src.moveLeft(sx[c] + sw[c] - tw[c]);
            }
            if (r != 1 && th[r] < sh[r]) {
                src.setHeight(th[r]);
                if (r == 2)
                    src.moveTop(sy[r] + sh[r] - th[r]);
            }
            out.append({src, QRect(tx[c], ty[r], tw[c], th[r])});
        }
    }
    return out;
}

QRect topRightPart(QSize image, QSize window)
{
    return QRect(image.width() - window.width(), 0, window.width(), window.height());
}

QList<QRect> systemButtonRects(int windowWidth)
{
    const int closeLeft = windowWidth - 2 - CloseButtonWidth;
    const int maxLeft = closeLeft - SysButtonWidth;
    const int minLeft = maxLeft - SysButtonWidth;
    const int menuLeft = minLeft - SysButtonWidth;
    return {QRect(menuLeft, 2, SysButtonWidth, SysButtonHeight),
            QRect(minLeft, 2, SysButtonWidth, SysButtonHeight),
            QRect(maxLeft, 2, SysButtonWidth, SysButtonHeight),
            QRect(closeLeft, 2, CloseButtonWidth, SysButtonHeight)};
}

ClickAction clickAction(SkinControlType type, int ctlId, bool zoomed)
{
    if (type == SCT_MODULEBUTTON)
        return ClickAction::Forward;
    if (type != SCT_SYSBUTTON)
        return ClickAction::None;
    if (ctlId == MaximizeID && zoomed)
        ctlId = RestoreID;
    switch (ctlId) {
    case MinimizeID:
        return ClickAction::Minimize;
    case MaximizeID:
        return ClickAction::Maximize;
    case RestoreID:
        return ClickAction::Restore;
    case CloseID:
        return ClickAction::Close;
    case SysMenuID:
        return ClickAction::Forward;
    default:
        return ClickAction::None;
    }
}

int moduleGap(int gap, int windowWidth)
{
    if (gap == 0)
        gap = qRound((windowWidth - 936) / 13.0);
    return qBound(0, gap, 20);
}

QSize moduleImageSize(QSize image)
{
    return QSize(qMin(image.width(), ModuleImageMax), qMin(image.height(), ModuleImageMax));
}

} // namespace shell::skin
