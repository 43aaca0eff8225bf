// Roles, grants and the administration calls, from the side of the users they restrict:
// menus by role, ApplyData refused by table, audited administration, and what clients can
// never reach (the account and grant tables).
#include "qtprint.h"

#include "server/admin.h"
#include "server/authz.h"
#include "testserver.h"

#include <QCborArray>

using namespace server;
using namespace server::test;
using namespace quillon;
using quillon::protocol::ProtocolError;

namespace {

class Authz : public ::testing::Test
{
protected:
    void SetUp() override { srv = std::make_unique<TestServer>(20); }

    std::unique_ptr<protocol::Transport> as(const QString &user)
    {
        static const QHash<QString, QString> sites = {{"001.admin", "000"}, {"001.li", "100"},
                                                      {"001.zhang", "101"}, {"001.wang", "201"},
                                                      {"dk", "000"}};
        return srv->client(sites.value(user), user);
    }
    // Status of a call (200 when it succeeded), its error text in *text.
    template<typename Fn>
    static int statusOf(Fn &&fn, QString *text = nullptr)
    {
        try {
            fn();
        } catch (const ProtocolError &e) {
            if (text)
                *text = e.message();
            return e.status();
        }
        return 200;
    }
    static QStringList posids(const DataPacket &menu)
    {
        QStringList out;
        for (const QVariantList &row : menu.rows)
            out.append(row.at(menu.fieldIndex(QStringLiteral("POSID"))).toString());
        return out;
    }
    static QStringList functions(const DataPacket &menu)
    {
        QStringList out;
        for (const QVariantList &row : menu.rows) {
            const QString f = row.at(menu.fieldIndex(QStringLiteral("FUNCNAME"))).toString();
            if (!f.isEmpty())
                out.append(f);
        }
        return out;
    }
    static DataPacket menuOf(protocol::Transport &t)
    {
        return DataPacket::fromBinary(t.callAdmin(QStringLiteral("MyMenu"), {}).value(QStringLiteral("menu")).toByteArray());
    }
    qlonglong count(const QString &sql, const QVariantList &params = {})
    {
        return srv->native(sql, params).rows.value(0).value(0).toLongLong();
    }
    void apply(protocol::Transport &t, const QString &table, const DataPacket &p)
    {
        const QCborArray r = t.callMethod(QStringLiteral("ApplyData"), {table, p.toXml(), 0, QCborValue()});
        EXPECT_TRUE(r.at(4).toBool());
    }
    // A packet that changes the weight of the first account line (that t reads; of a site
    // when one is named).
    DataPacket accountChange(protocol::Transport &t, const QString &site = QString())
    {
        const QString where = site.isEmpty() ? QString() : QStringLiteral(" where STATIONCODE='%1'").arg(site);
        DataPacket p = query(t, QStringLiteral("select * from TAB_ACCOUNT where BILLCODE=(select min(BILLCODE) "
                                               "from TAB_ACCOUNT%1)%2 and rownum<=1")
                                    .arg(where, site.isEmpty() ? QString() : QStringLiteral(" and STATIONCODE='%1'").arg(site)));
        EXPECT_EQ(p.rows.size(), 1);
        DataPacket::Change ch;
        ch.state = RowState::Modified;
        ch.row = 0;
        ch.original = p.rows.at(0);
        p.rows[0][p.fieldIndex(QStringLiteral("WEIGHT"))] = 77.5;
        p.changes.append(ch);
        return p;
    }
    static QCborMap args(std::initializer_list<std::pair<QString, QCborValue>> list)
    {
        QCborMap m;
        for (const auto &[k, v] : list)
            m.insert(k, v);
        return m;
    }

    std::unique_ptr<TestServer> srv;
};

TEST_F(Authz, MenusFollowTheRoles)
{
    const DataPacket clerk = menuOf(*as(QStringLiteral("001.wang")));
    const QStringList f = functions(clerk);
    EXPECT_TRUE(f.contains(QStringLiteral("px_Herald.fSendMessage")));
    EXPECT_FALSE(f.contains(QStringLiteral("px_Herald.fManagerMessage")));
    EXPECT_FALSE(f.contains(QStringLiteral("px_Tally.fcenAccEdt")));
    EXPECT_FALSE(f.contains(QStringLiteral("px_Warden.fUsers")));
    // Headers only above granted entries: no finance module, no administration module.
    const QStringList p = posids(clerk);
    EXPECT_TRUE(p.contains(QStringLiteral("001.000.000")));
    EXPECT_TRUE(p.contains(QStringLiteral("001.001.000")));
    EXPECT_FALSE(p.contains(QStringLiteral("002.000.000")));
    EXPECT_FALSE(p.contains(QStringLiteral("004.000.000")));
    QStringList sorted = p;
    sorted.sort();
    EXPECT_EQ(p, sorted); // in POSID order, as the menu bar needs them

    const QStringList admin = functions(menuOf(*as(QStringLiteral("001.admin"))));
    EXPECT_TRUE(admin.contains(QStringLiteral("px_Warden.fRole")));
    EXPECT_TRUE(admin.contains(QStringLiteral("px_Tally.fcenAccEdt")));
    EXPECT_FALSE(admin.contains(QStringLiteral("px_Warden.fConfigMenu"))); // the super administrator's
    EXPECT_TRUE(functions(menuOf(*as(QStringLiteral("dk")))).contains(QStringLiteral("px_Warden.fConfigMenu")));

    // A user without any role sees no menu at all.
    srv->native(QStringLiteral("delete from sys_userrole where USERCODE='001.wang'"));
    EXPECT_TRUE(menuOf(*as(QStringLiteral("001.wang"))).rows.isEmpty());
}

TEST_F(Authz, ApplyDataIsRefusedForTablesNoRoleGrantsAndWritesNothing)
{
    auto clerk = as(QStringLiteral("001.wang"));
    // The clerk cannot even read the account lines: the packet is made by one who can.
    const DataPacket change = accountChange(*as(QStringLiteral("001.admin")));
    QString text;
    EXPECT_EQ(statusOf([&] { apply(*clerk, QStringLiteral("TAB_ACCOUNT"), change); }, &text), 403);
    EXPECT_TRUE(text.contains(QStringLiteral("TAB_ACCOUNT"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("管理员"))) << qPrintable(text); // says whom to ask
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where WEIGHT=77.5")), 0);

    // Site finance may edit pay-on-delivery records but not the centre account.
    EXPECT_EQ(statusOf([&] { apply(*as(QStringLiteral("001.zhang")), QStringLiteral("TAB_ACCOUNT"), change); }), 403);
    apply(*as(QStringLiteral("001.li")), QStringLiteral("TAB_ACCOUNT"), change);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_ACCOUNT where WEIGHT=77.5")), 1);
}

TEST_F(Authz, AnyoneMayPublishButDeletingNoticesNeedsTheManagementGrant)
{
    auto clerk = as(QStringLiteral("001.wang"));
    DataPacket notice = query(*clerk, QStringLiteral("select * from TAB_MSGRECORD where 1=0"));
    QVariantList row;
    for (const FieldDef &f : std::as_const(notice.fields))
        row.append(f.name == QLatin1String("MSGID") ? QVariant(QStringLiteral("T-1"))
                   : f.name == QLatin1String("MSGOBJECT") ? QVariant(QStringLiteral("测试")) : QVariant());
    notice.rows.append(row);
    notice.changes.append({RowState::Inserted, 0, {}});
    apply(*clerk, QStringLiteral("TAB_MSGRECORD"), notice);
    ASSERT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='T-1'")), 1);

    auto deletion = [&](protocol::Transport &t) {
        DataPacket p = query(t, QStringLiteral("select * from TAB_MSGRECORD where MSGID='T-1'"));
        ASSERT_EQ(p.rows.size(), 1) << "the notice is not visible to the deleting user";
        DataPacket::Change ch;
        ch.state = RowState::Deleted;
        ch.original = p.rows.takeAt(0);
        p.changes.append(ch);
        apply(t, QStringLiteral("TAB_MSGRECORD"), p);
    };
    // Not even the clerk's own notice: deleting is the management's.
    EXPECT_EQ(statusOf([&] { deletion(*clerk); }), 403);
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='T-1'")), 1);
    deletion(*as(QStringLiteral("001.admin")));
    EXPECT_EQ(count(QStringLiteral("select count(*) from TAB_MSGRECORD where MSGID='T-1'")), 0);
}

TEST_F(Authz, ARoleChangeShowsAtTheNextRequestOfALoggedOnUser)
{
    auto clerk = as(QStringLiteral("001.wang"));
    auto admin = as(QStringLiteral("001.admin"));
    // A line of the clerk's own site: his role sees and changes only those.
    const DataPacket change = accountChange(*admin, QStringLiteral("北京朝阳"));
    ASSERT_EQ(statusOf([&] { apply(*clerk, QStringLiteral("TAB_ACCOUNT"), change); }), 403);

    const QCborArray roles = admin->callAdmin(QStringLiteral("ListRoles"), {}).value(QStringLiteral("roles")).toArray();
    QStringList granted;
    for (const QCborValue &r : roles)
        if (r.toMap().value(QStringLiteral("name")).toString() == QStringLiteral("网点操作员"))
            for (const QCborValue &f : r.toMap().value(QStringLiteral("functions")).toArray())
                granted.append(f.toString());
    ASSERT_FALSE(granted.isEmpty());
    granted.append(QStringLiteral("px_Tally.fcenAccEdt"));
    admin->callAdmin(QStringLiteral("SaveRole"),
                     args({{"oldName", QStringLiteral("网点操作员")}, {"name", QStringLiteral("网点操作员")},
                           {"functions", QCborArray::fromStringList(granted)}}));
    // The clerk's token carries the old rights: the server refuses it, and the client logs
    // on again with the credentials it holds, without the user doing anything.
    const QString before = clerk->token();
    EXPECT_EQ(statusOf([&] { quillon::protocol::Transport raw(srv->options());
                             raw.setToken(before);
                             raw.callAdmin(QStringLiteral("MyRights"), {}); }),
              401);
    apply(*clerk, QStringLiteral("TAB_ACCOUNT"), change);
    EXPECT_NE(clerk->token(), before);
    EXPECT_TRUE(functions(menuOf(*clerk)).contains(QStringLiteral("px_Tally.fcenAccEdt")));

    // Taking the role away works just as fast.
    admin->callAdmin(QStringLiteral("UpdateUser"),
                     args({{"user", QStringLiteral("001.wang")}, {"site", QStringLiteral("201")},
                           {"name", QStringLiteral("宋佳")}, {"roles", QCborArray{QStringLiteral("网点财务")}}}));
    EXPECT_EQ(statusOf([&] { apply(*clerk, QStringLiteral("TAB_ACCOUNT"), accountChange(*clerk)); }), 403);
}

TEST_F(Authz, AdministrationCallsAreGrantedAuditedAndChecked)
{
    auto admin = as(QStringLiteral("001.admin"));
    auto clerk = as(QStringLiteral("001.wang"));
    const qlonglong before = count(QStringLiteral("select count(*) from sys_log"));
    struct Step
    {
        const char *call;
        QCborMap args;
    };
    const Step steps[] = {
        {"SaveRole", args({{"name", QStringLiteral("仓管")}, {"remark", QStringLiteral("测试")},
                           {"functions", QCborArray{QStringLiteral("px_Herald.fQueryMessage")}}})},
        {"SaveSite", args({{"code", QStringLiteral("104")}, {"name", QStringLiteral("上海松江")},
                           {"parent", QStringLiteral("上海中心")}, {"level", QStringLiteral("2")}})},
        {"AddUser", args({{"user", QStringLiteral("001.qian")}, {"site", QStringLiteral("104")},
                          {"name", QStringLiteral("钱七")}, {"password", QStringLiteral("abc12345")},
                          {"roles", QCborArray{QStringLiteral("仓管")}}})},
        {"UpdateUser", args({{"user", QStringLiteral("001.qian")}, {"site", QStringLiteral("104")},
                             {"name", QStringLiteral("钱七")}, {"roles", QCborArray{QStringLiteral("网点操作员")}}})},
        {"ResetPassword", args({{"user", QStringLiteral("001.qian")}, {"password", QStringLiteral("xyz98765")}})},
        {"SetUserEnabled", args({{"user", QStringLiteral("001.qian")}, {"enabled", false}})},
        {"DeleteRole", args({{"name", QStringLiteral("仓管")}})},
    };
    for (const Step &s : steps) {
        // The clerk holds no administration grant: refused, nothing logged.
        EXPECT_EQ(statusOf([&] { clerk->callAdmin(QString::fromLatin1(s.call), s.args); }), 403) << s.call;
        admin->callAdmin(QString::fromLatin1(s.call), s.args);
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log")), before + qlonglong(std::size(steps)));
    for (const Step &s : steps)
        EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where opnote like ? and sysid='001'"),
                        QVariantList{QVariant(QString::fromLatin1(s.call) + QStringLiteral(" (001.admin)"))}),
                  1)
            << s.call;
    // No password ever reaches the log.
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where content like '%abc12345%' or "
                                   "content like '%xyz98765%'")),
              0);
    // The disabled user cannot log on.
    EXPECT_EQ(statusOf([&] { srv->client(QStringLiteral("104"), QStringLiteral("001.qian")); }), 401);

    // Refusals that need no grant to be checked.
    QString text;
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("SaveMenu"), {}); }, &text), 403);
    EXPECT_TRUE(text.contains(QStringLiteral("dk"))) << qPrintable(text);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("ListUsers"), args({{"sysid", QStringLiteral("002")}})); }), 403);
    // 管理员 is the super administrator's to change; another role still held by a user stays.
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("DeleteRole"), args({{"name", QStringLiteral("管理员")}})); }, &text), 403);
    EXPECT_TRUE(text.contains(QStringLiteral("超级管理员"))) << qPrintable(text);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("DeleteRole"), args({{"name", QStringLiteral("网点操作员")}})); }, &text), 400);
    EXPECT_TRUE(text.contains(QStringLiteral("用户"))) << qPrintable(text); // still held by a user
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("SetUserEnabled"), args({{"user", QStringLiteral("001.admin")}, {"enabled", false}})); }), 400);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("AddUser"), args({{"user", QStringLiteral("002.x")}, {"site", QStringLiteral("101")}, {"name", QStringLiteral("x")}, {"password", QStringLiteral("abc12345")}, {"roles", QCborArray{QStringLiteral("管理员")}}})); }), 400);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("SaveRole"), args({{"name", QStringLiteral("x")}, {"functions", QCborArray{QStringLiteral("px_Warden.fConfigMenu")}}})); }), 400);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("NoSuchCall"), {}); }), 404);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log")), before + qlonglong(std::size(steps)));
}

TEST_F(Authz, ChangingTheOwnPasswordNeedsTheOldOneAndAStrongNewOne)
{
    auto clerk = as(QStringLiteral("001.wang"));
    auto change = [&](const QString &oldPw, const QString &newPw) {
        return statusOf([&] { clerk->callAdmin(QStringLiteral("ChangePassword"), args({{"old", oldPw}, {"new", newPw}})); });
    };
    EXPECT_EQ(change(QStringLiteral("wrong"), QStringLiteral("abc12345")), 403);
    for (const char *weak : {"1234567", "12345678", "abcdefgh", "wang1234x"})
        EXPECT_EQ(change(QStringLiteral("123456"), QString::fromLatin1(weak)), 400) << weak;
    EXPECT_EQ(change(QStringLiteral("123456"), QStringLiteral("Beijing2026")), 200);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_log where opnote like 'ChangePassword%'")), 1);
    EXPECT_EQ(statusOf([&] { srv->client(QStringLiteral("201"), QStringLiteral("001.wang")); }), 401);
    auto again = std::make_unique<protocol::Transport>(srv->options());
    again->openSession(TestServer::logOnRequest(QStringLiteral("201"), QStringLiteral("001.wang"),
                                                QStringLiteral("Beijing2026")));
}

TEST_F(Authz, AccountAndGrantTablesStayOutOfClientsReach)
{
    auto admin = as(QStringLiteral("001.admin"));
    for (const char *table : {"sys_user", "sys_role", "sys_rolegrant", "sys_userrole", "sys_functable"}) {
        const QString t = QString::fromLatin1(table);
        EXPECT_EQ(statusOf([&] { query(*admin, QStringLiteral("select * from ") + t); }), 403) << table;
        EXPECT_EQ(statusOf([&] { query(*admin, QStringLiteral("select count(*) from \"%1\"").arg(t.toUpper())); }) / 100, 4) << table;
        DataPacket p;
        p.fields.append({QStringLiteral("USERCODE"), FieldType::String, 40, false});
        p.fields.append({QStringLiteral("ROLENAME"), FieldType::String, 30, false});
        p.rows.append({QStringLiteral("001.wang"), QStringLiteral("管理员")});
        p.changes.append({RowState::Inserted, 0, {}});
        EXPECT_EQ(statusOf([&] { apply(*admin, t, p); }), 403) << table;
    }
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_userrole where USERCODE='001.wang'")), 1);
    // Functions that run a query given as text must not open another way in.
    if (onPostgres()) {
        for (const auto &[tableName, secretText] : {std::pair{"sys_role", "管理员"}, std::pair{"sys_user", "argon2id"}}) {
            // Plain copies: clang 14 (the sanitizer build) cannot capture structured bindings.
            const char *table = tableName, *secret = secretText;
            QString text;
            const int st = statusOf([&] {
                const DataPacket p = query(*admin, QStringLiteral("select query_to_xml('select * from %1', true, "
                                                                  "true, '') as x from dual")
                                                       .arg(QLatin1String(table)));
                text = p.rows.value(0).value(0).toString();
            });
            EXPECT_TRUE(st != 200 || !text.contains(QString::fromUtf8(secret))) << qPrintable(text);
        }
    }
}

TEST_F(Authz, SitesKeepATreeAndRenamesReachTheirReferences)
{
    auto admin = as(QStringLiteral("001.admin"));
    auto save = [&](QCborMap a) { return statusOf([&] { admin->callAdmin(QStringLiteral("SaveSite"), a); }); };
    // Rename a finance centre: its sites and employees follow.
    EXPECT_EQ(save(args({{"oldCode", QStringLiteral("100")}, {"code", QStringLiteral("100")},
                         {"name", QStringLiteral("华东中心")}, {"parent", QStringLiteral("总部")},
                         {"level", QStringLiteral("1")}, {"finance", true}})),
              200);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where BELONGSITE='华东中心' and sysid='001'")), 3);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where FINANCECENTER='上海中心'")), 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Employee where BELONGSITE='华东中心'")), 3);
    // A parent below the site itself, an unknown parent, a taken name, a changed code.
    EXPECT_EQ(save(args({{"oldCode", QStringLiteral("100")}, {"code", QStringLiteral("100")},
                         {"name", QStringLiteral("华东中心")}, {"parent", QStringLiteral("上海浦东")},
                         {"level", QStringLiteral("1")}})),
              400);
    EXPECT_EQ(save(args({{"code", QStringLiteral("105")}, {"name", QStringLiteral("新站")},
                         {"parent", QStringLiteral("火星")}, {"level", QStringLiteral("2")}})),
              400);
    EXPECT_EQ(save(args({{"code", QStringLiteral("105")}, {"name", QStringLiteral("上海浦东")},
                         {"parent", QStringLiteral("华东中心")}, {"level", QStringLiteral("2")}})),
              400);
    EXPECT_EQ(save(args({{"oldCode", QStringLiteral("101")}, {"code", QStringLiteral("109")},
                         {"name", QStringLiteral("上海浦东")}, {"parent", QStringLiteral("华东中心")},
                         {"level", QStringLiteral("2")}})),
              400);
    // A site with sites, users or employees stays.
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("100")}})); }), 400);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("101")}})); }), 400);
    EXPECT_EQ(save(args({{"code", QStringLiteral("105")}, {"name", QStringLiteral("上海青浦")},
                         {"parent", QStringLiteral("华东中心")}, {"level", QStringLiteral("2")}})),
              200);
    EXPECT_EQ(count(QStringLiteral("select count(*) from tab_Site where SiteCode='105' and FINANCECENTER='华东中心'")), 1);
    EXPECT_EQ(statusOf([&] { admin->callAdmin(QStringLiteral("DeleteSite"), args({{"code", QStringLiteral("105")}})); }), 200);
}

TEST_F(Authz, TheMenuEditorChecksTheTreeAndTheWritableTables)
{
    auto dk = as(QStringLiteral("dk"));
    const QCborMap listed = dk->callAdmin(QStringLiteral("ListMenu"), args({{"sysid", QStringLiteral("001")}}));
    DataPacket menu = DataPacket::fromBinary(listed.value(QStringLiteral("menu")).toByteArray());
    const int pos = menu.fieldIndex(QStringLiteral("POSID"));
    const int write = menu.fieldIndex(QStringLiteral("WRITETABLES"));
    ASSERT_GE(write, 0);
    int managerRow = -1;
    for (int r = 0; r < menu.rows.size(); ++r)
        if (menu.rows.at(r).at(menu.fieldIndex(QStringLiteral("FUNCNAME"))).toString() == QStringLiteral("px_Herald.fManagerMessage"))
            managerRow = r;
    ASSERT_GE(managerRow, 0);
    EXPECT_TRUE(menu.rows.at(managerRow).at(write).toString().contains(QStringLiteral("TAB_MSGRECORD:RIUD")));

    auto saveWith = [&](int row, int field, const QVariant &value) {
        DataPacket p = menu;
        p.rows[row][field] = value;
        return statusOf([&] { dk->callAdmin(QStringLiteral("SaveMenu"), args({{"sysid", QStringLiteral("001")}, {"menu", p.toBinary()}})); });
    };
    const qlonglong entries = count(QStringLiteral("select count(*) from sys_menu where sysid='001'"));
    EXPECT_EQ(saveWith(managerRow, pos, QStringLiteral("001.1.3")), 400);
    EXPECT_EQ(saveWith(managerRow, pos, QStringLiteral("009.001.001")), 400); // no module 009
    EXPECT_EQ(saveWith(managerRow, write, QStringLiteral("sys_user:IUD")), 400);
    EXPECT_EQ(saveWith(managerRow, write, QStringLiteral("sys_menu:U")), 400);
    EXPECT_EQ(saveWith(managerRow, write, QStringLiteral("TAB_MSGRECORD:X")), 400);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_menu where sysid='001'")), entries);

    // Notice management loses its delete right: the administrator is refused from now on.
    EXPECT_EQ(saveWith(managerRow, write, QStringLiteral("TAB_MSGRECORD:IU")), 200);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_menu where sysid='001'")), entries);
    EXPECT_EQ(count(QStringLiteral("select count(*) from sys_functable where FUNCNAME='px_Herald.fManagerMessage' "
                                   "and sysid='001'")),
              1);
    auto admin = as(QStringLiteral("001.admin"));
    DataPacket p = query(*admin, QStringLiteral("select * from TAB_MSGRECORD where rownum<=1"));
    DataPacket::Change ch;
    ch.state = RowState::Deleted;
    ch.original = p.rows.takeAt(0);
    p.changes.append(ch);
    EXPECT_EQ(statusOf([&] { apply(*admin, QStringLiteral("TAB_MSGRECORD"), p); }), 403);
}

TEST(AuthzUpgrade, ADeploymentWithoutRolesGetsAnAdministratorRoleForItsUsers)
{
    QTemporaryDir dir;
    auto backend = Backend::open(testDatabase(dir, QStringLiteral("up.sqlite")), true);
    auto c = backend->acquireForServer();
    createSchema(*c);
    c->execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, sysid) values ('1','总部','007')"));
    c->execute(QStringLiteral("insert into sys_menu (POSID, MENUNAME, FUNCNAME, sysid) values "
                              "('001.001.001','账单','px_Tally.fcenAccEdt','007')"));
    addUser(*c, QStringLiteral("007.a"), QStringLiteral("pw"), QStringLiteral("1"), QStringLiteral("甲"), true);
    createSchema(*c); // as `init` or `serve` on an older database
    createSchema(*c); // and once more: nothing doubles
    const Rights r = loadRights(*c, QStringLiteral("007.a"), QStringLiteral("007"));
    EXPECT_EQ(r.roles, QStringList{QStringLiteral("管理员")});
    EXPECT_TRUE(r.hasFunction(QStringLiteral("px_Warden.fUsers")));
    // The centre-account window changes lines, it never creates or deletes them.
    EXPECT_TRUE(r.mayWrite(QStringLiteral("tab_account"), u'U'));
    EXPECT_FALSE(r.mayWrite(QStringLiteral("tab_account"), u'D'));
    EXPECT_TRUE(r.mayRead(QStringLiteral("tab_account")));
    EXPECT_FALSE(r.hasFunction(QStringLiteral("px_Warden.fConfigMenu")));
    EXPECT_EQ(grantedMenu(*c, QStringLiteral("007.a"), QStringLiteral("007")).rows.size(), 1);
}

TEST(AuthzRules, PasswordStrength)
{
    EXPECT_TRUE(passwordWeakness(QStringLiteral("001.li"), QStringLiteral("abc12345")).isEmpty());
    for (const char *weak : {"", "abc1234", "abcdefghij", "1234567890", "x1li2345"})
        EXPECT_FALSE(passwordWeakness(QStringLiteral("001.li"), QString::fromLatin1(weak)).isEmpty()) << weak;
    EXPECT_TRUE(passwordWeakness(QStringLiteral("001.li"), QStringLiteral("上海abc2026")).isEmpty());
}

} // namespace
