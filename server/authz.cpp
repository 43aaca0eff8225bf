#include "server/authz.h"

#include "server/applydata.h"
#include "server/auth.h"
#include "server/filerights.h"
#include "server/schema.h"
#include "server/servererror.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <mutex>

namespace server {

namespace {

const char *const kAuthzSchema = R"SQL(
create table if not exists sys_role (
  ROLENAME VARCHAR2(30) not null,
  REMARK VARCHAR2(200),
  ROWSCOPE VARCHAR2(10),
  sysid VARCHAR2(3) not null,
  primary key (ROLENAME, sysid));

create table if not exists sys_rolegrant (
  ROLENAME VARCHAR2(30) not null,
  FUNCNAME VARCHAR2(60) not null,
  sysid VARCHAR2(3) not null,
  primary key (ROLENAME, FUNCNAME, sysid));

create table if not exists sys_userrole (
  USERCODE VARCHAR2(40) not null,
  ROLENAME VARCHAR2(30) not null,
  sysid VARCHAR2(3) not null,
  primary key (USERCODE, ROLENAME, sysid));

create table if not exists sys_functable (
  FUNCNAME VARCHAR2(60) not null,
  TABLENAME VARCHAR2(40) not null,
  OPS VARCHAR2(4) not null,
  sysid VARCHAR2(3) not null,
  primary key (FUNCNAME, TABLENAME, sysid));
)SQL";

struct FunctionTable
{
    const char *function;
    const char *table;
    const char *ops;
};

// What the functions of the three modules read (R) and write (I, U, D). Everybody reads
// the sites, employees, destinations and goods types (the log-on caches them), the menu's
// entries (labels and function names, no business data; what a user may use is MyMenu) and
// the notices, publishes notices and writes read receipts; changing or deleting notices is the
// notice management's. The finance edit windows change fees and refreshed columns of the
// existing lines and records (U); they never create or delete them. They compute fees from
// the fee rules and the waybill events, which their functions therefore read.
const FunctionTable kStandardTables[] = {
    {"*", "tab_Site", "R"},
    {"*", "tab_Employee", "R"},
    {"*", "tab_Mdd", "R"},
    {"*", "tab_GoodsType", "R"},
    {"*", "sys_menu", "R"},
    {"*", "TAB_MSGRECORD", "RI"},
    {"*", "TAB_MSGSITE", "RI"},
    {"*", "TAB_MSGEMP", "RI"},
    {"*", "TAB_MSGREAD", "RI"},
    {"px_Herald.fManagerMessage", "TAB_MSGRECORD", "RIUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGSITE", "RIUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGEMP", "RIUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGREAD", "RIUD"},
    {"px_Tally.fcenAccEdt", "TAB_ACCOUNT", "RU"},
    {"px_Tally.fcenAccQuery", "TAB_ACCOUNT", "R"},
    {"px_Tally.fDFKEdt", "TAB_DFKRECORD", "RU"},
    {"px_Tally.fDFKQuery", "TAB_DFKRECORD", "R"},
    {"px_Tally.fDFPFEdt", "TAB_DFPFRECORD", "RU"},
    {"px_Tally.fDFPFQuery", "TAB_DFPFRECORD", "R"},
    {"px_Tuner.fSysLog", "sys_log", "R"},
    {"px_Tuner.fSysLog", "SYS_TABLES", "R"},
    {"px_Tuner.fSysLog", "sys_logchain", "R"},
    {"px_Tuner.fSysUpdate", "sys_update", "RIUD"},
    {"px_Toolbox.fParamSet", "TAB_PARAMETER", "RIUD"},
    {"px_Toolbox.fParamSet", "tab_GoodsType", "RIUD"},
    {"px_Toolbox.fParamSet", "tab_Mdd", "RIUD"},
};

// The tables the fee functions read: the finance edit windows' refresh and rating.
const char *const kFeeTables[] = {"TAB_FEERULE", "TAB_WAYBILL", "TAB_BILLISSUE", "TAB_PICKUP",
                                  "TAB_BILLENTRY", "TAB_SCAN", "TAB_SIGN"};
const char *const kFeeFunctions[] = {"px_Tally.fcenAccEdt", "px_Tally.fDFKEdt", "px_Tally.fDFPFEdt"};

QList<FunctionTable> standardTables()
{
    QList<FunctionTable> out(std::begin(kStandardTables), std::end(kStandardTables));
    for (const char *f : kFeeFunctions)
        for (const char *t : kFeeTables)
            out.append({f, t, "R"});
    return out;
}

QString opName(QChar op)
{
    switch (op.unicode()) {
    case 'R':
        return QStringLiteral("查看");
    case 'I':
        return QStringLiteral("新增");
    case 'U':
        return QStringLiteral("修改");
    default:
        return QStringLiteral("删除");
    }
}

} // namespace

QStringList authzTables()
{
    return {QStringLiteral("sys_role"), QStringLiteral("sys_rolegrant"),
            QStringLiteral("sys_userrole"), QStringLiteral("sys_functable")};
}

bool isSuperUser(const QString &user)
{
    return user == QLatin1String("dk");
}

QStringList Rights::updatableColumns(const QString &table) const
{
    if (superUser || wholeUpdate.contains(table.toUpper()))
        return {};
    return server::updatableColumns(table);
}

bool Rights::mayWrite(const QString &table, QChar op) const
{
    return superUser || ops.value(table.toUpper()).contains(op);
}

Rights loadRights(Connection &c, const QString &user, const QString &sysid)
{
    Rights r;
    r.superUser = isSuperUser(user);
    if (r.superUser)
        return r;
    for (const QVariantList &row :
         c.query(QStringLiteral("select ROLENAME from sys_userrole where USERCODE=? and sysid=? "
                                "order by ROLENAME"),
                 {user, sysid}, true)
             .rows)
        r.roles.append(row.at(0).toString());
    for (const QVariantList &row :
         c.query(QStringLiteral("select distinct g.FUNCNAME from sys_rolegrant g join sys_userrole u "
                                "on u.ROLENAME=g.ROLENAME and u.sysid=g.sysid "
                                "where u.USERCODE=? and u.sysid=?"),
                 {user, sysid}, true)
             .rows)
        r.functions.insert(row.at(0).toString());
    // A function's tables count when one of the user's roles grants the function; the
    // rows of "*" count for everybody. The row scope of a read comes from the role that
    // grants it: the widest one when several do ("*": every row).
    const QueryResult t = c.query(
        QStringLiteral("select f.TABLENAME, f.OPS, '', f.FUNCNAME from sys_functable f where f.sysid=? and "
                       "f.FUNCNAME='*' union all "
                       "select f.TABLENAME, f.OPS, coalesce(r.ROWSCOPE, ''), f.FUNCNAME from sys_functable f "
                       "join sys_rolegrant g on g.FUNCNAME=f.FUNCNAME and g.sysid=f.sysid "
                       "join sys_userrole u on u.ROLENAME=g.ROLENAME and u.sysid=g.sysid "
                       "join sys_role r on r.ROLENAME=u.ROLENAME and r.sysid=u.sysid "
                       "where u.USERCODE=? and f.sysid=?"),
        {sysid, user, sysid}, true);
    QSet<QString> readByRole; // tables that a role's function reads (not only "*")
    for (const QVariantList &row : t.rows) {
        const QString table = row.at(0).toString().toUpper();
        QString &ops = r.ops[table];
        const QString granted = row.at(1).toString().toUpper();
        for (QChar op : granted)
            if (!ops.contains(op))
                ops.append(op);
        // An update granted by a finance edit function changes the fee columns only; one
        // granted otherwise, every column.
        if (granted.contains(u'U') && !grantsFeeUpdatesOnly(row.at(3).toString()))
            r.wholeUpdate.insert(table);
        if (!granted.contains(u'R'))
            continue;
        if (row.at(3).toString() != QLatin1String("*"))
            readByRole.insert(table);
        const RowScopeKind kind = rowScopeKindOf(row.at(2).toString());
        auto it = r.readScope.find(table);
        if (it == r.readScope.end())
            r.readScope.insert(table, kind);
        else if (*it != kind)
            *it = (*it == RowScopeKind::None || kind == RowScopeKind::None) ? RowScopeKind::None
                                                                            : RowScopeKind::Centre;
    }
    // The notices everybody reads are his own; a role's grant of a notice table reads all.
    for (auto it = r.readScope.constBegin(); it != r.readScope.constEnd(); ++it)
        if (isNoticeTable(it.key()) && !readByRole.contains(it.key()))
            r.ownNoticesOnly.insert(it.key());
    return r;
}

ClientScope clientScope(const Rights &rights, const SessionInfo &session)
{
    ClientScope scope;
    scope.sysid = session.sysid;
    if (rights.superUser) {
        scope.allTables = true;
        return scope;
    }
    for (auto it = rights.readScope.constBegin(); it != rights.readScope.constEnd(); ++it) {
        const QString table = it.key().toLower();
        scope.tables.append(table);
        if (rights.ownNoticesOnly.contains(it.key()))
            scope.ownNoticeTables.append(table);
        if (it.value() == RowScopeKind::None)
            continue;
        const QStringList columns = rowScopeColumns(table, it.value());
        if (columns.isEmpty())
            continue; // a table without site columns: the deployment's rows
        const QString value = it.value() == RowScopeKind::Site ? session.siteName : session.finance;
        // A user without a site (or centre) name sees none of the scoped rows.
        scope.rows.insert(table, RowScope{columns, value.isEmpty() ? QStringLiteral("\x01") : value});
    }
    std::sort(scope.tables.begin(), scope.tables.end());
    std::sort(scope.ownNoticeTables.begin(), scope.ownNoticeTables.end());
    if (!scope.ownNoticeTables.isEmpty())
        scope.reader = NoticeReader{session.siteName, session.empName};
    return scope;
}

namespace {
// The rights of the users recently seen, per database, user and token generation.
class RightsCache
{
public:
    std::shared_ptr<const Rights> find(const QString &key, qint64 generation)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.constFind(key);
        if (it == m_entries.constEnd() || (*it)->tokenGeneration != generation)
            return {};
        return *it;
    }
    void store(const QString &key, std::shared_ptr<const Rights> rights)
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() > 20000)
            m_entries.clear();
        m_entries.insert(key, std::move(rights));
    }

private:
    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<const Rights>> m_entries; // "database\nuser"
};

RightsCache &rightsCache()
{
    static RightsCache cache;
    return cache;
}
} // namespace

std::shared_ptr<const Rights> sessionRights(Backend &backend, const SessionInfo &session)
{
    const QString key = backend.describe() + QLatin1Char('\n') + session.user;
    if (auto cached = rightsCache().find(key, session.tokenGeneration))
        return cached;
    auto rights = std::make_shared<Rights>();
    {
        auto conn = backend.acquireForServer();
        *rights = loadRights(*conn, session.user, session.sysid);
    }
    rights->tokenGeneration = session.tokenGeneration;
    rightsCache().store(key, rights);
    return rights;
}

void authorizeRead(Backend &backend, const Rights &rights, const QStringList &identifiers,
                   const QString &sysid)
{
    if (rights.superUser)
        return;
    static const QStringList known = schemaTables();
    QStringList refused;
    for (const QString &id : identifiers) {
        const QString name = id.section(u'.', -1).trimmed();
        if (name.isEmpty() || rights.mayRead(name) || refused.contains(name, Qt::CaseInsensitive)
            || isServerTable(name) || name.compare(QLatin1String("dual"), Qt::CaseInsensitive) == 0
            || !known.contains(name, Qt::CaseInsensitive))
            continue; // a column, an alias, dual ...: the engine has the last word anyway
        refused.append(name);
    }
    if (refused.isEmpty())
        return;
    auto conn = backend.acquireForServer();
    Connection &c = *conn;
    // Which functions would give the first of them (their menu names where the menu has one).
    QStringList via;
    for (const QVariantList &row :
         c.query(QStringLiteral("select distinct f.FUNCNAME, m.MENUNAME from sys_functable f left join "
                                "sys_menu m on m.FUNCNAME=f.FUNCNAME and m.sysid=f.sysid where "
                                "f.sysid=? and upper(f.TABLENAME)=? and f.OPS like '%R%' and "
                                "f.FUNCNAME<>'*' order by f.FUNCNAME"),
                 {sysid, refused.first().toUpper()}, true)
             .rows) {
        const QString menu = row.at(1).toString().trimmed();
        const QString entry = menu.isEmpty() ? row.at(0).toString() : QStringLiteral("“%1”").arg(menu);
        if (!via.contains(entry))
            via.append(entry);
    }
    const QString ask = via.isEmpty()
                            ? QStringLiteral("没有哪个功能可以查看它，请联系系统管理员。")
                            : QStringLiteral("请联系系统管理员为您的角色授予%1功能。").arg(via.join(QStringLiteral("或")));
    throw ServerError(403,
                      QStringLiteral("您没有查看数据表 %1 的权限。%2").arg(refused.join(u'、'), ask),
                      QStringLiteral("read refused: %1 not granted to %2").arg(refused.join(u','), sysid));
}

void authorizeWrite(const Rights &rights, const QString &table, const QString &ops)
{
    for (QChar op : ops) {
        if (!rights.mayWrite(table, op))
            throw ServerError(403, QStringLiteral("您没有%1数据表 %2 的权限，本次没有保存任何数据。"
                                                 "请联系系统管理员为您的角色授予相应的功能。")
                                      .arg(opName(op), table));
    }
}

namespace {

// Columns that say who did it: filled from the session, never taken from the packet.
struct ActorColumn
{
    const char *table;
    const char *column;
    enum What { Site, Employee, Time } what;
};
const ActorColumn kActorColumns[] = {
    {"TAB_MSGRECORD", "OPSITE", ActorColumn::Site},
    {"TAB_MSGRECORD", "OPEMP", ActorColumn::Employee},
    {"TAB_MSGREAD", "MSGReadSite", ActorColumn::Site},
    {"TAB_MSGREAD", "MSGReader", ActorColumn::Employee},
    {"TAB_MSGREAD", "MSGReadTime", ActorColumn::Time},
};

bool sameText(const QVariant &a, const QString &b)
{
    return !a.isNull() && a.toString().trimmed() == b.trimmed();
}

// Inserted rows get the session's site, employee and the server's time in the actor
// columns; a packet that names someone else there, or changes them later, is refused.
void fillActor(const QString &table, quillon::DataPacket &packet, const SessionInfo &session)
{
    for (const ActorColumn &a : kActorColumns) {
        if (table.compare(QLatin1String(a.table), Qt::CaseInsensitive) != 0)
            continue;
        const QString column = QString::fromLatin1(a.column);
        int f = packet.fieldIndex(column);
        const bool inserts = std::any_of(packet.changes.cbegin(), packet.changes.cend(), [](const auto &ch) {
            return ch.state == quillon::RowState::Inserted;
        });
        if (f < 0 && inserts) {
            quillon::FieldDef def;
            def.name = column;
            def.type = a.what == ActorColumn::Time ? quillon::FieldType::DateTime : quillon::FieldType::String;
            def.size = a.what == ActorColumn::Time ? 0 : 50;
            packet.fields.append(def);
            for (QVariantList &row : packet.rows)
                row.append(QVariant());
            for (quillon::DataPacket::Change &ch : packet.changes)
                if (!ch.original.isEmpty())
                    ch.original.append(QVariant());
            f = int(packet.fields.size()) - 1;
        }
        if (f < 0)
            continue;
        const QString own = a.what == ActorColumn::Site ? session.siteName : session.empName;
        for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes)) {
            if (ch.row < 0 || ch.row >= packet.rows.size())
                continue;
            QVariant &value = packet.rows[ch.row][f];
            if (ch.state == quillon::RowState::Inserted) {
                if (a.what == ActorColumn::Time) {
                    value = QDateTime::currentDateTime();
                    continue;
                }
                if (!value.isNull() && !value.toString().trimmed().isEmpty() && !sameText(value, own))
                    throw ServerError(403, QStringLiteral("数据表 %1 的 %2 只能是您自己（%3），不能以“%4”的名义保存。"
                                                         "本次没有保存任何数据。")
                                              .arg(table, column, own, value.toString()));
                value = own;
            } else if (ch.state == quillon::RowState::Modified && f < ch.original.size()
                       && ch.original.at(f) != value) {
                throw ServerError(403, QStringLiteral("数据表 %1 的 %2 记录的是操作人，不能修改。本次没有保存任何数据。")
                                          .arg(table, column));
            }
        }
    }
}

// A table limited to the user's site or centre: every row the packet changes, deletes or
// inserts must lie in that scope, as stored now and as it will be stored.
void checkRowScope(Connection &c, const QString &table, const quillon::DataPacket &packet,
                   const ClientScope &scope)
{
    const auto it = scope.rows.constFind(table.toLower());
    if (it == scope.rows.constEnd())
        return;
    const RowScope &rows = *it;
    const QString refusal = QStringLiteral("您只能保存本网点（或本财务中心）“%1”的数据，数据表 %2 中有不属于它的记录。"
                                           "本次没有保存任何数据。")
                                .arg(rows.value, table);
    auto inScope = [&](const QVariantList &values) {
        for (const QString &col : rows.columns) {
            const int f = packet.fieldIndex(col);
            if (f >= 0 && f < values.size() && sameText(values.at(f), rows.value))
                return true;
        }
        return false;
    };
    const TableInfo info = c.tableInfo(table);
    QStringList where;
    for (const QString &k : info.primaryKey)
        if (k.compare(QLatin1String("sysid"), Qt::CaseInsensitive) != 0)
            where.append(c.quoteIdentifier(k) + QStringLiteral("=?"));
    QStringList any;
    for (const QString &col : rows.columns)
        any.append(c.quoteIdentifier(col) + QStringLiteral("=?"));
    for (const quillon::DataPacket::Change &ch : packet.changes) {
        if (ch.state == quillon::RowState::Inserted || ch.state == quillon::RowState::Modified) {
            if (ch.row < 0 || ch.row >= packet.rows.size() || !inScope(packet.rows.at(ch.row)))
                throw ServerError(403, refusal);
        }
        if (ch.state != quillon::RowState::Modified && ch.state != quillon::RowState::Deleted)
            continue;
        // The row as stored: matched on its key, it must be the scope's (a row that does
        // not exist is the apply's conflict to report).
        QVariantList params;
        bool keyed = !where.isEmpty();
        for (const QString &k : info.primaryKey) {
            if (k.compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0)
                continue;
            const int f = packet.fieldIndex(k);
            if (f < 0 || f >= ch.original.size())
                keyed = false;
            else
                params.append(ch.original.at(f));
        }
        if (!keyed)
            throw ServerError(403, refusal);
        params.append(scope.sysid);
        const QueryResult stored = c.query(
            QStringLiteral("select case when %1 then 1 else 0 end from %2 where %3 and sysid=?")
                .arg(any.join(QLatin1String(" or ")), c.quoteIdentifier(info.name), where.join(QLatin1String(" and "))),
            QVariantList(rows.columns.size(), rows.value) + params, true);
        if (!stored.rows.isEmpty() && stored.rows.first().value(0).toInt() != 1)
            throw ServerError(403, refusal);
    }
}

} // namespace

// The finance tables' updates change only their fee and refresh columns (server/tables.h):
// a clear refusal here; the engine refuses the same update in any case.
static void checkUpdatedColumns(Connection &c, const Rights &rights, const QString &table,
                                const quillon::DataPacket &packet)
{
    const QStringList allowed = rights.updatableColumns(table);
    if (allowed.isEmpty())
        return;
    const TableInfo info = c.tableInfo(table); // packet columns the table lacks are ignored
    QStringList refused;
    for (const quillon::DataPacket::Change &ch : packet.changes) {
        if (ch.state != quillon::RowState::Modified || ch.row < 0 || ch.row >= packet.rows.size())
            continue;
        for (qsizetype i = 0; i < packet.fields.size(); ++i) {
            const QString name = packet.fields.at(i).name;
            if (allowed.contains(name, Qt::CaseInsensitive) || refused.contains(name, Qt::CaseInsensitive)
                || info.columnIndex(name) < 0)
                continue;
            const QVariant now = packet.rows.at(ch.row).value(i);
            const QVariant was = ch.original.value(i);
            if (now.isNull() != was.isNull() || (!now.isNull() && now != was && now.toString() != was.toString()))
                refused.append(name);
        }
    }
    if (refused.isEmpty())
        return;
    throw ServerError(403,
                      QStringLiteral("数据表 %1 只能修改费用和刷新得到的列（%2），不能修改 %3。"
                                     "本次没有保存任何数据。")
                          .arg(table, allowed.join(QStringLiteral("、")), refused.join(QStringLiteral("、"))),
                      QStringLiteral("update of %1 outside its updatable columns: %2").arg(table, refused.join(u',')));
}

void authorizeApply(Connection &c, const Rights &rights, const QString &table, const QString &ops,
                    quillon::DataPacket &packet, const SessionInfo &session)
{
    const QString &sysid = session.sysid;
    QString checked = ops;
    const bool recipients = table.compare(QLatin1String("TAB_MSGSITE"), Qt::CaseInsensitive) == 0
                            || table.compare(QLatin1String("TAB_MSGEMP"), Qt::CaseInsensitive) == 0;
    const int id = packet.fieldIndex(QStringLiteral("MSGID"));
    if (recipients && id >= 0 && ops.contains(u'D') && !rights.mayWrite(table, u'D')) {
        bool orphans = true;
        for (const quillon::DataPacket::Change &ch : packet.changes) {
            if (ch.state != quillon::RowState::Deleted)
                continue;
            if (!c.query(QStringLiteral("select 1 from TAB_MSGRECORD where MSGID=? and sysid=?"),
                         {ch.original.value(id), sysid}, true)
                     .rows.isEmpty())
                orphans = false;
        }
        if (orphans)
            checked.remove(u'D');
    }
    authorizeWrite(rights, table, checked);
    if (!rights.superUser) {
        checkUpdatedColumns(c, rights, table, packet);
        checkRowScope(c, table, packet, clientScope(rights, session));
    }
    // Who may change the table's rows at will (notice management) could rewrite these
    // columns anyway; for everybody else they come from the session.
    if (!rights.mayWrite(table, u'U'))
        fillActor(table, packet, session);
}

QStringList systemFunctions()
{
    return {QString::fromLatin1(kUsersFunction), QString::fromLatin1(kRolesFunction),
            QString::fromLatin1(kSitesFunction), QString::fromLatin1(kParamFunction)};
}

quillon::DataPacket grantedMenu(Connection &c, const QString &user, const QString &sysid)
{
    QueryResult r = c.query(QStringLiteral("select POSID, MENUNAME, FUNCNAME, ORGANLEVEL, SHORTCUT, "
                                           "OFFLINEENABLED, PNGNAME from sys_menu where sysid=? "
                                           "order by POSID"),
                            {sysid}, true);
    for (quillon::FieldDef &f : r.fields)
        f.name = f.name.toUpper();
    quillon::DataPacket packet;
    packet.fields = r.fields;
    const Rights rights = loadRights(c, user, sysid);
    if (rights.superUser) {
        packet.rows = std::move(r.rows);
        return packet;
    }
    // The granted entries, then every group and module header above one of them.
    QSet<QString> keep;
    for (const QVariantList &row : std::as_const(r.rows)) {
        const QString posid = row.at(0).toString().trimmed();
        const QString func = row.at(2).toString().trimmed();
        if (func.isEmpty() || !rights.functions.contains(func))
            continue;
        keep.insert(posid);
        if (posid == QLatin1String("@") || posid.size() < 11)
            continue;
        keep.insert(posid.left(3) + QStringLiteral(".000.000"));
        keep.insert(posid.left(7) + QStringLiteral(".000"));
    }
    for (const QVariantList &row : std::as_const(r.rows))
        if (keep.contains(row.at(0).toString().trimmed()))
            packet.rows.append(row);
    return packet;
}

void createAuthzTables(Connection &c)
{
    c.executeScript(QString::fromUtf8(kAuthzSchema));
    createFileOwnerTable(c);
    // Columns of a database made before roles limited reads.
    if (c.tableInfo(QStringLiteral("sys_role")).columnIndex(QStringLiteral("ROWSCOPE")) < 0)
        c.executeScript(QStringLiteral("alter table sys_role add column ROWSCOPE VARCHAR2(10)"));
    const TableInfo ft = c.tableInfo(QStringLiteral("sys_functable"));
    const int ops = ft.columnIndex(QStringLiteral("OPS"));
    if (ops >= 0 && ft.sizes.value(ops) > 0 && ft.sizes.value(ops) < 4
        && ft.declared.value(ops).startsWith(QLatin1String("CHARACTER VARYING")))
        c.executeScript(QStringLiteral("alter table sys_functable alter column OPS type varchar(4)"));
}

static void ensureReadRights(Connection &c)
{
    // A deployment whose function tables name no read yet (made before reads were
    // granted): the standard reads join its rows, the writes it has stay as they are.
    const QueryResult deployments = c.query(
        QStringLiteral("select distinct f.sysid from sys_functable f where not exists (select 1 "
                       "from sys_functable g where g.sysid=f.sysid and g.OPS like '%R%')"),
        {}, true);
    for (const QVariantList &d : deployments.rows) {
        const QString sysid = d.at(0).toString();
        for (const FunctionTable &f : standardTables()) {
            const QString function = QString::fromLatin1(f.function);
            const QString table = QString::fromLatin1(f.table);
            if (c.execute(QStringLiteral("update sys_functable set OPS='R'||OPS where FUNCNAME=? and "
                                         "upper(TABLENAME)=upper(?) and sysid=? and OPS not like '%R%'"),
                          {function, table, sysid})
                == 0)
                c.execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                         "select ?, ?, 'R', ? where not exists (select 1 from "
                                         "sys_functable where FUNCNAME=? and upper(TABLENAME)=upper(?) "
                                         "and sysid=?)"),
                          {function, table, sysid, function, table, sysid});
        }
    }
}

void seedFunctionTables(Connection &c, const QString &sysid)
{
    if (!c.query(QStringLiteral("select 1 from sys_functable where sysid=?"), {sysid}, true)
             .rows.isEmpty())
        return;
    for (const FunctionTable &f : standardTables())
        c.execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                 "values (?,?,?,?)"),
                  {QString::fromLatin1(f.function), QString::fromLatin1(f.table),
                   QString::fromLatin1(f.ops), sysid});
}

void ensureDefaultRights(Connection &c)
{
    ensureReadRights(c);
    const QueryResult deployments = c.query(
        QStringLiteral("select distinct u.sysid from sys_user u where u.USERCODE<>'dk' and not "
                       "exists (select 1 from sys_role r where r.sysid=u.sysid)"),
        {}, true);
    const QString admin = QStringLiteral("管理员");
    for (const QVariantList &d : deployments.rows) {
        const QString sysid = d.at(0).toString();
        seedFunctionTables(c, sysid);
        c.execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, sysid) values (?,?,?)"),
                  {admin, QStringLiteral("升级时建立：拥有全部功能，请按需要调整"), sysid});
        QSet<QString> functions;
        for (const QVariantList &row :
             c.query(QStringLiteral("select distinct FUNCNAME from sys_menu where sysid=? and "
                                    "FUNCNAME is not null"),
                     {sysid}, true)
                 .rows)
            functions.insert(row.at(0).toString().trimmed());
        for (const QString &f : systemFunctions())
            functions.insert(f);
        functions.remove(QString());
        functions.remove(QString::fromLatin1(kMenuFunction));
        for (const QString &f : std::as_const(functions))
            c.execute(QStringLiteral("insert into sys_rolegrant (ROLENAME, FUNCNAME, sysid) "
                                     "values (?,?,?)"),
                      {admin, f, sysid});
        c.execute(QStringLiteral("insert into sys_userrole (USERCODE, ROLENAME, sysid) "
                                 "select USERCODE, ?, sysid from sys_user where sysid=?"),
                  {admin, sysid});
    }
}

void setUserRoles(Connection &c, const QString &user, const QString &sysid,
                  const QStringList &roles)
{
    c.execute(QStringLiteral("delete from sys_userrole where USERCODE=? and sysid=?"), {user, sysid});
    // The user's tokens carry the old rights: the next request logs on anew.
    bumpTokenGeneration(c, user);
    QSet<QString> seen;
    for (const QString &role : roles) {
        const QString name = role.trimmed();
        if (name.isEmpty() || seen.contains(name))
            continue;
        seen.insert(name);
        c.execute(QStringLiteral("insert into sys_userrole (USERCODE, ROLENAME, sysid) values (?,?,?)"),
                  {user, name, sysid});
    }
}

} // namespace server
