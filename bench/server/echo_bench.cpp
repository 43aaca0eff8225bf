// echo_bench: the server's per-request overhead against a bare HTTP echo, with the same
// client (wrk) in one run. Starts, in this process, the application server on a seeded
// database (request log written to a file, as deployed) and a bare cpp-httplib echo that
// answers a POST with its body; logs on; then runs wrk alternately against the bare echo
// (the EchoString request's body and headers, no token check, no CBOR) and against
// EchoString, and prints each run, the medians and their ratio.
//
//   echo_bench [--db LOCATION] [--connections N] [--seconds S] [--rounds N]
//              [--wrk-threads N] [--threads N] [--loops N] [--hold SECONDS]
// LOCATION: a SQLite file (default: a temporary one) or postgresql://...; seeded when
// empty. --hold: only serve both for this long (for a profiler), printing the ports and
// the wrk script.
#include "dataaccess/packet/localtimezone.h"
#include "dataaccess/protocol/protocol.h"
#include "dataaccess/protocol/transport.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <httplib.h>
#include <thread>
#include <vector>

using namespace server;

namespace {

struct Options
{
    QString db;
    int connections = 8;
    int seconds = 5;
    int rounds = 3;
    int wrkThreads = 2;
    int threads = 8;
    int loops = 0; // the server's event loops; 0: its default (one per core)
    int hold = 0;
};

struct WrkResult
{
    double rps = 0;
    QString latency; // wrk's "Latency" line
    QString raw;
};

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string one, five, fifteen;
    f >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

WrkResult runWrk(const Options &o, int port, const QString &path, const QString &script)
{
    QProcess p;
    p.start(QStringLiteral("wrk"),
            {QStringLiteral("-t%1").arg(o.wrkThreads), QStringLiteral("-c%1").arg(o.connections),
             QStringLiteral("-d%1s").arg(o.seconds), QStringLiteral("--latency"), QStringLiteral("-s"), script,
             QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)});
    if (!p.waitForFinished(o.seconds * 1000 + 30000) || p.exitCode() != 0) {
        std::fprintf(stderr, "echo_bench: wrk failed: %s\n", p.readAllStandardError().constData());
        std::exit(1);
    }
    WrkResult r;
    r.raw = QString::fromUtf8(p.readAllStandardOutput());
    const auto rps = QRegularExpression(QStringLiteral("Requests/sec:\\s+([0-9.]+)")).match(r.raw);
    r.rps = rps.captured(1).toDouble();
    const auto lat = QRegularExpression(QStringLiteral("\\n\\s*(Latency\\s+[^\\n]+)")).match(r.raw);
    r.latency = lat.captured(1).simplified();
    // Non-2xx answers mean the runs measured refusals, not echoes.
    if (r.raw.contains(QLatin1String("Non-2xx")) || r.rps <= 0) {
        std::fprintf(stderr, "echo_bench: the run was not clean:\n%s\n", qPrintable(r.raw));
        std::exit(1);
    }
    return r;
}

// CPU seconds of this process's threads whose name starts with `prefix`.
double threadsCpuSeconds(const std::string &prefix)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream comm("/proc/self/task/" + tid.toStdString() + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::ifstream stat("/proc/self/task/" + tid.toStdString() + "/stat");
        std::string line;
        std::getline(stat, line);
        // Fields after the name in parentheses: utime and stime are the 12th and 13th.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        long long utime = 0, stime = 0;
        for (int i = 1; i <= 13 && rest >> field; ++i) {
            if (i == 12)
                utime = std::stoll(field);
            if (i == 13)
                stime = std::stoll(field);
        }
        total += double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }
    return total;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone(); // as waylink-server does
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        const QString a = args.at(i), v = args.at(i + 1);
        if (a == QLatin1String("--db"))
            o.db = v;
        else if (a == QLatin1String("--connections"))
            o.connections = v.toInt();
        else if (a == QLatin1String("--seconds"))
            o.seconds = v.toInt();
        else if (a == QLatin1String("--rounds"))
            o.rounds = v.toInt();
        else if (a == QLatin1String("--wrk-threads"))
            o.wrkThreads = v.toInt();
        else if (a == QLatin1String("--threads"))
            o.threads = v.toInt();
        else if (a == QLatin1String("--loops"))
            o.loops = v.toInt();
        else if (a == QLatin1String("--hold"))
            o.hold = v.toInt();
        else {
            std::fprintf(stderr, "usage: echo_bench [--db LOCATION] [--connections N] [--seconds S] "
                                 "[--rounds N] [--wrk-threads N] [--threads N] [--loops N] [--hold SECONDS]\n");
            return 2;
        }
    }
    if (o.connections <= 0 || o.seconds <= 0 || o.rounds <= 0 || o.wrkThreads <= 0) {
        std::fprintf(stderr, "echo_bench: counts must be positive\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString db = o.db.isEmpty() ? dir.filePath(QStringLiteral("echo.sqlite")) : o.db;
    auto backend = Backend::open(db, true);
    {
        auto c = backend->acquire();
        createSchema(*c);
        const QueryResult r = c->query(QStringLiteral("select count(*) from sys_user"), {}, true);
        if (r.rows.value(0).value(0).toLongLong() == 0) {
            SeedOptions so;
            so.waybills = 100;
            so.fastHash = true;
            seedDemo(*c, so);
        }
    }
    ServerOptions so;
    so.port = 0;
    so.threads = o.threads;
    so.ioThreads = o.loops;
    so.logFile = dir.filePath(QStringLiteral("requests.log"));
    HttpServer server(*backend, dir.filePath(QStringLiteral("files")), so);
    server.start();

    httplib::Server bare;
    // Keep-alive as long as the client wants, small answers sent at once: as ours.
    bare.set_keep_alive_max_count(1 << 30);
    bare.set_tcp_nodelay(true);
    bare.Post("/echo", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.body, quillon::protocol::kCborType);
    });
    const int barePort = bare.bind_to_any_port("127.0.0.1");
    // Its threads inherit the name: their CPU time is told apart from the server's loops.
    std::thread bareThread([&bare] {
        pthread_setname_np(pthread_self(), "bare-echo");
        bare.listen_after_bind();
    });

    quillon::protocol::Transport::Options to;
    to.host = QStringLiteral("127.0.0.1");
    to.port = server.port();
    quillon::protocol::Transport t(to);
    quillon::protocol::SessionRequest logOn;
    logOn.authenticationUser = quillon::protocol::AuthUser{QStringLiteral("0A1B2C3D4E5F"), QStringLiteral("1"),
                                                           QStringLiteral("101"), QStringLiteral("001.zhang")}
                                   .join();
    logOn.authenticationPassword = QStringLiteral("123456");
    t.openSession(logOn);
    // The same call through the program's own transport first: the request is right.
    if (t.callMethod(QStringLiteral("EchoString"), {QStringLiteral("waylink")}).at(1).toString()
        != QLatin1String("waylink")) {
        std::fprintf(stderr, "echo_bench: EchoString did not echo\n");
        return 1;
    }

    const QString bodyFile = dir.filePath(QStringLiteral("body.cbor"));
    {
        QFile f(bodyFile);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QCborArray{QStringLiteral("waylink")}.toCborValue().toCbor());
    }
    const QString script = dir.filePath(QStringLiteral("echo.lua"));
    {
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QStringLiteral("local f = io.open(\"%1\", \"rb\")\n"
                               "wrk.method = \"POST\"\n"
                               "wrk.body = f:read(\"*a\")\n"
                               "f:close()\n"
                               "wrk.headers[\"Content-Type\"] = \"%2\"\n"
                               "wrk.headers[\"Authorization\"] = \"Bearer %3\"\n")
                    .arg(bodyFile, QLatin1String(quillon::protocol::kCborType), t.token())
                    .toUtf8());
    }
    const QString echoPath = QStringLiteral("/waylink/v1/call/%1.EchoString").arg(QLatin1String(quillon::protocol::kServerClass));

    if (o.hold > 0) {
        std::printf("server pid %lld, EchoString: wrk -s %s http://127.0.0.1:%d%s\n"
                    "bare echo: http://127.0.0.1:%d/echo\n",
                    (long long)QCoreApplication::applicationPid(), qPrintable(script), server.port(),
                    qPrintable(echoPath), barePort);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(o.hold));
    } else {
        std::printf("%s, %d connections, wrk %d threads, %d s per run, %s event loops, load average %s\n",
                    qPrintable(backend->describe()), o.connections, o.wrkThreads, o.seconds,
                    o.loops > 0 ? std::to_string(o.loops).c_str() : "default", loadAverage().c_str());
        std::vector<double> bareRps, echoRps, bareCpu, echoCpu;
        for (int round = 0; round < o.rounds; ++round) {
            double cpu0 = threadsCpuSeconds("bare-echo");
            const WrkResult b = runWrk(o, barePort, QStringLiteral("/echo"), script);
            const double bareUs = (threadsCpuSeconds("bare-echo") - cpu0) * 1e6 / (b.rps * o.seconds);
            cpu0 = threadsCpuSeconds("wl-");
            const WrkResult e = runWrk(o, server.port(), echoPath, script);
            const double echoUs = (threadsCpuSeconds("wl-") - cpu0) * 1e6 / (e.rps * o.seconds);
            bareRps.push_back(b.rps);
            echoRps.push_back(e.rps);
            bareCpu.push_back(bareUs);
            echoCpu.push_back(echoUs);
            std::printf("round %d: bare echo %6.0f req/s, %4.1f us CPU/req (%s) | EchoString %6.0f req/s, "
                        "%4.1f us CPU/req (%s) | ratio %.2f\n",
                        round + 1, b.rps, bareUs, qPrintable(b.latency), e.rps, echoUs, qPrintable(e.latency),
                        e.rps / b.rps);
        }
        const double mb = median(bareRps), me = median(echoRps);
        std::printf("median: bare echo %.0f req/s, %.1f us CPU/req; EchoString %.0f req/s, %.1f us CPU/req; "
                    "ratio %.2f (load average %s)\n",
                    mb, median(bareCpu), me, median(echoCpu), me / mb, loadAverage().c_str());
    }
    bare.stop();
    bareThread.join();
    server.stop();
    return 0;
}
