#include "server/authz.h"

#include "server/applydata.h"
#include "server/auth.h"
#include "server/sql/backend.h"

namespace server {

namespace {

const char *const kAuthzSchema = R"SQL(
create table if not exists sys_role (
  ROLENAME VARCHAR2(30) not null,
  REMARK VARCHAR2(200),
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
  OPS VARCHAR2(3) not null,
  sysid VARCHAR2(3) not null,
  primary key (FUNCNAME, TABLENAME, sysid));
)SQL";

struct FunctionTable
{
    const char *function;
    const char *table;
    const char *ops;
};

// What the functions of the three modules write. Everybody publishes notices and writes
// read receipts; changing or deleting notices is the notice management's.
const FunctionTable kStandardTables[] = {
    {"*", "TAB_MSGRECORD", "I"},
    {"*", "TAB_MSGSITE", "I"},
    {"*", "TAB_MSGEMP", "I"},
    {"*", "TAB_MSGREAD", "I"},
    {"px_Herald.fManagerMessage", "TAB_MSGRECORD", "IUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGSITE", "IUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGEMP", "IUD"},
    {"px_Herald.fManagerMessage", "TAB_MSGREAD", "IUD"},
    {"px_Tally.fcenAccEdt", "TAB_ACCOUNT", "IUD"},
    {"px_Tally.fDFKEdt", "TAB_DFKRECORD", "IUD"},
    {"px_Tally.fDFPFEdt", "TAB_DFPFRECORD", "IUD"},
    {"px_Tuner.fSysUpdate", "sys_update", "IUD"},
    {"px_Toolbox.fParamSet", "TAB_PARAMETER", "IUD"},
    {"px_Toolbox.fParamSet", "tab_GoodsType", "IUD"},
    {"px_Toolbox.fParamSet", "tab_Mdd", "IUD"},
};

QString opName(QChar op)
{
    switch (op.unicode()) {
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
    // rows of "*" count for everybody.
    const QueryResult t = c.query(
        QStringLiteral("select f.TABLENAME, f.OPS from sys_functable f where f.sysid=? and "
                       "(f.FUNCNAME='*' or exists (select 1 from sys_rolegrant g join "
                       "sys_userrole u on u.ROLENAME=g.ROLENAME and u.sysid=g.sysid where "
                       "u.USERCODE=? and u.sysid=f.sysid and g.FUNCNAME=f.FUNCNAME))"),
        {sysid, user}, true);
    for (const QVariantList &row : t.rows) {
        QString &ops = r.ops[row.at(0).toString().toUpper()];
        for (QChar op : row.at(1).toString().toUpper())
            if (!ops.contains(op))
                ops.append(op);
    }
    return r;
}

void authorizeWrite(const Rights &rights, const QString &table, const QString &ops)
{
    for (QChar op : ops) {
        if (!rights.mayWrite(table, op))
            throw ApplyError(403, QStringLiteral("您没有%1数据表 %2 的权限，本次没有保存任何数据。"
                                                 "请联系系统管理员为您的角色授予相应的功能。")
                                      .arg(opName(op), table));
    }
}

void authorizeApply(Connection &c, const Rights &rights, const QString &table, const QString &ops,
                    const quillon::DataPacket &packet, const QString &sysid)
{
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
        if (orphans) {
            QString rest = ops;
            rest.remove(u'D');
            return authorizeWrite(rights, table, rest);
        }
    }
    authorizeWrite(rights, table, ops);
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
}

void seedFunctionTables(Connection &c, const QString &sysid)
{
    if (!c.query(QStringLiteral("select 1 from sys_functable where sysid=?"), {sysid}, true)
             .rows.isEmpty())
        return;
    for (const FunctionTable &f : kStandardTables)
        c.execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                 "values (?,?,?,?)"),
                  {QString::fromLatin1(f.function), QString::fromLatin1(f.table),
                   QString::fromLatin1(f.ops), sysid});
}

void ensureDefaultRights(Connection &c)
{
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
