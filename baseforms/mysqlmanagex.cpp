#include "baseforms/mysqlmanagex.h"

#include "baseforms/sqltext.h"
#include "host/errors.h"

namespace tessera {

TMySqlManageX::TMySqlManageX(QObject *owner)
    : QObject(owner)
{}

QString TMySqlManageX::GetSql(int sqlIndex) const
{
    if (sqlIndex < 1 || sqlIndex > 5)
        throw host::UserError(QStringLiteral("SQL索引[%1]超出范围,最值为1-5!").arg(sqlIndex));
    const QStringList lines = splitLines(m_sql[sqlIndex - 1]);
    if (lines.isEmpty())
        throw host::UserError(QStringLiteral("SQL索引[%1]未定义!").arg(sqlIndex));
    QString result;
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(QStringLiteral("--")))
            continue;
        result += line + QLatin1Char(' ');
    }
    return result;
}

} // namespace tessera
