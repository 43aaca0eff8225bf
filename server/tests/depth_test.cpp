// Input nested without end: the SQL translator and the parsers of bodies and packets stop
// at a depth limit with 400, and the server keeps serving.
#include "testserver.h"

#include <QCborArray>
#include <httplib.h>

using namespace server;
using namespace server::test;
using quillon::protocol::ProtocolError;

namespace {

int statusOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const ProtocolError &e) {
        return e.status();
    }
    return 200;
}

TEST(DepthLimits, DeeplyNestedInputIsRefusedAndTheServerCarriesOn)
{
    TestServer s(10);
    auto t = s.client();
    constexpr int kDeep = 20000;
    const QString parens = QStringLiteral("select ") + QString(kDeep, QLatin1Char('(')) + QStringLiteral("1")
                           + QString(kDeep, QLatin1Char(')')) + QStringLiteral(" from dual");
    QString nvl = QStringLiteral("select ");
    for (int i = 0; i < kDeep; ++i)
        nvl += QStringLiteral("nvl(");
    nvl += QStringLiteral("1");
    for (int i = 0; i < kDeep; ++i)
        nvl += QStringLiteral(",1)");
    nvl += QStringLiteral(" from dual");
    for (const QString &sql : {parens, nvl}) {
        EXPECT_EQ(statusOf([&] { query(*t, sql); }), 400);
        EXPECT_EQ(statusOf([&] { t->callMethod(QStringLiteral("GetData"), {sql, 1}); }), 400);
    }
    // Moderate nesting still works.
    EXPECT_EQ(query(*t, QStringLiteral("select ((((1)))) from dual")).rows.value(0).value(0).toInt(), 1);

    // A CBOR body of 20,000 nested arrays, and an XML packet of 20,000 nested elements.
    QByteArray cbor(kDeep, char(0x81));
    cbor.append(char(0x01));
    httplib::Client raw("127.0.0.1", s.http->port());
    httplib::Headers h{{"Authorization", "Bearer " + t->token().toStdString()}};
    auto res = raw.Post("/waylink/v1/call/TfrmServerMethods.EchoString", h, cbor.toStdString(), "application/cbor");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    QString xml = QStringLiteral("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\">");
    for (int i = 0; i < kDeep; ++i)
        xml += QStringLiteral("<a>");
    for (int i = 0; i < kDeep; ++i)
        xml += QStringLiteral("</a>");
    xml += QStringLiteral("</DATAPACKET>");
    EXPECT_EQ(statusOf([&] {
                  t->callMethod(QStringLiteral("ApplyData"), {QStringLiteral("TAB_MSGREAD"), xml, 0, QCborValue()});
              }),
              400);

    EXPECT_EQ(t->callMethod(QStringLiteral("EchoString"), {QStringLiteral("still here")}).at(1).toString(),
              QStringLiteral("still here"));
    EXPECT_FALSE(query(*t, QStringLiteral("select SiteName from tab_Site")).rows.isEmpty());
}

} // namespace
