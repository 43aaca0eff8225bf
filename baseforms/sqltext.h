#pragma once

#include <QString>
#include <QStringList>

namespace tessera {

// Lines of a text as a string list splits it: at CR LF, CR or LF; a final line break adds
// no empty line.
QStringList splitLines(const QString &text);

// The text as an SQL string literal: single quotes, inner quotes doubled.
QString quotedSql(const QString &text);

// `sql` with every occurrence of `oldText` replaced by `newText`, letters compared without
// regard to case.
QString FormatSql(const QString &sql, const QString &oldText, const QString &newText);

// Drops the lines that are empty or begin with "--" after trimming; every kept line is
// appended untrimmed and followed by one blank.
QString DelSqlComments(const QString &sql);

// Deletes the line named `name` (compared without regard to case) from a name=value list.
void RemoveParamFromVar(QStringList &list, const QString &name);

// The lines as a list for an SQL "in" clause, last line first: 'B2','A1'. No lines give
// '*'; an empty line gives ''.
QString GetBillCodeList(const QStringList &lines);

} // namespace tessera
