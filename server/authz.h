#pragma once

#include "dataaccess/packet/datapacket.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace server {

class Connection;
struct SessionInfo;

// Roles and grants of a deployment (docs/roles.md):
//   sys_role       (ROLENAME, REMARK, sysid)            the roles
//   sys_rolegrant  (ROLENAME, FUNCNAME, sysid)          menu functions a role grants
//   sys_userrole   (USERCODE, ROLENAME, sysid)          roles of a user
//   sys_functable  (FUNCNAME, TABLENAME, OPS, sysid)    tables a function may write, OPS a
//                                                       subset of "IUD"; FUNCNAME "*" holds
//                                                       what every user of the deployment
//                                                       may write (publishing notices,
//                                                       read receipts)
// The super administrator "dk" keeps every right. Clients can neither read nor write
// these tables: they are changed through the administration calls (server/admin.h).

// Function names that guard the administration calls.
inline constexpr char kUsersFunction[] = "px_Warden.fUsers";
inline constexpr char kRolesFunction[] = "px_Warden.fRole";
inline constexpr char kSitesFunction[] = "px_Warden.fSites";
inline constexpr char kMenuFunction[] = "px_Warden.fConfigMenu";
inline constexpr char kParamFunction[] = "px_Toolbox.fParamSet";

// Functions that a role may grant although the menu need not list them: the
// administration windows and the parameter window of the system menu.
QStringList systemFunctions();

// What a caller may do, read from the database at each request.
struct Rights
{
    bool superUser = false;
    QStringList roles;
    QSet<QString> functions;     // granted FUNCNAMEs
    QHash<QString, QString> ops; // upper-case table name -> granted operations ("IUD")

    bool hasFunction(const QString &function) const
    {
        return superUser || functions.contains(function);
    }
    // op: 'I' insert, 'U' update, 'D' delete.
    bool mayWrite(const QString &table, QChar op) const;
};

bool isSuperUser(const QString &user);

Rights loadRights(Connection &c, const QString &user, const QString &sysid);

// Refuses (ApplyError 403, a text for the user) a write that none of the caller's roles
// grants. ops: the operations that the packet holds for the table.
void authorizeWrite(const Rights &rights, const QString &table, const QString &ops);

// authorizeWrite for ApplyData, with one exception: anyone may delete recipient rows
// (TAB_MSGSITE, TAB_MSGEMP) of a notice whose notice row does not exist (yet), which is how
// a publisher takes back a publication that failed half-way.
void authorizeApply(Connection &c, const Rights &rights, const QString &table, const QString &ops,
                    const quillon::DataPacket &packet, const QString &sysid);

// The entries of the deployment's menu that the user's roles grant, with the groups and
// module headers above them, in POSID order, as the log-on caches them (cdsSysMenu).
quillon::DataPacket grantedMenu(Connection &c, const QString &user, const QString &sysid);

// The tables of roles and grants; called by createSchema before the backend finishes
// the schema, so that they get the same protection as the other server tables.
void createAuthzTables(Connection &c);

// Gives every deployment that has users but no roles yet a role "管理员" with every
// function of its menu, held by all its users, and the standard table rights of the
// functions: an existing database keeps working after the upgrade. Idempotent.
void ensureDefaultRights(Connection &c);

// The standard tables of the known functions (ops "IUD" unless noted) for a deployment,
// when it has none yet.
void seedFunctionTables(Connection &c, const QString &sysid);

// Replaces the roles of a user (names must exist in the deployment); the user's older
// tokens are refused from now on (bumpTokenGeneration), so the change shows at the next
// request.
void setUserRoles(Connection &c, const QString &user, const QString &sysid,
                  const QStringList &roles);

// Tables that hold roles and grants (never readable or writable by clients).
QStringList authzTables();

} // namespace server
