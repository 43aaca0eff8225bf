// waylink-server: the application server and its administration commands.
#include "dataaccess/packet/localtimezone.h"
#include "server/auth.h"
#include "server/backup.h"
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
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QFile>
#include <csignal>
#include <pthread.h>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage:\n"
    "  waylink-server init   --db DATABASE\n"
    "  waylink-server seed   --db DATABASE [--waybills N] [--finance-waybills N]\n"
    "  waylink-server user add --db DATABASE USER PASSWORD --site CODE --name NAME [--role ROLE]\n"
    "  waylink-server passwd --db DATABASE USER PASSWORD\n"
    "  waylink-server serve  [--config FILE] --db DATABASE --files DIR [--listen ADDR]\n"
    "                        [--port N] [--threads N] [--allow-plain-http] [--drain-seconds N]\n"
    "                        [--log FILE] [--cert FILE --key FILE] [--token-ttl SECONDS]\n"
    "                        [--statement-timeout SECONDS] [--gzip] [--max-upload-mb N]\n"
    "                        [--max-answer-rows N] [--max-answer-mb N] [--statements-per-user N]\n"
    "                        [--connections-per-address N]\n"
    "                        [--trusted-proxy ADDR[,ADDR...]]\n"
    "  waylink-server audit verify --db DATABASE [--sysid KEY] [--head SEQ:HASH]\n"
    "                        [--with-checkpoints FILE[,FILE...]]  (other servers' checkpoints)\n"
    "  waylink-server upgrade --db DATABASE\n"
    "  waylink-server backup  --db DATABASE --to FILE\n"
    "  waylink-server restore --db DATABASE --from FILE\n"
    "Every command takes --config FILE: an ini file whose keys are the option names without\n"
    "\"--\" (db=..., files=..., listen=...); options on the command line win.\n"
    "Every command also takes --oplog-key FILE, --oplog-checkpoints FILE and --oplog-syslog\n"
    "(default: oplog.key and oplog.checkpoints beside the --config file, else in\n"
    "$WAYLINK_CONFIG_DIR or ~/.config/waylink).\n"
    "serve refuses a non-loopback address without --cert/--key unless --allow-plain-http.\n"
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
                                       "--connections-per-address", "--role", "--sysid",
                                       "--config", "--to", "--from", "--drain-seconds",
                                       "--oplog-key", "--oplog-checkpoints", "--head",
                                       "--with-checkpoints",
                                       "--trusted-proxy"};
    static const QStringList switches = {"--gzip", "--allow-plain-http", "--oplog-syslog"};
    Args a;
    for (qsizetype i = 0; i < argv.size(); ++i) {
        const QString &s = argv.at(i);
        if (valued.contains(s)) {
            if (i + 1 >= argv.size())
                throw std::runtime_error("missing value after " + s.toStdString());
            a.options.insert(s, argv.at(++i));
        } else if (switches.contains(s)) {
            a.flags.append(s);
        } else if (s.startsWith(QLatin1String("--"))) {
            throw std::runtime_error("unknown option " + s.toStdString());
        } else {
            a.positional.append(s);
        }
    }
    // A configuration file fills what the command line leaves out.
    const QString config = a.options.value(QStringLiteral("--config"));
    if (!config.isEmpty()) {
        // "name = value" lines; "#" and ";" begin comments, "[section]" lines are ignored.
        // Read as written (a PostgreSQL URL keeps its commas and question mark).
        QFile file(config);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read the configuration file " + config.toStdString());
        int lineNo = 0;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            ++lineNo;
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'))
                || line.startsWith(QLatin1Char('[')))
                continue;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0)
                throw std::runtime_error(config.toStdString() + ":" + std::to_string(lineNo)
                                         + ": expected name = value");
            const QString name = QStringLiteral("--") + line.left(eq).trimmed();
            const QString value = line.mid(eq + 1).trimmed();
            if (valued.contains(name)) {
                if (!a.options.contains(name))
                    a.options.insert(name, value);
            } else if (switches.contains(name)) {
                const bool on = value == QLatin1String("true") || value == QLatin1String("1")
                                || value == QLatin1String("yes");
                if (on && !a.flags.contains(name))
                    a.flags.append(name);
            } else {
                throw std::runtime_error(config.toStdString() + ":" + std::to_string(lineNo)
                                         + ": unknown setting " + line.left(eq).trimmed().toStdString());
            }
        }
    }
    return a;
}

// Loopback addresses need no TLS: nothing leaves the machine.
bool isLoopback(const QString &address)
{
    return address == QLatin1String("localhost") || address.startsWith(QLatin1String("127."))
           || address == QLatin1String("::1") || address == QLatin1String("[::1]");
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

// A log row of a command-line change: actor "cli" and the operating-system user.
server::OpLogEntry cliLogEntry(const QString &opType, const QString &user, const QString &content,
                               const QString &command)
{
    server::OpLogEntry e;
    e.tableName = QStringLiteral("sys_user");
    e.key = user;
    e.opType = opType;
    e.content = content;
    e.emp = QStringLiteral("cli");
    e.address = QStringLiteral("localhost");
    e.time = QDateTime::currentDateTime();
    QString osUser = qEnvironmentVariable("SUDO_USER");
    if (osUser.isEmpty())
        osUser = qEnvironmentVariable("USER");
    e.note = QStringLiteral("waylink-server %1 (%2)").arg(command, osUser);
    return e;
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
    // The operation log's key and checkpoints lie beside the configuration, outside the
    // database, for every command that writes or checks the log.
    // With --config they lie in the configuration file's folder.
    server::OpLogFiles logFiles;
    const QString config = a.options.value(QStringLiteral("--config"));
    const QString folder = config.isEmpty() ? QString() : QFileInfo(config).absolutePath();
    logFiles.keyFile = a.options.value(QStringLiteral("--oplog-key"),
                                       folder.isEmpty() ? QString() : folder + QStringLiteral("/oplog.key"));
    logFiles.checkpointFile = a.options.value(
        QStringLiteral("--oplog-checkpoints"),
        folder.isEmpty() ? QString() : folder + QStringLiteral("/oplog.checkpoints"));
    logFiles.syslog = a.flags.contains(QStringLiteral("--oplog-syslog"));
    server::configureOpLog(logFiles);

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
        server::appendOpLog(*c, server::sysidOf(user),
                            {cliLogEntry(QStringLiteral("INS"), user,
                                         QStringLiteral("命令行新增用户 %1（%2，网点 %3%4）")
                                             .arg(user, need(a, "--name"), need(a, "--site"),
                                                  role.isEmpty() ? QString()
                                                                 : QStringLiteral("，角色 ") + role),
                                         QStringLiteral("user add"))});
        t.commit();
        std::printf("user %s added\n", qPrintable(user));
        return 0;
    }
    if (command == QLatin1String("passwd")) {
        if (a.positional.size() != 2)
            throw std::runtime_error("usage: passwd --db DATABASE USER PASSWORD");
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        const QString user = a.positional.at(0);
        server::Transaction t(*c);
        server::setPassword(*c, user, passwordArg(a.positional.at(1)));
        server::appendOpLog(*c, server::sysidOf(user),
                            {cliLogEntry(QStringLiteral("UPT"), user,
                                         QStringLiteral("命令行修改用户 %1 的密码").arg(user),
                                         QStringLiteral("passwd"))});
        t.commit();
        std::printf("password of %s changed\n", qPrintable(a.positional.at(0)));
        return 0;
    }
    if (command == QLatin1String("audit")) {
        if (a.positional.size() != 1 || a.positional.first() != QLatin1String("verify"))
            throw std::runtime_error("usage: audit verify --db DATABASE [--sysid KEY] [--head SEQ:HASH]");
        server::OpLogVerifyOptions vo;
        vo.sysid = a.options.value(QStringLiteral("--sysid"));
        const QString head = a.options.value(QStringLiteral("--head"));
        if (!head.isEmpty()) {
            bool ok = false;
            vo.headSeq = head.section(QLatin1Char(':'), 0, 0).toLongLong(&ok);
            vo.headHash = head.section(QLatin1Char(':'), 1).trimmed();
            if (!ok || vo.headSeq <= 0 || vo.headHash.size() != 64)
                throw std::runtime_error("--head takes SEQ:HASH as audit verify printed it "
                                         "(position, a colon, 64 hexadecimal digits)");
            if (vo.sysid.isEmpty())
                throw std::runtime_error("--head needs --sysid: a head belongs to one deployment");
        }
        const QString others = a.options.value(QStringLiteral("--with-checkpoints"));
        for (const QString &f : others.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!QFileInfo(f.trimmed()).isReadable())
                throw std::runtime_error("cannot read the checkpoint file " + f.trimmed().toStdString()
                                         + " named by --with-checkpoints");
            vo.otherCheckpointFiles.append(f.trimmed());
        }
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        const QList<server::OpLogAudit> audits = server::verifyOpLog(*c, vo);
        int status = 0;
        for (const server::OpLogAudit &r : audits) {
            if (r.status == server::OpLogAudit::Intact)
                std::printf("deployment %s: %lld log rows, chain intact, head %lld:%s\n",
                            qPrintable(r.sysid), r.rows, r.headSeq, qPrintable(r.headHash));
            else
                std::printf("deployment %s: %lld log rows, %s, head %lld:%s\n", qPrintable(r.sysid),
                            r.rows,
                            r.status == server::OpLogAudit::Tampered ? "TAMPERED"
                                                                     : "BEHIND ITS CHECKPOINTS",
                            r.headSeq, qPrintable(r.headHash));
            for (const QString &p : r.problems)
                std::printf("  - %s\n", qPrintable(p));
            for (const QString &n : r.notes)
                std::printf("  (%s)\n", qPrintable(n));
            if (r.status == server::OpLogAudit::Tampered)
                status = 1;
            else if (r.status == server::OpLogAudit::Behind && status == 0)
                status = 2;
        }
        if (audits.isEmpty())
            std::printf("the operation log is empty and no checkpoint names this database\n");
        return status;
    }
    if (command == QLatin1String("upgrade")) {
        auto backend = server::Backend::open(need(a, "--db"));
        auto c = backend->acquireForServer();
        const server::SchemaUpgrade u = server::upgradeSchema(*c);
        if (u.from == u.to)
            std::printf("database schema is current (version %d)\n", u.to);
        else
            std::printf("database schema upgraded from version %d to %d\n", u.from, u.to);
        return 0;
    }
    if (command == QLatin1String("backup")) {
        const QString db = need(a, "--db");
        const QString to = need(a, "--to");
        server::backupDatabase(db, to);
        std::printf("backup of %s written to %s\n", qPrintable(server::Backend::open(db)->describe()),
                    qPrintable(to));
        return 0;
    }
    if (command == QLatin1String("restore")) {
        const QString db = need(a, "--db");
        server::restoreDatabase(need(a, "--from"), db);
        std::printf("database %s restored; check it with: waylink-server audit verify --db ...\n",
                    qPrintable(db));
        return 0;
    }
    if (command == QLatin1String("serve")) {
        const QString listen = a.options.value(QStringLiteral("--listen"), QStringLiteral("127.0.0.1"));
        const bool tls = !a.options.value(QStringLiteral("--cert")).isEmpty();
        if (!tls && !isLoopback(listen) && !a.flags.contains(QStringLiteral("--allow-plain-http")))
            throw std::runtime_error("refusing to serve " + listen.toStdString()
                                     + " without TLS: give --cert and --key (or, behind a TLS "
                                       "terminating proxy on a trusted network, --allow-plain-http)");
        // SIGTERM and SIGINT are taken by sigwait below: blocked in every thread from here.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
        server::prepareOpLog();
        auto backend = server::Backend::open(need(a, "--db"));
        {
            auto c = backend->acquireForServer();
            server::upgradeSchema(*c); // an older database is brought forward, a newer refused
        }
        server::ServerOptions o;
        o.listen = listen;
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
        for (const QString &proxy : a.options.value(QStringLiteral("--trusted-proxy"))
                                        .split(QLatin1Char(','), Qt::SkipEmptyParts))
            o.trustedProxies.append(proxy.trimmed());
        server::SqliteBackend::setStatementTimeLimit(qint64(intOption(a, "--statement-timeout", 120)) * 1000);
        server::PgBackend::setStatementTimeLimit(qint64(intOption(a, "--statement-timeout", 120)) * 1000);
        std::signal(SIGPIPE, SIG_IGN);
        server::HttpServer http(*backend, need(a, "--files"), o);
        http.start();
        int sig = 0;
        sigwait(&stopSignals, &sig);
        // Graceful stop: no new connections, the balancer's health check fails, running
        // requests get the grace to finish.
        const int grace = intOption(a, "--drain-seconds", 20);
        const int left = http.drain(std::chrono::seconds(grace));
        http.log().note(QStringLiteral("waylink-server stopped (%1)%2")
                            .arg(sig == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT"))
                            .arg(left ? QStringLiteral(", %1 requests cut off after %2 s").arg(left).arg(grace)
                                      : QString()));
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
