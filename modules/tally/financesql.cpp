#include "modules/tally/financesql.h"

#include <QRegularExpression>
#include <QSet>

#include <cmath>

namespace tally {

QString Q(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

QString dateRangeSql(const QString &column, const QString &from, const QString &to)
{
    return QStringLiteral(" where ") + column + QStringLiteral(" between to_date(") + Q(from)
           + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ") + QStringLiteral(" and to_date(")
           + Q(to) + QStringLiteral(",'YYYY-MM-DD HH24:MI:SS') ");
}

QString conditionSql(const QString &column, const QString &text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral(" and ") + column + QLatin1Char('=') + Q(text);
}

QString signStatusSql(const QString &flagColumn, int item)
{
    if (item == 1)
        return QStringLiteral(" and nvl(") + flagColumn + QStringLiteral(",0)=1 ");
    if (item == 2)
        return QStringLiteral(" and nvl(") + flagColumn + QStringLiteral(",0)=0 ");
    return {};
}

QStringList billCodesOf(const QString &memoText)
{
    QStringList codes;
    QSet<QString> seen;
    for (const QString &line : memoText.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        const QString code = line.trimmed();
        if (code.isEmpty() || seen.contains(code))
            continue;
        seen.insert(code);
        codes << code;
    }
    return codes;
}

QString billCodeSql(const QStringList &codes)
{
    if (codes.isEmpty())
        return {};
    QStringList quoted;
    quoted.reserve(codes.size());
    for (const QString &c : codes)
        quoted << Q(c);
    return QStringLiteral(" and BILLCODE in (") + quoted.join(QLatin1Char(',')) + QStringLiteral(") ");
}

double toDecimal(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

int toInteger(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString lookupCallSql(const QString &function, const QString &billCode, const QString &separator,
                      const QString &sysid, const QString &resultName)
{
    return QStringLiteral("select ") + function + QLatin1Char('(') + Q(billCode) + separator
           + Q(sysid) + QStringLiteral(") as ") + resultName + QStringLiteral(" from dual");
}

QString feeCallSql()
{
    return QStringLiteral(
        " begin select F_CalcJSFee( Pi_FirstSite=>:1,Pi_Dest=>:2,Pi_FeeType=>:3,Pi_PCS=>:4,"
        "Pi_Weight=>:5,Pi_BulkWeight=>:6, Pi_FastType=>:7,Pi_GoodsType=>:8,Pi_SevrType=>:9,"
        "Pi_TransType=>:10,Pi_Finance=>:11, Pi_OpSite=>:12,Pi_CusName=>:13,Pi_ValidTime=>:14,"
        "Pi_sysid=>:15 ) as wResult from dual; end;");
}

QString remarkWithNote(const QString &remark, const QString &note)
{
    if (note.trimmed().isEmpty())
        return remark;
    // The note's lines stay lines (gluing them made "第一行说明第二行"); only the empty lines
    // and blanks around it go. A memo's lines end in "\n" (typed) or "\r\n" (pasted).
    QString n = note.trimmed();
    n.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return remark.isEmpty() ? n : remark + QLatin1Char(';') + n;
}

} // namespace tally
