#pragma once
// The names that the operation log holds (tables, columns, kinds of operation) as the
// windows that change those tables show them: the log window shows the captions and keeps
// the technical names beside them.

#include <QString>
#include <QStringList>

namespace tuner {

// The caption of a table ("TAB_ACCOUNT" -> "中心账单"); empty when no window names it.
QString tableCaption(const QString &table);
// The caption of a column of a table ("TAB_ACCOUNT", "WEIGHT" -> "重量"); empty when unknown.
QString columnCaption(const QString &table, const QString &column);
// The log's details with every column name shown as "caption(NAME)": the change list
// "WEIGHT: 1 -> 2; DEST: a -> b" and a deletion's "删除记录: BILLCODE: 1; ...".
QString contentWithCaptions(const QString &table, const QString &content);
// The tables that the server logs whatever SYS_TABLES says: SYS_TABLES itself, the
// parameters, the notices, and the tables of the administration calls.
QStringList loggedAlways();
// The caption of a kind of operation ("UPT" -> "修改"); the code itself when unknown.
QString opTypeCaption(const QString &opType);

} // namespace tuner
