// The editor widget driven through its toolbar, offscreen, with scripted dialogs.
#include "richedit/richeditor.h"
#include "richedit/rtfreader.h"
#include "richedit/ruler.h"

#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QFile>
#include <QFontComboBox>
#include <QFontDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QTextLayout>
#include <QTextList>
#include <QUrl>

#include <gtest/gtest.h>

using richedit::RichEditor;

namespace {

class RichEditorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto presenter = std::make_unique<host::ScriptedPresenter>();
        scripted = presenter.get();
        host::setDialogPresenter(std::move(presenter));
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { host::setDialogPresenter(nullptr); }

    QAction *act(const char *name) { return editor.findChild<QAction *>(QLatin1String(name)); }

    // Puts text into the editor and selects characters [from, to).
    void type(const QString &text) { editor.textEdit()->textCursor().insertText(text); }
    void select(int from, int to)
    {
        QTextCursor c = editor.textEdit()->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        editor.textEdit()->setTextCursor(c);
    }
    QTextCharFormat formatAt(int position)
    {
        QTextCursor c(editor.document());
        c.setPosition(position);
        return c.charFormat();
    }
    QString path(const QString &name) const { return dir.filePath(name); }

    host::ScriptedPresenter *scripted = nullptr;
    QTemporaryDir dir;
    RichEditor editor;
};

TEST_F(RichEditorTest, OffersTheToolbarCommandsWithDefaults)
{
    for (const char *name :
         {"actOpen",      "actSaveAs",   "actPrint",     "actPrintPreview", "actFind",
          "actCut",       "actCopy",     "actPaste",     "actUndo",         "actRedo",
          "actDateTime",  "actFont",     "actAlignLeft", "actAlignCenter",  "actAlignRight",
          "actNumbering", "actBullets",  "actIndent",    "actOutdent",      "actBold",
          "actItalic",    "actUnderline"})
        EXPECT_NE(act(name), nullptr) << name;
    auto *size = editor.findChild<QComboBox *>(QStringLiteral("cbFontSize"));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->currentText(), QStringLiteral("12"));
    EXPECT_NE(editor.findChild<QFontComboBox *>(QStringLiteral("cbFontName")), nullptr);
    EXPECT_EQ(editor.document()->defaultFont().family(), QStringLiteral("Arial"));
    // Nothing selected, nothing done yet: the clipboard and history commands are off.
    EXPECT_FALSE(act("actCut")->isEnabled());
    EXPECT_FALSE(act("actCopy")->isEnabled());
    EXPECT_FALSE(act("actUndo")->isEnabled());
}

TEST_F(RichEditorTest, EditCommandsFollowSelectionHistoryAndReadOnly)
{
    type(QStringLiteral("hello"));
    EXPECT_TRUE(act("actUndo")->isEnabled());
    select(0, 5);
    EXPECT_TRUE(act("actCut")->isEnabled());
    EXPECT_TRUE(act("actCopy")->isEnabled());
    act("actCut")->trigger();
    EXPECT_EQ(editor.plainText(), QString());
    act("actUndo")->trigger();
    EXPECT_EQ(editor.plainText(), QStringLiteral("hello"));
    EXPECT_TRUE(act("actRedo")->isEnabled());
    editor.setReadOnly(true);
    select(0, 5);
    EXPECT_FALSE(act("actCut")->isEnabled());
    EXPECT_TRUE(act("actCopy")->isEnabled());
    EXPECT_FALSE(act("actBold")->isEnabled());
    EXPECT_FALSE(act("actUndo")->isEnabled());
}

TEST_F(RichEditorTest, CharacterCommandsFormatTheSelection)
{
    type(QStringLiteral("普通 bold 下划线"));
    select(3, 7);
    act("actBold")->trigger();
    EXPECT_EQ(formatAt(5).fontWeight(), QFont::Bold);
    EXPECT_NE(formatAt(2).fontWeight(), QFont::Bold);
    select(8, 11);
    act("actUnderline")->trigger();
    act("actItalic")->trigger();
    EXPECT_TRUE(formatAt(10).fontUnderline());
    EXPECT_TRUE(formatAt(10).fontItalic());

    auto *size = editor.findChild<QComboBox *>(QStringLiteral("cbFontSize"));
    size->setCurrentText(QStringLiteral("10.5"));
    emit size->textActivated(QStringLiteral("10.5"));
    EXPECT_DOUBLE_EQ(formatAt(10).fontPointSize(), 10.5);
    // Something that is not a size changes nothing and the box shows the size again.
    size->setCurrentText(QStringLiteral("big"));
    emit size->textActivated(QStringLiteral("big"));
    EXPECT_DOUBLE_EQ(formatAt(10).fontPointSize(), 10.5);
    EXPECT_EQ(size->currentText(), QStringLiteral("10.5"));

    auto *font = editor.findChild<QFontComboBox *>(QStringLiteral("cbFontName"));
    emit font->textActivated(QStringLiteral("SimSun"));
    EXPECT_EQ(formatAt(10).fontFamilies().toStringList().value(0), QStringLiteral("SimSun"));
    // The toolbar reflects the format at the cursor.
    select(4, 4);
    EXPECT_TRUE(act("actBold")->isChecked());
    select(1, 1);
    EXPECT_FALSE(act("actBold")->isChecked());
}

TEST_F(RichEditorTest, ParagraphCommands)
{
    type(QStringLiteral("one\ntwo\nthree"));
    select(0, 5); // "one" and part of "two"
    act("actAlignCenter")->trigger();
    EXPECT_EQ(editor.document()->findBlockByNumber(0).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_EQ(editor.document()->findBlockByNumber(1).blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_TRUE(act("actAlignCenter")->isChecked());
    act("actAlignRight")->trigger();
    EXPECT_EQ(editor.document()->findBlockByNumber(0).blockFormat().alignment(), Qt::AlignRight);

    act("actBullets")->trigger();
    QTextList *list = editor.document()->findBlockByNumber(0).textList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(editor.document()->findBlockByNumber(1).textList(), list);
    EXPECT_EQ(editor.document()->findBlockByNumber(2).textList(), nullptr);
    EXPECT_TRUE(act("actBullets")->isChecked());
    // Numbering turns the bullets into numbers; a second press ends the list.
    act("actNumbering")->trigger();
    EXPECT_EQ(editor.document()->findBlockByNumber(0).textList()->format().style(),
              QTextListFormat::ListDecimal);
    EXPECT_TRUE(act("actNumbering")->isChecked());
    EXPECT_FALSE(act("actBullets")->isChecked());
    act("actIndent")->trigger();
    EXPECT_EQ(editor.document()->findBlockByNumber(0).textList()->format().indent(), 2);
    act("actOutdent")->trigger();
    act("actNumbering")->trigger();
    EXPECT_EQ(editor.document()->findBlockByNumber(0).textList(), nullptr);
    EXPECT_EQ(editor.document()->findBlockByNumber(1).textList(), nullptr);

    // Outside lists the indent commands move the left margin, never below zero.
    select(10, 10);
    act("actIndent")->trigger();
    act("actIndent")->trigger();
    const double step = editor.document()->indentWidth();
    EXPECT_DOUBLE_EQ(editor.document()->findBlockByNumber(2).blockFormat().leftMargin(), 2 * step);
    for (int i = 0; i < 4; ++i)
        act("actOutdent")->trigger();
    EXPECT_DOUBLE_EQ(editor.document()->findBlockByNumber(2).blockFormat().leftMargin(), 0);
    EXPECT_EQ(editor.plainText(), QStringLiteral("one\ntwo\nthree"));
}

TEST_F(RichEditorTest, SaveAndLoadKeepTextAndFormatting)
{
    type(QStringLiteral("公告正文 bold"));
    select(5, 9);
    act("actBold")->trigger();
    act("actAlignCenter")->trigger();
    const QString file = path(QStringLiteral("公告 1.rtf"));
    editor.SaveToFile(file);

    RichEditor other;
    other.LoadFromFile(file);
    EXPECT_EQ(other.plainText(), QStringLiteral("公告正文 bold"));
    QTextCursor c(other.document());
    c.setPosition(7);
    EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(other.document()->begin().blockFormat().alignment(), Qt::AlignHCenter);
    // Loading is not an edit: nothing to undo, nothing modified.
    EXPECT_FALSE(other.isModified());
    EXPECT_FALSE(other.document()->isUndoAvailable());
}

TEST_F(RichEditorTest, LoadsPlainTextFilesAndReportsUnreadableOnes)
{
    {
        QFile f(path(QStringLiteral("utf8.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("第一行\n{not rtf}").toUtf8());
    }
    editor.LoadFromFile(path(QStringLiteral("utf8.txt")));
    EXPECT_EQ(editor.plainText(), QStringLiteral("第一行\n{not rtf}"));
    {
        QFile f(path(QStringLiteral("gbk.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringEncoder gbk("GBK");
        f.write(gbk.encode(QStringLiteral("网点通知")));
    }
    editor.LoadFromFile(path(QStringLiteral("gbk.txt")));
    EXPECT_EQ(editor.plainText(), QStringLiteral("网点通知"));
    {
        QFile f(path(QStringLiteral("utf16.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        f.write(utf16.encode(QStringLiteral("记事本")));
    }
    editor.LoadFromFile(path(QStringLiteral("utf16.txt")));
    EXPECT_EQ(editor.plainText(), QStringLiteral("记事本"));

    EXPECT_THROW(editor.LoadFromFile(path(QStringLiteral("missing.rtf"))), host::UserError);
    EXPECT_EQ(editor.plainText(), QStringLiteral("记事本"));
    EXPECT_THROW(editor.SaveToFile(path(QStringLiteral("no/such/folder/x.rtf"))), host::UserError);
}

TEST_F(RichEditorTest, OpenAndSaveAsGoThroughThePresenter)
{
    {
        QFile f(path(QStringLiteral("in.rtf")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1\\ansi\\ansicpg936 \\'c4\\'e3\\'ba\\'c3\\par}");
    }
    scripted->files << path(QStringLiteral("in.rtf"));
    act("actOpen")->trigger();
    EXPECT_EQ(editor.plainText(), QStringLiteral("你好"));
    act("actOpen")->trigger(); // cancelled: nothing changes
    EXPECT_EQ(editor.plainText(), QStringLiteral("你好"));
    scripted->files << path(QStringLiteral("missing.rtf"));
    act("actOpen")->trigger();
    ASSERT_EQ(scripted->shown.size(), 1);
    EXPECT_EQ(scripted->shown[0].kind, host::MessageKind::Error);
    EXPECT_TRUE(scripted->shown[0].text.contains(QStringLiteral("missing.rtf")));
    // A damaged file loads what can be read, and the user is told.
    {
        QFile f(path(QStringLiteral("cut.rtf")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 kept text\\par {\\b cut");
    }
    scripted->files << path(QStringLiteral("cut.rtf"));
    act("actOpen")->trigger();
    EXPECT_EQ(editor.plainText(), QStringLiteral("kept text\ncut"));
    ASSERT_EQ(scripted->shown.size(), 2);
    EXPECT_EQ(scripted->shown[1].kind, host::MessageKind::Warning);
    EXPECT_FALSE(editor.lastLoadWarnings().isEmpty());
    scripted->files << path(QStringLiteral("in.rtf"));
    act("actOpen")->trigger();
    EXPECT_TRUE(editor.lastLoadWarnings().isEmpty());

    // A name without extension gets ".rtf"; ".txt" saves plain text.
    scripted->files << path(QStringLiteral("out")) << path(QStringLiteral("out.txt"));
    act("actSaveAs")->trigger();
    act("actSaveAs")->trigger();
    QFile rtf(path(QStringLiteral("out.rtf")));
    ASSERT_TRUE(rtf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(rtf.readAll().startsWith("{\\rtf1"));
    QFile txt(path(QStringLiteral("out.txt")));
    ASSERT_TRUE(txt.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(txt.readAll()), QStringLiteral("你好"));
}

TEST_F(RichEditorTest, FindSelectsMatchesAndWrapsAround)
{
    type(QStringLiteral("网点A 网点B Apple apple"));
    select(0, 0);
    EXPECT_TRUE(editor.find(QStringLiteral("网点")));
    EXPECT_EQ(editor.textEdit()->textCursor().selectionStart(), 0);
    EXPECT_TRUE(editor.findNext());
    EXPECT_EQ(editor.textEdit()->textCursor().selectionStart(), 4);
    EXPECT_TRUE(editor.findNext()); // wraps to the first one
    EXPECT_EQ(editor.textEdit()->textCursor().selectionStart(), 0);
    EXPECT_TRUE(editor.find(QStringLiteral("apple"), QTextDocument::FindCaseSensitively));
    EXPECT_EQ(editor.textEdit()->textCursor().selectionStart(), 14);
    EXPECT_FALSE(editor.find(QStringLiteral("缺失")));

    // Through the dialog: type, press "find next" twice (the second finds nothing with
    // whole words on), close.
    scripted->onDialog = [](QWidget *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("edtFind"))->setText(QStringLiteral("Appl"));
        auto *next = dialog->findChild<QPushButton *>(QStringLiteral("btnFindNext"));
        next->click();
        dialog->findChild<QCheckBox *>(QStringLiteral("chkWholeWord"))->setChecked(true);
        next->click();
    };
    select(0, 0);
    act("actFind")->trigger();
    EXPECT_EQ(editor.textEdit()->textCursor().selectedText(), QStringLiteral("Appl"));
    ASSERT_EQ(scripted->shown.size(), 1);
    EXPECT_TRUE(scripted->shown[0].text.contains(QStringLiteral("Appl")));
}

TEST_F(RichEditorTest, DateTimeInsertsTheChosenFormat)
{
    scripted->dialogResults << QDialog::Accepted;
    scripted->onDialog = [](QWidget *dialog) {
        dialog->findChild<QListWidget *>(QStringLiteral("lstFormats"))->setCurrentRow(2);
    };
    act("actDateTime")->trigger();
    const QString expected = QDate::currentDate().toString(QStringLiteral("yyyy年M月d日"));
    EXPECT_EQ(editor.plainText(), expected);
    // Cancelled: nothing inserted.
    act("actDateTime")->trigger();
    EXPECT_EQ(editor.plainText(), expected);
}

TEST_F(RichEditorTest, FontDialogAppliesTheChosenFontAndSignalsWhenClosed)
{
    QSignalSpy finished(&editor, &RichEditor::fontDialogFinished);
    type(QStringLiteral("text"));
    select(0, 4);
    scripted->dialogResults << QDialog::Accepted << QDialog::Rejected;
    scripted->onDialog = [](QWidget *dialog) {
        auto *fontDialog = qobject_cast<QFontDialog *>(dialog);
        ASSERT_NE(fontDialog, nullptr);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(20);
        font.setBold(true);
        fontDialog->setCurrentFont(font);
    };
    act("actFont")->trigger();
    EXPECT_DOUBLE_EQ(formatAt(2).fontPointSize(), 20);
    EXPECT_EQ(formatAt(2).fontWeight(), QFont::Bold);
    act("actFont")->trigger();
    EXPECT_EQ(finished.count(), 2);
}

TEST_F(RichEditorTest, PrintsAndPreviewsThroughThePresenter)
{
    type(QStringLiteral("打印测试"));
    QStringList kinds; // the dialogs live only while shown: note their classes then
    scripted->onDialog = [&kinds](QWidget *dialog) {
        kinds << QString::fromLatin1(dialog->metaObject()->className());
    };
    act("actPrintPreview")->trigger();
    act("actPrint")->trigger();
    EXPECT_EQ(kinds,
              (QStringList{QStringLiteral("QPrintPreviewDialog"), QStringLiteral("QPrintDialog")}));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path(QStringLiteral("out.pdf")));
    editor.print(&printer);
    EXPECT_GT(QFile(path(QStringLiteral("out.pdf"))).size(), 500);
}

TEST_F(RichEditorTest, ClipboardCarriesRtfAndPictures)
{
    QClipboard *clipboard = QApplication::clipboard();
    // RTF from a word processor keeps its formatting when pasted.
    auto *rtf = new QMimeData;
    rtf->setData(QStringLiteral("text/rtf"), "{\\rtf1\\ansi\\ansicpg936 {\\b \\'b4\\'d6}}");
    rtf->setText(QStringLiteral("粗"));
    clipboard->setMimeData(rtf);
    type(QStringLiteral("A"));
    act("actPaste")->trigger();
    EXPECT_EQ(editor.plainText(), QStringLiteral("A粗"));
    EXPECT_EQ(formatAt(2).fontWeight(), QFont::Bold);

    // Copying offers RTF that other programs (and this editor) read back.
    select(0, 2);
    act("actCopy")->trigger();
    QTextDocument copied;
    ASSERT_TRUE(richedit::RtfReader().read(clipboard->mimeData()->data(QStringLiteral("text/rtf")),
                                           &copied));
    EXPECT_EQ(copied.toPlainText(), QStringLiteral("A粗"));

    // A pasted picture is kept in the document and saved with it.
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::green);
    auto *picture = new QMimeData;
    picture->setImageData(image);
    clipboard->setMimeData(picture);
    select(2, 2);
    act("actPaste")->trigger();
    EXPECT_EQ(editor.plainText(), QStringLiteral("A粗") + QChar(0xFFFC));
    const QString file = path(QStringLiteral("picture.rtf"));
    editor.SaveToFile(file);
    RichEditor other;
    other.LoadFromFile(file);
    QTextCursor c(other.document());
    c.setPosition(3);
    ASSERT_TRUE(c.charFormat().isImageFormat());
    const QImage back =
        other.document()
            ->resource(QTextDocument::ImageResource, QUrl(c.charFormat().toImageFormat().name()))
            .value<QImage>();
    EXPECT_EQ(back.size(), QSize(8, 6));
}

TEST_F(RichEditorTest, DetectsWebAddressesWithoutChangingTheText)
{
    const QString text = QStringLiteral("访问 www.example.com/a, 或 https://x.cn/p?q=1。完");
    type(text);
    const int www = int(text.indexOf(u'w'));
    const int https = int(text.indexOf(QStringLiteral("https")));
    EXPECT_EQ(editor.linkAt(www + 3), QStringLiteral("http://www.example.com/a"));
    EXPECT_EQ(editor.linkAt(https + 10), QStringLiteral("https://x.cn/p?q=1"));
    EXPECT_EQ(editor.linkAt(1), QString());
    EXPECT_EQ(editor.linkAt(int(text.size()) - 1), QString()); // past the closing "。"
    // Shown underlined, but the document's own formats and the saved RTF stay plain.
    const auto formats = editor.document()->begin().layout()->formats();
    ASSERT_EQ(formats.size(), 2);
    EXPECT_EQ(formats[0].start, www);
    EXPECT_EQ(formats[0].length, QStringLiteral("www.example.com/a").size());
    EXPECT_TRUE(formats[0].format.fontUnderline());
    EXPECT_FALSE(formatAt(www + 3).fontUnderline());
    EXPECT_FALSE(editor.rtf().contains("HYPERLINK"));

    // In a reading pane a click on an address activates it.
    editor.setOpenLinks(false);
    editor.setReadOnly(true);
    editor.resize(600, 200);
    editor.show();
    QSignalSpy activated(&editor, &RichEditor::linkActivated);
    QTextCursor at(editor.document());
    at.setPosition(www + 3);
    const QPoint point = editor.textEdit()->cursorRect(at).center() + QPoint(2, 0);
    QTest::mouseClick(editor.textEdit()->viewport(), Qt::LeftButton, {}, point);
    ASSERT_EQ(activated.count(), 1);
    EXPECT_EQ(activated[0][0].toString(), QStringLiteral("http://www.example.com/a"));
}

TEST_F(RichEditorTest, RulerDragsSetTheParagraphIndents)
{
    using richedit::Ruler;
    editor.resize(700, 300);
    editor.show();
    type(QStringLiteral("first\nsecond"));
    select(0, 0);
    auto *ruler = qobject_cast<Ruler *>(editor.ruler());
    ASSERT_NE(ruler, nullptr);
    const double cm = 96 / 2.54;
    auto drag = [ruler](Ruler::Marker marker, int dx) {
        const int y = marker == Ruler::Marker::FirstLine ? 2 : ruler->height() - 3;
        const QPointF from(ruler->markerX(marker), y);
        const QPointF to = from + QPointF(dx, 0);
        QMouseEvent press(QEvent::MouseButtonPress, from, ruler->mapToGlobal(from), Qt::LeftButton,
                          Qt::LeftButton, {});
        QApplication::sendEvent(ruler, &press);
        QMouseEvent move(QEvent::MouseMove, to, ruler->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(ruler, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, ruler->mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, {});
        QApplication::sendEvent(ruler, &release);
    };
    auto format = [this](int block) {
        return editor.document()->findBlockByNumber(block).blockFormat();
    };

    // The left indent moves the paragraph; its first line stays where it was.
    drag(Ruler::Marker::Left, int(std::lround(2 * cm)));
    EXPECT_NEAR(format(0).leftMargin(), 2 * cm, 0.5);
    act("actUndo")->trigger(); // one drag, one undo step
    EXPECT_DOUBLE_EQ(format(0).leftMargin(), 0);
    act("actRedo")->trigger();
    EXPECT_NEAR(format(0).leftMargin(), 2 * cm, 0.5);
    select(0, 0); // undo and redo moved the cursor
    EXPECT_NEAR(format(0).leftMargin() + format(0).textIndent(), 0, 0.5);
    EXPECT_DOUBLE_EQ(format(1).leftMargin(), 0);
    drag(Ruler::Marker::FirstLine, int(std::lround(1 * cm)));
    EXPECT_NEAR(format(0).leftMargin() + format(0).textIndent(), 1 * cm, 0.5);
    drag(Ruler::Marker::Right, -int(std::lround(3 * cm)));
    EXPECT_NEAR(format(0).rightMargin(), 3 * cm, cm / 4 + 0.5);
    EXPECT_EQ(ruler->markerX(Ruler::Marker::Left),
              ruler->markerX(Ruler::Marker::FirstLine) + int(std::lround(cm)));

    // The indents are saved with the text.
    RichEditor other;
    other.setRtf(editor.rtf());
    const QTextBlockFormat back = other.document()->begin().blockFormat();
    EXPECT_NEAR(back.leftMargin(), format(0).leftMargin(), 0.1);
    EXPECT_NEAR(back.textIndent(), format(0).textIndent(), 0.1);
    EXPECT_NEAR(back.rightMargin(), format(0).rightMargin(), 0.1);

    // A reading pane's ruler cannot change anything.
    editor.setReadOnly(true);
    const double before = format(0).leftMargin();
    drag(Ruler::Marker::Left, 50);
    EXPECT_DOUBLE_EQ(format(0).leftMargin(), before);
}

TEST_F(RichEditorTest, PlainTextAccessAndClear)
{
    editor.setPlainText(QStringLiteral("line1\nline2"));
    EXPECT_EQ(editor.plainText(), QStringLiteral("line1\nline2"));
    EXPECT_EQ(editor.document()->blockCount(), 2);
    editor.clear();
    EXPECT_TRUE(editor.plainText().isEmpty());
    // RTF text handed in directly, and data that is not RTF taken as text.
    editor.setRtf("{\\rtf1 {\\b x}\\par y}");
    EXPECT_EQ(editor.plainText(), QStringLiteral("x\ny"));
    editor.setRtf("just text");
    EXPECT_EQ(editor.plainText(), QStringLiteral("just text"));
    // Windows line ends make lines, not stray characters.
    editor.setPlainText(QStringLiteral("a\r\nb\rc"));
    EXPECT_EQ(editor.document()->blockCount(), 3);
    EXPECT_EQ(editor.plainText(), QStringLiteral("a\nb\nc"));
}

} // namespace
