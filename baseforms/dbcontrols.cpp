#include "baseforms/dbcontrols.h"
#include <algorithm>
#include <QStyleOption>

#include <QAbstractItemModel>
#include <QKeyEvent>
#include <QStyle>

namespace tessera {

TFieldDataLink::TFieldDataLink(QObject *parent)
    : QObject(parent)
{}

void TFieldDataLink::setDataSource(TDataSource *source)
{
    disconnect(m_c1);
    disconnect(m_c2);
    disconnect(m_c3);
    m_source = source;
    if (source) {
        m_c1 = connect(source, &TDataSource::currentRowChanged, this, &TFieldDataLink::refresh);
        m_c2 = connect(source, &TDataSource::layoutChanged, this, [this] {
            if (m_source && m_source->model())
                m_c3 = connect(m_source->model(), &QAbstractItemModel::dataChanged, this,
                               &TFieldDataLink::refresh, Qt::UniqueConnection);
            emit refresh();
        });
        if (source->model())
            m_c3 = connect(source->model(), &QAbstractItemModel::dataChanged, this,
                           &TFieldDataLink::refresh);
    }
    emit refresh();
}

void TFieldDataLink::setFieldName(const QString &name)
{
    m_fieldName = name;
    emit refresh();
}

int TFieldDataLink::fieldIndex() const
{
    return m_source ? m_source->fieldIndex(m_fieldName) : -1;
}

bool TFieldDataLink::isActive() const
{
    return m_source && m_source->isActive() && fieldIndex() >= 0;
}

quillon::FieldType TFieldDataLink::fieldType() const
{
    const int f = fieldIndex();
    return f >= 0 ? m_source->fields().at(f).type : quillon::FieldType::String;
}

QVariant TFieldDataLink::value() const
{
    if (!isActive() || m_source->currentRow() < 0)
        return {};
    return m_source->value(m_source->currentRow(), fieldIndex());
}

bool TFieldDataLink::setValue(const QVariant &value)
{
    if (!isActive() || m_source->currentRow() < 0)
        return false;
    if (m_source->value(m_source->currentRow(), fieldIndex()) == value)
        return true;
    return m_source->setValue(m_source->currentRow(), fieldIndex(), value);
}

void TFieldDataLink::edit()
{
    if (isActive())
        m_source->edit();
}

// ---------------------------------------------------------------------------------------

TDBEditEh::TDBEditEh(QWidget *parent)
    : QLineEdit(parent)
    , m_link(new TFieldDataLink(this))
{
    connect(m_link, &TFieldDataLink::refresh, this, &TDBEditEh::showValue);
    connect(this, &QLineEdit::editingFinished, this, &TDBEditEh::updateRecord);
}

void TDBEditEh::setDataSource(TDataSource *source)
{
    m_link->setDataSource(source);
}

void TDBEditEh::setDataField(const QString &field)
{
    m_link->setFieldName(field);
}

QAction *TDBEditEh::addEditButton(const QIcon &icon)
{
    const QIcon i = icon.isNull() ? style()->standardIcon(QStyle::SP_FileDialogContentsView) : icon;
    QAction *a = addAction(i, QLineEdit::TrailingPosition);
    a->setShortcutContext(Qt::WidgetShortcut);
    connect(a, &QAction::triggered, this, &TDBEditEh::editButtonClicked);
    m_buttons << a;
    return a;
}

void TDBEditEh::keyPressEvent(QKeyEvent *event)
{
    // The first edit button's shortcut (F4 after restyling) works while the edit has focus.
    if (!m_buttons.isEmpty() && !m_buttons.first()->shortcut().isEmpty() &&
        QKeySequence(event->keyCombination()) == m_buttons.first()->shortcut()) {
        m_buttons.first()->trigger();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDBEditEh::showValue()
{
    if (!m_link->dataSource())
        return;
    m_showing = true;
    setText(m_link->value().toString());
    setModified(false);
    m_showing = false;
}

void TDBEditEh::updateRecord()
{
    if (m_showing || !m_link->isActive() || isReadOnly())
        return;
    const QString t = text();
    if (m_link->value().toString() == t)
        return;
    m_link->setValue(t.isEmpty() ? QVariant() : QVariant(t));
}

// ---------------------------------------------------------------------------------------

TDBDateTimeEditEh::TDBDateTimeEditEh(QWidget *parent)
    : QDateTimeEdit(parent)
    , m_link(new TFieldDataLink(this))
{
    setCalendarPopup(true);
    setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    // A field without a date shows an empty box (the lowest date stands for it), never a
    // made-up date that passing through the box would write.
    setSpecialValueText(QStringLiteral(" "));
    connect(m_link, &TFieldDataLink::refresh, this, &TDBDateTimeEditEh::showValue);
    connect(this, &QDateTimeEdit::editingFinished, this, [this] {
        if (m_showing || !m_link->isActive() || isReadOnly())
            return;
        const bool empty = dateTime() == minimumDateTime();
        if (empty && m_link->value().isNull())
            return;
        m_link->setValue(empty ? QVariant() : QVariant(dateTime()));
    });
}

void TDBDateTimeEditEh::setDataSource(TDataSource *source)
{
    m_link->setDataSource(source);
}

void TDBDateTimeEditEh::setDataField(const QString &field)
{
    m_link->setFieldName(field);
    if (m_link->fieldType() == quillon::FieldType::DateTime)
        setDisplayFormat(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

void TDBDateTimeEditEh::showValue()
{
    if (!m_link->dataSource())
        return;
    m_showing = true;
    const QDateTime dt = m_link->value().toDateTime();
    setDateTime(dt.isValid() ? dt : minimumDateTime());
    m_showing = false;
}

// ---------------------------------------------------------------------------------------

TDBMemo::TDBMemo(QWidget *parent)
    : QPlainTextEdit(parent)
    , m_link(new TFieldDataLink(this))
{
    connect(m_link, &TFieldDataLink::refresh, this, &TDBMemo::showValue);
}

void TDBMemo::setDataSource(TDataSource *source)
{
    m_link->setDataSource(source);
}

void TDBMemo::setDataField(const QString &field)
{
    m_link->setFieldName(field);
}

void TDBMemo::showValue()
{
    if (!m_link->dataSource())
        return;
    m_showing = true;
    setPlainText(m_link->value().toString());
    m_showing = false;
}

void TDBMemo::focusOutEvent(QFocusEvent *event)
{
    if (!m_showing && m_link->isActive() && !isReadOnly() &&
        m_link->value().toString() != toPlainText())
        m_link->setValue(toPlainText());
    QPlainTextEdit::focusOutEvent(event);
}

// ---------------------------------------------------------------------------------------

TDBCheckBoxEh::TDBCheckBoxEh(QWidget *parent)
    : QCheckBox(parent)
    , m_link(new TFieldDataLink(this))
{
    connect(m_link, &TFieldDataLink::refresh, this, &TDBCheckBoxEh::showValue);
    connect(this, &QCheckBox::toggled, this, [this](bool on) {
        if (m_showing || !m_link->isActive())
            return;
        if (m_link->fieldType() == quillon::FieldType::Boolean)
            m_link->setValue(on);
        else
            m_link->setValue(on ? ValueChecked : ValueUnchecked);
    });
}

void TDBCheckBoxEh::setDataSource(TDataSource *source)
{
    m_link->setDataSource(source);
}

void TDBCheckBoxEh::setDataField(const QString &field)
{
    m_link->setFieldName(field);
}

void TDBCheckBoxEh::showValue()
{
    if (!m_link->dataSource())
        return;
    m_showing = true;
    const QVariant v = m_link->value();
    setChecked(m_link->fieldType() == quillon::FieldType::Boolean ? v.toBool()
                                                                  : v.toString() == ValueChecked);
    m_showing = false;
}

void fitDateTimeEdit(QDateTimeEdit *edit)
{
    // The widest digits in every place of the format, plus frame and the drop-down button.
    QString widest = edit->displayFormat();
    for (QChar &c : widest)
        if (c.isLetter())
            c = u'8';
    QStyleOptionSpinBox option;
    option.initFrom(edit);
    option.frame = true;
    const int text = edit->fontMetrics().horizontalAdvance(widest) + 2;
    const QSize needed = edit->style()->sizeFromContents(QStyle::CT_SpinBox, &option,
                                                         QSize(text, edit->fontMetrics().height()),
                                                         edit);
    const int button = edit->calendarPopup() ? edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
    edit->setMinimumWidth(std::max(edit->minimumWidth(), needed.width() + button));
}

} // namespace tessera
