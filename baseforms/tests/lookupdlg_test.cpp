#include "baseforms/dbgrideh.h"
#include "baseforms/fdbbase.h"
#include "baseforms/fdblookupdlg.h"
#include "lookuptestenv.h"

#include "baseforms/dbcontrols.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace tessera;
using quillon::FieldType;

namespace {

class LookupDlgTest : public lookuptest::Env
{
};

std::unique_ptr<quillon::TMyDataSet> sites()
{
    // In code order 120 comes before 12, so a prefix search on numbers would stop too early.
    return testdata::dataSet({{QStringLiteral("CODE"), FieldType::Integer},
                              {QStringLiteral("NAME"), FieldType::String, 20},
                              {QStringLiteral("AREA"), FieldType::String, 20}},
                             {{120, QStringLiteral("上海浦东"), QStringLiteral("华东")},
                              {12, QStringLiteral("Abc站"), QStringLiteral("华北")},
                              {7, QStringLiteral("xab站"), QStringLiteral("ABX区")},
                              {31, QStringLiteral("abd站"), QStringLiteral("华南")}});
}

// The dialog inside the frame a presenter is handed.
TfDBLookupDlg *dialogOf(QWidget *frame)
{
    return frame->findChild<TfDBLookupDlg *>();
}

} // namespace

TEST(FieldListSplit, QuotesKeepBlanksAndDelimitersSplitLikeDelimitedText)
{
    struct Case
    {
        QString text;
        QChar delimiter;
        QStringList parts;
    };
    const QList<Case> cases{
        {QStringLiteral("code,编码,80;name,名称"),
         QLatin1Char(';'),
         {QStringLiteral("code,编码,80"), QStringLiteral("name,名称")}},
        {QStringLiteral("code,编码,80"),
         QLatin1Char(','),
         {QStringLiteral("code"), QStringLiteral("编码"), QStringLiteral("80")}},
        // A blank separates unless the part is quoted.
        {QStringLiteral("code,编 码,80"),
         QLatin1Char(','),
         {QStringLiteral("code"), QStringLiteral("编"), QStringLiteral("码"),
          QStringLiteral("80")}},
        {QStringLiteral("code,\"编 码\",80"),
         QLatin1Char(','),
         {QStringLiteral("code"), QStringLiteral("编 码"), QStringLiteral("80")}},
        {QStringLiteral("  a ; b  "), QLatin1Char(';'), {QStringLiteral("a"), QStringLiteral("b")}},
        {QStringLiteral("a;;b"),
         QLatin1Char(';'),
         {QStringLiteral("a"), QString(), QStringLiteral("b")}},
        {QString(), QLatin1Char(';'), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(splitDelimitedText(c.text, c.delimiter), c.parts) << qPrintable(c.text);
    // At item level the quotes stay, so a quoted title with a blank survives both splits.
    const QStringList items =
        splitDelimitedText(QStringLiteral("code,\"编 码\",80;name"), QLatin1Char(';'), false);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(splitDelimitedText(items.at(0), QLatin1Char(',')).value(1), QStringLiteral("编 码"));
}

TEST_F(LookupDlgTest, FieldListBuildsColumnsChooserAndWindowWidth)
{
    auto ds = sites();
    auto *dlg = createForm<TfDBLookupDlg>(nullptr);
    std::unique_ptr<QDialog> frame(dlg->frame());
    dlg->SetLookupTable(ds.get());
    dlg->SetLookupField(QStringLiteral("NAME"));
    dlg->SetStrCaption(QStringLiteral("选择网点"));
    dlg->SetShowFieldList(QStringLiteral("CODE,编码,80;NAME,名称;MISSING,不存在,50"));
    dlg->ShowModal();

    const auto cols = dlg->dbgrdhMain->Columns();
    ASSERT_EQ(cols.size(), 2); // the missing field is left out
    EXPECT_EQ(cols.at(0)->title(), QStringLiteral("编码"));
    EXPECT_EQ(cols.at(0)->Width, 80);
    EXPECT_EQ(cols.at(1)->Width, TfDBLookupDlg::CalcColumnWidth(QStringLiteral("名称")));
    EXPECT_EQ(cols.at(1)->Width, 120);
    QStringList entries;
    for (int i = 0; i < dlg->cbbIndexFields->count(); ++i)
        entries << dlg->cbbIndexFields->itemText(i);
    EXPECT_EQ(entries, (QStringList{QStringLiteral("编码"), QStringLiteral("名称"),
                                    QStringLiteral("全部列")}));
    EXPECT_EQ(dlg->cbbIndexFields->currentIndex(), 2);
    EXPECT_EQ(frame->width(), 80 + 120 + 60);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("选择网点"));
    EXPECT_FALSE(dlg->dbgrdhMain->FilterRowVisible());
    EXPECT_EQ(dlg->dbgrdhMain->FooterRowCount(), 1);
    EXPECT_EQ(dlg->btnOk->text(), QStringLiteral("确定"));
    EXPECT_EQ(dlg->GetFieldName(QStringLiteral("名称")), QStringLiteral("NAME"));
    EXPECT_EQ(dlg->GetFieldName(QStringLiteral("名")), QString());

    // Titles holding the text of "Msg32" are narrow; a width that is no number is 120.
    EXPECT_EQ(TfDBLookupDlg::CalcColumnWidth(QStringLiteral("网点编号")), 70);
    auto *other = createForm<TfDBLookupDlg>(nullptr);
    std::unique_ptr<QDialog> otherFrame(other->frame());
    other->SetLookupTable(ds.get());
    other->SetLookupField(QStringLiteral("NAME"));
    other->SetShowFieldList(QStringLiteral("CODE,\"网点 编号\";NAME,名称,宽;AREA"));
    other->ShowModal();
    const auto oc = other->dbgrdhMain->Columns();
    ASSERT_EQ(oc.size(), 3);
    EXPECT_EQ(oc.at(0)->title(), QStringLiteral("网点 编号"));
    EXPECT_EQ(oc.at(0)->Width, 70);
    EXPECT_EQ(oc.at(1)->Width, 120);
    EXPECT_EQ(oc.at(2)->title(), QStringLiteral("AREA"));
    EXPECT_EQ(otherFrame->width(), 70 + 120 + 120 + 60);
}

TEST_F(LookupDlgTest, IncrementalLocateByColumnAndInAllColumns)
{
    auto ds = sites();
    auto *dlg = createForm<TfDBLookupDlg>(nullptr);
    std::unique_ptr<QDialog> frame(dlg->frame());
    dlg->SetLookupTable(ds.get());
    dlg->SetLookupField(QStringLiteral("NAME"));
    dlg->SetShowFieldList(QStringLiteral("CODE,编码,80;NAME,名称;AREA,区域"));
    dlg->ShowModal();
    auto name = [&] { return ds->FieldByName(QStringLiteral("NAME"))->AsString(); };

    // Choosing a column orders the dataset by it; the all-columns entry by the lookup field.
    dlg->cbbIndexFields->setCurrentIndex(0);
    EXPECT_EQ(ds->IndexFieldNames(), QStringLiteral("CODE"));
    dlg->edtFindValue->setText(QStringLiteral("12"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsInteger(), 12);
    dlg->edtFindValue->setText(QStringLiteral("x")); // no number: nothing found, stays
    EXPECT_EQ(ds->FieldByName(QStringLiteral("CODE"))->AsInteger(), 12);

    dlg->cbbIndexFields->setCurrentIndex(1);
    EXPECT_EQ(ds->IndexFieldNames(), QStringLiteral("NAME"));
    ds->Last();
    dlg->edtFindValue->setText(QStringLiteral("AB"));
    EXPECT_EQ(name(), QStringLiteral("Abc站")); // first of Abc站, abd站 in name order
    dlg->edtFindValue->setText(QStringLiteral("abd"));
    EXPECT_EQ(name(), QStringLiteral("abd站"));
    dlg->edtFindValue->setText(QStringLiteral("ab站")); // only in the middle: no match
    EXPECT_EQ(name(), QStringLiteral("abd站"));

    // All columns: code first (a number), then name, then area ("ABX区" begins with ab).
    dlg->cbbIndexFields->setCurrentIndex(3);
    dlg->edtFindValue->setText(QStringLiteral("abx"));
    EXPECT_EQ(name(), QStringLiteral("xab站"));
    dlg->edtFindValue->setText(QStringLiteral("7"));
    EXPECT_EQ(name(), QStringLiteral("xab站"));
}

TEST_F(LookupDlgTest, KeysMoveFromTheSearchEditAndEnterOrCancelDecide)
{
    auto ds = sites();
    ds->SetRecNo(3);
    int dialogs = 0;
    presenter->onDialog = [&](QWidget *frame) {
        ++dialogs;
        TfDBLookupDlg *dlg = dialogOf(frame);
        ASSERT_TRUE(dlg);
        // The caller's record is kept when the grid is built.
        if (dialogs == 1) {
            EXPECT_EQ(ds->RecNo(), 3);
        }
        EXPECT_EQ(dlg->edtFindValue->text(), QStringLiteral("abc"));
        dlg->cbbIndexFields->setCurrentIndex(0); // by code: 7, 12, 31, 120
        ds->First();
        QTest::keyClick(dlg->edtFindValue, Qt::Key_Down);
        QTest::keyClick(dlg->edtFindValue, Qt::Key_Down);
        QTest::keyClick(dlg->edtFindValue, Qt::Key_Up);
        EXPECT_EQ(dlg->edtFindValue->text(), QStringLiteral("abc")); // keys did not edit
        if (dialogs == 1)
            QTest::keyClick(dlg->dbgrdhMain->view(), Qt::Key_Return);
        else
            dlg->btnCancel->click();
    };
    presenter->dialogResults = {QDialog::Accepted, QDialog::Rejected};
    const QString chosen =
        ShowFindForm(QStringLiteral("网点"), ds.get(), QStringLiteral("NAME"),
                     QStringLiteral("CODE,编码,80;NAME,名称"), QStringLiteral("abc"));
    EXPECT_EQ(chosen, QStringLiteral("Abc站")); // the second record by code
    const QString cancelled =
        ShowFindForm(QStringLiteral("网点"), ds.get(), QStringLiteral("NAME"),
                     QStringLiteral("CODE,编码,80;NAME,名称"), QStringLiteral("abc"));
    EXPECT_EQ(cancelled, QStringLiteral("abc"));
    EXPECT_EQ(dialogs, 2);
}

TEST_F(LookupDlgTest, ConfigurationWarningsComeInOrderAndOpenNoDialog)
{
    auto ds = sites();
    quillon::TMyDataSet closed;
    struct Case
    {
        quillon::TMyDataSet *ds;
        QString field;
        QString list;
        QString warning;
    };
    const QList<Case> cases{
        {nullptr, QString(), QString(), QStringLiteral("没有设置查找数据集！")},
        {&closed, QStringLiteral("NAME"), QStringLiteral("NAME"),
         QStringLiteral("查找数据集没有打开！")},
        {ds.get(), QString(), QStringLiteral("NAME"), QStringLiteral("没有设置查找字段！")},
        {ds.get(), QStringLiteral("NAME"), QString(), QStringLiteral("没有设置显示字段列表！")},
    };
    for (const Case &c : cases) {
        presenter->shown.clear();
        EXPECT_EQ(ShowFindForm(QStringLiteral("x"), c.ds, c.field, c.list, QStringLiteral("old")),
                  QString());
        ASSERT_EQ(presenter->shown.size(), 1);
        EXPECT_EQ(presenter->shown.at(0).kind, host::MessageKind::Warning);
        EXPECT_EQ(presenter->shown.at(0).text, c.warning);
    }
    EXPECT_TRUE(presenter->dialogsShown.isEmpty());
}

TEST_F(LookupDlgTest, DataFormLookupsUseTheDialog)
{
    // The library installs its dialog for the data forms' lookups.
    auto ds = sites();
    auto lookup = sites();
    presenter->onDialog = [&](QWidget *frame) {
        TfDBLookupDlg *dlg = dialogOf(frame);
        dlg->cbbIndexFields->setCurrentIndex(1);
        dlg->edtFindValue->setText(QStringLiteral("xab"));
        dlg->btnOk->click();
    };
    presenter->dialogResults = {QDialog::Accepted};
    std::unique_ptr<TfDBBase> form(createForm<TfDBBase>());
    TDataSource source;
    source.setDataSet(ds.get());
    TDBEditEh edit;
    edit.setDataSource(&source);
    edit.setDataField(QStringLiteral("NAME"));
    form->DBEditEhLookup(&edit, QStringLiteral("网点"), lookup.get(), QStringLiteral("NAME"),
                         QStringLiteral("CODE;NAME"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("NAME"))->AsString(), QStringLiteral("xab站"));
}
