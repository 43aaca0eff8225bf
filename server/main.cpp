// waylink-server: the application server and its administration commands.
#include "dataaccess/packet/localtimezone.h"
#include "server/auth.h"
#include "server/authz.h"
#include "server/httpserver.h"
#include "server/oplog.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/seedfinance.h"
#include "server/sql/backend.h"
#include "server/sql/pgbackend.h"
#include "server/sql/sqlitebackend.h"
#include "server/sql/oracledialect.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <csignal>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage:\n"
    "  waylink-server init   --db DATABASE\n"
    "  waylink-server seed   --db DATABASE [--waybills N] [--finance-waybills N]\n"
    "  waylink-server user add --db DATABASE USER PASSWORD --site CODE --name NAME [--role ROLE]\n"
    "  waylink-server passwd --db DATABASE USER PASSWORD\n"
    "  waylink-server serve  --db DATABASE --files DIR [--listen ADDR] [--port N] [--threads N]\n"
    "                        [--log FILE] [--cert FILE --key FILE] [--token-ttl SECONDS]\n"
    "                        [--statement-timeout SECONDS] [--gzip] [--max-upload-mb N]\n"
    "                        [--max-answer-rows N] [--max-answer-mb N] [--statements-per-user N]\n"
    "                        [--connections-per-address N]\n"
    "  waylink-server audit verify --db DATABASE [--sysid KEY]\n"
    "DATABASE is a SQLite file or a PostgreSQL URL (postgresql://user@host:port/name).\n"
    "PASSWORD \"-\" reads the password from standard input.\n"
    "A user name is three characters (the deployment key), a full stop and a name; \"dk\" is\n"
    "the super administrator. The demo users of \"seed\" have the password 123456.\n";

struct Args
{
    QStringList flags;
    QStringList positional;
    QHash<QString, QString> options;
};

Args parse(const QStringList &argv)
{
    static const QStringList valued = {"--db", "--files", "--listen", "--port", "--threads",
                                       "--log", "--cert", "--key", "--token-ttl", "--waybills",
                                       "--finance-waybills", "--site", "--name",
                                       "--statement-timeout", "--max-upload-mb", "--max-answer-rows",
                                       "--max-answer-mb", "--statements-per-user",
                                       "--connections-per-address", "--role", "--sysid"};
    Args a;
    for (qsizetype i = 0; i < argv.size(); ++i) {
        const QString &s = argv.at(i);
        if (valued.contains(s)) {
            if (i + 1 >= argv.size())
                throw std::runtime_error("missing value after " + s.toStdString());
            a.options.insert(s, argv.at(++i));
        } else if (s == QLatin1String("--gzip")) {
            a.flags.append(s);
        } else if (s.startsWith(QLatin1String("--"))) {
            throw std::runtime_error("unknown option " + s.toStdString());
        } else {
            a.positional.append(s);
        }
    }
    return a;
}

QString need(const Args &a, const char *name)
{
    const QString v = a.options.value(QLatin1String(name));
    if (v.isEmpty())
        throw std::runtime_error(std::string("missing ") + name);
    return v;
}

int intOption(const Args &a, const char *name, int fallback)
{
    if (!a.options.contains(QLatin1String(name)))
        return fallback;
    bool ok = false;
    const int v = a.options.value(QLatin1String(name)).toInt(&ok);
    if (!ok || v < 0)
        throw std::runtime_error(std::string("not a number: ") + name);
    return v;
}

server::HttpServer *g_server = nullptr;

// "-" as password: read it from the first line of standard input (keeps it out of the
// process list and the shell history).
QString passwordArg(const QString &value)
{
    if (value != QLatin1String("-"))
        return value;
    char line[1024] = {};
    if (!std::fgets(line, sizeof line, stdin))
        throw std::runtime_error("no password on standard input");
    return QString::fromLocal8Bit(line).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
}

void onSignal(int)
{
    if (g_server)
        g_server->stop();
}

int run(const QStringList &argv)
{
    if (argv.isEmpty() || argv.first() == QLatin1String("--help")
        || argv.first() == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return argv.isEmpty() ? 2 : 0;
    }
    const QString command = argv.first();
    const Args a = parse(argv.mid(1));

    if (command == QLatin1String("init")) {
        const QString db = need(a, "--db");
        QDir().mkpath(QFileInfo(db).absolutePath());
        auto backend = server::Backend::open(db, true);
        auto c = backend->acquireForServer();
        server::createSchema(*c);
        std::printf("database ready: %s\n", qPrintable(db));
        return 0;
    }
    if (command == QLatin1String("seed")) {
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        server::createSchema(*c);
        server::SeedOptions o;
        o.waybills = intOption(a, "--waybills", o.waybills);
        server::seedDemo(*c, o);
        server::FinanceVolumeOptions f;
        f.waybills = intOption(a, "--finance-waybills", f.waybills);
        if (f.waybills > 0)
            server::seedFinanceVolume(*c, f);
        std::printf("demo data written: %d waybills, %d more with finance lines of this month; "
                    "users dk, 001.admin, 001.li, 001.zhang, 001.wang (password %s)\n",
                    o.waybills, std::max(f.waybills, 0), server::kDemoPassword);
        return 0;
    }
    if (command == QLatin1String("user")) {
        if (a.positional.size() != 3 || a.positional.first() != QLatin1String("add"))
            throw std::runtime_error("usage: user add --db DATABASE USER PASSWORD --site CODE --name NAME");
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        const QString user = a.positional.at(1);
        const QString role = a.options.value(QStringLiteral("--role"));
        server::Transaction t(*c);
        server::addUser(*c, user, passwordArg(a.positional.at(2)), need(a, "--site"),
                        need(a, "--name"));
        if (!role.isEmpty()) {
            if (c->query(QStringLiteral("select 1 from sys_role where ROLENAME=? and sysid=?"),
                         {role, server::sysidOf(user)}, true)
                    .rows.isEmpty())
                throw std::runtime_error("no role " + role.toStdString() + " in the deployment");
            server::setUserRoles(*c, user, server::sysidOf(user), {role});
        }
        // The first user of a new deployment becomes its administrator.
        server::ensureDefaultRights(*c);
        t.commit();
        std::printf("user %s added\n", qPrintable(user));
        return 0;
    }
    if (command == QLatin1String("passwd")) {
        if (a.positional.size() != 2)
            throw std::runtime_error("usage: passwd --db DATABASE USER PASSWORD");
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        server::setPassword(*c, a.positional.at(0), passwordArg(a.positional.at(1)));
        std::printf("password of %s changed\n", qPrintable(a.positional.at(0)));
        return 0;
    }
    if (command == QLatin1String("audit")) {
        if (a.positional.size() != 1 || a.positional.first() != QLatin1String("verify"))
            throw std::runtime_error("usage: audit verify --db DATABASE [--sysid KEY]");
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        const QList<server::OpLogAudit> audits =
            server::verifyOpLog(*c, a.options.value(QStringLiteral("--sysid")));
        bool intact = true;
        for (const server::OpLogAudit &r : audits) {
            if (r.intact) {
                std::printf("deployment %s: %lld log rows, chain intact, head %s\n",
                            qPrintable(r.sysid), r.rows, qPrintable(r.headHash));
            } else {
                intact = false;
                std::printf("deployment %s: %lld log rows, TAMPERED: %s\n", qPrintable(r.sysid),
                            r.rows, qPrintable(r.problem));
            }
        }
        if (audits.isEmpty())
            std::printf("the operation log is empty\n");
        return intact ? 0 : 1;
    }
    if (command == QLatin1String("serve")) {
        auto backend = server::Backend::open(need(a, "--db"));
        {
            auto c = backend->acquireForServer();
            server::createSchema(*c); // an older file gets missing tables
        }
        server::ServerOptions o;
        o.listen = a.options.value(QStringLiteral("--listen"), o.listen);
        o.port = intOption(a, "--port", o.port);
        o.threads = intOption(a, "--threads", o.threads);
        o.logFile = a.options.value(QStringLiteral("--log"));
        o.certFile = a.options.value(QStringLiteral("--cert"));
        o.keyFile = a.options.value(QStringLiteral("--key"));
        o.tokenTtl = intOption(a, "--token-ttl", int(o.tokenTtl));
        o.gzip = a.flags.contains(QStringLiteral("--gzip"));
        o.bodies.upload = qint64(intOption(a, "--max-upload-mb", int(o.bodies.upload >> 20))) << 20;
        o.maxAnswerRows = intOption(a, "--max-answer-rows", int(o.maxAnswerRows));
        o.maxAnswerBytes = qint64(intOption(a, "--max-answer-mb", int(o.maxAnswerBytes >> 20))) << 20;
        o.statementsPerUser = intOption(a, "--statements-per-user", o.statementsPerUser);
        o.connectionsPerAddress = intOption(a, "--connections-per-address", o.connectionsPerAddress);
        server::SqliteBackend::setStatementTimeLimit(qint64(intOption(a, "--statement-timeout", 120)) * 1000);
        server::PgBackend::setStatementTimeLimit(qint64(intOption(a, "--statement-timeout", 120)) * 1000);
        server::HttpServer http(*backend, need(a, "--files"), o);
        http.bind();
        g_server = &http;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGPIPE, SIG_IGN);
        http.run();
        g_server = nullptr;
        http.log().note(QStringLiteral("waylink-server stopped"));
        return 0;
    }
    throw std::runtime_error("unknown command " + command.toStdString() + "\n" + kUsage);
}

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments().mid(1));
    } catch (const server::DbError &e) {
        std::fprintf(stderr, "waylink-server: %s\n", qPrintable(e.message()));
    } catch (const server::AuthError &e) {
        std::fprintf(stderr, "waylink-server: %s\n", qPrintable(e.message()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "waylink-server: %s\n", e.what());
    }
    return 1;
}
