#include "tests/tour/tour.h"

#include "baseforms/fdbbase.h"
#include "baseforms/gridchart.h"
#include "baseforms/report.h"
#include "host/dialogpresenter.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "shell/fclient.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace tour {

namespace {

const char *kindName(host::MessageKind k)
{
    switch (k) {
    case host::MessageKind::Information:
        return "提示";
    case host::MessageKind::Warning:
        return "警告";
    case host::MessageKind::Error:
        return "错误";
    case host::MessageKind::Question:
        return "询问";
    }
    return "";
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    bool ok = true;
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::remove(target);
        ok = QFile::copy(file, target) && ok;
    }
    return ok;
}

// The tool button of `action` on a data form's tool bar, if the form shows one.
bool onToolBar(const tessera::TfDBBase *form, const QAction *action)
{
    const auto buttons = form->findChildren<QToolButton *>();
    for (const QToolButton *b : buttons)
        if (b->defaultAction() == action && !b->isHidden())
            return true;
    return false;
}

// The base-form rule in a window as the tour finds it: every action that is not offered
// (no visible button, no other way) is off and does nothing, whether by its shortcut, a
// trigger or the form's dispatch; and the shortcuts of offered, enabled actions do act, so
// that the check is not passed by shortcuts that never reach the window.
void checkHiddenActions(QWidget *client, tessera::TfDBBase *form, QStringList &problems,
                        QString &outcome)
{
    QApplication::setActiveWindow(client);
    QWidget *focus = form->findChild<QTableView *>();
    if (!focus || !focus->isVisible())
        focus = form;
    focus->setFocus();
    QCoreApplication::processEvents();
    form->updateActions();
    int hidden = 0, keysActing = 0;
    for (QAction *a : form->actions()) {
        const bool offered = form->isOffered(a);
        const bool enabled = a->isEnabled();
        if (!offered && enabled)
            problems << QStringLiteral("隐藏的“%1”（%2）仍然可用").arg(a->text(), a->objectName());
        if (offered && (!enabled || a->shortcut().isEmpty()))
            continue;
        const auto original = form->executeHandler(a);
        bool fired = false;
        form->setExecuteHandler(a, [&fired] { fired = true; });
        if (!a->shortcut().isEmpty() && focus->isVisible())
            QTest::keySequence(focus, a->shortcut());
        if (!offered) {
            ++hidden;
            a->trigger();
            form->executeAction(a);
            if (fired)
                problems << QStringLiteral("隐藏的“%1”（%2）被快捷键或触发执行了")
                                .arg(a->text(), a->objectName());
        } else if (fired) {
            ++keysActing;
        }
        form->setExecuteHandler(a, original);
    }
    outcome += QStringLiteral("隐藏动作%1个均不可用，快捷键生效%2个 ").arg(hidden).arg(keysActing);
}

} // namespace

// Records every message; questions are answered "no" (nothing is deleted or discarded by
// the tour); dialogs are shown for a moment, handed to the current check, then rejected.
struct Tour::Presenter : host::ScriptedPresenter
{
    host::Answer showMessage(host::MessageKind kind, const QString &caption, const QString &text,
                             host::QuestionButtons buttons) override
    {
        ScriptedPresenter::showMessage(kind, caption, text, buttons);
        return kind == host::MessageKind::Question ? host::Answer::No : host::Answer::Ok;
    }
    int execDialog(QWidget *dialog) override
    {
        dialogsShown.append(dialog);
        names.append(dialog->objectName());
        dialog->show();
        QCoreApplication::processEvents();
        if (onWindow)
            onWindow(dialog->windowTitle(), dialog);
        if (check)
            check(dialog);
        // A data form shown as a dialog (界面风格) follows the base-form rule as a page does.
        auto *form = qobject_cast<tessera::TfDBBase *>(dialog);
        if (!form)
            form = dialog->findChild<tessera::TfDBBase *>();
        if (form && !checkingForm) {
            checkingForm = true;
            checkHiddenActions(dialog, form, formProblems, formOutcome);
            checkingForm = false;
        }
        dialog->hide();
        return 0; // rejected
    }
    QStringList names;
    // What the checks of dialogs' data forms found since the current step began.
    QStringList formProblems;
    QString formOutcome;
    bool checkingForm = false;
    std::function<void(const QString &, QWidget *)> onWindow;
    std::function<void(QWidget *)> check;
};

Tour::Tour(const Options &options)
    : m_opt(options)
{
    auto p = std::make_unique<Presenter>();
    m_presenter = p.get();
    m_presenter->onWindow = [this](const QString &title, QWidget *w) {
        if (m_opt.onWindow)
            m_opt.onWindow(QStringLiteral("对话框-") + title, w);
    };
    host::setDialogPresenter(std::move(p));
}

Tour::~Tour()
{
    m_client.reset();
    host::setDialogPresenter(nullptr);
}

QString Tour::siteOf(const QString &user)
{
    static const QMap<QString, QString> sites = {{QStringLiteral("dk"), QStringLiteral("000")},
                                                 {QStringLiteral("001.admin"), QStringLiteral("000")},
                                                 {QStringLiteral("001.li"), QStringLiteral("100")},
                                                 {QStringLiteral("001.zhang"), QStringLiteral("101")},
                                                 {QStringLiteral("001.wang"), QStringLiteral("201")}};
    return sites.value(user, QStringLiteral("101"));
}

void Tour::settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

bool Tour::wanted(const QString &function) const
{
    if (m_opt.only.isEmpty())
        return true;
    for (const QString &f : m_opt.only)
        if (f.compare(function, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool Tour::logOn()
{
    const QString dir = m_opt.programDir;
    QDir().mkpath(dir);
    for (const char *part : {"_report", "_jpg"})
        copyTree(m_opt.deployDir + u'/' + QLatin1String(part), dir + u'/' + QLatin1String(part));
    QFile::remove(dir + QStringLiteral("/ShowMsg.ini"));
    QFile::copy(m_opt.deployDir + QStringLiteral("/ShowMsg.ini"), dir + QStringLiteral("/ShowMsg.ini"));
    QFile config(dir + QStringLiteral("/tour.ini"));
    if (!config.open(QIODevice::WriteOnly)) {
        m_problems << QStringLiteral("cannot write %1").arg(config.fileName());
        return false;
    }
    config.write(QStringLiteral("[Config]\r\napptitle=Waylink 快递物流管理系统\r\nSysType=1\r\n"
                                "BackSkin=1\r\nSvrLst=巡检服务器\r\n巡检服务器=%1\r\n"
                                "StartMenu=px_Lobby.fStart\r\nNotifyInterval=0\r\n"
                                "app_Ver=版本 1.0.0\r\nCloseFlag=0\r\nShowNotiFy=0\r\n")
                     .arg(m_opt.server)
                     .toUtf8());
    config.close();

    shell::TfClient::Options o;
    o.exeDir = dir;
    o.configName = QStringLiteral("tour");
    o.reportProblems = false;
    o.terminate = [](int) {};
    o.openScript = [](const QString &) { return false; };
    m_client = std::make_unique<shell::TfClient>(o);
    m_client->resize(m_opt.windowSize);
    m_client->move(0, 0);
    m_client->show();
    settle();
    if (m_opt.onWindow)
        m_opt.onWindow(QStringLiteral("登录"), m_client.get());
    m_client->edtSite->setText(siteOf(m_opt.user));
    m_client->edtUser->setText(m_opt.user);
    m_client->edtPwd->setText(m_opt.password);
    m_client->cboServer->setCurrentIndex(0);
    m_client->cboOffLine->setCurrentText(QStringLiteral("否"));
    const int before = int(m_presenter->shown.size());
    m_client->RzBtnLogInClick();
    settle();
    if (m_client->state() != shell::TfClient::State::Working) {
        QString why;
        for (int i = before; i < m_presenter->shown.size(); ++i)
            why += m_presenter->shown[i].text + u' ';
        m_problems << QStringLiteral("%1 登录失败：%2").arg(m_opt.user, why);
        return false;
    }
    for (int i = before; i < m_presenter->shown.size(); ++i) {
        const auto &m = m_presenter->shown[i];
        if (m.kind == host::MessageKind::Error || m.kind == host::MessageKind::Warning)
            m_problems << QStringLiteral("登录时出现%1：%2").arg(QString::fromUtf8(kindName(m.kind)), m.text);
    }
    return true;
}

QList<Step> Tour::run()
{
    QList<Step> steps;
    shell::TfClient &c = *m_client;
    QTabWidget *tabs = c.RzPgeCtrl;

    // Start-page shortcuts first, while the start page is open.
    QList<QPair<QString, QString>> shortcuts;
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->objectName() != QLatin1String("fStart"))
            continue;
        if (m_opt.onWindow)
            m_opt.onWindow(QStringLiteral("起始页"), &c);
        for (QPushButton *b : tabs->widget(i)->findChildren<QPushButton *>())
            if (!b->property("hint").toString().isEmpty())
                shortcuts.append({b->text(), b->property("hint").toString()});
    }
    for (const auto &sc : std::as_const(shortcuts)) {
        if (!wanted(sc.second))
            continue;
        Step step{QStringLiteral("起始页"), sc.first, sc.second};
        visit(step, [&] {
            for (int i = 0; i < tabs->count(); ++i) {
                if (tabs->widget(i)->objectName() != QLatin1String("fStart"))
                    continue;
                for (QPushButton *b : tabs->widget(i)->findChildren<QPushButton *>())
                    if (b->property("hint").toString() == sc.second && b->text() == sc.first) {
                        b->click();
                        return;
                    }
            }
        });
        steps << step;
    }

    // Module menus: every entry with a function, as the user's menu offers it.
    struct Entry
    {
        int button;
        QString posid, caption, function;
        bool header;
    };
    QList<Entry> entries;
    for (const shell::TmItem &it : c.ippMenu()) {
        const QString pos = it.mPOSID.trimmed();
        if (pos == QLatin1String("@"))
            continue;
        const bool header = pos.mid(3, 8) == QLatin1String(".000.000");
        if (it.mFunc.trimmed().isEmpty())
            continue;
        entries.append({header ? it.mCltID + 1 : it.mCltID, it.mPOSID, it.mName, it.mFunc, header});
    }
    for (const Entry &e : std::as_const(entries)) {
        if (!wanted(e.function))
            continue;
        Step step{QStringLiteral("菜单"), e.caption, e.function};
        visit(step, [&] {
            if (e.header) {
                c.ShowPPMenu(c.ppSys, e.button);
                return;
            }
            QMenu *menu = c.BuildModuleMenu(e.button);
            for (QAction *a : menu->findChildren<QAction *>()) {
                if (a->objectName() == e.posid) {
                    if (!a->isEnabled())
                        step.problems << QStringLiteral("菜单项不可用");
                    else
                        a->trigger();
                    return;
                }
            }
            step.problems << QStringLiteral("菜单中没有这一项");
        });
        steps << step;
    }

    // System menu: every visible item but those that end or restart the program.
    static const QStringList programLevel = {QStringLiteral("MIRLogOn"), QStringLiteral("MIClose"),
                                             QStringLiteral("MIChkNew")};
    for (QAction *item : c.ppSys->actions()) {
        if (item->isSeparator() || !item->isVisible() || programLevel.contains(item->objectName()))
            continue;
        QString function;
        for (QAction *a : c.actlsts)
            if (a->text() == item->text())
                function = a->property("hint").toString();
        if (!wanted(function))
            continue;
        Step step{QStringLiteral("系统"), item->text(), function};
        visit(step, [item] { item->trigger(); });
        steps << step;
    }
    return steps;
}

void Tour::visit(Step &step, const std::function<void()> &click)
{
    QTabWidget *tabs = m_client->RzPgeCtrl;
    const int messagesBefore = int(m_presenter->shown.size());
    const int dialogsBefore = int(m_presenter->names.size());
    QList<QWidget *> pagesBefore;
    for (int i = 0; i < tabs->count(); ++i)
        pagesBefore << tabs->widget(i);
    const auto topBefore = QApplication::topLevelWidgets();

    m_presenter->formProblems.clear();
    m_presenter->formOutcome.clear();
    click();
    settle();
    step.problems += m_presenter->formProblems;
    step.outcome += m_presenter->formOutcome;

    const QString module = step.function.section(u'.', 0, 0);
    const bool missing = host::ModuleService::instance().findModuleFile(module).isEmpty();
    if (missing && m_opt.knownMissing.contains(module)) {
        step.skipped = true;
        step.outcome = QStringLiteral("模块尚未提供：") + m_opt.knownMissing.value(module);
        step.problems.clear();
        return;
    }
    const QString knownFunction = [&] {
        for (auto it = m_opt.knownMissing.cbegin(); it != m_opt.knownMissing.cend(); ++it)
            if (it.key().compare(step.function, Qt::CaseInsensitive) == 0)
                return it.value();
        return QString();
    }();
    for (int i = messagesBefore; i < m_presenter->shown.size(); ++i) {
        const auto &m = m_presenter->shown[i];
        if (m.kind == host::MessageKind::Error || m.kind == host::MessageKind::Warning)
            step.problems << QStringLiteral("%1对话框：%2").arg(QString::fromUtf8(kindName(m.kind)), m.text);
        else
            step.outcome += QStringLiteral("[%1] %2 ").arg(QString::fromUtf8(kindName(m.kind)), m.text);
    }

    QWidget *page = tabs->count() > 0 ? tabs->currentWidget() : nullptr;
    const bool newPage = page && !pagesBefore.contains(page);
    const bool broughtToFront = page && tabs->isVisible()
                                && tabs->tabText(tabs->currentIndex()) == step.caption;
    const bool dialog = m_presenter->names.size() > dialogsBefore;
    bool newWindow = false;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && !topBefore.contains(w) && w != m_client.get())
            newWindow = true;
    if (newPage || broughtToFront) {
        step.outcome += QStringLiteral("页面“%1” ").arg(tabs->tabText(tabs->currentIndex()));
        if (m_opt.onWindow)
            m_opt.onWindow(step.kind + u'-' + step.caption, m_client.get());
        exerciseWindow(step, page);
        if (newPage) {
            const int index = tabs->indexOf(page);
            if (index >= 0)
                emit tabs->tabCloseRequested(index);
            settle();
        }
    } else if (dialog) {
        step.outcome += QStringLiteral("对话框 %1 ").arg(m_presenter->names.mid(dialogsBefore).join(u','));
    } else if (newWindow) {
        step.outcome += QStringLiteral("新窗口 ");
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && !topBefore.contains(w) && w != m_client.get()) {
                if (m_opt.onWindow)
                    m_opt.onWindow(step.kind + u'-' + step.caption, w);
                w->close();
            }
    } else if (!knownFunction.isEmpty()) {
        step.skipped = true;
        step.outcome = QStringLiteral("功能尚未提供：") + knownFunction;
        step.problems.clear();
    } else if (step.problems.isEmpty()) {
        step.problems << QStringLiteral("没有打开任何窗口");
    }
}

void Tour::exerciseWindow(Step &step, QWidget *page)
{
    auto *form = qobject_cast<tessera::TfDBBase *>(page);
    if (!form)
        return;
    auto errorsSince = [this](int from, const QString &what, Step &s) {
        for (int i = from; i < m_presenter->shown.size(); ++i) {
            const auto &m = m_presenter->shown[i];
            s.problems << QStringLiteral("%1时出现%2：%3").arg(what, QString::fromUtf8(kindName(m.kind)), m.text);
        }
    };
    auto run = [&](QAction *action) {
        form->updateActions();
        if (!onToolBar(form, action) || !action->isEnabled())
            return false;
        form->executeAction(action);
        settle();
        return true;
    };

    int from = int(m_presenter->shown.size());
    if (run(form->actQuery)) {
        errorsSince(from, QStringLiteral("查询"), step);
        if (m_opt.onWindow)
            m_opt.onWindow(step.kind + u'-' + step.caption + QStringLiteral("-查询结果"), m_client.get());
    }

    form->updateActions();
    if (onToolBar(form, form->actPrint) && !form->actPrint->isEnabled())
        step.outcome += QStringLiteral("打印未启用（没有数据） ");
    bool previewed = false;
    m_presenter->check = [&](QWidget *dialog) {
        if (dialog->objectName() != QLatin1String("frxPreview"))
            return;
        previewed = true;
        auto *report = form->findChild<tessera::TfrxReport *>();
        if (!report) {
            step.problems << QStringLiteral("打印：窗口没有报表");
            return;
        }
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        if (!report->exportToPdf(pdf) || QFileInfo(pdf).size() < 1000)
            step.problems << QStringLiteral("打印：PDF 没有生成");
        if (report->toHtml().count(QStringLiteral("<tr>")) < 2)
            step.problems << QStringLiteral("打印：报表没有数据行");
    };
    from = int(m_presenter->shown.size());
    if (run(form->actPrint)) {
        errorsSince(from, QStringLiteral("打印"), step);
        if (!previewed)
            step.problems << QStringLiteral("打印没有打开预览");
        else
            step.outcome += QStringLiteral("打印预览 ");
    }

    bool charted = false;
    m_presenter->check = [&](QWidget *dialog) {
        auto *chart = qobject_cast<tessera::TfChart *>(dialog);
        if (!chart)
            return;
        charted = true;
        if (chart->groups().isEmpty())
            step.problems << QStringLiteral("图表：没有分组");
    };
    from = int(m_presenter->shown.size());
    if (run(form->actChart)) {
        errorsSince(from, QStringLiteral("图表"), step);
        if (!charted)
            step.problems << QStringLiteral("图表没有打开");
        else
            step.outcome += QStringLiteral("图表 ");
    }
    m_presenter->check = nullptr;

    checkHiddenActions(m_client.get(), form, step.problems, step.outcome);
}

} // namespace tour
