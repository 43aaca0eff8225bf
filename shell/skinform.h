#pragma once
// TSkinForm: a frameless top-level window that draws its own frame: background colour or
// picture (nine-grid stretched when smaller than the window), a thin rounded border, the
// window icon and title, four system buttons and a row of large module buttons.
//
// Everything is drawn into an off-screen cache: painting copies the cache, hover and
// press changes redraw one button's rectangle, and only a resize or ReDrawWindow()
// rebuilds the whole cache. A click on a control arrives at SkinClick() (queued, as a
// posted message would); system buttons act at once, the system-menu button and module
// buttons are forwarded to ModuleClick(), which a derived form overrides.

#include "shell/skingeometry.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QMenu;

namespace shell {

// One drawn button.
struct TSkinControl
{
    SkinControlType SCType = SCT_NULL;
    int CtlID = 0;
    int x = 0;
    int y = 0;
    int Width = 0;
    int Height = 0;
    QRect Rect; // x, y, Width, Height: the hit-test area
    QString Caption;
    QImage Image;
    bool bImage = false;
    bool bHover = false;
    bool bPressed = false;
    bool bDisable = false;
    bool bCheck = false;
    QString FuncName;
};

// One parsed menu record (see the menu of the main window).
struct TmItem
{
    int mCltID = 0;
    QString mPOSID;
    QString mName;
    QString mFunc;
    QString mOrg;
    QString mShortcut;
    QString mOffLine;
    QString mPngName;
};

class TSkinForm : public QWidget
{
    Q_OBJECT
public:
    explicit TSkinForm(QWidget *parent = nullptr);
    ~TSkinForm() override;

    void SetBkColor(const QColor &bkColor, bool bReDraw);
    void SetBkColor(int red, int green, int blue, bool bReDraw);
    // Loads the background picture from the program's resources ":/<RESTYPE>/<RESNAME>"
    // (both upper-cased) and stores the nine-grid centre. A missing or undecodable picture
    // leaves the plain colour. Returns whether a picture was loaded.
    bool SetBkImage(const QString &ResName, const QString &ResType, int NineX, int NineY,
                    int NineWidth, int NineHeight);
    // Rebuilds the cache and repaints, when the window is visible and not minimised.
    void ReDrawWindow();

    // Appends a module button after the previous one; its image is the PNG resource
    // ":/<RESTYPE>/<RESNAME>" (missing: no image). Returns the control's index.
    int AddModuleButton(int CtlID, const QString &Caption, const QString &ResName,
                        const QString &ResType, const QString &FuncName);
    // Checks the module button with that identifier, unchecks every other one.
    void SetModuleCheck(int CtlID);
    // Opens the menu of a button: ppSys for the system-menu button, runs the button's
    // own function if it has one, else drops down the module's menu built from ippMenu.
    void ShowPPMenu(QMenu *ppSys, int CtlID);
    // Builds FPopMenu for the module button CtlID from ippMenu (without showing it).
    QMenu *BuildModuleMenu(int CtlID);

    // Frame state, for the derived form and for tests.
    int controlCount() const { return int(m_ControlArray.size()); }
    int controlSysCount() const { return m_ControlSysCount; }
    const TSkinControl &control(int index) const { return m_ControlArray.at(index); }
    // Index of the first control whose rectangle contains the point, or -1.
    int controlAt(const QPoint &pos) const;
    int hoverIndex() const { return m_HoverIndex; }
    int pressedIndex() const { return m_PressedIndex; }
    bool isZoomed() const;
    bool hasBackgroundImage() const { return m_bkIsImage; }
    QColor backgroundColor() const { return m_bkColor; }
    const QImage &cacheImage() const { return m_cache; }
    // How often the whole cache was rebuilt (a hover must not rebuild it).
    int cacheBuildCount() const { return m_cacheBuilds; }

    QList<TmItem> &ippMenu() { return FippMenu; }
    int iModuleWidth() const { return FiModuleWidth; }
    void setIModuleWidth(int gap) { FiModuleWidth = gap; }
    QMenu *popMenu() const { return FPopMenu; }

    // Maximise to the work area of the window's screen, and back.
    void zoomWindow();
    void restoreWindow();

public slots:
    // A click on the control at `index` (what the frame posts to itself on release).
    void SkinClick(int CtlID, int index);

signals:
    void moduleClicked(int CtlID, int index);

protected:
    // The forwarded click of a module button or the system-menu button.
    virtual void ModuleClick(int CtlID, int index);
    // Runs a function of a menu entry or a button through the host; errors are shown.
    virtual void RunFunction(const QString &funcName, const QString &title);

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

    QList<TmItem> FippMenu;
    QMenu *FPopMenu = nullptr;
    int FiModuleWidth = 0;

private:
    int addControl(SkinControlType type, int id, const QString &funcName, int x, int y, int w,
                   int h);
    void setPlace(TSkinControl &c, int x, int y, int w, int h);
    void releaseSurfaces();
    void buildSurfaces();
    void paintBack(QImage &img);
    void drawControl(QPainter &p, const TSkinControl &c) const;
    void drawModuleButton(QPainter &p, const TSkinControl &c) const;
    void drawSysButton(QPainter &p, const TSkinControl &c) const;
    void redrawControl(int index);
    void setHoverIndex(int index);
    void setPressedIndex(int index);
    void updateMask();

    QColor m_bkColor;
    QColor m_BorderColor1;
    QColor m_BorderColor2;
    QImage m_bkImage;
    QRect m_bkNineRect;
    bool m_bkIsImage = false;
    QFont m_hFont;
    QFont m_hBoldFont;
    QFont m_ModuleFont;
    bool m_bIsZoomed = false;
    bool m_zoomed = false;
    QRect m_normalGeometry;

    QImage m_back;  // background, border, icon and title
    QImage m_cache; // back plus every control
    int m_cacheBuilds = 0;

    QList<TSkinControl> m_ControlArray;
    int m_ControlSysCount = 0;
    int m_HoverIndex = -1;
    int m_PressedIndex = -1;
    int m_ModuleLeft = skin::ModuleFirstLeft;

    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace shell
