#include "baseforms/rzcontrols.h"

#include <QPaintEvent>
#include <QPainter>

namespace tessera {

TRzCustomPanel::TRzCustomPanel(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
}

void TRzCustomPanel::setBorderColor(const QColor &c)
{
    m_borderColor = c;
    update();
}

void TRzCustomPanel::setBorderSides(Qt::Edges sides, int width)
{
    m_sides = sides;
    m_width = width;
    setContentsMargins(sides & Qt::LeftEdge ? width : 0, sides & Qt::TopEdge ? width : 0,
                       sides & Qt::RightEdge ? width : 0, sides & Qt::BottomEdge ? width : 0);
    update();
}

void TRzCustomPanel::setPanelColor(const QColor &c)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, c);
    setPalette(p);
    setAutoFillBackground(true);
}

void TRzCustomPanel::setParentColor(bool on)
{
    setAutoFillBackground(!on);
}

void TRzCustomPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (!m_sides || m_width <= 0)
        return;
    QPainter p(this);
    const QRect r = rect();
    if (m_sides & Qt::TopEdge)
        p.fillRect(QRect(r.left(), r.top(), r.width(), m_width), m_borderColor);
    if (m_sides & Qt::BottomEdge)
        p.fillRect(QRect(r.left(), r.bottom() - m_width + 1, r.width(), m_width), m_borderColor);
    if (m_sides & Qt::LeftEdge)
        p.fillRect(QRect(r.left(), r.top(), m_width, r.height()), m_borderColor);
    if (m_sides & Qt::RightEdge)
        p.fillRect(QRect(r.right() - m_width + 1, r.top(), m_width, r.height()), m_borderColor);
}

TRzGroupBox::TRzGroupBox(const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
{}

void TRzGroupBox::setBorderColor(const QColor &c)
{
    m_borderColor = c;
    setStyleSheet(QStringLiteral("QGroupBox#%1 { border: 1px solid %2; margin-top: 1.1em; }"
                                 "QGroupBox#%1::title { subcontrol-origin: margin;"
                                 " subcontrol-position: top center; padding: 0 3px; }")
                      .arg(objectName().isEmpty() ? QStringLiteral("x") : objectName(), c.name()));
}

TRzToolBar::TRzToolBar(QWidget *parent)
    : QToolBar(parent)
{
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(24, 24));
    setMovable(false);
    setFloatable(false);
}

void TRzToolBar::setRowHeight(int height)
{
    m_rowHeight = height;
    setMinimumHeight(height);
}

} // namespace tessera
