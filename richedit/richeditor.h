#pragma once

#include <QTextDocument>
#include <QTextListFormat>
#include <QWidget>

class QAction;
class QComboBox;
class QFontComboBox;
class QIODevice;
class QPrinter;
class QTextCharFormat;
class QTextEdit;
class QToolBar;

namespace richedit {

class Ruler;

// The rich-text editor of the notice windows: a text area below two rows of commands
// (open, save as, print, print preview, find, cut, copy, paste, undo, redo, date and time;
// font name and size, bold, italic, underline, font dialog, alignment, numbering, bullets
// and indents) and a ruler. Content is read and written as RTF. Every modal dialog goes
// through host::dialogPresenter(), so tests drive it without a screen.
//
// Commands are actions with object names, for tests and for windows that route them:
// actOpen, actSaveAs, actPrint, actPrintPreview, actFind, actFindNext, actCut, actCopy,
// actPaste, actUndo, actRedo, actDateTime, actBold, actItalic, actUnderline, actFont,
// actAlignLeft, actAlignCenter, actAlignRight, actNumbering, actBullets, actOutdent,
// actIndent; the font boxes are cbFontName and cbFontSize; the text area is "edit".
class RichEditor : public QWidget
{
    Q_OBJECT

public:
    explicit RichEditor(QWidget *parent = nullptr);
    ~RichEditor() override;

    // Loads an RTF file (any other file as plain text: UTF-16 by its byte order mark,
    // UTF-8, or else GBK). Throws host::UserError when the file cannot be read or is larger
    // than 64 MB; the content is then unchanged.
    void LoadFromFile(const QString &path);
    // Writes the content as RTF. Throws host::UserError when the file cannot be written.
    void SaveToFile(const QString &path) const;
    // The same on an open device.
    void LoadFromStream(QIODevice &device);
    void SaveToStream(QIODevice &device) const;

    // What was wrong with the RTF last loaded (empty when it was sound); the open command
    // shows it to the user.
    const QStringList &lastLoadWarnings() const { return m_loadWarnings; }

    QByteArray rtf() const;
    void setRtf(const QByteArray &rtf);
    QString plainText() const;
    void setPlainText(const QString &text);
    void clear();

    // The target of the link at a document position: a hyperlink, or a web address typed
    // in the text (shown blue and underlined); empty when there is none.
    QString linkAt(int position) const;
    // Whether a clicked link opens in the desktop's browser (default true). A click on a
    // link (read-only, or with Ctrl held) emits linkActivated either way.
    void setOpenLinks(bool open) { m_openLinks = open; }

    bool isModified() const;
    void setReadOnly(bool readOnly);
    bool isReadOnly() const;

    QTextEdit *textEdit() const { return m_edit; }
    QTextDocument *document() const;
    // The command rows: file and editing commands, then formatting commands.
    QToolBar *toolBar() const { return m_toolBar; }
    QToolBar *formatBar() const { return m_formatBar; }
    // Shows or hides both rows (a reading pane shows none).
    void setToolBarVisible(bool visible);
    // The ruler (object name "ruler") between the command rows and the text; shown by default.
    QWidget *ruler() const;
    void setRulerVisible(bool visible);

    // Folder the save dialog suggests (default: the working folder; the open dialog
    // cannot be given one).
    void setInitialDir(const QString &dir) { m_initialDir = dir; }
    QString initialDir() const { return m_initialDir; }

    // Editing commands behind the toolbar, usable directly.
    bool find(const QString &text, QTextDocument::FindFlags flags = {});
    bool findNext();
    void insertDateTime(const QString &format);
    void setFontFamily(const QString &family);
    void setFontSize(double points);
    void setTextAlignment(Qt::Alignment alignment);
    void toggleList(QTextListFormat::Style style);
    void increaseIndent();
    void decreaseIndent();
    void print(QPrinter *printer) const;

    // Text formats of the date/time command, in the order they are offered.
    static QStringList dateTimeFormats();

signals:
    // The font dialog was closed (accepted or not).
    void fontDialogFinished();
    void linkActivated(const QString &link);

private:
    QAction *addAction(const char *name, const QString &text, const QString &iconText,
                       const QString &themeIcon = {});
    void buildToolBar();
    void connectEditor();
    void mergeFormat(const QTextCharFormat &format);
    void updateCharActions(const QTextCharFormat &format);
    void updateBlockActions();
    void updateEditActions();
    void showError(const QString &text) const;

    void openFile();
    void saveFileAs();
    void printDocument();
    void printPreview();
    void showFind();
    void showDateTime();
    void showFontDialog();

    QTextEdit *m_edit = nullptr;
    QToolBar *m_toolBar = nullptr;   // file and editing commands
    QToolBar *m_formatBar = nullptr; // formatting commands
    QToolBar *m_activeBar = nullptr; // where addAction puts the next command
    Ruler *m_ruler = nullptr;
    QFontComboBox *m_fontName = nullptr;
    QComboBox *m_fontSize = nullptr;
    QString m_initialDir;
    QStringList m_loadWarnings;
    QString m_lastFind;
    QTextDocument::FindFlags m_lastFindFlags;
    bool m_updating = false;
    bool m_openLinks = true;
};

} // namespace richedit
