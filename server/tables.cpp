#include "server/tables.h"

namespace server {

namespace {

const char *const kServerTables[] = {"sys_user", "sys_server", "sys_tenant", "sys_tenantscope",
                                     "sys_filepurge", "sys_fileowner", "sys_role", "sys_rolegrant", "sys_userrole",
                                     "sys_functable", "sys_request", "sys_logonfail", "sys_file",
                                     "sys_filechunk", "sys_tenantreader"};

struct ScopedTable
{
    const char *table;
    const char *siteColumns;   // comma-separated
    const char *centreColumns; // comma-separated
    const char *updatable;     // comma-separated: the fee and refresh columns
};

// A site sees the lines it handled (centre account: the operating station) and the records
// it sent or delivered; a finance centre those booked to it.
// The updatable columns are what the edit windows write: the refresh (neighbour stations,
// destination, sending site, weight, signing site, remark) and the fees.
const ScopedTable kScoped[] = {
    {"TAB_ACCOUNT", "STATIONCODE", "FINANCECENTER",
     "PRIORSTATIONCODE,NEXTSTATIONCODE,DEST,SEND_SITE,WEIGHT,AR_TRANS_FEE,SCANMONEY,AP_SEND_FEE,OTHERCHARGE"},
    {"TAB_DFKRECORD", "FIRSTSITE,SIGNSITE", "FIRSTCENTER,SIGNCENTER", "JZPAYCHARGE,PZGETCHARGE,SIGNSITE,REMARK"},
    {"TAB_DFPFRECORD", "FIRSTSITE,ARRIVESITE,SIGNSITE", "FIRSTCENTER,SIGNCENTER",
     "DEST,FIRSTSITE,WEIGHT,JZPAYMONEY,PZGETMONEY"},
};

const ScopedTable *scopedTable(const QString &table)
{
    for (const ScopedTable &s : kScoped)
        if (table.compare(QLatin1String(s.table), Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

} // namespace

RowScopeKind rowScopeKindOf(const QString &text)
{
    const QString t = text.trimmed().toUpper();
    if (t.isEmpty())
        return RowScopeKind::None;
    if (t == QLatin1String("CENTRE"))
        return RowScopeKind::Centre;
    return RowScopeKind::Site;
}

QString rowScopeText(RowScopeKind kind)
{
    switch (kind) {
    case RowScopeKind::Site:
        return QStringLiteral("SITE");
    case RowScopeKind::Centre:
        return QStringLiteral("CENTRE");
    default:
        return QString();
    }
}

bool isServerTable(const QString &table)
{
    const QString t = table.trimmed().toLower();
    for (const char *name : kServerTables)
        if (t == QLatin1String(name))
            return true;
    return false;
}

bool isServerWrittenTable(const QString &table)
{
    const QString t = table.trimmed().toLower();
    return t == QLatin1String("sys_log") || t == QLatin1String("sys_logchain");
}

QStringList rowScopeColumns(const QString &table, RowScopeKind kind)
{
    const ScopedTable *s = scopedTable(table);
    if (!s || kind == RowScopeKind::None)
        return {};
    return QString::fromLatin1(kind == RowScopeKind::Site ? s->siteColumns : s->centreColumns)
        .split(u',', Qt::SkipEmptyParts);
}

QStringList rowScopedTables()
{
    QStringList out;
    for (const ScopedTable &s : kScoped)
        out.append(QString::fromLatin1(s.table));
    return out;
}

QStringList allRowScopeColumns(const QString &table)
{
    QStringList out = rowScopeColumns(table, RowScopeKind::Site);
    for (const QString &c : rowScopeColumns(table, RowScopeKind::Centre))
        if (!out.contains(c))
            out.append(c);
    return out;
}

bool isNoticeTable(const QString &table)
{
    return noticeTables().contains(table.trimmed(), Qt::CaseInsensitive);
}

QStringList noticeTables()
{
    return {QStringLiteral("TAB_MSGRECORD"), QStringLiteral("TAB_MSGSITE"), QStringLiteral("TAB_MSGEMP"),
            QStringLiteral("TAB_MSGREAD")};
}

QStringList updatableColumns(const QString &table)
{
    const ScopedTable *s = scopedTable(table);
    return s ? QString::fromLatin1(s->updatable).split(u',', Qt::SkipEmptyParts) : QStringList();
}

bool grantsFeeUpdatesOnly(const QString &function)
{
    static const char *const functions[] = {"px_Tally.fcenAccEdt", "px_Tally.fDFKEdt", "px_Tally.fDFPFEdt"};
    for (const char *f : functions)
        if (function.compare(QLatin1String(f), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QStringList columnLimitedTables()
{
    QStringList out;
    for (const ScopedTable &s : kScoped)
        if (*s.updatable)
            out.append(QString::fromLatin1(s.table));
    return out;
}

} // namespace server
