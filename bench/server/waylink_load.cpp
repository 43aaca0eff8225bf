// waylink-load: N simulated clients against an application server on loopback. Each
// client logs on, then repeats a round of what a branch does (open the unread notice list,
// publish a notice, run two finance queries, call the fee function twice) until it has
// done its rounds or the time is up. Each client is a user of its own (001.load<N>, made
// when missing). Clients start 4 ms apart. Prints throughput, latency percentiles, errors,
// the CPU time of the server apart from the clients' (same process) and the load average.
//
// Without --think-ms every client sends its next request as soon as it has the answer (the
// server's saturation); with it, a client pauses before each request for a random time
// between 0.5 and 1.5 times MS, as a clerk does between actions, and the tool compares the
// achieved request rate with the offered one (clients / think time).
//
//   waylink-load [--db LOCATION] [--clients N] [--rounds N] [--seconds S]
//                [--server-threads N] [--loops N] [--waybills N] [--think-ms MS]
// LOCATION: a SQLite file (default: a temporary one) or postgresql://...; the database is
// made and seeded when empty.
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/packet/localtimezone.h"
#include "dataaccess/protocol/transport.h"
#include "server/auth.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <QCborArray>
#include <QCoreApplication>
#include <QDate>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <time.h>
#include <vector>

using namespace server;
using quillon::DataPacket;
using quillon::protocol::Transport;
using Clock = std::chrono::steady_clock;

namespace {

struct Options
{
    QString db;
    int clients = 50;
    int rounds = 20;
    double seconds = 60;
    int serverThreads = 8; // workers of the server (connections do not hold one)
    int waybills = 1000;
    double thinkMs = 0; // mean pause before each request; 0: none
    int connect = 0;    // a server (or balancer) already running on this loopback port; 0: in-process
    int loops = 0;      // the server's event loops; 0: its default
};

enum Op { LogOn, Unread, Publish, FinanceList, FinanceSum, Fee, OpCount };
const char *const kOpNames[OpCount] = {"log-on", "unread list", "publish", "finance list",
                                       "finance sums", "fee call"};

struct Stats
{
    std::vector<double> ms[OpCount];
    qint64 errors = 0;
    QString firstError;
    qint64 requests = 0;        // after the log-on
    double activeSeconds = 0;   // from the log-on's answer to the last answer
};

QString text(const char *s)
{
    return QString::fromUtf8(s);
}

void usage()
{
    std::fprintf(stderr, "usage: waylink-load [--db LOCATION] [--clients N] [--rounds N] "
                         "[--seconds S] [--server-threads N] [--loops N] [--waybills N] [--think-ms MS]\n"
                         "                    [--connect PORT]  (a server or balancer already "
                         "running on that loopback port, on the database of --db)\n");
}

bool parse(const QStringList &args, Options *o)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString a = args.at(i);
        if (i + 1 >= args.size())
            return false;
        const QString v = args.at(++i);
        bool ok = true;
        if (a == QLatin1String("--db"))
            o->db = v;
        else if (a == QLatin1String("--clients"))
            o->clients = v.toInt(&ok);
        else if (a == QLatin1String("--rounds"))
            o->rounds = v.toInt(&ok);
        else if (a == QLatin1String("--seconds"))
            o->seconds = v.toDouble(&ok);
        else if (a == QLatin1String("--server-threads"))
            o->serverThreads = v.toInt(&ok);
        else if (a == QLatin1String("--loops"))
            o->loops = v.toInt(&ok);
        else if (a == QLatin1String("--waybills"))
            o->waybills = v.toInt(&ok);
        else if (a == QLatin1String("--think-ms"))
            o->thinkMs = v.toDouble(&ok);
        else if (a == QLatin1String("--connect"))
            o->connect = v.toInt(&ok);
        else
            return false;
        if (!ok)
            return false;
    }
    return o->clients > 0 && o->clients <= 2000 && o->rounds > 0 && o->seconds > 0 && o->thinkMs >= 0;
}

double percentile(std::vector<double> &v, double p)
{
    if (v.empty())
        return 0;
    const size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + qsizetype(k), v.end());
    return v[k];
}

// Every simulated client is a user of its own (site 上海浦东), as in a real deployment.
QString loadUser(int id)
{
    return QStringLiteral("001.load%1").arg(id);
}

// CPU seconds of the calling thread.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The 1-, 5- and 15-minute load averages of the machine.
std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string one, five, fifteen;
    f >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU seconds the whole machine has been busy (every core, every process).
double machineBusySeconds()
{
    std::ifstream f("/proc/stat");
    std::string cpu;
    long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    f >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return double(user + nice + system + irq + softirq + steal) / double(sysconf(_SC_CLK_TCK));
}

double processCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class Client
{
public:
    Client(int id, int port, Clock::time_point deadline, int rounds, double thinkMs)
        : m_id(id)
        , m_deadline(deadline)
        , m_rounds(rounds)
        , m_thinkMs(thinkMs)
        , m_random(std::uint32_t(id) * 2654435761u + 1)
    {
        Transport::Options o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = port;
        o.timeoutMs = 30000;
        m_t = std::make_unique<Transport>(o);
    }

    void run(Stats &s)
    {
        quillon::protocol::SessionRequest r;
        r.authenticationUser = quillon::protocol::AuthUser{QStringLiteral("0A1B2C3D4E5F"), QStringLiteral("1"),
                                                           QStringLiteral("101"), loadUser(m_id)}
                                   .join();
        r.authenticationPassword = QStringLiteral("123456");
        if (!timed(s, LogOn, [&] { m_t->openSession(r); }))
            return;
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        const QString weekAgo = QDate::currentDate().addDays(-7).toString(QStringLiteral("yyyy-MM-dd"));
        const QString unread = text(
            "select b.*, a.MSGSITE, null as MSGEMP from TAB_MSGSITE a, TAB_MSGRECORD b where a.MSGID=b.MSGID "
            "and a.sysid=b.sysid and a.MSGSITE='上海浦东' and b.OPTIME >= trunc(sysdate-10) and a.sysid='001' "
            "and not exists (select 1 from TAB_MSGREAD c where c.MSGReadSite=a.MSGSITE and c.MSGReader='马超' "
            "and c.MSGID=a.MSGID) order by b.OPTIME desc");
        const QString list = text("select * from TAB_ACCOUNT where SCANTIME between to_date('%1 00:00:00',"
                                  "'yyyy-mm-dd hh24:mi:ss') and to_date('%2 23:59:59','yyyy-mm-dd hh24:mi:ss') "
                                  "and STATIONCODE='上海浦东' and sysid='001'")
                                 .arg(weekAgo, today);
        const QString sums = text("select FINANCECENTER, count(*) as N, sum(nvl(AR_TRANS_FEE,0)) as FEE, "
                                  "sum(nvl(WEIGHT,0)) as W from TAB_ACCOUNT where sysid='001' and "
                                  "SCANTIME >= trunc(sysdate)-30 group by FINANCECENTER");
        const QString fee = text(
            " begin select F_CalcJSFee( Pi_FirstSite=>:1,Pi_Dest=>:2,Pi_FeeType=>:3,Pi_PCS=>:4,Pi_Weight=>:5,"
            "Pi_BulkWeight=>:6, Pi_FastType=>:7,Pi_GoodsType=>:8,Pi_SevrType=>:9,Pi_TransType=>:10,"
            "Pi_Finance=>:11, Pi_OpSite=>:12,Pi_CusName=>:13,Pi_ValidTime=>:14,Pi_sysid=>:15 ) as wResult "
            "from dual; end;");
        const auto active = Clock::now();
        const auto count = [&s] {
            qint64 n = 0;
            for (int op = Unread; op < OpCount; ++op)
                n += qint64(s.ms[op].size());
            return n;
        };
        struct Tally
        {
            Stats &s;
            Clock::time_point from;
            std::function<qint64()> count;
            ~Tally()
            {
                s.requests = count();
                s.activeSeconds = std::chrono::duration<double>(Clock::now() - from).count();
            }
        } tally{s, active, count};
        DataPacket shape;
        if (!timed(s, Unread, [&] { shape = DataPacket::fromBinary(m_t->provider(text("select * from TAB_MSGRECORD where 1=0"))); }))
            return;
        for (int round = 0; round < m_rounds && Clock::now() < m_deadline; ++round) {
            timed(s, Unread, [&] { DataPacket::fromBinary(m_t->provider(unread)); });
            timed(s, Publish, [&] {
                DataPacket p = shape;
                p.rows.clear();
                p.changes.clear();
                QVariantList row;
                for (const auto &f : std::as_const(p.fields)) {
                    const QString n = f.name.toUpper();
                    if (n == QLatin1String("MSGID"))
                        row.append(QStringLiteral("L%1-%2-%3").arg(m_id).arg(round).arg(QDateTime::currentMSecsSinceEpoch()));
                    else if (n == QLatin1String("MSGOBJECT"))
                        row.append(QStringLiteral("全网"));
                    else if (n == QLatin1String("MSGCONTENT"))
                        row.append(QStringLiteral("负载测试公告 %1").arg(round));
                    else if (n == QLatin1String("OPSITE"))
                        row.append(QStringLiteral("上海浦东"));
                    else if (n == QLatin1String("OPEMP"))
                        row.append(QStringLiteral("负载%1").arg(m_id)); // the user's own name
                    else if (n == QLatin1String("OPTIME"))
                        row.append(QDateTime::currentDateTime());
                    else if (n == QLatin1String("SYSID"))
                        row.append(QStringLiteral("001"));
                    else
                        row.append(QVariant());
                }
                p.rows.append(row);
                DataPacket::Change ch;
                ch.state = quillon::RowState::Inserted;
                ch.row = 0;
                p.changes.append(ch);
                m_t->callMethod(QStringLiteral("ApplyData"), {QStringLiteral("TAB_MSGRECORD"), p.toXml(), 0, QCborValue()});
            });
            timed(s, FinanceList, [&] { DataPacket::fromBinary(m_t->provider(list)); });
            timed(s, FinanceSum, [&] { DataPacket::fromBinary(m_t->provider(sums)); });
            for (int k = 0; k < 2; ++k) {
                timed(s, Fee, [&] {
                    const QCborArray params{QStringLiteral("上海浦东"), k ? QStringLiteral("深圳") : QStringLiteral("北京"),
                                            QStringLiteral("中转费"), 1, 0.5 + round % 7 + k, 0, QString(), QString(),
                                            QString(), QString(), QStringLiteral("上海中心"), QStringLiteral("上海浦东"),
                                            QString(), QString(), QStringLiteral("001")};
                    DataPacket::fromBinary(m_t->provider(fee, params));
                });
            }
        }
    }

private:
    // The clerk's pause before an action; false when the time is up meanwhile.
    bool think()
    {
        if (m_thinkMs <= 0)
            return true;
        std::uniform_real_distribution<double> spread(0.5, 1.5);
        const auto pause = std::chrono::microseconds(qint64(m_thinkMs * spread(m_random) * 1000));
        const auto until = std::min(Clock::now() + pause, m_deadline);
        std::this_thread::sleep_until(until);
        return Clock::now() < m_deadline;
    }

    template <typename F>
    bool timed(Stats &s, Op op, F &&f)
    {
        if (op != LogOn && !think())
            return false;
        const auto t0 = Clock::now();
        try {
            f();
        } catch (const std::exception &e) {
            ++s.errors;
            if (s.firstError.isEmpty())
                s.firstError = QStringLiteral("%1: %2").arg(text(kOpNames[op]), text(e.what()));
            return false;
        }
        s.ms[op].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        return true;
    }

    int m_id;
    Clock::time_point m_deadline;
    int m_rounds;
    double m_thinkMs;
    std::mt19937 m_random;
    std::unique_ptr<Transport> m_t;
};

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone(); // as waylink-server does
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(app.arguments(), &o)) {
        usage();
        return 2;
    }
    QTemporaryDir dir;
    if (o.db.isEmpty())
        o.db = dir.filePath(QStringLiteral("load.sqlite"));
    try {
        auto backend = Backend::open(o.db, true);
        {
            auto c = backend->acquireForServer();
            createSchema(*c);
            if (c->query(QStringLiteral("select 1 from tab_Site where sysid='001'"), {}, true).rows.isEmpty()) {
                SeedOptions so;
                so.waybills = o.waybills;
                so.fastHash = true;
                seedDemo(*c, so);
            }
            for (int i = 0; i < o.clients; ++i) {
                if (c->query(QStringLiteral("select 1 from sys_user where USERCODE=?"), {loadUser(i)}, true)
                        .rows.isEmpty())
                    addUser(*c, loadUser(i), QStringLiteral("123456"), QStringLiteral("101"),
                            QStringLiteral("负载%1").arg(i), true);
                // A site's finance clerk, as 马超 of 上海浦东: reads the station's account lines.
                if (c->query(QStringLiteral("select 1 from sys_userrole where USERCODE=?"), {loadUser(i)}, true)
                        .rows.isEmpty())
                    c->execute(QStringLiteral("insert into sys_userrole (USERCODE, ROLENAME, sysid) "
                                              "values (?, '网点财务', '001')"),
                               {loadUser(i)});
            }
        }
        ServerOptions so;
        so.port = 0;
        so.quiet = true;
        so.threads = o.serverThreads > 0 ? o.serverThreads : 8;
        so.ioThreads = o.loops;
        so.connectionsPerAddress = 0; // every simulated client comes from loopback
        // --connect: the servers run elsewhere (behind a balancer); the "server" CPU figure
        // below then counts nothing of theirs.
        std::unique_ptr<HttpServer> inProcess;
        int port = o.connect;
        if (port == 0) {
            inProcess = std::make_unique<HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
            inProcess->start();
            port = inProcess->port();
        }

        const std::string loadBefore = loadAverage();
        const double cpuBefore = processCpuSeconds();
        const double machineBefore = machineBusySeconds();
        std::atomic<double> clientCpu{0};
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(qint64(o.seconds * 1000));
        std::vector<Stats> stats(size_t(o.clients));
        std::vector<std::thread> threads;
        threads.reserve(size_t(o.clients));
        for (int i = 0; i < o.clients; ++i)
            threads.emplace_back([&, i] {
                // Clients arrive over a moment, not in the same millisecond: the
                // listening socket's backlog is short.
                std::this_thread::sleep_for(std::chrono::milliseconds(4 * i));
                const double cpu0 = threadCpuSeconds();
                Client c(i, port, deadline, o.rounds, o.thinkMs);
                c.run(stats[size_t(i)]);
                const double used = threadCpuSeconds() - cpu0;
                for (double cur = clientCpu.load(); !clientCpu.compare_exchange_weak(cur, cur + used);) {
                }
            });
        for (auto &t : threads)
            t.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // Everything this process used while the clients ran, less the clients' own threads:
        // the server's HTTP layer, its handlers and the database work done in-process.
        const double processCpu = processCpuSeconds() - cpuBefore;
        const double machineCpu = machineBusySeconds() - machineBefore;
        const std::string loadAfter = loadAverage();
        if (inProcess)
            inProcess->stop();

        Stats all;
        for (Stats &s : stats) {
            for (int op = 0; op < OpCount; ++op)
                all.ms[op].insert(all.ms[op].end(), s.ms[op].begin(), s.ms[op].end());
            all.errors += s.errors;
            if (all.firstError.isEmpty())
                all.firstError = s.firstError;
        }
        std::vector<double> every;
        for (auto &v : all.ms)
            every.insert(every.end(), v.begin(), v.end());
        if (o.connect)
            std::printf("servers: outside this process, through 127.0.0.1:%d\n", o.connect);
        std::printf("backend: %s\nclients: %d  rounds: %d  server threads: %d  time limit: %.0f s  "
                    "think: %s\n",
                    qPrintable(backend->describe()), o.clients, o.rounds, so.threads, o.seconds,
                    o.thinkMs > 0 ? qPrintable(QStringLiteral("%1 ms (0.5-1.5x) before each request").arg(o.thinkMs))
                                  : "none (closed loop)");
        const double rate = double(every.size()) / elapsed;
        std::printf("requests: %zu  errors: %lld  elapsed: %.2f s  throughput: %.0f requests/s\n",
                    every.size(), static_cast<long long>(all.errors), elapsed, rate);
        if (o.thinkMs > 0) {
            // What the clients would send if every answer came at once, and what they did
            // send while they were logged on (the start-up of the clients left out).
            const double offered = o.clients * 1000.0 / o.thinkMs;
            double achieved = 0;
            for (const Stats &s : stats)
                if (s.activeSeconds > 0)
                    achieved += double(s.requests) / s.activeSeconds;
            std::printf("offered: %.0f requests/s  achieved: %.0f requests/s (%.1f %%)\n", offered, achieved,
                        100.0 * achieved / offered);
        }
        std::printf("latency ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n", percentile(every, 0.5),
                    percentile(every, 0.9), percentile(every, 0.99), percentile(every, 1.0));
        std::printf("cpu s: server %.2f (%.2f ms/request)  clients %.2f  (process %.2f, wall %.2f)\n",
                    processCpu - clientCpu.load(),
                    every.empty() ? 0.0 : (processCpu - clientCpu.load()) * 1000.0 / double(every.size()),
                    clientCpu.load(), processCpu, elapsed);
        std::printf("load average: %s at the start, %s at the end\n", loadBefore.c_str(), loadAfter.c_str());
        // PostgreSQL's own processes are among the others.
        std::printf("cpu s of other processes meanwhile: %.2f (%.2f cores)\n", machineCpu - processCpu,
                    (machineCpu - processCpu) / elapsed);
        for (int op = 0; op < OpCount; ++op)
            std::printf("  %-13s n=%-6zu p50 %7.2f  p99 %7.2f\n", kOpNames[op], all.ms[op].size(),
                        percentile(all.ms[op], 0.5), percentile(all.ms[op], 0.99));
        if (all.errors)
            std::printf("first error: %s\n", qPrintable(all.firstError));
        return all.errors ? 1 : 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "waylink-load: %s\n", e.what());
        return 1;
    }
}
