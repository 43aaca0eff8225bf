// The provider's packet written straight from the database's rows is byte for byte the
// packet of the typed rows, also for values that need the typed path (which it falls
// back to): the two ways of answering must never disagree.
#include "dataaccess/packet/packetstream.h"
#include "dataaccess/protocol/protocol.h"
#include "server/provider.h"
#include "testserver.h"

#include <QFile>
#include <QTemporaryDir>

#include <utility>

using namespace server;
using namespace server::test;

namespace {

void expectSameAnswer(Backend &backend, const QString &sql)
{
    auto c = backend.acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QByteArray typed = runProviderQuery(*c, sql).toBinary();
    const QByteArray direct = runProviderQueryBinary(*c, sql);
    EXPECT_EQ(direct.toHex().toStdString(), typed.toHex().toStdString()) << sql.toStdString();
    // And it reads back as a packet.
    EXPECT_NO_THROW(quillon::DataPacket::fromBinary(direct)) << sql.toStdString();
}

} // namespace

TEST(ProviderPacket, DirectAnswerEqualsTheTypedRowsOne)
{
    TestServer srv(30);
    for (const char *sql : {"select * from TAB_ACCOUNT where rownum<=200",
                            "select BILLCODE, WEIGHT, SCANTIME, PCS, BILLCODE from TAB_ACCOUNT",
                            "select BILLCODE \"BillCode\", PCS from TAB_ACCOUNT",
                            "select count(*), max(WEIGHT) from TAB_ACCOUNT",
                            "select * from TAB_ACCOUNT where 1=0",
                            "select * from tab_Site"})
        expectSameAnswer(*srv.backend, QString::fromUtf8(sql));
}

TEST(ProviderPacket, ValuesOutsideTheDeclaredTypeFallBackToTheTypedRows)
{
    if (onPostgres())
        GTEST_SKIP() << "PostgreSQL keeps every value in its column's type";
    TestServer srv(5);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral(
            "create table T_ODD (ID INTEGER, N INTEGER, S SMALLINT, F NUMBER(10,2), D DATE, "
            "T VARCHAR2(20), B BLOB, sysid VARCHAR2(3));"
            "insert into T_ODD values (1, 7, 1, 2.5, '2026-01-31 08:00:00', '普通', x'00ff', '001');"
            "insert into T_ODD values (2, 'abc', 1, 2.5, null, null, null, '001');"
            "insert into T_ODD values (3, 5000000000, 1, 2.5, null, null, null, '001');"
            "insert into T_ODD values (4, 1, 1, 'x', null, null, null, '001');"
            "insert into T_ODD values (5, 1, 1, 1, '2026-01-31', null, null, '001');"
            "insert into T_ODD values (6, 1, 1, 1, '2026-01-31 25:00:00', null, null, '001');"
            "insert into T_ODD values (7, 1, 1, 1, null, cast(x'c328' as text), null, '001');"
            "insert into T_ODD values (8, 1, 1, 1, null, cast(x'efbbbf41' as text), null, '001');"
            "insert into T_ODD values (9, 1, 1, 1, null, 12, 'text', '001');"
            "insert into T_ODD values (10, 1, 1, 1, null, cast(x'410042' as text), null, '001');"));
        c->finishSchema();
    }
    for (int id = 1; id <= 10; ++id)
        expectSameAnswer(*srv.backend, QStringLiteral("select * from T_ODD where ID=%1").arg(id));
    expectSameAnswer(*srv.backend, QStringLiteral("select * from T_ODD order by ID"));
    // A small integer beyond its range is refused either way.
    srv.backend->acquireForServer()->execute(QStringLiteral("insert into T_ODD values (11, 1, 40000, 1, null, null, null, '001')"));
    auto c = srv.backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const QString big = QStringLiteral("select S from T_ODD where ID=11");
    EXPECT_ANY_THROW(runProviderQuery(*c, big).toBinary());
    EXPECT_ANY_THROW(runProviderQueryBinary(*c, big));
}

// Three-byte characters are checked in one step: an overlong form, an encoded surrogate
// and a character cut off at the end must still send the cell through the typed rows,
// and good Chinese texts must come out as they are.
TEST(ProviderPacket, ThreeByteCharactersAreCheckedWholly)
{
    if (onPostgres())
        GTEST_SKIP() << "PostgreSQL refuses such bytes in a text column itself";
    TestServer srv(5);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral(
            "create table T_UTF (ID INTEGER, T VARCHAR2(40), sysid VARCHAR2(3));"
            "insert into T_UTF values (1, '上海浦东 abc 总部', '001');"
            "insert into T_UTF values (2, cast(x'e08080' as text), '001');"
            "insert into T_UTF values (3, cast(x'eda080' as text), '001');"
            "insert into T_UTF values (4, cast(x'41e4b8' as text), '001');"
            "insert into T_UTF values (5, cast(x'e4b8ade4' as text), '001');"
            "insert into T_UTF values (6, cast(x'efbfbf' as text), '001');"));
        c->finishSchema();
    }
    for (int id = 1; id <= 6; ++id)
        expectSameAnswer(*srv.backend, QStringLiteral("select * from T_UTF where ID=%1").arg(id));
    auto c = srv.backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const auto back = quillon::DataPacket::fromBinary(
        runProviderQueryBinary(*c, QStringLiteral("select T from T_UTF where ID=1")));
    EXPECT_EQ(back.rows.at(0).at(0).toString(), QStringLiteral("上海浦东 abc 总部"));
}

// A header larger than the room kept for it before the rows (many long column names)
// is written the other way, to the same bytes.
TEST(ProviderPacket, AWideHeaderGivesTheSameBytes)
{
    TestServer srv(5);
    QString columns, values;
    for (int i = 0; i < 240; ++i) {
        columns += QStringLiteral("COLUMN_WITH_A_RATHER_LONG_NAME_%1 VARCHAR2(10), ").arg(i);
        values += QStringLiteral("'v%1', ").arg(i);
    }
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral("create table T_WIDE (%1sysid VARCHAR2(3));"
                                        "insert into T_WIDE values (%2'001');"
                                        "insert into T_WIDE values (%2'001');")
                             .arg(columns, values));
        c->finishSchema();
    }
    expectSameAnswer(*srv.backend, QStringLiteral("select * from T_WIDE"));
    expectSameAnswer(*srv.backend, QStringLiteral("select * from TAB_ACCOUNT where rownum<=50"));
}

namespace {

// Reads a provider answer while it arrives, as the client's dataset does; notes whether
// the server sent its length up front (a whole answer) or streamed it (chunked).
struct StreamedAnswer : quillon::protocol::BodyReceiver
{
    StreamedAnswer() : reader(rows) {}
    void expect(qint64) override { sentWhole = true; }
    void receive(QByteArrayView bytes) override { reader.feed(bytes); }
    quillon::DataPacket read(quillon::protocol::Transport &t, const QString &sql)
    {
        t.provider(sql, QCborValue(), *this);
        reader.finish();
        return quillon::DataPacket::fromBinary(rows.packet());
    }
    // Collects what the reader hands on as a packet again.
    struct Rows : quillon::PacketSink
    {
        quillon::DataPacket p;
        QVariantList current;
        int begun = 0;
        QByteArray packet() const { return p.toBinary(); }
        void begin(const QList<quillon::FieldDef> &f, qsizetype) override
        {
            ++begun;
            p = {};
            p.fields = f;
        }
        void null(int) override { current.append(QVariant()); }
        bool text(int, QByteArrayView utf8) override
        {
            current.append(QString::fromUtf8(utf8));
            return true;
        }
        void integer(int f, qint64 v) override
        {
            current.append(p.fields[f].type == quillon::FieldType::LargeInt ? QVariant(qlonglong(v)) : QVariant(int(v)));
        }
        void real(int, double v) override { current.append(v); }
        void date(int, qint64 d) override { current.append(QDate::fromJulianDay(d)); }
        void time(int, int ms) override { current.append(QTime::fromMSecsSinceStartOfDay(ms)); }
        void dateTime(int, qint64 d, int ms) override
        {
            current.append(QDateTime(QDate::fromJulianDay(d), QTime::fromMSecsSinceStartOfDay(ms)));
        }
        void boolean(int, bool v) override { current.append(v); }
        void blob(int, QByteArrayView b) override { current.append(b.toByteArray()); }
        void endRow() override { p.rows.append(std::exchange(current, {})); }
        void row(QVariantList &&values) override { p.rows.append(std::move(values)); }
        void changes(QList<quillon::DataPacket::Change> &&) override {}
    } rows;
    quillon::PacketStreamReader reader;
    bool sentWhole = false;
};

// About 4,000 rows of a triple join (some 140 KB), streamed from 16 KB on.
const QString kJoin = QStringLiteral("select a.SiteCode, b.EmpCode, c.* from tab_Site a, tab_Employee b, "
                                     "tab_Mdd c where a.sysid='001' and b.sysid='001' order by 1, 2, 3");

void streamFrom16K(ServerOptions &o)
{
    o.streamAnswersFrom = 16 * 1024;
}

} // namespace

// A large answer read while it arrives is the whole answer's packet; on SQLite the server
// sends it while the rows are stepped (no length up front), small answers go whole.
TEST(StreamedAnswers, AStreamedAnswerIsTheWholeAnswer)
{
    TestServer srv(30, 3600, streamFrom16K);
    auto t = srv.client();
    const QByteArray whole = t->provider(kJoin, QCborValue());
    ASSERT_GT(whole.size(), 100 * 1024);
    StreamedAnswer big;
    EXPECT_EQ(big.read(*t, kJoin).toBinary().toHex().toStdString(), whole.toHex().toStdString());
    EXPECT_EQ(big.sentWhole, onPostgres()) << "SQLite streams the rows as it steps them";
    StreamedAnswer small;
    const QString one = QStringLiteral("select * from tab_Site where sysid='001'");
    EXPECT_EQ(small.read(*t, one).rows.size(), 12);
    EXPECT_TRUE(small.sentWhole);
    // The connection serves on after a streamed answer.
    EXPECT_EQ(query(*t, one).rows.size(), 12);
}

// A failure after the first rows went out (here the answer limit) reaches the client as
// that error with its text, never as a shorter answer; the connection serves on.
TEST(StreamedAnswers, AFailureInTheMiddleIsAnErrorNotAShortAnswer)
{
    TestServer srv(30, 3600, streamFrom16K);
    auto t = srv.client();
    srv.backend->setAnswerLimit({3000, 0}); // past the first pieces of about 16 KB
    StreamedAnswer answer;
    int status = 0;
    QString text;
    try {
        answer.read(*t, kJoin);
    } catch (const quillon::PacketAborted &e) {
        EXPECT_FALSE(onPostgres()) << "PostgreSQL answers whole";
        EXPECT_GT(answer.rows.p.rows.size(), 100) << "rows had gone out before the failure";
        status = e.status();
        text = e.text();
    } catch (const quillon::protocol::ProtocolError &e) {
        EXPECT_TRUE(onPostgres()) << "SQLite streams: the error comes inside the answer";
        status = e.status();
        text = e.message();
    }
    EXPECT_EQ(status, 413);
    EXPECT_TRUE(text.startsWith(QStringLiteral("查询结果过大"))) << qPrintable(text);
    srv.backend->setAnswerLimit({0, 0});
    StreamedAnswer again;
    EXPECT_EQ(again.read(*t, kJoin).rows.size(), quillon::DataPacket::fromBinary(t->provider(kJoin, QCborValue())).rows.size());
}

// A client that goes away in the middle of a streamed answer ends the server's stepping
// there (nobody reads the rest), frees the user's turns for statements, and the server
// serves on; the request log says the client left.
TEST(StreamedAnswers, AClientThatLeavesMidAnswerStopsTheQuery)
{
    QTemporaryDir dir;
    const QString logFile = dir.filePath(QStringLiteral("requests.log"));
    TestServer srv(30, 3600, [&](ServerOptions &o) {
        streamFrom16K(o);
        o.quiet = false;
        o.logFile = logFile;
    });
    auto t = srv.client();
    // Some 100,000 rows: far more than the first pieces.
    const QString big = QStringLiteral("select a.SiteCode, b.EmpCode, c.*, d.EmpName from tab_Site a, tab_Employee b, "
                                       "tab_Mdd c, tab_Employee d where a.sysid='001' and b.sysid='001'");
    struct Leaver : quillon::protocol::BodyReceiver
    {
        void expect(qint64) override {}
        void receive(QByteArrayView bytes) override
        {
            received += bytes.size();
            if (received > 32 * 1024)
                throw std::runtime_error("the clerk closed the window");
        }
        qint64 received = 0;
    };
    // More times than the user has turns for statements at once (3). PostgreSQL builds each
    // answer whole before a byte goes out, so once is enough there.
    for (int i = 0; i < (onPostgres() ? 1 : 5); ++i) {
        Leaver leaver;
        EXPECT_ANY_THROW(t->provider(big, QCborValue(), leaver));
        EXPECT_GT(leaver.received, 0);
    }
    const QString one = QStringLiteral("select * from tab_Site where sysid='001'");
    EXPECT_EQ(query(*t, one).rows.size(), 12);
    auto other = srv.client(QStringLiteral("201"), QStringLiteral("001.wang"));
    EXPECT_EQ(query(*other, one).rows.size(), 12);
    srv.http->stop();

    QFile f(logFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(f.readAll());
    // SQLite streams while it steps, and stops when the client has gone; PostgreSQL answers
    // whole, so its answers were complete before they went out.
    EXPECT_EQ(log.count(QStringLiteral("status=499 error=the client closed the connection")), onPostgres() ? 0 : 5)
        << qPrintable(log);
}

// A value that needs the typed rows, found after rows went out, makes the server start
// over with the typed answer: the client reads exactly that answer.
TEST(StreamedAnswers, ALateOddValueRestartsTheAnswer)
{
    if (onPostgres())
        GTEST_SKIP() << "PostgreSQL answers whole, through the typed rows";
    TestServer srv(5, 3600, streamFrom16K);
    {
        auto c = srv.backend->acquireForServer();
        c->executeScript(QStringLiteral("create table T_LATE (ID INTEGER, N INTEGER, T VARCHAR2(200), sysid VARCHAR2(3));"));
        c->begin();
        for (int i = 1; i <= 3000; ++i)
            c->execute(QStringLiteral("insert into T_LATE values (?, ?, ?, '001')"),
                       {i, i, QString(60, QChar(u'站'))});
        c->execute(QStringLiteral("insert into T_LATE values (3001, 5000000000, 'x', '001')"));
        c->commit();
        c->finishSchema();
        grantToEveryone(*c, QStringLiteral("T_LATE"), QStringLiteral("R"));
    }
    auto t = srv.client();
    const QString sql = QStringLiteral("select * from T_LATE order by ID");
    StreamedAnswer answer;
    const quillon::DataPacket got = answer.read(*t, sql);
    EXPECT_FALSE(answer.sentWhole);
    EXPECT_EQ(answer.rows.begun, 2) << "the first rows went out, then the answer started over";
    auto c = srv.backend->acquireForClient(ClientScope::wholeDeployment(QStringLiteral("001")));
    const quillon::DataPacket typed = runProviderQuery(*c, sql);
    EXPECT_EQ(got.toBinary().toHex().toStdString(), typed.toBinary().toHex().toStdString());
    EXPECT_EQ(got.rows.size(), 3001);
    EXPECT_EQ(got.fields.at(1).type, quillon::FieldType::LargeInt);
}
