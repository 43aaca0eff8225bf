#pragma once

#include <QWidget>

class QTextEdit;

namespace richedit {

// The ruler above the editor's text: centimetre marks from the text's left edge and the
// indents of the paragraph at the cursor: first-line indent (upper triangle), left indent
// (lower triangle) and right indent (lower triangle at the right). Dragging a marker sets
// that indent for every paragraph of the selection, in steps of a quarter centimetre.
class Ruler : public QWidget
{
    Q_OBJECT

public:
    enum class Marker { None, FirstLine, Left, Right };

    explicit Ruler(QTextEdit *edit, QWidget *parent = nullptr);

    QSize sizeHint() const override;

    // Where a marker stands, in ruler pixels (for tests and hit testing).
    int markerX(Marker marker) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Document units <-> ruler pixels.
    double originX() const;
    double textWidth() const;
    double toUnits(int x) const;
    Marker markerAt(const QPoint &pos) const;
    void dragTo(int x);

    QTextEdit *m_edit;
    Marker m_drag = Marker::None;
    bool m_dragEdited = false; // the current drag already changed the text
};

} // namespace richedit
