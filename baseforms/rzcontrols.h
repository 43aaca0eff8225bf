#pragma once

// Stand-ins for the panel, group box, edit, combo box and check box family that the
// windows were designed with. They are plain Qt widgets with the few settings the base
// form's restyling gives them (border colour, flat frame), so that the restyling can tell
// them apart from the plain Qt controls by class.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QToolBar>

namespace tessera {

// A panel that paints its own border in one colour; `borderSides` says which sides and
// `borderWidth` how thick.
class TRzCustomPanel : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)

public:
    explicit TRzCustomPanel(QWidget *parent = nullptr);

    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &c);
    Qt::Edges borderSides() const { return m_sides; }
    void setBorderSides(Qt::Edges sides, int width = 1);
    int borderWidth() const { return m_width; }
    // The panel's own background colour (painted when parent colour is off).
    void setPanelColor(const QColor &c);
    bool parentColor() const { return !autoFillBackground(); }
    void setParentColor(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_borderColor = QColor(0xA6, 0xCA, 0xF0);
    Qt::Edges m_sides;
    int m_width = 1;
};

class TRzPanel : public TRzCustomPanel
{
    Q_OBJECT
public:
    using TRzCustomPanel::TRzCustomPanel;
};

// A panel the user can resize by dragging its inner edge (a splitter handle in the form).
class TRzSizePanel : public TRzCustomPanel
{
    Q_OBJECT
public:
    using TRzCustomPanel::TRzCustomPanel;
};

class TRzGroupBox : public QGroupBox
{
    Q_OBJECT
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
public:
    explicit TRzGroupBox(const QString &title = {}, QWidget *parent = nullptr);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &c);

private:
    QColor m_borderColor;
};

class TRzEdit : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

class TRzComboBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
};

class TRzCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
};

// The tool bar of the data forms: buttons with the caption under the glyph.
class TRzToolBar : public QToolBar
{
    Q_OBJECT
public:
    explicit TRzToolBar(QWidget *parent = nullptr);
    void setRowHeight(int height);
    int rowHeight() const { return m_rowHeight; }

private:
    int m_rowHeight = 40;
};

} // namespace tessera
