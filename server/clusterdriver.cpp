// waylink-cluster-driver: clients that post scan records (ApplyData inserts into TAB_SCAN,
// a table without a key, where a change applied twice would show as two rows) through one
// address, each remembering every posting the server acknowledged. Used by
// scripts/cluster-test across application server and database failures.
//
//   waylink-cluster-driver --port 18800 --clients 8 --seconds 60 --acks FILE [--prefix P]
//
// Writes one acknowledged bill code per line to FILE (flushed as it goes), and at the end a
// summary: postings acknowledged and failed, the longest wait of a posting that succeeded,
// and the longest time in which no client got an acknowledgement (what users saw of a
// failover).
#include "dataaccess/packet/datapacket.h"
#include "dataaccess/packet/localtimezone.h"
#include "dataaccess/protocol/transport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace quillon;
using namespace quillon::protocol;

namespace {

struct Shared
{
    std::mutex mutex;
    QFile acks;
    std::atomic<qint64> acknowledged{0};
    std::atomic<qint64> failed{0};
    std::atomic<qint64> longestMs{0};
    QElapsedTimer clock;
    qint64 lastAckMs = 0;
    qint64 longestGapMs = 0;
    qint64 gapEndsAtMs = 0;
    QMap<QString, int> errors; // first line of each error text, counted
};

DataPacket scanPacket(const DataPacket &shape, const QString &bill, const QString &site)
{
    DataPacket p = shape;
    p.rows.clear();
    p.changes.clear();
    QVariantList row;
    for (const FieldDef &f : std::as_const(shape.fields)) {
        const QString n = f.name.toUpper();
        if (n == QLatin1String("BILLCODE"))
            row.append(bill);
        else if (n == QLatin1String("SITENAME"))
            row.append(site);
        else if (n == QLatin1String("SCANTYPE"))
            row.append(QStringLiteral("到件"));
        else if (n == QLatin1String("WEIGHT"))
            row.append(1.5);
        else if (n == QLatin1String("SCANTIME"))
            row.append(QDateTime::currentDateTime());
        else
            row.append(QVariant());
    }
    p.rows.append(row);
    DataPacket::Change ch;
    ch.state = RowState::Inserted;
    ch.row = 0;
    p.changes.append(ch);
    return p;
}

void client(int index, const Transport::Options &options, const SessionRequest &logOn,
            const QString &prefix, qint64 untilMs, Shared &shared)
{
    Transport t(options);
    DataPacket shape;
    for (;;) {
        try {
            t.openSession(logOn);
            shape = DataPacket::fromBinary(t.provider(QStringLiteral("select * from TAB_SCAN where 1=0")));
            break;
        } catch (const ProtocolError &e) {
            if (shared.clock.elapsed() > untilMs)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    for (qint64 seq = 1; shared.clock.elapsed() < untilMs; ++seq) {
        const QString bill = QStringLiteral("%1%2-%3").arg(prefix).arg(index).arg(seq);
        const DataPacket p = scanPacket(shape, bill, QStringLiteral("上海浦东"));
        const qint64 start = shared.clock.elapsed();
        try {
            const QCborArray r = t.callMethod(QStringLiteral("ApplyData"),
                                              {QStringLiteral("TAB_SCAN"), p.toXml(), 0, QCborValue()});
            if (!r.at(4).toBool())
                throw ProtocolError(0, QStringLiteral("ApplyData answered false"));
            const qint64 now = shared.clock.elapsed();
            std::lock_guard lock(shared.mutex);
            shared.acks.write(bill.toUtf8() + '\n');
            shared.acks.flush();
            ++shared.acknowledged;
            shared.longestMs = std::max<qint64>(shared.longestMs, now - start);
            if (shared.lastAckMs > 0 && now - shared.lastAckMs > shared.longestGapMs) {
                shared.longestGapMs = now - shared.lastAckMs;
                shared.gapEndsAtMs = now;
            }
            shared.lastAckMs = now;
        } catch (const ProtocolError &e) {
            ++shared.failed;
            std::lock_guard lock(shared.mutex);
            ++shared.errors[QStringLiteral("HTTP %1: %2").arg(e.status()).arg(e.message().left(120))];
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    quillon::pinLocalTimeZone();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    auto option = [&](const QString &name, const QString &fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
    };
    Transport::Options o;
    o.host = option(QStringLiteral("--host"), QStringLiteral("127.0.0.1"));
    o.port = option(QStringLiteral("--port"), QStringLiteral("18800")).toInt();
    o.timeoutMs = 30000;
    o.retryForMs = option(QStringLiteral("--retry-ms"), QStringLiteral("60000")).toInt();
    const int clients = option(QStringLiteral("--clients"), QStringLiteral("8")).toInt();
    const qint64 seconds = option(QStringLiteral("--seconds"), QStringLiteral("60")).toLongLong();
    const QString prefix = option(QStringLiteral("--prefix"), QStringLiteral("CT"));
    const QString acksFile = option(QStringLiteral("--acks"), QString());
    if (acksFile.isEmpty() || clients <= 0 || seconds <= 0) {
        std::fprintf(stderr, "usage: waylink-cluster-driver --acks FILE [--host H] [--port N] "
                             "[--clients N] [--seconds N] [--prefix P] [--retry-ms N]\n");
        return 2;
    }
    Shared shared;
    shared.acks.setFileName(acksFile);
    if (!shared.acks.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(acksFile));
        return 1;
    }
    SessionRequest logOn;
    logOn.authenticationUser = AuthUser{QStringLiteral("0A1B2C3D4E5F"), QStringLiteral("1"),
                                        option(QStringLiteral("--site"), QStringLiteral("000")),
                                        option(QStringLiteral("--user"), QStringLiteral("001.admin"))}
                                   .join();
    logOn.authenticationPassword = option(QStringLiteral("--password"), QStringLiteral("123456"));
    shared.clock.start();
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(client, i, o, logOn, prefix, seconds * 1000, std::ref(shared));
    for (auto &t : threads)
        t.join();
    std::printf("postings acknowledged: %lld, failed: %lld\n", shared.acknowledged.load(),
                shared.failed.load());
    std::printf("longest wait of an acknowledged posting: %.1f s\n", double(shared.longestMs.load()) / 1000.0);
    std::printf("longest time without any acknowledgement: %.1f s (ending %.1f s into the run)\n",
                double(shared.longestGapMs) / 1000.0, double(shared.gapEndsAtMs) / 1000.0);
    for (auto it = shared.errors.constBegin(); it != shared.errors.constEnd(); ++it)
        std::printf("error x%d: %s\n", it.value(), qPrintable(it.key()));
    return 0;
}
