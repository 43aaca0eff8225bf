#pragma once

#include "server/tables.h"

// The operation log (sys_log): one row for every change a person makes — ApplyData's
// changes and deletions in the tables that SYS_TABLES lists for the deployment (and in the
// tables that are always logged), the administration calls, the command-line user
// commands — written in the same transaction as the change. Only the server writes it;
// clients read it.
//
// The log is evidence that the database alone cannot forge:
// - each row carries its position in its deployment's chain (seq) and a keyed BLAKE2b MAC
//   over its values and the MAC of the row before it; the key lies in a file beside the
//   server's configuration (OpLogFiles), never in the database;
// - after each commit that extends a chain, the server appends a checkpoint of the chain's
//   head (database id, deployment, positions, MAC, time), itself MACed, to an append-only
//   file outside the database (and, when asked, to syslog), so that rows cut from the end,
//   or a whole chain wiped with its head, are found too.
// verifyOpLog() walks each chain and reports every row and range found at fault and how the
// chain stands against its checkpoints and a head noted earlier.
//
//   OpLogWriter log(c, info, sysid, actor, packetColumns);   // inside the transaction
//   log.logUpdate(databaseRow, row, changedFields);
//   log.logDelete(databaseRow);
//   log.finish();                                             // before commit

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace server {

class Connection;
struct TableInfo;

// Where the operation log's key and checkpoints live: outside the database.
struct OpLogFiles
{
    QString keyFile;        // 32-byte MAC key (hex), made with mode 0600 when missing
    QString checkpointFile; // append-only checkpoint lines
    bool syslog = false;    // each checkpoint also to syslog (facility authpriv)
};

// The folder of the server's configuration: $WAYLINK_CONFIG_DIR, else
// $XDG_CONFIG_HOME/waylink, else ~/.config/waylink.
QString serverConfigFolder();
// "oplog.key" and "oplog.checkpoints" in that folder.
OpLogFiles defaultOpLogFiles();
// The files this process uses from now on (empty names keep the default). Call before the
// first log write; tests may call it again.
void configureOpLog(const OpLogFiles &files);
OpLogFiles opLogFiles();
// For a serving process: makes the key file when missing and checks that the checkpoint
// file can be appended to. Throws DbError with a text for the administrator.
void prepareOpLog();

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
    QString opType;    // "UPT", "DEL", "INS" (administration), "SYS" (the log itself)
    QString content;   // "COL: old -> new; ..." for changes, the row's values for deletions
    QString site, emp, address;
    QDateTime time;    // server time, whole seconds
    QString note;
};

// isServerWrittenTable: server/tables.h

// Adds the chain columns, the chain table, its index and the database id when missing;
// rows of an older database are sealed into the chain once, and a chain MACed with the
// key that older versions kept in sys_server is checked and sealed again with the key
// file's key (that key is then removed). Inside the schema transaction.
void ensureOpLogSchema(Connection &c);

// Whether changes of `table` are logged for `sysid`: listed in SYS_TABLES, or one of the
// tables that are always logged: SYS_TABLES itself (switching the log off shows in the
// log), the system parameters TAB_PARAMETER, and the notices TAB_MSGRECORD (a deletion
// takes every site's, employee's and reader's rows of the notice along).
bool isLoggedTable(Connection &c, const QString &table, const QString &sysid);

// Appends entries to the deployment's chain. Serialises with every other writer of the
// log until the transaction ends; the checkpoint is written when the transaction commits
// through server::Transaction. Inside a transaction.
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
    // before: the values the database held (by packet field), row: the new values.
    void logUpdate(const QVariantList &before, const QVariantList &row,
                   const QList<int> &changedFields);
    // The deleted row as the database held it: every column of the table with its value.
    void logDelete(const QStringList &columns, const QVariantList &values,
                   const QString &removedWithIt = QString());
    // Writes what was collected.
    void finish();

    // A value as the log shows it: "(空)" for null, dates as "yyyy-MM-dd HH:mm:ss",
    // numbers without trailing zeros, long texts shortened.
    static QString displayValue(const QVariant &v);

private:
    OpLogEntry entryFor(const QString &opType) const;

    Connection &m_c;
    QString m_table;
    QString m_sysid;
    OpActor m_actor;
    QStringList m_fieldColumns;
    QStringList m_keyColumns; // key column first, then the further ones
    QList<int> m_keyFields;   // their packet fields (-1: not in the packet)
    bool m_active = false;
    QList<OpLogEntry> m_entries;
};

// One checkpoint line of the checkpoint file.
struct OpLogCheckpoint
{
    QString databaseId;
    QString sysid;
    qint64 from = 0; // the chain's last position before the append
    qint64 seq = 0;  // and after it
    QString hash;    // MAC of the row at seq
    QDateTime time;
    int line = 0;    // line number in the file
    QString file;    // the file it was read from (set by verifyOpLog)
};

// What verifyOpLog() checks besides the chain itself.
struct OpLogVerifyOptions
{
    QString sysid;           // one deployment; empty: every deployment found
    qint64 headSeq = -1;     // a head noted earlier (--head SEQ:HASH); -1: none
    QString headHash;
    bool useCheckpoints = true;
    QString checkpointFile;  // empty: the configured one
    // Further checkpoint files, read together with the own: the copies of the files of the
    // other servers on the same database, each of which names only its own commits.
    QStringList otherCheckpointFiles;
    QString keyFile;         // empty: the configured one
};

// Result of walking one deployment's chain.
struct OpLogAudit
{
    enum Status { Intact = 0, Tampered = 1, Behind = 2 };
    QString sysid;
    qint64 rows = 0;
    Status status = Intact;
    bool intact = true;      // status == Intact
    QString problem;         // the first finding, for the administrator
    qint64 badId = -1;       // id of the first row found at fault, -1 when none
    QStringList problems;    // every finding, in chain order
    QStringList notes;       // what is not a fault (entries newer than the checkpoint ...)
    qint64 headSeq = 0;      // last position of the chain as walked
    QString headHash;        // its MAC (note it down to compare later with --head)
};

// Walks the chain of `sysid`, or of every deployment that has log rows or checkpoints when
// empty. Throws DbError when the key file cannot be read.
QList<OpLogAudit> verifyOpLog(Connection &c, const OpLogVerifyOptions &options);
QList<OpLogAudit> verifyOpLog(Connection &c, const QString &sysid = QString());

// The database's id (sys_server), which checkpoints name.
QString opLogDatabaseId(Connection &c);

// Reads a checkpoint file; lines whose MAC does not match go to `damaged` (line numbers).
QList<OpLogCheckpoint> readOpLogCheckpoints(const QString &file, const QByteArray &key,
                                            QList<int> *damaged);
// The key of the key file (read only; throws DbError when it is missing or unreadable).
QByteArray readOpLogKey(const QString &file);

} // namespace server
