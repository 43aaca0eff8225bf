// Every entry of the three dispatch tables (routes, server methods, administration calls)
// walked from the side of a caller who lacks what the entry needs: no session, no function,
// not dk, another deployment, another user's file. A new entry without a probe here fails.
// Runs on SQLite and PostgreSQL.
#include "qtprint.h"

#include "dataaccess/protocol/protocol.h"
#include "server/checks.h"
#include "testserver.h"

#include <QCborArray>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace server;
using namespace server::test;
using namespace quillon;
using quillon::protocol::ProtocolError;

namespace {

class Dispatch : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_srv = new TestServer(20);
        // A user whose only role grants nothing, one per single administration function.
        auto c = s_srv->backend->acquireForServer();
        addUser(*c, QStringLiteral("001.nobody"), QStringLiteral("无权限"), {});
        addUser(*c, QStringLiteral("001.users"), QStringLiteral("仅用户管理"), {QStringLiteral("px_Warden.fUsers")});
        addUser(*c, QStringLiteral("001.roles"), QStringLiteral("仅角色管理"), {QStringLiteral("px_Warden.fRole")});
        addUser(*c, QStringLiteral("001.sites"), QStringLiteral("仅级别管理"), {QStringLiteral("px_Warden.fSites")});
    }
    static void TearDownTestSuite()
    {
        delete s_srv;
        s_srv = nullptr;
    }
    static void addUser(Connection &c, const QString &user, const QString &role, const QStringList &functions)
    {
        server::addUser(c, user, QStringLiteral("abc12345x"), QStringLiteral("000"), QStringLiteral("测试"), true);
        c.execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, sysid) values (?, '', '001')"), {role});
        for (const QString &f : functions)
            c.execute(QStringLiteral("insert into sys_rolegrant (ROLENAME, FUNCNAME, sysid) values (?,?,'001')"),
                      {role, f});
        c.execute(QStringLiteral("insert into sys_userrole (USERCODE, ROLENAME, sysid) values (?,?,'001')"),
                  {user, role});
    }
    TestServer &srv() { return *s_srv; }
    std::unique_ptr<protocol::Transport> as(const QString &user)
    {
        const bool demo = user == QLatin1String("001.admin") || user == QLatin1String("001.wang");
        const QString site = user == QLatin1String("001.wang") ? QStringLiteral("201") : QStringLiteral("000");
        auto t = std::make_unique<protocol::Transport>(srv().options());
        t->openSession(TestServer::logOnRequest(site, user, demo ? QStringLiteral("123456")
                                                                 : QStringLiteral("abc12345x")));
        return t;
    }
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
    // A request on a connection of its own, with or without a token: the status.
    int raw(const std::string &method, const std::string &path, const QByteArray &body,
            const std::string &token = std::string())
    {
        std::string request = method + " " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
        if (!token.empty())
            request += "Authorization: Bearer " + token + "\r\n";
        request += "Content-Type: application/cbor\r\nContent-Length: " + std::to_string(body.size())
                   + "\r\n\r\n" + body.toStdString();
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(srv().http->port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string answer;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
            answer.append(buf, size_t(n));
            if (answer.find("\r\n") != std::string::npos)
                break;
        }
        ::close(fd);
        // "HTTP/1.1 401 ..."
        const size_t space = answer.find(' ');
        return space == std::string::npos ? -1 : std::atoi(answer.c_str() + space + 1);
    }
    // Parameters a method accepts, by kind; the statement, table or file goes in later.
    static QCborArray defaults(const QString &method)
    {
        const protocol::MethodInfo *info = protocol::findMethod(method);
        QCborArray out;
        for (int i = 0; i < info->requestCount(); ++i) {
            switch (info->params.at(size_t(i)).kind) {
            case protocol::ParamKind::Text:
                out.append(QStringLiteral("x"));
                break;
            case protocol::ParamKind::Int32:
                out.append(0);
                break;
            case protocol::ParamKind::Boolean:
                out.append(false);
                break;
            case protocol::ParamKind::Stream:
            case protocol::ParamKind::JsonBytes:
            case protocol::ParamKind::Packet:
                out.append(QByteArray());
                break;
            default:
                out.append(QCborValue());
            }
        }
        return out;
    }

    static TestServer *s_srv;
};
TestServer *Dispatch::s_srv = nullptr;

TEST_F(Dispatch, EveryRouteThatNeedsASessionRefusesRequestsWithoutOne)
{
    const QString forged = QStringLiteral("v1.") + QString(QLatin1Char('A')).repeated(60);
    int signedOn = 0;
    for (const RouteRule &r : routeRules()) {
        std::string path = r.path;
        if (r.prefix)
            path += std::string(path == "/waylink/v1/call/" ? "TfrmServerMethods.EchoString"
                                : path == "/waylink/v1/provider/" ? "dspPublic"
                                                                  : "MyRights");
        const QByteArray body = r.prefix && path.find("/call/") != std::string::npos ? QCborValue(QCborArray{QStringLiteral("x")}).toCbor()
                                                                                      : QCborValue(QCborMap()).toCbor();
        if (r.need == Need::Anyone) {
            EXPECT_NE(raw(r.method, path, body), 404) << r.name;
            continue;
        }
        ++signedOn;
        EXPECT_EQ(raw(r.method, path, body), 401) << r.name << " without a token";
        EXPECT_EQ(raw(r.method, path, body, forged.toStdString()), 401) << r.name << " forged token";
        // With a session the same request gets through the route's rule.
        auto t = as(QStringLiteral("001.admin"));
        EXPECT_NE(raw(r.method, path, body, t->token().toStdString()), 401) << r.name << " with a token";
    }
    EXPECT_GE(signedOn, 3);
    EXPECT_EQ(raw("POST", "/waylink/v1/nowhere", QByteArray(), as(QStringLiteral("001.admin"))->token().toStdString()), 404);
    EXPECT_EQ(raw("GET", "/waylink/v1/call/TfrmServerMethods.EchoString", QByteArray()), 404);
}

TEST_F(Dispatch, EveryServerMethodIsRefusedWithoutItsRight)
{
    auto admin = as(QStringLiteral("001.admin"));
    auto wang = as(QStringLiteral("001.wang"));
    // A file of the notice manager that no notice names: nobody else reads or replaces it.
    const QString folder = QStringLiteral("notice\\dispatch");
    const QString path = folder + QStringLiteral("\\private.rtf");
    admin->callMethod(QStringLiteral("UploadByStream"), {path, QByteArray("admin's bytes")});
    auto bytesOf = [&] {
        return admin->callMethod(QStringLiteral("DownloadByStream"), {path}).at(1).toByteArray();
    };
    const QString account = srv().native(QStringLiteral("select min(BILLCODE) from TAB_ACCOUNT where sysid='001'"))
                                .rows.value(0).value(0).toString();
    ASSERT_FALSE(account.isEmpty());

    int walked = 0;
    for (const MethodRule &rule : methodRules()) {
        ++walked;
        const QString name = QString::fromLatin1(rule.name);
        ASSERT_NE(protocol::findMethod(name), nullptr) << rule.name << " is not a method of the proxy";
        QCborArray params = defaults(name);
        const std::string callPath = std::string("/waylink/v1/call/TfrmServerMethods.") + rule.name;
        // The rule of every method: a session.
        EXPECT_EQ(raw("POST", callPath, QCborValue(params).toCbor()), 401) << rule.name;
        ASSERT_NE(rule.guard.need, Need::Function) << rule.name << ": add a probe for its function";
        QString text;
        switch (rule.check) {
        case ObjectCheck::None:
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 200) << rule.name;
            break;
        case ObjectCheck::ReadTables:
            params[rule.arg] = QStringLiteral("select * from sys_log");
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }, &text), 403) << rule.name;
            EXPECT_TRUE(text.contains(QStringLiteral("sys_log"), Qt::CaseInsensitive)) << qPrintable(text);
            params[rule.arg] = QStringLiteral("select count(*) from tab_Site");
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 200) << rule.name;
            break;
        case ObjectCheck::WriteTables: {
            DataPacket p = query(*admin, QStringLiteral("select * from TAB_ACCOUNT where BILLCODE=:1 and rownum<=1"), QCborArray{account});
            ASSERT_EQ(p.rows.size(), 1);
            auto weights = [&] {
                return srv().native(QStringLiteral("select sum(WEIGHT) from TAB_ACCOUNT where BILLCODE=? and sysid='001'"), {account})
                    .rows.value(0).value(0).toString();
            };
            const QString before = weights();
            DataPacket::Change m;
            m.state = RowState::Modified;
            m.row = 0;
            m.original = p.rows.at(0);
            p.rows[0][p.fieldIndex(QStringLiteral("WEIGHT"))] = 777.0;
            p.changes = {m};
            params[rule.arg] = QStringLiteral("TAB_ACCOUNT");
            params[rule.arg + 1] = p.toXml();
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }, &text), 403) << rule.name;
            EXPECT_EQ(weights(), before);
            break;
        }
        case ObjectCheck::ReadFile:
            params[rule.arg] = path;
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }, &text), 403) << rule.name;
            EXPECT_EQ(statusOf([&] { admin->callMethod(name, params); }), 200) << rule.name;
            break;
        case ObjectCheck::WriteFile:
            params[rule.arg] = path;
            params[rule.arg + 1] = QByteArray("wang's bytes");
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 403) << rule.name;
            EXPECT_EQ(bytesOf(), QByteArray("admin's bytes")) << rule.name;
            break;
        case ObjectCheck::FileByFlag:
            params[rule.arg] = path;
            params[rule.flagArg] = 1;
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 403) << rule.name << " read";
            params[rule.flagArg] = 0;
            params[1] = QByteArray("wang's bytes");
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 403) << rule.name << " write";
            EXPECT_EQ(bytesOf(), QByteArray("admin's bytes")) << rule.name;
            params[rule.flagArg] = 7;
            EXPECT_EQ(statusOf([&] { wang->callMethod(name, params); }), 400) << rule.name << " bad flag";
            break;
        case ObjectCheck::ListFiles: {
            params[rule.arg] = folder;
            const QString mine = admin->callMethod(name, params).at(rule.arg + 1).toString();
            EXPECT_TRUE(mine.contains(QStringLiteral("private.rtf"))) << qPrintable(mine);
            const QString his = wang->callMethod(name, params).at(rule.arg + 1).toString();
            EXPECT_FALSE(his.contains(QStringLiteral("private.rtf"))) << qPrintable(his);
            // The whole area, listed from the top, hides it too.
            params[rule.arg] = QString();
            EXPECT_FALSE(wang->callMethod(name, params).at(rule.arg + 1).toString().contains(QStringLiteral("private.rtf")));
            break;
        }
        }
    }
    EXPECT_EQ(walked, int(protocol::serverMethods().size())) << "every method of the proxy has a rule";
}

TEST_F(Dispatch, EveryAdministrationCallIsRefusedWithoutItsRight)
{
    auto nobody = as(QStringLiteral("001.nobody"));
    auto admin = as(QStringLiteral("001.admin")); // every function, but not dk
    const QHash<QString, QString> holderOf = {{QStringLiteral("px_Warden.fUsers"), QStringLiteral("001.users")},
                                              {QStringLiteral("px_Warden.fRole"), QStringLiteral("001.roles")},
                                              {QStringLiteral("px_Warden.fSites"), QStringLiteral("001.sites")}};
    const std::vector<AdminRule> rules = adminRules();
    EXPECT_GE(rules.size(), 17u);
    for (const AdminRule &rule : rules) {
        const QString call = QString::fromLatin1(rule.name);
        const QString what = QString::fromUtf8(rule.guard.what);
        QString text;
        // Every call: another deployment's objects only for dk.
        QCborMap other;
        other.insert(QStringLiteral("sysid"), QStringLiteral("002"));
        EXPECT_EQ(statusOf([&] { admin->callAdmin(call, other); }, &text), 403) << rule.name;
        EXPECT_TRUE(text.contains(QStringLiteral("本部署"))) << rule.name << qPrintable(text);
        switch (rule.guard.need) {
        case Need::Anyone:
        case Need::SignedOn:
            EXPECT_EQ(raw("POST", std::string(protocol::kAdminPrefix) + rule.name, QCborValue(QCborMap()).toCbor()), 401)
                << rule.name;
            break;
        case Need::SuperUser:
            EXPECT_EQ(statusOf([&] { admin->callAdmin(call, {}); }, &text), 403) << rule.name;
            EXPECT_TRUE(text.contains(QStringLiteral("超级管理员")) && text.contains(what)) << qPrintable(text);
            break;
        case Need::Function: {
            EXPECT_EQ(statusOf([&] { nobody->callAdmin(call, {}); }, &text), 403) << rule.name;
            EXPECT_TRUE(text.contains(what) && text.contains(QStringLiteral("系统管理员"))) << qPrintable(text);
            // A holder of exactly one of its functions passes the rule (the call itself
            // may still refuse its empty arguments, with another text).
            for (const char *f : rule.guard.functions) {
                if (!f)
                    break;
                const QString holder = holderOf.value(QString::fromLatin1(f));
                if (holder.isEmpty())
                    continue; // dk's own function (the menu editor): SuperUser covers it
                auto t = as(holder);
                QString held;
                statusOf([&] { t->callAdmin(call, {}); }, &held);
                EXPECT_FALSE(held.contains(QStringLiteral("您没有%1的权限").arg(what))) << rule.name << " as " << qPrintable(holder);
            }
            // Holders of the other administration functions only are refused too.
            for (auto it = holderOf.cbegin(); it != holderOf.cend(); ++it) {
                bool listed = false;
                for (const char *f : rule.guard.functions)
                    listed = listed || (f && it.key() == QLatin1String(f));
                if (listed)
                    continue;
                auto t = as(it.value());
                EXPECT_EQ(statusOf([&] { t->callAdmin(call, {}); }), 403) << rule.name << " as " << qPrintable(it.value());
            }
            break;
        }
        }
    }
}

} // namespace
