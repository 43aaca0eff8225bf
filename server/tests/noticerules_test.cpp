// The notice board's database rules: read state filled by receipts, deletions that take a
// notice's rows and files with them, and the attachment-name column of older databases.
#include "server/noticerules.h"
#include "testserver.h"

#include <QCborArray>
#include <QDateTime>
#include <QDir>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::RowState;
using quillon::protocol::ProtocolError;

namespace {

class NoticeRules : public ::testing::Test
{
protected:
    void SetUp() override
    {
        srv = std::make_unique<TestServer>(5);
        // The administrator: deleting notices needs the notice management's grant.
        t = srv->client(QStringLiteral("000"), QStringLiteral("001.admin"));
    }

    int apply(const QString &table, const DataPacket &p)
    {
        try {
            t->callMethod(QStringLiteral("ApplyData"), {table, p.toXml(), 0, QCborValue()});
        } catch (const ProtocolError &e) {
            return e.status();
        }
        return 200;
    }
    static void insert(DataPacket &p, const QVariantMap &values)
    {
        QVariantList row;
        for (const auto &f : std::as_const(p.fields))
            row.append(values.value(f.name.toUpper()));
        p.rows.append(row);
        DataPacket::Change ch;
        ch.state = RowState::Inserted;
        ch.row = int(p.rows.size() - 1);
        p.changes.append(ch);
    }
    // Marks every row of the packet deleted.
    static void removeAll(DataPacket &p)
    {
        while (!p.rows.isEmpty()) {
            DataPacket::Change ch;
            ch.state = RowState::Deleted;
            ch.original = p.rows.takeFirst();
            p.changes.append(ch);
        }
    }
    DataPacket receipt(const QString &id, const QString &site, const QString &reader,
                       const QDateTime &when)
    {
        DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGREAD where 1=0"));
        insert(p, {{"MSGID", id}, {"MSGREADSITE", site}, {"MSGREADER", reader}, {"MSGREADTIME", when}});
        return p;
    }
    void exec(const QString &sql, const QVariantList &params = {})
    {
        auto c = srv->backend->acquireForServer();
        c->execute(sql, params);
    }
    // A notice with its recipient rows, stored directly.
    void notice(const QString &id, const QString &content, const QString &file,
                const QStringList &sites, const QList<QPair<QString, QString>> &emps,
                const QString &sysid = QStringLiteral("001"))
    {
        exec(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, MSGFILE, OPTIME, "
                            "sysid) values (?,?,?,?,?,?)"),
             {id, QStringLiteral("规则"), content, file, QDateTime::currentDateTime(), sysid});
        for (const QString &s : sites)
            exec(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, HASREAD, sysid) values (?,?,'0',?)"),
                 {id, s, sysid});
        for (const auto &e : emps)
            exec(QStringLiteral("insert into TAB_MSGEMP (MSGID, MSGEMP, MSGSITE, HASREAD, sysid) "
                                "values (?,?,?,'0',?)"),
                 {id, e.first, e.second, sysid});
    }
    QVariantList row(const QString &sql, const QVariantList &params = {})
    {
        return srv->native(sql, params).rows.value(0);
    }
    qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return row(sql, params).value(0).toLongLong();
    }
    QString serverFile(const QString &serverPath, const QByteArray &content = "x")
    {
        QString rel = serverPath;
        rel.replace(u'\\', u'/');
        const QString local = srv->dir.filePath(QStringLiteral("files/001/") + rel);
        QDir().mkpath(QFileInfo(local).path());
        QFile f(local);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return local;
    }

    std::unique_ptr<TestServer> srv;
    std::unique_ptr<quillon::protocol::Transport> t;
};

} // namespace

TEST_F(NoticeRules, AReceiptMarksTheReadersSiteAndHisOwnRowOnly)
{
    notice(QStringLiteral("N1"), QStringLiteral("正文"), QString(),
           {QStringLiteral("上海浦东"), QStringLiteral("北京朝阳")},
           {{QStringLiteral("马超"), QStringLiteral("上海浦东")},
            {QStringLiteral("宋佳"), QStringLiteral("北京朝阳")}});
    // The same key in another deployment stays untouched.
    notice(QStringLiteral("N1"), QStringLiteral("正文"), QString(), {QStringLiteral("上海浦东")},
           {{QStringLiteral("马超"), QStringLiteral("上海浦东")}}, QStringLiteral("002"));

    const QDateTime first(QDate(2026, 12, 7), QTime(9, 30, 0));
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                    receipt(QStringLiteral("N1"), QStringLiteral("上海浦东"), QStringLiteral("马超"), first)),
              200);
    const QVariantList site = row(QStringLiteral("select HASREAD, READTIME, READEMP from TAB_MSGSITE "
                                                 "where MSGID='N1' and MSGSITE='上海浦东' and sysid='001'"));
    EXPECT_EQ(site.value(0).toString(), QStringLiteral("1"));
    EXPECT_EQ(site.value(1).toDateTime(), first);
    EXPECT_EQ(site.value(2).toString(), QStringLiteral("马超"));
    const QVariantList emp = row(QStringLiteral("select HASREAD, READTIME from TAB_MSGEMP where MSGID='N1' "
                                                "and MSGEMP='马超' and sysid='001'"));
    EXPECT_EQ(emp.value(0).toString(), QStringLiteral("1"));
    EXPECT_EQ(emp.value(1).toDateTime(), first);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID='N1' and HASREAD='1'")), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGEMP where MSGID='N1' and HASREAD='1'")), 1);

    // A later reader of the same site leaves the site's first reader in place.
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                    receipt(QStringLiteral("N1"), QStringLiteral("上海浦东"), QStringLiteral("赵六"),
                            first.addSecs(600))),
              200);
    EXPECT_EQ(row(QStringLiteral("select READEMP, READTIME from TAB_MSGSITE where MSGID='N1' and "
                                 "MSGSITE='上海浦东' and sysid='001'")),
              (QVariantList{QStringLiteral("马超"), first}));

    // A receipt whose packet fails as a whole leaves no read state behind.
    DataPacket failing = receipt(QStringLiteral("N1"), QStringLiteral("北京朝阳"), QStringLiteral("宋佳"), first);
    insert(failing, {{"MSGID", "N1"}, {"MSGREADSITE", "上海浦东"}, {"MSGREADER", "马超"}, {"MSGREADTIME", first}});
    EXPECT_EQ(apply(QStringLiteral("TAB_MSGREAD"), failing), 409);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID='N1' and MSGSITE='北京朝阳' "
                                   "and HASREAD='1'")),
              0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGEMP where MSGEMP='宋佳' and HASREAD='1'")), 0);
}

// The rule's marks are changes of TAB_MSGSITE / TAB_MSGEMP like any other: when those
// tables are logged, each mark is one update row of the log, in the receipt's transaction.
TEST_F(NoticeRules, ReadMarksOfAReceiptAreLoggedWhereTheirTablesAre)
{
    notice(QStringLiteral("N2"), QStringLiteral("正文"), QString(),
           {QStringLiteral("上海浦东"), QStringLiteral("北京朝阳")},
           {{QStringLiteral("马超"), QStringLiteral("上海浦东")}});
    auto logRows = [&](qlonglong after) {
        return srv->native(QStringLiteral("select tablename, key, key1, key2, optype, content, opemp, "
                                          "opnote from sys_log where id > ? and tablename in "
                                          "('TAB_MSGSITE', 'TAB_MSGEMP') order by id"),
                           {after})
            .rows;
    };
    const QDateTime first(QDate(2026, 12, 7), QTime(9, 30, 0));
    // Not logged: the receipt marks, the log stays as it was.
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                    receipt(QStringLiteral("N2"), QStringLiteral("北京朝阳"), QStringLiteral("宋佳"), first)),
              200);
    EXPECT_TRUE(logRows(0).isEmpty());

    exec(QStringLiteral("insert into SYS_TABLES (TABLENAME, sysid) values ('TAB_MSGSITE', '001')"));
    exec(QStringLiteral("insert into SYS_TABLES (TABLENAME, sysid) values ('TAB_MSGEMP', '001')"));
    const qlonglong before = count(QStringLiteral("select coalesce(max(id), 0) from sys_log"));
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                    receipt(QStringLiteral("N2"), QStringLiteral("上海浦东"), QStringLiteral("马超"), first)),
              200);
    const QList<QVariantList> rows = logRows(before);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).mid(0, 3),
              (QVariantList{QStringLiteral("TAB_MSGSITE"), QStringLiteral("N2"), QStringLiteral("上海浦东")}));
    EXPECT_TRUE(rows.at(0).at(3).toString().isEmpty());
    EXPECT_EQ(rows.at(0).at(4).toString(), QStringLiteral("UPT"));
    EXPECT_EQ(rows.at(0).at(5).toString(),
              QStringLiteral("HASREAD: 0 -> 1; READTIME: (空) -> 2026-12-07 09:30:00; READEMP: (空) -> 马超"));
    EXPECT_EQ(rows.at(1).mid(0, 3),
              (QVariantList{QStringLiteral("TAB_MSGEMP"), QStringLiteral("N2"), QStringLiteral("马超")}));
    EXPECT_EQ(rows.at(1).at(5).toString(),
              QStringLiteral("HASREAD: 0 -> 1; READTIME: (空) -> 2026-12-07 09:30:00"));
    // Who did it: the session that sent the receipt.
    const QString admin = row(QStringLiteral("select EMPNAME from sys_user where USERCODE='001.admin'")).value(0).toString();
    EXPECT_EQ(rows.at(0).at(6).toString(), admin);
    EXPECT_FALSE(rows.at(0).at(7).toString().isEmpty());

    // A second reader of the site changes nothing of the site row: nothing more is logged.
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                    receipt(QStringLiteral("N2"), QStringLiteral("上海浦东"), QStringLiteral("赵六"),
                            first.addSecs(60))),
              200);
    EXPECT_EQ(logRows(before).size(), 2);
    auto c = srv->backend->acquireForServer();
    for (const OpLogAudit &a : verifyOpLog(*c))
        EXPECT_TRUE(a.intact) << qPrintable(a.sysid + QLatin1Char(' ') + a.problem);
}

TEST_F(NoticeRules, ADeletedNoticeTakesItsRowsAndItsFilesAfterCommit)
{
    const QString body = QStringLiteral("notice\\20261207\\20261207090000_{D1}.rtf");
    const QString attachment = QStringLiteral("notice\\20261207\\20261207090000_{D1}.xls");
    const QString shared = QStringLiteral("notice\\20261207\\20261207090000_{SHARED}.doc");
    const QString older = QStringLiteral("MSGData\\D4.doc");
    const QString bodyFile = serverFile(body), attachmentFile = serverFile(attachment);
    const QString sharedFile = serverFile(shared), olderFile = serverFile(older);
    const QList<QPair<QString, QString>> emp{{QStringLiteral("马超"), QStringLiteral("上海浦东")}};
    notice(QStringLiteral("D1"), body, attachment, {QStringLiteral("北京朝阳")}, emp);
    notice(QStringLiteral("D2"), QStringLiteral("留着"), shared, {QStringLiteral("北京朝阳")}, emp);
    notice(QStringLiteral("D3"), QStringLiteral("同一附件"), shared, {QStringLiteral("北京朝阳")}, {});
    notice(QStringLiteral("D4"), older, QString(), {QStringLiteral("北京朝阳")}, {});
    for (const char *id : {"D1", "D2"})
        ASSERT_EQ(apply(QStringLiteral("TAB_MSGREAD"),
                        receipt(QString::fromLatin1(id), QStringLiteral("上海浦东"), QStringLiteral("马超"),
                                QDateTime::currentDateTime())),
                  200);

    // A deletion that fails as a whole keeps rows and files: nothing was committed.
    DataPacket failing = query(*t, QStringLiteral("select * from TAB_MSGRECORD where MSGID='D1'"));
    removeAll(failing);
    DataPacket::Change ghost = failing.changes.first();
    ghost.original[failing.fieldIndex(QStringLiteral("MSGID"))] = QStringLiteral("NONE");
    failing.changes.append(ghost);
    EXPECT_EQ(apply(QStringLiteral("TAB_MSGRECORD"), failing), 409);
    EXPECT_TRUE(QFileInfo::exists(bodyFile));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGSITE where MSGID='D1'")), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_filepurge")), 0);

    DataPacket p = query(*t, QStringLiteral("select * from TAB_MSGRECORD where MSGID in ('D1','D3','D4') "
                                            "and sysid='001'"));
    ASSERT_EQ(p.rows.size(), 3);
    removeAll(p);
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGRECORD"), p), 200);
    for (const char *table : {"TAB_MSGSITE", "TAB_MSGEMP", "TAB_MSGREAD"}) {
        EXPECT_EQ(count(QStringLiteral("select count(*) from %1 where MSGID in ('D1','D3','D4')")
                            .arg(QLatin1String(table))),
                  0)
            << table;
        EXPECT_EQ(count(QStringLiteral("select count(*) from %1 where MSGID='D2'").arg(QLatin1String(table))), 1)
            << table;
    }
    EXPECT_FALSE(QFileInfo::exists(bodyFile));
    EXPECT_FALSE(QFileInfo::exists(attachmentFile));
    EXPECT_TRUE(QFileInfo::exists(sharedFile)) << "still the attachment of D2";
    EXPECT_TRUE(QFileInfo::exists(olderFile)) << "not a file of the current layout";
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_filepurge")), 0);
}

TEST_F(NoticeRules, ClientsCannotQueueFilesOrReachOutsideTheArea)
{
    EXPECT_THROW(query(*t, QStringLiteral("select * from sys_filepurge")), ProtocolError);
    DataPacket p = query(*t, QStringLiteral("select MSGFILE as PATH, OPTIME as QUEUED, sysid from "
                                            "TAB_MSGRECORD where 1=0"));
    insert(p, {{"PATH", "notice\\x.rtf"}});
    EXPECT_EQ(apply(QStringLiteral("sys_filepurge"), p), 403);

    // A notice row that names a path outside the file area: deleting it removes nothing there.
    const QString outside = srv->dir.filePath(QStringLiteral("keep.txt"));
    QFile f(outside);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    notice(QStringLiteral("E1"), QStringLiteral("notice\\..\\..\\keep.txt"),
           QStringLiteral("notice\\..\\keep.txt"), {}, {});
    DataPacket del = query(*t, QStringLiteral("select * from TAB_MSGRECORD where MSGID='E1'"));
    removeAll(del);
    ASSERT_EQ(apply(QStringLiteral("TAB_MSGRECORD"), del), 200);
    EXPECT_TRUE(QFileInfo::exists(outside));
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_filepurge")), 0);
}

TEST_F(NoticeRules, OlderDatabasesGainTheAttachmentNameColumn)
{
    QTemporaryDir dir;
    auto backend = Backend::open(testDatabase(dir, QStringLiteral("old.sqlite")), true);
    auto c = backend->acquireForServer();
    c->executeScript(QStringLiteral("create table TAB_MSGRECORD (MSGID VARCHAR2(30) not null, "
                                    "MSGOBJECT VARCHAR2(100), MSGCONTENT VARCHAR2(4000), "
                                    "MSGFILE VARCHAR2(400), MSGTYPE VARCHAR2(10), OPTIME DATE, "
                                    "OPSITE VARCHAR2(50), OPEMP VARCHAR2(30), CLOSEDATE DATE, "
                                    "sysid VARCHAR2(3) not null, primary key (MSGID, sysid))"));
    createSchema(*c);
    createSchema(*c); // a second run changes nothing
    EXPECT_GE(c->tableInfo(QStringLiteral("TAB_MSGRECORD")).columnIndex(QStringLiteral("MSGFILENAME")), 0);
}
