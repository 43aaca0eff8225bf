#include "dialogpresenter.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace host {

DialogPresenter::~DialogPresenter() = default;

Answer DialogPresenter::showDetailedMessage(MessageKind kind, const QString &caption,
                                            const QString &text, const QString &)
{
    return showMessage(kind, caption, text);
}

namespace {

class WidgetPresenter : public DialogPresenter
{
public:
    Answer showMessage(MessageKind kind, const QString &caption, const QString &text,
                       QuestionButtons buttons) override
    {
        return show(kind, caption, text, QString(), buttons);
    }

    Answer showDetailedMessage(MessageKind kind, const QString &caption, const QString &text,
                               const QString &details) override
    {
        return show(kind, caption, text, details, QuestionButtons::YesNo);
    }

    static Answer show(MessageKind kind, const QString &caption, const QString &text,
                       const QString &details, QuestionButtons buttons)
    {
        QMessageBox box;
        box.setWindowTitle(caption);
        box.setText(text);
        if (!details.isEmpty())
            box.setDetailedText(details);
        switch (kind) {
        case MessageKind::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageKind::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageKind::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageKind::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        if (kind != MessageKind::Question) {
            box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
            box.exec();
            return Answer::Ok;
        }
        QPushButton *yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
        QPushButton *cancel = nullptr;
        if (buttons == QuestionButtons::YesNoCancel)
            cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(yes);
        box.exec();
        if (box.clickedButton() == yes)
            return Answer::Yes;
        if (cancel && box.clickedButton() == cancel)
            return Answer::Cancel;
        (void)no;
        return cancel && !box.clickedButton() ? Answer::Cancel : Answer::No;
    }

    QString chooseOpenFile(const QString &caption, const QString &filter) override
    {
        return QFileDialog::getOpenFileName(nullptr, caption, QString(), filter);
    }
    QStringList chooseOpenFiles(const QString &caption, const QString &filter) override
    {
        return QFileDialog::getOpenFileNames(nullptr, caption, QString(), filter);
    }
    QString chooseSaveFile(const QString &caption, const QString &suggestedName,
                           const QString &filter) override
    {
        return QFileDialog::getSaveFileName(nullptr, caption, suggestedName, filter);
    }
    int execDialog(QWidget *dialog) override
    {
        if (auto *d = qobject_cast<QDialog *>(dialog))
            return d->exec();
        return QDialog::Rejected;
    }
};

std::unique_ptr<DialogPresenter> &presenterSlot()
{
    static std::unique_ptr<DialogPresenter> slot;
    return slot;
}

} // namespace

DialogPresenter &dialogPresenter()
{
    auto &slot = presenterSlot();
    if (!slot)
        slot = std::make_unique<WidgetPresenter>();
    return *slot;
}

void setDialogPresenter(std::unique_ptr<DialogPresenter> presenter)
{
    presenterSlot() = std::move(presenter);
}

Answer ScriptedPresenter::showMessage(MessageKind kind, const QString &caption,
                                      const QString &text, QuestionButtons)
{
    shown.append({kind, caption, text});
    if (!answers.isEmpty())
        return answers.takeFirst();
    return kind == MessageKind::Question ? Answer::Yes : Answer::Ok;
}

QString ScriptedPresenter::chooseOpenFile(const QString &, const QString &)
{
    return files.isEmpty() ? QString() : files.takeFirst();
}

QStringList ScriptedPresenter::chooseOpenFiles(const QString &, const QString &)
{
    QStringList all = files;
    files.clear();
    return all;
}

QString ScriptedPresenter::chooseSaveFile(const QString &, const QString &, const QString &)
{
    return files.isEmpty() ? QString() : files.takeFirst();
}

Answer ScriptedPresenter::showDetailedMessage(MessageKind kind, const QString &caption,
                                              const QString &text, const QString &details)
{
    const Answer a = showMessage(kind, caption, text, QuestionButtons::YesNo);
    shown.last().details = details;
    return a;
}

int ScriptedPresenter::execDialog(QWidget *dialog)
{
    dialogsShown.append(dialog);
    if (onDialog)
        onDialog(dialog);
    return dialogResults.isEmpty() ? QDialog::Rejected : dialogResults.takeFirst();
}

} // namespace host
