#pragma once

#include "server/sql/backend.h"

#include <functional>

namespace server {

// How one backend spells the pieces of the Oracle dialect that the client sends.
struct DialectTarget
{
    QString nvl = QStringLiteral("ifnull");
    QString sysdate = QStringLiteral("wl_sysdate()");
    QString toDate = QStringLiteral("wl_to_date");
    QString toChar = QStringLiteral("wl_to_char");
    QString trunc = QStringLiteral("wl_trunc");
    QString dateArith = QStringLiteral("wl_datearith"); // f(date, '+'|'-', days|date)
    std::function<QString(int)> placeholder = [](int i) { return QStringLiteral("?%1").arg(i); };
};

// Translates the Oracle-dialect subset that the client sends: nvl, to_date, to_char,
// trunc, sysdate with date arithmetic in days, rownum limits, the
// "begin select F(a=>:1, ...) as x from dual; end;" block with named arguments and
// positional parameters :1..:n. Throws DbError on text it cannot translate.
TranslatedSql translateOracle(const QString &oracleSql, const DialectTarget &target);

// Parameter names, in order, of the server functions that accept named arguments.
// Returns nullptr for an unknown function.
const QStringList *functionSignature(const QString &name);

// Oracle's date format models (YYYY, MM, DD, HH24, MI, SS ...), leniently as Oracle
// reads them: punctuation may differ or be missing between fields. Canonical date text
// is "YYYY-MM-DD HH:MM:SS".
bool parseOracleDate(const QString &text, const QString &format, QDateTime *out);
QString formatOracleDate(const QDateTime &value, const QString &format);
QString canonicalDate(const QDateTime &value);
// Canonical or ISO date text ("2026-01-31", "2026-01-31 08:00:00", "2026-01-31T08:00:00").
bool parseCanonicalDate(const QString &text, QDateTime *out);

} // namespace server
