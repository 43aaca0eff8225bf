#pragma once
// px_Colophon: the two about dialogs.
//   fAbort      "关于本系统": program title and version, toolkit and build.
//   fAbortData  "关于数据库": application server address, session, deployment key and the
//               server's clock (offline: the cached log-on only).

#include <QList>
#include <QPair>
#include <QString>

class QDialog;

namespace colophon {

using Lines = QList<QPair<QString, QString>>;

Lines programLines();
Lines databaseLines();

// Builds the dialog (caller owns it).
QDialog *makeDialog(const QString &title, const Lines &lines);

void execute(const QString &function);

} // namespace colophon
