#pragma once

#include "server/oplog.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace server {

class Connection;
class FileArea;

// The notice board's rules, kept by the database itself so that they hold whoever writes:
// - a read receipt (TAB_MSGREAD) marks the reader's site row (TAB_MSGSITE: HASREAD '1',
//   READTIME, READEMP; the first reader of a site stays) and the reader's own employee row
//   (TAB_MSGEMP: HASREAD '1', READTIME) in the receipt's transaction;
// - deleting a notice row (TAB_MSGRECORD) deletes its site, employee and receipt rows in
//   the same transaction and queues its server files (body and attachment under
//   "notice\") in sys_filepurge, so that they are removed once that transaction commits.
// One script per backend; both are idempotent and run inside the schema transaction.
const char *noticeRulesSqlite();
const char *noticeRulesPostgres();

// What the read-receipt rule changes for one receipt, for the operation log: the site and
// employee rows it will mark as read, taken before the receipt is inserted (only the rows
// still unread, only of the tables SYS_TABLES logs), then completed after the insert as one
// update row of the log each ("HASREAD: 0 -> 1; READTIME: ..."), with the session's actor.
class ReceiptRuleLog
{
public:
    ReceiptRuleLog(Connection &c, const QString &sysid, const OpActor &actor);
    bool active() const { return !m_tables.isEmpty(); }
    // Before the receipt (msgId, site, reader) is inserted.
    void beforeReceipt(const QVariant &msgId, const QVariant &site, const QVariant &reader);
    // After the inserts: the log rows of what changed; empties the list.
    QList<OpLogEntry> takeEntries();

private:
    struct Pending
    {
        int table; // index into m_tables
        QVariantList key;
        QVariantList before;
    };
    Connection &m_c;
    QString m_sysid;
    OpActor m_actor;
    QList<int> m_tables; // indexes of the logged tables among the rule's two
    QList<Pending> m_pending;
};

// Columns that databases made before them lack: added in place (the original attachment
// name MSGFILENAME of TAB_MSGRECORD).
void upgradeNoticeTables(Connection &c);

// Removes the server files that the rules queued for `sysid` and empties its queue. A file
// still named by a notice row of that deployment is kept. Runs after the deleting
// transaction has committed, so a rolled-back deletion never loses a file. Returns the
// number of files removed; errors of single files are skipped (the entry is dropped).
int purgeQueuedFiles(Connection &c, const FileArea &files, const QString &sysid);

} // namespace server
