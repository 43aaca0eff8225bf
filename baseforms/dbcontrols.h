#pragma once

// Data-aware edits: each shows one field of the data source's current record and writes
// the user's input back to it.

#include "baseforms/datasource.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

namespace tessera {

// Binding of one control to one field; the controls below share it.
class TFieldDataLink : public QObject
{
    Q_OBJECT
public:
    explicit TFieldDataLink(QObject *parent);
    void setDataSource(TDataSource *source);
    TDataSource *dataSource() const { return m_source; }
    void setFieldName(const QString &name);
    QString fieldName() const { return m_fieldName; }
    // Bound to an open data source with that field.
    bool isActive() const;
    int fieldIndex() const;
    quillon::FieldType fieldType() const;
    QVariant value() const;
    bool setValue(const QVariant &value);
    // Puts the record into edit state (a dataset source).
    void edit();

signals:
    // The record or its value changed: the control shows the new value.
    void refresh();

private:
    QPointer<TDataSource> m_source;
    QString m_fieldName;
    QMetaObject::Connection m_c1, m_c2, m_c3;
};

// A data-aware single-line edit with optional edit buttons (shown inside the edit at the
// right; the first opens with F4 after the base form's restyling).
class TDBEditEh : public QLineEdit
{
    Q_OBJECT
public:
    explicit TDBEditEh(QWidget *parent = nullptr);

    void setDataSource(TDataSource *source);
    TDataSource *DataSource() const { return m_link->dataSource(); }
    void setDataField(const QString &field);
    QString DataField() const { return m_link->fieldName(); }
    TFieldDataLink *dataLink() const { return m_link; }

    QList<QAction *> editButtons() const { return m_buttons; }
    QAction *addEditButton(const QIcon &icon = {});

    // Writes the text to the field now (also done when editing finishes).
    void updateRecord();

signals:
    void editButtonClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showValue();
    TFieldDataLink *m_link;
    QList<QAction *> m_buttons;
    bool m_showing = false;
};

class TDBDateTimeEditEh : public QDateTimeEdit
{
    Q_OBJECT
public:
    explicit TDBDateTimeEditEh(QWidget *parent = nullptr);
    void setDataSource(TDataSource *source);
    void setDataField(const QString &field);
    TFieldDataLink *dataLink() const { return m_link; }

private:
    void showValue();
    TFieldDataLink *m_link;
    bool m_showing = false;
};

class TDBMemo : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TDBMemo(QWidget *parent = nullptr);
    void setDataSource(TDataSource *source);
    void setDataField(const QString &field);
    TFieldDataLink *dataLink() const { return m_link; }

protected:
    void focusOutEvent(QFocusEvent *event) override;

private:
    void showValue();
    TFieldDataLink *m_link;
    bool m_showing = false;
};

// A data-aware check box: checked when the field holds true or `ValueChecked`.
class TDBCheckBoxEh : public QCheckBox
{
    Q_OBJECT
public:
    explicit TDBCheckBoxEh(QWidget *parent = nullptr);
    void setDataSource(TDataSource *source);
    void setDataField(const QString &field);
    TFieldDataLink *dataLink() const { return m_link; }
    QString ValueChecked = QStringLiteral("1");
    QString ValueUnchecked = QStringLiteral("0");

private:
    void showValue();
    TFieldDataLink *m_link;
    bool m_showing = false;
};

// Makes a date-time box wide enough for its whole display format in its own font (the
// seconds stay visible on a small screen, where a layout shrinks boxes to their minimum).
void fitDateTimeEdit(QDateTimeEdit *edit);

} // namespace tessera
