// The administration calls stay inside the caller's deployment and behind their grants:
// an administrator of 001 can neither list nor change what belongs to 002, and a user
// without the grant of a list gets nothing from it.
#include "testserver.h"

#include "server/auth.h"

#include <QCborArray>

using namespace server;
using namespace server::test;
using quillon::DataPacket;
using quillon::protocol::ProtocolError;
using quillon::protocol::Transport;

namespace {

class AdminScope : public ::testing::Test
{
protected:
    void SetUp() override
    {
        srv = std::make_unique<TestServer>(10);
        auto c = srv->backend->acquireForServer();
        // Deployment 002: a site of the same code as one of 001, a user, a role, a menu entry
        // and a site that 001 does not have at all.
        c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('101','哈尔滨道里','002')"));
        c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('X92','哈尔滨南岗','002')"));
        addUser(*c, QStringLiteral("002.wu"), QStringLiteral("123456"), QStringLiteral("101"),
                QStringLiteral("吴"), true);
        c->execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, sysid) values ('外部角色','002 的角色','002')"));
        c->execute(QStringLiteral("insert into sys_menu (POSID, MENUNAME, FUNCNAME, sysid) values "
                                  "('009.001','外部菜单','px_Tally.fDFKEdt','002')"));
    }

    std::unique_ptr<Transport> admin() { return srv->client(QStringLiteral("000"), QStringLiteral("001.admin")); }
    std::unique_ptr<Transport> clerk() { return srv->client(QStringLiteral("201"), QStringLiteral("001.wang")); }

    static int statusOf(Transport &t, const QString &call, const QCborMap &args = {}, QCborMap *out = nullptr)
    {
        try {
            const QCborMap r = t.callAdmin(call, args);
            if (out)
                *out = r;
        } catch (const ProtocolError &e) {
            return e.status();
        }
        return 200;
    }
    static QCborMap args(std::initializer_list<std::pair<QString, QCborValue>> list)
    {
        QCborMap m;
        for (const auto &[k, v] : list)
            m.insert(k, v);
        return m;
    }
    QVariant scalar(const QString &sql, const QVariantList &params = {})
    {
        return srv->native(sql, params).rows.value(0).value(0);
    }
    // Every value of one column of a packet answer.
    static QStringList column(const QCborMap &answer, const char *key, const char *field)
    {
        const DataPacket p = DataPacket::fromBinary(answer.value(QLatin1String(key)).toByteArray());
        QStringList out;
        const int i = p.fieldIndex(QString::fromLatin1(field));
        EXPECT_GE(i, 0) << field;
        for (const QVariantList &row : p.rows)
            out.append(row.value(i).toString());
        return out;
    }

    std::unique_ptr<TestServer> srv;
};

TEST_F(AdminScope, AnAdministratorCannotTakeOverAUserOfAnotherDeployment)
{
    auto a = admin();
    const QString hash = scalar(QStringLiteral("select PWHASH from sys_user where USERCODE='002.wu'")).toString();
    ASSERT_FALSE(hash.isEmpty());
    const QString user = QStringLiteral("002.wu");
    // Site 101 exists in 001 too and 管理员 is a role of 001: only the user's deployment stops these.
    EXPECT_GE(statusOf(*a, QStringLiteral("ResetPassword"), args({{"user", user}, {"password", QStringLiteral("abc12345")}})), 400);
    EXPECT_GE(statusOf(*a, QStringLiteral("UpdateUser"),
                       args({{"user", user}, {"site", QStringLiteral("101")}, {"name", QStringLiteral("篡改")},
                             {"roles", QCborArray{QStringLiteral("管理员")}}})),
              400);
    EXPECT_GE(statusOf(*a, QStringLiteral("SetUserEnabled"), args({{"user", user}, {"enabled", false}})), 400);

    EXPECT_EQ(scalar(QStringLiteral("select PWHASH from sys_user where USERCODE='002.wu'")).toString(), hash);
    EXPECT_EQ(scalar(QStringLiteral("select EMPNAME from sys_user where USERCODE='002.wu'")).toString(), QStringLiteral("吴"));
    EXPECT_EQ(scalar(QStringLiteral("select sysid from sys_user where USERCODE='002.wu'")).toString(), QStringLiteral("002"));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from sys_userrole where USERCODE='002.wu'")).toLongLong(), 0);
    EXPECT_NE(scalar(QStringLiteral("select ENABLED from sys_user where USERCODE='002.wu'")).toInt(), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from sys_log where key='002.wu'")).toLongLong(), 0);

    // The same call on a user of 001 goes through, so the refusals above are about the deployment.
    const QString wang = scalar(QStringLiteral("select PWHASH from sys_user where USERCODE='001.wang'")).toString();
    EXPECT_EQ(statusOf(*a, QStringLiteral("ResetPassword"),
                       args({{"user", QStringLiteral("001.wang")}, {"password", QStringLiteral("abc12345")}})),
              200);
    EXPECT_NE(scalar(QStringLiteral("select PWHASH from sys_user where USERCODE='001.wang'")).toString(), wang);
}

TEST_F(AdminScope, ListsAndSiteDeletionNeedTheirGrant)
{
    auto c = clerk();
    srv->native(QStringLiteral("insert into tab_Site (SiteCode, SiteName, BELONGSITE, FINANCECENTER, sysid) "
                               "values ('105','上海青浦','上海中心','上海中心','001')"));
    const qlonglong sites = scalar(QStringLiteral("select count(*) from tab_Site")).toLongLong();
    const qlonglong log = scalar(QStringLiteral("select count(*) from sys_log")).toLongLong();
    for (const char *call : {"ListUsers", "ListRoles", "ListMenu", "ListDeployments", "ListSites"}) {
        QCborMap out;
        EXPECT_EQ(statusOf(*c, QString::fromLatin1(call), {}, &out), 403) << call;
        EXPECT_TRUE(out.isEmpty()) << call;
    }
    // 105 has neither users, employees nor sites below it: only the grant keeps it.
    ASSERT_EQ(scalar(QStringLiteral("select count(*) from tab_Site where SiteCode='105' and sysid='001'")).toLongLong(), 1);
    EXPECT_EQ(statusOf(*c, QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("105")}})), 403);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from tab_Site")).toLongLong(), sites);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from sys_log")).toLongLong(), log);
    EXPECT_EQ(statusOf(*admin(), QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("105")}})), 200);
}

TEST_F(AdminScope, ListsShowOnlyTheOwnDeploymentAndOnlyTheSuperUserChoosesOne)
{
    auto a = admin();
    QCborMap out;
    ASSERT_EQ(statusOf(*a, QStringLiteral("ListUsers"), {}, &out), 200);
    const QStringList users = column(out, "users", "USERCODE");
    EXPECT_TRUE(users.contains(QStringLiteral("001.wang")));
    for (const QString &u : users)
        EXPECT_TRUE(u.startsWith(QStringLiteral("001."))) << qPrintable(u);

    ASSERT_EQ(statusOf(*a, QStringLiteral("ListRoles"), {}, &out), 200);
    QStringList roles;
    for (const QCborValue &r : out.value(QStringLiteral("roles")).toArray())
        roles.append(r.toMap().value(QStringLiteral("name")).toString());
    EXPECT_TRUE(roles.contains(QStringLiteral("管理员")));
    EXPECT_FALSE(roles.contains(QStringLiteral("外部角色")));

    ASSERT_EQ(statusOf(*a, QStringLiteral("ListMenu"), {}, &out), 200);
    const QStringList menu = column(out, "menu", "MENUNAME");
    EXPECT_FALSE(menu.isEmpty());
    EXPECT_FALSE(menu.contains(QStringLiteral("外部菜单")));
    EXPECT_EQ(menu.size(), scalar(QStringLiteral("select count(*) from sys_menu where sysid='001'")).toInt());

    ASSERT_EQ(statusOf(*a, QStringLiteral("ListSites"), {}, &out), 200);
    const QStringList siteNames = column(out, "sites", "SITENAME");
    EXPECT_TRUE(siteNames.contains(QStringLiteral("上海浦东")));
    EXPECT_FALSE(siteNames.contains(QStringLiteral("哈尔滨道里")));
    EXPECT_FALSE(siteNames.contains(QStringLiteral("哈尔滨南岗")));

    // A site that only 002 has cannot be deleted from 001; 002's site of a shared code neither.
    EXPECT_GE(statusOf(*a, QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("X92")}})), 400);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from tab_Site where SiteCode='X92'")).toLongLong(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from tab_Site where SiteCode='101' and sysid='002'")).toLongLong(), 1);

    // Choosing another deployment is the super user's alone, for every list.
    for (const char *call : {"ListUsers", "ListRoles", "ListMenu", "ListSites"}) {
        QCborMap foreign;
        EXPECT_EQ(statusOf(*a, QString::fromLatin1(call), args({{"sysid", QStringLiteral("002")}}), &foreign), 403) << call;
        EXPECT_TRUE(foreign.isEmpty()) << call;
    }
    EXPECT_EQ(statusOf(*a, QStringLiteral("ListDeployments")), 403);
    auto dk = srv->client(QStringLiteral("000"), QStringLiteral("dk"));
    ASSERT_EQ(statusOf(*dk, QStringLiteral("ListDeployments"), {}, &out), 200);
    QStringList ids;
    for (const QCborValue &v : out.value(QStringLiteral("deployments")).toArray())
        ids.append(v.toString());
    EXPECT_TRUE(ids.contains(QStringLiteral("001")) && ids.contains(QStringLiteral("002"))) << qPrintable(ids.join(u','));
    ASSERT_EQ(statusOf(*dk, QStringLiteral("ListSites"), args({{"sysid", QStringLiteral("002")}}), &out), 200);
    EXPECT_TRUE(column(out, "sites", "SITENAME").contains(QStringLiteral("哈尔滨南岗")));
}

} // namespace
