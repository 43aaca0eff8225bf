#include "ruler.h"

#include <QAbstractTextDocumentLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <cmath>

namespace richedit {

namespace {

// Document units are pixels at 96 dpi.
constexpr double kUnitsPerCm = 96.0 / 2.54;
constexpr double kStep = kUnitsPerCm / 4;
constexpr int kHit = 6;

QList<QTextBlock> blocksOf(const QTextCursor &cursor)
{
    QList<QTextBlock> blocks;
    QTextBlock block = cursor.document()->findBlock(cursor.selectionStart());
    const QTextBlock last = cursor.document()->findBlock(cursor.selectionEnd());
    while (block.isValid()) {
        blocks << block;
        if (block == last)
            break;
        block = block.next();
    }
    return blocks;
}

} // namespace

Ruler::Ruler(QTextEdit *edit, QWidget *parent)
    : QWidget(parent)
    , m_edit(edit)
{
    setObjectName(QStringLiteral("ruler"));
    setMouseTracking(true);
    auto refresh = [this] { update(); };
    connect(edit, &QTextEdit::cursorPositionChanged, this, refresh);
    connect(edit->document(), &QTextDocument::contentsChanged, this, refresh);
    connect(edit->horizontalScrollBar(), &QScrollBar::valueChanged, this, refresh);
}

QSize Ruler::sizeHint() const
{
    return {200, 22};
}

double Ruler::originX() const
{
    // The text starts after the editor's frame and the document margin, moved by scrolling;
    // the ruler sits at the same x as the editor.
    return m_edit->x() - x() + m_edit->viewport()->x() + m_edit->document()->documentMargin() -
           m_edit->horizontalScrollBar()->value();
}

double Ruler::textWidth() const
{
    const double width = m_edit->document()->textWidth();
    const double usable = (width > 0 ? width : m_edit->viewport()->width()) -
                          2 * m_edit->document()->documentMargin();
    return std::max(usable, kUnitsPerCm);
}

double Ruler::toUnits(int x) const
{
    return std::round((x - originX()) / kStep) * kStep;
}

int Ruler::markerX(Marker marker) const
{
    const QTextBlockFormat f = m_edit->textCursor().blockFormat();
    switch (marker) {
    case Marker::FirstLine:
        return int(std::lround(originX() + f.leftMargin() + f.textIndent()));
    case Marker::Left:
        return int(std::lround(originX() + f.leftMargin()));
    case Marker::Right:
        return int(std::lround(originX() + textWidth() - f.rightMargin()));
    case Marker::None:
        break;
    }
    return -1;
}

Ruler::Marker Ruler::markerAt(const QPoint &pos) const
{
    const bool upper = pos.y() < height() / 2;
    if (upper && std::abs(pos.x() - markerX(Marker::FirstLine)) <= kHit)
        return Marker::FirstLine;
    if (!upper && std::abs(pos.x() - markerX(Marker::Left)) <= kHit)
        return Marker::Left;
    if (!upper && std::abs(pos.x() - markerX(Marker::Right)) <= kHit)
        return Marker::Right;
    return Marker::None;
}

void Ruler::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const double origin = originX();
    const double width = textWidth();
    p.fillRect(QRectF(origin, 3, width, height() - 6), palette().base());
    p.setPen(palette().color(QPalette::WindowText));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 2));
    p.setFont(small);
    for (int i = 0; i * kStep <= width; ++i) {
        const double x = origin + i * kStep;
        if (i % 4 == 0) {
            if (i > 0)
                p.drawText(QRectF(x - 10, 3, 20, height() - 6), Qt::AlignCenter,
                           QString::number(i / 4));
        } else {
            const int len = i % 2 == 0 ? 4 : 2;
            p.drawLine(QPointF(x, height() / 2.0 - len), QPointF(x, height() / 2.0 + len));
        }
    }
    auto triangle = [&](int x, bool pointingDown) {
        QPainterPath path;
        const double top = pointingDown ? 1 : height() - 8;
        const double tip = pointingDown ? top + 7 : top;
        const double base = pointingDown ? top : top + 7;
        path.moveTo(x, tip);
        path.lineTo(x - 5, base);
        path.lineTo(x + 5, base);
        path.closeSubpath();
        p.fillPath(path, palette().button());
        p.drawPath(path);
    };
    p.setRenderHint(QPainter::Antialiasing);
    triangle(markerX(Marker::FirstLine), true);
    triangle(markerX(Marker::Left), false);
    triangle(markerX(Marker::Right), false);
}

void Ruler::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_edit->isReadOnly())
        m_drag = markerAt(event->position().toPoint());
    m_dragEdited = false;
}

void Ruler::mouseMoveEvent(QMouseEvent *event)
{
    if (m_drag == Marker::None) {
        setCursor(markerAt(event->position().toPoint()) == Marker::None ? Qt::ArrowCursor
                                                                        : Qt::SizeHorCursor);
        return;
    }
    dragTo(event->position().toPoint().x());
}

void Ruler::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_drag != Marker::None)
        dragTo(event->position().toPoint().x());
    m_drag = Marker::None;
}

void Ruler::dragTo(int x)
{
    const double at = std::clamp(toUnits(x), 0.0, textWidth());
    // One drag is one step to undo.
    QTextCursor cursor = m_edit->textCursor();
    if (m_dragEdited)
        cursor.joinPreviousEditBlock();
    else
        cursor.beginEditBlock();
    m_dragEdited = true;
    for (const QTextBlock &block : blocksOf(cursor)) {
        QTextCursor c(block);
        QTextBlockFormat f = block.blockFormat();
        switch (m_drag) {
        case Marker::FirstLine:
            f.setTextIndent(at - f.leftMargin());
            break;
        case Marker::Left: {
            // The first line stays where it is; only the other lines move.
            const double firstLine = f.leftMargin() + f.textIndent();
            f.setLeftMargin(std::min(at, textWidth() - f.rightMargin() - kStep));
            f.setTextIndent(std::max(0.0, firstLine) - f.leftMargin());
            break;
        }
        case Marker::Right:
            f.setRightMargin(std::max(0.0, textWidth() - std::max(at, f.leftMargin() + kStep)));
            break;
        case Marker::None:
            break;
        }
        c.setBlockFormat(f);
    }
    cursor.endEditBlock();
    update();
}

} // namespace richedit
