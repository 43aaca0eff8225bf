#include "server/admin.h"
#include "server/oplog.h"

#include "server/applydata.h"
#include "server/auth.h"
#include "server/authz.h"
#include "server/checks.h"
#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <QCborArray>
#include <QDateTime>
#include <QRegularExpression>

namespace server {

namespace {

using quillon::DataPacket;
using quillon::FieldDef;
using quillon::FieldType;

QString arg(const QCborMap &args, const char *name)
{
    return args.value(QLatin1String(name)).toString().trimmed();
}

QStringList listArg(const QCborMap &args, const char *name)
{
    QStringList out;
    const QCborArray a = args.value(QLatin1String(name)).toArray();
    for (const QCborValue &v : a)
        if (!v.toString().trimmed().isEmpty())
            out.append(v.toString().trimmed());
    return out;
}

[[noreturn]] void refuse(const QString &text)
{
    throw ServerError(400, text);
}

// One call: the connection, the caller, the deployment it works on, its rights.
struct Call
{
    Connection &c;
    const SessionInfo &session;
    QString sysid;
    Rights rights;
    QString address; // the client's network address

    // One row of the operation log, in the call's transaction and in the deployment's
    // hash chain. Passwords never go in.
    void log(const QString &table, const QString &key, const char *optype, const QString &content,
             const QString &call)
    {
        OpLogEntry e;
        e.tableName = table;
        e.key = key.left(40);
        e.keys = {session.user.left(40)};
        e.opType = QString::fromLatin1(optype);
        e.content = content.left(2000);
        e.site = session.siteName;
        e.emp = session.empName.isEmpty() ? session.user : session.empName;
        e.address = address.left(40);
        e.time = QDateTime::currentDateTime();
        e.note = QStringLiteral("%1 (%2)").arg(call, session.user).left(200);
        appendOpLog(c, sysid, {e});
    }

    QueryResult q(const QString &sql, const QVariantList &params = {})
    {
        return c.query(sql, params, false);
    }
    bool exists(const QString &sql, const QVariantList &params)
    {
        return !q(sql, params).rows.isEmpty();
    }
};

QByteArray packetOf(QueryResult r)
{
    DataPacket p;
    for (FieldDef &f : r.fields)
        f.name = f.name.toUpper();
    p.fields = std::move(r.fields);
    p.rows = std::move(r.rows);
    return p.toBinary();
}

bool validUser(const QString &user, const QString &sysid)
{
    static const QRegularExpression name(QStringLiteral("^[^\\s'\"]{1,36}$"));
    return user.size() >= 5 && user.left(4) == sysid + QLatin1Char('.')
           && name.match(user.mid(4)).hasMatch();
}

QString userSysid(Call &k, const QString &user)
{
    const QueryResult r = k.q(QStringLiteral("select sysid from sys_user where USERCODE=?"), {user});
    if (r.rows.isEmpty() || r.rows.first().first().toString() != k.sysid)
        refuse(QStringLiteral("本部署没有用户“%1”。请刷新用户列表后重试。").arg(user));
    return r.rows.first().first().toString();
}

void checkRoles(Call &k, const QStringList &roles)
{
    for (const QString &role : roles)
        if (!k.exists(QStringLiteral("select 1 from sys_role where ROLENAME=? and sysid=?"),
                      {role, k.sysid}))
            refuse(QStringLiteral("没有角色“%1”。请先在角色管理中建立它。").arg(role));
}

void checkSite(Call &k, const QString &site)
{
    if (!k.exists(QStringLiteral("select 1 from tab_Site where SiteCode=? and sysid=?"),
                  {site, k.sysid}))
        refuse(QStringLiteral("网点编号“%1”不存在。请从网点列表中选择。").arg(site));
}

// A change of one value as the log shows it ("名称 a → b"); empty when it stays.
QString change(const QString &what, const QString &before, const QString &after)
{
    if (before == after)
        return QString();
    auto shown = [](const QString &v) { return v.isEmpty() ? QStringLiteral("(空)") : v; };
    return QStringLiteral("%1 %2 → %3").arg(what, shown(before), shown(after));
}

// What the log says of a changed record: the changes joined, or that nothing changed.
QString changes(const QString &head, const QStringList &parts)
{
    QStringList kept;
    for (const QString &p : parts)
        if (!p.isEmpty())
            kept.append(p);
    return head + (kept.isEmpty() ? QStringLiteral("：未改变") : QStringLiteral("：") + kept.join(u'；'));
}

// A site as the windows show it: code and name.
QString siteCaption(Call &k, const QString &code)
{
    const QueryResult r = k.q(QStringLiteral("select SiteName from tab_Site where SiteCode=? and sysid=?"),
                              {code, k.sysid});
    return r.rows.isEmpty() ? code : code + QLatin1Char(' ') + r.rows.first().first().toString();
}

// A function as the role window shows it: its menu entry's name, the technical name after it.
QString functionCaption(Call &k, const QString &function)
{
    static const struct
    {
        const char *function;
        const char16_t *caption;
    } admin[] = {{kUsersFunction, u"用户管理"},
                 {kRolesFunction, u"角色管理"},
                 {kSitesFunction, u"级别管理"},
                 {kParamFunction, u"参数设置"}};
    QString caption;
    const QueryResult r = k.q(QStringLiteral("select MENUNAME from sys_menu where FUNCNAME=? and "
                                             "sysid=? order by POSID"),
                              {function, k.sysid});
    if (!r.rows.isEmpty())
        caption = r.rows.first().first().toString();
    for (const auto &a : admin)
        if (caption.isEmpty() && function == QLatin1String(a.function))
            caption = QString::fromUtf16(a.caption);
    return caption.isEmpty() ? function : QStringLiteral("%1（%2）").arg(caption, function);
}

QStringList rolesOf(Call &k, const QString &user)
{
    QStringList roles;
    for (const QVariantList &row :
         k.q(QStringLiteral("select ROLENAME from sys_userrole where USERCODE=? and sysid=? "
                            "order by ROLENAME"),
             {user, k.sysid})
             .rows)
        roles.append(row.at(0).toString());
    return roles;
}

// Control characters, zero-width and direction-changing characters make two names look
// alike ("001.zh\u200bang" and "001.zhang") or a list read wrongly: names refuse them.
void checkVisible(const QString &text, const QString &what)
{
    for (QChar ch : text) {
        const QChar::Category cat = ch.category();
        if (cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Separator_Line
            || cat == QChar::Separator_Paragraph || cat == QChar::Other_NotAssigned
            || cat == QChar::Other_PrivateUse || cat == QChar::Other_Surrogate || ch == QChar(0xFEFF))
            refuse(QStringLiteral("%1中含有不可见或控制字符（如零宽字符、换行、方向控制符，编码 U+%2），"
                                  "请删除后重新输入。")
                       .arg(what)
                       .arg(ch.unicode(), 4, 16, QLatin1Char('0')));
    }
}

// A boolean argument must be one: "true" or 1 is a mistake of the caller, not "no". An
// optional one (absent: `absent`) may be left out.
bool boolArg(const QCborMap &args, const char *name, std::optional<bool> absent = std::nullopt)
{
    const QCborValue v = args.value(QLatin1String(name));
    if (absent && v.isUndefined())
        return *absent;
    if (!v.isBool())
        refuse(QStringLiteral("参数 %1 必须是 true 或 false，请升级程序后重试。").arg(QLatin1String(name)));
    return v.toBool();
}

// ---- who may hand out what ---------------------------------------------------------------
// Nobody gives a right he does not hold himself, changes his own roles or grants, or acts
// on a user who holds rights he lacks; only the super administrator touches 管理员.

const QString &adminRole()
{
    static const QString name = QStringLiteral("管理员");
    return name;
}

QSet<QString> roleFunctions(Call &k, const QString &role)
{
    QSet<QString> out;
    for (const QVariantList &row :
         k.q(QStringLiteral("select FUNCNAME from sys_rolegrant where ROLENAME=? and sysid=?"), {role, k.sysid}).rows)
        out.insert(row.at(0).toString());
    return out;
}

QStringList lacking(const Call &k, const QSet<QString> &functions)
{
    QStringList out;
    if (k.rights.superUser)
        return out;
    for (const QString &f : functions)
        if (!k.rights.functions.contains(f))
            out.append(f);
    out.sort();
    return out;
}

QStringList userRoles(Call &k, const QString &user)
{
    QStringList out;
    for (const QVariantList &row :
         k.q(QStringLiteral("select ROLENAME from sys_userrole where USERCODE=? and sysid=? order by ROLENAME"),
             {user, k.sysid})
             .rows)
        out.append(row.at(0).toString());
    return out;
}

// The roles may be given by the caller: each grants nothing he lacks; 管理员 only by dk.
void checkMayGive(Call &k, const QStringList &roles)
{
    for (const QString &role : roles) {
        if (role == adminRole() && !k.rights.superUser)
            throw ServerError(403, QStringLiteral("只有超级管理员可以授予或收回“%1”角色。").arg(role));
        const QStringList missing = lacking(k, roleFunctions(k, role));
        if (!missing.isEmpty())
            throw ServerError(403, QStringLiteral("角色“%1”包含您自己没有的功能（%2），您不能把它授予别人。")
                                      .arg(role, missing.join(u',')));
    }
}

// The caller may act on the user: not himself, and the user holds no right he lacks.
void checkMayManage(Call &k, const QString &user, const QString &what)
{
    if (k.rights.superUser)
        return;
    if (user == k.session.user)
        throw ServerError(403, QStringLiteral("不能%1自己的用户，请请其他管理员办理（修改本人密码请用“修改密码”）。").arg(what));
    const QStringList roles = userRoles(k, user);
    if (roles.contains(adminRole()))
        throw ServerError(403, QStringLiteral("用户“%1”是管理员，只有超级管理员可以%2。").arg(user, what));
    const Rights target = loadRights(k.c, user, k.sysid);
    const QStringList missing = lacking(k, target.functions);
    if (!missing.isEmpty())
        throw ServerError(403, QStringLiteral("用户“%1”拥有您没有的功能（%2），您不能%3该用户。")
                                  .arg(user, missing.join(u','), what));
}

// The caller may change the role: not one he holds himself, none with rights he lacks.
void checkMayChangeRole(Call &k, const QString &role, const QString &what)
{
    if (k.rights.superUser)
        return;
    if (role == adminRole())
        throw ServerError(403, QStringLiteral("只有超级管理员可以%1“%2”角色。").arg(what, role));
    if (k.rights.roles.contains(role))
        throw ServerError(403, QStringLiteral("不能%1自己所属的角色“%2”，请请其他管理员办理。").arg(what, role));
    const QStringList missing = lacking(k, roleFunctions(k, role));
    if (!missing.isEmpty())
        throw ServerError(403, QStringLiteral("角色“%1”包含您没有的功能（%2），您不能%3它。")
                                  .arg(role, missing.join(u','), what));
}

// Functions a role may grant: those of the deployment's menu and the administration
// windows (the menu editor stays the super administrator's).
QSet<QString> grantableFunctions(Call &k)
{
    QSet<QString> out;
    for (const QVariantList &row :
         k.q(QStringLiteral("select distinct FUNCNAME from sys_menu where sysid=?"), {k.sysid}).rows)
        out.insert(row.at(0).toString().trimmed());
    for (const QString &f : systemFunctions())
        out.insert(f);
    out.remove(QString());
    out.remove(QString::fromLatin1(kMenuFunction));
    return out;
}

// ---- own account -------------------------------------------------------------------------

QCborMap myMenu(Call &k, const QCborMap &)
{
    QCborMap out;
    out.insert(QStringLiteral("menu"), grantedMenu(k.c, k.session.user, k.session.sysid).toBinary());
    return out;
}

QCborMap myRights(Call &k, const QCborMap &)
{
    QCborMap out;
    out.insert(QStringLiteral("superUser"), k.rights.superUser);
    out.insert(QStringLiteral("roles"), QCborArray::fromStringList(k.rights.roles));
    QStringList f(k.rights.functions.cbegin(), k.rights.functions.cend());
    f.sort();
    out.insert(QStringLiteral("functions"), QCborArray::fromStringList(f));
    return out;
}

QCborMap changePassword(Call &k, const QCborMap &args)
{
    const QString oldPassword = args.value(QLatin1String("old")).toString();
    const QString newPassword = args.value(QLatin1String("new")).toString();
    const QueryResult r = k.q(QStringLiteral("select PWHASH from sys_user where USERCODE=?"),
                              {k.session.user});
    if (r.rows.isEmpty())
        refuse(QStringLiteral("找不到您的用户记录，请重新登录。"));
    if (!verifyPassword(r.rows.first().first().toString(), oldPassword))
        throw ServerError(403, QStringLiteral("原密码不正确，请重新输入。"));
    if (newPassword == oldPassword)
        refuse(QStringLiteral("新密码不能与原密码相同。"));
    const QString weak = passwordWeakness(k.session.user, newPassword);
    if (!weak.isEmpty())
        refuse(weak);
    setPassword(k.c, k.session.user, newPassword);
    k.log(QStringLiteral("sys_user"), k.session.user, "UPT", QStringLiteral("修改本人密码"),
          QStringLiteral("ChangePassword"));
    return {};
}

// ---- users -------------------------------------------------------------------------------

QCborMap listUsers(Call &k, const QCborMap &)
{
    QueryResult r = k.q(QStringLiteral("select u.USERCODE, u.SITECODE, s.SiteName as SITENAME, "
                                       "u.EMPNAME, u.ENABLED, u.CREATETIME from sys_user u "
                                       "left join tab_Site s on s.SiteCode=u.SITECODE and "
                                       "s.sysid=u.sysid where u.sysid=? order by u.USERCODE"),
                        {k.sysid});
    // The roles of each user as one text, "a,b".
    QHash<QString, QStringList> roles;
    for (const QVariantList &row :
         k.q(QStringLiteral("select USERCODE, ROLENAME from sys_userrole where sysid=? "
                            "order by ROLENAME"),
             {k.sysid})
             .rows)
        roles[row.at(0).toString()].append(row.at(1).toString());
    FieldDef f;
    f.name = QStringLiteral("ROLES");
    f.type = FieldType::String;
    f.size = 400;
    r.fields.append(f);
    for (QVariantList &row : r.rows)
        row.append(roles.value(row.at(0).toString()).join(QLatin1Char(',')));
    QCborMap out;
    out.insert(QStringLiteral("users"), packetOf(std::move(r)));
    return out;
}

QCborMap addUserCall(Call &k, const QCborMap &args)
{
    const QString user = arg(args, "user");
    const QString site = arg(args, "site");
    const QString name = arg(args, "name");
    const QString password = args.value(QLatin1String("password")).toString();
    const QStringList roles = listArg(args, "roles");
    if (!validUser(user, k.sysid))
        refuse(QStringLiteral("用户名“%1”不合规则：应为“%2.”加上名字（不含空格和引号），例如 %2.li。")
                   .arg(user, k.sysid));
    checkVisible(user, QStringLiteral("用户名"));
    if (name.isEmpty() || name.size() > 30)
        refuse(QStringLiteral("请填写员工姓名（最多30个字）。"));
    checkVisible(name, QStringLiteral("员工姓名"));
    checkSite(k, site);
    if (k.exists(QStringLiteral("select 1 from sys_user where USERCODE=?"), {user}))
        refuse(QStringLiteral("用户“%1”已经存在，请换一个用户名。").arg(user));
    const QString weak = passwordWeakness(user, password);
    if (!weak.isEmpty())
        refuse(weak);
    if (roles.isEmpty())
        refuse(QStringLiteral("请至少为用户选择一个角色。"));
    checkRoles(k, roles);
    checkMayGive(k, roles);
    addUser(k.c, user, password, site, name);
    setUserRoles(k.c, user, k.sysid, roles);
    k.log(QStringLiteral("sys_user"), user, "INS",
          QStringLiteral("新增用户 %1（%2，网点 %3，角色 %4）").arg(user, name, site, roles.join(u',')),
          QStringLiteral("AddUser"));
    return {};
}

QCborMap updateUser(Call &k, const QCborMap &args)
{
    const QString user = arg(args, "user");
    userSysid(k, user);
    const QString site = arg(args, "site");
    const QString name = arg(args, "name");
    const QStringList roles = listArg(args, "roles");
    if (name.isEmpty() || name.size() > 30)
        refuse(QStringLiteral("请填写员工姓名（最多30个字）。"));
    checkVisible(name, QStringLiteral("员工姓名"));
    checkSite(k, site);
    if (roles.isEmpty())
        refuse(QStringLiteral("请至少为用户选择一个角色。"));
    checkRoles(k, roles);
    checkMayManage(k, user, QStringLiteral("修改"));
    checkMayGive(k, roles);
    const QueryResult held = k.q(QStringLiteral("select SITECODE, EMPNAME from sys_user where USERCODE=?"),
                                 {user});
    const QString oldSite = held.rows.value(0).value(0).toString();
    const QString oldName = held.rows.value(0).value(1).toString();
    QStringList oldRoles = rolesOf(k, user);
    QStringList newRoles = roles;
    newRoles.removeDuplicates();
    newRoles.sort();
    const QString oldSiteCaption = siteCaption(k, oldSite);
    k.c.execute(QStringLiteral("update sys_user set SITECODE=?, EMPNAME=? where USERCODE=?"),
                {site, name, user});
    setUserRoles(k.c, user, k.sysid, roles);
    k.log(QStringLiteral("sys_user"), user, "UPT",
          changes(QStringLiteral("修改用户 %1").arg(user),
                  {change(QStringLiteral("姓名"), oldName, name),
                   change(QStringLiteral("网点"), oldSiteCaption, siteCaption(k, site)),
                   change(QStringLiteral("角色"), oldRoles.join(u'、'), newRoles.join(u'、'))}),
          QStringLiteral("UpdateUser"));
    return {};
}

QCborMap setEnabled(Call &k, const QCborMap &args)
{
    const QString user = arg(args, "user");
    userSysid(k, user);
    const bool enabled = boolArg(args, "enabled");
    if (!enabled && user == k.session.user)
        refuse(QStringLiteral("不能停用自己正在使用的用户。"));
    checkMayManage(k, user, enabled ? QStringLiteral("启用") : QStringLiteral("停用"));
    setUserEnabled(k.c, user, enabled);
    k.log(QStringLiteral("sys_user"), user, "UPT",
          enabled ? QStringLiteral("启用用户 %1").arg(user) : QStringLiteral("停用用户 %1").arg(user),
          QStringLiteral("SetUserEnabled"));
    return {};
}

QCborMap resetPassword(Call &k, const QCborMap &args)
{
    const QString user = arg(args, "user");
    userSysid(k, user);
    checkMayManage(k, user, QStringLiteral("重置密码"));
    const QString password = args.value(QLatin1String("password")).toString();
    const QString weak = passwordWeakness(user, password);
    if (!weak.isEmpty())
        refuse(weak);
    setPassword(k.c, user, password);
    k.log(QStringLiteral("sys_user"), user, "UPT", QStringLiteral("重置用户 %1 的密码").arg(user),
          QStringLiteral("ResetPassword"));
    return {};
}

// ---- roles -------------------------------------------------------------------------------

QCborMap listRoles(Call &k, const QCborMap &)
{
    QHash<QString, QStringList> grants;
    for (const QVariantList &row :
         k.q(QStringLiteral("select ROLENAME, FUNCNAME from sys_rolegrant where sysid=? "
                            "order by FUNCNAME"),
             {k.sysid})
             .rows)
        grants[row.at(0).toString()].append(row.at(1).toString());
    QHash<QString, qlonglong> users;
    for (const QVariantList &row :
         k.q(QStringLiteral("select ROLENAME, count(*) from sys_userrole where sysid=? "
                            "group by ROLENAME"),
             {k.sysid})
             .rows)
        users.insert(row.at(0).toString(), row.at(1).toLongLong());
    QCborArray roles;
    for (const QVariantList &row :
         k.q(QStringLiteral("select ROLENAME, REMARK, ROWSCOPE from sys_role where sysid=? order by ROLENAME"),
             {k.sysid})
             .rows) {
        const QString name = row.at(0).toString();
        QCborMap m;
        m.insert(QStringLiteral("name"), name);
        m.insert(QStringLiteral("remark"), row.at(1).toString());
        m.insert(QStringLiteral("rowScope"), row.at(2).toString());
        m.insert(QStringLiteral("functions"), QCborArray::fromStringList(grants.value(name)));
        m.insert(QStringLiteral("users"), users.value(name));
        roles.append(m);
    }
    QCborMap out;
    out.insert(QStringLiteral("roles"), roles);
    return out;
}

QCborMap saveRole(Call &k, const QCborMap &args)
{
    const QString name = arg(args, "name");
    const QString oldName = arg(args, "oldName");
    const QString remark = arg(args, "remark");
    const QStringList functions = listArg(args, "functions");
    if (name.isEmpty() || name.size() > 30 || name.contains(u','))
        refuse(QStringLiteral("请填写角色名称（最多30个字，不含逗号）。"));
    if (remark.size() > 200)
        refuse(QStringLiteral("说明最多200个字。"));
    checkVisible(name, QStringLiteral("角色名称"));
    const QSet<QString> grantable = grantableFunctions(k);
    for (const QString &f : functions)
        if (!grantable.contains(f))
            refuse(QStringLiteral("功能“%1”不在本部署的菜单中，不能授予。请刷新后重试。").arg(f));
    const bool known = !oldName.isEmpty()
                       && k.exists(QStringLiteral("select 1 from sys_role where ROLENAME=? and sysid=?"),
                                   {oldName, k.sysid});
    if (!oldName.isEmpty() && !known)
        refuse(QStringLiteral("角色“%1”已被删除或改名，请刷新后重试。").arg(oldName));
    if (known)
        checkMayChangeRole(k, oldName, QStringLiteral("修改"));
    if (name == adminRole() && !k.rights.superUser)
        throw ServerError(403, QStringLiteral("只有超级管理员可以修改“%1”角色。").arg(name));
    {
        const QStringList missing = lacking(k, QSet<QString>(functions.cbegin(), functions.cend()));
        if (!missing.isEmpty())
            throw ServerError(403, QStringLiteral("您自己没有这些功能，不能把它们授予角色：%1。")
                                      .arg(missing.join(u',')));
    }
    // The rows the role's users see: "" all, "SITE" their site's, "CENTRE" their centre's.
    // Kept when the caller does not say; only a caller who sees every row may widen it.
    QString rowScope;
    if (known)
        rowScope = k.q(QStringLiteral("select ROWSCOPE from sys_role where ROLENAME=? and sysid=?"),
                       {oldName, k.sysid})
                       .rows.value(0)
                       .value(0)
                       .toString();
    if (args.contains(QLatin1String("rowScope"))) {
        const QString asked = arg(args, "rowScope").toUpper();
        if (!asked.isEmpty() && asked != QLatin1String("SITE") && asked != QLatin1String("CENTRE"))
            refuse(QStringLiteral("数据范围只能是全部、本网点（SITE）或本财务中心（CENTRE）。"));
        if (asked != rowScope && !k.rights.superUser
            && std::any_of(k.rights.readScope.cbegin(), k.rights.readScope.cend(),
                           [](RowScopeKind kind) { return kind != RowScopeKind::None; }))
            throw ServerError(403, QStringLiteral("您自己只能看到部分网点的数据，不能改变角色的数据范围。"));
        rowScope = asked;
    }
    if ((!known || oldName != name)
        && k.exists(QStringLiteral("select 1 from sys_role where ROLENAME=? and sysid=?"),
                    {name, k.sysid}))
        refuse(QStringLiteral("角色“%1”已经存在，请换一个名称。").arg(name));
    QString oldRemark;
    QSet<QString> oldGrants;
    if (known) {
        oldRemark = k.q(QStringLiteral("select REMARK from sys_role where ROLENAME=? and sysid=?"),
                        {oldName, k.sysid})
                        .rows.value(0)
                        .value(0)
                        .toString();
        for (const QVariantList &row :
             k.q(QStringLiteral("select FUNCNAME from sys_rolegrant where ROLENAME=? and sysid=?"),
                 {oldName, k.sysid})
                 .rows)
            oldGrants.insert(row.at(0).toString());
    }
    if (known) {
        // Everybody holding the role gets the new grants at their next request.
        for (const QVariantList &row :
             k.q(QStringLiteral("select USERCODE from sys_userrole where ROLENAME=? and sysid=?"),
                 {oldName, k.sysid})
                 .rows)
            bumpTokenGeneration(k.c, row.at(0).toString());
        k.c.execute(QStringLiteral("update sys_role set ROLENAME=?, REMARK=?, ROWSCOPE=? where ROLENAME=? and sysid=?"),
                    {name, remark, rowScope, oldName, k.sysid});
        k.c.execute(QStringLiteral("update sys_userrole set ROLENAME=? where ROLENAME=? and sysid=?"),
                    {name, oldName, k.sysid});
        k.c.execute(QStringLiteral("delete from sys_rolegrant where ROLENAME=? and sysid=?"),
                    {oldName, k.sysid});
    } else {
        k.c.execute(QStringLiteral("insert into sys_role (ROLENAME, REMARK, ROWSCOPE, sysid) values (?,?,?,?)"),
                    {name, remark, rowScope, k.sysid});
    }
    QSet<QString> seen;
    for (const QString &f : functions) {
        if (seen.contains(f))
            continue;
        seen.insert(f);
        k.c.execute(QStringLiteral("insert into sys_rolegrant (ROLENAME, FUNCNAME, sysid) values (?,?,?)"),
                    {name, f, k.sysid});
    }
    // Grants as the role window names them, what was added and what was taken away.
    auto captions = [&k](QSet<QString> set) {
        QStringList out;
        for (const QString &f : std::as_const(set))
            out.append(functionCaption(k, f));
        out.sort();
        return out.join(u'、');
    };
    QString content;
    if (known) {
        const QString added = captions(QSet<QString>(seen).subtract(oldGrants));
        const QString removed = captions(QSet<QString>(oldGrants).subtract(seen));
        content = changes(QStringLiteral("修改角色 %1").arg(oldName),
                          {change(QStringLiteral("名称"), oldName, name),
                           change(QStringLiteral("说明"), oldRemark, remark),
                           added.isEmpty() ? QString() : QStringLiteral("增加功能 ") + added,
                           removed.isEmpty() ? QString() : QStringLiteral("取消功能 ") + removed});
    } else {
        const QString granted = captions(seen);
        content = QStringLiteral("新增角色 %1，授予功能：%2")
                      .arg(name, granted.isEmpty() ? QStringLiteral("无") : granted);
    }
    k.log(QStringLiteral("sys_role"), name, known ? "UPT" : "INS", content, QStringLiteral("SaveRole"));
    return {};
}

QCborMap deleteRole(Call &k, const QCborMap &args)
{
    const QString name = arg(args, "name");
    if (!k.exists(QStringLiteral("select 1 from sys_role where ROLENAME=? and sysid=?"), {name, k.sysid}))
        refuse(QStringLiteral("角色“%1”不存在，请刷新后重试。").arg(name));
    checkMayChangeRole(k, name, QStringLiteral("删除"));
    const qlonglong users = k.q(QStringLiteral("select count(*) from sys_userrole where ROLENAME=? and sysid=?"),
                                {name, k.sysid})
                                .rows.value(0)
                                .value(0)
                                .toLongLong();
    if (users > 0)
        refuse(QStringLiteral("角色“%1”还有 %2 个用户在使用，请先在用户管理中为他们改换角色。")
                   .arg(name)
                   .arg(users));
    k.c.execute(QStringLiteral("delete from sys_rolegrant where ROLENAME=? and sysid=?"), {name, k.sysid});
    k.c.execute(QStringLiteral("delete from sys_role where ROLENAME=? and sysid=?"), {name, k.sysid});
    k.log(QStringLiteral("sys_role"), name, "DEL", QStringLiteral("删除角色 %1").arg(name),
          QStringLiteral("DeleteRole"));
    return {};
}

// ---- menu --------------------------------------------------------------------------------

QCborMap listMenu(Call &k, const QCborMap &)
{
    QueryResult r = k.q(QStringLiteral("select POSID, MENUNAME, FUNCNAME, ORGANLEVEL, SHORTCUT, "
                                       "OFFLINEENABLED, PNGNAME from sys_menu where sysid=? "
                                       "order by POSID"),
                        {k.sysid});
    QHash<QString, QStringList> tables;
    for (const QVariantList &row :
         k.q(QStringLiteral("select FUNCNAME, TABLENAME, OPS from sys_functable where sysid=? "
                            "order by TABLENAME"),
             {k.sysid})
             .rows)
        tables[row.at(0).toString()].append(row.at(1).toString() + QLatin1Char(':')
                                            + row.at(2).toString());
    FieldDef f;
    f.name = QStringLiteral("WRITETABLES");
    f.size = 400;
    r.fields.append(f);
    for (QVariantList &row : r.rows)
        row.append(tables.value(row.at(2).toString().trimmed()).join(QLatin1Char(';')));
    QCborMap out;
    out.insert(QStringLiteral("menu"), packetOf(std::move(r)));
    out.insert(QStringLiteral("public"), tables.value(QStringLiteral("*")).join(QLatin1Char(';')));
    return out;
}

// "TAB_A:IUD;TAB_B:I" -> table -> ops. Tables must exist and be client tables.
QHash<QString, QString> parseWriteTables(Call &k, const QString &text, const QString &where)
{
    QHash<QString, QString> out;
    for (const QString &part : text.split(QRegularExpression(QStringLiteral("[;,\\s]+")),
                                          Qt::SkipEmptyParts)) {
        const QString table = part.section(u':', 0, 0).trimmed();
        QString ops = part.contains(u':') ? part.section(u':', 1).trimmed().toUpper()
                                          : QStringLiteral("RIUD");
        const TableInfo info = k.c.tableInfo(table);
        if (!info.exists() || isProtectedTable(table) || info.columnIndex(QStringLiteral("sysid")) < 0)
            refuse(QStringLiteral("%1：数据表“%2”不存在或不能由客户端使用。").arg(where, table));
        if (ops.isEmpty() || !QRegularExpression(QStringLiteral("^[RIUD]{1,4}$")).match(ops).hasMatch())
            refuse(QStringLiteral("%1：数据表 %2 的操作“%3”无效，只能是 R（查看）、I（新增）、U（修改）、D（删除）的组合。")
                       .arg(where, table, ops));
        // The menu and the operation log are the server's to write (reading the log is a grant).
        if ((info.name.compare(QLatin1String("sys_menu"), Qt::CaseInsensitive) == 0
             || isServerWrittenTable(info.name))
            && ops != QLatin1String("R"))
            refuse(QStringLiteral("%1：数据表“%2”只能授予查看（R）。").arg(where, table));
        QString &merged = out[info.name];
        for (QChar op : ops)
            if (!merged.contains(op))
                merged.append(op);
    }
    return out;
}

QCborMap saveMenu(Call &k, const QCborMap &args)
{
    DataPacket p;
    try {
        p = DataPacket::fromBinary(args.value(QLatin1String("menu")).toByteArray());
    } catch (const quillon::PacketError &) {
        refuse(QStringLiteral("菜单数据无法读取，请重新打开菜单管理。"));
    }
    const char *names[] = {"POSID", "MENUNAME", "FUNCNAME", "ORGANLEVEL", "SHORTCUT",
                           "OFFLINEENABLED", "PNGNAME", "WRITETABLES"};
    int idx[8];
    for (int i = 0; i < 8; ++i) {
        idx[i] = p.fieldIndex(QString::fromLatin1(names[i]));
        if (idx[i] < 0 && i < 3)
            refuse(QStringLiteral("菜单数据缺少字段 %1。").arg(QString::fromLatin1(names[i])));
    }
    static const QRegularExpression posPattern(QStringLiteral("^\\d{3}\\.\\d{3}\\.\\d{3}$"));
    static const QRegularExpression funcPattern(QStringLiteral("^px_[A-Za-z0-9_]+\\.[A-Za-z0-9_]+$"));
    auto text = [&](const QVariantList &row, int i) {
        return idx[i] < 0 ? QString() : row.value(idx[i]).toString().trimmed();
    };
    QSet<QString> posids;
    for (const QVariantList &row : std::as_const(p.rows)) {
        const QString pos = text(row, 0);
        if (pos != QLatin1String("@") && !posPattern.match(pos).hasMatch())
            refuse(QStringLiteral("编号“%1”不合规则：应为三组三位数字，用点分隔（如 001.002.003），或单个 @。")
                       .arg(pos));
        if (pos != QLatin1String("@") && posids.contains(pos))
            refuse(QStringLiteral("编号 %1 重复，请修改。").arg(pos));
        posids.insert(pos);
    }
    QHash<QString, QHash<QString, QString>> tables; // function -> table -> ops
    for (const QVariantList &row : std::as_const(p.rows)) {
        const QString pos = text(row, 0);
        const QString name = text(row, 1);
        const QString func = text(row, 2);
        if (name.isEmpty() || name.size() > 40)
            refuse(QStringLiteral("编号 %1：请填写菜单名称（最多40个字）。").arg(pos));
        if (!func.isEmpty() && !funcPattern.match(func).hasMatch())
            refuse(QStringLiteral("编号 %1：功能“%2”应写成 模块名.功能名（如 px_Herald.fSendMessage）。")
                       .arg(pos, func));
        if (pos != QLatin1String("@") && !pos.endsWith(QLatin1String(".000.000"))) {
            if (!posids.contains(pos.left(3) + QStringLiteral(".000.000")))
                refuse(QStringLiteral("编号 %1 没有所属的模块（%2），请先建立模块。")
                           .arg(pos, pos.left(3) + QStringLiteral(".000.000")));
            if (!pos.endsWith(QLatin1String(".000"))
                && !posids.contains(pos.left(7) + QStringLiteral(".000")))
                refuse(QStringLiteral("编号 %1 没有所属的分组（%2），请先建立分组。")
                           .arg(pos, pos.left(7) + QStringLiteral(".000")));
        }
        const QString write = text(row, 7);
        if (!write.isEmpty()) {
            if (func.isEmpty())
                refuse(QStringLiteral("编号 %1 没有功能，不能给它可写的数据表。").arg(pos));
            const auto parsed = parseWriteTables(k, write, QStringLiteral("编号 %1").arg(pos));
            for (auto it = parsed.cbegin(); it != parsed.cend(); ++it) {
                QString &ops = tables[func][it.key()];
                for (QChar op : it.value())
                    if (!ops.contains(op))
                        ops.append(op);
            }
        }
    }
    k.c.execute(QStringLiteral("delete from sys_menu where sysid=?"), {k.sysid});
    for (const QVariantList &row : std::as_const(p.rows)) {
        bool ok = false;
        const int offline = text(row, 5).toInt(&ok);
        k.c.execute(QStringLiteral("insert into sys_menu (POSID, MENUNAME, FUNCNAME, ORGANLEVEL, "
                                   "SHORTCUT, OFFLINEENABLED, PNGNAME, sysid) values (?,?,?,?,?,?,?,?)"),
                    {text(row, 0), text(row, 1), text(row, 2), text(row, 3).left(10),
                     text(row, 4).left(20), ok && offline == 1 ? 1 : 0, text(row, 6).left(20), k.sysid});
    }
    k.c.execute(QStringLiteral("delete from sys_functable where sysid=? and FUNCNAME<>'*'"), {k.sysid});
    for (auto f = tables.cbegin(); f != tables.cend(); ++f)
        for (auto t = f.value().cbegin(); t != f.value().cend(); ++t)
            k.c.execute(QStringLiteral("insert into sys_functable (FUNCNAME, TABLENAME, OPS, sysid) "
                                       "values (?,?,?,?)"),
                        {f.key(), t.key(), t.value(), k.sysid});
    // What the functions read and write changed: every user of the deployment gets it at
    // the next request (the cached rights are per token generation).
    for (const QVariantList &row :
         k.q(QStringLiteral("select USERCODE from sys_user where sysid=?"), {k.sysid}).rows)
        bumpTokenGeneration(k.c, row.at(0).toString());
    k.log(QStringLiteral("sys_menu"), k.sysid, "UPT",
          QStringLiteral("保存部署 %1 的菜单：%2 项").arg(k.sysid).arg(p.rows.size()),
          QStringLiteral("SaveMenu"));
    return {};
}

QCborMap listDeployments(Call &k, const QCborMap &)
{
    QStringList ids;
    for (const QVariantList &row :
         k.q(QStringLiteral("select sysid from sys_menu union select sysid from tab_Site "
                            "union select sysid from sys_user order by 1"))
             .rows)
        ids.append(row.at(0).toString());
    QCborMap out;
    out.insert(QStringLiteral("deployments"), QCborArray::fromStringList(ids));
    return out;
}

// ---- sites -------------------------------------------------------------------------------

struct Level
{
    const char *code;
    const char *name;
};
// Site levels: the FBTYPE code and the SITETYPE text.
const Level kLevels[] = {{"0", "总部"}, {"1", "财务中心"}, {"2", "网点"}};

QCborMap listSites(Call &k, const QCborMap &)
{
    QCborMap out;
    out.insert(QStringLiteral("sites"),
               packetOf(k.q(QStringLiteral("select SiteCode, SiteName, BELONGSITE, SITETYPE, "
                                           "FINANCECENTER, ISFINANCE, FBTYPE, DEFAULTMDD, PHONE "
                                           "from tab_Site where sysid=? order by SiteCode"),
                            {k.sysid})));
    return out;
}

QCborMap saveSite(Call &k, const QCborMap &args)
{
    const QString code = arg(args, "code");
    const QString oldCode = arg(args, "oldCode");
    const QString name = arg(args, "name");
    const QString parent = arg(args, "parent");
    const QString level = arg(args, "level");
    const bool finance = boolArg(args, "finance", false);
    static const QRegularExpression codePattern(QStringLiteral("^[A-Za-z0-9_-]{1,20}$"));
    if (!codePattern.match(code).hasMatch())
        refuse(QStringLiteral("网点编号“%1”不合规则：1到20位字母、数字、- 或 _。").arg(code));
    if (name.isEmpty() || name.size() > 50 || name.contains(u'\''))
        refuse(QStringLiteral("请填写网点名称（最多50个字，不含单引号）。"));
    checkVisible(name, QStringLiteral("网点名称"));
    const Level *lv = nullptr;
    for (const Level &l : kLevels)
        if (level == QLatin1String(l.code) || level == QString::fromUtf8(l.name))
            lv = &l;
    if (!lv)
        refuse(QStringLiteral("请选择网点级别：总部、财务中心或网点。"));
    const bool editing = !oldCode.isEmpty();
    QString oldName, oldParent, oldType;
    bool oldFinance = false;
    if (editing) {
        if (oldCode != code)
            refuse(QStringLiteral("网点编号是网点的标识，不能修改；需要新编号请新增网点。"));
        const QueryResult r = k.q(QStringLiteral("select SiteName, BELONGSITE, SITETYPE, ISFINANCE from "
                                                 "tab_Site where SiteCode=? and sysid=?"),
                                  {code, k.sysid});
        if (r.rows.isEmpty())
            refuse(QStringLiteral("网点“%1”已被删除，请刷新后重试。").arg(code));
        oldName = r.rows.first().first().toString();
        oldParent = r.rows.first().at(1).toString();
        oldType = r.rows.first().at(2).toString();
        oldFinance = r.rows.first().at(3).toInt() == 1;
    } else if (k.exists(QStringLiteral("select 1 from tab_Site where SiteCode=? and sysid=?"), {code, k.sysid})) {
        refuse(QStringLiteral("网点编号“%1”已经存在，请换一个编号。").arg(code));
    }
    if (name != oldName
        && k.exists(QStringLiteral("select 1 from tab_Site where SiteName=? and sysid=?"), {name, k.sysid}))
        refuse(QStringLiteral("网点名称“%1”已经存在，请换一个名称。").arg(name));
    QString financeCenter;
    if (QLatin1String(lv->code) == QLatin1String("0")) {
        if (!parent.isEmpty())
            refuse(QStringLiteral("总部没有上级网点，请清空上级网点。"));
    } else {
        if (parent.isEmpty())
            refuse(QStringLiteral("请选择上级网点。"));
        // The parent must exist and must not lie below this site.
        QString p = parent;
        for (int depth = 0; !p.isEmpty(); ++depth) {
            if (p == oldName || p == name || depth > 50)
                refuse(QStringLiteral("上级网点不能是本网点或它下属的网点。"));
            const QueryResult r = k.q(QStringLiteral("select BELONGSITE, FINANCECENTER from tab_Site "
                                                     "where SiteName=? and sysid=?"),
                                      {p, k.sysid});
            if (r.rows.isEmpty())
                refuse(QStringLiteral("上级网点“%1”不存在，请从列表中选择。").arg(p));
            if (depth == 0)
                financeCenter = r.rows.first().at(1).toString();
            p = r.rows.first().at(0).toString();
        }
    }
    if (finance)
        financeCenter = name;
    const QString fbType = QString::fromLatin1(lv->code);
    const QString siteType = QString::fromUtf8(lv->name);
    if (editing) {
        k.c.execute(QStringLiteral("update tab_Site set SiteName=?, BELONGSITE=?, SITETYPE=?, "
                                   "FINANCECENTER=?, ISFINANCE=?, FBTYPE=? where SiteCode=? and sysid=?"),
                    {name, parent.isEmpty() ? QVariant() : QVariant(parent), siteType, financeCenter,
                     finance ? 1 : 0, fbType, code, k.sysid});
        if (oldName != name) {
            // Sites and employees refer to their site by name.
            k.c.execute(QStringLiteral("update tab_Site set BELONGSITE=? where BELONGSITE=? and sysid=?"),
                        {name, oldName, k.sysid});
            k.c.execute(QStringLiteral("update tab_Site set FINANCECENTER=? where FINANCECENTER=? and sysid=?"),
                        {name, oldName, k.sysid});
            k.c.execute(QStringLiteral("update tab_Employee set BELONGSITE=? where BELONGSITE=? and sysid=?"),
                        {name, oldName, k.sysid});
        }
    } else {
        k.c.execute(QStringLiteral("insert into tab_Site (SiteCode, SiteName, BELONGSITE, SITETYPE, "
                                   "FINANCECENTER, ISFINANCE, FBTYPE, sysid) values (?,?,?,?,?,?,?,?)"),
                    {code, name, parent.isEmpty() ? QVariant() : QVariant(parent), siteType,
                     financeCenter, finance ? 1 : 0, fbType, k.sysid});
    }
    auto yesNo = [](bool b) { return b ? QStringLiteral("是") : QStringLiteral("否"); };
    k.log(QStringLiteral("tab_Site"), code, editing ? "UPT" : "INS",
          editing ? changes(QStringLiteral("修改网点 %1").arg(code),
                            {change(QStringLiteral("名称"), oldName, name),
                             change(QStringLiteral("上级网点"), oldParent, parent),
                             change(QStringLiteral("级别"), oldType, siteType),
                             change(QStringLiteral("财务中心"), yesNo(oldFinance), yesNo(finance))})
                  : QStringLiteral("新增网点 %1 %2（上级 %3，%4%5）")
                        .arg(code, name, parent.isEmpty() ? QStringLiteral("无") : parent, siteType,
                             finance ? QStringLiteral("，财务中心") : QString()),
          QStringLiteral("SaveSite"));
    return {};
}

QCborMap deleteSite(Call &k, const QCborMap &args)
{
    const QString code = arg(args, "code");
    const QueryResult r = k.q(QStringLiteral("select SiteName from tab_Site where SiteCode=? and sysid=?"),
                              {code, k.sysid});
    if (r.rows.isEmpty())
        refuse(QStringLiteral("网点“%1”不存在，请刷新后重试。").arg(code));
    const QString name = r.rows.first().first().toString();
    if (k.exists(QStringLiteral("select 1 from tab_Site where BELONGSITE=? and sysid=?"), {name, k.sysid}))
        refuse(QStringLiteral("网点“%1”下面还有网点，请先删除或移走它们。").arg(name));
    if (k.exists(QStringLiteral("select 1 from sys_user where SITECODE=? and sysid=?"), {code, k.sysid}))
        refuse(QStringLiteral("网点“%1”还有用户，请先在用户管理中为他们改换网点。").arg(name));
    if (k.exists(QStringLiteral("select 1 from tab_Employee where BELONGSITE=? and sysid=?"), {name, k.sysid}))
        refuse(QStringLiteral("网点“%1”还有员工，不能删除。").arg(name));
    k.c.execute(QStringLiteral("delete from tab_Site where SiteCode=? and sysid=?"), {code, k.sysid});
    k.log(QStringLiteral("tab_Site"), code, "DEL", QStringLiteral("删除网点 %1 %2").arg(code, name),
          QStringLiteral("DeleteSite"));
    return {};
}

// Every administration call with what it needs (server/checks.h); the handlers keep the
// finer rules (no escalation, only dk on 管理员 ...).
struct AdminCall
{
    AdminRule rule;
    QCborMap (*run)(Call &, const QCborMap &);
};

const std::vector<AdminCall> &adminCallTable()
{
    constexpr Guard signedOn{Need::SignedOn, {}, ""};
    auto function = [](const char *f, const char *what) { return Guard{Need::Function, {f, nullptr, nullptr}, what}; };
    auto either = [](const char *f, const char *g, const char *what) { return Guard{Need::Function, {f, g, nullptr}, what}; };
    auto dkOnly = [](const char *what) { return Guard{Need::SuperUser, {}, what}; };
    static const std::vector<AdminCall> calls = {
        {{"MyMenu", signedOn}, myMenu},
        {{"MyRights", signedOn}, myRights},
        {{"ChangePassword", signedOn}, changePassword},
        {{"ListUsers", function(kUsersFunction, "用户管理")}, listUsers},
        {{"AddUser", function(kUsersFunction, "新增用户")}, addUserCall},
        {{"UpdateUser", function(kUsersFunction, "修改用户")}, updateUser},
        {{"SetUserEnabled", function(kUsersFunction, "停用或启用用户")}, setEnabled},
        {{"ResetPassword", function(kUsersFunction, "重置密码")}, resetPassword},
        {{"ListRoles", either(kRolesFunction, kUsersFunction, "查看角色")}, listRoles},
        {{"SaveRole", function(kRolesFunction, "修改角色")}, saveRole},
        {{"DeleteRole", function(kRolesFunction, "删除角色")}, deleteRole},
        {{"ListMenu", either(kRolesFunction, kMenuFunction, "查看菜单")}, listMenu},
        {{"SaveMenu", dkOnly("修改菜单")}, saveMenu},
        {{"ListDeployments", dkOnly("选择部署")}, listDeployments},
        {{"ListSites", either(kSitesFunction, kUsersFunction, "查看网点")}, listSites},
        {{"SaveSite", function(kSitesFunction, "修改网点")}, saveSite},
        {{"DeleteSite", function(kSitesFunction, "删除网点")}, deleteSite},
    };
    return calls;
}

} // namespace

std::vector<AdminRule> adminRules()
{
    std::vector<AdminRule> out;
    for (const AdminCall &c : adminCallTable())
        out.push_back(c.rule);
    return out;
}

QString passwordWeakness(const QString &user, const QString &password)
{
    bool letter = false;
    bool digit = false;
    for (QChar ch : password) {
        letter = letter || ch.isLetter();
        digit = digit || ch.isDigit();
    }
    if (password.size() < 8 || !letter || !digit)
        return QStringLiteral("密码太简单：至少8位，并且同时包含字母和数字。");
    if (password.size() > 128)
        return QStringLiteral("密码太长：最多128位。");
    const QString name = user.mid(user.indexOf(u'.') + 1);
    if (!name.isEmpty() && password.contains(name, Qt::CaseInsensitive))
        return QStringLiteral("密码不能包含用户名。");
    return QString();
}

QCborMap callAdmin(Backend &backend, const SessionInfo &session, const QString &call,
                   const QCborMap &args, const QString &clientAddress)
{
    // Texts that a backend would not store as sent are refused before anything is written.
    const std::function<void(const QCborValue &)> checkTexts = [&checkTexts](const QCborValue &v) {
        if (v.isString() && !isStorableText(v.toString()))
            throw ServerError(400, unstorableTextMessage(QStringLiteral("输入的文字")));
        if (v.isArray())
            for (const QCborValue &item : v.toArray())
                checkTexts(item);
        if (v.isMap()) {
            const QCborMap map = v.toMap();
            for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
                checkTexts(it.key());
                checkTexts(it.value());
            }
        }
    };
    checkTexts(QCborValue(args));
    if (!isStorableText(call))
        throw ServerError(400, unstorableTextMessage(QStringLiteral("管理功能名")));
    auto conn = backend.acquireForServer();
    // The super administrator may work on any deployment; everybody else on their own.
    QString sysid = session.sysid;
    const QString asked = args.value(QLatin1String("sysid")).toString().trimmed();
    if (!asked.isEmpty() && asked != sysid) {
        if (!isSuperUser(session.user))
            throw ServerError(403, QStringLiteral("只能管理本部署（%1）的数据。").arg(sysid));
        sysid = asked;
    }
    Transaction t(*conn);
    Call k{*conn, session, sysid, loadRights(*conn, session.user, session.sysid), clientAddress};
    const QString name = call.trimmed();
    const auto &calls = adminCallTable();
    const auto found = std::find_if(calls.begin(), calls.end(),
                                    [&name](const AdminCall &c) { return name == QLatin1String(c.rule.name); });
    if (found == calls.end())
        throw ServerError(404, QStringLiteral("服务器不认识管理功能“%1”，请升级程序。").arg(call),
                          QStringLiteral("unknown administration call %1").arg(call));
    // The call's rule, checked here and nowhere else (server/checks.h).
    checkGuard(found->rule.guard, k.rights);
    const QCborMap out = found->run(k, args);
    t.commit();
    return out;
}

} // namespace server
