#include "modules/tuner/fdencrypt.h"

#include "host/errordisplay.h"
#include "host/errors.h"
#include "host/uintf.h"
#include "modules/framework/funcs.h"
#include "modules/tuner/modalframe.h"

#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace tuner {

TfDEncrypt::TfDEncrypt(QWidget *parent)
    : TfBase(parent)
{
    setObjectName(QStringLiteral("fDEncrypt"));
    setWindowTitle(QStringLiteral("加密OR解密"));
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    auto *lblSource = addComponent(new QLabel(QStringLiteral("原文（每行一条，空行跳过）："), this),
                                   QStringLiteral("lblSource"));
    auto *lblResult = addComponent(new QLabel(QStringLiteral("结果："), this), QStringLiteral("lblResult"));
    mmoSource = addComponent(new QPlainTextEdit(this), QStringLiteral("mmoSource"));
    mmoResult = addComponent(new QPlainTextEdit(this), QStringLiteral("mmoResult"));
    for (QPlainTextEdit *m : {mmoSource, mmoResult}) {
        m->setLineWrapMode(QPlainTextEdit::NoWrap);
        m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    mmoResult->setPlainText(QString()); // one empty line
    btnEncrypt = addComponent(new QPushButton(QStringLiteral("加密"), this), QStringLiteral("btnEncrypt"));
    btnDecrypt = addComponent(new QPushButton(QStringLiteral("解密"), this), QStringLiteral("btnDecrypt"));
    btnEncrypt->setToolTip(QStringLiteral("把原文的每一行加密后写入结果"));
    btnDecrypt->setToolTip(QStringLiteral("把原文的每一行解密后写入结果"));
    grid->addWidget(lblSource, 0, 0, 1, 2);
    grid->addWidget(mmoSource, 1, 0, 1, 2);
    grid->addWidget(btnEncrypt, 2, 0);
    grid->addWidget(btnDecrypt, 2, 1);
    grid->addWidget(lblResult, 3, 0, 1, 2);
    grid->addWidget(mmoResult, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setRowStretch(4, 1);

    connect(btnEncrypt, &QPushButton::clicked, this, [this] { host::guarded([this] { btnEncryptClick(); }); });
    connect(btnDecrypt, &QPushButton::clicked, this, [this] { host::guarded([this] { btnDecryptClick(); }); });

    new TModalFrame(this, windowTitle(), QSize(560, 460), true);
}

TfDEncrypt::~TfDEncrypt() = default;

TModalFrame *TfDEncrypt::frame() const
{
    return TModalFrame::of(this);
}

int TfDEncrypt::ShowModal()
{
    return frame()->showModal();
}

void TfDEncrypt::FormClose(bool &freeOnClose)
{
    TfBase::FormClose(freeOnClose);
    // Kept for the next call: closing only hides it.
    freeOnClose = false;
    if (TModalFrame *f = frame())
        f->formClosed();
}

// Each non-blank line, with its own blanks, goes through the host's cipher; the results
// are shown as they come, so an error leaves the earlier ones in place.
void TfDEncrypt::run(bool encrypt)
{
    const QString source = mmoSource->toPlainText();
    if (source.trimmed().isEmpty())
        return; // the output keeps what it shows
    host::IFuncObj *f = framework::FuncObj();
    mmoResult->clear();
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = source.split(breaks);
    QStringList done;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        try {
            done.append(encrypt ? f->EncryptStr(line, 0) : f->DecryptStr(line, 0));
        } catch (const host::UserError &e) {
            mmoResult->setPlainText(done.join(QLatin1Char('\n')));
            throw host::UserError(
                QStringLiteral("第 %1 行无法%2：%3\n前面已转换的 %4 行保留在结果中。请检查该行是否完整、"
                               "是否用本系统的密钥加密，改正后再试。")
                    .arg(i + 1)
                    .arg(encrypt ? QStringLiteral("加密") : QStringLiteral("解密"), e.message())
                    .arg(done.size()));
        } catch (...) {
            mmoResult->setPlainText(done.join(QLatin1Char('\n')));
            throw;
        }
    }
    mmoResult->setPlainText(done.join(QLatin1Char('\n')));
}

void TfDEncrypt::btnEncryptClick()
{
    run(true);
}

void TfDEncrypt::btnDecryptClick()
{
    run(false);
}

} // namespace tuner
