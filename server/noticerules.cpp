#include "server/noticerules.h"

#include "server/filearea.h"
#include "server/sql/backend.h"

#include <QFile>
#include <QFileInfo>

namespace server {

// Only files that the notice board itself stored are queued: current-layout paths under
// "notice\". A body held as text, or a path of some other program, is never removed.
const char *noticeRulesSqlite()
{
    return R"SQL(
drop trigger if exists trg_msgread_state;
create trigger trg_msgread_state after insert on TAB_MSGREAD
begin
  update TAB_MSGSITE
     set HASREAD = '1', READTIME = coalesce(new.MSGReadTime, datetime('now', 'localtime')),
         READEMP = new.MSGReader
   where MSGID = new.MSGID and MSGSITE = new.MSGReadSite and sysid = new.sysid
     and coalesce(HASREAD, '0') <> '1';
  update TAB_MSGEMP
     set HASREAD = '1', READTIME = coalesce(new.MSGReadTime, datetime('now', 'localtime'))
   where MSGID = new.MSGID and MSGEMP = new.MSGReader and MSGSITE = new.MSGReadSite
     and sysid = new.sysid and coalesce(HASREAD, '0') <> '1';
end;

drop trigger if exists trg_msgrecord_delete;
create trigger trg_msgrecord_delete after delete on TAB_MSGRECORD
begin
  delete from TAB_MSGSITE where MSGID = old.MSGID and sysid = old.sysid;
  delete from TAB_MSGEMP where MSGID = old.MSGID and sysid = old.sysid;
  delete from TAB_MSGREAD where MSGID = old.MSGID and sysid = old.sysid;
  insert into sys_filepurge (PATH, QUEUED, sysid)
    select old.MSGFILE, datetime('now', 'localtime'), old.sysid
     where substr(old.MSGFILE, 1, 7) = 'notice\';
  insert into sys_filepurge (PATH, QUEUED, sysid)
    select old.MSGCONTENT, datetime('now', 'localtime'), old.sysid
     where substr(old.MSGCONTENT, 1, 7) = 'notice\';
end;
)SQL";
}

// The trigger functions run with the rights of the schema's owner, so the rules hold also
// when the writing session may not touch the other notice tables itself.
const char *noticeRulesPostgres()
{
    return R"SQL(
create or replace function wl_msgread_state() returns trigger
language plpgsql security definer set search_path = public, pg_catalog as $$
begin
  update TAB_MSGSITE
     set HASREAD = '1', READTIME = coalesce(new.MSGReadTime, localtimestamp(0)),
         READEMP = new.MSGReader
   where MSGID = new.MSGID and MSGSITE = new.MSGReadSite and sysid = new.sysid
     and coalesce(HASREAD, '0') <> '1';
  update TAB_MSGEMP
     set HASREAD = '1', READTIME = coalesce(new.MSGReadTime, localtimestamp(0))
   where MSGID = new.MSGID and MSGEMP = new.MSGReader and MSGSITE = new.MSGReadSite
     and sysid = new.sysid and coalesce(HASREAD, '0') <> '1';
  return null;
end $$;
drop trigger if exists trg_msgread_state on TAB_MSGREAD;
create trigger trg_msgread_state after insert on TAB_MSGREAD
  for each row execute function wl_msgread_state();

create or replace function wl_msgrecord_delete() returns trigger
language plpgsql security definer set search_path = public, pg_catalog as $$
begin
  delete from TAB_MSGSITE where MSGID = old.MSGID and sysid = old.sysid;
  delete from TAB_MSGEMP where MSGID = old.MSGID and sysid = old.sysid;
  delete from TAB_MSGREAD where MSGID = old.MSGID and sysid = old.sysid;
  insert into sys_filepurge (PATH, QUEUED, sysid)
    select f, localtimestamp(0), old.sysid
      from unnest(array[old.MSGFILE, old.MSGCONTENT]) as f
     where substr(f, 1, 7) = 'notice\';
  return null;
end $$;
drop trigger if exists trg_msgrecord_delete on TAB_MSGRECORD;
create trigger trg_msgrecord_delete after delete on TAB_MSGRECORD
  for each row execute function wl_msgrecord_delete();
)SQL";
}

void upgradeNoticeTables(Connection &c)
{
    const TableInfo notices = c.tableInfo(QStringLiteral("TAB_MSGRECORD"));
    if (notices.exists() && notices.columnIndex(QStringLiteral("MSGFILENAME")) < 0)
        c.execute(QStringLiteral("alter table TAB_MSGRECORD add column MSGFILENAME varchar(260)"));
}

int purgeQueuedFiles(Connection &c, const FileArea &files, const QString &sysid)
{
    const QueryResult queued = c.query(
        QStringLiteral("select distinct PATH from sys_filepurge where sysid = ?"), {sysid}, false);
    int removed = 0;
    for (const QVariantList &row : queued.rows) {
        const QString path = row.value(0).toString();
        // A path that another notice still names (a copied row) keeps its file.
        const bool stillNamed =
            c.query(QStringLiteral("select count(*) from TAB_MSGRECORD where sysid = ? and "
                                   "(MSGFILE = ? or MSGCONTENT = ?)"),
                    {sysid, path, path}, false)
                .rows.value(0)
                .value(0)
                .toLongLong()
            > 0;
        if (!stillNamed) {
            try {
                if (files.remove(path))
                    ++removed;
            } catch (const ServerError &) {
                // a path that leaves the file area names no file of ours
            }
        }
        c.execute(QStringLiteral("delete from sys_filepurge where sysid = ? and PATH = ?"),
                  {sysid, path});
    }
    return removed;
}

} // namespace server
