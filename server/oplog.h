#pragma once

#include "server/tables.h"
// The operation log (sys_log): one row for every change or deletion that ApplyData makes
// in a table listed in SYS_TABLES for the caller's deployment, written in the same
// transaction as the change. Only the server writes it; clients read it.
//
// The log is tamper-evident: each row carries its position in its deployment's chain
// (seq) and a keyed BLAKE2b hash over its values and the hash of the row before it; the
// chain's head (last position and hash) is kept in sys_logchain. verifyOpLog() walks the
// chain and names the first row that was altered, inserted or removed outside the server.
// The hash key lies in sys_server, which no client connection can read.
//
//   OpLogWriter log(c, info, sysid, actor, packetColumns);   // inside the transaction
//   log.logUpdate(original, row, changedFields);
//   log.logDelete(original);
//   log.finish();                                             // before commit

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace server {

class Connection;
struct TableInfo;

// Who made a change, as the log records it.
struct OpActor
{
    QString site;    // site name of the session
    QString emp;     // employee name of the session
    QString address; // client address the server saw
};

// One log row as written.
struct OpLogEntry
{
    QString tableName;
    QString key;       // BILLCODE when the table has it, else the first key column
    QStringList keys;  // further key values (key1..key5)
    QString opType;    // "UPT" or "DEL"
    QString content;   // "COL: old -> new; ..." for changes, the row's values for deletions
    QString site, emp, address;
    QDateTime time;    // server time, whole seconds
    QString note;
};

// isServerWrittenTable: server/tables.h

// Adds the chain columns, the chain table, its index and the hash key when missing;
// rows of an older database are sealed into the chain once. Inside the schema transaction.
void ensureOpLogSchema(Connection &c);

// Whether changes of `table` are logged for `sysid` (listed in SYS_TABLES; SYS_TABLES itself
// is always logged, so switching the log off shows in the log).
bool isLoggedTable(Connection &c, const QString &table, const QString &sysid);

// Appends entries to the deployment's chain. Serialises with every other writer of the
// log until the transaction ends. Inside a transaction.
void appendOpLog(Connection &c, const QString &sysid, const QList<OpLogEntry> &entries);

// Collects the log rows of one ApplyData call on one table.
class OpLogWriter
{
public:
    // fieldColumns: the table column (as declared) of each packet field, empty for fields
    // the table lacks. Reads SYS_TABLES; inactive when the table is not logged.
    OpLogWriter(Connection &c, const TableInfo &table, const QString &sysid, const OpActor &actor,
                const QStringList &fieldColumns);

    bool active() const { return m_active; }
    void logUpdate(const QVariantList &original, const QVariantList &row,
                   const QList<int> &changedFields);
    void logDelete(const QVariantList &original);
    // Writes what was collected.
    void finish();

    // A value as the log shows it: "(空)" for null, dates as "yyyy-MM-dd HH:mm:ss",
    // numbers without trailing zeros, long texts shortened.
    static QString displayValue(const QVariant &v);

private:
    OpLogEntry entryFor(const QVariantList &original, const QString &opType) const;

    Connection &m_c;
    QString m_table;
    QString m_sysid;
    OpActor m_actor;
    QStringList m_fieldColumns;
    int m_keyField = -1;
    QList<int> m_moreKeyFields;
    bool m_active = false;
    QList<OpLogEntry> m_entries;
};

// Result of walking one deployment's chain.
struct OpLogAudit
{
    QString sysid;
    qint64 rows = 0;
    bool intact = true;
    QString problem;   // the first finding, for the administrator
    qint64 badId = -1; // id of the row found at fault, -1 when none or a removal at the end
    QString headHash;  // hash of the last row (note it down to compare later)
};

// Walks the chain of `sysid`, or of every deployment that has log rows when empty.
QList<OpLogAudit> verifyOpLog(Connection &c, const QString &sysid = QString());

} // namespace server
