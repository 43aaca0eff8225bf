#pragma once

#include <QString>
#include <QStringList>

namespace server {

// The one registry of the server's tables: which ones clients may never read or write,
// which ones only the server writes, and which columns of a business table carry the site
// or the finance centre a row belongs to (what a role limited to its own site or centre
// may see, docs/roles.md). Everything else that has a sysid column is a business table:
// readable by the roles that grant it, within the caller's deployment.

// Row scope of a role: none, its own site's rows, or its finance centre's rows.
enum class RowScopeKind { None, Site, Centre };

// "" / "SITE" / "CENTRE" as stored in sys_role.ROWSCOPE; an unknown text counts as Site
// (the narrower one: a typo never widens what a role sees).
RowScopeKind rowScopeKindOf(const QString &text);
QString rowScopeText(RowScopeKind kind);

// Tables no client connection reads or writes whatever its SQL says: accounts and their
// password hashes, keys, tenant logins, roles and grants, queued file removals.
bool isServerTable(const QString &table);
// Tables clients read (within their rights) but only the server writes: the operation log.
bool isServerWrittenTable(const QString &table);

// The columns of `table` that carry the row's site (Site) or finance centre (Centre), in
// the case the schema declares them; empty when the table is not limited by that scope.
QStringList rowScopeColumns(const QString &table, RowScopeKind kind);
// Every table that declares such columns, and all the columns of one (both kinds).
QStringList rowScopedTables();
QStringList allRowScopeColumns(const QString &table);

// The notice tables (notices, their site and employee recipients, read receipts). What
// every user may read of them is limited to his own notices: those addressed to his site or
// to him, and those he published, with their recipients and read receipts; a role's grant
// of such a table (notice management) reads all of the deployment's rows. Each backend
// holds the condition in its engine (SQLite: the filter views; PostgreSQL: row policies).
bool isNoticeTable(const QString &table);
QStringList noticeTables();

// The columns of a finance table that the finance windows change (the fees and the values
// their refresh fills in): the only ones that the update right of a finance edit function
// covers; empty when the table's updates are not limited by column.
QStringList updatableColumns(const QString &table);
// The finance edit functions (px_Tally.fcenAccEdt, fDFKEdt, fDFPFEdt): their update right
// covers the updatable columns only. An update granted by any other function (one the menu
// editor gives the table with U) covers every column.
bool grantsFeeUpdatesOnly(const QString &function);
// The tables whose updates are limited so.
QStringList columnLimitedTables();

} // namespace server
