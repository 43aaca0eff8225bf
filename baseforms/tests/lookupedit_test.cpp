#include "baseforms/fbase.h"
#include "baseforms/fdbbase.h"
#include "baseforms/fdblookupdlg.h"
#include "baseforms/mydbxedit.h"
#include "baseforms/myqdbxedit.h"
#include "host/errors.h"
#include "lookuptestenv.h"

#include <QDialog>
#include <QGridLayout>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

using namespace tessera;
using quillon::FieldType;

namespace {

class LookupEditTest : public lookuptest::Env
{
};

// A window with a lookup edit between two plain edits.
class EditForm : public TfBase
{
public:
    explicit EditForm(TMyDBXEdit *lookupEdit)
    {
        auto *l = new QVBoxLayout(this);
        before = addComponent(new QLineEdit(this), QStringLiteral("edtBefore"));
        edit = addComponent(lookupEdit, QStringLiteral("edtLookup"));
        lookupEdit->setParent(this);
        after = addComponent(new QLineEdit(this), QStringLiteral("edtAfter"));
        l->addWidget(before);
        l->addWidget(edit);
        l->addWidget(after);
    }
    QLineEdit *before;
    TMyDBXEdit *edit;
    QLineEdit *after;
};

std::unique_ptr<quillon::TMyDataSet> lookupData(FieldType codeType = FieldType::String)
{
    const bool numeric = codeType != FieldType::String;
    auto code = [&](int n) { return numeric ? QVariant(n) : QVariant(QString::number(n)); };
    return testdata::dataSet({{QStringLiteral("CODE"), codeType, numeric ? 0 : 10},
                              {QStringLiteral("NAME"), FieldType::String, 20},
                              {QStringLiteral("ASSISTCODE"), FieldType::String, 10}},
                             {{code(1), QStringLiteral("Abc"), QStringLiteral("q1")},
                              {code(2), QStringLiteral("xab"), QStringLiteral("q2")},
                              {code(3), QStringLiteral("AB"), QStringLiteral("q3")},
                              {code(12), QStringLiteral("十二号站"), QStringLiteral("SEZ")},
                              {code(-999), QStringLiteral("未知站"), QStringLiteral("WZ")}});
}

TMyDBXEdit *configure(TMyDBXEdit *e, quillon::TMyDataSet *ds)
{
    e->SetMSD_Caption(QStringLiteral("网点"));
    e->SetMSD_LookupCds(ds);
    e->SetMSD_CodeField(QStringLiteral("CODE"));
    e->SetMSD_NameField(QStringLiteral("NAME"));
    e->SetMSD_FieldList(QStringLiteral("CODE,编码,80;NAME,名称"));
    return e;
}

// Sends the cancel mode of a data form's action; true when the edit accepted.
bool cancelMode(QWidget *w)
{
    CancelModeEvent e;
    QCoreApplication::sendEvent(w, &e);
    return !e.refused();
}

std::unique_ptr<quillon::TMyDataSet> manyRecords(int count)
{
    QList<QVariantList> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows.append({QStringLiteral("C%1").arg(i, 6, 10, QLatin1Char('0')),
                     QStringLiteral("站点%1").arg(i)});
    return testdata::dataSet({{QStringLiteral("CODE"), FieldType::String, 10},
                              {QStringLiteral("NAME"), FieldType::String, 20}},
                             rows);
}

} // namespace

TEST_F(LookupEditTest, TypingListsExactMatchesFirstAndEnterTakesTheRowWithoutMovingOn)
{
    auto ds = lookupData();
    auto *edit = configure(new TMyDBXEdit, ds.get());
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    // The window's lookup boxes are drawn large (13 points); the list reads like the window.
    TfBase::setFontSize(edit, 13);
    lookuptest::showActive(form.get());
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab"));
    ASSERT_TRUE(edit->listVisible());
    EXPECT_EQ(edit->listNames(),
              (QStringList{QStringLiteral("AB"), QStringLiteral("Abc"), QStringLiteral("xab")}));
    EXPECT_TRUE(edit->dataList()->isVisible());
    EXPECT_EQ(edit->dataList()->font().pointSize(), form->font().pointSize());
    EXPECT_NE(edit->dataList()->font().pointSize(), 13);
    EXPECT_EQ(ds->IndexFieldNames(), QStringLiteral("CODE"));

    QTest::keyClick(edit, Qt::Key_Down); // moves in the list, not in the form
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(edit->listVisible());
    EXPECT_EQ(edit->text(), QStringLiteral("Abc"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsString(), QStringLiteral("1"));
    EXPECT_TRUE(edit->hasFocus());

    // With the list closed, Enter moves on as in every window.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(form->after->hasFocus());

    // Esc closes the list without taking a row; a text matching nothing hides it.
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("x"));
    ASSERT_TRUE(edit->listVisible());
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(edit->listVisible());
    EXPECT_EQ(edit->text(), QStringLiteral("x"));
    QTest::keyClick(edit, Qt::Key_Down); // Down opens it again
    EXPECT_TRUE(edit->listVisible());
    QTest::keyClicks(edit, QStringLiteral("zzz"));
    EXPECT_FALSE(edit->listVisible());

    // A click on a row takes it.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("ab"));
    ASSERT_TRUE(edit->listVisible());
    QTableView *list = edit->dataList();
    const QModelIndex third = list->model()->index(2, 1); // the NAME column of "xab"
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(third).center());
    EXPECT_FALSE(edit->listVisible());
    EXPECT_EQ(edit->text(), QStringLiteral("xab"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsString(), QStringLiteral("2"));
    EXPECT_TRUE(shownTexts().isEmpty());
}

TEST_F(LookupEditTest, CheckFindsNameCodeOrAssistCodeAndRefusesTheRest)
{
    struct Case
    {
        FieldType codeType;
        QString typed;
        bool validate;
        bool accepted;
        QString textAfter;
        QString codeAfter; // the lookup record the check leaves current
    };
    const QList<Case> cases{
        {FieldType::String, QStringLiteral(" AB \n"), true, true, QStringLiteral("AB"),
         QStringLiteral("3")},
        {FieldType::String, QStringLiteral("2"), true, true, QStringLiteral("xab"),
         QStringLiteral("2")},
        {FieldType::String, QStringLiteral("sez"), true, true, QStringLiteral("十二号站"),
         QStringLiteral("12")},
        {FieldType::Integer, QStringLiteral("12"), true, true, QStringLiteral("十二号站"),
         QStringLiteral("12")},
        // A text that is no number tries the code -999.
        {FieldType::Integer, QStringLiteral("无此站"), true, true, QStringLiteral("未知站"),
         QStringLiteral("-999")},
        {FieldType::Float, QStringLiteral("3"), true, true, QStringLiteral("AB"),
         QStringLiteral("3")},
        {FieldType::String, QStringLiteral("ab"), true, false, QStringLiteral("ab"), QString()},
        {FieldType::String, QStringLiteral("ab"), false, true, QStringLiteral("ab"), QString()},
        {FieldType::String, QStringLiteral("   "), true, true, QString(), QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        presenter->shown.clear();
        auto ds = lookupData(c.codeType);
        auto *edit = configure(new TMyDBXEdit, ds.get());
        edit->SetMSD_Validate(c.validate);
        std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
        lookuptest::showActive(form.get());
        edit->setFocus();
        edit->setText(c.typed);
        edit->setModified(true);
        ds->Last();
        EXPECT_EQ(cancelMode(edit), c.accepted);
        EXPECT_EQ(edit->text(), c.textAfter);
        if (!c.codeAfter.isEmpty()) {
            EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsString(), c.codeAfter);
        }
        if (c.accepted) {
            EXPECT_TRUE(presenter->shown.isEmpty());
        } else {
            ASSERT_EQ(presenter->shown.size(), 1);
            EXPECT_EQ(presenter->shown.at(0).caption, QStringLiteral("提示"));
            EXPECT_EQ(presenter->shown.at(0).text, QStringLiteral("网点不存在，请重新输入！"));
            EXPECT_TRUE(edit->hasFocus());
        }
    }
}

TEST_F(LookupEditTest, LeavingWithAnUnknownTextBringsTheFocusBackAndTagEightShowsNoList)
{
    auto ds = lookupData();
    auto *edit = configure(new TMyDBXEdit, ds.get());
    setTag(edit, 8);
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    lookuptest::showActive(form.get());
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab"));
    EXPECT_FALSE(edit->listVisible());
    EXPECT_EQ(edit->dataList(), nullptr);

    form->after->setFocus(); // the exit check runs once the focus has moved
    QApplication::processEvents();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("网点不存在，请重新输入！")});
    EXPECT_TRUE(edit->hasFocus());

    edit->setText(QStringLiteral("Abc"));
    edit->setModified(true);
    presenter->shown.clear();
    form->after->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(presenter->shown.isEmpty());
    EXPECT_TRUE(form->after->hasFocus());
}

TEST_F(LookupEditTest, ListIsRefusedAboveFiftyThousandRecords)
{
    for (int count : {50000, 50001}) {
        auto ds = manyRecords(count);
        auto *edit = configure(new TMyDBXEdit, ds.get());
        std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
        lookuptest::showActive(form.get());
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("C04999"));
        if (count == 50000) {
            EXPECT_TRUE(edit->listVisible());
            EXPECT_EQ(edit->listNames().size(), 10); // C049990 .. C049999
        } else {
            EXPECT_FALSE(edit->listVisible()) << count;
        }
    }
}

TEST_F(LookupEditTest, ListStopsAtTwentyAndANewerKeystrokeStopsARunningSearch)
{
    auto ds = manyRecords(50000);
    auto *edit = configure(new TMyDBXEdit, ds.get());
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    lookuptest::showActive(form.get());
    edit->setFocus();
    lookuptest::typeText(edit, QStringLiteral("站"));
    EXPECT_EQ(edit->listNames().size(), 20);

    // "站点4999" matches only at the end of the table; a keystroke that arrives while that
    // search runs ("9") starts its own search and the older one ends without touching the list.
    edit->setText(QStringLiteral("站点4999"));
    int searches = 0;
    QObject counter;
    QCoreApplication::postEvent(
        edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, QStringLiteral("9")));
    QObject::connect(edit, &QLineEdit::textEdited, &counter, [&] { ++searches; });
    edit->DropDown();
    EXPECT_EQ(searches, 1);
    EXPECT_EQ(edit->text(), QStringLiteral("站点49999"));
    EXPECT_TRUE(edit->listVisible());
    ASSERT_NE(edit->dataListDataset(), nullptr);
    EXPECT_EQ(edit->dataListDataset()->RecordCount(), 1);
    // The grid shows the newer rows, not the picture it had while the older search ran.
    ASSERT_NE(edit->dataList(), nullptr);
    ASSERT_NE(edit->dataList()->model(), nullptr);
    EXPECT_EQ(edit->dataList()->model()->rowCount(), 1);
    EXPECT_EQ(edit->dataList()->currentIndex().row(), 0);
    EXPECT_EQ(edit->listNames(), QStringList{QStringLiteral("站点49999")});
}

TEST_F(LookupEditTest, EditButtonOpensTheKeptDialogOrWarnsAboutConfiguration)
{
    auto ds = lookupData();
    auto bound = lookupData();
    TDataSource source;
    source.setDataSet(bound.get());
    auto *edit = configure(new TMyDBXEdit, ds.get());
    edit->setDataSource(&source);
    edit->setDataField(QStringLiteral("NAME"));
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    lookuptest::showActive(form.get());

    edit->SetMSD_FieldList(QString());
    edit->EditButtonClick();
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("没有设置显示字段列表！")});
    EXPECT_EQ(edit->lookupDlg(), nullptr);

    edit->SetMSD_FieldList(QStringLiteral("CODE,编码,80;NAME,名称"));
    presenter->onDialog = [&](QWidget *frame) {
        auto *dlg = frame->findChild<TfDBLookupDlg *>();
        EXPECT_EQ(dlg->edtFindValue->text(), QString());
        dlg->edtFindValue->setText(QStringLiteral("xa"));
        dlg->btnOkClick();
    };
    presenter->dialogResults = {QDialog::Accepted, QDialog::Accepted};
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_F4);
    EXPECT_EQ(edit->text(), QStringLiteral("xab"));
    TfDBLookupDlg *kept = edit->lookupDlg();
    ASSERT_NE(kept, nullptr);
    edit->EditButtonClick();
    EXPECT_EQ(edit->lookupDlg(), kept);
    // Another lookup dataset frees the dialog built for the old one.
    auto other = lookupData();
    edit->SetMSD_LookupCds(other.get());
    EXPECT_EQ(edit->lookupDlg(), nullptr);
    // A destroyed lookup dataset is forgotten.
    other.reset();
    EXPECT_EQ(edit->MSD_LookupCds(), nullptr);
}

TEST_F(LookupEditTest, AnUnboundSearchFieldOpensTheDialogOneBoundToAClosedDatasetDoesNot)
{
    auto ds = lookupData();
    auto *edit = configure(new TMyDBXEdit, ds.get());
    edit->SetMSD_FieldList(QStringLiteral("CODE,编码,80;NAME,名称"));
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    lookuptest::showActive(form.get());
    presenter->onDialog = [](QWidget *frame) {
        auto *dlg = frame->findChild<TfDBLookupDlg *>();
        dlg->edtFindValue->setText(QStringLiteral("xa"));
        dlg->btnOkClick();
    };
    presenter->dialogResults = {QDialog::Accepted};
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_F4); // a search field of a query window: no data source
    EXPECT_EQ(presenter->dialogsShown.size(), 1);
    EXPECT_EQ(edit->text(), QStringLiteral("xab"));

    auto closed = lookupData();
    closed->Close();
    TDataSource source;
    source.setDataSet(closed.get());
    edit->setDataSource(&source);
    edit->setDataField(QStringLiteral("NAME"));
    edit->EditButtonClick(); // nowhere to put the choice
    EXPECT_EQ(presenter->dialogsShown.size(), 1);
    edit->setDataSource(nullptr);
}

TEST_F(LookupEditTest, ActionsOfADataFormStopOnARefusedText)
{
    class Form : public TfDBBase
    {
    public:
        Form()
        {
            edit = addComponent(new TMyDBXEdit(this), QStringLiteral("edtSite"));
            optionLayout()->addWidget(edit, 0, 0);
        }
        TMyDBXEdit *edit;
    };
    auto ds = lookupData();
    std::unique_ptr<Form> form(createForm<Form>());
    configure(form->edit, ds.get());
    int ran = 0;
    form->setExecuteHandler(form->actRefresh, [&] { ++ran; });
    form->setUpdateHandler(form->actRefresh, [] { return true; });
    form->offerAction(form->actRefresh); // the form shows no tool-bar button for it
    lookuptest::showActive(form.get());
    form->edit->setFocus();
    QTest::keyClicks(form->edit, QStringLiteral("nope"));
    form->updateActions();
    form->executeAction(form->actRefresh);
    EXPECT_EQ(ran, 0);
    form->edit->setText(QStringLiteral("1"));
    form->edit->setModified(true);
    form->executeAction(form->actRefresh);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(form->edit->text(), QStringLiteral("Abc"));
    // The lookup edit is styled by the data form as every lookup edit.
    EXPECT_EQ(form->edit->property("BevelKind").toString(), QStringLiteral("Flat"));
}

// ---- the query edit --------------------------------------------------------------------

TEST(QueryEditStatement, ShapesFollowTheLookupCommandText)
{
    struct Case
    {
        QString command, code, name, typed, expected;
    };
    const QList<Case> cases{
        {QStringLiteral("T"), QStringLiteral("CODE"), QStringLiteral("NAME"), QStringLiteral("Ab"),
         QStringLiteral("select CODE,NAME from T where 1=1  and rownum<=20  and (lower(NAME) like "
                        "'%ab%' or lower(CODE) like '%ab%')")},
        {QStringLiteral("select a,b from t"), QStringLiteral("a"), QStringLiteral("b"),
         QStringLiteral("x"),
         QStringLiteral("select a,b from t where 1=1  and rownum<=20  and (lower(b) like '%x%' or "
                        "lower(a) like '%x%')")},
        {QStringLiteral("Select a,b From t WHERE sysid='001'"), QStringLiteral("a"),
         QStringLiteral("b"), QStringLiteral("x"),
         QStringLiteral("Select a,b From t WHERE sysid='001' and rownum<=20  and (lower(b) like "
                        "'%x%' or lower(a) like '%x%')")},
        // Quotes in the typed text stay inside the literal.
        {QStringLiteral("T"), QStringLiteral("C"), QStringLiteral("N"), QStringLiteral("o'Re"),
         QStringLiteral("select C,N from T where 1=1  and rownum<=20  and (lower(N) like '%o''re%' "
                        "or lower(C) like '%o''re%')")},
        // Without a code field only the name is searched.
        {QStringLiteral("T"), QString(), QStringLiteral("N"), QStringLiteral("a"),
         QStringLiteral("select N from T where 1=1  and rownum<=20  and (lower(N) like '%a%')")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TMyQDBXEdit::BuildQuerySql(c.command, c.code, c.name, c.typed), c.expected);
}

TEST_F(LookupEditTest, QueryEditWaitsForTheTimerAndReportsAFailedQuery)
{
    auto ds = lookupData();
    ds->SetCommandText(QStringLiteral("tab_Site"));
    auto *edit = new TMyQDBXEdit;
    configure(edit, ds.get());
    std::unique_ptr<EditForm> form(createForm<EditForm>(edit));
    lookuptest::showActive(form.get());
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("a"));
    ASSERT_NE(edit->timer(), nullptr);
    EXPECT_TRUE(edit->timer()->isActive());
    EXPECT_EQ(edit->timer()->interval(), 200);
    const int timerId = edit->timer()->timerId();
    QTest::keyClicks(edit, QStringLiteral("b")); // does not restart the running timer
    EXPECT_EQ(edit->timer()->timerId(), timerId);
    EXPECT_FALSE(edit->listVisible());

    // The dataset has no server behind it: the query fails, is reported, and the lookup
    // dataset closes.
    for (int waited = 0; presenter->shown.isEmpty() && waited < 2000; waited += 20)
        QTest::qWait(20);
    ASSERT_FALSE(presenter->shown.isEmpty());
    EXPECT_TRUE(presenter->shown.at(0).text.startsWith(QStringLiteral("获取数据出错:")));
    EXPECT_FALSE(ds->Active());
    EXPECT_FALSE(edit->listVisible());
    EXPECT_FALSE(edit->timer()->isActive());

    // With the lookup dataset empty (closed) every text is refused when validating.
    presenter->shown.clear();
    EXPECT_FALSE(cancelMode(edit));
    EXPECT_EQ(shownTexts(), QStringList{QStringLiteral("网点不存在，请重新输入！")});
}
