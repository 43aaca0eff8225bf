#include "richeditor.h"

#include "datetimedialog.h"
#include "finddialog.h"
#include "rtfreader.h"
#include "rtfwriter.h"
#include "ruler.h"

#include "host/dialogpresenter.h"
#include "host/errors.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontComboBox>
#include <QFontDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTextList>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace richedit {

namespace {

constexpr double kDefaultFontSize = 12;
// Larger files are refused with a message rather than freezing the window.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

const QString kFileFilter = QStringLiteral("RTF 文件 (*.rtf);;文本文件 (*.txt);;所有文件 (*)");

// Plain text files: by their byte order mark (UTF-16/32), UTF-8 when they are valid UTF-8,
// else the Chinese Windows code page.
QString decodePlainText(const QByteArray &data)
{
    if (const auto bom = QStringConverter::encodingForData(data)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(data);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(data);
    if (!utf8.hasError())
        return text;
    QStringDecoder gbk("GBK");
    return gbk.isValid() ? gbk.decode(data) : QString::fromLatin1(data);
}

// The blocks that a cursor's selection touches (the cursor's block when nothing is selected).
QList<QTextBlock> selectedBlocks(const QTextCursor &cursor)
{
    QList<QTextBlock> blocks;
    QTextBlock block = cursor.document()->findBlock(cursor.selectionStart());
    const QTextBlock last = cursor.document()->findBlock(cursor.selectionEnd());
    while (block.isValid()) {
        blocks << block;
        if (block == last)
            break;
        block = block.next();
    }
    return blocks;
}

// Web addresses in the text, as the editor shows them.
const QRegularExpression &urlPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("(?:https?://|ftp://|www\\.)[^\\s<>\"'，。；、）】《》“”]+"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// Marks web addresses blue and underlined on screen only: the document itself (and so the
// saved RTF) is not changed.
class UrlHighlighter : public QSyntaxHighlighter
{
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString &text) override
    {
        QTextCharFormat link;
        link.setForeground(QColor(0, 0, 255));
        link.setFontUnderline(true);
        auto it = urlPattern().globalMatch(text);
        while (it.hasNext()) {
            const auto m = it.next();
            setFormat(int(m.capturedStart()), int(trimmedUrl(m.captured()).size()), link);
        }
    }

public:
    // An address without the punctuation that usually ends the sentence around it.
    static QString trimmedUrl(QString url)
    {
        while (!url.isEmpty() && QStringLiteral(".,;:!?)]}").contains(url.back()))
            url.chop(1);
        return url;
    }
};

// Pictures are resources of their document: copies of text that holds some take them along.
void copyImageResources(const QTextDocument &from, QTextDocument &to)
{
    for (QTextBlock b = to.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isImageFormat()) {
                const QUrl name(f.toImageFormat().name());
                to.addResource(QTextDocument::ImageResource, name,
                               from.resource(QTextDocument::ImageResource, name));
            }
        }
    }
}

// The selected part of the cursor's document, as a document of its own.
void copySelection(const QTextCursor &cursor, QTextDocument &target)
{
    target.setDefaultFont(cursor.document()->defaultFont());
    QTextCursor(&target).insertFragment(cursor.selection());
    copyImageResources(*cursor.document(), target);
}

const QStringList kRtfMimeTypes = {QStringLiteral("text/rtf"), QStringLiteral("application/rtf"),
                                   QStringLiteral("text/richtext")};

// The text area: exchanges RTF with the clipboard (so formatting survives copying to and
// from word processors) and takes pasted pictures.
class EditArea : public QTextEdit
{
public:
    using QTextEdit::QTextEdit;

    // Called with the link under a click (read-only, or with Ctrl held).
    std::function<void(const QString &)> onLinkClicked;

    // The link target at a document position: a hyperlink's target or a web address.
    QString linkAt(int position) const
    {
        QTextCursor c(document());
        c.setPosition(std::clamp(position, 0, document()->characterCount() - 1));
        c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        const QTextCharFormat f = c.charFormat();
        if (f.isAnchor() && !f.anchorHref().isEmpty())
            return f.anchorHref();
        const QTextBlock block = document()->findBlock(position);
        const int offset = position - block.position();
        auto it = urlPattern().globalMatch(block.text());
        while (it.hasNext()) {
            const auto m = it.next();
            const QString url = UrlHighlighter::trimmedUrl(m.captured());
            if (offset >= m.capturedStart() && offset < m.capturedStart() + url.size())
                return url.startsWith(QLatin1String("www."), Qt::CaseInsensitive)
                           ? QStringLiteral("http://") + url
                           : url;
        }
        return {};
    }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QTextEdit::mouseReleaseEvent(event);
        if (event->button() != Qt::LeftButton || textCursor().hasSelection() || !onLinkClicked)
            return;
        if (!isReadOnly() && !(event->modifiers() & Qt::ControlModifier))
            return;
        const QString link = linkAt(cursorForPosition(event->position().toPoint()).position());
        if (!link.isEmpty())
            onLinkClicked(link);
    }

    QMimeData *createMimeDataFromSelection() const override
    {
        QMimeData *data = QTextEdit::createMimeDataFromSelection();
        QTextDocument selection;
        copySelection(textCursor(), selection);
        data->setData(QStringLiteral("text/rtf"), RtfWriter().write(&selection));
        return data;
    }

    bool canInsertFromMimeData(const QMimeData *source) const override
    {
        return source->hasImage() || QTextEdit::canInsertFromMimeData(source) ||
               std::any_of(kRtfMimeTypes.begin(), kRtfMimeTypes.end(),
                           [source](const QString &t) { return source->hasFormat(t); });
    }

    void insertFromMimeData(const QMimeData *source) override
    {
        for (const QString &type : kRtfMimeTypes) {
            if (!source->hasFormat(type))
                continue;
            QTextDocument pasted;
            pasted.setDefaultFont(document()->defaultFont());
            if (!RtfReader().read(source->data(type), &pasted))
                break;
            insertDocument(pasted);
            return;
        }
        if (source->hasImage() && !source->hasText()) {
            const QImage image = qvariant_cast<QImage>(source->imageData());
            if (!image.isNull()) {
                static QAtomicInt counter;
                const QUrl name(
                    QStringLiteral("pasted-image://%1.png").arg(counter.fetchAndAddRelaxed(1) + 1));
                document()->addResource(QTextDocument::ImageResource, name, image);
                textCursor().insertImage(name.toString());
                return;
            }
        }
        QTextEdit::insertFromMimeData(source);
    }

private:
    // Inserts another document at the cursor, bringing its pictures along.
    void insertDocument(const QTextDocument &other)
    {
        QTextCursor cursor = textCursor();
        cursor.beginEditBlock();
        // The pictures' names are unique in the process, so they can join this document.
        for (QTextBlock b = other.begin(); b.isValid(); b = b.next()) {
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat f = it.fragment().charFormat();
                if (f.isImageFormat()) {
                    const QUrl name(f.toImageFormat().name());
                    document()->addResource(QTextDocument::ImageResource, name,
                                            other.resource(QTextDocument::ImageResource, name));
                }
            }
        }
        cursor.insertFragment(QTextDocumentFragment(&other));
        cursor.endEditBlock();
        setTextCursor(cursor);
    }
};

} // namespace

RichEditor::RichEditor(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("LMDRichEdit"));
    auto *area = new EditArea(this);
    m_edit = area;
    area->onLinkClicked = [this](const QString &link) {
        emit linkActivated(link);
        if (m_openLinks)
            QDesktopServices::openUrl(QUrl::fromUserInput(link));
    };
    new UrlHighlighter(m_edit->document());
    m_edit->setObjectName(QStringLiteral("edit"));
    m_edit->setAcceptRichText(true);
    m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_edit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(kDefaultFontSize);
    m_edit->document()->setDefaultFont(font);

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("tbEdit"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_formatBar = new QToolBar(this);
    m_formatBar->setObjectName(QStringLiteral("tbFormat"));
    m_formatBar->setIconSize(QSize(16, 16));
    m_formatBar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_formatBar);
    m_ruler = new Ruler(m_edit, this);
    layout->addWidget(m_ruler);
    layout->addWidget(m_edit, 1);

    buildToolBar();
    connectEditor();
    updateCharActions(m_edit->currentCharFormat());
    updateBlockActions();
    updateEditActions();
}

RichEditor::~RichEditor() = default;

QAction *RichEditor::addAction(const char *name, const QString &text, const QString &iconText,
                               const QString &themeIcon)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setIconText(iconText);
    action->setToolTip(text);
    if (!themeIcon.isEmpty())
        action->setIcon(QIcon::fromTheme(themeIcon));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QWidget::addAction(action);
    m_activeBar->addAction(action);
    return action;
}

void RichEditor::buildToolBar()
{
    // File and editing commands on the first row, formatting on the second.
    m_activeBar = m_toolBar;
    QAction *a = addAction("actOpen", QStringLiteral("打开"), QStringLiteral("打开"),
                           QStringLiteral("document-open"));
    a->setShortcut(QKeySequence::Open);
    connect(a, &QAction::triggered, this, &RichEditor::openFile);
    a = addAction("actSaveAs", QStringLiteral("另存为"), QStringLiteral("另存"),
                  QStringLiteral("document-save-as"));
    connect(a, &QAction::triggered, this, &RichEditor::saveFileAs);
    a = addAction("actPrint", QStringLiteral("打印"), QStringLiteral("打印"),
                  QStringLiteral("document-print"));
    a->setShortcut(QKeySequence::Print);
    connect(a, &QAction::triggered, this, &RichEditor::printDocument);
    a = addAction("actPrintPreview", QStringLiteral("打印预览"), QStringLiteral("预览"),
                  QStringLiteral("document-print-preview"));
    connect(a, &QAction::triggered, this, &RichEditor::printPreview);
    a = addAction("actFind", QStringLiteral("查找"), QStringLiteral("查找"),
                  QStringLiteral("edit-find"));
    a->setShortcut(QKeySequence::Find);
    connect(a, &QAction::triggered, this, &RichEditor::showFind);
    a = new QAction(QStringLiteral("查找下一个"), this);
    a->setObjectName(QStringLiteral("actFindNext"));
    a->setShortcut(QKeySequence::FindNext);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QWidget::addAction(a);
    connect(a, &QAction::triggered, this, [this] {
        if (m_lastFind.isEmpty())
            showFind();
        else if (!findNext())
            host::dialogPresenter().showMessage(host::MessageKind::Information,
                                                QStringLiteral("提示"),
                                                QStringLiteral("找不到\"%1\"。").arg(m_lastFind));
    });
    m_toolBar->addSeparator();

    a = addAction("actCut", QStringLiteral("剪切"), QStringLiteral("剪切"),
                  QStringLiteral("edit-cut"));
    connect(a, &QAction::triggered, m_edit, &QTextEdit::cut);
    a = addAction("actCopy", QStringLiteral("复制"), QStringLiteral("复制"),
                  QStringLiteral("edit-copy"));
    connect(a, &QAction::triggered, m_edit, &QTextEdit::copy);
    a = addAction("actPaste", QStringLiteral("粘贴"), QStringLiteral("粘贴"),
                  QStringLiteral("edit-paste"));
    connect(a, &QAction::triggered, m_edit, &QTextEdit::paste);
    a = addAction("actUndo", QStringLiteral("撤销"), QStringLiteral("撤销"),
                  QStringLiteral("edit-undo"));
    connect(a, &QAction::triggered, m_edit, &QTextEdit::undo);
    a = addAction("actRedo", QStringLiteral("重做"), QStringLiteral("重做"),
                  QStringLiteral("edit-redo"));
    connect(a, &QAction::triggered, m_edit, &QTextEdit::redo);
    a = addAction("actDateTime", QStringLiteral("插入日期和时间"), QStringLiteral("日期"));
    connect(a, &QAction::triggered, this, &RichEditor::showDateTime);

    m_activeBar = m_formatBar;
    m_fontName = new QFontComboBox(m_formatBar);
    m_fontName->setObjectName(QStringLiteral("cbFontName"));
    m_fontName->setToolTip(QStringLiteral("字体"));
    m_fontName->setMaximumWidth(160);
    m_formatBar->addWidget(m_fontName);
    connect(m_fontName, &QFontComboBox::textActivated, this, &RichEditor::setFontFamily);
    m_fontSize = new QComboBox(m_formatBar);
    m_fontSize->setObjectName(QStringLiteral("cbFontSize"));
    m_fontSize->setToolTip(QStringLiteral("字号"));
    m_fontSize->setEditable(true);
    m_fontSize->setMaximumWidth(64);
    for (const char *size : {"8", "9", "10", "10.5", "11", "12", "14", "16", "18", "20", "22", "24",
                             "26", "28", "36", "48", "72"})
        m_fontSize->addItem(QLatin1String(size));
    m_fontSize->setCurrentText(QStringLiteral("12"));
    m_formatBar->addWidget(m_fontSize);
    connect(m_fontSize, &QComboBox::textActivated, this, [this](const QString &text) {
        bool ok = false;
        const double size = text.toDouble(&ok);
        if (ok && size >= 1 && size <= 1638)
            setFontSize(size);
        else // not a size: show the size in force again
            updateCharActions(m_edit->currentCharFormat());
    });

    a = addAction("actUnderline", QStringLiteral("下划线"), QStringLiteral("U"),
                  QStringLiteral("format-text-underline"));
    a->setCheckable(true);
    a->setShortcut(QKeySequence::Underline);
    connect(a, &QAction::triggered, this, [this](bool on) {
        QTextCharFormat f;
        f.setFontUnderline(on);
        mergeFormat(f);
    });
    a = addAction("actItalic", QStringLiteral("斜体"), QStringLiteral("I"),
                  QStringLiteral("format-text-italic"));
    a->setCheckable(true);
    a->setShortcut(QKeySequence::Italic);
    connect(a, &QAction::triggered, this, [this](bool on) {
        QTextCharFormat f;
        f.setFontItalic(on);
        mergeFormat(f);
    });
    a = addAction("actBold", QStringLiteral("粗体"), QStringLiteral("B"),
                  QStringLiteral("format-text-bold"));
    a->setCheckable(true);
    a->setShortcut(QKeySequence::Bold);
    connect(a, &QAction::triggered, this, [this](bool on) {
        QTextCharFormat f;
        f.setFontWeight(on ? QFont::Bold : QFont::Normal);
        mergeFormat(f);
    });
    for (const char *name : {"actBold", "actItalic", "actUnderline"}) {
        QAction *style = findChild<QAction *>(QLatin1String(name));
        QFont look = style->font();
        look.setBold(style == findChild<QAction *>(QStringLiteral("actBold")));
        look.setItalic(style == findChild<QAction *>(QStringLiteral("actItalic")));
        look.setUnderline(style == findChild<QAction *>(QStringLiteral("actUnderline")));
        style->setFont(look);
    }
    a = addAction("actFont", QStringLiteral("字体..."), QStringLiteral("字体"));
    connect(a, &QAction::triggered, this, &RichEditor::showFontDialog);
    m_formatBar->addSeparator();

    auto *alignGroup = new QActionGroup(this);
    const struct
    {
        const char *name;
        QString text;
        QString icon;
        Qt::Alignment alignment;
        QKeySequence shortcut;
    } aligns[] = {
        {"actAlignLeft", QStringLiteral("左对齐"), QStringLiteral("format-justify-left"),
         Qt::AlignLeft, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"actAlignCenter", QStringLiteral("居中"), QStringLiteral("format-justify-center"),
         Qt::AlignHCenter, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {"actAlignRight", QStringLiteral("右对齐"), QStringLiteral("format-justify-right"),
         Qt::AlignRight, QKeySequence(Qt::CTRL | Qt::Key_R)},
    };
    for (const auto &align : aligns) {
        a = addAction(align.name, align.text, align.text.left(2), align.icon);
        a->setCheckable(true);
        a->setShortcut(align.shortcut);
        alignGroup->addAction(a);
        const Qt::Alignment alignment = align.alignment;
        connect(a, &QAction::triggered, this, [this, alignment] { setTextAlignment(alignment); });
    }
    m_formatBar->addSeparator();

    a = addAction("actNumbering", QStringLiteral("编号"), QStringLiteral("编号"),
                  QStringLiteral("format-list-ordered"));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this] { toggleList(QTextListFormat::ListDecimal); });
    a = addAction("actBullets", QStringLiteral("项目符号"), QStringLiteral("符号"),
                  QStringLiteral("format-list-unordered"));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this] { toggleList(QTextListFormat::ListDisc); });
    a = addAction("actOutdent", QStringLiteral("减少缩进"), QStringLiteral("减进"),
                  QStringLiteral("format-indent-less"));
    connect(a, &QAction::triggered, this, &RichEditor::decreaseIndent);
    a = addAction("actIndent", QStringLiteral("增加缩进"), QStringLiteral("增进"),
                  QStringLiteral("format-indent-more"));
    connect(a, &QAction::triggered, this, &RichEditor::increaseIndent);
}

void RichEditor::connectEditor()
{
    connect(m_edit, &QTextEdit::currentCharFormatChanged, this, &RichEditor::updateCharActions);
    connect(m_edit, &QTextEdit::cursorPositionChanged, this, &RichEditor::updateBlockActions);
    connect(m_edit, &QTextEdit::copyAvailable, this, [this] { updateEditActions(); });
    connect(m_edit, &QTextEdit::undoAvailable, this, [this] { updateEditActions(); });
    connect(m_edit, &QTextEdit::redoAvailable, this, [this] { updateEditActions(); });
    if (QClipboard *clipboard = QApplication::clipboard())
        connect(clipboard, &QClipboard::dataChanged, this, [this] { updateEditActions(); });
}

QTextDocument *RichEditor::document() const
{
    return m_edit->document();
}

QWidget *RichEditor::ruler() const
{
    return m_ruler;
}

void RichEditor::setRulerVisible(bool visible)
{
    m_ruler->setVisible(visible);
}

void RichEditor::setToolBarVisible(bool visible)
{
    m_toolBar->setVisible(visible);
    m_formatBar->setVisible(visible);
}

// ---- content ----

void RichEditor::LoadFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw host::UserError(QStringLiteral("无法打开文件[%1]: %2").arg(path, file.errorString()));
    if (file.size() > kMaxFileSize)
        throw host::UserError(QStringLiteral("文件[%1]过大(%2 MB)，无法在编辑器中打开。")
                                  .arg(path)
                                  .arg(file.size() / (1024 * 1024)));
    LoadFromStream(file);
}

void RichEditor::LoadFromStream(QIODevice &device)
{
    const QByteArray data = device.readAll();
    if (RtfReader::isRtf(data))
        setRtf(data);
    else
        setPlainText(decodePlainText(data));
}

void RichEditor::SaveToFile(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw host::UserError(QStringLiteral("无法写入文件[%1]: %2").arg(path, file.errorString()));
    SaveToStream(file);
    if (!file.commit())
        throw host::UserError(QStringLiteral("无法写入文件[%1]: %2").arg(path, file.errorString()));
}

void RichEditor::SaveToStream(QIODevice &device) const
{
    if (!RtfWriter().write(document(), &device))
        throw host::UserError(QStringLiteral("无法写入: %1").arg(device.errorString()));
}

QByteArray RichEditor::rtf() const
{
    return RtfWriter().write(document());
}

void RichEditor::setRtf(const QByteArray &rtf)
{
    if (!RtfReader::isRtf(rtf)) {
        setPlainText(decodePlainText(rtf));
        return;
    }
    // Loading is not an edit the user could undo.
    document()->setUndoRedoEnabled(false);
    RtfReader reader;
    reader.read(rtf, document());
    m_loadWarnings = reader.warnings();
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
    m_edit->moveCursor(QTextCursor::Start);
    updateEditActions();
}

QString RichEditor::plainText() const
{
    return m_edit->toPlainText();
}

void RichEditor::setPlainText(const QString &text)
{
    m_loadWarnings.clear();
    // Texts stored by Windows clients end their lines with CR LF.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    m_edit->setPlainText(lines);
    document()->setModified(false);
}

void RichEditor::clear()
{
    m_edit->clear();
    document()->setModified(false);
}

QString RichEditor::linkAt(int position) const
{
    return static_cast<const EditArea *>(m_edit)->linkAt(position);
}

bool RichEditor::isModified() const
{
    return document()->isModified();
}

void RichEditor::setReadOnly(bool readOnly)
{
    m_edit->setReadOnly(readOnly);
    if (readOnly) // links stay clickable in a reading pane
        m_edit->setTextInteractionFlags(Qt::TextBrowserInteraction);
    updateEditActions();
}

bool RichEditor::isReadOnly() const
{
    return m_edit->isReadOnly();
}

// ---- commands ----

bool RichEditor::find(const QString &text, QTextDocument::FindFlags flags)
{
    m_lastFind = text;
    m_lastFindFlags = flags;
    if (text.isEmpty())
        return false;
    if (m_edit->find(text, flags))
        return true;
    // Search on from the other end once.
    QTextCursor wrap(document());
    if (flags & QTextDocument::FindBackward)
        wrap.movePosition(QTextCursor::End);
    const QTextCursor found = document()->find(text, wrap, flags);
    if (found.isNull())
        return false;
    m_edit->setTextCursor(found);
    return true;
}

bool RichEditor::findNext()
{
    return find(m_lastFind, m_lastFindFlags);
}

QStringList RichEditor::dateTimeFormats()
{
    return {QStringLiteral("yyyy-MM-dd"),        QStringLiteral("yyyy-MM-dd HH:mm:ss"),
            QStringLiteral("yyyy年M月d日"),      QStringLiteral("yyyy年M月d日 dddd"),
            QStringLiteral("yyyy年M月d日 H:mm"), QStringLiteral("yyyy/M/d"),
            QStringLiteral("HH:mm:ss"),          QStringLiteral("H时m分")};
}

void RichEditor::insertDateTime(const QString &format)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    m_edit->textCursor().insertText(chinese.toString(QDateTime::currentDateTime(), format));
}

void RichEditor::mergeFormat(const QTextCharFormat &format)
{
    if (m_updating)
        return;
    m_edit->mergeCurrentCharFormat(format);
    m_edit->setFocus();
}

void RichEditor::setFontFamily(const QString &family)
{
    if (family.isEmpty())
        return;
    QTextCharFormat f;
    f.setFontFamilies({family});
    mergeFormat(f);
}

void RichEditor::setFontSize(double points)
{
    if (points <= 0)
        return;
    QTextCharFormat f;
    f.setFontPointSize(points);
    mergeFormat(f);
}

void RichEditor::setTextAlignment(Qt::Alignment alignment)
{
    m_edit->setAlignment(alignment);
    updateBlockActions();
}

void RichEditor::toggleList(QTextListFormat::Style style)
{
    QTextCursor cursor = m_edit->textCursor();
    QTextList *current = cursor.currentList();
    cursor.beginEditBlock();
    if (current && current->format().style() == style) {
        // The same command again takes the paragraphs out of the list.
        for (const QTextBlock &block : selectedBlocks(cursor)) {
            if (QTextList *list = block.textList())
                list->remove(block);
            QTextCursor c(block);
            QTextBlockFormat bf = c.blockFormat();
            bf.setIndent(0);
            c.setBlockFormat(bf);
        }
    } else if (current) {
        QTextListFormat format = current->format();
        format.setStyle(style);
        current->setFormat(format);
    } else {
        QTextListFormat format;
        format.setStyle(style);
        format.setIndent(1);
        cursor.createList(format);
    }
    cursor.endEditBlock();
    updateBlockActions();
}

void RichEditor::increaseIndent()
{
    QTextCursor cursor = m_edit->textCursor();
    cursor.beginEditBlock();
    if (QTextList *list = cursor.currentList()) {
        QTextListFormat format = list->format();
        format.setIndent(std::min(format.indent() + 1, 9));
        list->setFormat(format);
    } else {
        for (const QTextBlock &block : selectedBlocks(cursor)) {
            QTextCursor c(block);
            QTextBlockFormat bf = c.blockFormat();
            bf.setLeftMargin(bf.leftMargin() + document()->indentWidth());
            c.setBlockFormat(bf);
        }
    }
    cursor.endEditBlock();
}

void RichEditor::decreaseIndent()
{
    QTextCursor cursor = m_edit->textCursor();
    cursor.beginEditBlock();
    if (QTextList *list = cursor.currentList()) {
        QTextListFormat format = list->format();
        if (format.indent() > 1) {
            format.setIndent(format.indent() - 1);
            list->setFormat(format);
        } else { // outdenting the outermost level ends the list for these paragraphs
            for (const QTextBlock &block : selectedBlocks(cursor)) {
                if (QTextList *l = block.textList())
                    l->remove(block);
                QTextCursor c(block);
                QTextBlockFormat bf = c.blockFormat();
                bf.setIndent(0);
                c.setBlockFormat(bf);
            }
        }
    } else {
        for (const QTextBlock &block : selectedBlocks(cursor)) {
            QTextCursor c(block);
            QTextBlockFormat bf = c.blockFormat();
            bf.setLeftMargin(std::max(0.0, bf.leftMargin() - document()->indentWidth()));
            c.setBlockFormat(bf);
        }
    }
    cursor.endEditBlock();
    updateBlockActions();
}

void RichEditor::print(QPrinter *printer) const
{
    if (printer)
        document()->print(printer);
}

// ---- dialogs ----

void RichEditor::showError(const QString &text) const
{
    host::dialogPresenter().showMessage(host::MessageKind::Error, QStringLiteral("错误"), text);
}

void RichEditor::openFile()
{
    const QString path =
        host::dialogPresenter().chooseOpenFile(QStringLiteral("打开"), kFileFilter);
    if (path.isEmpty())
        return;
    try {
        LoadFromFile(path);
        m_initialDir = QFileInfo(path).absolutePath();
        if (!m_loadWarnings.isEmpty())
            host::dialogPresenter().showMessage(
                host::MessageKind::Warning, QStringLiteral("警告"),
                QStringLiteral("文件[%1]已损坏，只读出了能读的部分：\n%2")
                    .arg(path, m_loadWarnings.join(u'\n')));
    } catch (const host::UserError &e) {
        showError(e.message());
    }
}

void RichEditor::saveFileAs()
{
    const QString suggested = QDir(m_initialDir.isEmpty() ? QDir::currentPath() : m_initialDir)
                                  .filePath(QStringLiteral("文档.rtf"));
    QString path =
        host::dialogPresenter().chooseSaveFile(QStringLiteral("另存为"), suggested, kFileFilter);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix.isEmpty())
        path += QStringLiteral(".rtf");
    try {
        if (suffix == QLatin1String("txt")) {
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(plainText().toUtf8()) < 0 ||
                !file.commit())
                throw host::UserError(
                    QStringLiteral("无法写入文件[%1]: %2").arg(path, file.errorString()));
        } else {
            SaveToFile(path);
        }
        document()->setModified(false);
        m_initialDir = QFileInfo(path).absolutePath();
    } catch (const host::UserError &e) {
        showError(e.message());
    }
}

void RichEditor::printDocument()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("打印"));
    if (m_edit->textCursor().hasSelection())
        dialog.setOption(QAbstractPrintDialog::PrintSelection);
    if (host::dialogPresenter().execDialog(&dialog) != QDialog::Accepted)
        return;
    if (printer.printRange() == QPrinter::Selection) {
        QTextDocument selection;
        copySelection(m_edit->textCursor(), selection);
        selection.print(&printer);
    } else {
        print(&printer);
    }
}

void RichEditor::printPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("打印预览"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter *p) { print(p); });
    host::dialogPresenter().execDialog(&dialog);
}

void RichEditor::showFind()
{
    QString initial = m_edit->textCursor().selectedText();
    if (initial.isEmpty() || initial.contains(QChar::ParagraphSeparator))
        initial = m_lastFind;
    FindDialog dialog(this, initial, this);
    host::dialogPresenter().execDialog(&dialog);
    if (!dialog.text().isEmpty()) {
        m_lastFind = dialog.text();
        m_lastFindFlags = dialog.flags();
    }
}

void RichEditor::showDateTime()
{
    DateTimeDialog dialog(QDateTime::currentDateTime(), dateTimeFormats(), this);
    if (host::dialogPresenter().execDialog(&dialog) != QDialog::Accepted)
        return;
    const QString format = dialog.selectedFormat();
    if (!format.isEmpty())
        insertDateTime(format);
}

void RichEditor::showFontDialog()
{
    const QTextCharFormat current = m_edit->currentCharFormat();
    QFont initial = current.font();
    if (initial.pointSizeF() <= 0)
        initial.setPointSizeF(kDefaultFontSize);
    QFontDialog dialog(initial, this);
    dialog.setWindowTitle(QStringLiteral("字体"));
    if (host::dialogPresenter().execDialog(&dialog) == QDialog::Accepted) {
        const QFont font = dialog.currentFont();
        QTextCharFormat f;
        f.setFontFamilies({font.family()});
        f.setFontPointSize(font.pointSizeF() > 0 ? font.pointSizeF() : kDefaultFontSize);
        f.setFontWeight(font.bold() ? QFont::Bold : QFont::Normal);
        f.setFontItalic(font.italic());
        f.setFontUnderline(font.underline());
        f.setFontStrikeOut(font.strikeOut());
        mergeFormat(f);
    }
    emit fontDialogFinished();
}

// ---- action states ----

void RichEditor::updateCharActions(const QTextCharFormat &format)
{
    m_updating = true;
    const QStringList families = format.fontFamilies().toStringList();
    const QString family =
        families.isEmpty() ? document()->defaultFont().family() : families.first();
    m_fontName->setCurrentFont(QFont(family));
    // A font this machine lacks still shows under its own name.
    if (m_fontName->currentText() != family)
        m_fontName->setEditText(family);
    const double size = format.fontPointSize() > 0 ? format.fontPointSize()
                                                   : document()->defaultFont().pointSizeF();
    m_fontSize->setCurrentText(QString::number(size));
    findChild<QAction *>(QStringLiteral("actBold"))
        ->setChecked(format.fontWeight() >= QFont::DemiBold);
    findChild<QAction *>(QStringLiteral("actItalic"))->setChecked(format.fontItalic());
    findChild<QAction *>(QStringLiteral("actUnderline"))->setChecked(format.fontUnderline());
    m_updating = false;
}

void RichEditor::updateBlockActions()
{
    const QTextCursor cursor = m_edit->textCursor();
    const Qt::Alignment align = cursor.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    findChild<QAction *>(QStringLiteral("actAlignCenter"))->setChecked(align & Qt::AlignHCenter);
    findChild<QAction *>(QStringLiteral("actAlignRight"))
        ->setChecked((align & Qt::AlignRight) && !(align & Qt::AlignHCenter));
    findChild<QAction *>(QStringLiteral("actAlignLeft"))
        ->setChecked(!(align & (Qt::AlignHCenter | Qt::AlignRight)));
    const QTextList *list = cursor.currentList();
    const QTextListFormat::Style style =
        list ? list->format().style() : QTextListFormat::ListStyleUndefined;
    findChild<QAction *>(QStringLiteral("actNumbering"))
        ->setChecked(list && style != QTextListFormat::ListDisc &&
                     style != QTextListFormat::ListCircle && style != QTextListFormat::ListSquare);
    findChild<QAction *>(QStringLiteral("actBullets"))
        ->setChecked(list &&
                     (style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle ||
                      style == QTextListFormat::ListSquare));
}

void RichEditor::updateEditActions()
{
    const bool editable = !m_edit->isReadOnly();
    const bool selected = m_edit->textCursor().hasSelection();
    findChild<QAction *>(QStringLiteral("actCut"))->setEnabled(editable && selected);
    findChild<QAction *>(QStringLiteral("actCopy"))->setEnabled(selected);
    findChild<QAction *>(QStringLiteral("actPaste"))->setEnabled(editable && m_edit->canPaste());
    findChild<QAction *>(QStringLiteral("actUndo"))
        ->setEnabled(editable && document()->isUndoAvailable());
    findChild<QAction *>(QStringLiteral("actRedo"))
        ->setEnabled(editable && document()->isRedoAvailable());
    for (const char *name : {"actOpen", "actDateTime", "actFont", "actBold", "actItalic",
                             "actUnderline", "actAlignLeft", "actAlignCenter", "actAlignRight",
                             "actNumbering", "actBullets", "actIndent", "actOutdent"})
        findChild<QAction *>(QLatin1String(name))->setEnabled(editable);
    m_fontName->setEnabled(editable);
    m_fontSize->setEnabled(editable);
}

} // namespace richedit
