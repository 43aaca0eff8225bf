#include "dataaccess/datasetmodel.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QTemporaryDir>

#include <limits>
#include <map>
#include <numeric>
#include <set>

using namespace quillon;

namespace {

DataPacket sites()
{
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, true},
                {QStringLiteral("NAME"), FieldType::String, 20, false},
                {QStringLiteral("FEE"), FieldType::Float, 0, false},
                {QStringLiteral("DAY"), FieldType::DateTime, 0, false}};
    p.rows = {{1, QStringLiteral("beijing"), 1.5, QDateTime(QDate(2024, 1, 1), QTime(8, 0))},
              {2, QStringLiteral("Shanghai"), 2.5, QVariant()},
              {3, QStringLiteral("shenzhen"), QVariant(), QDateTime(QDate(2024, 1, 3), QTime(0, 0))},
              {4, QStringLiteral("Beihai"), 0.5, QVariant()}};
    return p;
}

QList<int> ids(TMyDataSet &ds)
{
    QList<int> out;
    const TBookmark keep = ds.GetBookmark();
    for (ds.First(); !ds.Eof(); ds.Next())
        out << ds.FieldByName(QStringLiteral("id"))->AsInteger();
    if (ds.BookmarkValid(keep))
        ds.GotoBookmark(keep);
    return out;
}

struct Recorder : DataSetObserver
{
    QList<DataEvent> events;
    void dataSetEvent(TMyDataSet *, DataEvent e, int) override { events << e; }
};

} // namespace

TEST(DataSetCursor, NavigationFollowsTheDelphiRules)
{
    TMyDataSet ds;
    EXPECT_FALSE(ds.Active());
    EXPECT_THROW(ds.First(), DataSetError);
    ds.SetData(sites());
    EXPECT_EQ(ds.RecordCount(), 4);
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ids(ds), (QList<int>{1, 2, 3, 4}));

    ds.Last();
    EXPECT_TRUE(ds.Eof());
    ds.Next(); // stays on the last record
    EXPECT_EQ(ds.RecNo(), 4);
    ds.Prior();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_EQ(ds.MoveBy(-10), -2);
    EXPECT_TRUE(ds.Bof());
    ds.SetRecNo(3);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Name"))->AsString(), u"shenzhen");
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("FEE"))->IsNull());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("FEE"))->AsFloat(), 0.0);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("DAY"))->AsString(), u"2024-01-03");
    EXPECT_THROW(ds.FieldByName(QStringLiteral("nope")), DataSetError);
    EXPECT_EQ(ds.FindField(QStringLiteral("nope")), nullptr);

    DataPacket empty;
    empty.fields = sites().fields;
    ds.SetData(empty);
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_TRUE(ds.Bof() && ds.Eof());
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("ID"))->IsNull());
}

TEST(DataSetEditing, EditPostCancelAndTheirGuards)
{
    TMyDataSet ds;
    ds.SetData(sites());
    TField *name = ds.FieldByName(QStringLiteral("NAME"));
    TField *fee = ds.FieldByName(QStringLiteral("FEE"));
    EXPECT_THROW(name->SetAsString(QStringLiteral("x")), DataSetError); // browse state

    ds.Edit();
    EXPECT_EQ(ds.State(), DataSetState::Edit);
    name->SetAsString(QStringLiteral("北京"));
    EXPECT_THROW(fee->SetAsString(QStringLiteral("abc")), DataSetError);
    EXPECT_DOUBLE_EQ(fee->AsFloat(), 1.5); // the refused value left the field alone
    fee->SetAsString(QStringLiteral("3.25"));
    fee->SetAsString(QString()); // an empty text clears a number field ...
    EXPECT_TRUE(fee->IsNull());
    name->SetAsString(QStringLiteral("")); // ... and a text field, as in the platform
    EXPECT_TRUE(name->IsNull());
    ds.Cancel();
    EXPECT_EQ(name->AsString(), u"beijing");
    EXPECT_EQ(ds.ChangeCount(), 0);

    ds.Edit();
    fee->SetAsFloat(9);
    ds.Post();
    EXPECT_DOUBLE_EQ(fee->AsFloat(), 9.0);
    EXPECT_EQ(fee->OldValue().toDouble(), 1.5);
    EXPECT_EQ(ds.UpdateStatus(), RowState::Modified);

    // A required field must be filled; a failed post stays in the insert state.
    ds.Append();
    name->SetAsString(QStringLiteral("new"));
    EXPECT_THROW(ds.Post(), DataSetError);
    EXPECT_EQ(ds.State(), DataSetState::Insert);
    ds.FieldByName(QStringLiteral("id"))->SetAsInteger(5);
    ds.Post();
    EXPECT_EQ(ds.RecNo(), 5);

    // Scrolling posts a modified record and drops an untouched new one.
    ds.First();
    ds.Edit();
    name->SetAsString(QStringLiteral("moved"));
    ds.Next();
    ds.Prior();
    EXPECT_EQ(name->AsString(), u"moved");
    ds.Insert();
    ds.Next();
    EXPECT_EQ(ds.RecordCount(), 5);

    ds.SetReadOnly(true);
    EXPECT_THROW(ds.Edit(), DataSetError);
    EXPECT_THROW(ds.Delete(), DataSetError);
}

TEST(DataSetEditing, EventsRunInOrderAndCanStopAPost)
{
    TMyDataSet ds;
    QStringList log;
    ds.AfterOpen = [&](TMyDataSet &) { log << QStringLiteral("open"); };
    ds.OnNewRecord = [&](TMyDataSet &d) {
        d.FieldByName(QStringLiteral("ID"))->SetAsInteger(77);
        log << QStringLiteral("new");
    };
    bool refuse = true;
    ds.BeforePost = [&](TMyDataSet &) {
        log << QStringLiteral("beforepost");
        if (refuse)
            throw host::SilentAbort();
    };
    ds.AfterPost = [&](TMyDataSet &) { log << QStringLiteral("afterpost"); };
    ds.SetData(sites());
    ds.Open(); // already open: nothing
    DataPacket p = sites();
    ds.Close();
    ds.SetData(p);

    ds.Append();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), 77);
    EXPECT_FALSE(ds.Modified()); // defaults of OnNewRecord do not count as a change
    ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("x"));
    EXPECT_THROW(ds.Post(), host::SilentAbort);
    EXPECT_EQ(ds.State(), DataSetState::Insert);
    refuse = false;
    ds.Post();
    EXPECT_EQ(log, (QStringList{QStringLiteral("new"), QStringLiteral("beforepost"),
                                QStringLiteral("beforepost"), QStringLiteral("afterpost")}));
}

TEST(DataSetChangeLog, CancelUpdatesUndoesEditsInsertsAndDeletes)
{
    TMyDataSet ds;
    ds.SetData(sites());
    ds.SetRecNo(2);
    ds.Edit();
    ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("changed"));
    ds.Post();
    ds.Edit(); // a second edit of the same row keeps the first original
    ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("changed twice"));
    ds.Post();
    ds.SetRecNo(3);
    ds.Delete();
    ds.SetRecNo(1);
    ds.Insert();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(10);
    ds.Post();
    ds.Append();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(11);
    ds.Post();
    ds.Delete(); // a new row deleted again leaves no trace
    EXPECT_EQ(ids(ds), (QList<int>{10, 1, 2, 4}));
    EXPECT_EQ(ds.ChangeCount(), 3);

    const DataPacket d = ds.Data();
    ASSERT_EQ(d.changes.size(), 3);
    EXPECT_EQ(d.changes[0].state, RowState::Modified);
    EXPECT_EQ(d.changes[0].original[1].toString(), u"Shanghai");
    EXPECT_EQ(d.rows[d.changes[0].row][1].toString(), u"changed twice");
    EXPECT_EQ(d.changes[1].state, RowState::Deleted);
    EXPECT_EQ(d.changes[1].original[0].toInt(), 3);
    EXPECT_EQ(d.changes[2].state, RowState::Inserted);
    EXPECT_EQ(d.rows[d.changes[2].row][0].toInt(), 10);

    ds.CancelUpdates();
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_EQ(ids(ds), (QList<int>{1, 2, 3, 4}));
    ds.SetRecNo(2);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(), u"Shanghai");

    // A modified row that is then deleted is logged as deleted with its first values.
    ds.Edit();
    ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("x"));
    ds.Post();
    ds.Delete();
    const DataPacket d2 = ds.Data();
    ASSERT_EQ(d2.changes.size(), 1);
    EXPECT_EQ(d2.changes[0].state, RowState::Deleted);
    EXPECT_EQ(d2.changes[0].original[1].toString(), u"Shanghai");
}

TEST(DataSetChangeLog, SurvivesFilesInBothFormsAndCanStillBeCancelled)
{
    QTemporaryDir dir;
    for (const DataPacketFormat format : {DataPacketFormat::Binary, DataPacketFormat::XML}) {
        TMyDataSet ds;
        ds.SetData(sites());
        ds.Edit();
        ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("x'<&>\""));
        ds.Post();
        ds.Last();
        ds.Delete();
        ds.Append();
        ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(9);
        ds.FieldByName(QStringLiteral("DAY"))->SetAsString(QStringLiteral("2024-05-06 07:08:09"));
        ds.Post();
        const QString file = dir.filePath(format == DataPacketFormat::XML ? QStringLiteral("a.xml")
                                                                          : QStringLiteral("a.cds"));
        ds.SaveToFile(file, format);

        TMyDataSet back;
        back.LoadFromFile(file);
        EXPECT_EQ(back.ChangeCount(), 3);
        EXPECT_EQ(back.XMLData(), ds.XMLData());
        EXPECT_EQ(ids(back), (QList<int>{1, 2, 3, 9}));
        back.Last();
        EXPECT_EQ(back.FieldByName(QStringLiteral("DAY"))->AsDateTime(),
                  QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
        back.CancelUpdates();
        EXPECT_EQ(ids(back), (QList<int>{1, 2, 3, 4}));
        back.First();
        EXPECT_EQ(back.FieldByName(QStringLiteral("NAME"))->AsString(), u"beijing");
    }
}

TEST(DataSetFiles, PacketsBuiltInCodeAreCheckedAndTyped)
{
    TMyDataSet ds;
    DataPacket p = sites();
    p.rows[0][0] = QStringLiteral("12");             // text in an integer field
    p.rows[1][3] = QStringLiteral("2024-02-03 04:05:06");
    ds.SetData(p);
    EXPECT_EQ(ds.Fields(0)->Value().typeId(), QMetaType::Int);
    ds.SetIndexFieldNames(QStringLiteral("ID DESC"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), 12);
    ds.SetIndexFieldNames(QString());
    ds.Locate(QStringLiteral("ID"), 2);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("DAY"))->AsDateTime(), QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6)));

    DataPacket wrongWidth = sites();
    wrongWidth.rows[2].removeLast();
    EXPECT_THROW(ds.SetData(wrongWidth), DataSetError);
    DataPacket badChange = sites();
    badChange.changes.append({RowState::Modified, 7, badChange.rows[0]});
    EXPECT_THROW(ds.SetData(badChange), DataSetError);
    DataPacket badValue = sites();
    badValue.rows[0][2] = QStringLiteral("abc");
    EXPECT_THROW(ds.SetData(badValue), DataSetError);
    EXPECT_EQ(ds.RecordCount(), 4); // the data in place stays
    EXPECT_EQ(ds.FieldByName(QStringLiteral("DAY"))->AsDateTime(), QDateTime(QDate(2024, 2, 3), QTime(4, 5, 6)));
}

TEST(DataSetFiles, UnreadableOrBrokenFilesRaiseAndKeepTheData)
{
    QTemporaryDir dir;
    TMyDataSet ds;
    ds.SetData(sites());
    EXPECT_THROW(ds.LoadFromFile(dir.filePath(QStringLiteral("missing.cds"))), DataSetError);
    QFile bad(dir.filePath(QStringLiteral("bad.cds")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("WLDP\x01garbage");
    bad.close();
    EXPECT_THROW(ds.LoadFromFile(bad.fileName()), DataSetError);
    EXPECT_EQ(ds.RecordCount(), 4);
    EXPECT_THROW(ds.SaveToFile(dir.filePath(QStringLiteral("no/such/dir/x.cds"))), DataSetError);
}

TEST(DataSetOrder, IndexFieldNamesSortsStablyAndKeepsBookmarks)
{
    TMyDataSet ds;
    DataPacket p = sites();
    p.rows.append({5, QStringLiteral("beijing"), 1.0, QVariant()});
    ds.SetData(p);
    ds.SetRecNo(2);
    const TBookmark shanghai = ds.GetBookmark();

    ds.SetIndexFieldNames(QStringLiteral("NAME"));
    // Case-sensitive: upper-case letters sort before lower-case ones; equal keys keep order.
    EXPECT_EQ(ids(ds), (QList<int>{4, 2, 1, 5, 3}));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), 2); // still on the same record
    ds.SetIndexFieldNames(QStringLiteral("name:N"));
    EXPECT_EQ(ids(ds), (QList<int>{4, 1, 5, 2, 3}));
    ds.SetIndexFieldNames(QStringLiteral("FEE DESC;ID"));
    EXPECT_EQ(ids(ds), (QList<int>{2, 1, 5, 4, 3})); // NULL is smallest
    ds.SetIndexFieldNames(QStringLiteral("FEE"));
    EXPECT_EQ(ids(ds), (QList<int>{3, 4, 5, 1, 2}));
    EXPECT_THROW(ds.SetIndexFieldNames(QStringLiteral("NOPE")), DataSetError);

    // A posted record moves to its place in the order.
    ds.GotoBookmark(shanghai);
    ds.Edit();
    ds.FieldByName(QStringLiteral("FEE"))->SetAsFloat(0.1);
    ds.Post();
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), 2);
    ds.Append();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(6);
    ds.FieldByName(QStringLiteral("FEE"))->SetAsFloat(1.2);
    ds.Post();
    EXPECT_EQ(ids(ds), (QList<int>{3, 2, 4, 5, 6, 1}));

    ds.SetIndexFieldNames(QString());
    EXPECT_EQ(ids(ds), (QList<int>{1, 2, 3, 4, 5, 6}));
    ds.Close();
    EXPECT_FALSE(ds.BookmarkValid(shanghai));
}

TEST(DataSetSearch, LocateAndLookupFollowTheOptions)
{
    TMyDataSet ds;
    ds.SetData(sites());
    ds.SetRecNo(2);
    struct Case
    {
        const char *fields;
        QVariantList values;
        LocateOptions options;
        int expectId; // 0: not found (the cursor stays)
    };
    const QList<Case> cases = {
        {"NAME", {QStringLiteral("shenzhen")}, {}, 3},
        {"name", {QStringLiteral("SHENZHEN")}, {}, 0},
        {"NAME", {QStringLiteral("SHENZHEN")}, CaseInsensitive, 3},
        {"NAME", {QStringLiteral("bei")}, PartialKey, 1},
        {"NAME", {QStringLiteral("Bei")}, PartialKey, 4},
        {"NAME", {QStringLiteral("BEI")}, LocateOptions(PartialKey | CaseInsensitive), 1},
        {"NAME", {QStringLiteral("bei")}, {}, 0},
        {"ID", {QStringLiteral("4")}, {}, 4},
        {"ID", {QStringLiteral("four")}, {}, 0},
        {"FEE", {QVariant()}, {}, 3},
        {"FEE", {2.5}, {}, 2},
        {"ID;NAME", {1, QStringLiteral("beijing")}, {}, 1},
        {"ID;NAME", {1, QStringLiteral("Shanghai")}, {}, 0},
        {"DAY", {QStringLiteral("2024-01-03")}, {}, 3},
        {"ID", {QStringLiteral("2")}, PartialKey, 2},
    };
    for (const Case &c : cases) {
        ds.SetRecNo(2);
        const bool found = ds.Locate(QString::fromLatin1(c.fields), c.values, c.options);
        EXPECT_EQ(found, c.expectId != 0) << c.fields << " " << c.values[0].toString().toStdString();
        EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), found ? c.expectId : 2)
            << c.fields << " " << c.values[0].toString().toStdString();
    }
    EXPECT_THROW(ds.Locate(QStringLiteral("ID;NAME"), QVariantList{1}), DataSetError);
    EXPECT_EQ(ds.Lookup(QStringLiteral("ID"), {3}, QStringLiteral("NAME")).toString(), u"shenzhen");
    EXPECT_TRUE(ds.Lookup(QStringLiteral("ID"), {99}, QStringLiteral("NAME")).isNull());
}

TEST(DataSetSearch, FilterHidesRowsUntilRemoved)
{
    TMyDataSet ds;
    ds.SetData(sites());
    const int fee = ds.fieldIndex(QStringLiteral("FEE"));
    ds.SetFilter([fee](const QVariantList &row) { return !row[fee].isNull() && row[fee].toDouble() > 1; });
    EXPECT_EQ(ids(ds), (QList<int>{1, 2}));
    ds.Edit();
    ds.FieldByName(QStringLiteral("FEE"))->SetAsFloat(0); // leaves the filtered view
    ds.Post();
    EXPECT_EQ(ids(ds), (QList<int>{2}));
    ds.SetFilter(nullptr);
    EXPECT_EQ(ids(ds), (QList<int>{1, 2, 3, 4}));
}

TEST(DataSetSearch, LocateAndOrderOnAHundredThousandRows)
{
    DataPacket p;
    p.fields = {{QStringLiteral("BILLCODE"), FieldType::String, 20, false},
                {QStringLiteral("N"), FieldType::Integer, 0, false}};
    const int n = 100000;
    p.rows.reserve(n);
    for (int i = 0; i < n; ++i)
        p.rows.append({QStringLiteral("B%1").arg((i * 7919) % n, 6, 10, QLatin1Char('0')), i % 100});
    TMyDataSet ds;
    ds.SetData(std::move(p));
    ASSERT_TRUE(ds.Locate(QStringLiteral("BILLCODE"), QStringLiteral("b099999"), CaseInsensitive));
    const int found = ds.FieldByName(QStringLiteral("N"))->AsInteger();
    ds.SetIndexFieldNames(QStringLiteral("N;BILLCODE"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("BILLCODE"))->AsString(), u"B099999");
    EXPECT_EQ(ds.FieldByName(QStringLiteral("N"))->AsInteger(), found);
    QString prevCode;
    int prevN = -1;
    int count = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++count) {
        const int cur = ds.FieldByName(QStringLiteral("N"))->AsInteger();
        const QString code = ds.FieldByName(QStringLiteral("BILLCODE"))->AsString();
        ASSERT_TRUE(cur > prevN || (cur == prevN && code > prevCode)) << count;
        prevN = cur;
        prevCode = code;
    }
    EXPECT_EQ(count, n);
    EXPECT_FALSE(ds.Locate(QStringLiteral("BILLCODE"), QStringLiteral("B1")));
    EXPECT_TRUE(ds.Locate(QStringLiteral("BILLCODE"), QStringLiteral("B00000"), PartialKey));
}

TEST(DataSetControls, DisableControlsNestsAndTellsObserversOnce)
{
    TMyDataSet ds;
    Recorder rec;
    ds.attach(&rec);
    ds.SetData(sites());
    EXPECT_EQ(rec.events.value(0), DataEvent::ActiveChanged);
    rec.events.clear();
    ds.DisableControls();
    ds.DisableControls();
    ds.Next();
    ds.Edit();
    ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("q"));
    ds.Post();
    ds.EnableControls();
    EXPECT_TRUE(rec.events.isEmpty());
    EXPECT_TRUE(ds.ControlsDisabled());
    ds.EnableControls();
    EXPECT_EQ(rec.events, QList<DataEvent>{DataEvent::DataSetChanged});
    ds.EnableControls(); // one too many is harmless
    EXPECT_FALSE(ds.ControlsDisabled());
    {
        Recorder shortLived;
        ds.attach(&shortLived);
    } // detaches itself
    ds.Next();
    EXPECT_EQ(rec.events.last(), DataEvent::Scrolled);
}

TEST(DataSetConnection, PrivateConnectionBindingAndFreeNotification)
{
    TMyDataSet ds;
    ASSERT_NE(ds.MyConn(), nullptr); // a new dataset counts as connected
    EXPECT_TRUE(ds.ProviderName().isEmpty());
    ds.SetCommandText(QStringLiteral("select * from tab_site"));
    EXPECT_THROW(ds.Open(), DataSetError); // the private connection has no provider

    auto *conn = new TMySktConnection;
    ds.SetMyConn(conn);
    EXPECT_EQ(ds.MyConn(), conn);
    EXPECT_EQ(ds.ProviderName(), u"dspPublic");
    delete conn;
    EXPECT_EQ(ds.MyConn(), nullptr);
    EXPECT_TRUE(ds.ProviderName().isEmpty());
    ds.SetData(sites());
    try {
        ds.ApplyUpdates(0);
        FAIL() << "no error";
    } catch (const DataSetError &e) {
        EXPECT_EQ(e.message(), u"MyConn is nil!");
    }
}

TEST(DataSetApply, TableNameIsTakenAfterTheFirstFrom)
{
    const QString longName(60, QLatin1Char('t'));
    const QList<std::pair<QString, QString>> cases = {
        {QStringLiteral("select * from tab_msgrecord where sysid='001'"), QStringLiteral("TAB_MSGRECORD")},
        {QStringLiteral("select a.* from tab_account a where 1=0"), QStringLiteral("TAB_ACCOUNT")},
        {QStringLiteral("select * FROM   tab_x  "), QStringLiteral("TAB_X")},
        {QStringLiteral("select (select 1 from dual) x from tab_y"), QStringLiteral("DUAL)")},
        {QStringLiteral("select * from ") + longName, QString(50, QLatin1Char('T'))},
        {QStringLiteral("select * from tab_z\nwhere 1=1"), QStringLiteral("TAB_Z")},
        {QStringLiteral("update tab_q set a=1"), QStringLiteral("TAB_Q")},
        {QStringLiteral("abcdefghij"), QStringLiteral("GHIJ")},
    };
    for (const auto &[text, table] : cases)
        EXPECT_EQ(TMyDataSet::ApplyTableName(text), table) << text.toStdString();
}

TEST(DataSetModelAdapter, FollowsTheDatasetUnderTheModelTester)
{
    TMyDataSet ds;
    DataSetModel model(&ds);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.rowCount(), 0);
    ds.SetData(sites());
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.columnCount(), 4);
    ds.Fields(1)->SetDisplayLabel(QStringLiteral("名称"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), u"名称");
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), u"2024-01-01 08:00:00");

    // Editing through the model goes through the dataset's rules.
    EXPECT_TRUE(model.setData(model.index(2, 1), QStringLiteral("edited")));
    EXPECT_EQ(ds.State(), DataSetState::Edit);
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_FALSE(model.setData(model.index(2, 0), QStringLiteral("not a number")));
    EXPECT_FALSE(model.lastError().isEmpty());
    EXPECT_TRUE(model.setData(model.index(0, 2), 7.5)); // moving posts the edit of row 2
    EXPECT_EQ(ds.ChangeCount(), 1);
    ds.Post();
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), u"edited");

    ds.SetRecNo(2);
    ds.Insert();
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_TRUE(model.data(model.index(1, 0)).isNull());
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(9);
    ds.Post();
    EXPECT_EQ(model.data(model.index(1, 0)).toInt(), 9);
    ds.Append();
    ds.Cancel();
    EXPECT_EQ(model.rowCount(), 5);
    // Editing a row below a new record that is then dropped edits the record shown there.
    ds.SetRecNo(1);
    ds.Insert();
    const QVariant shownId = model.data(model.index(3, 0));
    EXPECT_TRUE(model.setData(model.index(3, 1), QStringLiteral("below")));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ID"))->Value(), shownId);
    ds.Cancel();
    model.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(ds.IndexFieldNames(), u"ID DESC");
    EXPECT_EQ(model.data(model.index(0, 0)).toInt(), 9);
    ds.Last();
    ds.Edit();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(100); // moves to the top on post
    ds.Post();
    EXPECT_EQ(model.data(model.index(0, 0)).toInt(), 100);
    ds.Delete();
    EXPECT_EQ(model.rowCount(), 4);
    ds.DisableControls();
    ds.Delete();
    ds.Append();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(50);
    ds.Post();
    EXPECT_EQ(model.rowCount(), 4); // the model waits for EnableControls
    ds.EnableControls();
    EXPECT_EQ(model.rowCount(), 4);
    ds.CancelUpdates();
    EXPECT_EQ(model.rowCount(), 4);
    ds.Close();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.columnCount(), 0);
}

// Random operations against a plain reference of what the dataset must hold; the item
// model watches every step under the model tester.
class DataSetRandomised : public ::testing::TestWithParam<quint32>
{
};

INSTANTIATE_TEST_SUITE_P(Seeds, DataSetRandomised, ::testing::Values(12345u, 777u, 4242u, 99u));

TEST_P(DataSetRandomised, ManyOperationsKeepRowsChangeLogAndModelConsistent)
{
    TMyDataSet ds;
    DataSetModel model(&ds);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, true},
                {QStringLiteral("NAME"), FieldType::String, 10, false}};
    std::map<int, QString> loaded;
    for (int i = 1; i <= 30; ++i) {
        const QString name = QStringLiteral("aBcDe").mid((i * 7) % 5, 1) + QString::number(i % 4);
        p.rows.append({i, name});
        loaded[i] = name;
    }
    ds.SetData(p);
    std::map<int, QString> current = loaded;
    std::set<int> edited, deletedLoaded;
    int nextId = 100;
    quint32 seed = GetParam();
    auto rnd = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(n));
    };
    const QStringList orders = {QString(), QStringLiteral("NAME"), QStringLiteral("ID DESC"),
                                QStringLiteral("NAME:N;ID")};
    auto randomName = [&]() -> QString { return QStringLiteral("AbCdeF").mid(rnd(6), 1) + QString::number(rnd(3)); };
    auto gotoRandom = [&] {
        ds.SetRecNo(1 + rnd(ds.RecordCount()));
        return ds.FieldByName(QStringLiteral("ID"))->AsInteger();
    };

    for (int step = 0; step < 2000; ++step) {
        const int op = rnd(13);
        SCOPED_TRACE(testing::Message() << "step " << step << " op " << op);
        switch (op) {
        case 0:
        case 1: { // a new record, appended or inserted
            if (op == 1 && ds.RecordCount() > 0)
                gotoRandom();
            op == 0 ? ds.Append() : ds.Insert();
            const int id = nextId++;
            const QString name = randomName();
            ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(id);
            ds.FieldByName(QStringLiteral("NAME"))->SetAsString(name);
            if (rnd(5) == 0) {
                ds.Cancel();
            } else {
                ds.Post();
                current[id] = name;
            }
            break;
        }
        case 2:
        case 3: { // an edit, posted or cancelled
            if (ds.RecordCount() == 0)
                break;
            const int id = gotoRandom();
            const QString name = randomName();
            ds.Edit();
            ds.FieldByName(QStringLiteral("NAME"))->SetAsString(name);
            if (op == 3) {
                ds.Cancel();
            } else {
                ds.Post();
                current[id] = name;
                if (loaded.count(id))
                    edited.insert(id);
            }
            break;
        }
        case 4: { // a delete
            if (ds.RecordCount() == 0)
                break;
            const int id = gotoRandom();
            ds.Delete();
            current.erase(id);
            edited.erase(id);
            if (loaded.count(id))
                deletedLoaded.insert(id);
            break;
        }
        case 5:
            ds.SetIndexFieldNames(orders[rnd(orders.size())]);
            break;
        case 6: { // locate an existing record; a filtered one is not found
            if (current.empty())
                break;
            auto it = current.begin();
            std::advance(it, rnd(int(current.size())));
            const bool visible = !ds.Filtered() || it->first % 2 == 0;
            ASSERT_EQ(ds.Locate(QStringLiteral("ID"), it->first), visible);
            if (visible) {
                ASSERT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(), it->second);
            }
            break;
        }
        case 7:
            if (rnd(4) == 0) {
                ds.CancelUpdates();
                current = loaded;
                edited.clear();
                deletedLoaded.clear();
            }
            break;
        case 8: { // through the XML form and back, change log included
            const QString order = ds.IndexFieldNames();
            ds.SetData(DataPacket::fromXml(ds.XMLData()));
            ASSERT_EQ(ds.IndexFieldNames(), order);
            break;
        }
        case 9:
            if (rnd(6) == 0) {
                ds.MergeChangeLog();
                loaded = current;
                edited.clear();
                deletedLoaded.clear();
            }
            break;
        case 10: {
            if (rnd(2) == 0) {
                ds.SetFilter(nullptr);
            } else {
                ds.SetFilter([](const QVariantList &row) { return row[0].toInt() % 2 == 0; });
            }
            break;
        }
        case 11:
            ds.SetFilter(nullptr);
            break;
        case 12: // a span of work with the controls disabled, nested at most twice
            if (ds.ControlsDisabled() && rnd(2) == 0)
                ds.EnableControls();
            else if (rnd(3) == 0)
                ds.DisableControls();
            break;
        }

        // The visible rows are the reference's (less the filtered ones), in the order asked.
        std::map<int, QString> seen;
        QList<QVariantList> shown;
        for (int pos = 0; pos < ds.RecordCount(); ++pos) {
            const int id = ds.valueAt(pos, 0).toInt();
            ASSERT_TRUE(seen.emplace(id, ds.valueAt(pos, 1).toString()).second) << "twice: " << id;
            shown.append({id, ds.valueAt(pos, 1)});
        }
        std::map<int, QString> expected;
        for (const auto &[id, name] : current)
            if (!ds.Filtered() || id % 2 == 0)
                expected[id] = name;
        ASSERT_EQ(seen, expected);
        if (!ds.ControlsDisabled()) {
            ASSERT_EQ(model.rowCount(), ds.RecordCount());
        }
        const QString order = ds.IndexFieldNames();
        for (qsizetype i = 1; i < shown.size(); ++i) {
            const QVariantList &a = shown[i - 1], &b = shown[i];
            if (order == u"NAME")
                ASSERT_LE(a[1].toString().compare(b[1].toString()), 0);
            else if (order == u"ID DESC")
                ASSERT_GT(a[0].toInt(), b[0].toInt());
            else if (order == u"NAME:N;ID") {
                const int c = a[1].toString().compare(b[1].toString(), Qt::CaseInsensitive);
                ASSERT_TRUE(c < 0 || (c == 0 && a[0].toInt() < b[0].toInt()));
            }
        }
        int inserted = 0;
        for (const auto &[id, name] : current)
            inserted += loaded.count(id) ? 0 : 1;
        ASSERT_EQ(ds.ChangeCount(), inserted + int(edited.size() + deletedLoaded.size()));
    }
}

// Read from the binary form, date-times are built when first asked for and texts of a
// column of distinct values are no longer looked up for sharing: neither may change a
// value, an order, a search or an edit.
TEST(DataSetLoading, LazyDateTimesAndUnsharedTextsKeepEveryValue)
{
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, true},
                {QStringLiteral("CODE"), FieldType::String, 20, false},   // distinct
                {QStringLiteral("LATE"), FieldType::String, 20, false},   // distinct, then repeats
                {QStringLiteral("SITE"), FieldType::String, 20, false},   // five names
                {QStringLiteral("T"), FieldType::DateTime, 0, false}};
    const QDateTime base(QDate(2026, 3, 29), QTime(1, 30)); // around a change of summer time elsewhere
    const QDateTime odd[] = {QDateTime(QDate(1901, 1, 1), QTime(0, 0)),
                             QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)),
                             QDateTime(QDate(1970, 1, 1), QTime(0, 0))};
    for (int i = 0; i < 3000; ++i) {
        QVariant t;
        if (i % 7 == 3)
            t = QVariant();
        else if (i % 11 == 0)
            t = odd[i % 3];
        else
            t = base.addSecs(qint64(i % 500) * 61);
        p.rows.append({i, QStringLiteral("B%1号").arg(i, 6, 10, QLatin1Char('0')),
                       i < 400 ? QStringLiteral("L%1").arg(i) : QStringLiteral("L%1").arg(i % 3),
                       QStringLiteral("网点%1").arg(i % 5), t});
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.cds"));
    {
        TMyDataSet out;
        out.SetData(p);
        out.SaveToFile(file, DataPacketFormat::Binary);
    }
    TMyDataSet ds;
    ds.LoadFromFile(file);
    ASSERT_EQ(ds.RecordCount(), 3000);
    for (ds.First(); !ds.Eof(); ds.Next()) {
        const int i = ds.FieldByName(QStringLiteral("ID"))->AsInteger();
        const QVariantList &want = p.rows[i];
        for (int f = 1; f < 5; ++f)
            ASSERT_EQ(ds.Fields(f)->Value(), want[f]) << "row " << i << " field " << f;
        const QVariant t = ds.FieldByName(QStringLiteral("T"))->Value();
        if (!t.isNull()) {
            ASSERT_EQ(t.toDateTime().timeSpec(), Qt::LocalTime);
        }
    }

    // Ordered by the date-time (keys taken without building values) as by the values.
    std::vector<int> expected(3000);
    std::iota(expected.begin(), expected.end(), 0);
    auto key = [&p](int i) {
        const QVariant &v = p.rows[i][4];
        return v.isNull() ? std::numeric_limits<qint64>::min()
                          : v.toDateTime().date().toJulianDay() * 86400000
                                + v.toDateTime().time().msecsSinceStartOfDay();
    };
    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) { return key(a) < key(b); });
    ds.SetIndexFieldNames(QStringLiteral("T"));
    int pos = 0;
    for (ds.First(); !ds.Eof(); ds.Next(), ++pos)
        ASSERT_EQ(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), expected[size_t(pos)]) << "position " << pos;

    // Found by date-time; an edit of one row leaves the rows that shared its value alone.
    ds.SetIndexFieldNames(QString());
    ASSERT_TRUE(ds.Locate(QStringLiteral("T"), base.addSecs(61)));
    const int edited = ds.FieldByName(QStringLiteral("ID"))->AsInteger();
    EXPECT_EQ(edited, 1);
    ds.Edit();
    ds.FieldByName(QStringLiteral("T"))->SetAsDateTime(base.addDays(1));
    ds.FieldByName(QStringLiteral("LATE"))->SetAsString(QStringLiteral("改"));
    ds.Post();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("T"))->OldValue(), QVariant(base.addSecs(61)));
    ASSERT_TRUE(ds.Locate(QStringLiteral("ID"), 501)); // 501 % 500 == 1: the same time as row 1
    EXPECT_EQ(ds.FieldByName(QStringLiteral("T"))->AsDateTime(), base.addSecs(61));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("LATE"))->AsString(), QStringLiteral("L0"));
    ASSERT_TRUE(ds.Locate(QStringLiteral("ID"), 1));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("T"))->AsDateTime(), base.addDays(1));
    EXPECT_EQ(ds.ChangeCount(), 1);
}
