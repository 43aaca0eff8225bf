#pragma once

#include <QDateTime>
#include <QDialog>

class QListWidget;

namespace richedit {

// Offers the current date and time in the editor's formats (list lstFormats); accepting
// (button btnOk or a double click) chooses the selected one.
class DateTimeDialog : public QDialog
{
    Q_OBJECT

public:
    DateTimeDialog(const QDateTime &now, const QStringList &formats, QWidget *parent = nullptr);

    // The chosen format, empty when none is selected.
    QString selectedFormat() const;

private:
    QListWidget *m_list;
    QStringList m_formats;
};

} // namespace richedit
