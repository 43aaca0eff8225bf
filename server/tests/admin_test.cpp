// User administration and the pieces of the wire protocol that both sides share.
#include "qtprint.h"

#include "dataaccess/protocol/protocol.h"
#include "server/auth.h"
#include "server/schema.h"
#include "server/sql/backend.h"
#include "testserver.h"

#include <QCborArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace server;
using server::test::testDatabase;
using namespace quillon::protocol;

namespace {

TEST(UserAdmin, AddAndChangePasswordsWithChecks)
{
    QTemporaryDir dir;
    auto backend = Backend::open(testDatabase(dir, QStringLiteral("u.sqlite")), true);
    auto c = backend->acquireForServer();
    createSchema(*c);
    c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('101','上海浦东','001')"));

    addUser(*c, QStringLiteral("001.zhang"), QStringLiteral("pw1"), QStringLiteral("101"), QStringLiteral("马超"), true);
    struct Bad
    {
        const char *user, *password, *site;
    } bad[] = {
        {"001zhang", "pw", "101"},  // no full stop in fourth place
        {"01.zhang", "pw", "101"},
        {"DK", "pw", "000"},        // only "dk" may do without
        {"001.", "pw", "101"},
        {"001.li", "", "101"},      // empty password
        {"001.li", "pw", "999"},    // unknown site of the deployment
        {"002.li", "pw", "101"},    // the site belongs to another deployment
        {"001.zhang", "pw", "101"}, // exists
    };
    for (const Bad &b : bad)
        EXPECT_THROW(addUser(*c, QString::fromUtf8(b.user), QString::fromUtf8(b.password),
                             QString::fromUtf8(b.site), QStringLiteral("x"), true),
                     AuthError)
            << b.user;

    SessionRequest r;
    r.authenticationUser = AuthUser{QStringLiteral("MAC"), QStringLiteral("1"), QStringLiteral("101"),
                                    QStringLiteral("001.zhang")}.join();
    r.authenticationPassword = QStringLiteral("pw1");
    EXPECT_EQ(logOn(*c, r).siteName, QStringLiteral("上海浦东"));
    setPassword(*c, QStringLiteral("001.zhang"), QStringLiteral("pw2"), true);
    EXPECT_THROW(logOn(*c, r), AuthError);
    r.authenticationPassword = QStringLiteral("pw2");
    EXPECT_EQ(logOn(*c, r).sysid, QStringLiteral("001"));
    EXPECT_THROW(setPassword(*c, QStringLiteral("001.nobody"), QStringLiteral("x"), true), AuthError);
    c->execute(QStringLiteral("update sys_user set ENABLED=0"));
    EXPECT_THROW(logOn(*c, r), AuthError);

    // Stored hashes are argon2id and never the password.
    const QString hash = c->query(QStringLiteral("select PWHASH from sys_user"), {}, true).rows.at(0).at(0).toString();
    EXPECT_TRUE(hash.startsWith(QStringLiteral("$argon2id$")));
    EXPECT_FALSE(hash.contains(QStringLiteral("pw2")));
}

TEST(WireProtocol, AuthenticationUserHasFourParts)
{
    const QString joined = AuthUser{QStringLiteral("0A1B2C3D4E5F"), QStringLiteral("1"), QStringLiteral("999"), QString()}.join();
    EXPECT_EQ(joined.count(QChar(0x0E)), 3);
    EXPECT_TRUE(joined.endsWith(QChar(0x0E)));
    const AuthUser back = AuthUser::split(joined + QStringLiteral("001.a"));
    EXPECT_EQ(back.macName, QStringLiteral("0A1B2C3D4E5F"));
    EXPECT_EQ(back.dbSid, QStringLiteral("1"));
    EXPECT_EQ(back.siteCode, QStringLiteral("999"));
    EXPECT_EQ(back.userName, QStringLiteral("001.a"));
    EXPECT_EQ(AuthUser::split(QStringLiteral("only")).userName, QString());
}

TEST(WireProtocol, MethodTableAndParameterKinds)
{
    EXPECT_EQ(serverMethods().size(), 14u);
    const MethodInfo *updown = findMethod(QStringLiteral("MyUpDownFile"));
    ASSERT_NE(updown, nullptr);
    EXPECT_EQ(updown->positionCount(), 5);
    EXPECT_EQ(updown->requestCount(), 4);
    EXPECT_EQ(findMethod(QStringLiteral("ApplyData"))->requestCount(), 4);
    EXPECT_EQ(findMethod(QStringLiteral("echostring")), nullptr);

    EXPECT_TRUE(acceptsValue(ParamKind::Int32, QCborValue(qint64(INT32_MAX))));
    EXPECT_FALSE(acceptsValue(ParamKind::Int32, QCborValue(qint64(INT32_MAX) + 1)));
    EXPECT_FALSE(acceptsValue(ParamKind::Int32, QCborValue(1.5)));
    EXPECT_TRUE(acceptsValue(ParamKind::Object, QCborValue()));
    EXPECT_FALSE(acceptsValue(ParamKind::Object, QCborValue(QStringLiteral("x"))));
    EXPECT_FALSE(acceptsValue(ParamKind::Stream, QCborValue(QStringLiteral("x"))));
    EXPECT_FALSE(acceptsValue(ParamKind::Text, QCborValue(QByteArray("x"))));

    EXPECT_EQ(bytesToJsonArray(jsonArrayToBytes({0, 255, 7})), (QList<int>{0, 255, 7}));
    EXPECT_THROW(jsonArrayToBytes({256}), ProtocolError);
    EXPECT_THROW(jsonArrayToBytes({-1}), ProtocolError);

    EXPECT_EQ(decodeError(encodeError(QStringLiteral("出错"))), QStringLiteral("出错"));
    EXPECT_EQ(decodeError(QByteArray("\xff")), QString());
    EXPECT_THROW(decodeBody(QCborValue(1).toCbor() + QByteArray("\x01")), ProtocolError);
}

} // namespace
