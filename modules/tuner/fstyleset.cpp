#include "modules/tuner/fstyleset.h"

#include "baseforms/environment.h"
#include "baseforms/rzcontrols.h"
#include "host/dialogpresenter.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "modules/framework/funcs.h"
#include "modules/tuner/modalframe.h"
#include "modules/tuner/udm_func.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QSaveFile>
#include <QStringDecoder>

namespace tuner {

namespace {

constexpr int kEntries = 10;

// An integer shared variable, `fallback` when empty or not a number.
int intVar(const QString &name, int fallback)
{
    bool ok = false;
    const int v = host::g_lstVars->value(name).trimmed().toInt(&ok);
    return ok ? v : fallback;
}

QString scriptSuffix()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".bat");
#else
    return QStringLiteral(".sh");
#endif
}

// The name part of a name=value line.
QString lineName(const QString &line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return (eq < 0 ? line : line.left(eq)).trimmed();
}

} // namespace

TfStyleSet::TfStyleSet(QWidget *parent)
    : TfDBBase(parent)
{
    setObjectName(QStringLiteral("fStyleSet"));
    setWindowTitle(QStringLiteral("自定义皮肤"));
    tbSave = addToolButton(actSave, QStringLiteral("tbSave"));
    tbClose = addToolButton(actClose, QStringLiteral("tbClose"));
    setExecuteHandler(actSave, [this] { actSaveExecute(); });
    pnlOption->hide();

    auto *body = addComponent(new QWidget(this), QStringLiteral("pnlBody"));
    auto *row = new QHBoxLayout(body);
    row->setContentsMargins(6, 6, 6, 6);
    lstImg = addComponent(new QListWidget(body), QStringLiteral("lstImg"));
    lstImg->setFrameShape(QFrame::NoFrame);
    lstImg->setFixedWidth(120);
    lstImg->setToolTip(QStringLiteral("选择一种界面风格，右侧显示预览"));
    imgView = addComponent(new QLabel(body), QStringLiteral("imgView"));
    imgView->setScaledContents(true);
    imgView->setMinimumSize(360, 230);
    imgView->setFrameShape(QFrame::StyledPanel);
    row->addWidget(lstImg);
    row->addWidget(imgView, 1);
    clientLayout()->addWidget(body, 1);

    connect(lstImg, &QListWidget::currentRowChanged, this, [this] { lstImgClick(); });

    new TModalFrame(this, windowTitle(), QSize(540, 340), true);
}

TfStyleSet::~TfStyleSet() = default;

TModalFrame *TfStyleSet::frame() const
{
    return TModalFrame::of(this);
}

int TfStyleSet::ShowModal()
{
    // The list is built as the dialog shows (also when a presenter runs it unseen).
    FormShow();
    return frame()->showModal();
}

int TfStyleSet::FillSkinList()
{
    int current = intVar(QStringLiteral("BackSkin"), 1);
    intVar(QStringLiteral("SkinCount"), 1); // informational only
    if (current < 1 || current > kEntries)
        current = 1;
    const QSignalBlocker quiet(lstImg);
    lstImg->clear();
    lstImg->addItem(QStringLiteral("默认"));
    for (int i = 1; i < kEntries; ++i)
        lstImg->addItem(QStringLiteral("风格%1").arg(i));
    for (int i = 0; i < lstImg->count(); ++i)
        lstImg->item(i)->setSizeHint(QSize(100, 23));
    return current;
}

void TfStyleSet::FormShow()
{
    TfDBBase::FormShow();
    if (m_filled)
        return;
    m_filled = true;
    const int current = FillSkinList();
    {
        const QSignalBlocker quiet(lstImg);
        lstImg->setCurrentRow(current - 1);
    }
    lstImgClick();
}

QString TfStyleSet::previewPath(int n)
{
    return tessera::appPath() + QStringLiteral("_jpg/fg%1.jpg").arg(n);
}

void TfStyleSet::lstImgClick()
{
    const int n = lstImg->currentRow() + 1;
    const QString path = previewPath(n);
    QPixmap pm;
    if (!QFileInfo::exists(path) || !pm.load(path)) {
        MSGWarningDialog(QStringLiteral("文件不存在!") + QDir::toNativeSeparators(path));
        return;
    }
    imgView->setPixmap(pm);
    imgView->hide();
    imgView->show();
}

bool TfStyleSet::SaveIniValue(const QString &key, const QString &value)
{
    const QString path = tessera::configFileName();
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        throw host::UserError(QStringLiteral("配置文件“%1”无法读取（%2），界面风格没有保存。")
                                  .arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    file.close();
    // UTF-8, or the Chinese 8-bit code page of files written on older systems.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = QStringDecoder("GB18030")(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const bool crlf = text.contains(QLatin1String("\r\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    const bool plain = !lines.isEmpty() && lines.first() == QLatin1String("[Config]");
    host::IFuncObj *cipher = framework::FuncObj();
    QStringList work;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (plain || line.trimmed().isEmpty()) {
            work.append(line);
            continue;
        }
        try {
            work.append(cipher->DecryptStr(line, 0));
        } catch (const host::UserError &e) {
            // Colour lines are kept plain in the encrypted form.
            if (line.contains(QLatin1String("C_"))) {
                work.append(line);
                continue;
            }
            throw host::UserError(QStringLiteral("配置文件“%1”第 %2 行无法解密（%3），界面风格没有写入"
                                                 "配置文件，重新登录后不会生效。请让系统管理员检查配置文件。")
                                      .arg(QDir::toNativeSeparators(path))
                                      .arg(i + 1)
                                      .arg(e.message()));
        }
    }

    const QString newLine = key + QLatin1Char('=') + value;
    bool found = false;
    for (QString &l : work) {
        if (lineName(l).compare(key, Qt::CaseInsensitive) == 0 && l.contains(QLatin1Char('='))) {
            l = l.left(l.indexOf(QLatin1Char('='))) + QLatin1Char('=') + value; // the file's spelling
            found = true;
            break;
        }
    }
    if (!found) {
        // Before the next section, so the key stays in the section of the first line.
        qsizetype at = work.size();
        for (qsizetype i = 1; i < work.size(); ++i)
            if (work.at(i).trimmed().startsWith(QLatin1Char('['))) {
                at = i;
                break;
            }
        work.insert(at, newLine);
    }

    QStringList out;
    for (const QString &l : std::as_const(work)) {
        if (plain || l.trimmed().isEmpty() || l.contains(QLatin1String("C_")))
            out.append(l);
        else
            out.append(cipher->EncryptStr(l, 0));
    }
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly))
        throw host::UserError(QStringLiteral("配置文件“%1”无法写入（%2），界面风格没有保存。")
                                  .arg(QDir::toNativeSeparators(path), save.errorString()));
    const QString eol = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    save.write((out.join(eol) + eol).toUtf8());
    if (!save.commit())
        throw host::UserError(QStringLiteral("配置文件“%1”无法写入（%2），界面风格没有保存。")
                                  .arg(QDir::toNativeSeparators(path), save.errorString()));
    return true;
}

void TfStyleSet::actSaveExecute()
{
    const int n = lstImg->currentRow() + 1;
    if (n < 1) {
        MSGWarningDialog(QStringLiteral("请先在左侧选择一种界面风格，再保存。"));
        return;
    }
    host::g_lstVars->setValue(QStringLiteral("BackSkin"), QString::number(n));
    SaveIniValue(QStringLiteral("BackSkin"), QString::number(n));
    if (MSGQuestionDialog(QStringLiteral("保存成功,是否现在重新登录？")))
        restartProgram();
}

void TfStyleSet::restartProgram()
{
    // The main window restarts as its own 重新登录 does (it remembers who was logged on,
    // so the log-on panel offers him again); without one, the script is run here.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->metaObject()->indexOfMethod("restartProgram()") < 0)
            continue;
        bool restarted = false;
        QMetaObject::invokeMethod(w, "restartProgram", Qt::DirectConnection,
                                  Q_RETURN_ARG(bool, restarted));
        Q_UNUSED(restarted); // a window that kept the program open told the user why
        return;
    }
    QString path = tessera::appPath() + QStringLiteral("ReStart") + scriptSuffix();
    if (!QFileInfo::exists(path))
        path = QDir::current().filePath(QStringLiteral("ReStart") + scriptSuffix());
    TDM_Func *dm = DM_Func();
    if (!QFileInfo::exists(path) || !dm->openScript || !dm->openScript(path)) {
        MSGErrorDialog(QStringLiteral("无法启动“%1”，程序将继续运行，新的界面风格在下次启动时生效。"
                                      "请联系系统管理员。")
                           .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (dm->terminate)
        dm->terminate(0);
}

void TfStyleSet::FormClose(bool &freeOnClose)
{
    TfDBBase::FormClose(freeOnClose);
    freeOnClose = true;
    TDM_Func *dm = DM_Func();
    if (dm->fStyleSet == this)
        dm->fStyleSet = nullptr;
    if (TModalFrame *f = frame()) {
        f->formClosed();
        f->deleteLater(); // and the dialog with it
    }
}

} // namespace tuner
