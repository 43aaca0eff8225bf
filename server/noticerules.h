#pragma once

#include <QString>

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

// Columns that databases made before them lack: added in place (the original attachment
// name MSGFILENAME of TAB_MSGRECORD).
void upgradeNoticeTables(Connection &c);

// Removes the server files that the rules queued for `sysid` and empties its queue. A file
// still named by a notice row of that deployment is kept. Runs after the deleting
// transaction has committed, so a rolled-back deletion never loses a file. Returns the
// number of files removed; errors of single files are skipped (the entry is dropped).
int purgeQueuedFiles(Connection &c, const FileArea &files, const QString &sysid);

} // namespace server
