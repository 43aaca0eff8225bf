#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"
#include "dataaccess/servermethods.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QRegularExpression>

using namespace quillon;

namespace {

// A stream that does not know its size, handing out at most `chunk` bytes per read.
class PipeStream : public QIODevice
{
public:
    PipeStream(QByteArray data, qint64 chunk)
        : m_data(std::move(data)), m_chunk(chunk)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    int reads = 0;

protected:
    qint64 readData(char *out, qint64 max) override
    {
        ++reads;
        const qint64 n = std::min({max, m_chunk, qint64(m_data.size()) - m_pos});
        memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_chunk;
    qint64 m_pos = 0;
};

QByteArray pattern(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(i * 31 + i / 251);
    return b;
}

} // namespace

TEST(Connection, CreationDefaults)
{
    TMySktConnection c;
    EXPECT_EQ(c.AbortInfo(), u"1.0");
    EXPECT_EQ(c.Host(), u"localhost");
    EXPECT_EQ(c.Port(), 8801);
    EXPECT_EQ(c.DBSid(), 1);
    EXPECT_EQ(c.DBType(), u"dbtDataSnap");
    EXPECT_EQ(c.DriverName(), u"Datasnap");
    EXPECT_FALSE(c.LoginPrompt());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{12}$")).match(c.MACName()).hasMatch())
        << c.MACName().toStdString();
    ASSERT_NE(c.idspConn(), nullptr);
    EXPECT_EQ(c.idspConn()->objectName(), u"MyConn");
    EXPECT_EQ(c.idspConn()->ServerClassName(), u"TfrmServerMethods");
    EXPECT_EQ(c.idspConn()->SQLConnection(), &c);
    EXPECT_FALSE(c.Connected());
}

TEST(Connection, DBTypeSelectsTheDriver)
{
    TMySktConnection c;
    const QList<std::pair<const char *, const char *>> table = {
        {"dbtAccess", ""},         {"dbtSybase", "ASE"},      {"dbtDB2", "Db2"},
        {"dbtSQLServer", "MSSQL"}, {"dbtOracle", "Oracle"}, {"dbtDataSnap", "Datasnap"}};
    for (const auto &[type, driver] : table) {
        c.SetDBType(QString::fromLatin1(type));
        EXPECT_EQ(c.DBType(), QString::fromLatin1(type));
        EXPECT_EQ(c.DriverName(), QString::fromLatin1(driver)) << type;
    }
    c.SetDBType(QStringLiteral("dbtOracle"));
    c.SetDBType(QStringLiteral("dbtMystery")); // stored, but the driver stays
    EXPECT_EQ(c.DBType(), u"dbtMystery");
    EXPECT_EQ(c.DriverName(), u"Oracle");
    c.SetDBType(QStringLiteral("dbtDataSnap"));
    c.SetDBType(QString()); // clears the driver, keeps the type
    EXPECT_EQ(c.DBType(), u"dbtDataSnap");
    EXPECT_TRUE(c.DriverName().isEmpty());
    // Without the multi-tier driver there is no way to the server.
    EXPECT_THROW(c.Open(), ConnectionError);
    EXPECT_FALSE(c.Connected());
}

TEST(Connection, EachProxyReadFreesThePreviousOne)
{
    TMySktConnection c;
    TfrmServerMethodsClient *first = c.iClientMethods();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->InstanceOwner());
    // An array handed to the proxy is the proxy's from the call on (the call itself fails:
    // no driver); it lives as long as that proxy, which the next read frees.
    QPointer<TJSONArray> handed(new TJSONArray);
    TJSONArray *out = nullptr;
    EXPECT_THROW(first->MyUpDownFile(QStringLiteral("a"), handed.data(), out, 1), ConnectionError);
    EXPECT_FALSE(handed.isNull());
    TfrmServerMethodsClient *second = c.iClientMethods();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(handed.isNull()) << "the previous proxy and what it owned are freed";
    // A closed connection gives the proxy no driver: calls fail cleanly.
    EXPECT_THROW(second->EchoString(QStringLiteral("x")), ConnectionError);
    EXPECT_THROW(c.MyServerToClientByStream(QStringLiteral("a"), QStringLiteral("/nonexistent/b")),
                 ConnectionError);
}

TEST(Connection, StreamsOfUnknownSizeAreReadInBlocks)
{
    const int block = TMySktConnection::kStreamBlock;
    ASSERT_EQ(block, 61440);
    struct Case
    {
        int size;
        qint64 chunk; // what the stream hands out per read at most
        int expectReads;
    };
    const QList<Case> cases = {
        {0, block, 1},
        {block, block, 2},          // the second read brings 0 bytes and ends it
        {block + 1, block, 3},
        {3 * block + 17, block, 5},
        {block, 1000, 63},          // short reads (a slow network) do not cut the file
    };
    for (const Case &k : cases) {
        const QByteArray data = pattern(k.size);
        PipeStream s(data, k.chunk);
        EXPECT_EQ(TMySktConnection::readStreamBlocks(&s), data) << k.size;
        EXPECT_EQ(s.reads, k.expectReads) << k.size;
    }
    // A stream that knows its size is copied whole from its start.
    QByteArray data = pattern(block * 2 + 5);
    QBuffer known(&data);
    known.open(QIODevice::ReadOnly);
    known.seek(100);
    EXPECT_EQ(TMySktConnection::readStreamBlocks(&known), data);
}

TEST(Connection, JsonArraysHoldBytesOnly)
{
    TJSONArray a;
    a.Add(0);
    a.Add(255);
    EXPECT_THROW(a.Add(256), std::out_of_range);
    EXPECT_THROW(a.Add(-1), std::out_of_range);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Get(1), 255);
}

TEST(FailureText, UsersReadChineseAdviceWhateverTheServerSaid)
{
    struct Case
    {
        int status;
        const char *server;
        const char *mustContain;
    };
    const Case cases[] = {
        {0, "", "无法连接服务器 10.0.0.9:8801"},
        {401, "用户名或密码错误", "用户名或密码错误"}, // the server's own Chinese reason
        {401, "session expired: log on again", "重新登录"},
        {403, "writing statements are refused", "没有相应的权限"},
        {400, "no such table: TAB_PARAMETER", "服务器未能完成此操作"},
        {500, "internal error", "详细信息"},
        {413, "body too large", "缩小查询范围"},
        {503, "too many connections", "稍后重试"},
        {400, "发件网点不能为空", "发件网点不能为空"},
    };
    for (const Case &c : cases) {
        const QString text = protocol::failureText(c.status, QString::fromUtf8(c.server),
                                                   QStringLiteral("10.0.0.9:8801"));
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.mustContain)))
            << c.status << " " << c.server << " -> " << text.toStdString();
        EXPECT_TRUE(host::looksChinese(text));
        // A technical text never reaches the user's line.
        if (!host::looksChinese(QString::fromUtf8(c.server)) && *c.server) {
            EXPECT_FALSE(text.contains(QString::fromUtf8(c.server))) << text.toStdString();
        }
    }
}
