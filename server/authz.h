#pragma once

#include "dataaccess/packet/datapacket.h"
#include "server/sql/backend.h"
#include "server/tables.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

namespace server {

class Connection;
struct SessionInfo;

// Roles and grants of a deployment (docs/roles.md):
//   sys_role       (ROLENAME, REMARK, sysid)            the roles
//   sys_rolegrant  (ROLENAME, FUNCNAME, sysid)          menu functions a role grants
//   sys_userrole   (USERCODE, ROLENAME, sysid)          roles of a user
//   sys_role.ROWSCOPE                                   "" every row of the tables the role
//                                                       grants, "SITE" / "CENTRE" only the
//                                                       rows of the user's site / finance
//                                                       centre in the scoped tables
//   sys_functable  (FUNCNAME, TABLENAME, OPS, sysid)    tables a function may read and
//                                                       write, OPS a subset of "RIUD";
//                                                       FUNCNAME "*" holds what every user
//                                                       of the deployment may read and
//                                                       write (lookups, notices, read
//                                                       receipts)
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
    QHash<QString, QString> ops; // upper-case table name -> granted operations ("RIUD")
    // Upper-case readable table -> the rows the user sees of it (None: all of the
    // deployment's); a table read through several roles gets the widest of their scopes.
    QHash<QString, RowScopeKind> readScope;
    // Upper-case tables whose update some grant gives for every column; the others that
    // the registry limits (server/tables.h) are updated in their fee columns only.
    QSet<QString> wholeUpdate;
    // Upper-case notice tables read only through what everybody may read: of them the user
    // sees his own notices (those addressed to his site or to him, or published by him).
    QSet<QString> ownNoticesOnly;
    qint64 tokenGeneration = -1; // the generation these rights were read for (cache)

    // The only columns an update of `table` may change; empty: every column.
    QStringList updatableColumns(const QString &table) const;

    bool hasFunction(const QString &function) const
    {
        return superUser || functions.contains(function);
    }
    // op: 'R' read, 'I' insert, 'U' update, 'D' delete.
    bool mayWrite(const QString &table, QChar op) const;
    bool mayRead(const QString &table) const
    {
        return superUser || readScope.contains(table.toUpper());
    }
};

// What the session's client statements may read: the readable tables, and for a scoped
// one the rows of the session's site (Site) or finance centre (Centre).
ClientScope clientScope(const Rights &rights, const SessionInfo &session);

// The rights of the session's user, read once per user and token generation: every change
// of roles or grants increments the generation of the users it concerns (the next request
// with an older token is refused), so the cached set never outlives a change.
std::shared_ptr<const Rights> sessionRights(Backend &backend, const SessionInfo &session);

// Refuses (403, a text naming the functions that would grant it) a client query that
// names a table the caller may not read. A first line with a clear message: the engine
// refuses the same read whatever the spelling.
void authorizeRead(Backend &backend, const Rights &rights, const QStringList &identifiers,
                   const QString &sysid);

bool isSuperUser(const QString &user);

Rights loadRights(Connection &c, const QString &user, const QString &sysid);

// Refuses (ServerError 403, a text for the user) a write that none of the caller's roles
// grants. ops: the operations that the packet holds for the table.
void authorizeWrite(const Rights &rights, const QString &table, const QString &ops);

// authorizeWrite for ApplyData, with one exception: anyone may delete recipient rows
// (TAB_MSGSITE, TAB_MSGEMP) of a notice whose notice row does not exist (yet), which is how
// a publisher takes back a publication that failed half-way. Then, for a table limited to
// the caller's site or centre, every row touched must be in it; and the columns that say
// who did it (a notice's publisher, a receipt's reader and time) are filled from the
// session, a packet naming someone else refused.
void authorizeApply(Connection &c, const Rights &rights, const QString &table, const QString &ops,
                    quillon::DataPacket &packet, const SessionInfo &session);

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
