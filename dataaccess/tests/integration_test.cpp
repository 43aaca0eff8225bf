// The client library against the application server, started in-process on an ephemeral
// loopback port with a temporary SQLite database holding a small demo deployment.
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "dataaccess/protocol/transport.h"
#include "dataaccess/servermethods.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QFile>
#include <QTemporaryDir>

#include <set>

using namespace quillon;

namespace {

class Server : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_backend = server::Backend::open(s_dir->filePath(QStringLiteral("t.sqlite")), true).release();
        {
            auto c = s_backend->acquireForServer();
            server::createSchema(*c);
            server::SeedOptions o;
            o.waybills = 20;
            o.fastHash = true;
            server::seedDemo(*c, o);
            // A table of decimals with and without a scale, made with the schema so that
            // the connections' row filters know it.
            c->executeScript(QStringLiteral(
                "create table T_DECIMAL (ID INTEGER not null, AMOUNT NUMBER(12,2), "
                "RATIO NUMBER, sysid VARCHAR2(3) not null, primary key (ID, sysid));"));
            c->finishSchema();
            // Every user of the deployment may write the test's own table.
            c->execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                      "values ('*', 'T_DECIMAL', 'RIUD', '001')"));
        }
        server::ServerOptions options;
        options.port = 0;
        options.threads = 2;
        options.quiet = true;
        options.streamAnswersFrom = 16 * 1024; // the test's larger answers go out streamed
        s_server = new server::HttpServer(*s_backend, s_dir->filePath(QStringLiteral("files")), options);
        s_server->start();
    }
    static void TearDownTestSuite()
    {
        s_server->stop();
        delete s_server;
        delete s_backend;
        delete s_dir;
    }

    // A connection as the log-on leaves it: user 001.zhang of site 101.
    static void logOnValues(TMySktConnection &c)
    {
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(s_server->port());
        c.SetSiteCode(QStringLiteral("101"));
        c.SetUsername(QStringLiteral("001.zhang"));
        c.SetPassword(QString::fromLatin1(server::kDemoPassword));
    }

    QString local(const QString &name) const { return m_tmp.filePath(name); }
    QString writeTemp(const QByteArray &content)
    {
        const QString path = local(QStringLiteral("src%1.bin").arg(++m_files));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
        return path;
    }
    int m_files = 0;
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_tmp;
    static inline QTemporaryDir *s_dir = nullptr;
    static inline server::Backend *s_backend = nullptr;
    static inline server::HttpServer *s_server = nullptr;
};

// Local ports of this process's established TCP connections to a server port.
std::set<int> clientPorts(int serverPort)
{
    std::set<int> ports;
    QFile f(QStringLiteral("/proc/self/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return ports;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cols = lines[i].simplified().split(' ');
        if (cols.size() < 4 || cols[3] != "01")
            continue;
        const int local = cols[1].split(':').value(1).toInt(nullptr, 16);
        const int remote = cols[2].split(':').value(1).toInt(nullptr, 16);
        if (remote == serverPort)
            ports.insert(local);
    }
    return ports;
}

} // namespace

TEST_F(Server, ReopeningKeepsTheKeepAliveSocketUntilCredentialsChange)
{
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(QStringLiteral("select * from tab_Mdd where sysid='001'"));
    ds.Open(); // opens, fetches, closes
    const std::set<int> first = clientPorts(s_server->port());
    ASSERT_EQ(first.size(), 1u);
    for (int i = 0; i < 3; ++i) {
        ds.Close();
        ds.Open();
    }
    EXPECT_EQ(clientPorts(s_server->port()), first);
    EXPECT_EQ(c.logOnCount(), 1);
    c.SetUsername(QStringLiteral("001.li"));
    c.SetSiteCode(QStringLiteral("100"));
    ds.Close();
    ds.Open();
    EXPECT_EQ(c.logOnCount(), 2);
    const std::set<int> after = clientPorts(s_server->port());
    EXPECT_EQ(after.size(), 1u);
    EXPECT_NE(after, first); // a new user gets a new socket
}

TEST_F(Server, ReopeningWithUnchangedCredentialsKeepsTheSession)
{
    TMySktConnection c;
    logOnValues(c);
    c.Open();
    EXPECT_TRUE(c.Connected());
    EXPECT_EQ(c.logOnCount(), 1);
    EXPECT_EQ(c.logOnInfo().value(QStringLiteral("sysid")).toString(), u"001");
    const QString token = c.DBXConnection()->token();
    c.Close();
    EXPECT_EQ(c.DBXConnection(), nullptr);
    c.Open();
    EXPECT_EQ(c.logOnCount(), 1);
    EXPECT_EQ(c.DBXConnection()->token(), token);

    // Same password: stays open. Another one: closes, and the next open logs on anew.
    c.SetPassword(QString::fromLatin1(server::kDemoPassword));
    EXPECT_TRUE(c.Connected());
    c.SetPassword(QStringLiteral("wrong"));
    EXPECT_FALSE(c.Connected());
    EXPECT_THROW(c.Open(), protocol::ProtocolError);
    EXPECT_FALSE(c.Connected());
    c.SetPassword(QString::fromLatin1(server::kDemoPassword));
    c.Open();
    EXPECT_EQ(c.logOnCount(), 2);
    // Another site is another session, though the setter keeps the connection open.
    c.SetSiteCode(QStringLiteral("100"));
    EXPECT_TRUE(c.Connected());
    c.Close();
    EXPECT_THROW(c.Open(), protocol::ProtocolError); // 001.zhang does not belong to site 100
}

TEST_F(Server, ProxyIsReplacedPerReadAndFreesWhatItOwns)
{
    TMySktConnection c;
    logOnValues(c);
    c.Open();
    TfrmServerMethodsClient *p = c.GetClientMethods();
    EXPECT_EQ(p->EchoString(QStringLiteral("回声")), u"回声");
    EXPECT_EQ(p->ReverseString(QStringLiteral("abc")), u"cba");
    EXPECT_EQ(p->preparedCount(QStringLiteral("EchoString")), 1);
    p->EchoString(QStringLiteral("again"));
    EXPECT_EQ(p->preparedCount(QStringLiteral("EchoString")), 1);
    p->DSServerModuleCreate(nullptr); // an absent sender travels as null
    auto *sender = new QObject;
    sender->setObjectName(QStringLiteral("frm"));
    QPointer<QObject> watch(sender);
    p->DSServerModuleDestroy(sender);
    EXPECT_TRUE(watch.isNull()); // the proxy owns instances: freed once marshalled
    QVariant owner(5);
    p->dspPublicBeforeGetRecords(nullptr, owner);

    ASSERT_TRUE(c.MyClientToServer(writeTemp(QByteArray("payload")), QStringLiteral("t\\p.bin")));
    TfrmServerMethodsClient *q = c.GetClientMethods();
    QPointer<QIODevice> stream(q->DownloadByStream(QStringLiteral("t\\p.bin")));
    TJSONArray *out = nullptr;
    ASSERT_TRUE(q->MyUpDownFile(QStringLiteral("t\\p.bin"), new TJSONArray, out, 1));
    QPointer<TJSONArray> array(out);
    EXPECT_EQ(stream->readAll(), QByteArray("payload"));
    EXPECT_EQ(array->Count(), 7);
    EXPECT_EQ(array->Get(0), int('p'));
    c.iClientMethods(); // the next proxy frees the previous one with its results
    EXPECT_TRUE(stream.isNull());
    EXPECT_TRUE(array.isNull());
}

TEST_F(Server, FilesTravelWholeBothWays)
{
    TMySktConnection c;
    logOnValues(c);
    const QByteArray big = QByteArray(200000, 'x') + QByteArray("\x00\xff\x7f", 3);
    struct Case
    {
        QByteArray content;
        bool byStream;
    };
    for (const Case &k : {Case{QByteArray(), false}, Case{big, false}, Case{QByteArray(), true},
                          Case{big, true}}) {
        const QString src = writeTemp(k.content);
        const QString dst = local(QStringLiteral("down.bin"));
        QFile::remove(dst);
        const QString server = QStringLiteral("att\\f%1.bin").arg(k.byStream);
        if (k.byStream) {
            c.Open(); // the stream operations need an open connection
            ASSERT_TRUE(c.MyClientToServerByStream(src, server));
            ASSERT_TRUE(c.MyServerToClientByStream(server, dst));
        } else {
            c.Close(); // these open it themselves
            ASSERT_TRUE(c.MyClientToServer(src, server));
            ASSERT_TRUE(c.MyServerToClient(server, dst));
        }
        EXPECT_EQ(readFile(dst), k.content) << k.byStream << " " << k.content.size();
    }
    EXPECT_FALSE(c.MyGetLstFile(QStringLiteral("att")).isEmpty());
    EXPECT_FALSE(c.MyGetFileVer(QStringLiteral("att\\f0.bin")).isEmpty());

    // A refused download leaves the local file as it was.
    const QString keep = local(QStringLiteral("keep.txt"));
    writeFile(keep, "mine");
    EXPECT_FALSE(c.MyServerToClient(QStringLiteral("att\\none.bin"), keep));
    EXPECT_EQ(readFile(keep), QByteArray("mine"));
    EXPECT_THROW(c.MyServerToClientByStream(QStringLiteral("att\\none.bin"), keep), protocol::ProtocolError);
    EXPECT_EQ(readFile(keep), QByteArray("mine"));
    // A path that leaves the file area is refused by the server.
    EXPECT_THROW(c.MyClientToServer(keep, QStringLiteral("..\\evil.txt")), protocol::ProtocolError);
    // A missing local source fails before any call.
    EXPECT_THROW(c.MyClientToServer(local(QStringLiteral("nope")), QStringLiteral("x")), ConnectionError);
    // On a closed connection the stream operations have no driver to work on.
    c.Close();
    EXPECT_THROW(c.MyServerToClientByStream(QStringLiteral("att\\f1.bin"), keep), ConnectionError);
}

TEST_F(Server, GetDataAndItsErrorPrefix)
{
    TMySktConnection c;
    logOnValues(c);
    const DataPacket p = c.MyGetData(QStringLiteral("select SiteCode, SiteName from tab_Site where sysid='001'"));
    EXPECT_GT(p.rows.size(), 3);
    EXPECT_EQ(p.fieldIndex(QStringLiteral("sitename")), 1);
    try {
        c.MyGetData(QStringLiteral("select * from no_such_table"));
        FAIL() << "no error";
    } catch (const ConnectionError &e) {
        EXPECT_TRUE(e.message().startsWith(u"错误信息：")) << e.message().toStdString();
        EXPECT_GT(e.message().size(), 14);
        // The user reads Chinese advice; the server's text is kept as the detail.
        EXPECT_FALSE(e.message().contains(QStringLiteral("no_such_table"))) << e.message().toStdString();
        EXPECT_TRUE(e.details().contains(QStringLiteral("no_such_table"), Qt::CaseInsensitive))
            << e.details().toStdString();
    }
    EXPECT_FALSE(c.MyGetLstValue(QStringLiteral("sysid")).isNull());
}

TEST_F(Server, DatasetOpensThroughTheProviderAndClosesTheConnection)
{
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(QStringLiteral("select * from tab_Site where sysid='001'"));
    ds.Open();
    EXPECT_GT(ds.RecordCount(), 3);
    EXPECT_FALSE(c.Connected());
    EXPECT_TRUE(ds.Locate(QStringLiteral("SiteName"), QStringLiteral("总部")));
    ds.Close();
    ds.SetTag(1);
    ds.Open();
    EXPECT_TRUE(c.Connected());
    EXPECT_EQ(c.logOnCount(), 1);

    // The fee call: typed parameters named "1".."n", and the result read as a field.
    TMyDataSet tmp;
    tmp.SetMyConn(&c);
    tmp.SetCommandText(QStringLiteral(" begin select :1 || '-' || :2 as wResult, :3 + 1 as N from dual; end;"));
    tmp.ClearParams();
    tmp.CreateParam(FieldType::String, QStringLiteral("1"), QStringLiteral("总部"));
    tmp.CreateParam(FieldType::String, QStringLiteral("2"), QStringLiteral("x"));
    tmp.CreateParam(FieldType::Integer, QStringLiteral("3"), 41);
    tmp.Execute();
    EXPECT_EQ(tmp.FieldByName(QStringLiteral("WRESULT"))->AsString(), u"总部-x");
    EXPECT_EQ(tmp.FieldByName(QStringLiteral("n"))->AsInteger(), 42);

    // Refresh re-fetches and keeps the record number; pending changes forbid it.
    ds.SetRecNo(3);
    ds.Refresh();
    EXPECT_EQ(ds.RecNo(), 3);
    ds.Edit();
    ds.FieldByName(QStringLiteral("PHONE"))->SetAsString(QStringLiteral("1"));
    ds.Post();
    EXPECT_THROW(ds.Refresh(), DataSetError);
    EXPECT_EQ(ds.ChangeCount(), 1);
    ds.EmptyDataSet();
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_NE(ds.FindField(QStringLiteral("SITENAME")), nullptr);

    ds.Close();
    ds.SetCommandText(QStringLiteral("select * from no_such_table"));
    EXPECT_THROW(ds.Open(), protocol::ProtocolError);
    EXPECT_FALSE(ds.Active());
}

TEST_F(Server, AClosedLoadIsFreedByTheNextAnswerOrAtTheNextTurnOfTheEventLoop)
{
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetTag(1);
    ds.SetCommandText(QStringLiteral("select * from tab_Site where sysid='001'"));
    ds.Open();
    // A text held outside shares its characters with the dataset's storage while that lives.
    QString name = ds.FieldByName(QStringLiteral("SiteName"))->AsString();
    EXPECT_FALSE(name.isDetached());
    ds.Close();
    ds.Open(); // a refresh: the old load goes once the new rows begin to come
    EXPECT_TRUE(name.isDetached());

    name = ds.FieldByName(QStringLiteral("SiteName"))->AsString();
    EXPECT_FALSE(name.isDetached());
    ds.Close(); // closed for good: freed at the next turn of the event loop, not kept
    QCoreApplication::processEvents();
    EXPECT_TRUE(name.isDetached());
    EXPECT_FALSE(ds.Active());
}

TEST_F(Server, ApplyUpdatesReplacesTheChangeLogAndKeepsTheCurrentRow)
{
    TMySktConnection c;
    logOnValues(c);
    // Changing receipts needs the notice management's grant, which the administrator holds.
    c.SetSiteCode(QStringLiteral("000"));
    c.SetUsername(QStringLiteral("001.admin"));
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(QStringLiteral("select * from TAB_MSGREAD where sysid='001' and MSGID like 'T%'"));
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 0);
    for (int i = 1; i <= 3; ++i) {
        ds.Append();
        ds.FieldByName(QStringLiteral("MSGID"))->SetAsString(QStringLiteral("T%1").arg(i));
        ds.FieldByName(QStringLiteral("MSGREADSITE"))->SetAsString(QStringLiteral("总部"));
        ds.FieldByName(QStringLiteral("MSGREADER"))->SetAsString(QStringLiteral("马超"));
        ds.FieldByName(QStringLiteral("MSGREADTIME"))->SetAsDateTime(QDateTime(QDate(2026, 12, 1), QTime(9, 0)));
        ds.FieldByName(QStringLiteral("SYSID"))->SetAsString(QStringLiteral("001"));
        ds.Post();
    }
    ds.SetRecNo(2);
    EXPECT_EQ(ds.ApplyUpdates(0), 0);
    EXPECT_EQ(ds.ChangeCount(), 0);
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("MSGID"))->AsString(), u"T2");
    EXPECT_FALSE(ds.ControlsDisabled());

    // Edit and delete, apply, and read back from the server.
    ds.Edit();
    ds.FieldByName(QStringLiteral("MSGREADER"))->SetAsString(QStringLiteral("宋佳"));
    ds.Post();
    ds.First();
    ds.Delete();
    ds.Last();
    ds.ApplyUpdates(0);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("MSGID"))->AsString(), u"T3");
    ds.Close();
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 2);
    ASSERT_TRUE(ds.Locate(QStringLiteral("MSGID"), QStringLiteral("T2")));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("MSGREADER"))->AsString(), u"宋佳");

    // A refused apply raises, keeps the change log and the row, and enables the controls.
    ds.Append();
    ds.FieldByName(QStringLiteral("MSGID"))->SetAsString(QStringLiteral("T2"));
    ds.FieldByName(QStringLiteral("MSGREADSITE"))->SetAsString(QStringLiteral("总部"));
    ds.FieldByName(QStringLiteral("MSGREADER"))->SetAsString(QStringLiteral("宋佳"));
    ds.FieldByName(QStringLiteral("SYSID"))->SetAsString(QStringLiteral("001"));
    ds.Post();
    ds.First();
    const TBookmark here = ds.GetBookmark();
    EXPECT_THROW(ds.ApplyUpdates(0), protocol::ProtocolError);
    EXPECT_EQ(ds.ChangeCount(), 1);
    EXPECT_EQ(ds.GetBookmark(), here);
    EXPECT_FALSE(ds.ControlsDisabled());
    ds.CancelUpdates();
    EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(Server, ConnectionParametersAreWrittenInOrderEvenWhenTheServerIsAway)
{
    TMySktConnection c;
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(1); // nothing listens there
    c.setTimeout(2000);
    c.SetSiteCode(QStringLiteral("999"));
    c.Params() << QStringLiteral("Database=old") << QStringLiteral("User_Name=old")
               << QStringLiteral("Password=old");
    EXPECT_THROW(c.Open(), protocol::ProtocolError);
    EXPECT_FALSE(c.Connected());
    // Empty server name, user and password leave the old values in place.
    EXPECT_EQ(c.ParamValue(QStringLiteral("Database")), u"old");
    EXPECT_EQ(c.ParamValue(QStringLiteral("User_Name")), u"old");
    EXPECT_EQ(c.ParamValue(QStringLiteral("Password")), u"old");
    EXPECT_EQ(c.ParamValue(QStringLiteral("DBSid")), u"1");
    EXPECT_EQ(c.ParamValue(QStringLiteral("HostName")), u"127.0.0.1");
    EXPECT_EQ(c.ParamValue(QStringLiteral("Port")), u"1");
    EXPECT_EQ(c.ParamValue(QStringLiteral("SiteCode")), u"999");
    const QString auth = c.ParamValue(QStringLiteral("DSAuthenticationUser"));
    const QStringList parts = auth.split(QChar(0x0E));
    ASSERT_EQ(parts.size(), 4);
    EXPECT_EQ(parts[0], c.MACName());
    EXPECT_EQ(parts[1], u"1");
    EXPECT_EQ(parts[2], u"999");
    EXPECT_EQ(parts[3], u"");
    EXPECT_EQ(auth.size(), 12 + 1 + 1 + 1 + 3 + 1);
    const QStringList order = {QStringLiteral("DBSid"), QStringLiteral("ClientMAC"), QStringLiteral("HostName"),
                               QStringLiteral("Port"), QStringLiteral("SiteCode"),
                               QStringLiteral("DSAuthenticationUser"), QStringLiteral("DSAuthenticationPassword")};
    QStringList names;
    for (const QString &line : c.Params())
        names << line.section(u'=', 0, 0);
    EXPECT_EQ(names.mid(3), order);

    c.SetUsername(QStringLiteral("001.zhang"));
    c.SetPassword(QStringLiteral("pw"));
    c.SetServerName(QStringLiteral("db"));
    EXPECT_THROW(c.Open(), protocol::ProtocolError);
    EXPECT_EQ(c.ParamValue(QStringLiteral("Database")), u"db");
    EXPECT_EQ(c.ParamValue(QStringLiteral("User_Name")), u"001.zhang");
    EXPECT_EQ(c.ParamValue(QStringLiteral("DSAuthenticationPassword")), u"pw");
    EXPECT_TRUE(c.ParamValue(QStringLiteral("DSAuthenticationUser")).endsWith(u"\x0e" "001.zhang"));
}

TEST_F(Server, TheFeeCallTakesFifteenTypedParametersAndAnswersAField)
{
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet cdsTmp;
    cdsTmp.SetMyConn(&c);
    auto fee = [&](const QString &dest, double weight) {
        cdsTmp.Close();
        cdsTmp.SetCommandText(QStringLiteral(
            " begin select F_CalcJSFee( Pi_FirstSite=>:1,Pi_Dest=>:2,Pi_FeeType=>:3,Pi_PCS=>:4,"
            "Pi_Weight=>:5,Pi_BulkWeight=>:6, Pi_FastType=>:7,Pi_GoodsType=>:8,Pi_SevrType=>:9,"
            "Pi_TransType=>:10,Pi_Finance=>:11, Pi_OpSite=>:12,Pi_CusName=>:13,Pi_ValidTime=>:14,"
            "Pi_sysid=>:15 ) as wResult from dual; end;"));
        cdsTmp.ClearParams();
        const QVariantList values = {QStringLiteral("总部"), dest, QStringLiteral("派件费"), 1, weight, weight,
                                     QString(), QString(), QString(), QString(), QStringLiteral("北京中心"),
                                     QStringLiteral("总部"), QString(),
                                     QDateTime(QDate(2026, 12, 1), QTime(10, 0)), QStringLiteral("001")};
        const QList<FieldType> types = {FieldType::String, FieldType::String, FieldType::String,
                                        FieldType::Integer, FieldType::Float, FieldType::Float,
                                        FieldType::String, FieldType::String, FieldType::String,
                                        FieldType::String, FieldType::String, FieldType::String,
                                        FieldType::String, FieldType::DateTime, FieldType::String};
        for (int i = 0; i < 15; ++i)
            cdsTmp.CreateParam(types[i], QString::number(i + 1), values[i]);
        cdsTmp.Execute();
        return cdsTmp.FieldByName(QStringLiteral("wResult"))->AsFloat();
    };
    const double other = fee(QStringLiteral("上海"), 10);
    const double shenzhen = fee(QStringLiteral("深圳"), 10);
    EXPECT_GT(other, 0);
    EXPECT_NE(shenzhen, other); // 深圳 has a rule of its own
    EXPECT_LT(fee(QStringLiteral("上海"), 1), other);
    EXPECT_FALSE(c.Connected()); // Tag 0: closed after each call
    EXPECT_EQ(c.logOnCount(), 1);
}

TEST_F(Server, ApplyUpdatesKeepsEveryDigitOfDecimals)
{
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(QStringLiteral("select * from T_DECIMAL where sysid='001' order by ID"));
    ds.Open();
    const QList<QPair<double, double>> values = {{12345.67, 0.1 + 0.2}, {1234567.89, 1.0 / 3.0},
                                                 {9999999999.99, 123456789.123456789}};
    for (int i = 0; i < values.size(); ++i) {
        ds.Append();
        ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(i + 1);
        ds.FieldByName(QStringLiteral("AMOUNT"))->SetAsFloat(values[i].first);
        ds.FieldByName(QStringLiteral("RATIO"))->SetAsFloat(values[i].second);
        ds.FieldByName(QStringLiteral("SYSID"))->SetAsString(QStringLiteral("001"));
        ds.Post();
    }
    // Typed in as text, as an edit control hands it over.
    ds.Append();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(4);
    ds.FieldByName(QStringLiteral("AMOUNT"))->SetAsString(QStringLiteral("7654321.09"));
    ds.FieldByName(QStringLiteral("SYSID"))->SetAsString(QStringLiteral("001"));
    ds.Post();
    ds.ApplyUpdates(0);

    auto expectExact = [&](const char *where) {
        ASSERT_EQ(ds.RecordCount(), 4) << where;
        ds.First();
        for (int i = 0; i < values.size(); ++i, ds.Next()) {
            EXPECT_EQ(ds.FieldByName(QStringLiteral("AMOUNT"))->AsFloat(), values[i].first) << where;
            EXPECT_EQ(ds.FieldByName(QStringLiteral("RATIO"))->AsFloat(), values[i].second) << where;
        }
        EXPECT_EQ(ds.FieldByName(QStringLiteral("AMOUNT"))->AsFloat(), 7654321.09) << where;
    };
    expectExact("after ApplyUpdates");
    ds.Close();
    ds.Open();
    expectExact("after a fresh open");

    // An edit of such a row is applied (its originals match the stored values) and kept.
    ds.SetRecNo(2);
    ds.Edit();
    ds.FieldByName(QStringLiteral("AMOUNT"))->SetAsFloat(2345678.91);
    ds.Post();
    ds.ApplyUpdates(0);
    ds.Close();
    ds.Open();
    ds.SetRecNo(2);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("AMOUNT"))->AsFloat(), 2345678.91);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("RATIO"))->AsFloat(), 1.0 / 3.0);
}

// A dataset reading a large answer while it arrives: the rows are the whole answer's, and a
// failure after the first rows went out (the answer limit) is the server's error with its
// text for the user, the dataset left closed and empty, not a shorter list.
TEST_F(Server, AStreamedAnswerFailingMidwayIsAnErrorForTheUser)
{
    const QString join = QStringLiteral("select a.SiteCode, b.EmpCode, c.* from tab_Site a, tab_Employee b, "
                                        "tab_Mdd c where a.sysid='001' and b.sysid='001'");
    TMySktConnection c;
    logOnValues(c);
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetTag(1);
    ds.SetCommandText(join);
    ds.Open();
    const int all = ds.RecordCount();
    EXPECT_EQ(all, DataPacket::fromBinary(c.providerFetchBinary(QString::fromLatin1(protocol::kProviderName), join, {}))
                       .rows.size());
    ASSERT_GT(all, 3000);
    ds.Close();
    const server::AnswerLimit saved = s_backend->answerLimit();
    s_backend->setAnswerLimit({3000, 0});
    try {
        ds.Open();
        ADD_FAILURE() << "opened with " << ds.RecordCount() << " rows";
    } catch (const protocol::ProtocolError &e) {
        EXPECT_EQ(e.status(), 413);
        EXPECT_TRUE(e.userText().contains(QStringLiteral("查询结果过大"))) << e.userText().toStdString();
    }
    s_backend->setAnswerLimit(saved);
    EXPECT_FALSE(ds.Active());
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), all);
}
