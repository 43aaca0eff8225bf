#include "shell/skinform.h"

#include "host/uintf.h"
#include "host/errordisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QLinearGradient>
#include <QMenu>
#include <algorithm>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QScreen>
#include <QSet>
#include <QWindow>

namespace shell {

using namespace skin;

namespace {

QString resourcePath(const QString &resType, const QString &resName)
{
    return QStringLiteral(":/") + resType.toUpper() + u'/' + resName.toUpper();
}

QPainterPath roundedRect(const QRectF &r, qreal radius)
{
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

} // namespace

TSkinForm::TSkinForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);

    m_bkColor = QColor(50, 150, 190);
    m_BorderColor1 = QColor(0, 0, 0, 150);
    m_BorderColor2 = QColor(255, 255, 255, 150);

    m_hFont = QApplication::font();
    m_hBoldFont = m_hFont;
    m_hBoldFont.setWeight(QFont::Bold);
    m_ModuleFont = m_hBoldFont;

    addControl(SCT_SYSBUTTON, SysMenuID, QStringLiteral("SysMenu"), 0, 2, SysButtonWidth,
               SysButtonHeight);
    addControl(SCT_SYSBUTTON, MinimizeID, QString(), 0, 2, SysButtonWidth, SysButtonHeight);
    addControl(SCT_SYSBUTTON, MaximizeID, QString(), 0, 2, SysButtonWidth, SysButtonHeight);
    addControl(SCT_SYSBUTTON, CloseID, QString(), 0, 2, CloseButtonWidth, SysButtonHeight);
    m_ControlSysCount = int(m_ControlArray.size());

    FPopMenu = new QMenu(this);
    FPopMenu->setObjectName(QStringLiteral("FPopMenu"));
}

TSkinForm::~TSkinForm() = default;

int TSkinForm::addControl(SkinControlType type, int id, const QString &funcName, int x, int y,
                          int w, int h)
{
    TSkinControl c;
    c.SCType = type;
    c.CtlID = id;
    c.FuncName = funcName;
    setPlace(c, x, y, w, h);
    m_ControlArray.append(c);
    return int(m_ControlArray.size()) - 1;
}

void TSkinForm::setPlace(TSkinControl &c, int x, int y, int w, int h)
{
    c.x = x;
    c.y = y;
    if (w >= 0)
        c.Width = w;
    if (h >= 0)
        c.Height = h;
    c.Rect = QRect(c.x, c.y, c.Width, c.Height);
}

int TSkinForm::controlAt(const QPoint &pos) const
{
    for (int i = 0; i < m_ControlArray.size(); ++i) {
        if (m_ControlArray.at(i).Rect.contains(pos))
            return i;
    }
    return -1;
}

bool TSkinForm::isZoomed() const
{
    return m_zoomed || isMaximized();
}

void TSkinForm::SetBkColor(const QColor &bkColor, bool bReDraw)
{
    m_bkColor = bkColor;
    m_bkColor.setAlpha(255);
    if (bReDraw)
        ReDrawWindow();
}

void TSkinForm::SetBkColor(int red, int green, int blue, bool bReDraw)
{
    SetBkColor(QColor(red, green, blue), bReDraw);
}

bool TSkinForm::SetBkImage(const QString &ResName, const QString &ResType, int NineX, int NineY,
                           int NineWidth, int NineHeight)
{
    m_bkNineRect = QRect(NineX, NineY, NineWidth, NineHeight);
    m_bkImage = QImage();
    m_bkIsImage = false;
    if (!ResType.isEmpty() && !ResName.isEmpty()) {
        QImage img(resourcePath(ResType, ResName));
        if (!img.isNull()) {
            m_bkImage = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            m_bkIsImage = true;
        }
    }
    ReDrawWindow();
    return m_bkIsImage;
}

void TSkinForm::ReDrawWindow()
{
    if (!isVisible() || isMinimized())
        return;
    releaseSurfaces();
    try {
        buildSurfaces();
    } catch (...) {
        releaseSurfaces();
    }
    update();
}

void TSkinForm::releaseSurfaces()
{
    m_back = QImage();
    m_cache = QImage();
}

void TSkinForm::paintBack(QImage &img)
{
    const int w = img.width();
    const int h = img.height();
    QPainter p(&img);
    p.fillRect(img.rect(), m_bkColor);
    if (m_bkIsImage) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (m_bkImage.width() >= w && m_bkImage.height() >= h) {
            p.drawImage(QPoint(0, 0), m_bkImage, topRightPart(m_bkImage.size(), img.size()));
        } else if (m_bkNineRect.width() > 0 && m_bkNineRect.height() > 0) {
            for (const NinePatch &patch : nineGrid(m_bkImage.size(), m_bkNineRect, img.size()))
                p.drawImage(patch.target, m_bkImage, patch.source);
        }
    }

    p.setRenderHint(QPainter::Antialiasing, !m_bIsZoomed);
    p.setBrush(Qt::NoBrush);
    if (m_bIsZoomed) {
        p.setPen(m_BorderColor1);
        p.drawRect(0, 0, w - 1, h - 1);
        p.setPen(m_BorderColor2);
        p.drawRect(1, 1, w - 3, h - 3);
    } else {
        p.setPen(QPen(m_BorderColor1, 1));
        p.drawPath(roundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 6));
        p.setPen(QPen(m_BorderColor2, 1));
        p.drawPath(roundedRect(QRectF(1.5, 1.5, w - 3, h - 3), 6));
    }
    p.setRenderHint(QPainter::Antialiasing, true);

    int titleLeft = 5;
    const QIcon icon = windowIcon();
    if (!icon.isNull()) {
        p.drawPixmap(QRect(5, 5, 16, 16), icon.pixmap(16, 16));
        titleLeft = 25;
    }
    const QString title = windowTitle().left(260);
    if (!title.isEmpty()) {
        p.setFont(m_hBoldFont);
        const QRect box(titleLeft, 5, qMax(0, w - 100 - titleLeft), 16);
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
        p.setPen(QColor(51, 51, 51));
        p.drawText(box, flags, title);
        p.setPen(Qt::white);
        p.drawText(box.translated(-1, -1), flags, title);
    }
}

void TSkinForm::buildSurfaces()
{
    m_bIsZoomed = isZoomed();
    const QSize size = this->size();
    if (size.isEmpty())
        return;
    m_back = QImage(size, QImage::Format_ARGB32_Premultiplied);
    paintBack(m_back);
    m_cache = m_back.copy();

    const QList<QRect> sys = systemButtonRects(size.width());
    for (int i = 0; i < m_ControlSysCount && i < sys.size(); ++i)
        setPlace(m_ControlArray[i], sys[i].x(), sys[i].y(), -1, -1);
    QPainter p(&m_cache);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const TSkinControl &c : std::as_const(m_ControlArray))
        drawControl(p, c);
    ++m_cacheBuilds;
}

void TSkinForm::updateMask()
{
    if (isZoomed() || size().isEmpty()) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), 2, 2);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void TSkinForm::drawControl(QPainter &p, const TSkinControl &c) const
{
    if (c.SCType == SCT_MODULEBUTTON)
        drawModuleButton(p, c);
    else if (c.SCType == SCT_SYSBUTTON)
        drawSysButton(p, c);
}

void TSkinForm::drawModuleButton(QPainter &p, const TSkinControl &c) const
{
    p.save();
    if (c.bCheck || c.bPressed || c.bHover) {
        const bool strong = c.bCheck || c.bPressed;
        const QRectF outer(c.x + 0.5, c.y + 0.5, c.Width - 2, c.Height - 2);
        p.setBrush(Qt::NoBrush);
        p.setPen(QColor(0, 0, 0, strong ? 20 : 15));
        p.drawPath(roundedRect(outer, 5));
        p.setPen(QColor(0, 0, 0, strong ? 60 : 40));
        p.drawPath(roundedRect(outer.adjusted(1, 1, -1, -1), 5));
        p.setBrush(QColor(255, 255, 255, strong ? 70 : 50));
        p.setPen(QColor(255, 255, 255, strong ? 120 : 90));
        p.drawPath(roundedRect(outer.adjusted(2, 2, -2, -2), 5));
    }
    if (c.bImage) {
        const QSize s = moduleImageSize(c.Image.size());
        const QRect target(c.x + (c.Width - s.width()) / 2, c.y + (c.Height - 20 - s.height()) / 2,
                           s.width(), s.height());
        p.drawImage(target, c.Image);
    }
    if (!c.Caption.isEmpty()) {
        p.setFont(m_ModuleFont);
        const QRect box(c.x + 1, c.y + c.Height - 19, c.Width - 1, 18);
        p.setPen(QColor(0, 0, 0, 60));
        p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, c.Caption);
        p.setPen(Qt::white);
        p.drawText(box.translated(-1, -1), Qt::AlignCenter | Qt::TextSingleLine, c.Caption);
    }
    p.restore();
}

void TSkinForm::drawSysButton(QPainter &p, const TSkinControl &c) const
{
    p.save();
    const bool isClose = c.CtlID == CloseID;
    if (c.bHover || c.bPressed) {
        QRectF area(c.x, c.y, isClose ? c.Width : c.Width - 2, c.Height);
        QColor hi;
        if (isClose)
            hi = c.bPressed ? QColor(128, 0, 0, 180) : QColor(255, 0, 0, 180);
        else
            hi = c.bPressed ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 60);
        QLinearGradient g(area.topLeft(), area.bottomLeft());
        QColor top = hi;
        top.setAlpha(0);
        g.setColorAt(0, top);
        g.setColorAt(1, hi);
        p.fillRect(area, g);
    }

    const qreal gx = c.x + (c.Width - 11) / 2 - 1;
    const qreal gy = c.y + (c.Height - 9) / 2 - 1;
    QPainterPath glyph;
    glyph.setFillRule(Qt::OddEvenFill);
    int id = c.CtlID;
    if (id == MaximizeID && m_bIsZoomed)
        id = RestoreID;
    switch (id) {
    case MinimizeID:
        glyph.addRect(gx, gy + 7, 11, 2);
        break;
    case MaximizeID:
        glyph.addRect(gx, gy, 11, 9);
        glyph.addRect(gx + 1, gy + 2, 9, 6);
        break;
    case RestoreID: {
        QPainterPath back;
        back.addRect(gx + 3, gy, 8, 6);
        back.addRect(gx + 4, gy + 2, 6, 3);
        back.setFillRule(Qt::OddEvenFill);
        QPainterPath front;
        front.addRect(gx, gy + 3, 8, 6);
        QPainterPath frontHole;
        frontHole.addRect(gx + 1, gy + 5, 6, 3);
        QPainterPath frontFrame = front.subtracted(frontHole);
        glyph = back.subtracted(front).united(frontFrame);
        break;
    }
    case CloseID: {
        QPainterPath lines;
        lines.moveTo(gx + 1, gy);
        lines.lineTo(gx + 10, gy + 9);
        lines.moveTo(gx + 10, gy);
        lines.lineTo(gx + 1, gy + 9);
        QPainterPathStroker st;
        st.setWidth(2.2);
        st.setCapStyle(Qt::FlatCap);
        glyph = st.createStroke(lines).simplified();
        break;
    }
    case SysMenuID:
        glyph.addRect(gx, gy, 11, 3);
        glyph.addRect(gx + 1, gy + 1, 9, 1);
        glyph.addRect(gx + 3, gy + 4, 5, 1);
        glyph.addRect(gx + 4, gy + 5, 3, 1);
        glyph.addRect(gx + 5, gy + 6, 1, 1);
        break;
    default:
        break;
    }
    if (!glyph.isEmpty()) {
        QPainterPathStroker outline;
        outline.setWidth(3);
        outline.setJoinStyle(Qt::MiterJoin);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.fillPath(outline.createStroke(glyph), QColor(0, 0, 0, 50));
        p.setRenderHint(QPainter::Antialiasing, id == CloseID);
        p.fillPath(glyph, Qt::white);
    }

    if (!isClose) {
        const QRectF light(c.x + c.Width - 1, c.y, 1, c.Height);
        QLinearGradient gl(light.topLeft(), light.bottomLeft());
        gl.setColorAt(0, QColor(255, 255, 255, 0));
        gl.setColorAt(1, QColor(255, 255, 255, 120));
        p.fillRect(light, gl);
        const QRectF dark(c.x + c.Width - 2, c.y, 1, c.Height);
        QLinearGradient gd(dark.topLeft(), dark.bottomLeft());
        gd.setColorAt(0, QColor(0, 0, 0, 0));
        gd.setColorAt(1, QColor(0, 0, 0, 90));
        p.fillRect(dark, gd);
    }
    p.restore();
}

void TSkinForm::redrawControl(int index)
{
    if (index < 0 || index >= m_ControlArray.size() || m_cache.isNull() || m_back.isNull())
        return;
    const TSkinControl &c = m_ControlArray.at(index);
    const QRect r = c.Rect.intersected(m_cache.rect());
    if (r.isEmpty())
        return;
    QPainter p(&m_cache);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(r.topLeft(), m_back, r);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(r);
    drawControl(p, c);
    p.end();
    update(r);
}

void TSkinForm::setHoverIndex(int index)
{
    if (index == m_HoverIndex)
        return;
    const int old = m_HoverIndex;
    m_HoverIndex = index;
    if (old >= 0 && old < m_ControlArray.size()) {
        m_ControlArray[old].bHover = false;
        redrawControl(old);
    }
    if (index >= 0 && index < m_ControlArray.size()) {
        m_ControlArray[index].bHover = true;
        redrawControl(index);
    }
}

void TSkinForm::setPressedIndex(int index)
{
    if (index == m_PressedIndex)
        return;
    const int old = m_PressedIndex;
    m_PressedIndex = index;
    if (old >= 0 && old < m_ControlArray.size()) {
        m_ControlArray[old].bPressed = false;
        redrawControl(old);
    }
    if (index >= 0 && index < m_ControlArray.size()) {
        m_ControlArray[index].bPressed = true;
        redrawControl(index);
    }
}

int TSkinForm::AddModuleButton(int CtlID, const QString &Caption, const QString &ResName,
                               const QString &ResType, const QString &FuncName)
{
    FiModuleWidth = moduleGap(FiModuleWidth, width());
    const int index = addControl(SCT_MODULEBUTTON, CtlID, FuncName, m_ModuleLeft, ModuleButtonTop,
                                 ModuleButtonWidth, ModuleButtonHeight);
    m_ModuleLeft += ModuleButtonWidth + FiModuleWidth;
    TSkinControl &c = m_ControlArray[index];
    c.Caption = Caption;
    if (!ResName.isEmpty()) {
        QImage img(resourcePath(ResType, ResName));
        if (!img.isNull()) {
            c.Image = img;
            c.bImage = true;
        }
    }
    return index;
}

void TSkinForm::SetModuleCheck(int CtlID)
{
    for (int i = 0; i < m_ControlArray.size(); ++i) {
        TSkinControl &c = m_ControlArray[i];
        if (c.SCType != SCT_MODULEBUTTON)
            continue;
        const bool check = c.CtlID == CtlID;
        if (c.bCheck != check) {
            c.bCheck = check;
            redrawControl(i);
        }
    }
}

QMenu *TSkinForm::BuildModuleMenu(int CtlID)
{
    FPopMenu->clear();
    // Previous menus' sub-menus are children of FPopMenu; clear() leaves them alive.
    const auto oldSubs = FPopMenu->findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
    for (QMenu *m : oldSubs)
        m->deleteLater();

    const bool offline = host::g_lstVars->value(QStringLiteral("OffLine")) == QLatin1String("TRUE");
    // Groups that have entries become sub-menus (a parent only opens its sub-menu).
    QSet<QString> parents;
    for (const TmItem &it : std::as_const(FippMenu)) {
        if (it.mCltID != CtlID)
            continue;
        const QStringList g = it.mPOSID.split(u'.');
        if (g.size() >= 3 && g.at(2) != QLatin1String("000"))
            parents.insert(g.at(0) + u'.' + g.at(1) + QStringLiteral(".000"));
    }

    QHash<QString, QMenu *> groupMenus;
    for (const TmItem &it : std::as_const(FippMenu)) {
        if (it.mCltID != CtlID || it.mPOSID.trimmed() == QLatin1String("@"))
            continue;
        const QStringList g = it.mPOSID.split(u'.');
        if (g.size() < 3)
            continue;
        QAction *action = nullptr;
        if (g.at(2) != QLatin1String("000")) {
            QMenu *parent = groupMenus.value(g.at(0) + u'.' + g.at(1) + QStringLiteral(".000"));
            if (!parent)
                continue; // its group is missing or comes later: cannot be placed
            action = parent->addAction(it.mName);
        } else if (g.at(1) != QLatin1String("000")) {
            if (parents.contains(it.mPOSID)) {
                QMenu *sub = new QMenu(it.mName, FPopMenu);
                FPopMenu->addMenu(sub);
                groupMenus.insert(it.mPOSID, sub);
                if (offline && it.mOffLine == QLatin1String("0"))
                    sub->setEnabled(false);
                continue;
            }
            action = FPopMenu->addAction(it.mName);
            if (offline && it.mFunc.trimmed().isEmpty()) {
                // A group whose entries all need the server: say so instead of doing nothing.
                action->setText(it.mName + QStringLiteral("（需要联网）"));
                action->setEnabled(false);
            }
        } else {
            continue; // the module header itself is not shown
        }
        action->setObjectName(it.mPOSID);
        action->setStatusTip(it.mFunc);
        action->setProperty("hint", it.mFunc);
        const QString func = it.mFunc;
        const QString title = it.mName;
        connect(action, &QAction::triggered, this,
                [this, func, title] { RunFunction(func, title); });
        if (offline && it.mOffLine == QLatin1String("0"))
            action->setEnabled(false);
    }
    // Offline, a module none of whose functions works without the server tells so.
    const auto entries = FPopMenu->actions();
    const bool anyUsable = std::any_of(entries.cbegin(), entries.cend(), [](const QAction *a) {
        return a->isEnabled() && !a->isSeparator();
    });
    if (offline && !anyUsable) {
        if (!entries.isEmpty())
            FPopMenu->addSeparator();
        QAction *hint = FPopMenu->addAction(QStringLiteral("需要联网：此模块的功能只能在线使用，"
                                                           "请在线登录后再用"));
        hint->setObjectName(QStringLiteral("miNeedsOnline"));
        hint->setEnabled(false);
    }
    return FPopMenu;
}

void TSkinForm::ShowPPMenu(QMenu *ppSys, int CtlID)
{
    int index = -1;
    for (int i = 0; i < m_ControlArray.size(); ++i) {
        const TSkinControl &c = m_ControlArray.at(i);
        if ((c.SCType == SCT_MODULEBUTTON || (c.SCType == SCT_SYSBUTTON && c.CtlID == SysMenuID)) &&
            c.CtlID == CtlID) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return;
    const TSkinControl &c = m_ControlArray.at(index);
    const QPoint at = mapToGlobal(QPoint(c.x, c.y + c.Height));
    if (c.FuncName.toUpper() == QLatin1String("SYSMENU")) {
        if (ppSys)
            ppSys->popup(at);
        return;
    }
    if (!c.FuncName.isEmpty()) {
        RunFunction(c.FuncName, c.Caption);
        return;
    }
    BuildModuleMenu(CtlID)->popup(at);
}

void TSkinForm::RunFunction(const QString &funcName, const QString &title)
{
    // A heading without a function (a group whose entries are all hidden offline) is no
    // command: it does nothing rather than tell the user about function names.
    if (funcName.trimmed().isEmpty())
        return;
    host::guarded([&] { host::g_UINetIntf->CallFunc(funcName, 0, {}, title); });
}

void TSkinForm::SkinClick(int CtlID, int index)
{
    if (index < 0 || index >= m_ControlArray.size())
        return;
    switch (clickAction(m_ControlArray.at(index).SCType, CtlID, isZoomed())) {
    case ClickAction::Minimize:
        showMinimized();
        break;
    case ClickAction::Maximize:
        zoomWindow();
        break;
    case ClickAction::Restore:
        restoreWindow();
        break;
    case ClickAction::Close:
        close();
        break;
    case ClickAction::Forward:
        QMetaObject::invokeMethod(
            this, [this, CtlID, index] { ModuleClick(CtlID, index); }, Qt::QueuedConnection);
        break;
    case ClickAction::None:
        break;
    }
}

void TSkinForm::ModuleClick(int CtlID, int index)
{
    emit moduleClicked(CtlID, index);
}

void TSkinForm::zoomWindow()
{
    if (m_zoomed)
        return;
    QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    m_normalGeometry = geometry();
    m_zoomed = true;
    // The work area keeps the task bar visible.
    setGeometry(s->availableGeometry());
    updateMask();
    ReDrawWindow();
}

void TSkinForm::restoreWindow()
{
    if (isMaximized())
        showNormal();
    if (!m_zoomed)
        return;
    m_zoomed = false;
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
    updateMask();
    ReDrawWindow();
}

void TSkinForm::paintEvent(QPaintEvent *event)
{
    try {
        if (m_cache.isNull() || m_cache.size() != size())
            buildSurfaces();
        if (m_cache.isNull())
            return;
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        const QRect r = event->rect();
        p.drawImage(r.topLeft(), m_cache, r);
    } catch (...) {
        releaseSurfaces(); // a failed paint draws nothing
    }
}

void TSkinForm::resizeEvent(QResizeEvent *event)
{
    releaseSurfaces();
    updateMask();
    QWidget::resizeEvent(event);
}

void TSkinForm::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
    case QEvent::WindowStateChange:
        releaseSurfaces();
        if (event->type() == QEvent::WindowStateChange)
            updateMask();
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

void TSkinForm::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    setHoverIndex(controlAt(event->position().toPoint()));
    QWidget::mouseMoveEvent(event);
}

void TSkinForm::leaveEvent(QEvent *event)
{
    setPressedIndex(-1);
    setHoverIndex(-1);
    QWidget::leaveEvent(event);
}

void TSkinForm::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const int index = controlAt(event->position().toPoint());
    setPressedIndex(index);
    if (index >= 0 || isZoomed())
        return;
    // An empty spot drags the window: through the window manager when it offers that,
    // else by following the mouse ourselves.
    QWindow *w = windowHandle();
    if (w && w->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TSkinForm::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    if (event->button() != Qt::LeftButton)
        return;
    setPressedIndex(-1);
    const int index = controlAt(event->position().toPoint());
    if (index < 0)
        return;
    const int id = m_ControlArray.at(index).CtlID;
    QMetaObject::invokeMethod(
        this, [this, id, index] { SkinClick(id, index); }, Qt::QueuedConnection);
}

void TSkinForm::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click on an empty spot of the title row maximises or restores.
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && controlAt(pos) < 0 && pos.y() < ModuleButtonTop) {
        if (isZoomed())
            restoreWindow();
        else
            zoomWindow();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace shell
