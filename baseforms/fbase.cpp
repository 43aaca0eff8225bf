#include "baseforms/fbase.h"

#include "baseforms/dbcontrols.h"
#include "baseforms/dbgrideh.h"
#include "baseforms/environment.h"
#include "baseforms/rzcontrols.h"
#include "baseforms/ucommessage.h"
#include "baseforms/uiconfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QToolButton>

namespace tessera {

namespace {

bool isExactly(const QObject *o, const QMetaObject &meta)
{
    return o->metaObject() == &meta;
}

// A flat single-line frame instead of the sunken 3-D one.
void makeFlat(QWidget *w)
{
    w->setProperty("BevelKind", QStringLiteral("Flat"));
    w->setProperty("BorderStyle", QStringLiteral("None"));
    if (auto *frame = qobject_cast<QFrame *>(w)) {
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Plain);
        frame->setLineWidth(1);
        return;
    }
    const char *cls = w->metaObject()->className();
    Q_UNUSED(cls);
    if (qobject_cast<QLineEdit *>(w))
        w->setStyleSheet(
            QStringLiteral("QLineEdit { border: 1px solid #a5acb5; padding: 0 2px; }"));
    else if (qobject_cast<QComboBox *>(w))
        w->setStyleSheet(
            QStringLiteral("QComboBox { border: 1px solid #a5acb5; padding: 0 2px; }"));
    else if (qobject_cast<QAbstractSpinBox *>(w))
        w->setStyleSheet(
            QStringLiteral("QAbstractSpinBox { border: 1px solid #a5acb5; padding: 0 2px; }"));
}

void setWindowColor(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::Button, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void setParentColor(QWidget *w)
{
    w->setProperty("ParentColor", true);
    w->setAutoFillBackground(false);
}

// A control `big`-sized when designed 50 high; `small`-sized and 23 high when 22 high.
void heightRule(QWidget *w, int big, int small)
{
    const int h = TfBase::designHeight(w);
    if (h == 50) {
        TfBase::setFontSize(w, big);
    } else if (h == 22) {
        TfBase::setFontSize(w, small);
        TfBase::setDesignHeight(w, 23);
    }
}

QList<TfBase *> &formRegistry()
{
    static QList<TfBase *> forms;
    return forms;
}

// Publishes the registry object once an application exists.
void publishRegistry()
{
    if (!qApp || qApp->property("TesseraForms").isValid())
        return;
    auto *registry = new TFormRegistry(qApp);
    registry->setObjectName(QStringLiteral("TesseraForms"));
    qApp->setProperty("TesseraForms", QVariant::fromValue<QObject *>(registry));
}

bool isMemo(const QWidget *w)
{
    return qobject_cast<const QPlainTextEdit *>(w) || qobject_cast<const QTextEdit *>(w);
}

} // namespace

TfBase::TfBase(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("fBase"));
    formRegistry().append(this);
    publishRegistry();
    setWindowTitle(QStringLiteral("_Basic Form"));
    resize(452, 339);
    setWindowColor(this, colorFromBgr(16250356));
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(9);
    setFont(f);
    // Key preview: the form sees key strokes before its controls.
    qApp->installEventFilter(this);
}

TfBase::~TfBase()
{
    formRegistry().removeOne(this);
    FormDestroy();
}

bool TfBase::CloseQuery()
{
    return true;
}

bool TfBase::CloseQueryAll()
{
    const QList<QPointer<TfBase>> forms(formRegistry().cbegin(), formRegistry().cend());
    for (const QPointer<TfBase> &f : forms)
        if (f && f->isCreated() && !f->CloseQuery())
            return false;
    return true;
}

QList<TfBase *> TfBase::openForms()
{
    return formRegistry();
}

void TfBase::create()
{
    if (m_created)
        return;
    m_created = true;
    FormCreate();
}

int TfBase::tag() const
{
    return tagOf(this);
}

void TfBase::setTag(int tag)
{
    tessera::setTag(this, tag);
}

QList<QObject *> TfBase::components() const
{
    QList<QObject *> list;
    list.reserve(m_components.size());
    for (const auto &c : m_components)
        if (c)
            list.append(c.data());
    return list;
}

QObject *TfBase::findComponent(const QString &name) const
{
    for (const auto &c : m_components)
        if (c && c->objectName() == name)
            return c.data();
    return nullptr;
}

QWidget *TfBase::GetActiveControl() const
{
    if (parentWidget())
        return QApplication::focusWidget();
    return focusWidget();
}

void TfBase::FormCreate()
{
    InitData();
}

void TfBase::FormShow() {}

void TfBase::FormClose(bool &) {}

void TfBase::FormDestroy() {}

void TfBase::InitData()
{
    m_initParams = applicationTagText();
    setWindowColor(this, colorFromBgr(UIConfig().MainFormColor));
    for (QObject *c : components())
        restyle(c);
}

void TfBase::restyle(QObject *c)
{
    TUIConfig &ui = UIConfig();
    auto *w = qobject_cast<QWidget *>(c);

    // 1. No input method is forced on a control.
    if (c->property("ImeName").isValid())
        c->setProperty("ImeName", QString());
    if (!w)
        return;

    // 2. Plain panels and group boxes take their parent's colour.
    if (isExactly(w, QFrame::staticMetaObject) || isExactly(w, QWidget::staticMetaObject) ||
        isExactly(w, QGroupBox::staticMetaObject))
        setParentColor(w);

    // 3. The first edit button of a data-aware edit opens with F4.
    if (auto *e = qobject_cast<TDBEditEh *>(w); e && !e->editButtons().isEmpty())
        e->editButtons().first()->setShortcut(QKeySequence(Qt::Key_F4));

    // 4. Raize panels and group boxes: border in the main back colour.
    if (qobject_cast<TRzCustomPanel *>(w) || qobject_cast<TRzGroupBox *>(w))
        InitRzPanel(w);

    // 5. Grids.
    if (auto *g = qobject_cast<TDBGridEh *>(w))
        InitDBGridEh(g);

    // 6. Raize group boxes: parent colour, centred caption.
    if (auto *gb = qobject_cast<TRzGroupBox *>(w)) {
        setParentColor(gb);
        gb->setAlignment(Qt::AlignHCenter);
    }

    // 7. Raize combo boxes.
    if (qobject_cast<TRzComboBox *>(w)) {
        makeFlat(w);
        heightRule(w, 32, 10);
    }

    // 8. Raize edits.
    if (qobject_cast<TRzEdit *>(w)) {
        makeFlat(w);
        heightRule(w, 30, 12);
    }

    // 9. Data-aware date-time edits.
    if (qobject_cast<TDBDateTimeEditEh *>(w)) {
        makeFlat(w);
        setFontSize(w, 10);
        setDesignHeight(w, 23);
    }

    // 10. Labels: left-justified, transparent.
    if (auto *l = qobject_cast<QLabel *>(w)) {
        l->setAlignment((l->alignment() & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft);
        l->setAutoFillBackground(false);
    }

    // 11, 12. Check boxes in the form colour.
    if (isExactly(w, QCheckBox::staticMetaObject) || qobject_cast<TRzCheckBox *>(w))
        setWindowColor(w, colorFromBgr(ui.MainFormColor));

    // 13. Memos: flat, no border.
    if (isMemo(w))
        makeFlat(w);

    // 14. Speed buttons: flat.
    if (auto *b = qobject_cast<QToolButton *>(w); b && isExactly(w, QToolButton::staticMetaObject))
        b->setAutoRaise(true);

    // 15. Plain edits.
    if (isExactly(w, QLineEdit::staticMetaObject)) {
        makeFlat(w);
        heightRule(w, 30, 13);
    }

    // 16. Plain combo boxes.
    if (isExactly(w, QComboBox::staticMetaObject)) {
        makeFlat(w);
        const int h = designHeight(w);
        if (h == 22) {
            setFontSize(w, 10);
            setDesignHeight(w, 23);
        } else if (h == 48 || h == 50) {
            setFontSize(w, 32);
        }
    }

    // 19, 20. Size panels and plain Raize panels.
    if (qobject_cast<TRzSizePanel *>(w))
        setParentColor(w);
    if (auto *p = qobject_cast<TRzPanel *>(w)) {
        setParentColor(p);
        p->setBorderColor(colorFromBgr(0xF0CAA6));
    }
}

void TfBase::InitRzPanel(QWidget *panel)
{
    const QColor c = colorFromBgr(UIConfig().MainBackColor);
    if (auto *p = qobject_cast<TRzCustomPanel *>(panel))
        p->setBorderColor(c);
    else if (auto *g = qobject_cast<TRzGroupBox *>(panel))
        g->setBorderColor(c);
}

void TfBase::InitDBGridEh(TDBGridEh *grid)
{
    grid->applyStandardStyle(UIConfig());
}

bool TfBase::FormKeyDown(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    QWidget *active = GetActiveControl();
    if (!active || !isAncestorOf(active))
        return false;
    for (QWidget *w = active; w && w != this; w = w->parentWidget()) {
        // A grid keeps Enter (its cell editors too), so does every multi-line editor.
        if (qobject_cast<TDBGridEh *>(w) || isMemo(w))
            return false;
    }
    if (tagOf(active) != 0 || active->property("WantsReturn").toBool())
        return false;
    focusNextChild();
    return true;
}

void TfBase::showEvent(QShowEvent *event)
{
    if (!m_created)
        create();
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfBase::closeEvent(QCloseEvent *event)
{
    if (!CloseQuery()) {
        event->ignore();
        return;
    }
    bool freeOnClose = testAttribute(Qt::WA_DeleteOnClose);
    FormClose(freeOnClose);
    setAttribute(Qt::WA_DeleteOnClose, freeOnClose);
    QWidget::closeEvent(event);
}

bool TfBase::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        if (w == this || isAncestorOf(w)) {
            auto *ke = static_cast<QKeyEvent *>(event);
            // Only the first delivery of a key counts (the focus widget), not its
            // propagation to the parents.
            if (w == QApplication::focusWidget() || w == focusWidget())
                if (FormKeyDown(ke))
                    return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfBase::MSGHintDialog(const QString &msg, const QString &detail)
{
    HintDialog(msg, detail);
}

void TfBase::MSGWarningDialog(const QString &msg, const QString &detail)
{
    WarningDialog(msg, detail);
}

void TfBase::MSGErrorDialog(const QString &msg, const QString &detail)
{
    ErrorDialog(msg, detail);
}

bool TfBase::MSGQuestionDialog(const QString &msg)
{
    return QuestionDialog(msg);
}

void TfBase::setDesignHeight(QWidget *w, int height)
{
    w->setFixedHeight(height);
}

int TfBase::designHeight(const QWidget *w)
{
    if (w->minimumHeight() == w->maximumHeight() && w->minimumHeight() > 0)
        return w->minimumHeight();
    return w->height();
}

void TfBase::setFontSize(QWidget *w, int pointSize)
{
    QFont f = w->font();
    f.setPointSize(pointSize);
    w->setFont(f);
}

} // namespace tessera
