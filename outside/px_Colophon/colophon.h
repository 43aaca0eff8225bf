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
// The build moment as the about dialog shows it, "2026-12-08 20:09:11", from the compiler's
// __DATE__ ("Dec  8 2026") and __TIME__.
QString buildStamp(const char *date, const char *time);
Lines databaseLines();

// Builds the dialog (caller owns it).
QDialog *makeDialog(const QString &title, const Lines &lines);

void execute(const QString &function);

} // namespace colophon
