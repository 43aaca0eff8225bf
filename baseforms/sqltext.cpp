#include "baseforms/sqltext.h"

#include <QRegularExpression>

namespace tessera {

QStringList splitLines(const QString &text)
{
    QStringList lines;
    QString current;
    bool pending = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << current;
            current.clear();
            pending = false;
            if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            continue;
        }
        current += c;
        pending = true;
    }
    if (pending)
        lines << current;
    return lines;
}

QString quotedSql(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString FormatSql(const QString &sql, const QString &oldText, const QString &newText)
{
    if (oldText.isEmpty())
        return sql;
    QString result = sql;
    result.replace(oldText, newText, Qt::CaseInsensitive);
    return result;
}

namespace {
// Trim as the platform trims: every character up to the blank counts as white space.
QString trimBlanks(const QString &s)
{
    int b = 0;
    int e = int(s.size());
    while (b < e && s.at(b).unicode() <= 32)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 32)
        --e;
    return s.mid(b, e - b);
}
} // namespace

QString DelSqlComments(const QString &sql)
{
    QString result;
    for (const QString &line : splitLines(sql)) {
        const QString t = trimBlanks(line);
        if (t.isEmpty() || t.startsWith(QStringLiteral("--")))
            continue;
        result += line + QLatin1Char(' ');
    }
    return result;
}

void RemoveParamFromVar(QStringList &list, const QString &name)
{
    for (int i = 0; i < list.size(); ++i) {
        const QString &line = list.at(i);
        const auto eq = line.indexOf(QLatin1Char('='));
        const QString lineName = eq < 0 ? line : line.left(eq);
        if (lineName.compare(name, Qt::CaseInsensitive) == 0) {
            list.removeAt(i);
            return;
        }
    }
}

QString GetBillCodeList(const QStringList &lines)
{
    QString result;
    for (auto i = lines.size() - 1; i >= 0; --i)
        result += quotedSql(lines.at(i)) + QLatin1Char(',');
    if (result.size() < 2)
        return QStringLiteral("'*'");
    result.chop(1);
    return result;
}

} // namespace tessera
