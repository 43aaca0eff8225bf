#pragma once

#include "baseforms/mydbxedit.h"

class QTimer;

namespace tessera {

// A lookup edit that asks the database: 200 ms after the first character of a burst of
// typing it queries at most 20 records whose name or code contains the text (without regard
// to case) and shows them in the drop-down list; the rows fetched become the content of the
// lookup dataset, which the check and the pick then search. No assist code; the edit button
// opens and closes the list.
class TMyQDBXEdit : public TMyDBXEdit
{
    Q_OBJECT
public:
    explicit TMyQDBXEdit(QWidget *parent = nullptr);
    ~TMyQDBXEdit() override;

    void CheckValue() override;
    void DropDown() override;
    void EditButtonClick() override;

    void StartTimer();
    void StopTimer();
    void TimerTimer();
    QTimer *timer() const { return FTimer; }
    // Writes a trace line to the debug output.
    static void V(const QString &text);

    // The statement for the typed text over the lookup dataset's command text: a table or
    // view name, a statement without "where" (" where 1=1 " appended) or one with "where"
    // (used as it is); then " and rownum<=20 " and the name/code conditions.
    static QString BuildQuerySql(const QString &commandText, const QString &codeField,
                                 const QString &nameField, const QString &typedText);

protected:
    void CMCancelMode(CancelModeEvent *event) override;
    void textTyped() override { StartTimer(); }
    void trace(const QString &text) override { V(text); }

private:
    QTimer *FTimer = nullptr;
};

} // namespace tessera
