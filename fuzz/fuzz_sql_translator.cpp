// The Oracle-dialect translator as every client query passes it, for both backends'
// spellings, and the date format models of to_date/to_char. Text it cannot translate is
// refused with DbError; nothing else may escape and nothing crash.
#include "harness.h"

#include "server/sql/oracledialect.h"

#include <QCoreApplication>
#include <QDateTime>

using namespace server;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));
    DialectTarget sqlite;
    DialectTarget pg;
    pg.nvl = QStringLiteral("coalesce");
    pg.placeholder = [](int i) { return QStringLiteral("$%1").arg(i); };
    for (const DialectTarget *target : {&sqlite, &pg}) {
        try {
            translateOracle(text, *target);
        } catch (const DbError &) {
        }
    }
    // Date text and format model, split at the first newline.
    const qsizetype cut = text.indexOf(u'\n');
    const QString value = cut < 0 ? text : text.left(cut);
    const QString format = cut < 0 ? QStringLiteral("YYYY-MM-DD HH24:MI:SS") : text.mid(cut + 1);
    QDateTime dt;
    if (parseOracleDate(value, format, &dt)) {
        if (!dt.isValid())
            fuzz::fault(); // success must give a date
        formatOracleDate(dt, format);
        canonicalDate(dt);
    }
    parseCanonicalDate(value, &dt);
    return 0;
}
