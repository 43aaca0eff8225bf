// The XML change packet as ApplyData applies it: a client's inserts, updates and deletes of
// a table, applied to a small demo database (SQLite). Bad packets are refused with the
// server's own errors (ServerError, DbError); nothing else may escape and nothing crash.
#include "harness.h"

#include "server/applydata.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <memory>

using namespace server;

namespace {

std::unique_ptr<Backend> g_backend;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QCoreApplication>();
    // In memory where the system offers it: every apply commits.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/waylink-fuzz-XXXXXX"));
    g_backend = Backend::open(dir.filePath(QStringLiteral("fuzz.sqlite")), true);
    auto c = g_backend->acquireForServer();
    createSchema(*c);
    SeedOptions o;
    o.waybills = 20;
    o.fastHash = true;
    seedDemo(*c, o);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the table (and the deployment), the rest is the packet.
    static const char *const tables[] = {"tab_Site", "TAB_ACCOUNT", "TAB_MSGRECORD", "tab_Employee",
                                         "TAB_PARAMETER", "sys_user"};
    const char *table = tables[data[0] % 6];
    const QString sysid = data[0] & 0x80 ? QStringLiteral("002") : QStringLiteral("001");
    const QString xml = QString::fromUtf8(fuzz::bytes(data + 1, size - 1));
    auto c = g_backend->acquireForServer();
    try {
        applyData(*c, QString::fromLatin1(table), xml, sysid,
                  OpActor{QStringLiteral("总部"), QStringLiteral("fuzz"), QStringLiteral("127.0.0.1")}, {});
    } catch (const ServerError &) {
    } catch (const DbError &) {
    }
    return 0;
}
