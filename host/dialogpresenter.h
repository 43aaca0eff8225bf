#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

namespace host {

// The four kinds of modal message the system shows; each has a fixed caption chosen by
// the caller ("提示", "警告", "错误", "询问").
enum class MessageKind { Information, Warning, Error, Question };

enum class Answer { Ok, Yes, No, Cancel };

// Which answers a question offers.
enum class QuestionButtons { YesNo, YesNoCancel };

// Every modal dialog of the program goes through the one presenter, so tests replace it
// with a scripted one and never block on a real modal box.
class DialogPresenter
{
public:
    virtual ~DialogPresenter();

    // Shows a modal message and returns the answer (Ok for the non-question kinds).
    virtual Answer showMessage(MessageKind kind, const QString &caption, const QString &text,
                               QuestionButtons buttons = QuestionButtons::YesNo)
        = 0;

    // A message with a technical detail that the dialog offers folded away (详细信息).
    // The default shows the message alone.
    virtual Answer showDetailedMessage(MessageKind kind, const QString &caption,
                                       const QString &text, const QString &details);

    // Modal file choosers; an empty result means the user cancelled.
    virtual QString chooseOpenFile(const QString &caption, const QString &filter) = 0;
    virtual QStringList chooseOpenFiles(const QString &caption, const QString &filter) = 0;
    virtual QString chooseSaveFile(const QString &caption, const QString &suggestedName,
                                   const QString &filter)
        = 0;

    // Runs a modal dialog that a window built itself (lookup, font, print preview ...).
    // Returns QDialog::exec()'s result; scripted presenters decide without showing.
    virtual int execDialog(QWidget *dialog) = 0;
};

// The presenter in force. The default shows real Qt dialogs.
DialogPresenter &dialogPresenter();

// Replaces the presenter; the host takes ownership. Passing nullptr restores the default.
void setDialogPresenter(std::unique_ptr<DialogPresenter> presenter);

// A presenter for tests: answers from a queue (default Yes/Ok when empty), records every
// message it was asked to show.
class ScriptedPresenter : public DialogPresenter
{
public:
    struct Shown
    {
        MessageKind kind;
        QString caption;
        QString text;
        QString details; // the folded technical part, empty for plain messages
    };

    Answer showMessage(MessageKind kind, const QString &caption, const QString &text,
                       QuestionButtons buttons) override;
    Answer showDetailedMessage(MessageKind kind, const QString &caption, const QString &text,
                               const QString &details) override;
    QString chooseOpenFile(const QString &caption, const QString &filter) override;
    QStringList chooseOpenFiles(const QString &caption, const QString &filter) override;
    QString chooseSaveFile(const QString &caption, const QString &suggestedName,
                           const QString &filter) override;
    int execDialog(QWidget *dialog) override;

    QList<Answer> answers;        // consumed front first by showMessage
    QStringList files;            // consumed front first by the file choosers
    QList<int> dialogResults;     // consumed front first by execDialog (default: rejected)
    // Called by execDialog before taking a result, so a test can fill in the dialog.
    std::function<void(QWidget *)> onDialog;
    QList<Shown> shown;
    QList<QWidget *> dialogsShown;
};

} // namespace host
