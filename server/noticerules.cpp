#include "server/noticerules.h"

#include "server/filearea.h"
#include "server/sql/backend.h"

#include <QDateTime>
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

namespace {

// The two tables the receipt rule marks: their key columns (as the log names a row) and the
// columns it sets; `match` selects the rows of one receipt (msgId, site, reader), unread.
struct MarkedTable
{
    const char *name;
    QStringList keys;
    QStringList marks;
    const char *match;
};

const MarkedTable &markedTable(int i)
{
    static const MarkedTable tables[] = {
        {"TAB_MSGSITE", {QStringLiteral("MSGID"), QStringLiteral("MSGSITE")},
         {QStringLiteral("HASREAD"), QStringLiteral("READTIME"), QStringLiteral("READEMP")},
         "MSGID = ? and MSGSITE = ? and sysid = ? and coalesce(HASREAD, '0') <> '1'"},
        {"TAB_MSGEMP",
         {QStringLiteral("MSGID"), QStringLiteral("MSGEMP"), QStringLiteral("MSGSITE")},
         {QStringLiteral("HASREAD"), QStringLiteral("READTIME")},
         "MSGID = ? and MSGEMP = ? and MSGSITE = ? and sysid = ? and coalesce(HASREAD, '0') <> '1'"},
    };
    return tables[i];
}

} // namespace

ReceiptRuleLog::ReceiptRuleLog(Connection &c, const QString &sysid, const OpActor &actor)
    : m_c(c)
    , m_sysid(sysid)
    , m_actor(actor)
{
    for (int i = 0; i < 2; ++i)
        if (isLoggedTable(c, QString::fromLatin1(markedTable(i).name), sysid))
            m_tables.append(i);
}

void ReceiptRuleLog::beforeReceipt(const QVariant &msgId, const QVariant &site,
                                   const QVariant &reader)
{
    for (int i : std::as_const(m_tables)) {
        const MarkedTable &t = markedTable(i);
        const QVariantList params = i == 0 ? QVariantList{msgId, site, m_sysid}
                                           : QVariantList{msgId, reader, site, m_sysid};
        const QueryResult r = m_c.query(QStringLiteral("select %1, %2 from %3 where %4")
                                            .arg(t.keys.join(QLatin1Char(',')),
                                                 t.marks.join(QLatin1Char(',')),
                                                 QString::fromLatin1(t.name),
                                                 QString::fromLatin1(t.match)),
                                        params, false);
        for (const QVariantList &row : r.rows)
            m_pending.append({i, row.mid(0, t.keys.size()), row.mid(t.keys.size())});
    }
}

QList<OpLogEntry> ReceiptRuleLog::takeEntries()
{
    QList<OpLogEntry> out;
    for (const Pending &p : std::as_const(m_pending)) {
        const MarkedTable &t = markedTable(p.table);
        QStringList where;
        for (const QString &k : t.keys)
            where.append(k + QStringLiteral(" = ?"));
        QVariantList params = p.key;
        params.append(m_sysid);
        const QueryResult r = m_c.query(QStringLiteral("select %1 from %2 where %3 and sysid = ?")
                                            .arg(t.marks.join(QLatin1Char(',')),
                                                 QString::fromLatin1(t.name),
                                                 where.join(QStringLiteral(" and "))),
                                        params, false);
        if (r.rows.isEmpty())
            continue;
        const QVariantList &after = r.rows.first();
        QStringList parts;
        for (qsizetype k = 0; k < t.marks.size(); ++k) {
            const QString old = OpLogWriter::displayValue(p.before.value(k));
            const QString now = OpLogWriter::displayValue(after.value(k));
            if (old != now)
                parts.append(t.marks.at(k) + QStringLiteral(": ") + old + QStringLiteral(" -> ") + now);
        }
        if (parts.isEmpty())
            continue;
        OpLogEntry e;
        e.tableName = QString::fromLatin1(t.name);
        e.opType = QStringLiteral("UPT");
        e.key = OpLogWriter::displayValue(p.key.value(0));
        for (qsizetype k = 1; k < p.key.size(); ++k)
            e.keys.append(OpLogWriter::displayValue(p.key.at(k)));
        e.content = parts.join(QStringLiteral("; "));
        e.site = m_actor.site;
        e.emp = m_actor.emp;
        e.address = m_actor.address;
        e.time = QDateTime::currentDateTime();
        e.note = QStringLiteral("阅读回执标记已读");
        out.append(e);
    }
    m_pending.clear();
    return out;
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
