#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace tessera {

class TDBGridEh;
class TRzCustomPanel;
class TRzGroupBox;

// The root of every module window. Creation walks over the components that the form owns
// and gives them one look (colours, flat edits, uniform heights and font sizes, grid
// options and footer sums); Enter moves to the next control; the four message dialogs are
// offered as methods.
//
// Two-phase creation: a descendant builds its components in its constructor, registering
// each with addComponent(); then FormCreate() runs (virtual, so descendants see their own
// overrides). Use createForm<T>() or call create() after constructing; a form shown before
// it was created runs create() from its first show.
class TfBase : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString InitParams READ InitParams WRITE setInitParams)

public:
    explicit TfBase(QWidget *parent = nullptr);
    ~TfBase() override;

    // Runs FormCreate once.
    void create();
    bool isCreated() const { return m_created; }

    QString InitParams() const { return m_initParams; }
    void setInitParams(const QString &params) { m_initParams = params; }

    int tag() const;
    void setTag(int tag);

    // The components the form owns, in the order they were added: the form's own declared
    // components, not the internal children Qt makes. Deleted components drop out.
    QList<QObject *> components() const;
    int ComponentCount() const { return int(components().size()); }
    // Registers `component` as owned by the form (its QObject parent stays as given) and
    // gives it `name` as objectName when one is passed. Returns it.
    template<class T> T *addComponent(T *component, const QString &name = {})
    {
        if (!name.isEmpty())
            component->setObjectName(name);
        m_components.append(component);
        return component;
    }
    // The owned component of that objectName, or nullptr.
    QObject *findComponent(const QString &name) const;

    // Asked before the window closes (and by CloseQueryAll before the program ends): true
    // when it may close now. A window with changes that are not saved yet asks the user to
    // save, discard or stay. Callable by name (QMetaObject::invokeMethod) from code that
    // does not link Tessera.
    Q_INVOKABLE virtual bool CloseQuery();
    // Asks every open window in the order they were made; false as soon as one wants to
    // stay (the windows asked before it have saved or discarded their changes).
    static bool CloseQueryAll();
    // Every form that exists, in the order they were made.
    static QList<TfBase *> openForms();

    // The focused control of this window: the application's focus widget when the form is
    // embedded in another window, else the form's own.
    QWidget *GetActiveControl() const;

    // Restyles one grid (also for grids that descendants create later).
    void InitDBGridEh(TDBGridEh *grid);
    // Border colour of a panel or group box := the main back colour.
    void InitRzPanel(QWidget *panel);

    void MSGHintDialog(const QString &msg, const QString &detail = {});
    void MSGWarningDialog(const QString &msg, const QString &detail = {});
    void MSGErrorDialog(const QString &msg, const QString &detail = {});
    bool MSGQuestionDialog(const QString &msg);

    // Sets the design height of a control (fixed height, so layouts keep it).
    static void setDesignHeight(QWidget *w, int height);
    // The design height: the fixed height if there is one, else the current height.
    static int designHeight(const QWidget *w);
    static void setFontSize(QWidget *w, int pointSize);

protected:
    // The create event: runs InitData. Descendants call the inherited one first.
    virtual void FormCreate();
    virtual void FormShow();
    // `freeOnClose` stands for the close action: set it to let the form be destroyed.
    virtual void FormClose(bool &freeOnClose);
    virtual void FormDestroy();
    // Enter moves on; returns true when the key was taken.
    virtual bool FormKeyDown(QKeyEvent *event);
    // Start parameters, form colour and the restyling walk. Descendants call the inherited
    // one first.
    virtual void InitData();

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restyle(QObject *component);

    bool m_created = false;
    QString m_initParams;
    QList<QPointer<QObject>> m_components;
};

// The forms of the process as one object that code without a link to Tessera reaches by
// name: the application's dynamic property "TesseraForms" holds it from the first form on.
//   QObject *forms = qApp->property("TesseraForms").value<QObject *>();
//   bool mayQuit = true;
//   if (forms) QMetaObject::invokeMethod(forms, "CloseQueryAll", Q_RETURN_ARG(bool, mayQuit));
class TFormRegistry : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE bool CloseQueryAll() { return TfBase::CloseQueryAll(); }
};

// Makes a form and runs its create event.
template<class T, class... Args> T *createForm(Args &&...args)
{
    T *form = new T(std::forward<Args>(args)...);
    form->create();
    return form;
}

} // namespace tessera
